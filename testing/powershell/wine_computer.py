#!/usr/bin/env python3
"""Starts a wrenfold.exe under Wine on a staged computer, for the module's
tests: the module's launcher (its $script:Launcher, set by the tests).

  wine_computer.py HELPERS WORK_DIR EXE [ARGUMENT ...]

The computer is the scenario file named by WRENFOLD_PS_COMPUTER, which each
test session sets for itself: its prefix is staged afresh by the scenario
runner's Wine runner (in WORK_DIR/runs, named after the scenario's folder
and file) and EXE runs in it with the ARGUMENTs the module gave, in place of
the scenario's own. The report goes to standard output as the exe wrote it
and the exe's exit code is this script's. Each run appends its start and end
(Unix seconds) to the scenario's <name>.runs beside it.
"""

import os
import pathlib
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "testing" / "scenarios"))
from scenario_runner import load, wine_run  # noqa: E402

ARGV0 = "C:\\Tools\\wrenfold.exe"


def main(argv):
    helpers, work_dir, exe, arguments = argv[0], argv[1], argv[2], argv[3:]
    path = os.environ.get("WRENFOLD_PS_COMPUTER")
    if not path:
        print("wine_computer: WRENFOLD_PS_COMPUTER names no scenario", file=sys.stderr)
        return 255
    scenario = load.load_scenario(path)
    scenario["arguments"] = arguments
    started = time.time()
    stdout, code = wine_run.run_wine(scenario, path, exe, ARGV0, helpers, work_dir, 300)[:2]
    with open(os.path.splitext(path)[0] + ".runs", "a") as f:
        f.write(f"{started} {time.time()}\n")
    sys.stdout.buffer.write(stdout)
    sys.stdout.buffer.flush()
    if not 0 <= code <= 255:
        # A process here carries 8 bits of its exit code: the tests keep to
        # computers whose codes fit rather than pass on a wrong one.
        print(f"wine_computer: exit code {code} does not fit a Unix exit status",
              file=sys.stderr)
        return 255
    return code


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

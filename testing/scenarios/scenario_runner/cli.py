"""Runs one scenario file (docs/SCENARIOS.md) on one runner.

  run_scenario.py --runner native --native-exe build/native/wrenfold SCENARIO
  run_scenario.py --runner wine --wine-exe build/win/wrenfold.exe \
      --wine-helpers build/native/testing/wine --work-dir build/native/scenario-work SCENARIO

native: the native wrenfold over the simulation staged from the scenario.
wine:   the real wrenfold.exe in a fresh Wine prefix staged from the scenario,
        with the scenario's clock (libfaketime) and time zone (TZ).

Exit status: 0 when every expectation holds, 1 when one does not (or the
scenario cannot be run), 77 when the scenario does not name this runner.
"""

import argparse
import contextlib
import os
import shutil
import signal
import subprocess
import sys
import tempfile

from . import ScenarioError
from .compare import check_expectations
from .load import expected_stdout, load_scenario
from .native import run_native
from .wine_run import run_wine

SKIPPED = 77
FAILED = 1

DEFAULT_LOCAL_NAME = "PC01"

# Each program is started under the name it has on the simulated computer.
PROGRAMS = {
    "wrenfold": {"argv0": "C:\\Tools\\wrenfold.exe", "file": "wrenfold.exe"},
    "probe": {"argv0": "C:\\Tools\\wfprobe.exe", "file": "wfprobe.exe"},
}

RUN_TIMEOUT_SECONDS = 90


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("scenario")
    parser.add_argument("--runner", choices=["native", "wine"], required=True)
    parser.add_argument("--native-exe", help="the native wrenfold")
    parser.add_argument("--native-probe", help="the native wfprobe")
    parser.add_argument("--wine-exe", help="wrenfold.exe")
    parser.add_argument("--wine-probe", help="wfprobe.exe")
    parser.add_argument("--wine-helpers", help="folder with wfstage.exe and userenv.dll")
    parser.add_argument("--work-dir", help="folder for the Wine template and the runs "
                        "(default: a temporary folder)")
    parser.add_argument("--timeout", type=float, default=RUN_TIMEOUT_SECONDS)
    options = parser.parse_args(argv)
    shown = options.scenario  # reports name the scenario as it was given
    # Wine wants absolute paths (WINEPREFIX), and the runs change folders:
    # every path given is made absolute before anything else.
    for name in ("scenario", "native_exe", "native_probe", "wine_exe", "wine_probe",
                 "wine_helpers", "work_dir"):
        if getattr(options, name):
            setattr(options, name, os.path.abspath(getattr(options, name)))

    path = options.scenario
    # A stopped test still ends its Wine server (the finally clauses run).
    signal.signal(signal.SIGTERM, lambda number, frame: sys.exit(128 + number))
    try:
        scenario = load_scenario(path)
        runners = scenario.get("runners", ["native", "wine"])
        if options.runner not in runners:
            print(f"skipped: {shown} runs on {', '.join(runners)} only")
            return SKIPPED
        program = scenario.get("program", "wrenfold")
        if program not in PROGRAMS:
            raise ScenarioError(f"unknown program {program!r}")
        argv0 = PROGRAMS[program]["argv0"]
        expected, out_path = expected_stdout(scenario, path)
        with contextlib.ExitStack() as stack:
            work_dir = options.work_dir or stack.enter_context(tempfile.TemporaryDirectory())
            os.makedirs(work_dir, exist_ok=True)
            if options.runner == "native":
                program_file = options.native_probe if program == "probe" else options.native_exe
                if not program_file or not os.path.isfile(program_file):
                    raise ScenarioError(f"the native {program} program {program_file or ''} "
                                        "was not given or is not built")
                stdout, exit_code, state, errors = run_native(
                    scenario, path, program_file, argv0, work_dir, options.timeout)
                computer_name = (scenario.get("local") or {}).get("name", DEFAULT_LOCAL_NAME)
                scratch = None
            else:
                program_file = options.wine_probe if program == "probe" else options.wine_exe
                if not program_file or not os.path.isfile(program_file):
                    raise ScenarioError(f"the Windows {program} program {program_file or ''} "
                                        "was not given or is not built")
                if not options.wine_helpers or not os.path.isfile(
                        os.path.join(options.wine_helpers, "wfstage.exe")):
                    raise ScenarioError("the Wine helpers (wfstage.exe, userenv.dll) are not built")
                stdout, exit_code, state, errors, computer_name, scratch = run_wine(
                    scenario, path, program_file, argv0, options.wine_helpers, work_dir,
                    options.timeout)
            problems = check_expectations(scenario, out_path, expected, stdout, exit_code, state,
                                          computer_name)
            if not problems:
                if scratch:
                    shutil.rmtree(scratch, ignore_errors=True)
                print(f"passed: {shown} ({options.runner})")
                return 0
            print(f"FAILED: {shown} ({options.runner})")
            for problem in problems:
                print(problem)
            if scratch:
                print(f"(the Wine prefix and the output are kept in {scratch})")
            if errors.strip():
                print("standard error of the run:\n" + errors.rstrip())
            return FAILED
    except (ScenarioError, OSError, subprocess.SubprocessError) as problem:
        print(f"FAILED: {shown} ({options.runner}): {problem}")
        return FAILED


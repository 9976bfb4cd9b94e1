#!/usr/bin/env python3
"""The report fixtures of tests/contrib/reports: real reports of the scenario
runner's runs, which both report readers (contrib/wrenfold_summary.py and the
PowerShell module's ConvertFrom-WrenfoldReport) are held to, with the rows
both must read from them in expected.json.

  make_reports.py path/to/wrenfold.exe path/to/helpers path/to/native/wrenfold [OUT_DIR]

writes the reports afresh into OUT_DIR (default tests/contrib/reports):
<name>.log and exit-codes.txt. tests/contrib/test_summary.py makes them
again on every run and compares them with the checked-in ones.
"""

import os
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "testing" / "scenarios"))
from scenario_runner import load, native, wine_run  # noqa: E402

FIXTURES = ROOT / "tests" / "contrib" / "reports"
WINE_RUNS = {"demo": "testing/demo/computer.json",
             "failed": "tests/scenarios/walk/delete-failed.json",
             "unexpected": "tests/scenarios/walk/unexpected-profiles.json",
             "shares": "tests/scenarios/walk/remote-unreachable-share.json"}
# A run whose second deletion raises an access violation.
CUT_SHORT = {
    "arguments": ["/MIN:30", "/y"],
    "local": {"profiles": [
        {"sid": "S-1-5-21-1-1-1-1001", "path": "C:\\Users\\Ann", "hive": "-40d"},
        {"sid": "S-1-5-21-1-1-1-1002", "path": "C:\\Users\\Bob", "hive": "-40d"}]},
    "faults": [{"call": "DeleteProfile", "occurrence": 2, "exception": "accessViolation"}],
}
NOT_RUN = "pc99 not run (unreachable or failed before the run)\n"
# Under Wine the free space is that of the disk the prefix is on.
FREE_SPACE = re.compile(rb"(Free Disk Space (?:Before| After)=)[0-9]+( MB)")


def make(exe, helpers, native_exe, work):
    """name -> (report bytes, exit code as a signed 32-bit number)."""
    argv0 = "C:\\Tools\\wrenfold.exe"
    reports = {}
    for name, path in WINE_RUNS.items():
        path = str(ROOT / path)
        reports[name] = wine_run.run_wine(load.load_scenario(path), path, exe, argv0,
                                          helpers, work, 300)[:2]
    reports["cut"] = native.run_native(load.expanded(CUT_SHORT), "cut.json", native_exe,
                                       argv0, work, 60)[:2]
    # A report cut off in the middle of a block, one with a line no report
    # holds, and one that is not a report.
    failed = reports["failed"][0]
    reports["torn"] = failed[:failed.index(b"Action=", failed.index(b"[C:\\Users\\Bob"))], 5
    demo = reports["demo"][0]
    reports["foreign"] = demo.replace(b"Action=Skipping (In use)",
                                      b"Disk 'C:' said \"later\"\tand \xe9\x01", 1), 0
    reports["junk"] = b"\r\nThe system cannot find the file specified.\r\n", 1
    return {name: (stdout, code if code < 0x80000000 else code - (1 << 32))
            for name, (stdout, code) in reports.items()}


def write(reports, out_dir):
    out_dir = pathlib.Path(out_dir)
    out_dir.mkdir(parents=True, exist_ok=True)
    codes = NOT_RUN
    for name, (stdout, code) in sorted(reports.items()):
        (out_dir / f"{name}.log").write_bytes(stdout)
        codes += f"{name} {code}\n"
    (out_dir / "exit-codes.txt").write_text(codes)


def masked(report):
    """REPORT with its free-space figures replaced: what two runs share."""
    return FREE_SPACE.sub(rb"\1N\2", report)


if __name__ == "__main__":
    import tempfile
    built = [os.path.abspath(p) for p in sys.argv[1:4]]
    with tempfile.TemporaryDirectory() as scratch:
        write(make(*built, scratch), sys.argv[4] if len(sys.argv) > 4 else FIXTURES)

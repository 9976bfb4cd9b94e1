#!/usr/bin/env python3
"""Checks of the fleet summary (contrib/wrenfold_summary.py) over reports of
real runs, under Wine and on the simulation (Wine cannot inject an exception),
and of the playbook's summary step run against localhost.

  test_summary.py path/to/wrenfold.exe path/to/helpers path/to/native/wrenfold
"""

import csv
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "contrib"))
sys.path.insert(0, str(ROOT / "testing" / "scenarios"))
import wrenfold_summary  # noqa: E402
from scenario_runner import load, native, wine_run  # noqa: E402

BUILT = sys.argv[1:4] if __name__ == "__main__" and len(sys.argv) >= 4 else None
if BUILT:
    del sys.argv[1:4]
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


def rows(path):
    with open(path, newline="", encoding="utf-8") as f:
        return list(csv.DictReader(f))


@unittest.skipUnless(BUILT and shutil.which("wine"), "wrenfold.exe, helpers or Wine missing")
class FleetSummary(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        exe, helpers, native_exe = (os.path.abspath(p) for p in BUILT)
        cls.work = cls.enterClassContext(tempfile.TemporaryDirectory())
        argv0 = "C:\\Tools\\wrenfold.exe"
        reports = {}
        for name, path in WINE_RUNS.items():
            path = str(ROOT / path)
            reports[name] = wine_run.run_wine(load.load_scenario(path), path, exe, argv0,
                                              helpers, cls.work, 300)[:2]
        reports["cut"] = native.run_native(load.expanded(CUT_SHORT), "cut.json", native_exe,
                                           argv0, cls.work, 60)[:2]
        # A report cut off in the middle of a block, and one that is not a report.
        failed = reports["failed"][0]
        reports["torn"] = failed[:failed.index(b"Action=", failed.index(b"[C:\\Users\\Bob"))], 5
        reports["junk"] = b"\r\nThe system cannot find the file specified.\r\n", 1
        cls.logs = pathlib.Path(cls.work, "logs")
        cls.logs.mkdir()
        codes = "pc99 not run (unreachable or failed before the run)\n"
        for name, (stdout, code) in reports.items():
            (cls.logs / f"{name}.log").write_bytes(stdout)
            codes += f"{name} {code if code < 0x80000000 else code - (1 << 32)}\n"
        (cls.logs / "exit-codes.txt").write_text(codes)
        cls.out = pathlib.Path(cls.work, "csv")
        assert wrenfold_summary.main([str(cls.logs), "--out-dir", str(cls.out)]) == 0
        cls.computers = {row["computer"]: row for row in rows(cls.out / "computers.csv")}
        cls.profiles = rows(cls.out / "profiles.csv")

    def test_every_computer_has_a_row_with_its_counts_or_why_it_has_none(self):
        # A run over a list of computers: shares not reached, then failures before the walk.
        early = ["1326", "0", "0"]
        fields = ("exit_code", "profiles_enumerated", "profiles_deleted", "note")
        self.assertEqual({name: [row[f] for f in fields] for name, row in self.computers.items()}, {
            "demo": ["1223", "7", "0", ""],
            "failed": ["5", "5", "1", ""],
            "unexpected": ["0", "17", "10", ""],
            "PC08": ["1326", "3", "0", ""], "PC09": ["1326", "1", "0", ""],
            "PC10": ["1326", "1", "0", ""],
            "PC11": early + [r'Failed to query "\\PC11\HKLM\Software\Microsoft\Windows NT'
                             r'\CurrentVersion\CurrentBuildNumber", an invalid registry type'
                             ' (4) was found.'],
            "PC12": early + [r'Failed to open "HKLM\Software\Microsoft\Windows NT'
                             r'\CurrentVersion\ProfileList", system error 2 has occurred.'],
            "PC13": early + ["Error 1722 opening \\\\PC13\\PIPE\\winreg\\"],
            "cut": ["-1073741819", "2", "1",
                    "the run ended on an exception: free space after not measured"],
            "torn": ["5", "", "", "report not read: no action for C:\\Users\\Bob\\: "
                                  "the report ends early"],
            "junk": ["1", "", "", "report not read: no banner: not a report of wrenfold.exe"],
            "pc99": ["", "", "", "not run (unreachable or failed before the run)"],
        })
        # Free space: before every run (the simulation's disk has 10240 MB), after one that ends.
        self.assertEqual(self.computers["cut"]["free_mb_before"], "10240")
        for name, row in self.computers.items():
            if name not in ("cut", "torn", "junk", "pc99"):
                self.assertEqual(int(row["reclaimed_mb"]),
                                 int(row["free_mb_after"]) - int(row["free_mb_before"]))

    def test_profiles_carry_their_computer_action_and_the_error_of_a_failed_deletion(self):
        self.assertEqual({p["computer"] for p in self.profiles},
                         {"cut", "demo", "failed", "unexpected", "PC08", "PC09", "PC10"})
        self.assertEqual([(p["folder"], p["modified"] != "", p["age_days"], p["action"],
                           p["error"]) for p in self.profiles if p["computer"] == "failed"], [
            ("C:\\Users\\Ann\\", True, "40", "Deleting", "5"),
            ("C:\\Users\\Bob\\", True, "50", "Deleting", "87"),
            ("C:\\Users\\Vault\\", False, "", "Skipping (Date)", ""),
            ("C:\\Users\\Locked\\", True, "40", "Deleting", "5"),
            ("C:\\Users\\Old\\", True, "40", "Deleting", "")])

    @unittest.skipUnless(shutil.which("ansible-playbook"), "Ansible missing")
    def test_the_playbook_summary_step_writes_the_same_files(self):
        inventory = pathlib.Path(self.work, "inventory.ini")
        inventory.write_text("[wrenfold_targets]\nlocalhost ansible_connection=local "
                             f"ansible_python_interpreter={sys.executable}\n")
        done = subprocess.run(["ansible-playbook", "-i", inventory, "--tags", "summary",
                               ROOT / "contrib" / "ansible" / "wrenfold-fleet.yml",
                               "-e", f"wrenfold_log_dir={self.logs}"],
                              capture_output=True, text=True, timeout=300)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        for name in ("computers.csv", "profiles.csv"):
            self.assertEqual(rows(self.logs / name), rows(self.out / name))

if __name__ == "__main__":
    unittest.main()

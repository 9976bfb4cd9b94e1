#!/usr/bin/env python3
"""Checks of the fleet summary (contrib/wrenfold_summary.py) over reports
that wrenfold.exe writes.

  test_summary.py path/to/wrenfold.exe path/to/helpers path/to/native/wrenfold

The reports come from real runs: under Wine for the demo's computer, a
failed deletion, shares that cannot be reached and paths too long; on the
simulation for a run cut short by an exception (Wine cannot inject one).
The playbook's summary step then runs for real against localhost over the
same folder.
"""

import copy
import csv
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
sys.path.insert(0, os.path.join(ROOT, "contrib"))
sys.path.insert(0, os.path.join(ROOT, "testing", "scenarios"))
import wrenfold_summary  # noqa: E402
from scenario_runner import load, native, wine_run  # noqa: E402

BUILT = sys.argv[1:4] if __name__ == "__main__" and len(sys.argv) >= 4 else None
if BUILT:
    del sys.argv[1:4]
SCENARIOS = os.path.join(ROOT, "tests", "scenarios")
ARGV0 = "C:\\Tools\\wrenfold.exe"
# A run whose second deletion raises an access violation.
CUT_SHORT = {
    "arguments": ["/MIN:30", "/y"],
    "local": {"profiles": [{"sid": "S-1-5-21-1-1-1-1001", "path": "C:\\Users\\Ann", "hive": "-40d"},
                           {"sid": "S-1-5-21-1-1-1-1002", "path": "C:\\Users\\Bob", "hive": "-40d"}]},
    "faults": [{"call": "DeleteProfile", "occurrence": 2, "exception": "accessViolation"}],
    "expect": {"exit": 0},
}


def rows(path):
    with open(path, newline="", encoding="utf-8") as f:
        return list(csv.DictReader(f))


@unittest.skipUnless(BUILT and shutil.which("wine"), "wrenfold.exe, helpers or Wine missing")
class FleetSummary(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        exe, helpers, native_exe = (os.path.abspath(p) for p in BUILT)
        cls.work = tempfile.TemporaryDirectory()
        cls.logs = os.path.join(cls.work.name, "logs")
        os.makedirs(cls.logs)
        codes = []

        def keep(name, stdout, code):
            with open(os.path.join(cls.logs, name + ".log"), "wb") as f:
                f.write(stdout)
            codes.append(f"{name} {code if code < 0x80000000 else code - (1 << 32)}\n")

        for name, path in [("demo", os.path.join(ROOT, "testing", "demo", "computer.json")),
                           ("failed", os.path.join(SCENARIOS, "walk", "delete-failed.json")),
                           ("shares", os.path.join(SCENARIOS, "walk",
                                                   "remote-unreachable-share.json")),
                           ("long", os.path.join(SCENARIOS, "walk", "path-too-long.json"))]:
            stdout, code, *_ = wine_run.run_wine(load.load_scenario(path), path, exe, ARGV0,
                                                 helpers, cls.work.name, 300)
            keep(name, stdout, code)
        stdout, code, *_ = native.run_native(load.expanded(copy.deepcopy(CUT_SHORT)), "cut.json",
                                             native_exe, ARGV0, cls.work.name, 60)
        keep("cut", stdout, code)
        # A report cut off in the middle of a block, and one that is not a report.
        with open(os.path.join(cls.logs, "failed.log"), "rb") as f:
            whole = f.read()
        with open(os.path.join(cls.logs, "torn.log"), "wb") as f:
            f.write(whole[:whole.index(b"Action=", whole.index(b"[C:\\Users\\Bob"))])
        with open(os.path.join(cls.logs, "junk.log"), "wb") as f:
            f.write(b"\r\nThe system cannot find the file specified.\r\n")
        codes += ["torn 5\n", "junk 1\n", "pc99 not run (unreachable or failed before the run)\n"]
        with open(os.path.join(cls.logs, "exit-codes.txt"), "w") as f:
            f.writelines(codes)
        cls.out = os.path.join(cls.work.name, "csv")
        assert wrenfold_summary.main([cls.logs, "--out-dir", cls.out]) == 0
        cls.computers = {row["computer"]: row for row in rows(os.path.join(cls.out,
                                                                          "computers.csv"))}
        cls.profiles = rows(os.path.join(cls.out, "profiles.csv"))

    @classmethod
    def tearDownClass(cls):
        cls.work.cleanup()

    def counts(self, name):
        row = self.computers[name]
        return [row[k] for k in ("exit_code", "profiles_enumerated", "profiles_deleted", "note")]

    def test_every_computer_has_its_row_with_the_report_counts(self):
        self.assertEqual(sorted(self.computers, key=str.lower),
                         ["cut", "demo", "failed", "junk", "long", "PC08", "PC09", "PC10",
                          "pc99", "torn"])
        self.assertEqual(self.counts("demo"), ["1223", "7", "0", ""])
        self.assertEqual(self.counts("failed"), ["5", "5", "2", ""])
        self.assertEqual(self.counts("long"), ["0", "7", "4", ""])
        # A run over a list gives a row per computer of its summaries.
        self.assertEqual([self.counts(n) for n in ("PC08", "PC09", "PC10")],
                         [["1326", "3", "0", ""]] * 3)
        for name in ("demo", "failed", "long", "PC08"):
            row = self.computers[name]
            self.assertEqual(int(row["reclaimed_mb"]),
                             int(row["free_mb_after"]) - int(row["free_mb_before"]))

    def test_what_cannot_be_read_gives_a_note_and_no_counts(self):
        for name, note in [("torn", "report not read: no action for C:\\Users\\Bob\\"),
                           ("junk", "report not read: no banner"),
                           ("pc99", "not run (unreachable")]:
            row = self.computers[name]
            self.assertTrue(row["note"].startswith(note), row)
            self.assertEqual([row[k] for k in ("profiles_enumerated", "profiles_deleted",
                                               "free_mb_after", "reclaimed_mb")], [""] * 4)
        # An exception leaves the counts of what was done, not the free space.
        cut = self.computers["cut"]
        self.assertEqual(self.counts("cut")[:3], ["-1073741819", "2", "1"])
        self.assertEqual([cut["free_mb_after"], cut["reclaimed_mb"]], ["", ""])
        self.assertIn("exception", cut["note"])

    def test_profiles_carry_their_action_and_the_error_of_a_failed_deletion(self):
        failed = [(p["folder"], p["modified"] != "", p["age_days"], p["action"], p["error"])
                  for p in self.profiles if p["computer"] == "failed"]
        self.assertEqual(failed, [
            ("C:\\Users\\Ann\\", True, "40", "Deleting", "5"),
            ("C:\\Users\\Bob\\", True, "50", "Deleting", ""),
            ("C:\\Users\\Vault\\", False, "", "Skipping (Date)", ""),
            ("C:\\Users\\Locked\\", True, "40", "Deleting", "5"),
            ("C:\\Users\\Old\\", True, "40", "Deleting", "")])
        shares = {p["action"] for p in self.profiles if p["computer"] == "PC08"}
        self.assertEqual(shares, {"Skipping (Unreachable, error 53)"})
        self.assertIn("Skipping (Path too long)",
                      {p["action"] for p in self.profiles if p["computer"] == "long"})

    @unittest.skipUnless(shutil.which("ansible-playbook"), "Ansible missing")
    def test_the_playbook_summary_step_writes_the_same_files(self):
        inventory = os.path.join(self.work.name, "inventory.ini")
        with open(inventory, "w") as f:
            f.write("[wrenfold_targets]\nlocalhost ansible_connection=local "
                    f"ansible_python_interpreter={sys.executable}\n")
        done = subprocess.run(["ansible-playbook", "-i", inventory, "--tags", "summary",
                               os.path.join(ROOT, "contrib", "ansible", "wrenfold-fleet.yml"),
                               "-e", f"wrenfold_log_dir={self.logs}"],
                              capture_output=True, text=True, timeout=300)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        for name in ("computers.csv", "profiles.csv"):
            self.assertEqual(rows(os.path.join(self.logs, name)),
                             rows(os.path.join(self.out, name)))


if __name__ == "__main__":
    unittest.main()

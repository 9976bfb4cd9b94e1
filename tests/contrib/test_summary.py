#!/usr/bin/env python3
"""Checks of the fleet summary (contrib/wrenfold_summary.py) over the report
fixtures of tests/contrib/reports, which are real runs' reports, under Wine
and on the simulation (Wine cannot inject an exception); the fixtures made
again and compared with the checked-in ones; and the playbook's summary step
run against localhost.

  test_summary.py path/to/wrenfold.exe path/to/helpers path/to/native/wrenfold

The rows every fixture must give are in tests/contrib/reports/expected.json,
in a form both report readers are held to: the PowerShell module's test
(tests/contrib/powershell) checks its ConvertFrom-WrenfoldReport against the
same file.
"""

import csv
import json
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "contrib"))
sys.path.insert(0, str(ROOT / "tests" / "contrib"))
import make_reports  # noqa: E402
import wrenfold_summary  # noqa: E402

BUILT = sys.argv[1:4] if __name__ == "__main__" and len(sys.argv) >= 4 else None
if BUILT:
    del sys.argv[1:4]
FIXTURES = make_reports.FIXTURES


def rows(path):
    with open(path, newline="", encoding="utf-8") as f:
        return list(csv.DictReader(f))


def neutral(computers, profiles):
    """The summary's CSV rows in the form of expected.json: numbers as
    numbers, an empty field or "(Not found)" as null, an action split into
    its verb and the reason in brackets."""
    def number(text):
        return None if text in ("", None, "(Not found)") else int(text)

    def action(text):
        verb, _, reason = text.partition(" (")
        return verb, reason[:-1] if reason else None

    return {
        "computers": sorted(({
            "computer": row["computer"], "exit_code": number(row["exit_code"]),
            **{field: number(row[field]) for field in wrenfold_summary.COMPUTER_FIELDS[2:7]},
            "note": row["note"] or None} for row in computers),
            key=lambda row: row["computer"]),
        "profiles": [{
            "computer": row["computer"], "folder": row["folder"],
            "modified": None if row["modified"] in ("", "(Not found)") else row["modified"],
            "age_days": number(row["age_days"]), "action": action(row["action"])[0],
            "reason": action(row["action"])[1], "error": number(row["error"])}
            for row in profiles],
    }


class Fixtures(unittest.TestCase):
    def test_every_fixture_reads_as_expected(self):
        with open(FIXTURES / "expected.json", encoding="utf-8") as f:
            expected = json.load(f)
        self.assertEqual(neutral(*wrenfold_summary.summarise(FIXTURES)), expected)

    def test_the_csv_files_hold_the_rows_read(self):
        with tempfile.TemporaryDirectory() as out:
            self.assertEqual(wrenfold_summary.main([str(FIXTURES), "--out-dir", out]), 0)
            self.assertEqual(neutral(rows(pathlib.Path(out, "computers.csv")),
                                     rows(pathlib.Path(out, "profiles.csv"))),
                             neutral(*wrenfold_summary.summarise(FIXTURES)))


@unittest.skipUnless(BUILT and shutil.which("wine"), "wrenfold.exe, helpers or Wine missing")
class FreshRuns(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = cls.enterClassContext(tempfile.TemporaryDirectory())
        cls.logs = pathlib.Path(cls.work, "logs")
        make_reports.write(make_reports.make(*(os.path.abspath(p) for p in BUILT), cls.work),
                           cls.logs)

    def test_the_fixtures_are_what_the_runs_give_now(self):
        # Regenerate with: tests/contrib/make_reports.py EXE HELPERS NATIVE_EXE
        made = sorted(p.name for p in self.logs.iterdir())
        self.assertEqual(made, sorted(p.name for p in FIXTURES.iterdir()
                                      if p.suffix == ".log" or p.name == "exit-codes.txt"))
        for name in made:
            self.assertEqual(make_reports.masked((self.logs / name).read_bytes()),
                             make_reports.masked((FIXTURES / name).read_bytes()), name)

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
        out = pathlib.Path(self.work, "csv")
        wrenfold_summary.main([str(self.logs), "--out-dir", str(out)])
        for name in ("computers.csv", "profiles.csv"):
            self.assertEqual(rows(self.logs / name), rows(out / name))


if __name__ == "__main__":
    unittest.main()

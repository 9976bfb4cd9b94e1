#!/usr/bin/env python3
"""The README's command lines each run somewhere, and its example report
is the report of a real run.

  test_readme.py [path/to/wrenfold.exe path/to/helpers]

Every line of a `cmd`, `powershell` or `sh` block of the README must be
named in RUNS below with the test that runs it; a line that is not, or an
entry whose line is no longer in the README, fails. The two wrenfold.exe
lines run here under Wine on the computer of the example report; the
Ansible lines run here up to the playbook's syntax check (there are no
Windows hosts to run it against); the PowerShell lines run in the module's
Pester tests, which hold them verbatim.
"""

import glob
import os
import pathlib
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "testing" / "scenarios"))
from scenario_runner import load, wine_run  # noqa: E402

BUILT = sys.argv[1:3] if __name__ == "__main__" and len(sys.argv) >= 3 else None
if BUILT:
    del sys.argv[1:3]
README = ROOT / "README.md"
EXAMPLE = ROOT / "tests" / "scenarios" / "readme" / "example.json"
PESTER_TESTS = ROOT / "tests" / "contrib" / "powershell"

HERE, PESTER, DEMO, CI = "this test", "the module's Pester tests", "the demo", "CI"
RUNS = {
    "wrenfold.exe /min:90 /skip:Admin": HERE,
    "wrenfold.exe /min:90 /y /skip:Admin": HERE,
    "Expand-Archive .\\wrenfold-1.10-win64.zip .\\wrenfold; Import-Module .\\wrenfold\\Wrenfold": PESTER,
    "Invoke-Wrenfold -ComputerName (Get-Content pcs.txt) -MinimumAge 90 -SkipName Admin "
    "-LogPath .\\logs | Where-Object PSTypeNames -Contains Wrenfold.Computer "
    "| Export-Csv computers.csv -NoTypeInformation": PESTER,
    "Invoke-Wrenfold -ComputerName (Get-Content pcs.txt) -MinimumAge 90 -SkipName Admin "
    "-LogPath .\\logs -WhatIf": PESTER,
    "cp contrib/ansible/inventory.example.ini inventory.ini   # your computers": HERE,
    "ansible-playbook -i inventory.ini contrib/ansible/wrenfold-fleet.yml \\": HERE,
    "-e wrenfold_exe=$PWD/wrenfold.exe -e wrenfold_min_days=60 \\": HERE,
    "-e '{\"wrenfold_skip\": [\"Admin\", \"Kiosk\"]}' --limit pc001.corp.example": HERE,
    "make demo    # build wrenfold.exe and run it under Wine on a demo computer": DEMO,
    "make test    # build everything and run every test": CI,
}
COMMAND_LANGUAGES = ("cmd", "powershell", "sh")


def blocks(text):
    """(language, lines) of each fenced block of TEXT."""
    return [(m.group(1), m.group(2).splitlines())
            for m in re.finditer(r"^```(\w*)\n(.*?)^```$", text, re.MULTILINE | re.DOTALL)]


def readme_commands(text):
    return [line.strip() for language, lines in blocks(text) if language in COMMAND_LANGUAGES
            for line in lines if line.strip()]


def readme_section(text, heading):
    """The section of TEXT under HEADING, up to the next heading of its level."""
    level = len(heading.split(" ")[0])
    start = text.index(f"\n{heading}\n") + len(heading) + 2
    end = re.search(rf"^#{{1,{level}}} ", text[start:], re.MULTILINE)
    return text[start:] if end is None else text[start:start + end.start()]


def example_report(text):
    """The block of the README's "Example report" section."""
    section = readme_section(text, "## Example report")
    return next(lines for language, lines in blocks(section) if language == "text")


def report_as_shown(stdout, arguments, echo):
    """What the console shows of a run: its command line at a C:\\ prompt,
    then its report with each echoed key after its prompt."""
    shown = stdout.replace("\r\n", "\n")
    for key in echo:
        shown = shown.replace("Delete? (Y/N): \n", f"Delete? (Y/N): {key}\n", 1)
    return ["C:\\>wrenfold.exe " + " ".join(arguments)] + shown.rstrip("\n").split("\n")


class ReadmeCommandLines(unittest.TestCase):
    def test_every_command_line_is_run_by_a_test_or_the_demo(self):
        commands = readme_commands(README.read_text(encoding="utf-8"))
        self.assertEqual(sorted(set(commands)), sorted(RUNS))
        # The Pester tests run every line of the PowerShell section's block.
        pester = "".join(pathlib.Path(p).read_text(encoding="utf-8")
                         for p in glob.glob(str(PESTER_TESTS / "*.Tests.ps1")))
        self.assertIn("### PowerShell", pester)
        section = readme_section(README.read_text(encoding="utf-8"), "### PowerShell")
        ran = [line for language, lines in blocks(section) if language == "powershell"
               for line in lines]
        for line, runner in RUNS.items():
            if runner == PESTER:
                self.assertIn(line, ran, "a PowerShell line of the README no test runs")

    def test_the_example_report_is_the_report_of_its_scenario(self):
        scenario = load.load_scenario(str(EXAMPLE))
        expected, _ = load.expected_stdout(scenario, str(EXAMPLE))
        # The README shows the figures the simulation gives; Wine's are the disk's own.
        stdout = re.sub(r"\{MB:([0-9]+)\}", r"\1", expected.decode("latin-1"))
        stdout = stdout.replace("{COMPUTERNAME}", "PC01")
        shown = report_as_shown(stdout, scenario["arguments"], scenario["expect"]["echo"])
        self.assertEqual(example_report(README.read_text(encoding="utf-8")), shown)

    def test_the_ansible_lines_are_a_valid_run_of_the_playbook(self):
        if not shutil.which("ansible-playbook"):
            self.skipTest("Ansible missing")
        lines = [line for line, runner in RUNS.items()
                 if runner == HERE and not line.startswith("wrenfold.exe")]
        script = "\n".join(lines) + " --syntax-check\n"
        with tempfile.TemporaryDirectory() as work:
            os.symlink(ROOT / "contrib", os.path.join(work, "contrib"))
            done = subprocess.run(["bash", "-euo", "pipefail", "-c", script], cwd=work,
                                  capture_output=True, text=True, timeout=300)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)


@unittest.skipUnless(BUILT and shutil.which("wine"), "wrenfold.exe, helpers or Wine missing")
class ReadmeRunsUnderWine(unittest.TestCase):
    """The preview and the deleting run of the README's first screen, on the
    example report's computer, started as a tool starts it: without a
    console."""

    @classmethod
    def setUpClass(cls):
        cls.work = cls.enterClassContext(tempfile.TemporaryDirectory())

    def run_line(self, line):
        exe, helpers = (os.path.abspath(p) for p in BUILT)
        scenario = load.load_scenario(str(EXAMPLE))
        scenario = dict(scenario, arguments=shlex.split(line)[1:])
        scenario.pop("console")
        stdout, code, state, *_ = wine_run.run_wine(
            scenario, str(EXAMPLE), exe, "C:\\Tools\\wrenfold.exe", helpers, self.work, 300)
        return stdout.decode("latin-1"), code, state["profileKeys"]

    def test_the_preview_deletes_nothing_and_says_so(self):
        stdout, code, keys = self.run_line("wrenfold.exe /min:90 /skip:Admin")
        self.assertEqual(code, 1223, stdout)
        self.assertEqual(len(keys), 5)
        self.assertEqual(stdout.count("Action=Skipping (Cancelled)"), 2)

    def test_the_run_with_y_deletes_the_old_profile_and_the_orphan(self):
        stdout, code, keys = self.run_line("wrenfold.exe /min:90 /y /skip:Admin")
        self.assertEqual(code, 0, stdout)
        self.assertEqual(keys, load.load_scenario(str(EXAMPLE))["expect"]["profileKeys"])


if __name__ == "__main__":
    unittest.main()

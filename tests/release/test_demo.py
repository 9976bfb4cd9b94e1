#!/usr/bin/env python3
"""Checks of the demo (demo.sh, demo.py).

  test_demo.py [path/to/wrenfold.exe path/to/helpers]

Without arguments only the demo's own logic is checked. Given the command
and the Wine helpers (wfstage.exe, userenv.dll), the whole demo also runs
under Wine twice: without a terminal (/y, result checked by the demo
itself) and on a pseudo-terminal where the prompts are answered y, n, y.
"""

import os
import re
import shutil
import subprocess
import sys
import time
import unittest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
DEMO = os.path.join(ROOT, "testing", "demo")
sys.path.insert(0, DEMO)
sys.path.insert(0, os.path.join(ROOT, "testing", "scenarios"))
import demo  # noqa: E402
from scenario_runner import ScenarioError, load, wine_limits, wine_run, wine_stage  # noqa: E402

# The two paths come first; unittest reads what follows them.
BUILT = None
if __name__ == "__main__" and len(sys.argv) >= 3 and all(map(os.path.exists, sys.argv[1:3])):
    BUILT = [os.path.abspath(path) for path in sys.argv[1:3]]
    del sys.argv[1:3]

ANN, BOB, GONE = (f"S-1-5-21-3623811015-3361044348-30300820-{n}" for n in (1004, 1005, 1006))


def field(text):
    return wine_stage.utf16_field(text)


class JobTest(unittest.TestCase):
    def setUp(self):
        self.scenario = load.load_scenario(demo.COMPUTER)

    def job(self, yes):
        return demo.demo_job(self.scenario, demo.ARGV0, yes).splitlines()

    def test_profile_list_is_listed_before_and_after_the_run(self):
        lines = self.job(yes=True)
        labels = [line.split(" ")[0] for line in lines]
        enum = f"enum {field(wine_stage.PROFILE_LIST)}"
        self.assertEqual([i for i, line in enumerate(lines) if line == enum],
                         [labels.index("hold") - 1, len(lines) - 1])
        # Staged first, listed, then the in-use hive held only while the command runs.
        self.assertEqual(labels[0], "deltree")
        self.assertLess(max(i for i, label in enumerate(labels) if label == "value"),
                        labels.index("hold"))
        self.assertEqual(labels[-4:], ["hold", "run", "release", "enum"])

    def test_yes_adds_slash_y_and_nothing_else_changes_the_command_line(self):
        def command_line(yes):
            run = next(line for line in self.job(yes) if line.startswith("run "))
            return bytes.fromhex(run.split(" ")[2][1:]).decode("utf-16-le")

        self.assertEqual(command_line(False), "C:\\Tools\\wrenfold.exe /MIN:30 /SKIP:Kiosk")
        self.assertEqual(command_line(True), command_line(False) + " /y")
        self.assertEqual(self.scenario["arguments"], ["/MIN:30", "/SKIP:Kiosk"])

    def test_every_outcome_is_staged(self):
        paths = demo.profile_paths(self.scenario)
        self.assertEqual(demo.expanded(paths["S-1-5-18"]),
                         "C:\\windows\\System32\\config\\systemprofile")
        self.assertEqual(demo.expanded(paths[BOB]), "C:\\Users\\Bob")
        files = {f["path"]: f for f in self.scenario["local"]["files"]}
        self.assertTrue(files["C:\\Users\\Busy\\NTUSER.DAT"].get("heldOpen"))
        self.assertNotIn("C:\\Users\\Gone\\NTUSER.DAT", files)
        self.assertEqual(wine_limits.wine_obstacles(self.scenario), [])


class ResultsTest(unittest.TestCase):
    def test_subkeys_are_split_at_the_run(self):
        text = (f"name {field('VM')}\nsubkey {field('A')}\nsubkey {field('B')}\n"
                f"exit 1223\nsubkey {field('A')}\n")
        self.assertEqual(demo.split_results(text),
                         {"name": "VM", "before": ["A", "B"], "exit": 1223, "after": ["A"]})

    def test_a_failed_listing_or_an_unknown_line_is_an_error(self):
        for text in ("enumfailed 5\n", "exit 0\nsubkeys x41\n"):
            with self.assertRaises(ScenarioError):
                demo.split_results(text)

    def test_a_yes_run_is_held_to_the_expectation(self):
        scenario = load.load_scenario(demo.COMPUTER)
        kept = scenario["expect"]["profileKeys"]
        gone = {"C:\\Users\\Ann", "C:\\Users\\Bob", "C:\\Users\\Gone"}

        def exists(path):
            return path not in gone

        good = {"exit": 0, "after": kept}
        self.assertEqual(demo.check_expect(scenario, good, exists), [])
        self.assertEqual(len(demo.check_expect(scenario, dict(good, exit=1223), exists)), 1)
        self.assertEqual(len(demo.check_expect(scenario, dict(good, after=kept + [BOB]),
                                               exists)), 1)
        problems = demo.check_expect(scenario, good,
                                     lambda path: path not in gone | {"C:\\Users\\Busy"})
        self.assertEqual(problems, ["C:\\Users\\Busy is missing"])


def row(output, name):
    """before/after marks of the row that names NAME in the demo's tables."""
    match = re.search(rf"^  (?=.*{re.escape(name)}).*?\s\s+(yes|-)\s+(yes|-)(?:\s|$)", output,
                      re.MULTILINE)
    return match.groups() if match else None


@unittest.skipUnless(BUILT and shutil.which("wine"), "wrenfold.exe, helpers or Wine missing")
class WholeDemoTest(unittest.TestCase):
    def command(self):
        return [os.path.join(DEMO, "demo.sh")] + BUILT

    def test_without_a_terminal_it_runs_with_y_and_checks_the_result(self):
        done = subprocess.run(self.command(), stdin=subprocess.DEVNULL, capture_output=True,
                              timeout=600)
        output = done.stdout.decode("latin-1")
        self.assertEqual(done.returncode, 0, output + done.stderr.decode("latin-1"))
        self.assertNotIn("Delete?", output)
        for sid in (ANN, BOB, GONE):
            self.assertEqual(row(output, sid), ("yes", "-"), sid)
        self.assertEqual(row(output, "C:\\Users\\Busy"), ("yes", "yes"))

    def test_on_a_terminal_each_prompt_is_answered_there(self):
        terminal = wine_run.Terminal()
        answers = [b"y", b"n", b"y"]
        try:
            process = subprocess.Popen(self.command(), stdin=terminal.slave,
                                       stdout=terminal.slave, stderr=terminal.slave,
                                       preexec_fn=terminal.child_setup)
            deadline = time.monotonic() + 180
            typed = 0
            while process.poll() is None and time.monotonic() < deadline:
                terminal.drain(0.1)
                prompts = terminal.echo.count(b"Delete? (Y/N):")
                # A key is typed once its prompt is shown and the console reads.
                if typed < prompts and typed < len(answers) and terminal.raw():
                    terminal.type(answers[typed])
                    typed += 1
            if process.poll() is None:
                process.kill()
                self.fail("the demo did not end")
            terminal.drain(0.3)
        finally:
            terminal.close()
        output = terminal.echo.decode("latin-1")
        self.assertEqual(process.returncode, 0, output)
        self.assertEqual(typed, 3, output)
        self.assertIn("(exit code 1223: a deletion was declined at the prompt)", output)
        self.assertEqual(row(output, ANN), ("yes", "-"))
        self.assertEqual(row(output, BOB), ("yes", "yes"))
        self.assertEqual(row(output, GONE), ("yes", "-"))


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""Checks of the demo (demo.sh, demo.py).

  test_demo.py [path/to/wrenfold.exe path/to/helpers]

Given the command and the Wine helpers (wfstage.exe, userenv.dll), the
whole demo runs under Wine twice: without a terminal (/y, result checked by
the demo itself) and on a pseudo-terminal where the prompts are answered
y, n, y.
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
sys.path.insert(0, os.path.join(ROOT, "testing", "scenarios"))
from scenario_runner import wine_run  # noqa: E402

# The two paths come first; unittest reads what follows them.
BUILT = None
if __name__ == "__main__" and len(sys.argv) >= 3 and all(map(os.path.exists, sys.argv[1:3])):
    BUILT = [os.path.abspath(path) for path in sys.argv[1:3]]
    del sys.argv[1:3]

ANN, BOB, GONE = (f"S-1-5-21-3623811015-3361044348-30300820-{n}" for n in (1004, 1005, 1006))


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

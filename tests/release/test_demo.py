#!/usr/bin/env python3
"""Runs the demo (testing/demo) under Wine without a terminal, where it
deletes with /y and checks the result itself, and on a pseudo-terminal
that answers its prompts y, n, y.

  test_demo.py [path/to/wrenfold.exe path/to/helpers]
"""

import os
import pathlib
import re
import shutil
import subprocess
import sys
import time
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "testing" / "scenarios"))
from scenario_runner import wine_run  # noqa: E402

BUILT = sys.argv[1:3] if __name__ == "__main__" and len(sys.argv) >= 3 else None
if BUILT:
    del sys.argv[1:3]  # the rest is unittest's
    DEMO = [ROOT / "testing" / "demo" / "demo.sh"] + [os.path.abspath(p) for p in BUILT]
ANN, BOB, GONE = (f"S-1-5-21-3623811015-3361044348-30300820-{n}" for n in (1004, 1005, 1006))


def marks(output, *names):
    """The before and after marks of the rows that name NAMES in the demo's tables."""
    rows = (re.search(rf"^  (?=.*{re.escape(name)}).*?\s\s+(yes|-)\s+(yes|-)(?:\s|$)", output,
                      re.MULTILINE) for name in names)
    return [row and row.groups() for row in rows]


@unittest.skipUnless(BUILT and shutil.which("wine"), "wrenfold.exe, helpers or Wine missing")
class WholeDemoTest(unittest.TestCase):
    def test_without_a_terminal_it_deletes_with_y(self):
        done = subprocess.run(DEMO, stdin=subprocess.DEVNULL, capture_output=True, timeout=600)
        output = done.stdout.decode("latin-1")
        self.assertEqual(done.returncode, 0, output + done.stderr.decode("latin-1"))
        self.assertEqual(marks(output, ANN, BOB, GONE, "C:\\Users\\Busy"),
                         [("yes", "-")] * 3 + [("yes", "yes")])

    def test_on_a_terminal_each_prompt_is_answered_there(self):
        terminal = wine_run.Terminal()
        typist = wine_run.Typist(terminal, [b"y", b"n", b"y"])  # a key for each prompt shown
        try:
            process = subprocess.Popen(DEMO, stdin=terminal.slave, stdout=terminal.slave,
                                       stderr=terminal.slave, preexec_fn=terminal.child_setup)
            deadline = time.monotonic() + 180
            while process.poll() is None and time.monotonic() < deadline:
                terminal.drain(0.1)
                typist.reads_started(terminal.echo.count(b"Delete? (Y/N):"))
            if process.poll() is None:
                process.kill()
                self.fail("the demo did not end")
            terminal.drain(0.3)
        finally:
            terminal.close()
        output = terminal.echo.decode("latin-1")
        self.assertEqual(process.returncode, 0, output)
        self.assertEqual(typist.reads, 3, output)
        self.assertIn("(exit code 1223: a deletion was declined at the prompt)", output)
        self.assertEqual(marks(output, ANN, BOB, GONE),
                         [("yes", "-"), ("yes", "yes"), ("yes", "-")])


if __name__ == "__main__":
    unittest.main()

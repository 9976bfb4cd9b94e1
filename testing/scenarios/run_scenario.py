#!/usr/bin/env python3
"""The command that runs one scenario file on one runner (ctest calls it).
The runner is the package scenario_runner beside this file; its command
line is described in scenario_runner/cli.py."""

import sys

from scenario_runner.cli import main

if __name__ == "__main__":
    sys.exit(main())

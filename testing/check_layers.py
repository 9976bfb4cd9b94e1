#!/usr/bin/env python3
"""Checks that the layers point one way: src/cli may use src/engine and
src/platform, src/engine may use src/platform, and src/platform uses
neither. Prints every include that points the wrong way; exit status 1 when
there is one."""

import os
import re
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
# What each layer must not include.
FORBIDDEN = {
    "src/engine": ("cli/",),
    "src/platform": ("cli/", "engine/"),
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def wrong_includes(root):
    found = []
    for layer, forbidden in FORBIDDEN.items():
        for folder, _, files in os.walk(os.path.join(root, layer)):
            for name in sorted(files):
                if not name.endswith((".h", ".cpp")):
                    continue
                path = os.path.join(folder, name)
                with open(path, encoding="utf-8") as f:
                    for number, line in enumerate(f, 1):
                        match = INCLUDE.match(line)
                        if match and match.group(1).startswith(forbidden):
                            found.append(f"{os.path.relpath(path, root)}:{number}: "
                                         f"includes {match.group(1)}")
    return found


def main():
    problems = wrong_includes(sys.argv[1] if len(sys.argv) > 1 else ROOT)
    for problem in problems:
        print(problem)
    print("layers: " + ("wrong includes above" if problems else "every include points down"))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())

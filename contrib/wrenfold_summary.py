#!/usr/bin/env python3
"""Summarises the reports of many computers in two CSV files.

  wrenfold_summary.py LOG_DIR [--out-dir DIR]

LOG_DIR holds one report per computer, <computer>.log, as wrenfold.exe
wrote it to standard output, and optionally exit-codes.txt, one line per
computer: "<computer> <exit code>", or "<computer> not run ..." for one
that was not reached (the Ansible playbook beside this file writes both).
Written into DIR (default LOG_DIR):

  computers.csv  computer, exit code, profiles enumerated, profiles deleted,
                 free space before and after (MB), reclaimed (MB), note
  profiles.csv   computer, folder, modified date, age (days), action, error

The reader is strict: a report it cannot read to the end gives its
computer's row with the exit code and a note saying what it could not
read, and no counts, rather than counts that may be wrong. A computer
that was not run has a row saying so.
"""

import argparse
import csv
import os
import re
import sys

COMPUTER_FIELDS = ["computer", "exit_code", "profiles_enumerated", "profiles_deleted",
                   "free_mb_before", "free_mb_after", "reclaimed_mb", "note"]
PROFILE_FIELDS = ["computer", "folder", "modified", "age_days", "action", "error"]

SUMMARY_LINES = [("Profiles Enumerated=", "profiles_enumerated"),
                 ("Profiles Deleted=", "profiles_deleted"),
                 ("Free Disk Space Before=", "free_mb_before"),
                 ("Free Disk Space  After=", "free_mb_after")]
# Lines a profile block may hold besides its header, its fields and the
# failures of calls.
BLOCK_LINE = re.compile(
    r'Delete\? \(Y/N\): ?|Failed to find ".*", error [0-9]+\.|'
    r"Failed, the profile modified time was invalid\.|"
    r"DeleteProfile\(.*\) reported success, but the entry is still listed\.")
FAILED_CALL = re.compile(r"(?:DeleteProfile|RegOpenKeyEx|RegDeleteKey)\(.*\) failed with error "
                         r"(-?[0-9]+)")
# Failures of the computer as a whole, printed before its summary; the
# system's text of the error follows some of them.
COMPUTER_FAILURE = re.compile(r'Failed to .*, (?:system error -?[0-9]+ has occurred|an invalid '
                              r'registry type \([0-9]+\) was found)\.|Error -?[0-9]+ opening .*')
EXCEPTION_EXIT_CODES = (-1073741819, 3221225477)  # 0xC0000005


class Unreadable(Exception):
    """The report has something this reader does not know."""


def read_report(text):
    """The computers of one report, one per [Summary for ...] block: its
    name, its four figures, its profile blocks and the lines that say it
    failed as a whole (a run over a list of computers reports several).
    Raises Unreadable with the line it could not read."""
    lines = text.replace("\r\n", "\n").split("\n")
    if not any(line.startswith("Wrenfold [Version ") for line in lines[:3]):
        raise Unreadable("no banner: not a report of wrenfold.exe")
    summaries = []
    profiles, failures = [], []  # of the computer whose summary comes next
    profile = None
    text_may_follow = False  # the system's text of an error just printed
    at = 0
    while at < len(lines):
        line = lines[at]
        at += 1
        header = re.fullmatch(r"\[(.*)\]", line)
        if line == "":
            continue
        if text_may_follow and not header and not COMPUTER_FAILURE.fullmatch(line):
            text_may_follow = False
            continue
        text_may_follow = False
        if header and header.group(1).startswith("Summary for "):
            summary = {"computer": header.group(1)[len("Summary for "):],
                       "profiles": profiles, "failures": failures}
            for prefix, field in SUMMARY_LINES:
                value = re.fullmatch(re.escape(prefix) + r"(-?[0-9]+)( MB)?",
                                     lines[at] if at < len(lines) else "")
                if not value:
                    raise Unreadable(f"line {at + 1}: expected {prefix[:-1]}")
                summary[field] = int(value.group(1))
                at += 1
            summaries.append(summary)
            every_block_has_an_action(profiles)
            profiles, failures, profile = [], [], None
        elif header and header.group(1) == "Settings":
            profile = None
        elif header:
            profile = {"folder": header.group(1), "modified": "", "age_days": "",
                       "action": "", "error": ""}
            profiles.append(profile)
        elif line.startswith(("Wrenfold [Version ", "Minimum Age=", "Skip Names=")) or (
                line == "The command completed successfully."):
            pass
        elif COMPUTER_FAILURE.fullmatch(line):
            failures.append(line)
            text_may_follow = True
        elif profile is None:
            raise Unreadable(f"line {at}: {line[:60]!r}")
        elif line.startswith("Modified Date="):
            profile["modified"] = line[len("Modified Date="):]
        elif line.startswith("Profile Age="):
            age = line[len("Profile Age="):]
            profile["age_days"] = age[:-len(" days")] if age.endswith(" days") else age
        elif line.startswith("Action="):
            if profile["action"]:
                raise Unreadable(f"line {at}: a second action for {profile['folder']}")
            profile["action"] = line[len("Action="):]
        elif FAILED_CALL.fullmatch(line):
            profile["error"] = FAILED_CALL.fullmatch(line).group(1)
            text_may_follow = True
        elif not BLOCK_LINE.fullmatch(line):
            raise Unreadable(f"line {at}: {line[:60]!r}")
    every_block_has_an_action(profiles)
    if profiles or not summaries:
        raise Unreadable("no summary after the last profile: the report ends early")
    return summaries


def every_block_has_an_action(profiles):
    for row in profiles:
        if not row["action"]:
            raise Unreadable(f"no action for {row['folder']}: the report ends early")


def read_exit_codes(path):
    """computer -> exit code (an int), or the note of a computer not run."""
    codes = {}
    try:
        with open(path, encoding="utf-8") as f:
            for line in f:
                name, _, rest = line.strip().partition(" ")
                if not name:
                    continue
                codes[name] = int(rest) if re.fullmatch(r"-?[0-9]+", rest) else rest
    except FileNotFoundError:
        pass
    return codes


def summarise(log_dir):
    """(computer rows, profile rows) for the reports of LOG_DIR."""
    codes = read_exit_codes(os.path.join(log_dir, "exit-codes.txt"))
    names = {f[:-4] for f in os.listdir(log_dir) if f.endswith(".log")} | set(codes)
    computers, profiles = [], []
    for name in sorted(names, key=str.lower):
        code = codes.get(name, "")
        row = dict.fromkeys(COMPUTER_FIELDS, "")
        row.update(computer=name, exit_code=code if isinstance(code, int) else "")
        if isinstance(code, str) and code:
            computers.append(dict(row, note=code))
            continue
        try:
            with open(os.path.join(log_dir, name + ".log"), "rb") as f:
                text = f.read().decode("latin-1")
            summaries = read_report(text)
        except FileNotFoundError:
            computers.append(dict(row, note="no report"))
            continue
        except Unreadable as problem:
            computers.append(dict(row, note=f"report not read: {problem}"))
            continue
        # An exception ends the run before free space is measured again.
        cut_short = code in EXCEPTION_EXIT_CODES
        for summary in summaries:
            # A run over a list names each computer in its summary.
            one = dict(row, computer=name if len(summaries) == 1 else summary["computer"])
            one.update({field: summary[field] for _, field in SUMMARY_LINES})
            one["reclaimed_mb"] = summary["free_mb_after"] - summary["free_mb_before"]
            if cut_short:
                one.update(free_mb_after="", reclaimed_mb="",
                           note="the run ended on an exception: free space after not measured")
            elif summary["failures"]:
                one["note"] = summary["failures"][0]
            computers.append(one)
            profiles += [dict(block, computer=one["computer"]) for block in summary["profiles"]]
    return computers, profiles


def write_csv(path, fields, rows):
    with open(path, "w", newline="", encoding="utf-8") as f:
        writer = csv.DictWriter(f, fieldnames=fields)
        writer.writeheader()
        writer.writerows(rows)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("log_dir")
    parser.add_argument("--out-dir")
    options = parser.parse_args(argv)
    out = options.out_dir or options.log_dir
    try:
        computers, profiles = summarise(options.log_dir)
    except OSError as problem:
        print(f"wrenfold_summary: {problem}", file=sys.stderr)
        return 1
    os.makedirs(out, exist_ok=True)
    write_csv(os.path.join(out, "computers.csv"), COMPUTER_FIELDS, computers)
    write_csv(os.path.join(out, "profiles.csv"), PROFILE_FIELDS, profiles)
    unread = sum(1 for row in computers if row["note"])
    print(f"{len(computers)} computers, {len(profiles)} profiles"
          + (f"; {unread} with a note" if unread else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main())

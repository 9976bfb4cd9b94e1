"""What a run gave against what the scenario expects: its standard output
byte for byte (with placeholders), its exit code and its side effects.

A runner describes the side effects in a state dict:
  profileKeys    the ProfileList subkeys at the end (None: not listed)
  folderExists   Windows path -> whether the folder exists
  fileExists     the same for files (either None: this run cannot tell)
and optionally:
  remotes        computer name -> {"profileKeys": ...} of that computer
  calls          the calls made, in the scenario's form (None: not recorded)
  echo           what the console echoed (None: not recorded)
  drawEcho       the expected echo -> that echo as this runner records it
  openHandles    what the program left open at exit, a count or a list
  exactFigures   true when the run's figures are those the scenario staged
                 (the simulation), so {MB:n} and {SYS:n} must be n
"""

import json
import re

PLACEHOLDER = re.compile(rb"(\{COMPUTERNAME\}|\{(?:MB|SYS):[0-9]+\})")
CONTEXT_BYTES = 48


def compare_output(expected, actual, computer_name, exact_figures):
    """None when ACTUAL matches EXPECTED, otherwise a report of the first
    difference. {COMPUTERNAME} is the computer's name; {MB:n} is a figure of
    free space and {SYS:n} a number of the system's own (a handle, the
    running clock): n itself when EXACT_FIGURES, else any decimal number (a
    real disk's free space and a real system's handles are not the
    scenario's)."""
    name = computer_name.encode("latin-1", "replace")
    matched = bytearray()  # the expected bytes as far as they matched
    at = 0
    for token in PLACEHOLDER.split(expected):
        if token.startswith((b"{MB:", b"{SYS:")):
            if exact_figures:
                token = token[token.index(b":") + 1:-1]
            else:
                digits = re.match(rb"[0-9]+", actual[at:])
                if not digits:
                    return difference(bytes(matched), token, actual, at)
                matched += digits.group()
                at += len(digits.group())
                continue
        elif token == b"{COMPUTERNAME}":
            token = name
        same = 0
        while same < len(token) and at + same < len(actual) and token[same] == actual[at + same]:
            same += 1
        if same < len(token):
            return difference(bytes(matched) + token[:same], token[same:], actual, at + same)
        matched += token
        at += len(token)
    if at < len(actual):
        return difference(bytes(matched), b"", actual, at)
    return None


def difference(before, expected_rest, actual, at):
    line = actual[:at].count(b"\n") + 1
    column = at - (actual.rfind(b"\n", 0, at) + 1) + 1
    return (
        f"standard output differs at byte {at} (line {line}, column {column}):\n"
        f"  same:     {before[-CONTEXT_BYTES:]!r}\n"
        f"  expected: {expected_rest[:CONTEXT_BYTES]!r}\n"
        f"  actual:   {actual[at:at + CONTEXT_BYTES]!r}"
    )


def check_expectations(scenario, out_path, expected, actual, exit_code, state, computer_name):
    """Every unmet expectation, as lines of text."""
    expect = scenario["expect"]
    problems = []
    report = compare_output(expected, actual, computer_name, state.get("exactFigures", False))
    if report:
        problems.append(f"{report}\n  (expected {out_path})")
    wanted = int(expect["exit"]) & 0xFFFFFFFF
    if exit_code != wanted:
        problems.append(f"exit code {exit_code} (0x{exit_code:08X}), "
                        f"expected {wanted} (0x{wanted:08X})")
    if "profileKeys" in expect and state["profileKeys"] != expect["profileKeys"]:
        problems.append(f"ProfileList subkeys {state['profileKeys']}, "
                        f"expected {expect['profileKeys']}")
    for computer, keys in (expect.get("remoteProfileKeys") or {}).items():
        got = state.get("remotes", {}).get(computer, {}).get("profileKeys")
        if got != keys:
            problems.append(f"ProfileList subkeys of {computer}: {got}, expected {keys}")
    for kind in ("folder", "file"):
        lists = expect.get(kind + "s") or {}
        exists = state[kind + "Exists"]
        if lists and exists is None:
            problems.append(f"this run cannot tell which {kind}s exist")
            continue
        for path in lists.get("present", []):
            if not exists(path):
                problems.append(f"{kind} {path} is missing")
        for path in lists.get("absent", []):
            if exists(path):
                problems.append(f"{kind} {path} still exists")
    if "calls" in expect:
        wanted = [list(call) for call in expect["calls"]]
        if state.get("calls") is None:
            problems.append("this run did not record the calls it made")
        elif state["calls"] != wanted:
            problems.append("calls made:\n" + format_calls(state["calls"])
                            + "\n  expected:\n" + format_calls(wanted))
    if "echo" in expect:
        wanted = state.get("drawEcho", lambda echo: echo)(expect["echo"])
        if state.get("echo") is None:
            problems.append("this run did not record the console echo")
        elif state["echo"] != wanted:
            problems.append(f"console echo {state['echo']!r}, expected {wanted!r}")
    # Always: every handle the program opened is closed by the time it ends.
    open_handles = state.get("openHandles")
    if open_handles:
        listed = "".join(f"\n    {h}" for h in open_handles) if isinstance(
            open_handles, list) else f" {open_handles}"
        problems.append(f"handles left open at exit:{listed}")
    return problems


def format_calls(calls):
    return "\n".join(f"    {json.dumps(call, ensure_ascii=False)}" for call in calls) or "    none"

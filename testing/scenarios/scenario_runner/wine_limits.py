"""What of a scenario a Wine prefix can reproduce, and the bytes a terminal
sends for each of the scenario's keys (the Wine runner types them)."""

import re

from . import ScenarioError, Unstageable
from .times import clock_of

WINE_BUILD = 7601
# Wine sets these in every process it starts, whatever the parent passes.
WINE_FIXED_ENVIRONMENT = {"SYSTEMROOT": "C:\\windows", "SYSTEMDRIVE": "C:"}

# Terminal sequences of the named keys (xterm). Modified forms put the
# modifier number (1 + Shift 1 + Alt 2 + Ctrl 4) into the sequence.
SS3_KEYS = {"F1": "P", "F2": "Q", "F3": "R", "F4": "S"}
TILDE_KEYS = {"F5": 15, "F6": 17, "F7": 18, "F8": 19, "F9": 20, "F10": 21, "F11": 23, "F12": 24,
              "Insert": 2, "Delete": 3, "PageUp": 5, "PageDown": 6}
CURSOR_KEYS = {"Up": "A", "Down": "B", "Right": "C", "Left": "D", "Home": "H", "End": "F"}
PLAIN_KEYS = {"Enter": b"\r", "Tab": b"\t", "Backspace": b"\x7f", "Space": b" "}
MODIFIERS = {"shift": 1, "alt": 2, "ctrl": 4}


def key_sequence(key):
    """The bytes a terminal sends for KEY, a scenario key name; Unstageable
    for keys that Wine's console cannot receive as the simulation models
    them."""
    if not isinstance(key, str):
        raise Unstageable("raw console events cannot be typed on a terminal")
    name = key
    modifiers = set()
    while len(name) > 1:
        plus = name.find("+", 1)
        if plus < 0:
            break
        part = name[:plus].lower()
        if part not in MODIFIERS:
            raise ScenarioError(f"unknown key {key!r}")
        modifiers.add(part)
        name = name[plus + 1:]
    number = 1 + sum(MODIFIERS[m] for m in modifiers)
    folded = {k.lower(): k for k in [*SS3_KEYS, *TILDE_KEYS, *CURSOR_KEYS, *PLAIN_KEYS]}
    if len(name) == 1 and " " <= name <= "~":
        if not modifiers:
            return name.encode()
        if modifiers == {"shift"} and name.isalpha():
            return name.upper().encode()
        if modifiers == {"alt"}:
            return b"\x1b" + name.encode()
        if modifiers == {"ctrl"} and name.isalpha():
            if name.lower() == "c":
                raise Unstageable("Ctrl+C ends a Wine process instead of reaching it")
            return bytes([ord(name.lower()) & 0x1F])
        raise Unstageable(f"{key} cannot be typed on a terminal as the simulation models it")
    canonical = folded.get(name.lower())
    if canonical in SS3_KEYS:
        letter = SS3_KEYS[canonical]
        return (f"\x1bO{letter}" if number == 1 else f"\x1b[1;{number}{letter}").encode()
    if canonical in TILDE_KEYS:
        code = TILDE_KEYS[canonical]
        return (f"\x1b[{code}~" if number == 1 else f"\x1b[{code};{number}~").encode()
    if canonical in CURSOR_KEYS:
        letter = CURSOR_KEYS[canonical]
        return (f"\x1b[{letter}" if number == 1 else f"\x1b[1;{number}{letter}").encode()
    if canonical in PLAIN_KEYS and not modifiers:
        return PLAIN_KEYS[canonical]
    if name.lower() == "escape":
        raise Unstageable("Wine's console gives Escape no character (the simulation gives 27)")
    if name.lower() in MODIFIERS:
        raise Unstageable(f"a terminal cannot send {key} alone")
    if canonical in PLAIN_KEYS:
        raise Unstageable(f"{key} cannot be typed on a terminal as the simulation models it")
    raise ScenarioError(f"unknown key {key!r}")


def echo_obstacles(echo):
    if any(not (c in "\0\r" or " " <= c <= "~") for c in echo):
        return ["an expected echo with characters other than printable ASCII, "
                "carriage return and 0 (Wine's console draws them differently)"]
    return []


def wine_obstacles(scenario):
    """Why the scenario cannot be staged in a Wine prefix (empty: it can)."""
    reasons = []
    if scenario.get("faults"):
        reasons.append("injected faults")
    _, bias = clock_of(scenario)
    if bias % 60 != 0 or not -840 <= bias <= 720:
        reasons.append(f"a time-zone bias of {bias} minutes (Wine needs whole hours, -840 to 720)")
    local = scenario.get("local") or {}
    if local.get("build", WINE_BUILD) != WINE_BUILD:
        reasons.append(f"build {local['build']} (Wine reports {WINE_BUILD})")
    for name, text in (local.get("environment") or {}).items():
        fixed = WINE_FIXED_ENVIRONMENT.get(name.upper())
        if fixed is not None and text != fixed:
            reasons.append(f"{name}={text} (Wine sets {fixed} in every process)")
    computers = [local] + list((scenario.get("remotes") or {}).values())
    for computer in computers:
        for key_path, key in (computer.get("registry") or {}).items():
            if key.get("denyDelete"):
                reasons.append(f"a key that refuses deletion ({key_path}): Wine 8.0 grants "
                               "DELETE on a key whose DACL denies it")
        for drive, volume in (computer.get("volumes") or {}).items():
            if "availableBytes" in volume:
                reasons.append(f"a quota (availableBytes of {drive}): Wine reports the "
                               "disk's own")
    for entry in local.get("files") or []:
        if not re.match(r"[cC]:\\", entry.get("path", "")):
            reasons.append(f"a file outside drive C: ({entry.get('path')})")
    if (local.get("deleteProfile") or {}).get("keep"):
        reasons.append("a deletion service that keeps the profile (the stand-in removes it)")
    for share, status in (local.get("shares") or {}).items():
        if status != "up":
            reasons.append(f"share {share} {status} (Wine has no administrative shares)")
    reasons += echo_obstacles(scenario["expect"].get("echo", "")) if "expect" in scenario else []
    console = scenario.get("console")
    for key in (console or {}).get("keys", []):
        try:
            key_sequence(key)
        except Unstageable as problem:
            reasons.append(str(problem))
    return reasons

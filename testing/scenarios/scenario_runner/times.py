"""The times of a scenario: its clock, and file times written as ISO UTC or
relative to the clock's "now", all as file-time ticks (100 ns since
1601-01-01 UTC)."""

import calendar
import json
import re

from . import ScenarioError

DEFAULT_NOW = "2026-12-01T12:00:00Z"
TICKS_PER_SECOND = 10_000_000
UNIX_EPOCH_TICKS = 116_444_736_000_000_000  # 1970-01-01 in ticks since 1601


def parse_iso_time(text):
    """An ISO UTC time (2026-01-01T08:30:00Z, optional fraction) in ticks."""
    m = re.fullmatch(r"(\d{4})-(\d\d)-(\d\d)T(\d\d):(\d\d):(\d\d)(?:\.(\d{1,7}))?Z", text)
    if not m:
        raise ScenarioError(f"{text!r} is not an ISO UTC time like 2026-12-01T12:00:00Z")
    year, month, day, hour, minute, second = (int(g) for g in m.groups()[:6])
    seconds = calendar.timegm((year, month, day, hour, minute, second, 0, 0, 0))
    fraction = int((m.group(7) or "0").ljust(7, "0"))
    return UNIX_EPOCH_TICKS + seconds * TICKS_PER_SECOND + fraction


def parse_scenario_time(text, now):
    """A file time: ISO UTC, or relative to now like -40d, -30d2h, +1h."""
    if not isinstance(text, str):
        raise ScenarioError(f"{text!r} is not a time")
    if text[:1] in ("-", "+"):
        units = {"d": 86400, "h": 3600, "m": 60, "s": 1}
        parts = re.findall(r"(\d+)([dhms])", text[1:])
        if len(text) < 3 or "".join(n + u for n, u in parts) != text[1:]:
            raise ScenarioError(f"{text!r} is not a relative time like -40d or -23h59m")
        ticks = sum(int(n) * units[u] for n, u in parts) * TICKS_PER_SECOND
        return now - ticks if text[0] == "-" else now + ticks
    return parse_iso_time(text)


def clock_of(scenario):
    clock = scenario.get("clock") or {}
    return parse_iso_time(clock.get("now", DEFAULT_NOW)), int(clock.get("biasMinutes", 0))


def resolved_scenario(scenario):
    """A copy of SCENARIO with its times as whole file-time ticks, the only
    form the simulation's loader takes: clock.now (always written, so the
    default is the runner's) and every file's modified, created and accessed."""
    resolved = json.loads(json.dumps(scenario))
    now, _ = clock_of(scenario)
    resolved.setdefault("clock", {})["now"] = now
    computers = [resolved.get("local") or {}] + list((resolved.get("remotes") or {}).values())
    for computer in computers:
        for entry in computer.get("files") or []:
            for key in ("modified", "created", "accessed"):
                if key in entry:
                    entry[key] = parse_scenario_time(entry[key], now)
    return resolved

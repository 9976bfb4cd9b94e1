#!/usr/bin/env python3
"""Runs one scenario file (tests/scenarios/FORMAT.md) on one runner.

  run_scenario.py --runner native --native-exe build/native/wrenfold SCENARIO
  run_scenario.py --runner wine --wine-exe build/win/wrenfold.exe \
      --wine-helpers build/native/testing/wine --work-dir build/native/scenario-work SCENARIO

native: the native wrenfold over the simulation staged from the scenario.
wine:   the real wrenfold.exe in a fresh Wine prefix staged from the scenario,
        with the scenario's clock (libfaketime) and time zone (TZ).

Exit status: 0 when every expectation holds, 1 when one does not (or the
scenario cannot be run), 77 when the scenario does not name this runner.
"""

import argparse
import contextlib
import fcntl
import ntpath
import os
import pty
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import termios
import time

from scenario_runner import ScenarioError, Unstageable
from scenario_runner.load import (SCHEMA_PATH, expected_stdout, load_scenario,  # noqa: F401
                                  scenario_name, schema_problems)
from scenario_runner.times import (TICKS_PER_SECOND, UNIX_EPOCH_TICKS, clock_of,  # noqa: F401
                                   parse_iso_time, parse_scenario_time, resolved_scenario)
from scenario_runner.compare import check_expectations, compare_output  # noqa: F401
from scenario_runner.native import run_native

SKIPPED = 77
FAILED = 1

PROFILE_LIST = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList"
DEFAULT_LOCAL_NAME = "PC01"
WINE_BUILD = 7601
# Wine sets these in every process it starts, whatever the parent passes.
WINE_FIXED_ENVIRONMENT = {"SYSTEMROOT": "C:\\windows", "SYSTEMDRIVE": "C:"}

# Each program is started under the name it has on the simulated computer.
PROGRAMS = {
    "wrenfold": {"argv0": "C:\\Tools\\wrenfold.exe", "file": "wrenfold.exe"},
    "probe": {"argv0": "C:\\Tools\\wfprobe.exe", "file": "wfprobe.exe"},
}

REGISTRY_TYPES = {
    "REG_NONE": 0, "REG_SZ": 1, "REG_EXPAND_SZ": 2, "REG_BINARY": 3,
    "REG_DWORD": 4, "REG_MULTI_SZ": 7, "REG_QWORD": 11,
}

LIBFAKETIME = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1"
RUN_TIMEOUT_SECONDS = 90
TEMPLATE_TIMEOUT_SECONDS = 300
# After the program ends, what its console still writes is collected for
# this long.
ECHO_SETTLE_SECONDS = 0.3
LOG_POLL_SECONDS = 0.02


# --- Wine: what can be staged --------------------------------------------------

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


def wine_obstacles(scenario):
    """Why the scenario cannot be staged in a Wine prefix (empty: it can)."""
    reasons = []
    if scenario.get("remotes"):
        reasons.append("remote computers")
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
    for key_path, key in (local.get("registry") or {}).items():
        if key.get("denyDelete"):
            reasons.append(f"a key that refuses deletion ({key_path})")
        if key.get("denyRead"):
            reasons.append(f"a key that refuses reading ({key_path})")
    for entry in local.get("files") or []:
        if not re.match(r"[cC]:\\", entry.get("path", "")):
            reasons.append(f"a file outside drive C: ({entry.get('path')})")
        # The bench runs as root under Wine: file permissions deny nothing.
        if entry.get("denyAccess"):
            reasons.append(f"a file or folder that denies access ({entry.get('path')})")
    for drive, volume in (local.get("volumes") or {}).items():
        if "availableBytes" in volume:
            reasons.append(f"a quota (availableBytes of {drive}): Wine reports the disk's own")
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


# --- Wine: prefixes ------------------------------------------------------------

# Files of the template that Wine only ever reads: per-scenario prefixes
# share them by hard link, which makes a copy take milliseconds.
SHARED_SUFFIXES = {".dll", ".exe", ".drv", ".sys", ".ocx", ".cpl", ".acm", ".ax", ".tlb",
                   ".ds", ".msstyles", ".com", ".nls", ".ttf", ".ttc", ".fon", ".mui", ".vxd"}


def wine_env(prefix):
    env = {k: v for k, v in os.environ.items()
           if not k.startswith(("WINE", "WRENFOLD_", "FAKETIME", "LD_PRELOAD", "DISPLAY"))}
    env.update(WINEPREFIX=prefix, WINEARCH="win64", WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml=")
    return env


def wine_version():
    return subprocess.run(["wine", "--version"], capture_output=True, text=True,
                          env=wine_env("/nonexistent")).stdout.strip()


def ensure_template(work_dir):
    """The template prefix of this work dir, made once under a lock so that
    parallel tests wait for one another instead of all making one."""
    template = os.path.join(work_dir, "wine-template")
    stamp = f"wrenfold scenario bench 1, {wine_version()}\n"
    stamp_path = os.path.join(template, "bench-stamp")
    os.makedirs(work_dir, exist_ok=True)
    with open(os.path.join(work_dir, "wine-template.lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        with contextlib.suppress(OSError), open(stamp_path) as f:
            if f.read() == stamp:
                return template
        shutil.rmtree(template, ignore_errors=True)
        building = tempfile.mkdtemp(prefix="wine-template.", dir=work_dir)
        prefix = os.path.join(building, "prefix")
        env = wine_env(prefix)
        try:
            subprocess.run(["wineboot", "-i"], env=env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           timeout=TEMPLATE_TIMEOUT_SECONDS, check=True)
            # The registry reaches its files when the server ends.
            subprocess.run(["wineserver", "-w"], env=env, timeout=TEMPLATE_TIMEOUT_SECONDS)
        except (subprocess.SubprocessError, OSError) as problem:
            subprocess.run(["wineserver", "-k"], env=env)
            shutil.rmtree(building, ignore_errors=True)
            raise ScenarioError(f"cannot make the Wine template prefix: {problem}")
        with open(os.path.join(prefix, "bench-stamp"), "w") as f:
            f.write(stamp)
        os.rename(prefix, template)
        shutil.rmtree(building, ignore_errors=True)
    return template


def copy_prefix(template, prefix):
    windows = os.path.join(template, "drive_c", "windows") + os.sep

    def link_or_copy(source, target):
        if source.startswith(windows) and os.path.splitext(source)[1].lower() in SHARED_SUFFIXES:
            os.link(source, target)
        else:
            shutil.copy2(source, target)

    shutil.copytree(template, prefix, symlinks=True, copy_function=link_or_copy)


def host_path(drive_c, windows_path):
    """Where a C: path lives under the prefix. Existing folders are found
    whatever their case, as Wine finds them; new ones take the case given."""
    if not re.match(r"[cC]:(\\|$)", windows_path):
        raise ScenarioError(f"{windows_path} is not on drive C:")
    current = drive_c
    for part in [p for p in windows_path[2:].split("\\") if p]:
        found = None
        if os.path.isdir(current):
            matches = [e for e in sorted(os.listdir(current)) if e.lower() == part.lower()]
            found = matches[0] if matches else None
        current = os.path.join(current, found or part)
    return current


def windows_path_of(unix_path):
    """A host path as Wine's drive Z: shows it."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


def utf16_field(text):
    return "x" + text.encode("utf-16-le").hex()


def value_bytes(value):
    """Type and exact data bytes of a registry value of the scenario."""
    def utf16(text, terminated=True):
        return (text + ("\0" if terminated else "")).encode("utf-16-le")

    def type_of(name, default):
        t = value.get("type", default)
        return REGISTRY_TYPES[t] if isinstance(t, str) else int(t)

    if isinstance(value, str):
        return 1, utf16(value)
    if "text" in value:
        return type_of("type", "REG_SZ"), utf16(value["text"], value.get("terminated", True))
    if "texts" in value:
        return 7, b"".join(utf16(t) for t in value["texts"]) + b"\0\0"
    if "number" in value:
        kind = type_of("type", "REG_DWORD")
        return kind, int(value["number"]).to_bytes(8 if kind == 11 else 4, "little")
    return type_of("type", None), bytes.fromhex(value["hex"])


def stage_files(drive_c, files, now):
    """Creates the scenario's files and folders, then sets their times (last,
    so that making a child does not move its folder's time)."""
    placed = []
    for entry in files:
        path = host_path(drive_c, entry["path"])
        if entry.get("directory"):
            os.makedirs(path, exist_ok=True)
        else:
            os.makedirs(os.path.dirname(path), exist_ok=True)
            open(path, "ab").close()
        placed.append((path, parse_scenario_time(entry.get("modified", "+0s"), now)))
    for path, ticks in placed:
        ns = (ticks - UNIX_EPOCH_TICKS) * 100
        os.utime(path, ns=(ns, ns))


def job_lines(scenario, argv0, output):
    local = scenario.get("local") or {}
    lines = [f"deltree {utf16_field(PROFILE_LIST)}"]
    for key_path, key in sorted((local.get("registry") or {}).items()):
        lines.append(f"key {utf16_field(key_path)}")
        for name, value in (key.get("values") or {}).items():
            kind, data = value_bytes(value)
            lines.append(f"value {utf16_field(key_path)} {utf16_field(name)} {kind} x{data.hex()}")
    for entry in local.get("files") or []:
        if "attributes" in entry:
            base = 0 if entry.get("directory") else 0x20
            lines.append(f"attrib {utf16_field(entry['path'])} {int(entry['attributes']) | base}")
    for name, text in (local.get("environment") or {}).items():
        if text is None:
            lines.append(f"unenv {utf16_field(name)}")
        else:
            lines.append(f"env {utf16_field(name)} {utf16_field(text)}")
    lines.append("name")
    for entry in local.get("files") or []:
        if entry.get("heldOpen"):
            lines.append(f"hold {utf16_field(entry['path'])}")
    command_line = subprocess.list2cmdline([argv0] + list(scenario.get("arguments", [])))
    lines.append(f"output {utf16_field(windows_path_of(output))}")
    lines.append(f"run {utf16_field(argv0)} {utf16_field(command_line)}")
    lines.append("release")
    lines.append(f"enum {utf16_field(PROFILE_LIST)}")
    return "".join(line + "\n" for line in lines)


def read_results(path):
    results = {"subkeys": []}
    with open(path) as f:
        for line in f:
            label, field = line.split()
            if label == "exit":
                results["exit"] = int(field)
            elif label == "enumfailed":
                results["enumfailed"] = int(field)
            else:
                text = bytes.fromhex(field[1:]).decode("utf-16-le")
                if label == "subkey":
                    results["subkeys"].append(text)
                else:
                    results[label] = text
    return results


def log_text(field):
    """A text of the stand-in's log: "x" and UTF-16LE hex, or "-" for null."""
    return None if field == "-" else bytes.fromhex(field[1:]).decode("utf-16-le")


def parse_log(data):
    """What the stand-in userenv.dll logged about the program (see
    testing/wine/userenv.c). Only whole lines count: the program may be
    writing the next one."""
    log = {"attached": False, "detached": False, "calls": [], "keyReads": 0,
           "openHandles": []}
    for line in data.decode("ascii").split("\n")[:-1]:
        label, *fields = line.split(" ")
        if label == "attach":
            log["attached"] = True
        elif label == "detach":
            log["detached"] = True
        elif label == "DeleteProfile":
            log["calls"].append(["DeleteProfile"] + [log_text(f) for f in fields])
        elif label == "RegDeleteKey":
            log["calls"].append(["RegDeleteKey", log_text(fields[0])])
        elif label == "console-mode":
            # Input mode 0 is set as a key read starts to wait on the console.
            if int(fields[0]) == 0:
                log["keyReads"] += 1
        elif label == "open":
            log["openHandles"].append(f"{fields[0]} {log_text(fields[1])}")
        elif label == "untracked":
            log["openHandles"].append(f"{fields[0]} handles opened beyond the table")
        else:
            raise ScenarioError(f"unknown line in the program's log: {line!r}")
    return log


def read_log(path):
    try:
        with open(path, "rb") as f:
            return parse_log(f.read())
    except FileNotFoundError:
        return parse_log(b"")


class Terminal:
    """A pseudo-terminal that becomes the controlling terminal and standard
    input of the Wine processes: their console."""

    def __init__(self):
        self.master, self.slave = pty.openpty()
        self.echo = bytearray()

    def child_setup(self):
        os.setsid()
        fcntl.ioctl(0, termios.TIOCSCTTY, 0)
        # Closing the terminal must end the key reads, not the processes.
        signal.signal(signal.SIGHUP, signal.SIG_IGN)

    def drain(self, seconds):
        """Collects what the console writes (the echo) for SECONDS."""
        end = time.monotonic() + seconds
        while self.master is not None:
            left = end - time.monotonic()
            if left <= 0:
                return
            ready, _, _ = select.select([self.master], [], [], left)
            if ready:
                try:
                    self.echo += os.read(self.master, 4096)
                except OSError:  # every process has let go of the terminal
                    time.sleep(min(left, 0.05))
                    return

    def raw(self):
        """Whether Wine's console has put the terminal into raw mode, as it
        does for a read with console input mode 0 (until then the terminal
        itself would echo a typed key)."""
        flags = termios.tcgetattr(self.master)[3]
        return not flags & (termios.ICANON | termios.ECHO)

    def type(self, sequence):
        os.write(self.master, sequence)

    def hang_up(self):
        """Further key reads fail, as on the simulation once its keys are used up."""
        if self.master is not None:
            os.close(self.master)
            self.master = None

    def close(self):
        self.hang_up()
        if self.slave is not None:
            os.close(self.slave)
            self.slave = None


# Wine's console hides the cursor while it draws what a program writes to
# CONOUT$ and shows it again after.
CURSOR_HIDE_SHOW = re.compile(rb"\x1b\[\?25[lh]")


class Typist:
    """Types the key script one key per key read: the next key when the
    program starts its next read (never earlier, so a read that comes after
    other work still finds its key), and once the script is used up, it
    hangs the terminal up, so that read fails as on the simulation."""

    def __init__(self, terminal, keys):
        self.terminal = terminal
        self.keys = keys
        self.reads = 0  # reads served so far

    def reads_started(self, count):
        """The program has started COUNT key reads so far."""
        while self.reads < count and self.terminal.master is not None:
            if self.reads < len(self.keys):
                if not self.terminal.raw():
                    return  # typed once the console is ready for it
                self.terminal.type(self.keys[self.reads])
            else:
                # The echo of the reads before is taken first.
                self.terminal.drain(ECHO_SETTLE_SECONDS)
                self.terminal.hang_up()
            self.reads += 1


def console_echo(data):
    """What Wine's console drew on the terminal, without its cursor
    switching: the echo as the terminal shows it."""
    return CURSOR_HIDE_SHOW.sub(b"", data).decode("latin-1")


def echo_as_wine_draws(echo):
    """How Wine's console draws the echo bytes ECHO: printable ASCII as
    itself, carriage return (Enter) as the same control that takes the
    cursor back to the line start, the zero byte (the first code of a
    function key) as "?". Other bytes are drawn as other terminal controls
    or converted characters, so wine_obstacles refuses them."""
    return echo.replace("\0", "?")


def echo_obstacles(echo):
    if any(not (c in "\0\r" or " " <= c <= "~") for c in echo):
        return ["an expected echo with characters other than printable ASCII, "
                "carriage return and 0 (Wine's console draws them differently)"]
    return []


def run_wine(scenario, path, program_file, argv0, helpers, work_dir, timeout):
    reasons = wine_obstacles(scenario)
    if reasons:
        raise Unstageable("Wine cannot stage " + "; ".join(reasons))
    now, bias = clock_of(scenario)
    template = ensure_template(work_dir)
    runs = os.path.join(work_dir, "runs")
    os.makedirs(runs, exist_ok=True)
    folder = os.path.basename(os.path.dirname(os.path.abspath(path)))
    scratch = os.path.join(runs, f"wine.{folder}.{scenario_name(path)}")
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)
    prefix = os.path.join(scratch, "prefix")
    copy_prefix(template, prefix)
    drive_c = os.path.join(prefix, "drive_c")
    tools = host_path(drive_c, ntpath.dirname(argv0))
    os.makedirs(tools, exist_ok=True)
    shutil.copy(program_file, os.path.join(tools, ntpath.basename(argv0)))
    shutil.copy(os.path.join(helpers, "userenv.dll"), os.path.join(tools, "userenv.dll"))
    local = scenario.get("local") or {}
    stage_files(drive_c, local.get("files") or [], now)

    job = os.path.join(scratch, "job.txt")
    result = os.path.join(scratch, "result.txt")
    with open(job, "w") as f:
        f.write(job_lines(scenario, argv0, os.path.join(scratch, "stdout.bin")))

    env = wine_env(prefix)
    # Etc/GMT-1 is one hour east of Greenwich: the sign is that of the bias.
    env["TZ"] = "UTC" if bias == 0 else f"Etc/GMT{bias // 60:+d}"
    # Every Wine process starts its clock at the scenario's "now".
    env["LD_PRELOAD"] = LIBFAKETIME
    env["FAKETIME"] = f"@{(now - UNIX_EPOCH_TICKS) // TICKS_PER_SECOND}"
    env["FAKETIME_FMT"] = "%s"
    env["NO_FAKE_STAT"] = "1"  # file times stay as staged
    env["FAKETIME_DONT_FAKE_MONOTONIC"] = "1"
    env["WINEDLLOVERRIDES"] = "userenv=n,b;mscoree,mshtml="
    failures = (local.get("deleteProfile") or {}).get("fail") or {}
    log_path = os.path.join(scratch, "program-log.txt")
    env["WRENFOLD_TEST_LOG"] = windows_path_of(log_path)
    env["WRENFOLD_TEST_DELETE_FAIL"] = ";".join(f"{sid}={code}" for sid, code in failures.items())

    console = scenario.get("console")
    keys = [key_sequence(k) for k in (console or {}).get("keys", [])]
    terminal = Terminal() if console is not None else None
    err_path = os.path.join(scratch, "stderr.txt")
    try:
        # The server starts first, in a session of its own, with the
        # scenario's clock and time zone; it ends a while after its last
        # client if this script is stopped before it can end it.
        subprocess.run(["wineserver", "-p10"], env=env, start_new_session=True, check=True)
        # The program writes its standard output to a file of its own (the
        # job's "output"); the helper's standard output is the terminal, on
        # which Wine's console draws what the program writes to CONOUT$.
        with open(err_path, "wb") as err:
            command = ["wine", os.path.join(helpers, "wfstage.exe"),
                       windows_path_of(job), windows_path_of(result)]
            if terminal:
                process = subprocess.Popen(command, env=env, stdin=terminal.slave,
                                           stdout=terminal.slave, stderr=err,
                                           preexec_fn=terminal.child_setup)
            else:
                process = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL,
                                           stdout=subprocess.DEVNULL, stderr=err,
                                           start_new_session=True)
            deadline = time.monotonic() + timeout
            typist = Typist(terminal, keys) if terminal else None
            while process.poll() is None:
                if time.monotonic() > deadline:
                    process.kill()
                    raise ScenarioError(f"the Wine run did not end within {timeout} s")
                if typist and terminal.master is not None:
                    terminal.drain(LOG_POLL_SECONDS)
                    typist.reads_started(read_log(log_path)["keyReads"])
                else:
                    time.sleep(LOG_POLL_SECONDS)
            if terminal:
                terminal.drain(ECHO_SETTLE_SECONDS)
    finally:
        if terminal:
            terminal.close()
        subprocess.run(["wineserver", "-k"], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
    with open(err_path, "rb") as f:
        errors = f.read().decode("utf-8", "replace")
    if process.returncode != 0 or not os.path.exists(result):
        raise ScenarioError(f"the bench helper failed (exit {process.returncode})\n{errors}")
    results = read_results(result)
    if "exit" not in results:
        raise ScenarioError(f"the command did not run\n{errors}")
    with open(os.path.join(scratch, "stdout.bin"), "rb") as f:
        stdout = f.read()

    def folder_exists(windows_path):
        return os.path.isdir(host_path(drive_c, windows_path))

    def file_exists(windows_path):
        return os.path.isfile(host_path(drive_c, windows_path))

    log = read_log(log_path)
    if not log["attached"]:
        raise ScenarioError("the stand-in userenv.dll did not load with the program "
                            "(does it still import DeleteProfileW?)")
    if terminal:
        with open(os.path.join(scratch, "echo.bin"), "wb") as f:
            f.write(terminal.echo)
    state = {"profileKeys": results["subkeys"] if "enumfailed" not in results else None,
             "remotes": {}, "folderExists": folder_exists, "fileExists": file_exists,
             "calls": log["calls"],
             "echo": console_echo(bytes(terminal.echo)) if terminal else "",
             "drawEcho": echo_as_wine_draws,
             # Only a program that ended normally reports what it left open.
             "openHandles": log["openHandles"] if log["detached"] else None}
    return stdout, results["exit"], state, errors, results.get("name", ""), scratch


# --- Main ----------------------------------------------------------------------


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("scenario")
    parser.add_argument("--runner", choices=["native", "wine"], required=True)
    parser.add_argument("--native-exe", help="the native wrenfold")
    parser.add_argument("--native-probe", help="the native wfprobe")
    parser.add_argument("--wine-exe", help="wrenfold.exe")
    parser.add_argument("--wine-probe", help="wfprobe.exe")
    parser.add_argument("--wine-helpers", help="folder with wfstage.exe and userenv.dll")
    parser.add_argument("--work-dir", help="folder for the Wine template and the runs "
                        "(default: a temporary folder)")
    parser.add_argument("--timeout", type=float, default=RUN_TIMEOUT_SECONDS)
    options = parser.parse_args(argv)
    shown = options.scenario  # reports name the scenario as it was given
    # Wine wants absolute paths (WINEPREFIX), and the runs change folders:
    # every path given is made absolute before anything else.
    for name in ("scenario", "native_exe", "native_probe", "wine_exe", "wine_probe",
                 "wine_helpers", "work_dir"):
        if getattr(options, name):
            setattr(options, name, os.path.abspath(getattr(options, name)))

    path = options.scenario
    # A stopped test still ends its Wine server (the finally clauses run).
    signal.signal(signal.SIGTERM, lambda number, frame: sys.exit(128 + number))
    try:
        scenario = load_scenario(path)
        runners = scenario.get("runners", ["native"])
        if options.runner not in runners:
            print(f"skipped: {shown} runs on {', '.join(runners)} only")
            return SKIPPED
        program = scenario.get("program", "wrenfold")
        if program not in PROGRAMS:
            raise ScenarioError(f"unknown program {program!r}")
        argv0 = PROGRAMS[program]["argv0"]
        expected, out_path = expected_stdout(scenario, path)
        with contextlib.ExitStack() as stack:
            work_dir = options.work_dir or stack.enter_context(tempfile.TemporaryDirectory())
            os.makedirs(work_dir, exist_ok=True)
            if options.runner == "native":
                program_file = options.native_probe if program == "probe" else options.native_exe
                if not program_file or not os.path.isfile(program_file):
                    raise ScenarioError(f"the native {program} program {program_file or ''} "
                                        "was not given or is not built")
                stdout, exit_code, state, errors = run_native(
                    scenario, path, program_file, argv0, work_dir, options.timeout)
                computer_name = (scenario.get("local") or {}).get("name", DEFAULT_LOCAL_NAME)
                scratch = None
            else:
                program_file = options.wine_probe if program == "probe" else options.wine_exe
                if not program_file or not os.path.isfile(program_file):
                    raise ScenarioError(f"the Windows {program} program {program_file or ''} "
                                        "was not given or is not built")
                if not options.wine_helpers or not os.path.isfile(
                        os.path.join(options.wine_helpers, "wfstage.exe")):
                    raise ScenarioError("the Wine helpers (wfstage.exe, userenv.dll) are not built")
                stdout, exit_code, state, errors, computer_name, scratch = run_wine(
                    scenario, path, program_file, argv0, options.wine_helpers, work_dir,
                    options.timeout)
            problems = check_expectations(scenario, out_path, expected, stdout, exit_code, state,
                                          computer_name)
            if not problems:
                if scratch:
                    shutil.rmtree(scratch, ignore_errors=True)
                print(f"passed: {shown} ({options.runner})")
                return 0
            print(f"FAILED: {shown} ({options.runner})")
            for problem in problems:
                print(problem)
            if scratch:
                print(f"(the Wine prefix and the output are kept in {scratch})")
            if errors.strip():
                print("standard error of the run:\n" + errors.rstrip())
            return FAILED
    except (ScenarioError, OSError, subprocess.SubprocessError) as problem:
        print(f"FAILED: {shown} ({options.runner}): {problem}")
        return FAILED


if __name__ == "__main__":
    sys.exit(main())

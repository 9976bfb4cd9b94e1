"""Staging a scenario in a Wine prefix: the template prefix and its copies,
where a Windows path lives on the host, the files with their times, the job
that wfstage.exe (testing/wine/stage.c) carries out in the prefix, and what
it and the stand-in userenv.dll report back."""

import contextlib
import fcntl
import ntpath
import os
import re
import shutil
import subprocess
import tempfile

from . import ScenarioError
from .load import PROFILE_LIST
from .times import UNIX_EPOCH_TICKS, parse_scenario_time

REGISTRY_TYPES = {
    "REG_NONE": 0, "REG_SZ": 1, "REG_EXPAND_SZ": 2, "REG_BINARY": 3,
    "REG_DWORD": 4, "REG_MULTI_SZ": 7, "REG_QWORD": 11,
}

TEMPLATE_TIMEOUT_SECONDS = 300

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
    # The stamp names what made the template; a template with any other
    # stamp (words included) is made afresh.
    stamp = f"wrenfold scenario prefix 1, {wine_version()}\n"
    stamp_path = os.path.join(template, "prefix-stamp")
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
        with open(os.path.join(prefix, "prefix-stamp"), "w") as f:
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
            with open(path, "ab") as f:
                f.truncate(int(entry.get("bytes", 0)))
        written = parse_scenario_time(entry.get("modified", "+0s"), now)
        accessed = parse_scenario_time(entry["accessed"], now) if "accessed" in entry else written
        placed.append((path, accessed, written))
    # Wine gives the last-write time as the creation time too and keeps no
    # creation time of its own: "created" cannot be staged here.
    for path, accessed, written in placed:
        os.utime(path, ns=((accessed - UNIX_EPOCH_TICKS) * 100, (written - UNIX_EPOCH_TICKS) * 100))


KEY_READ_RIGHTS = 0x0001 | 0x0008 | 0x0010  # KEY_QUERY_VALUE, KEY_ENUMERATE_SUB_KEYS, KEY_NOTIFY
DELETE_RIGHT = 0x00010000


# Each remote computer's registry lives under this key of the prefix's own;
# the stand-in userenv.dll answers the program's connections with it.
REMOTES_KEY = "SOFTWARE\\WrenfoldRemotes"


def registries(scenario):
    """(computer name or None for the local one, the key that stands for its
    HKLM, its registry) for every computer of the scenario."""
    yield None, "", (scenario.get("local") or {}).get("registry") or {}
    for name, remote in sorted((scenario.get("remotes") or {}).items()):
        yield name, f"{REMOTES_KEY}\\{name}\\", remote.get("registry") or {}


# The in-process server of CLSID_WbemLocator: the stand-in wmilocator.dll
# beside the program takes the place of Wine's own WMI, which has no remote
# computers. A full path here is loaded without any DLL override.
WMI_LOCATOR_SERVER = ("SOFTWARE\\Classes\\CLSID\\{4590F811-1D3A-11D0-891F-00AA004B2E24}"
                      "\\InprocServer32")


def job_lines(scenario, argv0, output):
    local = scenario.get("local") or {}
    lines = [f"deltree {utf16_field(PROFILE_LIST)}", f"deltree {utf16_field(REMOTES_KEY)}"]
    locator = ntpath.join(ntpath.dirname(argv0), "wmilocator.dll")
    lines.append(f"key {utf16_field(WMI_LOCATOR_SERVER)}")
    for value_name, text in (("", locator), ("ThreadingModel", "Both")):
        kind, data = value_bytes(text)
        lines.append(f"value {utf16_field(WMI_LOCATOR_SERVER)} {utf16_field(value_name)} "
                     f"{kind} x{data.hex()}")
    for name, root, registry in registries(scenario):
        if name is not None:
            lines.append(f"key {utf16_field(root[:-1])}")
        for key_path, key in sorted(registry.items()):
            lines.append(f"key {utf16_field(root + key_path)}")
            for value_name, value in (key.get("values") or {}).items():
                kind, data = value_bytes(value)
                lines.append(f"value {utf16_field(root + key_path)} {utf16_field(value_name)} "
                             f"{kind} x{data.hex()}")
    # Refusals last, once every key below them exists: reading is the
    # rights to query values and enumerate or watch subkeys; DELETE alone
    # still opens such a key, as on the simulation.
    for name, root, registry in registries(scenario):
        for key_path, key in sorted(registry.items()):
            mask = (KEY_READ_RIGHTS if key.get("denyRead") else 0) | (
                DELETE_RIGHT if key.get("denyDelete") else 0)
            if mask:
                lines.append(f"deny {utf16_field(root + key_path)} {mask}")
    for path, entry in placed_files(scenario):
        if "attributes" in entry:
            base = 0 if entry.get("directory") else 0x20
            lines.append(f"attrib {utf16_field(path)} {int(entry['attributes']) | base}")
    for name, text in (local.get("environment") or {}).items():
        if text is None:
            lines.append(f"unenv {utf16_field(name)}")
        else:
            lines.append(f"env {utf16_field(name)} {utf16_field(text)}")
    lines.append("name")
    for path, entry in placed_files(scenario):
        if entry.get("heldOpen"):
            lines.append(f"hold {utf16_field(path)}")
    command_line = subprocess.list2cmdline([argv0] + list(scenario.get("arguments", [])))
    lines.append(f"output {utf16_field(windows_path_of(output))}")
    lines.append(f"run {utf16_field(argv0)} {utf16_field(command_line)}")
    lines.append("release")
    for name, root, _ in registries(scenario):
        if name is not None:
            lines.append(f"computer {utf16_field(name)}")
        lines.append(f"enum {utf16_field(root + PROFILE_LIST)}")
    return "".join(line + "\n" for line in lines)


def placed_files(scenario):
    """(path as the running computer reaches it, entry) for the files of
    every computer: a remote computer's through its administrative share."""
    for entry in (scenario.get("local") or {}).get("files") or []:
        yield entry["path"], entry
    for name, remote in sorted((scenario.get("remotes") or {}).items()):
        for entry in remote.get("files") or []:
            yield f"\\\\{name}\\{entry['path'][0]}$" + entry["path"][2:], entry


def read_results(path):
    """What the helper reported; the ProfileList subkeys of each remote
    computer go under "remotes"."""
    results = {"subkeys": [], "remotes": {}}
    into = results
    with open(path) as f:
        for line in f:
            label, field = line.split()
            if label == "exit":
                results["exit"] = int(field)
            elif label == "enumfailed":
                into["enumfailed"] = int(field)
            else:
                text = bytes.fromhex(field[1:]).decode("utf-16-le")
                if label == "subkey":
                    into["subkeys"].append(text)
                elif label == "computer":
                    into = results["remotes"].setdefault(text, {"subkeys": []})
                else:
                    results[label] = text
    return results


def log_text(field):
    """A text of the stand-in's log: "x" and UTF-16LE hex, or "-" for null."""
    return None if field == "-" else bytes.fromhex(field[1:]).decode("utf-16-le")


def parse_log(data):
    """What the stand-ins userenv.dll and wmilocator.dll logged about the
    program (see testing/wine/userenv.c and wmi_locator.c). Only whole
    lines count: the program may be writing the next one."""
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
        elif label in ("ConnectServer", "DeleteInstance"):
            log["calls"].append([label] + [log_text(f) for f in fields])
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

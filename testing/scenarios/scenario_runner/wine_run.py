"""The Wine runner: the real program in a fresh Wine prefix staged from the
scenario, with the scenario's clock (libfaketime) and time zone (TZ), run
by wfstage.exe; when the scenario has a console, on a pseudo-terminal on
which the key script is typed one key per key read."""

import fcntl
import ntpath
import os
import pty
import re
import select
import shutil
import signal
import subprocess
import termios
import time

from . import ScenarioError, Unstageable
from .load import scenario_name
from .times import TICKS_PER_SECOND, UNIX_EPOCH_TICKS, clock_of
from .wine_limits import key_sequence, wine_obstacles
from .wine_stage import (copy_prefix, ensure_template, host_path, job_lines, read_log,
                         read_results, stage_files, wine_env, windows_path_of)

LIBFAKETIME = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1"
# After the program ends, what its console still writes is collected for
# this long.
ECHO_SETTLE_SECONDS = 0.3
LOG_POLL_SECONDS = 0.02


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


# The server and the program run as root, without the capabilities that let
# root read, search and write whatever the permissions say.
WITHOUT_DAC_OVERRIDE = ["setpriv", "--bounding-set=-dac_override,-dac_read_search"]


# The number a share's state gives where the stand-in answers for it.
SHARE_STATUS = {"down": 53}


def remote_registry_answer(remote):
    """The stand-in's answer to connections to REMOTE: 0, a status, or a
    status from the Nth connection on (STATUS@N)."""
    service = remote.get("remoteRegistry", "up")
    if service == "up":
        return "0"
    if isinstance(service, dict):
        return f"{service['status']}@{service['fromConnection']}"
    return str(service)


# The HRESULTs behind the statuses of the simulation's WMI: a Win32 error
# as Windows carries it (0x800706BA for a computer whose RPC server cannot
# be reached, E_ACCESSDENIED for an account DCOM refuses at the
# connection), except the codes WMI itself gives at a deletion for an
# account it refuses and for a profile it does not know.
DELETE_HRESULTS = {5: 0x80041003, 2: 0x80041002}


def wmi_answers(scenario):
    """The stand-in wmilocator.dll's lists: each remote computer's answer to
    a connection, and its service's answers for single profiles (the
    computer's deleteProfile), as HRESULTs in hex."""
    def win32(status):
        return 0x80070000 | status if status <= 0xFFFF else status

    connect, delete = [], []
    for name, remote in sorted((scenario.get("remotes") or {}).items()):
        state = remote.get("wmi", "up")
        connect.append(f"{name}={0 if state == 'up' else win32(state):x}")
        service = remote.get("deleteProfile") or {}
        for sid, status in (service.get("fail") or {}).items():
            delete.append(f"{name}\\{sid}={DELETE_HRESULTS.get(status) or win32(status):x}")
        for sid in service.get("keep") or []:
            delete.append(f"{name}\\{sid}=keep")
    return ";".join(connect), ";".join(delete)


def stage_remote_drives(prefix, scenario, now):
    """Each remote computer's drives as folders of the prefix that Wine
    finds for \\\\NAME\\D$ (dosdevices/unc/NAME/D$), with their files. A share
    that refuses access refuses it by its folder's permissions; the others
    that are not up are answered by the stand-in: returns them as
    ("NAME\\D$", status)."""
    refused = []
    for name, remote in sorted((scenario.get("remotes") or {}).items()):
        files = remote.get("files") or []
        shares = {k.upper().rstrip("$"): v for k, v in (remote.get("shares") or {}).items()}
        drives = {f["path"][0].upper() for f in files} | set(shares) | {"C"}
        unc = os.path.join(prefix, "dosdevices", "unc", name)
        os.makedirs(unc)
        for drive in sorted(drives):
            root = os.path.join(prefix, "remote-drives", name, drive)
            os.makedirs(root, exist_ok=True)
            os.symlink(root, os.path.join(unc, drive + "$"))
            # Each drive's folder is staged as host_path stages drive C:.
            mine = [dict(f, path="C:" + f["path"][2:]) for f in files
                    if f["path"][0].upper() == drive]
            stage_files(root, mine, now)
            for entry in mine:
                if entry.get("denyAccess"):
                    os.chmod(host_path(root, entry["path"]), 0)
            state = shares.get(drive, "up")
            if state == "denied":
                os.chmod(root, 0)
            elif state != "up":
                refused.append((f"{name}\\{drive}$", SHARE_STATUS.get(state, state)))
    return refused


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
    for helper in ("userenv.dll", "wmilocator.dll"):
        shutil.copy(os.path.join(helpers, helper), os.path.join(tools, helper))
    local = scenario.get("local") or {}
    stage_files(drive_c, local.get("files") or [], now)
    # What refuses access refuses it by its Unix permissions, which the Wine
    # processes meet as Windows' programs meet an ACL: they run without
    # root's power to pass over them (WITHOUT_DAC_OVERRIDE).
    for entry in local.get("files") or []:
        if entry.get("denyAccess"):
            os.chmod(host_path(drive_c, entry["path"]), 0)
    refused_shares = stage_remote_drives(prefix, scenario, now)

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
    env["WRENFOLD_TEST_REMOTES"] = ";".join(
        f"{name}={remote_registry_answer(remote)}"
        for name, remote in (scenario.get("remotes") or {}).items())
    env["WRENFOLD_TEST_SHARES"] = ";".join(f"{share}={code}" for share, code in refused_shares)
    env["WRENFOLD_TEST_WMI"], env["WRENFOLD_TEST_WMI_DELETE"] = wmi_answers(scenario)

    console = scenario.get("console")
    keys = [key_sequence(k) for k in (console or {}).get("keys", [])]
    terminal = Terminal() if console is not None else None
    err_path = os.path.join(scratch, "stderr.txt")
    try:
        # The server starts first, in a session of its own, with the
        # scenario's clock and time zone; it ends a while after its last
        # client if this script is stopped before it can end it.
        subprocess.run(WITHOUT_DAC_OVERRIDE + ["wineserver", "-p10"], env=env,
                       start_new_session=True, check=True)
        # The program writes its standard output to a file of its own (the
        # job's "output"); the helper's standard output is the terminal, on
        # which Wine's console draws what the program writes to CONOUT$.
        with open(err_path, "wb") as err:
            command = WITHOUT_DAC_OVERRIDE + ["wine", os.path.join(helpers, "wfstage.exe"),
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
        raise ScenarioError(f"the staging helper failed (exit {process.returncode})\n{errors}")
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
    remotes = {name: {"profileKeys": found["subkeys"] if "enumfailed" not in found else None}
               for name, found in results["remotes"].items()}
    state = {"profileKeys": results["subkeys"] if "enumfailed" not in results else None,
             "remotes": remotes, "folderExists": folder_exists, "fileExists": file_exists,
             "calls": log["calls"],
             "echo": console_echo(bytes(terminal.echo)) if terminal else "",
             "drawEcho": echo_as_wine_draws,
             # Only a program that ended normally reports what it left open.
             "openHandles": log["openHandles"] if log["detached"] else None}
    return stdout, results["exit"], state, errors, results.get("name", ""), scratch

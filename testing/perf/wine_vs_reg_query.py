#!/usr/bin/env python3
"""The real wrenfold.exe under Wine against Wine's own `reg query`.

Stages a Wine prefix with a number of profiles (ProfileList subkeys with a
ProfileImagePath, folders with an NTUSER.DAT written just now, so that
nothing is old enough to be deleted), then times, alternately, the command

    wine wrenfold.exe /MIN:30 /y

and the baseline

    wine reg query "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList" /s

on the same prefix, with one wineserver kept running for both. Prints the
median of each and their ratio, in wall time and in processor time (the
program's and the wineserver's: the figure that other work on the machine
hardly moves). The wineserver is stopped at the end.
"""

import argparse
import os
import resource
import shutil
import statistics
import subprocess
import sys
import time

# The Wine environment is the scenario runner's own.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scenarios"))
from scenario_runner.wine_stage import wine_env  # noqa: E402

PROFILE_LIST = r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\ProfileList"
PROFILE_LIST_KEY = r"HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList"
SID_PREFIX = "S-1-5-21-7-7-7-"
FOLDER = r"C:\users\bench"
TIMEOUT_SECONDS = 600


def run(command, env, **kwargs):
    return subprocess.run(command, env=env, stdin=subprocess.DEVNULL, timeout=TIMEOUT_SECONDS,
                          **kwargs)


def expand_sz(text):
    """A REG_EXPAND_SZ value in .reg form: hex(2): and the UTF-16LE bytes."""
    data = (text + "\0").encode("utf-16-le")
    return "hex(2):" + ",".join(f"{b:02x}" for b in data)


def registry_file(profiles):
    lines = ["Windows Registry Editor Version 5.00", ""]
    for n in range(profiles):
        lines.append(f"[{PROFILE_LIST_KEY}\\{SID_PREFIX}{1000 + n}]")
        lines.append(f'"ProfileImagePath"={expand_sz(FOLDER + chr(92) + f"User{n:05d}")}')
        lines.append("")
    return "\r\n".join(lines) + "\r\n"


def stage(prefix, profiles, env):
    """Makes the prefix afresh: wineboot, the folders, the registry entries."""
    shutil.rmtree(prefix, ignore_errors=True)
    os.makedirs(os.path.dirname(prefix), exist_ok=True)
    print(f"Making the Wine prefix {prefix} ...", flush=True)
    run(["wineboot", "-i"], env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
        check=True)
    run(["wineserver", "-w"], env)
    bench = os.path.join(prefix, "drive_c", "users", "bench")
    for n in range(profiles):
        folder = os.path.join(bench, f"User{n:05d}")
        os.makedirs(folder)
        with open(os.path.join(folder, "NTUSER.DAT"), "wb") as hive:
            hive.write(b"\0" * 4096)
    reg_path = os.path.join(os.path.dirname(prefix), "profiles.reg")
    with open(reg_path, "w", encoding="utf-16", newline="") as f:
        f.write(registry_file(profiles))
    run(["wine", "reg", "import", reg_path], env, stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL, check=True)
    run(["wineserver", "-w"], env)


def wineserver_pid(prefix):
    """The wineserver of this prefix (others may run for other prefixes)."""
    wanted = f"WINEPREFIX={prefix}".encode()
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                program = os.path.basename(f.read().split(b"\0")[0])
            with open(f"/proc/{entry}/environ", "rb") as f:
                environment = f.read().split(b"\0")
        except OSError:
            continue
        if program.startswith(b"wineserver") and wanted in environment:
            return int(entry)
    return None


def cpu_seconds(pid):
    """Processor time of a process so far (user and system)."""
    if pid is None:
        return 0.0
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def children_cpu_seconds():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def timed(command, env, output, server):
    """Wall time, and processor time of the program and the wineserver: the
    second hardly moves with other work on the machine."""
    with open(output, "wb") as out:
        cpu_before = children_cpu_seconds() + cpu_seconds(server)
        start = time.perf_counter()
        status = run(command, env, stdout=out, stderr=subprocess.DEVNULL).returncode
        spent = time.perf_counter() - start
        cpu = children_cpu_seconds() + cpu_seconds(server) - cpu_before
    return spent, cpu, status


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exe", required=True, help="wrenfold.exe to run")
    parser.add_argument("--work-dir", required=True, help="folder for the prefix and outputs")
    parser.add_argument("--profiles", type=int, default=1000)
    parser.add_argument("--runs", type=int, default=9, help="timed runs of each (median)")
    args = parser.parse_args()

    work = os.path.abspath(args.work_dir)
    prefix = os.path.join(work, "prefix")
    env = wine_env(prefix)
    command = ["wine", os.path.abspath(args.exe), "/MIN:30", "/y"]
    baseline = ["wine", "reg", "query", PROFILE_LIST, "/s"]
    command_out = os.path.join(work, "wrenfold.out")
    baseline_out = os.path.join(work, "reg-query.out")
    try:
        stage(prefix, args.profiles, env)
        # One server for every run, started before them: its start-up is in
        # neither figure.
        run(["wineserver", "-p"], env, check=True)
        server = wineserver_pid(prefix)
        timed(command, env, command_out, server)  # first runs warm the caches
        timed(baseline, env, baseline_out, server)
        times = {"wrenfold": [], "reg": []}
        cpu = {"wrenfold": [], "reg": []}
        for _ in range(args.runs):
            for name, program, out in (("wrenfold", command, command_out),
                                       ("reg", baseline, baseline_out)):
                spent, used, status = timed(program, env, out, server)
                if status != 0:
                    sys.exit(f"{name} ended with {status}; its output is in {out}")
                times[name].append(spent)
                cpu[name].append(used)
    finally:
        run(["wineserver", "-k"], env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    with open(command_out, "rb") as f:
        report = f.read().decode("latin-1")
    with open(baseline_out, "rb") as f:
        listed = f.read().decode("latin-1", "replace").count(SID_PREFIX)
    if "Profiles Deleted=0" not in report or report.count("Action=Skipping (Date)") < args.profiles:
        sys.exit(f"wrenfold.exe did not keep every profile; its output is in {command_out}")
    if listed != args.profiles:
        sys.exit(f"reg query listed {listed} of {args.profiles} profiles")

    print(f"Wine, {args.profiles} young profiles, {args.runs} runs each, "
          f"wineserver {'found' if server else 'NOT found: its time is left out'}")
    for title, figures in (("Wall time", times),
                           ("Processor time, program and wineserver", cpu)):
        command_median = statistics.median(figures["wrenfold"])
        baseline_median = statistics.median(figures["reg"])
        print(f"{title}, median (all runs):")
        print(f"  wrenfold.exe /MIN:30 /y       {command_median:8.3f} s  "
              f"({', '.join(f'{t:.3f}' for t in figures['wrenfold'])})")
        print(f"  reg query ProfileList /s      {baseline_median:8.3f} s  "
              f"({', '.join(f'{t:.3f}' for t in figures['reg'])})")
        print(f"  ratio                         {command_median / baseline_median:8.2f}")


if __name__ == "__main__":
    main()

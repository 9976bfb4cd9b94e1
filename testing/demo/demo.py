#!/usr/bin/env python3
"""Runs wrenfold.exe under Wine on a demo computer with one profile of each kind.

  demo.py --exe build/win/wrenfold.exe --helpers build/native/testing/wine \
      --work-dir build/demo [--interactive | --yes]

The computer is described in computer.json beside this script, in the
scenario format of docs/SCENARIOS.md, and staged by the scenario
runner's own code (testing/scenarios/scenario_runner): a fresh copy of the
runner's template prefix, the ProfileList keys written through wfstage.exe, the profile
folders with their NTUSER.DAT times, the in-use hive held open while the
command runs, and the stand-in userenv.dll so that deletions work.

The command sees the real clock: file times are staged relative to now.
With --interactive it runs on this terminal and the person answers each
prompt; with --yes it runs with /y and the result must match the file's
"expect" (exit code, ProfileList subkeys, folders), or this script fails.
Afterwards the ProfileList subkeys and profile folders are shown before
and after the run.
"""

import argparse
import ntpath
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scenarios"))
# The scenario runner's staging.
from scenario_runner import ScenarioError, cli, load, times, wine_limits, wine_stage  # noqa: E402

COMPUTER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "computer.json")
ARGV0 = cli.PROGRAMS["wrenfold"]["argv0"]
PROFILE_KEY_PREFIX = wine_stage.PROFILE_LIST + "\\"
EXIT_MEANINGS = {0: "success", 1223: "a deletion was declined at the prompt"}


def demo_job(scenario, argv0, yes):
    """The scenario runner's job for SCENARIO, changed for a demo: the command writes
    to this terminal (no output file), ProfileList is listed once before
    the run as well as after it, and /y is added when YES."""
    if yes:
        scenario = dict(scenario, arguments=list(scenario.get("arguments", [])) + ["/y"])
    lines = [line for line in wine_stage.job_lines(scenario, argv0, os.devnull).splitlines()
             if not line.startswith("output ")]
    enum = f"enum {wine_stage.utf16_field(wine_stage.PROFILE_LIST)}"
    first_step_of_run = next(i for i, line in enumerate(lines)
                             if line.startswith(("hold ", "run ")))
    lines.insert(first_step_of_run, enum)
    return "".join(line + "\n" for line in lines)


def split_results(text):
    """The result file of wfstage.exe for a demo job: the subkeys listed
    before the run, its exit code, the subkeys listed after it, the
    computer name."""
    results = {"before": [], "exit": None, "after": [], "name": ""}
    for line in text.splitlines():
        label, field = line.split(" ", 1)
        if label == "exit":
            results["exit"] = int(field)
        elif label == "enumfailed":
            raise ScenarioError(f"ProfileList could not be listed (error {field})")
        elif label in ("subkey", "name"):
            value = bytes.fromhex(field[1:]).decode("utf-16-le")
            if label == "name":
                results["name"] = value
            else:
                results["before" if results["exit"] is None else "after"].append(value)
        else:
            raise ScenarioError(f"unknown line in the staging helper's results: {line!r}")
    return results


def profile_paths(scenario):
    """SID -> ProfileImagePath text, for the demo's ProfileList subkeys."""
    paths = {}
    for key_path, key in ((scenario.get("local") or {}).get("registry") or {}).items():
        if key_path.upper().startswith(PROFILE_KEY_PREFIX.upper()):
            value = (key.get("values") or {}).get("ProfileImagePath")
            text = value if isinstance(value, str) else (value or {}).get("text", "")
            paths[key_path[len(PROFILE_KEY_PREFIX):]] = text
    return paths


def expanded(path):
    """A profile path as Wine expands it for the command."""
    for name, value in (("%SystemDrive%", "C:"), ("%SystemRoot%", "C:\\windows")):
        if path.upper().startswith(name.upper()):
            path = value + path[len(name):]
    return path


def table(title, rows):
    """ROWS: (name, before, after) booleans; printed as present/removed."""
    width = max(len(name) for name, _, _ in rows)
    print(title)
    print(f"  {'':{width}}  before   after")
    for name, before, after in rows:
        def mark(present):
            return "yes" if present else "-"
        change = "   (removed)" if before and not after else ""
        print(f"  {name:{width}}  {mark(before):7}  {mark(after)}{change}")


def check_expect(scenario, results, folder_exists):
    """Problems with a /y run against the demo file's "expect"."""
    expect = scenario["expect"]
    problems = []
    if results["exit"] != expect["exit"]:
        problems.append(f"exit code {results['exit']}, expected {expect['exit']}")
    if "profileKeys" in expect and results["after"] != expect["profileKeys"]:
        problems.append(f"ProfileList subkeys {results['after']}, "
                        f"expected {expect['profileKeys']}")
    folders = expect.get("folders") or {}
    problems += [f"{p} is missing" for p in folders.get("present", []) if not folder_exists(p)]
    problems += [f"{p} still exists" for p in folders.get("absent", []) if folder_exists(p)]
    return problems


def ticks_now():
    return times.UNIX_EPOCH_TICKS + int(time.time()) * times.TICKS_PER_SECOND


def run(options):
    scenario = load.load_scenario(COMPUTER)
    reasons = wine_limits.wine_obstacles(scenario)
    if reasons:
        raise ScenarioError("the demo computer cannot be staged: " + "; ".join(reasons))
    os.makedirs(options.work_dir, exist_ok=True)
    if not os.path.exists(os.path.join(options.work_dir, "wine-template")):
        print("Preparing a Wine prefix for the demo (once; about a minute)...", flush=True)
    template = wine_stage.ensure_template(options.work_dir)
    prefix = os.path.join(options.work_dir, "prefix")
    shutil.rmtree(prefix, ignore_errors=True)
    wine_stage.copy_prefix(template, prefix)
    drive_c = os.path.join(prefix, "drive_c")
    tools = wine_stage.host_path(drive_c, ntpath.dirname(ARGV0))
    os.makedirs(tools, exist_ok=True)
    shutil.copy(options.exe, os.path.join(tools, ntpath.basename(ARGV0)))
    shutil.copy(os.path.join(options.helpers, "userenv.dll"), os.path.join(tools, "userenv.dll"))
    wine_stage.stage_files(drive_c, scenario["local"].get("files") or [], ticks_now())
    paths = {sid: expanded(path) for sid, path in profile_paths(scenario).items()}

    def folder_exists(path):
        return os.path.isdir(wine_stage.host_path(drive_c, path))

    folders_before = {path: folder_exists(path) for path in paths.values()}

    job = os.path.join(options.work_dir, "job.txt")
    result = os.path.join(options.work_dir, "result.txt")
    with open(job, "w") as f:
        f.write(demo_job(scenario, ARGV0, yes=not options.interactive))
    if os.path.exists(result):
        os.remove(result)
    env = wine_stage.wine_env(prefix)
    # The stand-in profile deletion service beside the command.
    env["WINEDLLOVERRIDES"] = "userenv=n,b;mscoree,mshtml="
    shown = " ".join(scenario["arguments"] + ([] if options.interactive else ["/y"]))
    print(f"\n== C:\\Tools\\wrenfold.exe {shown}", flush=True)
    try:
        # The server is started apart and detached from this terminal, so
        # that it does not hold this script's standard output open.
        subprocess.run(["wineserver", "-p10"], env=env, start_new_session=True, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        done = subprocess.run(
            ["wine", os.path.join(options.helpers, "wfstage.exe"), wine_stage.windows_path_of(job),
             wine_stage.windows_path_of(result)],
            env=env, stdin=None if options.interactive else subprocess.DEVNULL)
    finally:
        subprocess.run(["wineserver", "-k"], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
    if done.returncode != 0 or not os.path.exists(result):
        raise ScenarioError(f"the staging helper failed (exit {done.returncode})")
    with open(result) as f:
        results = split_results(f.read())
    if results["exit"] is None:
        raise ScenarioError("the command did not run")
    code = results["exit"]
    meaning = EXIT_MEANINGS.get(code, "see the exit code table in README.md")
    print(f"(exit code {code}: {meaning})\n")

    names = {sid: f"{sid}  {path}" for sid, path in paths.items()}
    keys = results["before"] + [k for k in results["after"] if k not in results["before"]]
    table("ProfileList subkeys", [(names.get(k, k), k in results["before"],
                                   k in results["after"]) for k in keys])
    table("Profile folders", [(p, folders_before[p], folder_exists(p)) for p in paths.values()])

    if not options.interactive:
        problems = check_expect(scenario, results, folder_exists)
        if problems:
            print("\nThe demo did not end as expected:\n  " + "\n  ".join(problems))
            return 1
    return 0


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exe", required=True, help="wrenfold.exe")
    parser.add_argument("--helpers", required=True, help="folder with wfstage.exe and userenv.dll")
    parser.add_argument("--work-dir", required=True, help="folder for the demo's Wine prefixes")
    mode = parser.add_mutually_exclusive_group(required=True)
    mode.add_argument("--interactive", action="store_true", help="answer the prompts here")
    mode.add_argument("--yes", action="store_true", help="run with /y and check the result")
    options = parser.parse_args(argv)
    for name in ("exe", "helpers", "work_dir"):
        setattr(options, name, os.path.abspath(getattr(options, name)))
    for path in (options.exe, os.path.join(options.helpers, "wfstage.exe"),
                 os.path.join(options.helpers, "userenv.dll")):
        if not os.path.isfile(path):
            print(f"demo: {path} is not built", file=sys.stderr)
            return 1
    try:
        return run(options)
    except (ScenarioError, OSError, subprocess.SubprocessError) as problem:
        print(f"demo: {problem}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())

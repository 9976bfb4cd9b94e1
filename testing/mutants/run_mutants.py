#!/usr/bin/env python3
"""Plants the faults of a list one at a time in a copy of the tree and says
which ones no test catches.

The list (mutants.json beside this file) is a JSON array of objects:

  {"id": "age-limit-inclusive",            short and unique
   "file": "src/engine/ProfileTests.cpp",  relative to the tree
   "find": "days >= static_cast",          text found exactly once in the file
   "replace": "days > static_cast",        what it becomes
   "fault": "a profile exactly as old as the minimum is kept",
   "runner": "native",                     native (default) or wine, see RUNNERS
   "tests": "walk\\.hive-dates",           optional: a ctest -R pattern tried first
   "equivalent": "why no test can tell"}   optional: not run, not counted

Each fault is planted in a copy of the tree (build/mutants/tree, refreshed
from the working tree at every start, file times kept where the contents did
not change, so that the builds there stay incremental), the copy's builds
are brought up to date, and the runner's ctest selection runs with
--stop-on-failure: the tests named by "tests" first, then the whole
selection if they all passed. The file is put back before the next fault.
A fault is "killed" when a test fails or times out, "survived" when every
test passes, "invalid" when it does not build and "stale" when its text is
not found exactly once (the code moved: write the entry again).

  run_mutants.py [--only id,id] [--file PATTERN] [--work build/mutants]

Exit status 0 only when the baseline passes, no entry is invalid or stale,
and at least --min-kill percent (default 95) of the faults not marked
equivalent are killed. The results go to <work>/results.json.
"""
import argparse
import fnmatch
import json
import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))

# What each runner rebuilds and which tests it runs; ctest's arguments come
# after "ctest --test-dir build/native".
RUNNERS = {
    # The engine, the command line, the console: the tests that need no Wine.
    "native": {"build": ["build/native"], "select": ["-LE", "wine"]},
    # The Windows backend: the real wrenfold.exe under Wine.
    "wine": {"build": ["build/win", "build/native"], "select": ["-L", "wine"]},
}

BUILD_TIMEOUT = 900
TEST_TIMEOUT = 900


def tree_files(root):
    """The files of the working tree that git would commit: tracked and
    untracked, without the ignored ones."""
    out = subprocess.run(["git", "-C", root, "ls-files", "-z", "--cached", "--others",
                          "--exclude-standard"], capture_output=True, check=True).stdout
    return sorted({p for p in out.decode().split("\0") if p and os.path.isfile(os.path.join(root, p))})


def refresh_copy(root, copy):
    """Makes copy hold exactly the tree's files. Files whose bytes did not
    change keep their time, so the builds in the copy stay incremental."""
    wanted = set(tree_files(root))
    for name in wanted:
        source, target = os.path.join(root, name), os.path.join(copy, name)
        with open(source, "rb") as f:
            data = f.read()
        try:
            with open(target, "rb") as f:
                if f.read() == data:
                    continue
        except FileNotFoundError:
            os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as f:
            f.write(data)
        shutil.copymode(source, target)
    for folder, dirs, files in os.walk(copy):
        rel = os.path.relpath(folder, copy)
        if rel == "build" or rel.startswith("build" + os.sep):
            dirs[:] = []
            continue
        for name in files:
            path = os.path.normpath(os.path.join(rel, name))
            if path not in wanted:
                os.remove(os.path.join(folder, name))


def run(command, cwd, timeout):
    """(exit status or None on timeout, output)."""
    try:
        done = subprocess.run(command, cwd=cwd, capture_output=True, text=True, timeout=timeout)
        return done.returncode, done.stdout + done.stderr
    except subprocess.TimeoutExpired as expired:
        out = expired.stdout or ""
        return None, out.decode("utf-8", "replace") if isinstance(out, bytes) else out


def failed_tests(output):
    """The tests ctest lists as failed, or as not run after a failure."""
    names, listing = [], False
    for line in output.splitlines():
        line = line.strip()
        if line.startswith("The following tests"):
            listing = "FAILED" in line
            continue
        if listing and " - " in line and line.endswith(")"):
            names.append(line.split(" - ", 1)[1].split(" ", 1)[0])
    return names


def build(copy, runner):
    for folder in RUNNERS[runner]["build"]:
        status, out = run(["cmake", "--build", folder], copy, BUILD_TIMEOUT)
        if status != 0:
            return out[-3000:]
    return None


def test(copy, runner, pattern=None):
    """None when every selected test passed, else the failing tests."""
    command = ["ctest", "--test-dir", "build/native", "-j2", "--stop-on-failure",
               "--timeout", "300"] + RUNNERS[runner]["select"]
    if pattern:
        command += ["-R", pattern]
    status, out = run(command, copy, TEST_TIMEOUT)
    if status is None:
        return ["(the tests timed out)"]
    if status == 0:
        return None
    return failed_tests(out) or ["(ctest failed: " + out.strip().splitlines()[-1] + ")"]


def configure(copy):
    """Both builds of the copy, configured as the Makefile configures them."""
    status, out = run(["make", "win", "native"], copy, BUILD_TIMEOUT * 2)
    if status != 0:
        raise SystemExit("the copy does not build:\n" + out[-3000:])


def load(path):
    with open(path, encoding="utf-8") as f:
        mutants = json.load(f)
    seen = set()
    for m in mutants:
        missing = {"id", "file", "find", "replace", "fault"} - set(m)
        unknown = set(m) - {"id", "file", "find", "replace", "fault", "runner", "tests",
                            "equivalent"}
        if missing or unknown:
            raise SystemExit(f"{m.get('id', m)}: missing {sorted(missing)}, unknown {sorted(unknown)}")
        if m["id"] in seen:
            raise SystemExit(f"{m['id']}: given twice")
        if m.get("runner", "native") not in RUNNERS:
            raise SystemExit(f"{m['id']}: no runner {m['runner']!r}")
        seen.add(m["id"])
    return mutants


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--list", default=os.path.join(HERE, "mutants.json"))
    parser.add_argument("--work", default=os.path.join(ROOT, "build", "mutants"))
    parser.add_argument("--only", help="comma-separated ids")
    parser.add_argument("--file", help="only the faults in files matching this pattern")
    parser.add_argument("--min-kill", type=float, default=95.0)
    parser.add_argument("--check-equivalent", action="store_true",
                        help="run the faults marked equivalent too (each should survive)")
    args = parser.parse_args()

    mutants = load(args.list)
    if args.only:
        ids = set(args.only.split(","))
        unknown = ids - {m["id"] for m in mutants}
        if unknown:
            raise SystemExit(f"no such fault: {', '.join(sorted(unknown))}")
        mutants = [m for m in mutants if m["id"] in ids]
    if args.file:
        mutants = [m for m in mutants if fnmatch.fnmatch(m["file"], args.file)]

    started = time.monotonic()
    copy = os.path.join(args.work, "tree")
    os.makedirs(copy, exist_ok=True)
    refresh_copy(ROOT, copy)
    configure(copy)
    runners = sorted({m.get("runner", "native") for m in mutants})
    for runner in runners:
        failed = test(copy, runner)
        if failed:
            raise SystemExit(f"the {runner} tests fail without any fault: {', '.join(failed)}")
    print(f"baseline passed ({', '.join(runners)}) in {time.monotonic() - started:.0f} s",
          flush=True)

    results = []
    for m in mutants:
        runner = m.get("runner", "native")
        result = {"id": m["id"], "file": m["file"], "fault": m["fault"], "runner": runner}
        if m.get("equivalent") and not args.check_equivalent:
            result["outcome"] = "equivalent"
            results.append(result)
            continue
        path = os.path.join(copy, m["file"])
        with open(path, "rb") as f:
            original = f.read()
        text = original.decode("utf-8")
        if text.count(m["find"]) != 1:
            result["outcome"] = "stale"
        else:
            begun = time.monotonic()
            with open(path, "wb") as f:
                f.write(text.replace(m["find"], m["replace"]).encode("utf-8"))
            try:
                error = build(copy, runner)
                if error is not None:
                    result["outcome"], result["detail"] = "invalid", error
                else:
                    # The likely tests first; the whole selection only if
                    # they all pass (a pattern that matches none passes).
                    failed = test(copy, runner, m.get("tests")) if m.get("tests") else None
                    if failed is None:
                        failed = test(copy, runner)
                    result["outcome"] = "killed" if failed else "survived"
                    if failed:
                        result["by"] = failed
            finally:
                with open(path, "wb") as f:
                    f.write(original)
            result["seconds"] = round(time.monotonic() - begun, 1)
        if m.get("equivalent"):
            result["equivalent"] = m["equivalent"]
        results.append(result)
        by = " by " + ", ".join(result.get("by", [])[:2]) if result.get("by") else ""
        print(f"{result['outcome']:9} {m['id']}{by}", flush=True)

    # Put the copy's builds back on the tree as it is.
    for runner in runners:
        build(copy, runner)

    counts = {}
    for r in results:
        counts[r["outcome"]] = counts.get(r["outcome"], 0) + 1
    judged = [r for r in results if r["outcome"] in ("killed", "survived")]
    killed = sum(1 for r in judged if r["outcome"] == "killed")
    rate = 100.0 * killed / len(judged) if judged else 100.0
    with open(os.path.join(args.work, "results.json"), "w", encoding="utf-8") as f:
        json.dump(results, f, indent=1)
    print()
    for r in results:
        if r["outcome"] in ("survived", "invalid", "stale"):
            print(f"{r['outcome']}: {r['id']} ({r['file']}): {r['fault']}")
            if r["outcome"] == "invalid":
                print("  " + r["detail"].strip().splitlines()[-1])
    print(f"{len(results)} faults: " + ", ".join(f"{n} {k}" for k, n in sorted(counts.items())) +
          f"; {killed} of {len(judged)} caught ({rate:.1f} %) in "
          f"{(time.monotonic() - started) / 60:.1f} min")
    ok = rate >= args.min_kill and not counts.get("invalid") and not counts.get("stale")
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()

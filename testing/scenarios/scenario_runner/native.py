"""The native runner: the native program over the simulation, staged from
the scenario, which writes its state at exit."""

import json
import os
import subprocess
import tempfile

from . import ScenarioError
from .times import resolved_scenario


def same_text(a, b):
    """Names compare case-insensitively for A to Z only, as the command does."""
    fold = str.maketrans("ABCDEFGHIJKLMNOPQRSTUVWXYZ", "abcdefghijklmnopqrstuvwxyz")
    return a.translate(fold) == b.translate(fold)


def run_native(scenario, path, program_file, argv0, work_dir, timeout):
    with tempfile.TemporaryDirectory(prefix="scenario.", dir=work_dir) as scratch:
        state_path = os.path.join(scratch, "state.json")
        # The simulation gets the scenario with its times resolved here.
        simulation_path = os.path.join(scratch, "scenario.json")
        with open(simulation_path, "w", encoding="utf-8") as f:
            json.dump(resolved_scenario(scenario), f, ensure_ascii=False)
        env = {k: v for k, v in os.environ.items() if not k.startswith("WRENFOLD_")}
        env["WRENFOLD_SIMULATION"] = simulation_path
        env["WRENFOLD_SIMULATION_STATE"] = state_path
        try:
            done = subprocess.run([argv0] + list(scenario.get("arguments", [])),
                                  executable=program_file, env=env, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)
        except subprocess.TimeoutExpired:
            raise ScenarioError(f"the native program did not end within {timeout} s")
        errors = done.stderr.decode("utf-8", "replace")
        if done.returncode < 0:
            raise ScenarioError(f"the native program died of signal {-done.returncode}\n{errors}")
        try:
            with open(state_path, "rb") as f:
                state = json.loads(f.read().decode("utf-8"))
        except (OSError, ValueError):
            raise ScenarioError(f"the native program (exit {done.returncode}) "
                                f"wrote no state file\n{errors}")
    # A POSIX exit status keeps only the low 8 bits; the state file has them all.
    exit_code = state.get("exitCode", done.returncode)
    if exit_code & 0xFF != done.returncode:
        raise ScenarioError(f"exit status {done.returncode} disagrees with "
                            f"the state's exit code {exit_code}")
    local = state.get("local", {})

    def lookup(paths):
        if paths is None:
            return None
        return lambda p: any(same_text(p.rstrip("\\"), f.rstrip("\\")) for f in paths)

    result = {
        "profileKeys": local.get("profileKeys"),
        "remotes": state.get("remotes", {}),
        "folderExists": lookup(local.get("folders", [])),
        # Fields a simulation may not write yet count only when an
        # expectation needs them; openHandles is checked whenever present.
        "fileExists": lookup(local.get("files")),
        "calls": state.get("calls"),
        "echo": state.get("consoleEcho"),
        "openHandles": state.get("openHandles"),
        "exactFigures": True,
    }
    return done.stdout, exit_code, result, errors

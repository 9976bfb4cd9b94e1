"""Reading a scenario: the file, checked against the scenario schema, its
profile shorthand expanded into keys and files, and the standard output it
expects."""

import json
import os
import re

from . import ScenarioError

# The schema sits beside this package, with the runner's command.
SCHEMA_PATH = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                           "scenario.schema.json")


def schema_problems(scenario):
    """What the scenario schema finds wrong with SCENARIO, one line per place
    (empty: nothing). Unknown keys are refused everywhere, so a misspelt key
    fails instead of being ignored."""
    try:
        import jsonschema
    except ImportError:
        raise ScenarioError("checking scenarios needs python3-jsonschema "
                            "(scripts/install-deps.sh installs it)")
    with open(SCHEMA_PATH, "rb") as f:
        schema = json.loads(f.read().decode("utf-8"))
    validator = jsonschema.Draft202012Validator(schema)
    problems = []
    for error in sorted(validator.iter_errors(scenario), key=lambda e: list(e.absolute_path)):
        # Of the alternatives of a oneOf, name the one that came closest.
        error = jsonschema.exceptions.best_match([error])
        place = "".join(f"[{p}]" if isinstance(p, int) else f".{p}" for p in error.absolute_path)
        problems.append(f"{place[1:] if place.startswith('.') else place or 'top level'}: "
                        f"{error.message}")
    return problems


def load_scenario(path):
    try:
        with open(path, "rb") as f:
            scenario = json.loads(f.read().decode("utf-8"))
    except (OSError, ValueError) as problem:
        raise ScenarioError(f"cannot read {path}: {problem}")
    problems = schema_problems(scenario)
    if problems:
        raise ScenarioError(f"{path} does not follow the scenario format:\n  "
                            + "\n  ".join(problems))
    return expanded(scenario)


CURRENT_VERSION = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion"
PROFILE_LIST = CURRENT_VERSION + "\\ProfileList"
USUAL_SYSTEM_ROOT = "C:\\Windows"

# The ProfileList values of a usual computer, stated in a scenario only where
# a case needs them otherwise (null removes one).
PROFILE_LIST_VALUES = {
    "ProfilesDirectory": {"type": "REG_EXPAND_SZ", "text": "%SystemDrive%\\Users"},
    "Public": "C:\\Users\\Public",
    "Default": "C:\\Users\\Default",
}


def expanded(scenario):
    """SCENARIO with its short forms written out (docs/SCENARIOS.md): a run
    of one character for each {C*n}, the ProfileList path for {ProfileList}
    in the arguments, a remote computer's CurrentBuildNumber and SystemRoot
    values for its build and systemRoot, and the ProfileList keys and files of each computer's profiles."""
    scenario = repeated(scenario)
    if "arguments" in scenario:
        scenario["arguments"] = [a.replace("{ProfileList}", PROFILE_LIST)
                                 for a in scenario["arguments"]]
    for remote in scenario.get("remotes", {}).values():
        values = {}
        if "build" in remote:
            values["CurrentBuildNumber"] = remote.pop("build")
        # A computer with a build has the SystemRoot of a usual one unless
        # the scenario says otherwise (null leaves it out).
        system_root = remote.pop("systemRoot", USUAL_SYSTEM_ROOT if values else None)
        if system_root is not None:
            values["SystemRoot"] = system_root
        if values:
            add_key(remote.setdefault("registry", {}), CURRENT_VERSION, {"values": values})
    for computer in [scenario.get("local")] + list(scenario.get("remotes", {}).values()):
        if computer is None or "profiles" not in computer:
            continue
        registry = computer.setdefault("registry", {})
        files = computer.setdefault("files", [])
        values = dict(PROFILE_LIST_VALUES)
        values.update(computer.pop("profileList", {}))
        add_key(registry, PROFILE_LIST,
                {"values": {k: v for k, v in values.items() if v is not None}})
        for profile in computer.pop("profiles"):
            entry = {"ProfileImagePath": {"type": "REG_EXPAND_SZ", "text": profile["path"]}}
            if "roaming" in profile:
                entry["CentralProfile"] = profile["roaming"]
            key = {"values": entry}
            for right in ("denyRead", "denyDelete"):
                if profile.get(right):
                    key[right] = True
            add_key(registry, PROFILE_LIST + "\\" + profile["sid"], key)
            folder = profile.get("folder", "present")
            if folder == "denied":
                files.append({"path": profile["path"], "directory": True, "denyAccess": True})
            elif folder == "present" and profile.get("hive") is None:
                files.append({"path": profile["path"], "directory": True})
            elif folder == "present":
                hive = {"path": profile["path"] + "\\NTUSER.DAT", "modified": profile["hive"]}
                if profile.get("inUse"):
                    hive["heldOpen"] = True
                files.append(hive)
    return scenario


# {C*n}: the character C n times, for the long names whose length is the case.
REPEAT = re.compile(r"\{(.)\*([0-9]+)\}")


def repeated(value):
    """VALUE (a scenario, or any part of one) with every {C*n} in its texts
    written out."""
    if isinstance(value, str):
        return REPEAT.sub(lambda m: m.group(1) * int(m.group(2)), value)
    if isinstance(value, list):
        return [repeated(item) for item in value]
    if isinstance(value, dict):
        return {key: repeated(item) for key, item in value.items()}
    return value


def add_key(registry, name, key):
    if name in registry:
        raise ScenarioError(f"the key {name} is given both in short and by registry")
    registry[name] = key


def scenario_name(path):
    return os.path.splitext(os.path.basename(path))[0]


def expected_stdout(scenario, path):
    name = scenario["expect"].get("stdout", scenario_name(path) + ".out")
    out_path = os.path.join(os.path.dirname(os.path.abspath(path)), name)
    try:
        with open(out_path, "rb") as f:
            text = f.read().decode("latin-1")
        return repeated(text).encode("latin-1"), out_path
    except OSError:
        raise ScenarioError(f"the expected output {out_path} is missing")

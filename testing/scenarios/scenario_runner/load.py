"""Reading a scenario: the file, checked against the scenario schema, and
the standard output it expects."""

import json
import os

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
    return scenario


def scenario_name(path):
    return os.path.splitext(os.path.basename(path))[0]


def expected_stdout(scenario, path):
    name = scenario["expect"].get("stdout", scenario_name(path) + ".out")
    out_path = os.path.join(os.path.dirname(os.path.abspath(path)), name)
    try:
        with open(out_path, "rb") as f:
            return f.read(), out_path
    except OSError:
        raise ScenarioError(f"the expected output {out_path} is missing")

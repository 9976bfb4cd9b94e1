"""The scenario runner: one scenario file (docs/SCENARIOS.md) run on one
runner and checked against what it expects. run_scenario.py beside this
package is its command; its modules:

  load     reading a scenario (checked against the schema) and the
           standard output it expects
  times    the scenario's clock and file times, as file-time ticks
"""


class ScenarioError(Exception):
    """The scenario cannot be run as written (or the runner itself failed)."""


class Unstageable(ScenarioError):
    """The scenario uses something this runner cannot reproduce."""

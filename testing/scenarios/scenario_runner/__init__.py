"""The scenario runner: one scenario file (docs/SCENARIOS.md) run on one
runner and checked against what it expects. run_scenario.py beside this
package is its command; its modules:

  cli          the command line: which runner, which program, the verdict
  load         reading a scenario (checked against the schema) and the
               standard output it expects
  times        the scenario's clock and file times, as file-time ticks
  native       the native program over the simulation
  wine_limits  what a Wine prefix cannot reproduce; the terminal bytes of keys
  wine_stage   a Wine prefix staged from a scenario, and what the run reports
  wine_run     the real program under Wine, on a terminal for the console
  compare      standard output and side effects against the expectations
"""


class ScenarioError(Exception):
    """The scenario cannot be run as written (or the runner itself failed)."""


class Unstageable(ScenarioError):
    """The scenario uses something this runner cannot reproduce."""

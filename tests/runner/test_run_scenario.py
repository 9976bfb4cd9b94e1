#!/usr/bin/env python3
"""The scenario runner's own logic where a fault would let a scenario pass
that should fail: matching of placeholders, the schema, times, and the checks
of side effects (run by ctest as scenario.runner)."""

import os
import sys
import unittest

SCENARIOS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "testing",
                         "scenarios")
sys.path.insert(0, SCENARIOS)
from scenario_runner import ScenarioError, compare, load, times, wine_run  # noqa: E402

NOW = times.parse_iso_time("2026-12-01T12:00:00Z")


class OutputMatching(unittest.TestCase):
    def test_placeholders_match_the_name_and_numbers_and_nothing_loosely(self):
        expected = b"\r\n[Summary for {COMPUTERNAME}]\r\nFree={MB:1} MB\r\nhandle={SYS:1}\r\n"
        actual = b"\r\n[Summary for VM]\r\nFree=10240 MB\r\nhandle=1\r\n"
        self.assertIsNone(compare.compare_output(expected, actual, "VM", False))
        # Where the figures are known, they are compared exactly.
        self.assertIsNotNone(compare.compare_output(expected, actual, "VM", True))
        self.assertIsNone(compare.compare_output(expected, actual.replace(b"10240", b"1"),
                                                 "VM", True))
        self.assertIsNotNone(compare.compare_output(expected, actual.replace(b"=1\r", b"=2\r")
                                                    .replace(b"10240", b"1"), "VM", True))
        for expected, actual in [(b"{COMPUTERNAME}]", b"PC01]"), (b"={MB:0} MB", b"= MB"),
                                 (b"={MB:0} MB", b"=-5 MB"), (b"a\r\nb", b"a\nb"),
                                 (b"done\r\n", b"done"), (b"done", b"done\r\n")]:
            self.assertIsNotNone(compare.compare_output(expected, actual, "VM", False), actual)


class ScenarioFormat(unittest.TestCase):
    def test_a_misspelt_key_or_a_wrong_form_is_refused_with_its_place(self):
        for scenario, place in [
            ({"expect": {"exit": 0, "profilekeys": []}}, "expect"),
            ({"expect": {"exit": 0}, "local": {"profiles": [{"sid": "S", "path": "C:\\a",
                                                             "inuse": True}]}},
             "local.profiles[0]"),
            ({"expect": {"exit": 0},
              "remotes": {"PC07": {"volumes": {"C:": {"freeBytes": 1, "available": 1}}}}},
             "remotes.PC07.volumes.C:"),
            ({"expect": {"exit": 0, "calls": [["DeleteProfile", "S-1"]]}}, "expect.calls[0][0]"),
            ({"expect": {"exit": 0}, "clock": {"now": "-1d"}}, "clock.now"),
        ]:
            problems = load.schema_problems(scenario)
            self.assertEqual(len(problems), 1, problems)
            self.assertTrue(problems[0].startswith(place + ": "), problems)

    def test_every_scenario_of_the_project_follows_the_format(self):
        for root in [os.path.join(SCENARIOS, "..", "..", "tests", "scenarios"),
                     os.path.join(SCENARIOS, "..", "demo")]:
            for folder, _, names in os.walk(root):
                for name in names:
                    if name.endswith(".json"):
                        load.load_scenario(os.path.join(folder, name))  # raises when not

    def test_a_profile_given_twice_is_refused(self):
        key = load.PROFILE_LIST + "\\S-1"
        scenario = {"expect": {"exit": 0},
                    "local": {"profiles": [{"sid": "S-1", "path": "C:\\a"}],
                              "registry": {key: {}}}}
        with self.assertRaises(ScenarioError):
            load.expanded(scenario)

    def test_malformed_times_are_refused(self):
        for text in ["-40", "40d", "-d", "-4x", "2026-12-01 12:00:00", "2026-12-01T12:00:00"]:
            with self.assertRaises(ScenarioError, msg=text):
                times.parse_scenario_time(text, NOW)


class Expectations(unittest.TestCase):
    STATE = {"profileKeys": [], "remotes": {}, "folderExists": lambda p: p == "C:\\Users",
             "fileExists": lambda p: p == "C:\\a.txt", "calls": [["RegDeleteKey", "K"]],
             "echo": "y", "openHandles": 0}

    def problems(self, expect, **state):
        scenario = {"expect": dict({"exit": 0}, **expect)}
        return compare.check_expectations(scenario, "x.out", b"", b"", 0,
                                          dict(self.STATE, **state), "PC01")

    def test_met_expectations_give_no_problem(self):
        self.assertEqual(self.problems({
            "files": {"present": ["C:\\a.txt"], "absent": ["C:\\Users"]},
            "folders": {"present": ["C:\\Users"], "absent": ["C:\\a.txt"]},
            "calls": [["RegDeleteKey", "K"]], "echo": "y"}), [])
        self.assertEqual(self.problems({}, fileExists=None, calls=None, echo=None,
                                       openHandles=None), [])

    def test_each_unmet_expectation_is_reported(self):
        for expect, state in [
            ({"files": {"present": ["C:\\b.txt"]}}, {}),
            ({"files": {"absent": ["C:\\a.txt"]}}, {}),
            ({"folders": {"absent": ["C:\\Users"]}}, {}),
            ({"calls": []}, {}),
            ({"calls": [["RegDeleteKey", "K"], ["RegDeleteKey", "L"]]}, {}),
            ({"echo": "n"}, {}),
            ({"profileKeys": ["S-1"]}, {}),
            ({}, {"openHandles": 2}),
            ({}, {"openHandles": ["key SOFTWARE"]}),
            # What a run did not record fails the expectations that need it.
            ({"files": {"present": ["C:\\a.txt"]}}, {"fileExists": None}),
            ({"calls": []}, {"calls": None}),
            ({"echo": ""}, {"echo": None}),
        ]:
            self.assertEqual(len(self.problems(expect, **state)), 1, (expect, state))

    def test_wine_compares_the_echo_as_its_console_draws_it(self):
        drawn = wine_run.console_echo(b"\x1b[?25ly\x1b[?25h\x1b[?25l?\x1b[?25h")
        self.assertEqual(drawn, "y?")
        self.assertEqual(self.problems({"echo": "y\0"}, echo=drawn,
                                       drawEcho=wine_run.echo_as_wine_draws), [])
        self.assertNotEqual(self.problems({"echo": "y?"}, echo="y\0"), [])


if __name__ == "__main__":
    unittest.main()

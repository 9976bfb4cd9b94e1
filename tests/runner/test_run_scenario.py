#!/usr/bin/env python3
"""The scenario runner's logic where a fault would let a wrong run pass (one
that fails right runs shows in the scenarios): output matching, the format
and the checks of side effects. Run by ctest as scenario.runner."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "testing", "scenarios"))
from scenario_runner import ScenarioError, compare, load, times  # noqa: E402


class RunnerLogic(unittest.TestCase):
    def test_output_that_differs_from_the_placeholders_does_not_match(self):
        for expected, actual, exact_figures in [
            (b"{COMPUTERNAME}]", b"PC01]", False),
            (b"={MB:0} MB", b"= MB", False),
            (b"={MB:0} MB", b"=-5 MB", False),
            (b"={MB:1} MB", b"=10240 MB", True),  # figures known: compared exactly
            (b"={SYS:1}", b"=2", True),
            (b"a\r\nb", b"a\nb", False),
            (b"done\r\n", b"done", False),
            (b"done", b"done\r\n", False),
        ]:
            self.assertIsNotNone(
                compare.compare_output(expected, actual, "VM", exact_figures), actual)

    def test_a_scenario_in_a_wrong_form_is_refused_with_its_place(self):
        for scenario, place in [
            ({"expect": {"exit": 0, "profilekeys": []}}, "expect"),
            ({"local": {"profiles": [{"sid": "S", "path": "C:\\a", "inuse": True}]}},
             "local.profiles[0]"),
            ({"remotes": {"PC07": {"volumes": {"C:": {"freeBytes": 1, "available": 1}}}}},
             "remotes.PC07.volumes.C:"),
            ({"expect": {"exit": 0, "calls": [["DeleteProfile", "S-1"]]}}, "expect.calls[0]"),
            ({"clock": {"now": "-1d"}}, "clock.now"),
        ]:
            problems = load.schema_problems({"expect": {"exit": 0}, **scenario})
            self.assertEqual([p.split(": ")[0] for p in problems], [place], problems)
        now = times.parse_iso_time("2026-12-01T12:00:00Z")
        for text in ["-40", "40d", "-d", "-4x", "2026-12-01 12:00:00", "2026-12-01T12:00:00"]:
            with self.assertRaises(ScenarioError, msg=text):
                times.parse_scenario_time(text, now)
        with self.assertRaises(ScenarioError):  # a profile given twice
            load.expanded({"local": {"profiles": [{"sid": "S-1", "path": "C:\\a"}],
                                     "registry": {load.PROFILE_LIST + "\\S-1": {}}}})

    def test_each_unmet_expectation_is_reported(self):
        # Each case fails one expectation that this state meets otherwise.
        met = {"profileKeys": [], "remotes": {}, "folderExists": lambda p: p == "C:\\Users",
               "fileExists": lambda p: p == "C:\\a.txt", "calls": [["RegDeleteKey", "K"]],
               "echo": "y", "openHandles": 0}
        for expect, state in [
            ({"files": {"present": ["C:\\b.txt"]}}, {}),
            ({"files": {"absent": ["C:\\a.txt"]}}, {}),
            ({"folders": {"absent": ["C:\\Users"]}}, {}),
            ({"calls": []}, {}),
            ({"calls": [["RegDeleteKey", "K"], ["RegDeleteKey", "L"]]}, {}),
            ({"echo": "n"}, {}),
            ({"echo": "y\0"}, {"echo": "y?"}),  # only Wine's console draws a NUL as "?"
            ({"echo": "y?"}, {"echo": "y\0"}),
            ({"exit": 1}, {}),
            ({"profileKeys": ["S-1"]}, {}),
            ({"remoteProfileKeys": {"PC07": []}}, {}),
            ({}, {"openHandles": 2}),
            ({}, {"openHandles": ["key SOFTWARE"]}),
            # What a run did not record fails the expectations that need it.
            ({"files": {"present": ["C:\\a.txt"]}}, {"fileExists": None}),
            ({"calls": []}, {"calls": None}),
            ({"echo": ""}, {"echo": None}),
        ]:
            problems = compare.check_expectations({"expect": {"exit": 0, **expect}}, "x.out",
                                                  b"", b"", 0, {**met, **state}, "PC01")
            self.assertEqual(len(problems), 1, (expect, state, problems))


if __name__ == "__main__":
    unittest.main()

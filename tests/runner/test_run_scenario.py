#!/usr/bin/env python3
"""Checks of the scenario runner's own logic (run by ctest as scenario.runner)."""

import contextlib
import io
import os
import subprocess
import sys
import tempfile
import unittest

SCENARIOS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "testing",
                         "scenarios")
RUN_SCENARIO = os.path.join(SCENARIOS, "run_scenario.py")
sys.path.insert(0, SCENARIOS)
from scenario_runner import (ScenarioError, Unstageable, cli, compare, load, times,  # noqa: E402
                             wine_limits, wine_run, wine_stage)

NOW = times.parse_iso_time("2026-12-01T12:00:00Z")
DAY = 86400 * times.TICKS_PER_SECOND


class OutputMatching(unittest.TestCase):
    def test_placeholders_match_the_name_and_any_number(self):
        expected = b"\r\n[Summary for {COMPUTERNAME}]\r\nFree={MB:1} MB\r\nAfter={MB:7} MB\r\n"
        actual = b"\r\n[Summary for VM]\r\nFree=10240 MB\r\nAfter=7 MB\r\n"
        self.assertIsNone(compare.compare_output(expected, actual, "VM", False))
        self.assertIsNotNone(compare.compare_output(expected, actual, "VM", True))
        self.assertIsNone(compare.compare_output(expected, actual.replace(b"10240", b"1"),
                                                 "VM", True))

    def test_a_placeholder_does_not_match_what_it_stands_for_loosely(self):
        self.assertIsNotNone(compare.compare_output(b"{COMPUTERNAME}]", b"PC01]", "VM", False))
        self.assertIsNotNone(compare.compare_output(b"Free={MB:0} MB", b"Free= MB", "VM", False))
        self.assertIsNotNone(compare.compare_output(b"Free={MB:0} MB", b"Free=-5 MB", "VM", False))

    def test_the_report_points_at_the_first_differing_byte(self):
        report = compare.compare_output(b"a\r\nMinimum Age=30 days\r\n",
                                        b"a\r\nMinimum Age=31 days\r\n", "", False)
        self.assertIn("byte 16 (line 2, column 14)", report)
        self.assertIn("same:     b'a\\r\\nMinimum Age=3'", report)
        self.assertIn("expected: b'0 days\\r\\n'", report)
        self.assertIn("actual:   b'1 days\\r\\n'", report)

    def test_missing_and_extra_bytes_are_differences(self):
        self.assertIn("expected: b'\\r\\n'", compare.compare_output(b"done\r\n", b"done", "", False))
        self.assertIn("actual:   b'\\r\\n'", compare.compare_output(b"done", b"done\r\n", "", False))
        # A bare line feed where the command must write CR LF.
        self.assertIsNotNone(compare.compare_output(b"a\r\nb", b"a\nb", "", False))


class ScenarioFormat(unittest.TestCase):
    def test_a_misspelt_key_is_refused_wherever_it_is(self):
        cases = [
            ({"expect": {"exit": 0, "profilekeys": []}}, "expect", "profilekeys"),
            ({"expect": {"exit": 0}, "clock": {"now": "2026-12-01T12:00:00Z", "bias": 60}},
             "clock", "bias"),
            ({"expect": {"exit": 0, "files": {"present": [], "gone": []}}}, "expect.files", "gone"),
            ({"expect": {"exit": 0}, "local": {"files": [{"path": "C:\\a", "denyaccess": True}]}},
             "local.files[0]", "denyaccess"),
            ({"expect": {"exit": 0},
              "remotes": {"PC07": {"volumes": {"C:": {"freeBytes": 1, "available": 1}}}}},
             "remotes.PC07.volumes.C:", "available"),
            ({"expect": {"exit": 0}, "local": {"registry": {"K": {"denyread": True}}}},
             "local.registry.K", "denyread"),
        ]
        for scenario, place, key in cases:
            problems = load.schema_problems(scenario)
            self.assertEqual(len(problems), 1, problems)
            self.assertTrue(problems[0].startswith(place + ": "), problems)
            self.assertIn(repr(key), problems[0])

    def test_the_keys_of_the_format_are_accepted(self):
        scenario = {
            "expect": {"exit": 1, "files": {"present": ["C:\\a"]}, "echo": "y\u00e0",
                       "calls": [["DeleteProfile", "S-1", None, None], ["RegDeleteKey", "K"]]},
            "local": {"registry": {"K": {"denyRead": True}},
                      "volumes": {"C:": {"freeBytes": 9, "availableBytes": 2}},
                      "files": [{"path": "C:\\a", "denyAccess": True, "modified": "-1d2h"}],
                      "shares": {"C$": 1326}},
            "remotes": {"PC07": {"remoteRegistry": {"status": 5, "fromConnection": 2}},
                        "PC08": {"remoteRegistry": 53}},
        }
        self.assertEqual(load.schema_problems(scenario), [])

    def test_values_of_the_wrong_form_are_refused(self):
        for scenario in [
            {"expect": {"exit": 0, "calls": [["DeleteProfile", "S-1"]]}},
            {"expect": {"exit": 0, "echo": "\u0100"}},
            {"expect": {"exit": 0}, "local": {"files": [{"path": "C:\\a", "modified": 5}]}},
            {"expect": {"exit": 0}, "clock": {"now": "-1d"}},
            {"expect": {"exit": 0}, "remotes": {"PC07": {"remoteRegistry": 0}}},
            {"expect": {"exit": 0}, "remotes": {"PC07": {"shares": {"C$": "sideways"}}}},
        ]:
            self.assertNotEqual(load.schema_problems(scenario), [], scenario)

    def test_every_scenario_of_the_project_follows_the_format(self):
        root = os.path.join(os.path.dirname(load.SCHEMA_PATH))
        for folder, _, names in os.walk(root):
            for name in names:
                if name.endswith(".json") and not name.endswith(".schema.json"):
                    load.load_scenario(os.path.join(folder, name))  # raises when not


class ScenarioTimes(unittest.TestCase):
    def test_relative_times_count_from_now(self):
        self.assertEqual(times.parse_scenario_time("-40d", NOW), NOW - 40 * DAY)
        self.assertEqual(times.parse_scenario_time("-30d2h", NOW), NOW - 30 * DAY - DAY // 12)
        self.assertEqual(times.parse_scenario_time("-23h59m", NOW), NOW - DAY + DAY // 1440)
        self.assertEqual(times.parse_scenario_time("+1h", NOW), NOW + DAY // 24)

    def test_iso_times_are_utc_with_an_optional_fraction(self):
        self.assertEqual(times.parse_scenario_time("2026-12-01T12:00:00Z", 0), NOW)
        self.assertEqual(times.parse_iso_time("1601-01-01T00:00:00.0000001Z"), 1)

    def test_the_simulation_gets_every_time_as_ticks(self):
        scenario = {"local": {"files": [{"path": "C:\\a", "modified": "-1d"}, {"path": "C:\\b"}]},
                    "remotes": {"PC07": {"files": [{"path": "C:\\c",
                                                    "modified": "2026-01-01T00:00:00Z"}]}},
                    "expect": {"exit": 0}}
        resolved = times.resolved_scenario(scenario)
        self.assertEqual(resolved["clock"], {"now": NOW})
        self.assertEqual(resolved["local"]["files"],
                         [{"path": "C:\\a", "modified": NOW - DAY}, {"path": "C:\\b"}])
        self.assertEqual(resolved["remotes"]["PC07"]["files"][0]["modified"],
                         times.parse_iso_time("2026-01-01T00:00:00Z"))
        self.assertEqual(scenario["local"]["files"][0]["modified"], "-1d")  # a copy
        later = times.resolved_scenario({"clock": {"now": "2027-01-01T00:00:00Z",
                                                   "biasMinutes": 60},
                                         "local": {"files": [{"path": "C:\\a",
                                                              "modified": "-1h"}]}})
        self.assertEqual(later["clock"]["biasMinutes"], 60)
        self.assertEqual(later["local"]["files"][0]["modified"],
                         times.parse_iso_time("2026-12-31T23:00:00Z"))

    def test_malformed_times_are_refused(self):
        for text in ["-40", "40d", "-d", "-4x", "2026-12-01 12:00:00", "2026-12-01T12:00:00"]:
            with self.assertRaises(ScenarioError, msg=text):
                times.parse_scenario_time(text, NOW)


class RegistryValues(unittest.TestCase):
    def test_values_are_staged_byte_for_byte(self):
        cases = [
            ("C:\\U", 1, "C:\\U\0".encode("utf-16-le")),
            ({"type": "REG_EXPAND_SZ", "text": "%A%"}, 2, "%A%\0".encode("utf-16-le")),
            ({"type": "REG_SZ", "text": "ab", "terminated": False}, 1, b"a\0b\0"),
            ({"type": "REG_SZ", "hex": ""}, 1, b""),
            ({"type": "REG_MULTI_SZ", "texts": ["a", "b"]}, 7, b"a\0\0\0b\0\0\0\0\0"),
            ({"type": "REG_DWORD", "number": 7601}, 4, b"\xb1\x1d\0\0"),
            ({"number": 1}, 4, b"\1\0\0\0"),
            ({"type": "REG_QWORD", "number": 2}, 11, b"\2" + b"\0" * 7),
            ({"type": 3, "hex": "0a0B0c"}, 3, b"\n\x0b\x0c"),
        ]
        for value, kind, data in cases:
            self.assertEqual(wine_stage.value_bytes(value), (kind, data), value)

    def test_the_job_replaces_the_profile_list_before_staging_it(self):
        scenario = {
            "arguments": ["/MIN:30", "a b"],
            "local": {"registry": {wine_stage.PROFILE_LIST + "\\S-1": {"values": {"P": "x"}}}},
        }
        lines = wine_stage.job_lines(scenario, "C:\\Tools\\wrenfold.exe", "out").splitlines()
        ops = [line.split()[0] for line in lines]
        self.assertEqual(ops, ["deltree", "key", "value", "name", "output", "run", "release",
                               "enum"])
        command_line = bytes.fromhex(lines[5].split()[2][1:]).decode("utf-16-le")
        self.assertEqual(command_line, 'C:\\Tools\\wrenfold.exe /MIN:30 "a b"')


class Keys(unittest.TestCase):
    def test_named_keys_become_terminal_sequences(self):
        cases = {
            "y": b"y", "N": b"N", "Enter": b"\r", "Backspace": b"\x7f", "Space": b" ",
            "F1": b"\x1bOP", "F4": b"\x1bOS", "F5": b"\x1b[15~", "F12": b"\x1b[24~",
            "Shift+F6": b"\x1b[17;2~", "Alt+F4": b"\x1b[1;3S", "Ctrl+F1": b"\x1b[1;5P",
            "Up": b"\x1b[A", "Ctrl+Up": b"\x1b[1;5A", "Home": b"\x1b[H", "PageDown": b"\x1b[6~",
            "Shift+y": b"Y", "Alt+y": b"\x1by", "Ctrl+A": b"\x01", "+": b"+",
        }
        for name, sequence in cases.items():
            self.assertEqual(wine_limits.key_sequence(name), sequence, name)

    def test_keys_a_terminal_cannot_deliver_as_simulated_are_refused(self):
        for key in ["Escape", "Ctrl+C", "Shift", "Alt", "Shift+Enter", "Ctrl+1",
                    {"char": 121, "scan": 21}]:
            with self.assertRaises(Unstageable, msg=key):
                wine_limits.key_sequence(key)
        with self.assertRaises(ScenarioError):
            wine_limits.key_sequence("Hyper+F1")


class WineStaging(unittest.TestCase):
    def test_what_wine_cannot_stage_is_named(self):
        stageable = {"console": {"keys": ["y", "F1"]}, "clock": {"biasMinutes": -60},
                     "local": {"environment": {"SystemDrive": "C:", "Extra": "1"},
                               "files": [{"path": "c:\\x", "attributes": 1}],
                               "shares": {"C$": "up"}},
                     "expect": {"exit": 0, "echo": "y\0\r"}}
        self.assertEqual(wine_limits.wine_obstacles(stageable), [])
        cases = [
            ({"remotes": {"PC07": {}}}, "remote"),
            ({"faults": [{"call": "RegOpenKeyEx", "status": 5}]}, "faults"),
            ({"clock": {"biasMinutes": 90}}, "bias"),
            ({"local": {"build": 6000}}, "build"),
            ({"local": {"environment": {"SystemRoot": "C:\\Windows"}}}, "SystemRoot"),
            ({"local": {"registry": {"K": {"denyDelete": True}}}}, "refuses deletion"),
            ({"local": {"files": [{"path": "D:\\x"}]}}, "outside drive C:"),
            ({"console": {"keys": ["Escape"]}}, "Escape"),
            ({"local": {"volumes": {"C:": {"freeBytes": 5, "availableBytes": 1}}}}, "quota"),
            ({"local": {"shares": {"C$": 1326}}}, "share C$"),
            ({"local": {"deleteProfile": {"keep": ["S-1"]}}}, "keeps the profile"),
            ({"expect": {"exit": 0, "echo": "\b"}}, "printable ASCII"),
            ({"expect": {"exit": 0, "echo": "\u00e0"}}, "printable ASCII"),
        ]
        for scenario, reason in cases:
            self.assertIn(reason, "; ".join(wine_limits.wine_obstacles(scenario)), scenario)

    def test_paths_find_existing_folders_whatever_their_case(self):
        with tempfile.TemporaryDirectory() as drive_c:
            os.makedirs(os.path.join(drive_c, "users", "Public"))
            self.assertEqual(wine_stage.host_path(drive_c, "C:\\Users\\public\\New"),
                             os.path.join(drive_c, "users", "Public", "New"))
            self.assertEqual(wine_stage.host_path(drive_c, "c:\\"), drive_c)

    def test_files_get_their_times_after_every_file_exists(self):
        with tempfile.TemporaryDirectory() as drive_c:
            wine_stage.stage_files(drive_c, [
                {"path": "C:\\Users\\Bob", "directory": True, "modified": "-30d"},
                {"path": "C:\\Users\\Bob\\NTUSER.DAT", "modified": "2026-01-01T08:30:00Z"},
                {"path": "C:\\Users\\Bob\\AppData\\x"},
            ], NOW)
            def ticks(*parts):
                stat = os.stat(os.path.join(drive_c, *parts))
                return stat.st_mtime_ns // 100 + times.UNIX_EPOCH_TICKS
            self.assertEqual(ticks("Users", "Bob"), NOW - 30 * DAY)
            self.assertEqual(ticks("Users", "Bob", "NTUSER.DAT"),
                             times.parse_iso_time("2026-01-01T08:30:00Z"))
            self.assertEqual(ticks("Users", "Bob", "AppData", "x"), NOW)


def logged(text):
    return "x" + text.encode("utf-16-le").hex()


class ProgramLog(unittest.TestCase):
    def test_the_log_gives_calls_key_reads_and_open_handles(self):
        data = "".join(line + "\n" for line in [
            "attach",
            f"DeleteProfile {logged('S-1')} - {logged('')}",
            "console-mode 0", "console-mode 503",
            f"RegDeleteKey {logged('S-2')}",
            "console-mode 0", "console-mode 7",
            f"open key {logged('SOFTWARE')}",
            "open search " + logged("C:\\Users\\*"),
            "untracked 3",
            "detach",
        ]).encode() + b"console-mode 0"  # a line still being written
        log = wine_stage.parse_log(data)
        self.assertTrue(log["attached"] and log["detached"])
        self.assertEqual(log["calls"], [["DeleteProfile", "S-1", None, ""],
                                        ["RegDeleteKey", "S-2"]])
        self.assertEqual(log["keyReads"], 2)
        self.assertEqual(log["openHandles"], ["key SOFTWARE", "search C:\\Users\\*",
                                              "3 handles opened beyond the table"])
        self.assertFalse(wine_stage.parse_log(b"")["attached"])
        with self.assertRaises(ScenarioError):
            wine_stage.parse_log(b"mystery 1\n")


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

    def test_each_unmet_expectation_is_reported(self):
        cases = [
            ({"files": {"present": ["C:\\b.txt"]}}, {}, "file C:\\b.txt is missing"),
            ({"files": {"absent": ["C:\\a.txt"]}}, {}, "file C:\\a.txt still exists"),
            ({"calls": []}, {}, "calls made:"),
            ({"calls": [["RegDeleteKey", "K"], ["RegDeleteKey", "L"]]}, {}, '"L"'),
            ({"echo": "n"}, {}, "console echo 'y', expected 'n'"),
            ({}, {"openHandles": 2}, "handles left open at exit: 2"),
            ({}, {"openHandles": ["key SOFTWARE"]}, "key SOFTWARE"),
            # What a run did not record fails only the expectations needing it.
            ({"files": {"present": ["C:\\a.txt"]}}, {"fileExists": None}, "cannot tell"),
            ({"calls": []}, {"calls": None}, "did not record the calls"),
            ({"echo": ""}, {"echo": None}, "did not record the console echo"),
        ]
        for expect, state, report in cases:
            problems = self.problems(expect, **state)
            self.assertEqual(len(problems), 1, (expect, state, problems))
            self.assertIn(report, problems[0])
        self.assertEqual(self.problems({}, fileExists=None, calls=None, echo=None,
                                       openHandles=None), [])

    def test_wine_compares_the_echo_as_its_console_draws_it(self):
        drawn = wine_run.console_echo(b"\x1b[?25ly\x1b[?25h\x1b[?25l?\x1b[?25h")
        self.assertEqual(drawn, "y?")
        self.assertEqual(self.problems({"echo": "y\0"}, echo=drawn,
                                       drawEcho=wine_run.echo_as_wine_draws), [])
        self.assertNotEqual(self.problems({"echo": "y?"}, echo="y\0"), [])


class FakeTerminal:
    def __init__(self):
        self.master = 5
        self.typed = []
        self.ready = True

    def raw(self):
        return self.ready

    def type(self, sequence):
        self.typed.append(sequence)

    def drain(self, seconds):
        pass

    def hang_up(self):
        self.master = None


class KeyTyping(unittest.TestCase):
    def test_one_key_per_read_then_the_terminal_is_hung_up(self):
        terminal = FakeTerminal()
        typist = wine_run.Typist(terminal, [b"y", b"\x1bOP"])
        typist.reads_started(0)
        self.assertEqual(terminal.typed, [])  # nothing before the first read
        typist.reads_started(1)
        typist.reads_started(1)  # the same read again: nothing more
        self.assertEqual(terminal.typed, [b"y"])
        terminal.ready = False  # the console has not left line mode yet
        typist.reads_started(2)
        self.assertEqual(terminal.typed, [b"y"])
        terminal.ready = True
        typist.reads_started(2)
        self.assertEqual(terminal.typed, [b"y", b"\x1bOP"])
        self.assertIsNotNone(terminal.master)
        typist.reads_started(3)  # a read after the script: it must fail
        self.assertIsNone(terminal.master)


class Runner(unittest.TestCase):
    def test_a_scenario_for_another_runner_is_skipped(self):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "s.json")
            with open(path, "w") as f:
                f.write('{"runners": ["native"], "expect": {"exit": 0}}')
            done = subprocess.run([sys.executable, RUN_SCENARIO, "--runner", "wine", path],
                                  capture_output=True, text=True)
            self.assertEqual(done.returncode, cli.SKIPPED, done.stdout)

    def test_relative_paths_are_made_absolute_first(self):
        seen = {}

        def run_wine(scenario, path, program_file, argv0, helpers, work_dir, timeout):
            seen.update(path=path, program=program_file, helpers=helpers, work_dir=work_dir)
            return b"", 0, {"profileKeys": [], "folderExists": None, "fileExists": None}, "", \
                "PC", None

        with tempfile.TemporaryDirectory() as folder:
            for name in ["s.json", "s.out", "wrenfold.exe", "wfstage.exe"]:
                with open(os.path.join(folder, name), "w") as f:
                    f.write('{"runners": ["wine"], "expect": {"exit": 0}}' if name == "s.json"
                            else "")
            saved, here = cli.run_wine, os.getcwd()
            cli.run_wine = run_wine
            try:
                os.chdir(folder)
                with contextlib.redirect_stdout(io.StringIO()) as out:
                    status = cli.main(["--runner", "wine", "--wine-exe", "wrenfold.exe",
                                       "--wine-helpers", ".", "--work-dir", "work", "s.json"])
            finally:
                cli.run_wine = saved
                os.chdir(here)
            self.assertEqual(status, 0, out.getvalue())
            self.assertIn("passed: s.json (wine)", out.getvalue())
            self.assertTrue(all(os.path.isabs(p) for p in seen.values()), seen)
            self.assertEqual(seen["work_dir"], os.path.join(os.path.realpath(folder), "work"))

    def test_a_scenario_without_an_expected_exit_code_fails(self):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "s.json")
            with open(path, "w") as f:
                f.write('{"expect": {}}')
            done = subprocess.run([sys.executable, RUN_SCENARIO, "--runner", "native",
                                   "--native-exe", "/bin/true", path],
                                  capture_output=True, text=True)
            self.assertEqual(done.returncode, cli.FAILED)
            self.assertIn("expect: 'exit' is a required property", done.stdout)


if __name__ == "__main__":
    unittest.main()

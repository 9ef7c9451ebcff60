"""The bench's own logic, without a prefix: the run clock, the pause rules and
their measurement, the journal pairing, the comparison with expected facts,
the deployment guide (its verification steps, its log and pause tables
against the code, the links between the documents) and the installer package
built from its WiX source."""

import contextlib
import io
import json
import os
import shutil
import sys
import tempfile
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "bench"))

from virtual_computer import facts, faults, fleet, guide, layout, package, timeline  # noqa: E402
from virtual_computer.check import check_all, differences  # noqa: E402


def entry(at_ms, text):
    return {"at_ms": at_ms, "text": text}


def report_of(entries, runs="program", settings=None, installer_at=100, script_ended=None,
              traced=None, exit_code=0):
    journal = [] if installer_at is None else \
        [{"at_ms": installer_at, "program": "Setup1.exe", "event": "Setup1.exe /q"}]
    run = {"duration_s": 60.0, "exit_code": exit_code}
    if traced is not None:
        run["pause_calls"] = [{"ms": ms, "took_ms": ms, "thread": "0020:0024"} for ms in traced]
    return {"runs": runs, "journal": journal, "log": {"entries": entries},
            "settings_key": {"after": settings or {"WLANID": "WLAN"}},
            "script_host": {"ended_ms": script_ended}, "run": run}


class RunClockTest(unittest.TestCase):
    def setUp(self):
        self.saved = os.environ.get("TZ")
        os.environ["TZ"] = "UTC"
        time.tzset()

    def tearDown(self):
        if self.saved is None:
            os.environ.pop("TZ")
        else:
            os.environ["TZ"] = self.saved
        time.tzset()

    def test_time_of_day_stamps_cross_midnight(self):
        clock = facts.RunClock(86400 * 20000 - 0.5)  # 23:59:59.500
        self.assertEqual(600, clock.from_time_of_day(facts.time_of_day_ms(0, 0, 0, 100)))
        self.assertEqual(-400, clock.from_time_of_day(facts.time_of_day_ms(23, 59, 59, 100)))
        self.assertEqual(1500, clock.from_epoch((86400 * 20000 + 1) * 1000))

    def test_the_installer_logs_twelve_hour_stamps(self):
        cases = [  # (run start, stamp in msiexec's log, ms since the run began)
            (13 * 3600 + 34 * 60, (1, 34, 5), 5000),
            (13 * 3600 + 34 * 60, (13, 34, 5), 5000),
            (9 * 3600, (9, 0, 2), 2000),
            (12 * 3600 - 1, (12, 0, 0), 1000),   # noon, logged as 12
            (12 * 3600 + 1, (0, 0, 3), 2000),    # the same hour logged as 0
            (24 * 3600 - 1, (12, 0, 1), 2000),   # across midnight
        ]
        for start, stamp, at in cases:
            with self.subTest(start=start, stamp=stamp):
                clock = facts.RunClock(86400 * 20000 + start)
                self.assertEqual(at, facts.from_twelve_hour_clock(clock, *stamp))


class PauseRulesTest(unittest.TestCase):
    CALL = "Call script with CmdLine : C:\\x.vbs"

    def test_program_run_with_a_match_a_slow_script_and_a_short_guid1(self):
        entries = [entry(10000, "--- Get in GetWirelessID -- Number of try : GetWirelessID - Try 1"),
                   entry(11000, timeline.WIRELESS_ID + "PCI\\VEN_8086&DEV_4237&SUBSYS_12118086"),
                   entry(17000, self.CALL),
                   entry(52400, "Cannot find GUID1 in HKCU -- first time"),
                   entry(54400, "find GUID1 and set Wake on LAN for GUID : x")]
        pauses, polls = timeline.built_in_pauses(report_of(entries, settings={"Msg3": "x"}))
        self.assertEqual([10000, 4000, 2000, 2000, 3000, 12000, 2000], [p.ms for p in pauses])
        self.assertEqual(101, polls["count"])

    def test_short_bios_id_failed_attempts_and_installer_runs_have_no_wireless_or_program_pause(self):
        entries = [entry(0, "--- Get in GetWirelessID -- Number of try : GetWirelessID - Try 1"),
                   entry(1, timeline.WIRELESS_ID + "PCI"),
                   entry(2, "\\r\\n =?=?=? size of returns less than 10 characters =?=?=?\\r\\n"),
                   entry(3, "--- Get in GetWirelessID -- Number of try : GetWirelessID - Try 2"),
                   entry(4, "\\r\\n =?=?=? Call crvExecMethodEx fails =?=?=?\\r\\n"),
                   entry(2004, self.CALL),
                   entry(2004 + 15000 + 40 * 200 + 30, "==== end of Vireo requirements ====\\r\\n")]
        pauses, polls = timeline.built_in_pauses(report_of(
            entries, runs="installer-package", script_ended=2004 + 3000 + 40 * 200 - 150))
        self.assertEqual([2000, 3000, 12000], [p.ms for p in pauses])
        self.assertEqual(40, polls["count"])
        # The calling script starts the program: its pause is there, before the pass's.
        pauses, _ = timeline.built_in_pauses(report_of(entries[:1], runs="calling-script"))
        self.assertEqual([10000], [p.ms for p in pauses])

    def test_an_unset_wlanid_adds_the_second_wireless_pause(self):
        entries = [entry(0, "--- Get in GetWirelessID -- Number of try : GetWirelessID - Try 1"),
                   entry(1, timeline.WIRELESS_ID + "PCI\\VEN_8086&DEV_4237&SUBSYS_12118086")]
        pauses, _ = timeline.built_in_pauses(report_of(entries, settings={"WLANID": "W"}))
        self.assertEqual([10000, 4000, 2000], [p.ms for p in pauses])


class PauseMeasurementTest(unittest.TestCase):
    # (case, installer start to the begin line, the attempt's last line to the
    # script call, verdicts of those two gaps); the installer starts at 100.
    ROWS = [
        ("gaps hold their pauses", 11800, 6030, "holds its pauses", "holds its pauses"),
        ("within the clock granularity", 9960, 5960, "holds its pauses", "holds its pauses"),
        ("a loaded machine: gaps far longer than their pauses are not bounded", 19000, 16000,
         "holds its pauses", "holds its pauses"),
        ("gaps shorter than their pauses", 9940, 5900, "MISMATCH: 60 ms shorter",
         "MISMATCH: 100 ms shorter"),
        ("no installer: nothing observed before the program's pause", None, 6030,
         "not measured: no observed event before it", "holds its pauses"),
    ]

    def test_each_gap_against_the_pauses_derived_in_it(self):
        for case, program_gap, wireless_gap, program_verdict, wireless_verdict in self.ROWS:
            with self.subTest(case):
                report = self.report(program_gap, wireless_gap, [10000, 4000, 2000, 3000, 12000])
                timeline.summarise_pauses(report)
                verdicts = [gap["verdict"] for gap in report["run"]["pause_gaps"]]
                self.assertEqual(3, len(verdicts))
                self.assertTrue(verdicts[0].startswith(program_verdict), verdicts[0])
                self.assertTrue(verdicts[1].startswith(wireless_verdict), verdicts[1])
                self.assertEqual("holds its pauses", verdicts[2])
                mismatches = [v for v in verdicts if v.startswith("MISMATCH")]
                self.assertEqual(len(mismatches), len(timeline.pause_mismatches(report)))

    # (case, the traced pause lengths (None: no trace), the run's exit code,
    # settings after the run, the verdict on the traced pauses)
    TRACED = [
        ("as derived", [10000, 4000, 2000, 3000, 12000], 0, None, "as derived"),
        ("polls between the script's pauses", [10000, 4000, 2000, 3000, 200, 200, 12000], 0,
         None, "as derived"),
        ("bug 4's shape: a 2000-ms pause after WLANID reads back WLAN",
         [10000, 4000, 2000, 2000, 3000, 12000], 0, None, "MISMATCH: the product paused"
         " [10000, 4000, 2000, 2000, 3000, 12000] where the rules call for [10000, 4000, 2000,"),
        ("a pause 2 s too long", [10000, 4000, 2000, 3000, 14000], 0, None, "MISMATCH"),
        ("polls of 100 ms", [10000, 4000, 2000, 3000, 100, 100, 12000], 0, None, "MISMATCH"),
        ("a pause in the wrong place", [10000, 2000, 4000, 3000, 12000], 0, None, "MISMATCH"),
        ("the limit reached: 101 polls and Msg3", [10000, 4000, 2000, 3000] + [200] * 101
         + [12000], 0, {"WLANID": "WLAN", "Msg3": "x"}, "as derived"),
        ("Msg3 written after fewer polls", [10000, 4000, 2000, 3000] + [200] * 100 + [12000], 0,
         {"WLANID": "WLAN", "Msg3": "x"}, "MISMATCH"),
        ("101 polls and no Msg3", [10000, 4000, 2000, 3000] + [200] * 101 + [12000], 0, None,
         "MISMATCH: the wait polled 101 times and Msg3 was not written"),
        ("a trace that holds no pause", [], 0, None, "MISMATCH"),
        ("no log: the pass's pauses are named, not derived", [10000, 4000, 2000, 3000, 12000],
         0, "no log", "as derived, then [4000, 2000, 3000, 12000] not derived"),
        ("no log, and the program's pause too long", [11000, 4000], 0, "no log", "MISMATCH"),
        ("a run that ended kept no trace", None, 0, None,
         "MISMATCH: the run ended and no trace of its pauses was kept"),
        ("a run that did not end", None, None, None, "not traced: the run did not end"),
    ]

    def test_the_traced_pauses_against_the_derived(self):
        for case, traced, exit_code, settings, verdict in self.TRACED:
            with self.subTest(case):
                report = self.report(10500, 6030, traced, exit_code,
                                     None if settings == "no log" else settings)
                if settings == "no log":
                    report["log"]["entries"] = []
                timeline.summarise_pauses(report)
                self.assertTrue(report["run"]["pause_calls_verdict"].startswith(verdict),
                                report["run"]["pause_calls_verdict"])
                self.assertEqual(verdict.startswith("MISMATCH"),
                                 report["run"]["pause_calls_verdict"]
                                 in timeline.pause_mismatches(report))

    def test_the_relay_trace_gives_each_calls_length_thread_and_time_taken(self):
        trace = "\n".join([
            '227.666:018c:0190:trace:relay:load_list L"RelayInclude" = L"KERNEL32.SleepEx"',
            "227.734:018c:0190:Call KERNEL32.SleepEx(00002710,00000001) ret=004080ee",
            "227.801:01a0:01a4:Call KERNELBASE.SleepEx(000000c8,00000001) ret=6a5010ee",
            "237.738:018c:0190:Ret  KERNEL32.SleepEx() retval=00000000 ret=004080ee",
            "237.900:018c:0190:Call KERNEL32.SleepEx(00000fa0,00000001) ret=004080ee",
        ])
        calls = timeline.traced_pause_calls(trace)
        self.assertEqual([(10000, 10004, "018c:0190"), (200, None, "01a0:01a4"),
                          (4000, None, "018c:0190")],
                         [(c["ms"], c["took_ms"], c["thread"]) for c in calls])
        self.assertIsNone(timeline.traced_pause_calls(None))

    @staticmethod
    def report(program_gap, wireless_gap, traced, exit_code=0, settings=None):
        begin = 100 + (program_gap or 10000)
        call = begin + 1020 + wireless_gap
        entries = [entry(begin, "===== \\r\\n Begin Vireo requirements ====="),
                   entry(begin + 10, timeline.WIRELESS_ATTEMPT + "GetWirelessID - Try 1"),
                   entry(begin + 1000, timeline.WIRELESS_ID + "PCI\\VEN_8086&DEV_4237"),
                   entry(begin + 1020, "Hardware ID from PCI Bus : PCI\\VEN_10EC&DEV_8168"),
                   entry(call, "Call script with CmdLine : C:\\x.vbs"),
                   entry(call + 15600, "find GUID1 and set Wake on LAN for GUID : x")]
        return report_of(entries, installer_at=None if program_gap is None else 100,
                         script_ended=call + 1000, traced=traced, exit_code=exit_code,
                         settings=settings)


class JournalTest(unittest.TestCase):
    def test_commands_pair_start_and_exit_and_an_overlap_is_flagged(self):
        events = [{"at_ms": 0, "program": "powercfg.exe", "event": "start -a"},
                  {"at_ms": 5, "program": "powercfg.exe", "event": "start -b"},
                  {"at_ms": 9, "program": "powercfg.exe", "event": "exit 0 -a"},
                  {"at_ms": 12, "program": "powercfg.exe", "event": "exit 1 -b"},
                  {"at_ms": 20, "program": "CRVNT.DLL", "event": "crvGetMachineId in x.exe"}]
        processes, commands, received, _ = facts.split_journal(events)
        self.assertEqual(["-a", "-b"], [p["event"] for p in processes])
        self.assertEqual([(0, 9), (1, 7)], [(c["exit_code"], c["took_ms"]) for c in commands])
        self.assertTrue(all(c.get("overlapped") for c in commands))
        self.assertEqual(["crvGetMachineId in x.exe"], received["machine_id_calls"])

    def test_the_script_journals_the_host_it_ran_in(self):
        for started, host in (("started /s in cscript.exe", "cscript.exe"), ("started /s", None)):
            events = [{"at_ms": 3, "program": "Vireo_Win7.vbs", "event": started},
                      {"at_ms": 8, "program": "Vireo_Win7.vbs", "event": "ended"}]
            processes, _, _, script = facts.split_journal(events)
            self.assertEqual(["started /s"], [p["event"] for p in processes])
            self.assertEqual((3, 8, host), (script["started_ms"], script["ended_ms"], script["host"]))


    def test_a_command_that_never_ends_was_running_when_the_next_started(self):
        events = [{"at_ms": 0, "program": "powercfg.exe", "event": "start -a"},
                  {"at_ms": 5, "program": "powercfg.exe", "event": "hangs -a"},
                  {"at_ms": 60005, "program": "powercfg.exe", "event": "start -b"},
                  {"at_ms": 60100, "program": "powercfg.exe", "event": "exit 0 -b"},
                  {"at_ms": 60200, "program": "powercfg.exe", "event": "start -c"},
                  {"at_ms": 60300, "program": "powercfg.exe", "event": "exit 0 -c"}]
        _, commands, _, _ = facts.split_journal(events)
        facts.mark_overlaps(commands)
        self.assertEqual([(None, True), (0, False), (0, False)],
                         [(c["exit_code"], c.get("running_when_next_started", False))
                          for c in commands])


def effects_of(exit_code=0, wlanid="WLAN", log=("a", "b"), scheme="Corvane Optimized"):
    """The facts a fault survey reads, as a report or expected facts hold them."""
    return {"run": {"exit_code": exit_code},
            "makers_components_received": {"installer_command_line": "Setup1.exe /q"},
            "installer_session": {"pass_reached_end_marker": bool(log)},
            "settings_key": {"after": {"MachineID": "M", "Control-GUID1": "x"}},
            "wireless": {"WLANID": wlanid, "Msg": "Get Wireless ID OK"},
            "processes": [{"program": "Vireo_Win7.vbs", "event": "started /s"}],
            "class_keys": {"k": {"before": {}, "after": {"PnPCapabilities": 288}}},
            "balanced_scheme": {"after": {"name": scheme}},
            "powercfg_commands": [{"parameters": "-S x", "exit_code": 0}],
            "log": {"entries": [{"text": text} for text in log]}}


class FaultSurveyTest(unittest.TestCase):
    def test_effects_are_intact_only_where_they_equal_the_default_computers(self):
        reference = effects_of()
        rows = [({}, []),
                ({"log": ()}, ["end marker logged", "activity log"]),
                ({"wlanid": "PCI\\X", "log": ("a", "c")}, ["wireless adapter recorded",
                                                          "activity log"]),
                ({"scheme": "Balanced", "exit_code": 3},
                 ["exit code", "Balanced scheme configured and active"])]
        for changes, changed in rows:
            survey = faults.survey(effects_of(**changes), ["f"], reference)
            self.assertEqual(changed, survey["changed"], changes)
            self.assertEqual(len(faults.EFFECTS), len(survey["intact"]) + len(changed))


class RegistryLayoutTest(unittest.TestCase):
    def test_values_of_each_type_as_regedit_text(self):
        rows = [("REG_DWORD", 7, '"G"=dword:00000007'),
                ("REG_SZ", "a\\b", '"G"="a\\\\b"'),
                ("REG_SZ", "", '"G"=""'),
                ("REG_EXPAND_SZ", "%X%", '"G"=hex(2):25,00,58,00,25,00,00,00'),
                ("REG_MULTI_SZ", ["a", "b"], '"G"=hex(7):61,00,00,00,62,00,00,00,00,00')]
        for kind, data, text in rows:
            self.assertEqual(text, layout.typed_reg_value("G", kind, data), kind)


class DifferencesTest(unittest.TestCase):
    def test_extra_facts_are_free_but_missing_changed_and_miscounted_ones_are_not(self):
        actual = {"a": 1, "b": [1, 2], "c": {"d": "x", "e": 2}, "extra": 9}
        self.assertEqual([], differences({"a": 1, "c": {"d": "x"}}, actual))
        found = differences({"a": 2, "b": [1], "c": {"f": 1}}, actual)
        self.assertEqual(3, len(found))
        self.assertTrue(found[0].startswith("report.a: expected 2"))
        self.assertIn("report.c.f: missing", found[2])


# Stands in for "vbench.py run": journals its start and end, fails as its
# profile's name says ("broken" always, "flaky" on its first run).
FAKE_RUN = """import sys, time
from pathlib import Path
name = sys.argv[sys.argv.index("--profile") + 1]
journal = Path(sys.argv[sys.argv.index("--out") + 1]).parent / "journal.txt"
runs = sum(1 for line in journal.read_text().splitlines() if line == "start " + name) \
    if journal.exists() else 0
with open(journal, "a") as f: f.write("start " + name + "\\n")
time.sleep(0.3)
with open(journal, "a") as f: f.write("end " + name + "\\n")
sys.exit(1 if name == "broken" or (name == "flaky" and runs == 0) else 0)
"""


class CheckAllTest(unittest.TestCase):
    def test_every_profile_runs_once_and_a_first_failure_stands(self):
        with tempfile.TemporaryDirectory() as folder:
            script = Path(folder) / "fake_run.py"
            script.write_text(FAKE_RUN)
            names = ["broken", "flaky", "steady"]
            printed = io.StringIO()
            with contextlib.redirect_stdout(printed):
                code = check_all(script, names, ["broken", "steady"], "bin", "bench",
                                 Path(folder), jobs=3)
            journal = (Path(folder) / "journal.txt").read_text().splitlines()
        self.assertEqual(1, code)
        self.assertEqual({"start broken", "start flaky", "start steady"}, set(journal[:3]),
                         "all three run at once")
        self.assertEqual(6, len(journal), "each runs once: a failed run is not tried again")
        self.assertIn("  flaky                          FAILED", printed.getvalue())
        self.assertIn("faults survived: 1 of 2", printed.getvalue())


GUIDE_TEXT = """# Guide
## Running it
```
C:\\> reg query "HKCU\\Not checked" /v X
```
## Verifying a run
Text between blocks.
```
# a comment in a block, not a heading
C:\\> reg query "HKCU\\Software\\Corvane\\Pallister" /v Msg

HKEY_CURRENT_USER\\Software\\Corvane\\Pallister
    Msg    REG_SZ    Get Wireless ID OK
```
### As SYSTEM
```
C:\\> reg query "HKCU\\Software\\Corvane\\Pallister" /v MachineID
HKEY_CURRENT_USER\\Software\\Corvane\\Pallister
    MachineID    REG_SZ    <this computer's machine ID>
```
## Troubleshooting
```
C:\\> reg query HKCU\\Later
```
"""
KEY_LINE = "HKEY_CURRENT_USER\\Software\\Corvane\\Pallister"


def verifier_report(exit_code, failing=()):
    checks = [{"check": name, "status": "FAIL" if name in failing else "PASS", "seen": "",
               "expected": ""} for name in ("activity log", "MachineID")]
    return json.dumps({"machine_id": "CRV-1", "computer_name": "HOST", "time":
                       "2026-12-09T10:00:00Z", "last_pass": None, "exit_code": exit_code,
                       "checks": checks}).encode()


class FleetTest(unittest.TestCase):
    """The fleet the bench builds from the profiles' reports, and its
    comparison of the summary's output with them."""

    def test_the_fleet_and_a_summary_that_miscounts(self):
        with tempfile.TemporaryDirectory() as work:
            folder = Path(work)
            expected = fleet.build_fleet({"default": verifier_report(0), "win32": verifier_report(0),
                                          "msi": verifier_report(1, ["MachineID"])}, folder)
            self.assertEqual({"CRV-1": ["DEFAULT", "WIN32"]}, expected["shared"])
            self.assertEqual(["CRV-1-02_MSI (earlier).json", "CRV-1-02_MSI.json", "CRV-1_DEFAULT.json",
                              "CRV-1_WIN32.json"], sorted(p.name for p in folder.glob("CRV*")))
            right = ("units: 3 (passed 2, failed 1, cannot be verified 0)\r\n"
                     "activity log     3  0  0  0\r\nMachineID  2  1  0  0\r\n"
                     "  MSI (machine ID CRV-1-02, verified 2026-12-09T10:00:00Z): FAIL MachineID\r\n"
                     "  CRV-1 on 2 computers: DEFAULT, WIN32\r\n"
                     "    not counted: CRV-1-02_MSI (earlier).json (verified 2026-12-09T09:00:00Z)\r\n"
                     + "".join(f"  {name}: {why}\r\n" for name, why in expected["not_read"].items()))
            self.assertEqual([], fleet.console_differences(right, expected))
            wrong = right.replace("passed 2, failed 1", "passed 3, failed 0")
            self.assertEqual(1, len(fleet.console_differences(wrong, expected)))
            csv_path = folder / "units.csv"
            csv_path.write_bytes(b"machine_id,computer,time,last_pass,exit_code,failing_checks\r\n")
            self.assertEqual(["csv: no UTF-8 byte-order mark", "csv: rows"],
                             [d[:len("csv: rows")] if d.startswith("csv: rows") else d
                              for d in fleet.csv_differences(csv_path, expected["units"])])


class DeploymentGuideTest(unittest.TestCase):
    def test_only_the_verification_section_counts_and_quotes_group_words(self):
        steps = guide.verification_steps(GUIDE_TEXT)
        self.assertEqual([["reg", "query", "HKCU\\Software\\Corvane\\Pallister", "/v", "Msg"],
                          ["reg", "query", "HKCU\\Software\\Corvane\\Pallister", "/v",
                           "MachineID"]], [words for words, _ in steps])
        self.assertEqual([KEY_LINE, "    Msg    REG_SZ    Get Wireless ID OK"], steps[0][1])

    def test_output_compared_line_by_line(self):
        expected = guide.verification_steps(GUIDE_TEXT)[1][1]
        cases = [  # (what reg.exe printed, differences expected)
            ("\r\n" + KEY_LINE + "\r\n    MachineID    REG_SZ    CRV-1\r\n\r\n", 0),
            (KEY_LINE.upper() + "\n    MachineID    REG_SZ    CRV-1\n", 0),
            (KEY_LINE + "\n    MachineID    REG_SZ    \n", 1),
            (KEY_LINE + "\n    MachineID    REG_DWORD    0x1\n", 1),
            (KEY_LINE + "\n", 1),
            ("", 2),
            (KEY_LINE + "\n    MachineID    REG_SZ    CRV-1\n    Msg    REG_SZ    x\n", 1),
        ]
        for printed, count in cases:
            with self.subTest(printed=printed):
                self.assertEqual(count, len(guide.compare(expected, printed)))
        self.assertEqual(1, len(guide.compare(guide.verification_steps(GUIDE_TEXT)[0][1],
                                              KEY_LINE + "\n    Msg    REG_SZ    Get Wireless ID fails")))

    def test_the_shipped_guide_has_verification_steps(self):
        steps = guide.verification_steps(guide.GUIDE.read_text())
        self.assertGreater(len(steps), 3)
        self.assertTrue(all(expected for words, expected in steps if words[:2] == ["reg", "query"]))

    def test_the_guides_log_lines_and_pauses_are_the_codes(self):
        shipped = guide.GUIDE.read_text()
        self.assertEqual([], guide.code_mismatches(shipped))
        plants = [  # (a line of the shipped guide, the same gone wrong)
            ("| `Able to get wireless ID` |", "| `Able to get the wireless ID` |"),
            ("| `System ID : <machine ID>` |", "| `System ID: <machine ID>` |"),
            ("| `===== ` then ` Begin Vireo", "| `=====` then ` Begin Vireo"),
            ("| 12 s | after the script |", "| 10 s | after the script |"),
            ("at most 101 polls", "at most 100 polls"),
            ("| 0x00000064 | 0x00000028 |", "| 0x00000064 | 0x00000064 |"),
        ]
        for line, wrong in plants:
            with self.subTest(wrong=wrong):
                self.assertIn(line, shipped)
                self.assertEqual(1, len(guide.code_mismatches(shipped.replace(line, wrong))))

    def test_relative_links_between_the_documents_resolve(self):
        for document in guide.project_documents():
            self.assertEqual([], guide.broken_links(document))
        rows = [  # (link in README.md, whether it is broken)
            ("[bench](docs/bench.md)", False),
            ("[tool](docs/bench.md#the-benchs-tool-toolexe)", False),
            ("[here](#readme)", False),
            ("[site](https://example.org/x.md)", False),
            ("[gone](docs/gone.md)", True),
            ("[no heading](docs/bench.md#profiles)", True),
            ("[heading in a block](docs/bench.md#not-a-heading)", True),
        ]
        with tempfile.TemporaryDirectory() as folder:
            (Path(folder) / "docs").mkdir()
            (Path(folder) / "docs" / "bench.md").write_text(
                "# Bench\n## The bench's tool (`tool.exe`)\n```\n# Not a heading\n```\n")
            readme = Path(folder) / "README.md"
            for link, broken in rows:
                with self.subTest(link=link):
                    readme.write_text(f"# Readme\nSee {link}.\n")
                    self.assertEqual(broken, bool(guide.broken_links(readme)))


@unittest.skipUnless(shutil.which("wixl") and shutil.which("msiinfo"), "needs wixl and msiinfo")
class InstallerPackageTest(unittest.TestCase):
    def test_the_wix_source_gives_the_rows_and_the_library_the_profile_relies_on(self):
        with tempfile.TemporaryDirectory() as folder:
            library = Path(folder) / "VireoDll.dll"
            library.write_bytes(b"MZ stand-in library")
            msi = Path(folder) / "vireo-bench.msi"
            package.build(library, msi)
            self.assertEqual([], package.missing_rows(msi))
            self.assertEqual(library.read_bytes(), package.embedded_library(msi))


if __name__ == "__main__":
    unittest.main()

"""The built-in pauses a run contained, how long the gaps around them
measured, and the run's timeline.

The pauses a run should contain are derived from the rules of the code and
what the log shows: which steps ran, and, for the script-host wait, how many
200-ms polls it took (101 when Msg3 was written). The pauses it made are read
from Wine's relay trace of the product's own SleepEx calls (every built-in
pause is one), so their lengths and order are compared exactly, whatever the
machine's load. The clock proves the other half: each derived pause begins
after an event the bench sees on the thread that pauses (an activity-log line,
or a journal event of a stand-in the thread called or waited for: the
installer's start, the machine-ID call, the BIOS command, a powercfg start; or
the run's end), and the gap from that event to the next one must be no shorter
than the pauses in it, less a little clock granularity. How much longer a gap
is only reported: on a loaded machine that has no bound."""

import math
import re
from collections import namedtuple

POLL_MS = 200
POLL_LIMIT = 101
# The script host the pass's wait looks for.
SCRIPT_HOST = "wscript.exe"
SCRIPT_CALL = "Call script with CmdLine : "
WIRELESS_ATTEMPT = "--- Get in GetWirelessID -- Number of try : "
WIRELESS_ID = "Wireless LAN ID from BIOS: -- write this value to register as well -- "
SHORT_ID = "size of returns less than 10 characters"
GUID1_FIRST_TIME = "Cannot find GUID1 in HKCU -- first time"

# A gap may be this much shorter than its pauses: the log's milliseconds and
# the journal's epoch clock are read separately and tick at 1 ms or coarser.
EARLY_MS = 50

# what: why the pause happens; ms: its length; at_ms: when it begins on the
# run's axis; after: the key of the observed event it follows (None: none is
# observed).
Pause = namedtuple("Pause", "what ms at_ms after")

# A SleepEx call and its return in Wine's relay trace, with +pid and
# +timestamp: "227.734:018c:0190:Call KERNEL32.SleepEx(0000012c,00000001) ret=004080ee".
TRACED_CALL = re.compile(r"^(\d+\.\d+):([0-9a-f]+):([0-9a-f]+):Call KERNEL(?:32|BASE)\.SleepEx"
                         r"\(([0-9a-f]+),([0-9a-f]+)\)")
TRACED_RETURN = re.compile(r"^(\d+\.\d+):([0-9a-f]+):([0-9a-f]+):Ret  KERNEL(?:32|BASE)\.SleepEx\(")

# Journal events made on the pausing thread, or while it waited for them.
THREAD_PROGRAMS = ("Setup1.exe", "CRVNT.DLL", "crvwmiex.exe")


def wireless_attempts(entries):
    """The indexes of the log entries of each GetWirelessID attempt."""
    attempts, current = [], None
    for index, entry in enumerate(entries):
        if entry["text"].startswith(WIRELESS_ATTEMPT):
            current = [index]
            attempts.append(current)
        elif entry["text"].startswith(SCRIPT_CALL):
            current = None
        elif current is not None:
            current.append(index)
    return attempts


def thread_marks(report):
    """[(at_ms, key, what)] of the events seen on the pausing thread, in time
    order; key is ("log", index), ("journal", index) or ("run", "end")."""
    marks = []
    for index, event in enumerate(report["journal"]):
        program, text = event["program"], event["event"]
        if event["at_ms"] is None:
            continue
        if program in THREAD_PROGRAMS or (program == "powercfg.exe" and text.startswith("start ")):
            marks.append((event["at_ms"], ("journal", index), f"{program} {text}"))
    for index, entry in enumerate(report["log"]["entries"]):
        marks.append((entry["at_ms"], ("log", index), "log: " + entry["text"]))
    if report["runs"] == "program":
        marks.append((int(report["run"]["duration_s"] * 1000), ("run", "end"), "the run's end"))
    marks.sort(key=lambda mark: mark[0])  # stable: log lines keep their order
    return marks


def built_in_pauses(report):
    """[Pause] in the order they happen, and the script-host polls."""
    entries = report["log"]["entries"]
    marks = thread_marks(report)
    pauses = []
    # The program pauses after the installer, also where the guide's calling
    # script starts it.
    if report["runs"] in ("program", "calling-script"):
        # After the installer's last event: its start, or how it ended.
        installer = [i for i, e in enumerate(report["journal"]) if e["program"] == "Setup1.exe"]
        if installer:
            pauses.append(Pause("program, after the installer", 10000,
                                report["journal"][installer[-1]]["at_ms"],
                                ("journal", installer[-1])))
        else:  # nothing observed before it: the run's start includes Wine's
            pauses.append(Pause("program, after the installer", 10000, 0, None))
    wlanid = report["settings_key"]["after"].get("WLANID") or ""
    for number, attempt in enumerate(wireless_attempts(entries), 1):
        texts = [entries[i]["text"] for i in attempt]
        if any(t.startswith(WIRELESS_ID) for t in texts) and not any(SHORT_ID in t for t in texts):
            last = entries[attempt[-1]]["at_ms"]
            pauses.append(Pause(f"wireless attempt {number}, after matching", 4000, last,
                                ("log", attempt[-1])))
            if len(wlanid) < 3:
                pauses.append(Pause(f"wireless attempt {number}, WLANID short", 2000,
                                    last + 4000, ("log", attempt[-1])))
    polls = {"count": 0, "how": "no script launched" if entries else
             "not known: the pass's pauses are derived from its log, and it has none"}
    calls = [i for i, entry in enumerate(entries) if entry["text"].startswith(SCRIPT_CALL)]
    if calls:
        call = entries[calls[0]]
        following = entries[calls[0] + 1] if calls[0] + 1 < len(entries) else None
        polls = script_host_polls(report, call)
        keys = [key for _, key, _ in marks]
        position = keys.index(("log", calls[0]))
        before = marks[position - 1][1] if position > 0 else None
        pauses.append(Pause("pass, before the script", 2000, call["at_ms"] - 2000, before))
        pauses.append(Pause("pass, after launching the script", 3000, call["at_ms"],
                            ("log", calls[0])))
        wait_ends = following["at_ms"] if following else call["at_ms"] + 15000
        pauses.append(Pause("pass, after the script-host wait", 12000, wait_ends - 12000,
                            ("log", calls[0])))
    for index, entry in enumerate(entries):
        if entry["text"].startswith(GUID1_FIRST_TIME):
            pauses.append(Pause("pass, GUID1 first found short", 2000, entry["at_ms"],
                                ("log", index)))
    return pauses, polls


def script_host_polls(report, call):
    """The wait polls every 200 ms after the 3-s pause while a script host
    runs: the traced 200-ms pauses where the run was traced, otherwise as many
    as the script outlived the 3-s pause, from its end in the journal."""
    if report["settings_key"]["after"].get("Msg3"):
        return {"count": POLL_LIMIT, "how": "the limit: Msg3 was written"}
    host = report["script_host"].get("host")
    if host and host != SCRIPT_HOST:
        return {"count": 0, "how": f"none: the script ran in {host}, which the wait does not look for"}
    traced = report["run"].get("pause_calls")
    if traced is not None:
        return {"count": sum(1 for call in traced if call["ms"] == POLL_MS),
                "how": "traced: the product's 200-ms pauses"}
    ended = report["script_host"]["ended_ms"]
    if ended is None:
        return {"count": 0, "how": "none known: the script's end is not in the journal"}
    outlived = max(0, ended - call["at_ms"] - 3000)
    count = min(POLL_LIMIT - 1, math.ceil(outlived / POLL_MS))
    return {"count": count, "how": "from the script's end in the journal"}


def lengths_with_polls(pause, polls):
    """The pause's length, and the script-host wait's polls after the pause
    that launches the script."""
    if pause.what == "pass, after launching the script":
        return [pause.ms] + [POLL_MS] * polls["count"]
    return [pause.ms]


def traced_pause_calls(trace):
    """[{"ms", "took_ms", "thread"}] of the SleepEx calls in a relay trace, in
    the order they were made; None without a trace (the run did not end)."""
    if trace is None:
        return None
    calls, pending = [], {}
    for line in trace.splitlines():
        made = TRACED_CALL.match(line)
        if made:
            call = {"ms": int(made[4], 16), "took_ms": None, "thread": f"{made[2]}:{made[3]}"}
            pending[call["thread"]] = (float(made[1]), call)
            calls.append(call)
            continue
        returned = TRACED_RETURN.match(line)
        if returned and f"{returned[2]}:{returned[3]}" in pending:
            began, call = pending.pop(f"{returned[2]}:{returned[3]}")
            call["took_ms"] = round((float(returned[1]) - began) * 1000)
    return calls


def pause_calls_verdict(report, pauses, polls):
    """"as derived", or how the traced pauses differ from the derived ones."""
    traced = report["run"].get("pause_calls")
    if traced is None:
        if report["run"]["exit_code"] is None:
            return "not traced: the run did not end"
        return "MISMATCH: the run ended and no trace of its pauses was kept"
    derived = [ms for pause in pauses for ms in lengths_with_polls(pause, polls)]
    made = [call["ms"] for call in traced]
    if polls["how"].startswith("traced") and polls["count"] >= POLL_LIMIT:
        return f"MISMATCH: the wait polled {polls['count']} times and Msg3 was not written"
    # With no log, the pass's pauses cannot be derived: only the program's are
    # compared, and the pauses traced after them are named.
    unlogged = polls["how"].startswith("not known") and made[:len(derived)] == derived
    if made != derived and not unlogged:
        return f"MISMATCH: the product paused {shown_ms(made)} where the rules call for {shown_ms(derived)}"
    if len(made) > len(derived):
        return (f"as derived, then {shown_ms(made[len(derived):])} not derived:"
                " the pass left no log to derive them from")
    return "as derived"


def shown_ms(lengths):
    """Pause lengths in ms, runs of polls folded: 3000, 200 x 5, 12000."""
    parts, index = [], 0
    while index < len(lengths):
        run = 1
        while index + run < len(lengths) and lengths[index + run] == lengths[index]:
            run += 1
        if lengths[index] == POLL_MS and run > 1:
            parts.append(f"{POLL_MS} x {run}")
        else:
            parts += [str(lengths[index])] * run
        index += run
    return "[" + ", ".join(parts) + "]"


def measure_pauses(report, pauses, polls):
    """[gap] for each run of pauses that follow the same observed event: the
    measured gap to the next observed event against the pauses derived for it."""
    marks = thread_marks(report)
    keys = [key for _, key, _ in marks]
    gaps = []
    for pause in pauses:
        if gaps and gaps[-1]["after_key"] == pause.after and pause.after is not None:
            gap = gaps[-1]
        else:
            gap = {"after_key": pause.after, "pauses": [], "derived_ms": 0}
            gaps.append(gap)
        gap["pauses"].append(pause.what)
        gap["derived_ms"] += sum(lengths_with_polls(pause, polls))
    for gap in gaps:
        key = gap.pop("after_key")
        position = keys.index(key) if key in keys else None
        if position is None or position + 1 >= len(marks):
            gap.update({"from": None, "to": None, "measured_ms": None, "over_ms": None,
                        "verdict": "not measured: no observed event "
                                   + ("before" if position is None else "after") + " it"})
            continue
        (start, _, start_what), (end, _, end_what) = marks[position], marks[position + 1]
        gap.update({"from": start_what, "to": end_what, "from_ms": start, "to_ms": end})
        gap["measured_ms"] = end - start
        gap["over_ms"] = gap["measured_ms"] - gap["derived_ms"]
        gap["verdict"] = gap_verdict(gap["measured_ms"], gap["derived_ms"])
    return gaps


def gap_verdict(measured_ms, derived_ms):
    """"holds its pauses", or that the gap is too short to have held them."""
    short = derived_ms - measured_ms
    if short > EARLY_MS:
        return f"MISMATCH: {short} ms shorter than its pauses"
    return "holds its pauses"


def summarise_pauses(report):
    pauses, polls = built_in_pauses(report)
    gaps = measure_pauses(report, pauses, polls)
    total_ms = sum(pause.ms for pause in pauses) + polls["count"] * POLL_MS
    gap_of = {what: gap for gap in gaps for what in gap["pauses"]}
    report["run"]["pauses"] = [
        {"what": pause.what, "ms": pause.ms, "gap_ms": gap_of[pause.what]["measured_ms"],
         "pauses_in_gap_ms": gap_of[pause.what]["derived_ms"],
         "verdict": gap_of[pause.what]["verdict"]} for pause in pauses]
    report["run"]["script_host_polls"] = polls
    report["run"]["pause_gaps"] = gaps
    report["run"]["pause_calls_verdict"] = pause_calls_verdict(report, pauses, polls)
    report["run"]["pauses_total_s"] = round(total_ms / 1000, 1)
    report["run"]["outside_pauses_s"] = round(report["run"]["duration_s"] - total_ms / 1000, 1)
    return pauses, polls


def pause_mismatches(report):
    """The traced pauses that differ from the derived ones and the measured
    gaps too short for their pauses, as lines."""
    run = report["run"]
    lines = [run["pause_calls_verdict"]] if run.get("pause_calls_verdict", "").startswith(
        "MISMATCH") else []
    return lines + [f"{gap['verdict']}: gap of {gap['measured_ms']} ms from {gap['from']!r} to"
                    f" {gap['to']!r} for {gap['derived_ms']} ms of pauses ({'; '.join(gap['pauses'])})"
                    for gap in run.get("pause_gaps", []) if gap["verdict"].startswith("MISMATCH")]


def build_timeline(report):
    """Every stamped event of the run, in time order."""
    pauses, polls = summarise_pauses(report)
    rows = []
    for event in report["journal"]:
        row = journal_row(event)
        if row:
            rows.append(row)
    for command in report["powercfg_commands"]:
        if command["started_ms"] is None:
            continue
        outcome = "never ended" if command["exit_code"] is None else \
            f"exit {command['exit_code']} after {command['took_ms']} ms"
        rows.append((command["started_ms"], "powercfg.exe",
                     f"{command['parameters']}  -> {outcome}"))
    for entry in report["log"]["entries"]:
        rows.append((entry["at_ms"], "activity log", entry["text"]))
    for pause in pauses:
        rows.append((pause.at_ms, "pause", f"{pause.ms / 1000:g} s ({pause.what})"))
    if polls["count"]:
        call = next(e for e in report["log"]["entries"] if e["text"].startswith(SCRIPT_CALL))
        rows.append((call["at_ms"] + 3000, "pause",
                     f"{polls['count']} polls of 200 ms for {SCRIPT_HOST} ({polls['how']})"))
    action = report["installer_session"].get("custom_action")
    if action and action["started_ms"] is not None:
        rows.append((action["started_ms"], "msiexec",
                     "custom action RunVireoPass starts (in this second: msiexec logs seconds)"))
        rows.append((action["ended_ms"], "msiexec",
                     f"custom action RunVireoPass has ended (by this time), return value"
                     f" {action['return_value']}"))
    rows.append((int(report["run"]["duration_s"] * 1000), "run",
                 f"ends with exit code {report['run']['exit_code']}"))
    # Pauses sort after the event that starts them.
    rows.sort(key=lambda row: (row[0] if row[0] is not None else -1, row[1] == "pause"))
    report["timeline"] = [{"at_ms": at, "source": source, "what": what}
                          for at, source, what in rows]


def journal_row(event):
    program, text = event["program"], event["event"]
    if program == "powercfg.exe":
        return None  # one row per command, from the paired start and exit
    if program == "Setup1.exe":
        return (event["at_ms"], "installer", "started and waited for: " + text)
    if program == "Vireo_Win7.vbs":
        return (event["at_ms"], "script host", "Vireo_Win7.vbs " + text)
    return (event["at_ms"], program, text)

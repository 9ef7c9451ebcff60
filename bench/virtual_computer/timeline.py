"""The built-in pauses a run contained and the run's timeline.

The shipping binaries pause through the real clock and report nothing, so the
pauses are known from the rules of the code and what the log shows: which
steps ran, and, for the script-host wait, how many 200-ms polls fit between the
log lines around it (exactly 101 when Msg3 was written)."""

POLL_MS = 200
POLL_LIMIT = 101
SCRIPT_CALL = "Call script with CmdLine : "
WIRELESS_ATTEMPT = "--- Get in GetWirelessID -- Number of try : "
WIRELESS_ID = "Wireless LAN ID from BIOS: -- write this value to register as well -- "
SHORT_ID = "size of returns less than 10 characters"
GUID1_FIRST_TIME = "Cannot find GUID1 in HKCU -- first time"


def wireless_attempts(entries):
    """The log entries of each GetWirelessID attempt."""
    attempts, current = [], None
    for entry in entries:
        if entry["text"].startswith(WIRELESS_ATTEMPT):
            current = [entry]
            attempts.append(current)
        elif entry["text"].startswith(SCRIPT_CALL):
            current = None
        elif current is not None:
            current.append(entry)
    return attempts


def built_in_pauses(report):
    """[(what, ms, at_ms)] in the order they happen, and the script-host polls."""
    entries = report["log"]["entries"]
    pauses = []
    if report["runs"] == "program":
        installer = [p for p in report["processes"] if p["program"] == "Setup1.exe"]
        pauses.append(("program, after the installer", 10000,
                       installer[0]["at_ms"] if installer else 0))
    wlanid = report["settings_key"]["after"].get("WLANID") or ""
    for number, attempt in enumerate(wireless_attempts(entries), 1):
        texts = [entry["text"] for entry in attempt]
        if any(t.startswith(WIRELESS_ID) for t in texts) and not any(SHORT_ID in t for t in texts):
            pauses.append((f"wireless attempt {number}, after matching", 4000, attempt[-1]["at_ms"]))
            if len(wlanid) < 3:
                pauses.append((f"wireless attempt {number}, WLANID short", 2000,
                               attempt[-1]["at_ms"] + 4000))
    polls = {"count": 0, "how": "no script launched"}
    calls = [i for i, entry in enumerate(entries) if entry["text"].startswith(SCRIPT_CALL)]
    if calls:
        call = entries[calls[0]]
        following = entries[calls[0] + 1] if calls[0] + 1 < len(entries) else None
        polls = script_host_polls(report, call, following)
        pauses.append(("pass, before the script", 2000, call["at_ms"] - 2000))
        pauses.append(("pass, after launching the script", 3000, call["at_ms"]))
        wait_ends = following["at_ms"] if following else call["at_ms"] + 15000
        pauses.append(("pass, after the script-host wait", 12000, wait_ends - 12000))
    for entry in entries:
        if entry["text"].startswith(GUID1_FIRST_TIME):
            pauses.append(("pass, GUID1 first found short", 2000, entry["at_ms"]))
    return pauses, polls


def script_host_polls(report, call, following):
    if report["settings_key"]["after"].get("Msg3"):
        return {"count": POLL_LIMIT, "how": "the limit: Msg3 was written"}
    if following is None:
        return {"count": 0, "how": "unknown: no log line after the script call"}
    gap = following["at_ms"] - call["at_ms"] - 3000 - 12000
    count = max(0, min(POLL_LIMIT - 1, round(gap / POLL_MS)))
    return {"count": count, "how": "estimated from the log lines around the wait"}


def summarise_pauses(report):
    pauses, polls = built_in_pauses(report)
    total_ms = sum(ms for _, ms, _ in pauses) + polls["count"] * POLL_MS
    report["run"]["pauses"] = [{"what": what, "ms": ms} for what, ms, _ in pauses]
    report["run"]["script_host_polls"] = polls
    report["run"]["pauses_total_s"] = round(total_ms / 1000, 1)
    report["run"]["outside_pauses_s"] = round(report["run"]["duration_s"] - total_ms / 1000, 1)
    return pauses, polls


def build_timeline(report):
    """Every stamped event of the run, in time order."""
    pauses, polls = summarise_pauses(report)
    rows = []
    for event in report["journal"]:
        row = journal_row(event)
        if row:
            rows.append(row)
    for command in report["powercfg_commands"]:
        if command["started_ms"] is not None:
            rows.append((command["started_ms"], "powercfg.exe",
                         f"{command['parameters']}  -> exit {command['exit_code']}"
                         f" after {command['took_ms']} ms"))
    for entry in report["log"]["entries"]:
        rows.append((entry["at_ms"], "activity log", entry["text"]))
    for what, ms, at in pauses:
        rows.append((at, "pause", f"{ms / 1000:g} s ({what})"))
    if polls["count"]:
        call = next(e for e in report["log"]["entries"] if e["text"].startswith(SCRIPT_CALL))
        rows.append((call["at_ms"] + 3000, "pause",
                     f"{polls['count']} polls of 200 ms for wscript.exe ({polls['how']})"))
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

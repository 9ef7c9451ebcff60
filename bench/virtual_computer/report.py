"""The report as text for the terminal and report.txt; report.json holds the
same facts."""

from . import layout, timeline
from .facts import BALANCED


def shown(value):
    return "-" if value is None else printable(str(value))


def printable(text: str) -> str:
    """Control characters as \\xNN, so that a value holding one shows."""
    return "".join(c if c.isprintable() else f"\\x{ord(c):02x}" for c in text)


def seconds(at_ms):
    return "      -  " if at_ms is None else f"{at_ms / 1000:7.2f} s"


def format_report(report: dict) -> str:
    out = []
    for section in (faults_section, run_section, timeline_section, received_section,
                    session_section, wireless_section, log_section, settings_section,
                    class_keys_section, class_tree_section, scheme_section, powercfg_section,
                    guide_section, verifier_section):
        lines = section(report)
        if lines:
            out.extend(lines + [""])
    return "\n".join(out[:-1]) + "\n"


def faults_section(report):
    survey = report.get("faults")
    if survey is None:
        return []
    lines = ["Faults this computer had:"] + ["  " + fault for fault in survey["had"]]
    lines.append("Effects exactly as on the default computer despite them: " +
                 (", ".join(survey["intact"]) or "(none)"))
    lines.append("Effects that differ: " + (", ".join(survey["changed"]) or "(none)"))
    return lines


def run_section(report):
    run = report["run"]
    runner = {"program": "defaults-runner.exe",
              "calling-script": "the guide's calling script, which starts defaults-runner.exe",
              }.get(report["runs"], "msiexec installing vireo-bench.msi"
                                    " (custom action RunVireoPass calls crvVireoReq)")
    windows = "64-bit (WoW64)" if report["windows"] == "64-bit" else "32-bit"
    polls = run["script_host_polls"]
    lines = [
        f"Virtual computer: {report['profile']} - {report['description']}",
        f"Windows 7 {windows}; runs {runner}",
        f"Run: exit code {shown(run['exit_code'])}, {run['duration_s']:.1f} s in all:"
        f" {run['pauses_total_s']:.1f} s of built-in pauses, {run['outside_pauses_s']:.1f} s"
        " outside them",
    ]
    for pause in run["pauses"]:
        lines.append(f"  pause {pause['ms'] / 1000:>4g} s  {pause['what']}")
    lines.append(f"  polls {polls['count']:>4} x 0.2 s  waiting for the script host ({polls['how']})")
    traced = run.get("pause_calls")
    lines.append("Pauses traced (the product's SleepEx calls, from Wine's relay trace):"
                 f" {run['pause_calls_verdict']}")
    if traced:
        lines.append("  " + timeline.shown_ms([call["ms"] for call in traced]))
    lines.append("Pauses measured (gap between the observed events around them; a gap"
                 " longer than its pauses is not bounded, only shown):")
    for gap in run["pause_gaps"]:
        measured = "-" if gap["measured_ms"] is None else f"{gap['measured_ms']} ms"
        over = "" if gap["over_ms"] is None else f" ({gap['over_ms']:+d} ms)"
        lines.append(f"  {measured:>9} for {gap['derived_ms']:>5} ms  {gap['verdict']}{over}:"
                     f" {'; '.join(gap['pauses'])}")
        if gap["from"] is not None:
            lines.append(f"{'':>27}from {gap['from'][:60]}")
            lines.append(f"{'':>27}to   {gap['to'][:60]}")
    return lines


def timeline_section(report):
    lines = ["Timeline (seconds since the run began):"]
    for row in report["timeline"]:
        lines.append(f"  {seconds(row['at_ms'])}  {row['source']:<13} {printable(row['what'])}")
    return lines


def received_section(report):
    received = report["makers_components_received"]
    lines = ["What the maker's components received:",
             "  installer command line: " + (received["installer_command_line"] or "(not started)"),
             "  machine-ID calls: " + (", ".join(received["machine_id_calls"]) or "(none)"),
             "  BIOS commands:" + ("" if received["bios_commands"] else " (none)")]
    lines += ["    " + command for command in received["bios_commands"]]
    script = report["script_host"]
    lines.append("  script: " + ("(not started)" if script["started_ms"] is None else
                                 f"started at {seconds(script['started_ms']).strip()},"
                                 f" ended at {seconds(script['ended_ms']).strip()}"))
    return lines


def session_section(report):
    session = report["installer_session"]
    lines = ["Installer session and crvMSIHotFix:"]
    hosts = ", ".join(session["pass_hosted_by"]) or "(unknown: no machine-ID call)"
    ended = "yes" if session["pass_reached_end_marker"] else "NO"
    if session["session"] == "null":
        lines.append("  called by the program with a null session handle: the property call"
                     " has nothing to set")
        lines.append(f"  pass reached its end marker: {ended}; process hosting the pass: {hosts}")
        return lines
    action = session["custom_action"]
    lines += [
        f"  msiexec exit code {session['msiexec_exit_code']}; custom action {action['name']}"
        f" from {seconds(action['started_ms']).strip()} to {seconds(action['ended_ms']).strip()},"
        f" return value {shown(action['return_value'])}",
        f"  pass reached its end marker: {ended}; process hosting the pass: {hosts}",
        "  activity log written while the action ran: " +
        ("yes" if session["log_written_while_the_action_ran"] else "NO"),
        f"  crvMSIHotFix in the session at the end: {shown(session['property_in_session'])}",
        "  registry row [crvMSIHotFix] written after the action:"
        f" {shown(session['registry_row_written_after_the_action'])}",
    ]
    return lines


def wireless_section(report):
    wireless = report["wireless"]
    return [
        "Wireless identification:",
        "  BIOS answer: " + (", ".join(f"{k}={v}" for k, v in wireless["bios_answer"].items())
                             or "(no BIOS server)"),
        "  IDs decoded from the BIOS records: " +
        (", ".join(i or '""' for i in wireless["bios_wireless_ids_decoded"]) or "(none)"),
        "  adapters present: " + (", ".join(wireless["adapters_present"]) or "(none)"),
        "  adapters walked: " + (", ".join(wireless["adapters_walked"]) or "(none)"),
        f"  WLANID = {wireless['WLANID']}, Msg = {wireless['Msg']}",
    ]


def log_section(report):
    log = report["log"]
    lines = [f"Activity log {layout.LOG_PATH}:"]
    if not log["present"]:
        return lines + ["  (not written)"]
    for entry in log["entries"]:
        lines.append(f"  {entry['time']:<13} {printable(entry['text'])}")
    lines.append("  lines end in CR CR LF: " + ("yes" if log["lines_end_in_cr_cr_lf"] else "NO"))
    return lines


def before_after(before: dict, after: dict, indent="  "):
    lines = []
    for name in sorted(set(before) | set(after), key=str.lower):
        old, new = before.get(name), after.get(name)
        change = f"{shown(new)}" if old == new else f"{shown(old)} -> {shown(new)}"
        lines.append(f"{indent}{name:<16} {change}")
    return lines or [indent + "(missing before and after)"]


def settings_section(report):
    settings = report["settings_key"]
    return [f"Settings key {layout.SETTINGS_KEY} (before -> after):"] + \
        before_after(settings["before"], settings["after"])


def class_keys_section(report):
    lines = ["Network-adapter class keys (before -> after):"]
    for key, values in report["class_keys"].items():
        lines.append("  " + key)
        lines.extend(before_after(values["before"], values["after"], "    "))
    lines.append("PnPCapabilities under the keys the script named: " +
                 (", ".join(f"{v} (0x{v:X})" for v in report["pnp_capabilities"].values())
                  or "(none)"))
    return lines


def class_tree_section(report):
    changes = report["class_tree_changes"]
    lines = ["Keys under the class roots that the run created or changed:"]
    for key, values in changes.items():
        lines.append("  " + printable(key))
        lines.extend(before_after(values["before"] or {}, values["after"] or {}, "    "))
    return lines if changes else lines + ["  (none)"]


def scheme_section(report):
    before, after = report["balanced_scheme"]["before"], report["balanced_scheme"]["after"]
    yes_no = lambda flag: "yes" if flag else "no"
    lines = [
        f"Balanced scheme {BALANCED}:",
        f"  name    {shown(before['name'])} -> {shown(after['name'])}",
        f"  active  {yes_no(before['active'])} -> {yes_no(after['active'])}",
        f"  {'setting':<24} {'AC before':>9} {'AC after':>9} {'DC before':>9} {'DC after':>9}",
    ]
    for old, new in zip(before["settings"], after["settings"]):
        lines.append(f"  {old['name']:<24} {shown(old['ac']):>9} {shown(new['ac']):>9}"
                     f" {shown(old['dc']):>9} {shown(new['dc']):>9}")
    return lines


def powercfg_section(report):
    lines = ["powercfg commands, in the order they ran:"]
    for number, command in enumerate(report["powercfg_commands"], 1):
        took = f"{command['took_ms']:4} ms" if command["took_ms"] is not None else "   ? ms"
        overlapped = "  (OVERLAPPED another command)" if command.get("overlapped") else ""
        if command["exit_code"] is None and command.get("running_when_next_started"):
            overlapped = "  (never ended: still running when the next one started)"
        lines.append(f"  {number:2}. exit {shown(command['exit_code'])}  {took}"
                     f"  {command['parameters']}{overlapped}")
    return lines if report["powercfg_commands"] else lines + ["  (none)"]


def guide_section(report):
    checked = report.get("deployment_guide")
    if checked is None:
        return []
    verdict = "as the guide shows" if not checked["mismatches"] else "NOT as the guide shows"
    lines = [f"Verification steps of {checked['guide']}: {checked['commands_run']}"
             f" commands run, output {verdict}"]
    lines += ["  " + mismatch for mismatch in checked["mismatches"]]
    return lines


def verifier_section(report):
    verdicts = report.get("verifier")
    if verdicts is None:
        return []
    lines = []
    for title, key in (("on the stock computer, before the product", "stock_computer"),
                       ("after the run", "after_run"),
                       ("after the bench set one value back", "after_changed_value")):
        verdict = verdicts[key]
        if key == "after_changed_value" and not verdict.get("changed"):
            lines.append(f"vireo-verify {title}: not run (no class path recorded)")
            continue
        lines.append(f"vireo-verify {title}: exit code {verdict['exit_code']},"
                     f" settings key {verdict['hive']}")
        lines += ["  " + line for line in verdict["checks"]]
    after = verdicts["after_run"]
    lines.append(f"  read-only: registry unchanged {after['read_only']['registry_unchanged']},"
                 f" log unchanged {after['read_only']['log_unchanged']}; JSON {after['json']}")
    changed = verdicts["after_changed_value"]
    if changed.get("changed"):
        lines.append(f"  after setting {changed['changed']}: newly failed"
                     f" {', '.join(changed['newly_failed']) or '(none)'}")
    return lines

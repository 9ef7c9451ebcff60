"""What a run did to the machine, read back from it: the bench journal, the
activity log, the registry, the power-scheme store and the installer's log."""

import re
import time

from . import layout
from .layout import BALANCED, POWER_SCHEMES_KEY
from .machine import Machine

# The Balanced scheme's settings that the program configures, as
# (subgroup, setting, name shown in the report).
BALANCED_SETTINGS = (
    ("0012ee47-9041-4b5d-9b77-535fba8b1442", "0b2d69d7-a2a1-449c-9680-f91c70521c60",
     "hard disk 0b2d69d7"),
    ("0012ee47-9041-4b5d-9b77-535fba8b1442", "dab60367-53fe-4fbc-825e-521d069d2456",
     "hard disk dab60367"),
    ("4f971e89-eebd-4455-a8de-9e59040e7347", "5ca83367-6e45-459f-a27b-476b1d01c936",
     "lid-close action"),
    ("4f971e89-eebd-4455-a8de-9e59040e7347", "7648efa3-dd9c-4e3e-b566-50f929386280",
     "power-button action"),
    ("238c9fa8-0aad-41ed-83f4-97be242c8f20", "9d7815a6-7ee4-497e-8888-515a05f02364",
     "hibernate after (s)"),
    ("7516b95f-f776-4464-8c53-06167f40cc99", "aded5e82-b909-4619-9949-f5d71dac0bcb",
     "display brightness (%)"),
)
END_MARKER = "==== end of Vireo requirements ====\\r\\n"
DAY_MS = 86400000


class RunClock:
    """Puts the stamps of a run on one axis: milliseconds since the run began.
    The stand-ins stamp epoch milliseconds; the activity log, the script and
    the installer's log stamp the local time of day."""

    def __init__(self, start_epoch_s: float):
        self.start_ms = int(start_epoch_s * 1000)
        local = time.localtime(start_epoch_s)
        self.start_of_day_ms = ((local.tm_hour * 60 + local.tm_min) * 60 + local.tm_sec) * 1000 \
            + int(start_epoch_s * 1000) % 1000

    def from_epoch(self, epoch_ms: int) -> int:
        return epoch_ms - self.start_ms

    def from_time_of_day(self, day_ms: int) -> int:
        at = day_ms - self.start_of_day_ms
        return at + DAY_MS if at < -DAY_MS // 2 else at


def time_of_day_ms(hours, minutes, seconds, milliseconds=0) -> int:
    return ((int(hours) * 60 + int(minutes)) * 60 + int(seconds)) * 1000 + int(milliseconds)


def from_twelve_hour_clock(clock: RunClock, hours, minutes, seconds) -> int:
    """Wine's msiexec log stamps the hour on a 12-hour clock without AM or PM
    (13:34:05 is "1:34:05"): of the two times it can mean, the one nearer the
    run."""
    candidates = (clock.from_time_of_day(time_of_day_ms(int(hours) % 12 + half, minutes, seconds))
                  for half in (0, 12))
    return min(candidates, key=abs)


def read_journal(machine: Machine, clock: RunClock):
    events = []
    raw = machine.read_file(layout.JOURNAL_PATH) or b""
    for line in machine.decode(raw).split("\r\n"):
        if not line:
            continue
        stamp, program, event = (line.split("\t", 2) + ["", ""])[:3]
        if stamp.isdigit():
            at = clock.from_epoch(int(stamp))
        elif stamp.startswith("L") and stamp[1:].isdigit():
            at = clock.from_time_of_day(int(stamp[1:]))
        else:
            at = None
        events.append({"at_ms": at, "program": program, "event": event})
    return events


def split_journal(events):
    """Processes started, in order; the powercfg commands with their exit codes;
    what the maker's components were asked; the script host's life."""
    processes, commands = [], []
    received = {"installer_command_line": None, "machine_id_calls": [], "bios_commands": []}
    script = {"started_ms": None, "ended_ms": None, "host": None}
    for event in events:
        program, text = event["program"], event["event"]
        if program == "CRVNT.DLL":
            received["machine_id_calls"].append(text)
        elif program == "crvwmiex.exe":
            received["bios_commands"].append(text)
        elif program == "Vireo_Win7.vbs":
            if text == "ended":
                script["ended_ms"] = event["at_ms"]
                continue
            script["started_ms"] = event["at_ms"]
            if " in " in text:
                text, _, script["host"] = text.rpartition(" in ")
            processes.append({**event, "event": text})
        elif program == "powercfg.exe":
            add_powercfg_event(event, processes, commands)
        else:
            if program == "Setup1.exe" and received["installer_command_line"] is None:
                received["installer_command_line"] = text
            processes.append(event)
    return processes, commands, received, script


def add_powercfg_event(event, processes, commands):
    word, _, rest = event["event"].partition(" ")
    if word == "start":
        processes.append({**event, "event": rest})
        commands.append({"parameters": rest, "exit_code": None,
                         "started_ms": event["at_ms"], "took_ms": None})
        return
    if word != "exit":
        return
    code, _, parameters = rest.partition(" ")
    running = [i for i, c in enumerate(commands)
               if c["parameters"] == parameters and c["exit_code"] is None]
    if not running:
        commands.append({"parameters": parameters, "exit_code": int(code), "started_ms": None,
                         "took_ms": None, "overlapped": True})
        return
    index = running[0]
    command = commands[index]
    command["exit_code"] = int(code)
    command["took_ms"] = event["at_ms"] - command["started_ms"]
    # Commands started while this one ran overlapped it.
    if index != len(commands) - 1:
        for overlapping in commands[index:]:
            overlapping["overlapped"] = True


def read_balanced_scheme(machine: Machine):
    tree = {key.lower(): values for key, values in machine.query_tree(POWER_SCHEMES_KEY).items()}
    root = "hkey_local_machine" + POWER_SCHEMES_KEY[4:].lower()
    scheme = root + "\\" + BALANCED
    settings = []
    for subgroup, setting, name in BALANCED_SETTINGS:
        values = tree.get(scheme + "\\" + subgroup + "\\" + setting, {})
        settings.append({"name": name, "ac": values.get("ACSettingIndex"),
                         "dc": values.get("DCSettingIndex")})
    return {
        "name": tree.get(scheme, {}).get("FriendlyName"),
        "active": tree.get(root, {}).get("ActivePowerScheme") == BALANCED,
        "settings": settings,
    }


def read_log(machine: Machine, clock: RunClock):
    raw = machine.read_file(layout.LOG_PATH)
    if raw is None:
        return {"present": False, "entries": [], "lines_end_in_cr_cr_lf": False}
    text = machine.decode(raw)
    # Each line ends in CR CR LF; a line break inside a message does too, so
    # an entry is known by its timestamp.
    pieces = text.split("\r\r\n")
    entries = []
    stamp = re.compile(r"^(\d\d):(\d\d):(\d\d):(\d{1,3})\t(.*)$", re.S)
    for piece in pieces[:-1] if text.endswith("\r\r\n") else pieces:
        match = stamp.match(piece)
        if match:
            hours, minutes, seconds, milliseconds, message = match.groups()
            entries.append({
                "time": f"{hours}:{minutes}:{seconds}:{milliseconds}",
                "at_ms": clock.from_time_of_day(time_of_day_ms(hours, minutes, seconds,
                                                               milliseconds)),
                "text": message,
            })
        elif entries:
            entries[-1]["text"] += "\\r\\n" + piece
    return {"present": True, "entries": entries,
            "lines_end_in_cr_cr_lf": text.endswith("\r\r\n")}


def read_class_keys(machine: Machine):
    """The network-adapter class instance keys of the image, under both roots."""
    keys = {}
    for root in layout.CLASS_ROOTS:
        for instance in layout.CLASS_INSTANCE_KEYS:
            key = f"{root}\\{layout.NET_DEVICE_CLASS.upper()}\\{instance}"
            keys[key] = machine.query_key(key)
    return keys


def read_wake_on_lan(machine: Machine, settings: dict):
    """PnPCapabilities under the class keys the script named."""
    written = {}
    for name in ("GUID1", "GUID2", "GUID3"):
        text = settings.get(name)
        if not isinstance(text, str) or not text:
            continue
        for root in layout.CLASS_ROOTS:
            key = root + "\\" + text
            value = machine.query_key(key).get("PnPCapabilities")
            if value is not None:
                written[key] = value
    return written


def read_class_trees(machine: Machine):
    """Every key under both class roots with its values."""
    tree = {}
    for root in layout.CLASS_ROOTS:
        tree.update(machine.query_tree(root))
    return tree


def class_tree_changes(before: dict, after: dict):
    """The keys under the class roots that the run created or changed, wherever
    the script's values led the pass."""
    return {key: {"before": before.get(key), "after": after.get(key)}
            for key in sorted(set(before) | set(after)) if before.get(key) != after.get(key)}


def mark_overlaps(commands):
    """A command still running when the next one started: it had not exited
    by then, or never did."""
    for command, following in zip(commands, commands[1:]):
        started = following["started_ms"]
        ended = None if command["took_ms"] is None else command["started_ms"] + command["took_ms"]
        if command["started_ms"] is not None and started is not None and \
                (ended is None or ended > started):
            command["running_when_next_started"] = True


def read_wireless(log: dict, settings: dict, profile: dict):
    """What the wireless identification saw: the BIOS's answer, the ID it
    decoded, the adapters it walked, and what it recorded."""
    prefix_id = "Wireless LAN ID from BIOS: -- write this value to register as well -- "
    prefix_walk = "Hardware ID from PCI Bus : "
    texts = [entry["text"] for entry in log["entries"]]
    return {
        "bios_answer": layout.bios_answer(profile),
        "adapters_present": [adapter[1] for adapter in layout.network_adapters(profile)],
        "bios_wireless_ids_decoded": [t[len(prefix_id):] for t in texts if t.startswith(prefix_id)],
        "adapters_walked": [t[len(prefix_walk):] for t in texts if t.startswith(prefix_walk)],
        "WLANID": settings.get("WLANID"),
        "Msg": settings.get("Msg"),
    }


def read_installer_log(machine: Machine, clock: RunClock):
    """From msiexec's verbose log: the custom action's start, end and return
    value, and the session's crvMSIHotFix property at the end."""
    raw = machine.read_file(layout.MSIEXEC_LOG)
    if raw is None:
        return None
    text = raw.decode("latin-1")
    action = {"name": "RunVireoPass", "started_ms": None, "ended_ms": None, "return_value": None}
    pattern = r"Action (start|ended) (\d+):(\d\d):(\d\d): RunVireoPass\.(?: Return value (\d+)\.)?"
    # msiexec stamps whole seconds: the action starts no earlier than the start
    # of its first second and ends no later than the end of its last.
    for kind, hours, minutes, seconds, value in re.findall(pattern, text):
        at = from_twelve_hour_clock(clock, hours, minutes, seconds)
        if kind == "start" and action["started_ms"] is None:
            action["started_ms"] = at
        elif kind == "ended" and action["ended_ms"] is None:
            action["ended_ms"] = at + 999
            action["return_value"] = int(value)
    properties = re.findall(r"^Property\(S\): crvMSIHotFix = (.*?)\r?$", text, re.M)
    return {"custom_action": action, "property_in_session": properties[-1] if properties else None}


def installer_session(machine: Machine, clock: RunClock, profile: dict, log: dict,
                      exit_code: int, received: dict):
    """How the pass met its installer session: a null handle from the program,
    or msiexec's session through the package's custom action."""
    texts = [entry["text"] for entry in log["entries"]]
    facts = {
        "pass_reached_end_marker": END_MARKER in texts,
        "pass_hosted_by": sorted({call.rpartition(" in ")[2]
                                  for call in received["machine_id_calls"]}),
    }
    if profile["runs"] != "installer-package":
        return {"session": "null", **facts}
    installer = read_installer_log(machine, clock) or {}
    action = installer.get("custom_action") or {}
    inside = bool(log["entries"]) and action.get("started_ms") is not None and all(
        action["started_ms"] <= entry["at_ms"] <= action["ended_ms"]
        for entry in log["entries"])
    row = machine.query_key(r"HKCU\Software\CorvaneBench\Installer").get("crvMSIHotFix")
    return {
        "session": "msiexec",
        "msiexec_exit_code": exit_code,
        **facts,
        "custom_action": action,
        "log_written_while_the_action_ran": inside,
        "property_in_session": installer.get("property_in_session"),
        "registry_row_written_after_the_action": row,
    }


def snapshot_before(machine: Machine):
    return {
        "balanced_scheme": read_balanced_scheme(machine),
        "settings_key": machine.query_key(layout.SETTINGS_KEY),
        "class_keys": read_class_keys(machine),
        "class_trees": read_class_trees(machine),
    }


def collect(machine: Machine, profile: dict, exit_code: int, duration_s: float,
            clock: RunClock, before: dict):
    settings = machine.query_key(layout.SETTINGS_KEY)
    journal = read_journal(machine, clock)
    processes, commands, received, script = split_journal(journal)
    mark_overlaps(commands)
    log = read_log(machine, clock)
    class_after = read_class_keys(machine)
    return {
        "profile": profile["name"],
        "description": profile["description"],
        "windows": profile["windows"],
        "runs": profile["runs"],
        "run": {"exit_code": exit_code, "duration_s": round(duration_s, 1)},
        "processes": processes,
        "script_host": script,
        "makers_components_received": received,
        "installer_session": installer_session(machine, clock, profile, log, exit_code, received),
        "wireless": read_wireless(log, settings, profile),
        "log": log,
        "settings_key": {"before": before["settings_key"], "after": settings},
        "class_keys": {key: {"before": before["class_keys"][key], "after": class_after[key]}
                       for key in class_after},
        "pnp_capabilities": read_wake_on_lan(machine, settings),
        "class_tree_changes": class_tree_changes(before["class_trees"], read_class_trees(machine)),
        "balanced_scheme": {"before": before["balanced_scheme"],
                            "after": read_balanced_scheme(machine)},
        "powercfg_commands": commands,
        "journal": journal,
    }

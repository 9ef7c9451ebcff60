#!/usr/bin/env python3
"""The bench: a virtual Windows 7 computer in a scratch Wine prefix.

It lays out the computer (the program and the silent installer in a setup
folder, the library and the maker's script in the product folder, a powercfg
stand-in with stock power schemes in the 32-bit system folder, the maker's
disk-protection device and its service), runs the program once at real speed,
and reports what the run did to the machine: exit code and duration, the
processes started in order, the activity log, the settings key, the
PnPCapabilities values written, the Balanced scheme before and after, and the
powercfg commands with their exit codes.

    vbench.py run --bin DIR --bench-bin DIR --out DIR [--check] [--quiet]
"""

import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

BENCH_DIR = Path(__file__).resolve().parent
EXPECTED_DIR = BENCH_DIR / "expected"
PROFILES_DIR = BENCH_DIR / "profiles"

SETUP_FOLDER = r"C:\Factory\Setup"
WMI_SERVER = r"C:\Program Files (x86)\Corvane\Shared\crvwmiex.exe"
SETTINGS_KEY = r"HKCU\Software\Corvane\Pallister"
CLASS_ROOTS = (
    r"HKLM\System\ControlSet001\Control\Class",
    r"HKLM\System\CurrentControlSet\Control\Class",
)
POWER_SCHEMES_KEY = r"HKLM\SYSTEM\CurrentControlSet\Control\Power\User\PowerSchemes"
BALANCED = "381b4222-f694-41f0-9685-ff5bb260df2e"
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
DISK_PROTECTION_INTERFACE = "{DD2A6682-735E-4E8E-8A59-D9DCCF1EBECE}"
NETWORK_ADAPTER_INTERFACE = "{AD498944-762F-11D0-8DCB-00C04FC3358C}"
NET_DEVICE_CLASS = "{4d36e972-e325-11ce-bfc1-08002be10318}"
BIOS_CONFIG = r"HKCU\Software\CorvaneBench\crvwmiex"
WIRELESS_CARD_RECORD = "01008680374286801112"
NETWORK_ADAPTERS = (
    ("CRVNETWIRED", r"PCI\VEN_10EC&DEV_8168&SUBSYS_03861028&REV_06"),
    ("CRVNETWIFI", r"PCI\VEN_8086&DEV_4237&SUBSYS_12118086&REV_61"),
    ("CRVNETTUNNEL", r"*ISATAP"),
)
SYSTEM_DEVICE_CLASS = "{4d36e97d-e325-11ce-bfc1-08002be10318}"
LOG_PATH = r"C:\SYSTEM.SAV\Pallister.log"
JOURNAL_PATH = r"C:\bench\journal.txt"
RUN_TIMEOUT_S = 240


class Machine:
    """A Wine prefix playing a 64-bit Windows 7 computer (WoW64)."""

    def __init__(self, prefix: Path):
        self.prefix = prefix
        self.env = dict(os.environ)
        self.env.pop("DISPLAY", None)
        self.env.update({
            "WINEPREFIX": str(prefix),
            "WINEARCH": "win64",
            "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
        })
        # What a 32-bit process sees on a 64-bit system.
        self.program_files = r"C:\Program Files (x86)"
        self.system32_on_disk = r"C:\windows\syswow64"

    def host_path(self, windows_path: str) -> Path:
        drive, rest = windows_path.split(":", 1)
        assert drive.upper() == "C"
        parts = [p for p in rest.split("\\") if p]
        return self.prefix.joinpath("drive_c", *parts)

    def _run(self, command, timeout):
        """Runs a command of the prefix. Output goes to files, not pipes: Wine's
        background services inherit the handles and would hold a pipe open."""
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            result = subprocess.run(command, env=self.env, stdout=out, stderr=err,
                                    stdin=subprocess.DEVNULL, timeout=timeout)
            out.seek(0)
            err.seek(0)
            return subprocess.CompletedProcess(command, result.returncode, out.read(), err.read())

    def wine(self, *args, timeout=60):
        return self._run(["wine", *args], timeout)

    def boot(self):
        self.stop()
        if self.prefix.exists():
            shutil.rmtree(self.prefix)
        self.prefix.mkdir(parents=True)
        # One server for the whole run, kept alive between processes. The
        # prefix is made by an update (-u): after "wineboot -i" two service
        # managers are left answering in turn, which breaks service look-ups
        # and COM activation at random.
        self._run(["wineserver", "-p"], timeout=30)
        if self._run(["wineboot", "-u"], timeout=300).returncode != 0:
            raise RuntimeError(f"wineboot failed for {self.prefix}")

    def stop(self):
        if self.prefix.exists():
            self._run(["wineserver", "-k"], timeout=30)

    def install(self, source: Path, windows_path: str):
        target = self.host_path(windows_path)
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(source, target)

    def make_folder(self, windows_path: str):
        self.host_path(windows_path).mkdir(parents=True, exist_ok=True)

    def read_file(self, windows_path: str):
        path = self.host_path(windows_path)
        return path.read_bytes() if path.exists() else None

    def query_key(self, key: str) -> dict:
        """Values of one registry key, as reg.exe shows them; {} when missing."""
        result = self.wine("reg", "query", key)
        if result.returncode != 0:
            return {}
        values = {}
        for line in result.stdout.decode("utf-8", "replace").splitlines():
            match = re.match(r"^    (.+?)    (REG_\w+)    ?(.*)$", line.rstrip("\r"))
            if not match:
                continue
            name, kind, data = match.groups()
            if kind == "REG_DWORD":
                values[name] = int(data, 16)
            else:
                values[name] = data
        return values


def load_profile(name: str) -> dict:
    path = PROFILES_DIR / f"{name}.json"
    if not path.exists():
        raise SystemExit(f"no such profile: {name} (make demo PROFILE=list shows them)")
    return json.loads(path.read_text())


def list_profiles():
    for path in sorted(PROFILES_DIR.glob("*.json")):
        print(f"  {path.stem:<20} {json.loads(path.read_text()).get('description', '')}")


def lay_out_computer(machine: Machine, bin_dir: Path, bench_bin: Path, profile: dict):
    product = machine.program_files + r"\Corvane\Pallister"
    machine.install(bin_dir / "defaults-runner.exe", SETUP_FOLDER + r"\defaults-runner.exe")
    machine.install(bench_bin / "Setup1.exe", SETUP_FOLDER + r"\Setup1.exe")
    machine.install(bin_dir / "VireoDll.dll", product + r"\VireoDll.dll")
    machine.install(bench_bin / "Vireo_Win7.vbs", product + r"\Vireo_Win7.vbs")
    machine.install(bench_bin / "crvnt-stdcall" / "CRVNT.DLL", product + r"\CRVNT.DLL")
    machine.install(bench_bin / "crvwmiex.exe", WMI_SERVER)
    machine.install(bench_bin / "powercfg.exe", machine.system32_on_disk + r"\powercfg.exe")
    # The maker's image carries the log folder; the pass does not create it.
    machine.make_folder(r"C:\SYSTEM.SAV")
    machine.make_folder(r"C:\bench")
    # Stock power schemes, with another scheme active so that activation shows.
    powercfg(machine, "-RestoreDefaultSchemes")
    powercfg(machine, "-S 8c5e7fda-e8bf-4a96-9a85-a6e23a8c635c")
    # The WMI-extension server: class, type library and service entry.
    register_wmi_server(machine)
    # The BIOS (by default a wireless card, PCI 8086:4237, subsystem 8086:1211).
    for name, value in {"Records": WIRELESS_CARD_RECORD, **profile.get("bios", {})}.items():
        kind, data = ("REG_DWORD", str(value)) if isinstance(value, int) else (
            ("REG_BINARY" if name == "Records" else "REG_SZ"), value)
        machine.wine("reg", "add", BIOS_CONFIG, "/v", name, "/t", kind, "/d", data, "/f")
    # Network adapters (by default the wireless card, its hardware ID with a
    # revision part, a wired one, and one whose ID is too short to compare).
    for enumerator, hardware_id in profile.get("adapters", NETWORK_ADAPTERS):
        devmaker(machine, bench_bin, "add", NET_DEVICE_CLASS, enumerator,
                 NETWORK_ADAPTER_INTERFACE, hardware_id)
    # The disk-protection hardware: its ACPI device and its filter service.
    devmaker(machine, bench_bin, "add", SYSTEM_DEVICE_CLASS, "CRVDISKPROT",
             DISK_PROTECTION_INTERFACE, "ACPI\\CRV0004", "*CRV0004")
    devmaker(machine, bench_bin, "add-service", "crvdskflt")
    # What the stand-ins journalled while the computer was laid out is not part of the run.
    journal = machine.host_path(JOURNAL_PATH)
    if journal.exists():
        journal.unlink()


def register_wmi_server(machine: Machine):
    result = machine.wine(WMI_SERVER, "/RegServer")
    if result.returncode != 0 or machine.wine("sc", "query", "crvwmiex").returncode != 0:
        raise RuntimeError(f"crvwmiex /RegServer failed: {result.stderr!r}")


def powercfg(machine: Machine, parameters: str):
    result = machine.wine(machine.system32_on_disk + r"\powercfg.exe", *parameters.split())
    if result.returncode != 0:
        raise RuntimeError(f"powercfg {parameters} failed: {result.stdout!r}")


def devmaker(machine: Machine, bench_bin: Path, *args):
    result = machine.wine(str(bench_bin / "devmaker.exe"), *args)
    if result.returncode != 0:
        raise RuntimeError(f"devmaker {' '.join(args)} failed: {result.stderr!r}")


def run_program(machine: Machine):
    started = time.monotonic()
    result = machine.wine(SETUP_FOLDER + r"\defaults-runner.exe", timeout=RUN_TIMEOUT_S)
    return result.returncode, time.monotonic() - started


def read_journal(machine: Machine, run_start_ms: int):
    events = []
    raw = machine.read_file(JOURNAL_PATH) or b""
    for line in raw.decode("latin-1").split("\r\n"):
        if not line:
            continue
        stamp, program, event = (line.split("\t", 2) + ["", ""])[:3]
        at = int(stamp) - run_start_ms if stamp.isdigit() else None
        events.append({"at_ms": at, "program": program, "event": event})
    return events


def split_journal(events):
    """Processes started, in order; the powercfg commands with their exit codes;
    and what the maker's components were asked (machine-ID calls, BIOS commands)."""
    processes, commands, received = [], [], {"machine_id_calls": 0, "bios_commands": []}
    for event in events:
        if event["program"] == "CRVNT.DLL":
            received["machine_id_calls"] += 1
            continue
        if event["program"] == "crvwmiex.exe":
            received["bios_commands"].append(event["event"])
            continue
        if event["program"] != "powercfg.exe":
            processes.append(event)
            continue
        word, _, rest = event["event"].partition(" ")
        if word == "start":
            processes.append({**event, "event": rest})
            commands.append({"parameters": rest, "exit_code": None,
                             "started_ms": event["at_ms"], "took_ms": None})
        elif word == "exit" and commands:
            code, _, parameters = rest.partition(" ")
            command = commands[-1]
            if command["parameters"] == parameters and command["exit_code"] is None:
                command["exit_code"] = int(code)
                command["took_ms"] = event["at_ms"] - command["started_ms"]
            else:
                # Another command started before this one ended.
                commands.append({"parameters": parameters, "exit_code": int(code),
                                 "started_ms": None, "took_ms": None, "overlapped": True})
    return processes, commands, received


def read_balanced_scheme(machine: Machine):
    scheme_key = POWER_SCHEMES_KEY + "\\" + BALANCED
    settings = []
    for subgroup, setting, name in BALANCED_SETTINGS:
        values = machine.query_key(scheme_key + "\\" + subgroup + "\\" + setting)
        settings.append({"name": name, "ac": values.get("ACSettingIndex"),
                         "dc": values.get("DCSettingIndex")})
    return {
        "name": machine.query_key(scheme_key).get("FriendlyName"),
        "active": machine.query_key(POWER_SCHEMES_KEY).get("ActivePowerScheme") == BALANCED,
        "settings": settings,
    }


def read_log(machine: Machine):
    raw = machine.read_file(LOG_PATH)
    if raw is None:
        return {"present": False, "entries": [], "lines_end_in_cr_cr_lf": False}
    text = raw.decode("latin-1")
    # Each line ends in CR CR LF; a line break inside a message does too, so
    # an entry is known by its timestamp.
    pieces = text.split("\r\r\n")
    entries = []
    stamp = re.compile(r"^(\d\d:\d\d:\d\d:\d{1,3})\t(.*)$", re.S)
    for piece in pieces[:-1] if text.endswith("\r\r\n") else pieces:
        match = stamp.match(piece)
        if match:
            entries.append({"time": match.group(1), "text": match.group(2)})
        elif entries:
            entries[-1]["text"] += "\\r\\n" + piece
    return {
        "present": True,
        "entries": entries,
        "lines_end_in_cr_cr_lf": text.endswith("\r\r\n"),
    }


def read_wake_on_lan(machine: Machine, settings: dict):
    """PnPCapabilities under the class keys the script named."""
    written = {}
    for name in ("GUID1", "GUID2", "GUID3"):
        text = settings.get(name)
        if not text:
            continue
        for root in CLASS_ROOTS:
            key = root + "\\" + text
            value = machine.query_key(key).get("PnPCapabilities")
            if value is not None:
                written[key] = value
    return written


def read_wireless(log: dict, settings: dict, profile: dict):
    """What the wireless identification saw: the BIOS's answer, the ID it
    decoded, the adapters it walked, and what it recorded."""
    prefix_id = "Wireless LAN ID from BIOS: -- write this value to register as well -- "
    prefix_walk = "Hardware ID from PCI Bus : "
    texts = [entry["text"] for entry in log["entries"]]
    decoded = [t[len(prefix_id):] for t in texts if t.startswith(prefix_id)]
    return {
        "bios_answer": {"Records": WIRELESS_CARD_RECORD, **profile.get("bios", {})},
        "adapters_present": [hwid for _, hwid in profile.get("adapters", NETWORK_ADAPTERS)],
        "bios_wireless_ids_decoded": decoded,
        "adapters_walked": [t[len(prefix_walk):] for t in texts if t.startswith(prefix_walk)],
        "WLANID": settings.get("WLANID"),
        "Msg": settings.get("Msg"),
    }


def collect(machine: Machine, exit_code: int, duration_s: float, run_start_ms: int,
            scheme_before: dict, profile_name: str, profile: dict):
    settings = machine.query_key(SETTINGS_KEY)
    processes, commands, received = split_journal(read_journal(machine, run_start_ms))
    log = read_log(machine)
    return {
        "profile": profile_name,
        "run": {"exit_code": exit_code, "duration_s": round(duration_s, 1)},
        "wireless": read_wireless(log, settings, profile),
        "processes": processes,
        "makers_components_received": received,
        "powercfg_commands": commands,
        "balanced_scheme": {"before": scheme_before, "after": read_balanced_scheme(machine)},
        "log": log,
        "settings_key": settings,
        "pnp_capabilities": read_wake_on_lan(machine, settings),
    }


def format_report(report: dict) -> str:
    out = []
    run = report["run"]
    out.append(f"Virtual computer: {report['profile']}")
    out.append(f"Run: exit code {run['exit_code']}, {run['duration_s']:.1f} s")
    out.append("")
    out.append("Processes started, in order:")
    powercfg_number = 0
    for number, process in enumerate(report["processes"], 1):
        at = f"{process['at_ms'] / 1000:7.2f} s" if process["at_ms"] is not None else "      -  "
        event = process["event"]
        if process["program"] == "powercfg.exe":
            powercfg_number += 1
            event = f"command {powercfg_number} of the list below"
        out.append(f"  {number:2}. {at}  {process['program']:<16} {event}")
    if not report["processes"]:
        out.append("  (none)")
    out.append("")
    received = report["makers_components_received"]
    out.append("What the maker's components received:")
    installer = [p["event"] for p in report["processes"] if p["program"] == "Setup1.exe"]
    out.append("  installer command line: " + (installer[0] if installer else "(not started)"))
    out.append(f"  machine-ID calls: {received['machine_id_calls']}")
    out.append("  BIOS commands:" + ("" if received["bios_commands"] else " (none)"))
    for command in received["bios_commands"]:
        out.append("    " + command)
    out.append("")
    wireless = report["wireless"]
    out.append("Wireless identification:")
    out.append("  BIOS answer: " + ", ".join(f"{k}={v}" for k, v in wireless["bios_answer"].items()))
    out.append("  IDs decoded from the BIOS records: " +
               (", ".join(i or '""' for i in wireless["bios_wireless_ids_decoded"]) or "(none)"))
    out.append("  adapters present: " + ", ".join(wireless["adapters_present"]))
    out.append("  adapters walked: " + (", ".join(wireless["adapters_walked"]) or "(none)"))
    out.append(f"  WLANID = {wireless['WLANID']}, Msg = {wireless['Msg']}")
    out.append("")
    log = report["log"]
    out.append(f"Activity log {LOG_PATH}:")
    if not log["present"]:
        out.append("  (not written)")
    for entry in log["entries"]:
        out.append(f"  {entry['time']:<13} {entry['text']}")
    if log["present"]:
        out.append("  lines end in CR CR LF: " + ("yes" if log["lines_end_in_cr_cr_lf"] else "NO"))
    out.append("")
    out.append(f"Settings key {SETTINGS_KEY}:")
    for name, value in sorted(report["settings_key"].items()):
        out.append(f"  {name:<14} {value}")
    if not report["settings_key"]:
        out.append("  (missing)")
    out.append("")
    out.append("PnPCapabilities written:")
    for key, value in report["pnp_capabilities"].items():
        out.append(f"  {key} = {value} (0x{value:X})")
    if not report["pnp_capabilities"]:
        out.append("  (none)")
    out.append("")
    out.extend(format_scheme(report["balanced_scheme"]))
    out.append("")
    out.append("powercfg commands, in the order they ran:")
    for number, command in enumerate(report["powercfg_commands"], 1):
        took = f"{command['took_ms']:4} ms" if command["took_ms"] is not None else "   ? ms"
        overlapped = "  (OVERLAPPED another command)" if command.get("overlapped") else ""
        out.append(f"  {number:2}. exit {command['exit_code']}  {took}  {command['parameters']}"
                   f"{overlapped}")
    if not report["powercfg_commands"]:
        out.append("  (none)")
    return "\n".join(out) + "\n"


def format_scheme(scheme: dict):
    before, after = scheme["before"], scheme["after"]
    shown = lambda value: "-" if value is None else str(value)
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


def differences(expected, actual, where="report"):
    """Where actual differs from expected; keys absent from expected are free."""
    if isinstance(expected, dict):
        if not isinstance(actual, dict):
            return [f"{where}: expected an object, got {actual!r}"]
        found = []
        for key, value in expected.items():
            if key not in actual:
                found.append(f"{where}.{key}: missing (expected {value!r})")
            else:
                found.extend(differences(value, actual[key], f"{where}.{key}"))
        return found
    if isinstance(expected, list):
        if not isinstance(actual, list) or len(actual) != len(expected):
            return [f"{where}: expected {len(expected)} items, got {actual!r}"]
        found = []
        for index, (want, got) in enumerate(zip(expected, actual)):
            found.extend(differences(want, got, f"{where}[{index}]"))
        return found
    return [] if expected == actual else [f"{where}: expected {expected!r}, got {actual!r}"]


def run(args) -> int:
    if args.profile == "list":
        print("Profiles (make demo PROFILE=<name>):")
        list_profiles()
        return 0
    profile = load_profile(args.profile)
    out = Path(args.out).resolve()
    out.mkdir(parents=True, exist_ok=True)
    machine = Machine(out / "prefix")
    try:
        if not args.quiet:
            print(f"Preparing the virtual computer in {machine.prefix} ...", flush=True)
        machine.boot()
        lay_out_computer(machine, Path(args.bin), Path(args.bench_bin), profile)
        if not args.quiet:
            print("Running defaults-runner.exe at real speed (about half a minute) ...", flush=True)
        scheme_before = read_balanced_scheme(machine)
        run_start_ms = int(time.time() * 1000)
        exit_code, duration_s = run_program(machine)
        report = collect(machine, exit_code, duration_s, run_start_ms, scheme_before,
                         args.profile, profile)
    finally:
        machine.stop()

    text = format_report(report)
    (out / "report.txt").write_text(text)
    (out / "report.json").write_text(json.dumps(report, indent=2) + "\n")
    if not args.quiet:
        print()
        print(text, end="")
        print(f"\nReport written to {out / 'report.txt'} and {out / 'report.json'}")

    if args.check:
        expected_path = EXPECTED_DIR / f"{report['profile']}.json"
        if not expected_path.exists():
            print(f"check: no expected facts for profile {report['profile']}")
            return 1
        expected = json.loads(expected_path.read_text())
        found = differences(expected, report)
        for line in found:
            print("DIFFERENCE " + line)
        print(f"check: {'passed' if not found else 'FAILED'} ({len(found)} differences)")
        return 1 if found else 0
    return 0


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    run_parser = commands.add_parser("run", help="run the program once on a fresh computer")
    run_parser.add_argument("--bin", required=True, help="folder of the release binaries")
    run_parser.add_argument("--bench-bin", required=True, help="folder of the built stand-ins")
    run_parser.add_argument("--out", required=True, help="folder for the prefix and the report")
    run_parser.add_argument("--profile", default="default",
                            help="the computer to lay out (bench/profiles/NAME.json; list)")
    run_parser.add_argument("--check", action="store_true",
                            help="compare the report with the expected facts")
    run_parser.add_argument("--quiet", action="store_true", help="print only the check")
    args = parser.parse_args()
    return run(args)


if __name__ == "__main__":
    sys.exit(main())

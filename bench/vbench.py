#!/usr/bin/env python3
"""The bench: a virtual Windows 7 computer in a scratch Wine prefix.

It lays out the computer (the program and the silent installer in a setup
folder, the library and the maker's script in the product folder, a powercfg
stand-in in the 32-bit system folder), runs the program once at real speed,
and reports what the run did to the machine: exit code and duration, the
processes started in order, the activity log, the settings key and the
PnPCapabilities values written.

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

SETUP_FOLDER = r"C:\Factory\Setup"
SETTINGS_KEY = r"HKCU\Software\Corvane\Pallister"
CLASS_ROOTS = (
    r"HKLM\System\ControlSet001\Control\Class",
    r"HKLM\System\CurrentControlSet\Control\Class",
)
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
        # One server for the whole run, kept alive between processes.
        self._run(["wineserver", "-p"], timeout=30)
        if self._run(["wineboot", "-i"], timeout=300).returncode != 0:
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


def lay_out_computer(machine: Machine, bin_dir: Path, bench_bin: Path):
    product = machine.program_files + r"\Corvane\Pallister"
    machine.install(bin_dir / "defaults-runner.exe", SETUP_FOLDER + r"\defaults-runner.exe")
    machine.install(bench_bin / "Setup1.exe", SETUP_FOLDER + r"\Setup1.exe")
    machine.install(bin_dir / "VireoDll.dll", product + r"\VireoDll.dll")
    machine.install(bench_bin / "Vireo_Win7.vbs", product + r"\Vireo_Win7.vbs")
    machine.install(bench_bin / "powercfg.exe", machine.system32_on_disk + r"\powercfg.exe")
    # The maker's image carries the log folder; the pass does not create it.
    machine.make_folder(r"C:\SYSTEM.SAV")
    machine.make_folder(r"C:\bench")


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


def collect(machine: Machine, exit_code: int, duration_s: float, run_start_ms: int):
    settings = machine.query_key(SETTINGS_KEY)
    return {
        "profile": "default",
        "run": {"exit_code": exit_code, "duration_s": round(duration_s, 1)},
        "processes": read_journal(machine, run_start_ms),
        "log": read_log(machine),
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
    for number, process in enumerate(report["processes"], 1):
        at = f"{process['at_ms'] / 1000:7.2f} s" if process["at_ms"] is not None else "      -  "
        out.append(f"  {number:2}. {at}  {process['program']:<16} {process['event']}")
    if not report["processes"]:
        out.append("  (none)")
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
    return "\n".join(out) + "\n"


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
    out = Path(args.out).resolve()
    out.mkdir(parents=True, exist_ok=True)
    machine = Machine(out / "prefix")
    try:
        if not args.quiet:
            print(f"Preparing the virtual computer in {machine.prefix} ...", flush=True)
        machine.boot()
        lay_out_computer(machine, Path(args.bin), Path(args.bench_bin))
        if not args.quiet:
            print("Running defaults-runner.exe at real speed (about half a minute) ...", flush=True)
        run_start_ms = int(time.time() * 1000)
        exit_code, duration_s = run_program(machine)
        report = collect(machine, exit_code, duration_s, run_start_ms)
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
        expected = json.loads((EXPECTED_DIR / f"{report['profile']}.json").read_text())
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
    run_parser.add_argument("--check", action="store_true",
                            help="compare the report with the expected facts")
    run_parser.add_argument("--quiet", action="store_true", help="print only the check")
    args = parser.parse_args()
    return run(args)


if __name__ == "__main__":
    sys.exit(main())

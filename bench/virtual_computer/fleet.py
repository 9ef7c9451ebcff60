"""The summary program (vireo-summary.exe) on the virtual computer's own
verdicts.

Each run keeps its verifier report (the JSON of the check after the run)
beside its bench report. `make demo` ends with the summary of its one unit;
`make demo-all` builds a fleet from every profile's report and checks what
the summary makes of it:

- each profile's computer is a unit of its own (its computer name is the
  profile's, its machine ID the one the run recorded with the unit's number
  added), apart from two that keep the recorded ID as it is: one machine ID
  on two computers, as an image captured after a run gives;
- one unit is reported twice (an earlier copy of its report);
- broken files: a report cut short, text that is not JSON, JSON of another
  shape (the bench's own report), a file over 1 MiB and a file whose name is
  not a report's.

The console summary, the CSV (parsed back) and the page are compared with
what the reports themselves say; the page is rendered by a real browser
(headless Chromium, printed to PDF and read back as text) and its counts
compared with the CSV's."""

import csv
import io
import json
import re
import shutil
import subprocess
import sys
import time
from datetime import datetime, timedelta
from pathlib import Path

from . import verifier
from .machine import Machine

SUMMARY = "vireo-summary.exe"
# A run's verifier report, kept in the run's output folder.
KEPT_REPORT = "vireo-verify.json"
# The units that keep the recorded machine ID, and the one reported twice.
SHARED_ID_PROFILES = ("default", "win32")
REPORTED_TWICE = "msi"
FILE_NAME_FORBIDDEN = set('<>:"/\\|?*')
STATUSES = ("PASS", "FAIL", "WARN", "SKIP")
BROWSER = "chromium"


def keep_report(machine: Machine, out: Path):
    """Copies the verifier's report of the run into the output folder."""
    raw = machine.read_file(verifier.JSON_PATH)
    if raw is not None:
        (out / KEPT_REPORT).write_bytes(raw)


def report_name(machine_id, computer: str) -> str:
    """The file name the verifier gives a report in a folder."""
    def part(text):
        return "".join("_" if c in FILE_NAME_FORBIDDEN or ord(c) < 0x20 else c for c in text)
    return f"{part(machine_id or 'no-machine-id')}_{part(computer)}.json"


def windows_path(path: Path) -> str:
    """A host path as Wine's Z: drive shows it."""
    return "Z:" + str(path.resolve()).replace("/", "\\")


def earlier(time_text: str) -> str:
    stamp = datetime.strptime(time_text, "%Y-%m-%dT%H:%M:%SZ") - timedelta(hours=1)
    return stamp.strftime("%Y-%m-%dT%H:%M:%SZ")


def build_fleet(reports: dict, folder: Path) -> dict:
    """Writes the fleet's files into folder from {profile: report bytes};
    returns what the summary must make of them."""
    folder.mkdir(parents=True, exist_ok=True)
    units, shared, repeated = [], {}, None
    for number, profile in enumerate(sorted(reports), 1):
        report = json.loads(reports[profile])
        computer = profile.upper()
        if report["machine_id"] and profile not in SHARED_ID_PROFILES:
            report["machine_id"] = f"{report['machine_id']}-{number:02d}"
        report["computer_name"] = computer
        name = report_name(report["machine_id"], computer)
        (folder / name).write_text(json.dumps(report, indent=2))
        units.append(report)
        if profile in SHARED_ID_PROFILES and report["machine_id"]:
            shared.setdefault(report["machine_id"], []).append(computer)
        if profile == REPORTED_TWICE:
            copy = dict(report, time=earlier(report["time"]))
            repeated = name.replace(".json", " (earlier).json")
            (folder / repeated).write_text(json.dumps(copy, indent=2))
    some = reports[sorted(reports)[0]]
    cut = some[:len(some) // 2]
    broken = {
        "CUT_SHORT.json": (cut, f"truncated (the JSON stops at byte {len(cut)})"),
        "NOT-JSON_TEXT.json": (b"verdict: every checked effect is there\r\n",
                               "not JSON (at byte 0: Invalid value)"),
        "BENCH_REPORT.json": (b'{"profile": "default", "runs": "program"}',
                              'JSON of another shape (no valid "machine_id")'),
        "TOO-LARGE_COPY.json": (some + b" " * (1024 * 1024),
                                "over 1 MiB, larger than any report"),
        "report.txt": (b"a bench report, not a verifier's", "not a report's name "
                       "(a report's ends in .json)"),
    }
    for name, (data, _) in broken.items():
        (folder / name).write_bytes(data)
    return {"units": units, "shared": {k: v for k, v in shared.items() if len(v) > 1},
            "repeated": repeated, "not_read": {name: why for name, (_, why) in broken.items()}}


def failing_checks(report: dict, separator: str) -> str:
    return separator.join(c["check"] for c in report["checks"] if c["status"] == "FAIL")


def tallies(units) -> dict:
    counts = {}
    for report in units:
        for check in report["checks"]:
            counts.setdefault(check["check"], dict.fromkeys(STATUSES, 0))[check["status"]] += 1
    return counts


def summary_command(bin_dir: Path, folder: Path, csv_path: Path, html_path: Path):
    """The summary's command line for folder, writing its CSV and page."""
    return [str(bin_dir / SUMMARY), windows_path(folder), "/csv", windows_path(csv_path),
            "/html", windows_path(html_path)]


def run_summary(machine: Machine, bin_dir: Path, folder: Path, out: Path, timeout=60) -> dict:
    """Runs the summary on folder, writing its CSV and page into out."""
    csv_path, html_path = out / "summary.csv", out / "summary.html"
    for path in (csv_path, html_path):
        path.unlink(missing_ok=True)
    result = machine.wine(*summary_command(bin_dir, folder, csv_path, html_path),
                          timeout=timeout)
    return {"exit_code": result.returncode, "console": machine.decode(result.stdout),
            "csv": csv_path, "html": html_path}


def read_csv(path: Path):
    raw = path.read_bytes() if path.exists() else b""
    rows = list(csv.reader(io.StringIO(raw.decode("utf-8-sig"), newline="")))
    return raw.startswith(b"\xef\xbb\xbf"), rows


def console_differences(console: str, expected: dict) -> list:
    units = expected["units"]
    lines = [line.rstrip("\r") for line in console.splitlines()]
    wanted = [
        f"units: {len(units)} (passed {sum(u['exit_code'] == 0 for u in units)}, failed "
        f"{sum(u['exit_code'] == 1 for u in units)}, cannot be verified "
        f"{sum(u['exit_code'] == 2 for u in units)})",
    ]
    for check, counts in tallies(units).items():
        wanted.append(" ".join([check] + [str(counts[s]) for s in STATUSES]))
    for report in units:
        line = f"  {report['computer_name']} ("
        line += f"machine ID {report['machine_id']}" if report["machine_id"] else "no machine ID"
        line += f", verified {report['time']})"
        if report["exit_code"] == 1:
            line += f": FAIL {failing_checks(report, ', ')}"
        if report["exit_code"]:
            wanted.append(line)
    for machine_id, computers in expected["shared"].items():
        wanted.append(f"  {machine_id} on {len(computers)} computers: {', '.join(computers)}")
    wanted.append(f"    not counted: {expected['repeated']} (verified ")
    wanted += [f"  {name}: {why}" for name, why in expected["not_read"].items()]
    # The check table's columns are aligned: compare its rows word by word.
    normalised = [" ".join(line.split()) if re.search(r"( +\d+){4}$", line) else line
                  for line in lines]
    return [f"console: no line {line!r}" for line in wanted
            if not any(have == line or (line.endswith("(verified ") and have.startswith(line))
                       for have in normalised)]


def csv_differences(path: Path, units) -> list:
    has_mark, rows = read_csv(path)
    found = [] if has_mark else ["csv: no UTF-8 byte-order mark"]
    wanted = [["machine_id", "computer", "time", "last_pass", "exit_code", "failing_checks"]]
    wanted += sorted([[u["machine_id"] or "", u["computer_name"], u["time"], u["last_pass"] or "",
                       str(u["exit_code"]), failing_checks(u, "; ")] for u in units])
    got = rows[:1] + sorted(rows[1:])
    if got != wanted:
        found.append(f"csv: rows {got!r}, expected {wanted!r}")
    return found


def render_page(html: Path, out: Path) -> str:
    """The page as a browser prints it (PDF read back as text), and its
    screenshot beside it; empty when the browser could not."""
    pdf, png = out / "summary.pdf", out / "summary.png"
    common = [BROWSER, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
              "--hide-scrollbars"]
    url = html.resolve().as_uri()
    for extra in (["--no-pdf-header-footer", f"--print-to-pdf={pdf}"],
                  ["--window-size=1000,1400", f"--screenshot={png}"]):
        subprocess.run(common + extra + [url], stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=120, check=False)
    if not pdf.exists():
        return ""
    return subprocess.run(["pdftotext", "-layout", str(pdf), "-"], capture_output=True,
                          text=True, timeout=60, check=False).stdout


PAGE_COUNTS = {"units": "Units", "passed": "Passed", "failed": "Failed",
               "unverified": "Cannot be verified"}


def page_differences(html: Path, csv_path: Path, out: Path) -> list:
    """The counts the rendered page shows against those of the CSV."""
    source = html.read_text(encoding="utf-8") if html.exists() else ""
    found = [f"page: holds {what}" for what in ("<script", "src=", "href=", "url(")
             if what in source]
    text = render_page(html, out)
    if not text:
        return found + ["page: the browser rendered nothing"]
    _, rows = read_csv(csv_path)
    codes = [row[4] for row in rows[1:]]
    from_csv = {"units": len(codes), "passed": codes.count("0"), "failed": codes.count("1"),
                "unverified": codes.count("2")}
    for key, label in PAGE_COUNTS.items():
        shown = re.search(rf"^\s*{re.escape(label)}\s+(\d+)\s*$", text, re.M)
        if shown is None or int(shown.group(1)) != from_csv[key]:
            found.append(f"page: {label} shows {shown.group(1) if shown else 'nothing'}, "
                         f"the CSV {from_csv[key]}")
    return found


def check_fleet(bin_dir: Path, out_root: Path, names) -> int:
    """Builds the fleet from the profiles' kept reports and checks the
    summary's console, CSV and page against it."""
    reports = {name: (out_root / name / KEPT_REPORT).read_bytes() for name in names
               if (out_root / name / KEPT_REPORT).exists()}
    missing = [p for p in SHARED_ID_PROFILES + (REPORTED_TWICE,) if p not in reports]
    if missing:
        print(f"fleet: left out, no report of {', '.join(missing)}")
        return 0
    out = out_root / "fleet"
    folder = out / "reports"
    if folder.exists():
        for path in folder.iterdir():
            path.unlink()
    expected = build_fleet(reports, folder)
    machine = Machine(out / "prefix", "32-bit")
    try:
        machine.boot()
        result = run_summary(machine, bin_dir, folder, out)
    finally:
        machine.stop()
    (out / "console.txt").write_text(result["console"])
    found = [] if result["exit_code"] == 1 else [f"exit code {result['exit_code']}, expected 1"]
    found += console_differences(result["console"], expected)
    found += csv_differences(result["csv"], expected["units"])
    found += page_differences(result["html"], result["csv"], out)
    for line in found:
        print("DIFFERENCE fleet " + line)
    print(f"fleet: {len(expected['units'])} units of the profiles' reports summed up, "
          f"{'passed' if not found else 'FAILED'} ({len(found)} differences; page, CSV and "
          f"console in {out})")
    if not found:
        shutil.rmtree(out / "prefix", ignore_errors=True)
    return 1 if found else 0


def summarise_own_unit(machine: Machine, bin_dir: Path, out: Path) -> str:
    """The summary of this run's unit: its console text; the CSV, the page
    and the page's screenshot are left in out."""
    raw = (out / KEPT_REPORT).read_bytes() if (out / KEPT_REPORT).exists() else None
    if raw is None:
        return "summary: the verifier wrote no report\n"
    folder = out / "units"
    folder.mkdir(exist_ok=True)
    report = json.loads(raw)
    (folder / report_name(report["machine_id"], report["computer_name"])).write_bytes(raw)
    result = run_summary(machine, bin_dir, folder, out)
    render_page(result["html"], out)
    return result["console"]


# The benchmark: many generated reports, summed up once.

def generated_report(number: int, checks: int) -> dict:
    """A report shaped as the verifier writes one: every tenth unit failed
    one check, every fiftieth could not be verified."""
    failed, unverified = number % 10 == 0, number % 50 == 0
    entries = [{"check": f"check {index:02d}", "status": "PASS",
                "seen": "a value as the unit holds it, about as long as a real one",
                "expected": "the value the run writes"} for index in range(checks)]
    if failed:
        entries[number % checks]["status"] = "FAIL"
    elif unverified:
        entries[number % checks]["status"] = "SKIP"
    return {"machine_id": f"CRV-{number:04X}-4411-9C03", "computer_name": f"UNIT-{number:05d}",
            "time": "2026-12-09T10:00:00Z", "hive": "HKCU\\Software\\Corvane\\Pallister",
            "last_pass": "12/09/26 09:58:01", "not_checked": "the installer's own work",
            "exit_code": 1 if failed else 2 if unverified else 0, "checks": entries}


# Runs one command and prints its exit code and the peak resident memory of
# its process tree (the summary's own process under Wine), in KiB.
MEASURE = ("import resource, subprocess, sys\n"
           "code = subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL,\n"
           "                      stdin=subprocess.DEVNULL).returncode\n"
           "print(code, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)\n")


def measure_summary(machine: Machine, bin_dir: Path, folder: Path) -> dict:
    command = summary_command(bin_dir, folder, folder.parent / "bench.csv",
                              folder.parent / "bench.html")
    done = subprocess.run([sys.executable, "-c", MEASURE, "wine", *command],
                          env=machine.env, capture_output=True, text=True, timeout=900,
                          check=False)
    code, peak = done.stdout.split()
    return {"exit_code": int(code), "peak_kib": int(peak)}


def benchmark(bin_dir: Path, out: Path, counts=(1000, 10000), checks=24) -> list:
    """Times the summary on folders of generated reports (the time of an
    empty folder, Wine's own start, taken off) and takes its peak memory;
    returns one result per count."""
    machine = Machine(out / "prefix", "32-bit")
    results = []
    try:
        machine.boot()
        empty = out / "empty"
        empty.mkdir(parents=True, exist_ok=True)
        start = time.monotonic()
        machine.wine(str(bin_dir / SUMMARY), windows_path(empty))
        baseline = time.monotonic() - start
        for count in counts:
            folder = out / f"reports-{count}"
            if not folder.exists():
                folder.mkdir(parents=True)
                for number in range(1, count + 1):
                    report = generated_report(number, checks)
                    (folder / report_name(report["machine_id"], report["computer_name"])) \
                        .write_text(json.dumps(report, indent=2))
            size = sum(path.stat().st_size for path in folder.iterdir())
            start = time.monotonic()
            measured = measure_summary(machine, bin_dir, folder)
            took = time.monotonic() - start
            results.append({"reports": count, "bytes": size, "seconds": round(took, 2),
                            "seconds_without_wine_start": round(took - baseline, 2),
                            "peak_kib": measured["peak_kib"],
                            "exit_code": measured["exit_code"]})
    finally:
        machine.stop()
    return results

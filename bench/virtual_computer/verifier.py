"""The verifier (vireo-verify.exe) on the virtual computer. It runs as the
account that ran the product: on the stock computer before the product, after
the run (with its JSON report, and with the registry and the activity log
compared byte for byte before and after it), and once more after the bench
has set one recorded PnPCapabilities that passed back to the stock value. Its power
checks go through the bench's powrprof.dll, which reads the store the bench's
powercfg.exe keeps; Wine's own reads none."""

import json
import re
from pathlib import Path

from . import layout
from .machine import Machine

VERIFIER_PATH = layout.SETUP_FOLDER + r"\vireo-verify.exe"
JSON_PATH = r"C:\bench\vireo-verify.json"
# The shipped discovery script of a compliance setting; the verifier path at
# its top is the one above.
COMPLIANCE_SCRIPT_SOURCE = Path(__file__).resolve().parents[2] / "verifier" / "vireo-compliance.vbs"
COMPLIANCE_SCRIPT_PATH = layout.SETUP_FOLDER + r"\vireo-compliance.vbs"
REGISTRY_EXPORT = r"C:\bench\registry-{}.reg"
CHECK_LINE = re.compile(r"^(PASS|FAIL|WARN|SKIP) (.+?): (.*?)(?: \(expected (.*)\))?$")
HIVE_PREFIX = "settings key: "
# The check of a recorded class path's value, and the stock value the bench
# sets one of them back to.
CAPABILITY_CHECK = "PnPCapabilities "
STOCK_CAPABILITY = 24


def install(machine: Machine, bin_dir, bench_bin):
    machine.install(bin_dir / "vireo-verify.exe", VERIFIER_PATH)
    machine.install(COMPLIANCE_SCRIPT_SOURCE, COMPLIANCE_SCRIPT_PATH)
    machine.install(bench_bin / "powrprof.dll", machine.system32_on_disk + r"\powrprof.dll")


def pass_only(profile: dict) -> bool:
    """Units where only the installer package's custom action ran."""
    return profile["runs"] == "installer-package"


def run(machine: Machine, json_path=None, pass_only=False) -> dict:
    """One verifier run: its exit code, the hive it read and its check lines.
    pass_only is for a unit where only the installer package's custom action ran."""
    arguments = [VERIFIER_PATH] + (["/json", json_path] if json_path else []) + \
        (["/pass-only"] if pass_only else [])
    result = machine.wine(*arguments, native_dlls=("powrprof",))
    lines = machine.decode(result.stdout).splitlines()
    hive = next((line[len(HIVE_PREFIX):] for line in lines if line.startswith(HIVE_PREFIX)), None)
    return {"exit_code": result.returncode, "hive": hive,
            "checks": [line.rstrip("\r") for line in lines if CHECK_LINE.match(line.rstrip("\r"))]}


def json_agrees(machine: Machine, verdict: dict) -> dict:
    """Whether the JSON report is valid UTF-8 JSON and holds the same checks."""
    raw = machine.read_file(JSON_PATH)
    try:
        report = json.loads(raw.decode("utf-8"))
    except (AttributeError, UnicodeDecodeError, ValueError):
        return {"valid": False}
    printed = []
    for line in verdict["checks"]:
        status, check, seen, expected = CHECK_LINE.match(line).groups()
        printed.append((status, check, seen) + ((expected,) if expected else ()))
    written = [(c["status"], c["check"], c["seen"]) +
               ((c["expected"],) if c["status"] == "FAIL" else ()) for c in report["checks"]]
    return {"valid": True, "same_checks_as_printed": printed == written,
            "same_exit_code": report["exit_code"] == verdict["exit_code"],
            "has_identity": all(report.get(k) for k in ("computer_name", "time", "hive"))}


def registry_and_log(machine: Machine, name: str):
    """The whole registry as regedit exports it, and the activity log's bytes."""
    export = REGISTRY_EXPORT.format(name)
    machine.wine("regedit", "/E", export)
    registry = machine.read_file(export)
    machine.host_path(export).unlink(missing_ok=True)
    return registry, machine.read_file(layout.LOG_PATH)


def file_tree(machine: Machine) -> dict:
    """Every file of the computer's drive but the verifier's report: its size
    and time of last change."""
    drive = machine.host_path("C:\\")
    report = machine.host_path(JSON_PATH)
    return {str(path.relative_to(drive)): (path.stat().st_size, path.stat().st_mtime_ns)
            for path in drive.rglob("*") if path.is_file() and path != report}


def verify_after_run(machine: Machine, pass_only=False) -> dict:
    registry_before, log_before = registry_and_log(machine, "before")
    files_before = file_tree(machine)
    verdict = run(machine, JSON_PATH, pass_only)
    files_after = file_tree(machine)
    registry_after, log_after = registry_and_log(machine, "after")
    verdict["json"] = json_agrees(machine, verdict)
    verdict["read_only"] = {"registry_unchanged": registry_before is not None
                            and registry_before == registry_after,
                            "log_unchanged": log_before == log_after,
                            "files_unchanged": files_before == files_after}
    if registry_before is not None and registry_before != registry_after:
        verdict["read_only"]["registry_changes"] = registry_changes(registry_before,
                                                                    registry_after)
    return verdict


def registry_changes(before: bytes, after: bytes, most=20):
    """The lines of two registry exports that differ, each under its key."""
    import difflib
    def lines(export):
        return export.decode("utf-16", "replace").splitlines()
    changes, key = [], None
    for line in difflib.unified_diff(lines(before), lines(after), n=40, lineterm=""):
        if line[1:].startswith("["):
            key = line[1:]
        if line[:1] in "+-" and not line.startswith(("+++", "---")):
            changes.append(f"{key}: {line}")
    return changes[:most]


def failed(verdict: dict):
    return [CHECK_LINE.match(line).group(2) for line in verdict["checks"]
            if line.startswith("FAIL ")]


def verify_changed_value(machine: Machine, after: dict, pass_only=False) -> dict:
    """Sets the PnPCapabilities of the first class path whose check passed
    after the run back to the stock value; the verifier must fail that check
    and no other new one."""
    passed = [CHECK_LINE.match(line).group(2) for line in after["checks"]
              if line.startswith(f"PASS {CAPABILITY_CHECK}")]
    if not passed:
        return {"changed": None}
    recorded = passed[0][len(CAPABILITY_CHECK):]
    path = machine.query_key(layout.SETTINGS_KEY).get(recorded)
    machine.wine("reg", "add", "HKLM\\" + path, "/v", "PnPCapabilities", "/t", "REG_DWORD",
                 "/d", str(STOCK_CAPABILITY), "/f")
    verdict = run(machine, pass_only=pass_only)
    verdict["changed"] = f"{recorded}: PnPCapabilities {STOCK_CAPABILITY}"
    return verdict


def run_compliance_script(machine: Machine) -> dict:
    """The discovery script under cscript, as a compliance setting runs it:
    the lines it printed and its own exit code."""
    result = machine.wine("cscript", "//nologo", COMPLIANCE_SCRIPT_PATH, native_dlls=("powrprof",))
    return {"printed": [line.rstrip("\r") for line in machine.decode(result.stdout).splitlines()],
            "exit_code": result.returncode}


def newly_failed(before: dict, after: dict):
    return [check for check in failed(after) if check not in failed(before)]

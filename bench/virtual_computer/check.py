"""Comparing a report with a profile's expected facts, and checking every
profile at once."""

import shutil
import subprocess
import sys
import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path


def differences(expected, actual, where="report"):
    """Where actual differs from expected; keys absent from expected are free,
    lists must match item for item."""
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


def check_all(script: Path, names, fault_names, bin_dir: str, bench_bin: str, out_root: Path,
              jobs: int):
    """Runs every profile with --check, `jobs` at a time; each prefix has its
    own server, so the runs do not meet. The fault profiles among them are
    counted apart: a fault is survived when its profile passes. Returns the
    process exit code."""
    def run_one(name):
        out = out_root / name
        out.mkdir(parents=True, exist_ok=True)
        started = time.monotonic()
        with open(out / "check.txt", "wb") as log:
            code = subprocess.run([sys.executable, str(script), "run", "--bin", bin_dir,
                                   "--bench-bin", bench_bin, "--profile", name, "--out",
                                   str(out), "--check", "--quiet"],
                                  stdout=log, stderr=subprocess.STDOUT,
                                  stdin=subprocess.DEVNULL).returncode
        if code == 0:
            # A passed profile keeps its reports; its prefix (about a gigabyte)
            # is only worth keeping to look into a failure.
            shutil.rmtree(out / "prefix", ignore_errors=True)
        return code, time.monotonic() - started

    started = time.monotonic()
    with ThreadPoolExecutor(max_workers=jobs) as pool:
        results = dict(zip(names, pool.map(run_one, names)))

    failed = []
    for name in names:
        code, took = results[name]
        verdict = "passed" if code == 0 else "FAILED"
        print(f"  {name:<30} {verdict}  ({took:.0f} s)", flush=True)
        if code != 0:
            failed.append(name)
            print("    " + (out_root / name / "check.txt").read_text().replace("\n", "\n    "))
    print(f"{len(names) - len(failed)} of {len(names)} profiles passed"
          f" in {time.monotonic() - started:.0f} s")
    faults = [name for name in names if name in fault_names]
    if faults:
        survived = [name for name in faults if name not in failed]
        print(f"faults survived: {len(survived)} of {len(faults)}")
    return 1 if failed else 0


def powercfg_facts(command: dict) -> dict:
    facts = {"parameters": command["parameters"], "exit_code": command["exit_code"]}
    if command.get("running_when_next_started"):
        facts["running_when_next_started"] = True
    return facts


def stable_facts(report: dict) -> dict:
    """The facts of a report that do not depend on timing: the starting point
    for a profile's expected facts, to be read and corrected by hand against
    what the product must do before it is committed."""
    run = report["run"]
    facts = {
        "profile": report["profile"],
        "windows": report["windows"],
        "runs": report["runs"],
        "run": {"exit_code": run["exit_code"],
                "pauses": [{"what": p["what"], "ms": p["ms"]} for p in run["pauses"]]},
        "processes": [{"program": p["program"], "event": p["event"]} for p in report["processes"]],
        "makers_components_received": report["makers_components_received"],
        "installer_session": {k: v for k, v in report["installer_session"].items()
                              if k != "custom_action"},
        "wireless": report["wireless"],
        "log": {"present": report["log"]["present"],
                "lines_end_in_cr_cr_lf": report["log"]["lines_end_in_cr_cr_lf"],
                "entries": [{"text": e["text"]} for e in report["log"]["entries"]]},
        "settings_key": report["settings_key"],
        "class_keys": report["class_keys"],
        "pnp_capabilities": report["pnp_capabilities"],
        "balanced_scheme": report["balanced_scheme"],
        "powercfg_commands": [powercfg_facts(c) for c in report["powercfg_commands"]],
        "class_tree_changes": report["class_tree_changes"],
    }
    if "faults" in report:
        facts["faults"] = report["faults"]
    if "verifier" in report:
        facts["verifier"] = report["verifier"]
    if "calling_script" in report:
        facts["calling_script"] = report["calling_script"]
    if "second_run" in report:
        facts["second_run"] = report["second_run"]
    # Polls counted, not timed: the limit reached, or a host the wait ignores.
    if run["script_host_polls"]["how"].startswith(("the limit", "none: the script ran in")):
        facts["run"]["script_host_polls"] = run["script_host_polls"]
    action = report["installer_session"].get("custom_action")
    if action:
        facts["installer_session"]["custom_action"] = {"name": action["name"],
                                                       "return_value": action["return_value"]}
    return facts

#!/usr/bin/env python3
"""The bench: a virtual Windows 7 computer in a scratch Wine prefix.

A profile (bench/profiles/NAME.json) describes the computer: which of the
maker's components are present, what the BIOS answers, which network adapters
there are, how long the maker's script runs, 64- or 32-bit Windows, and
whether the program runs or an installer package drives the pass. The bench
lays the computer out, runs the product once at real speed and reports what
the run did to the machine; with --check it compares the report with the
profile's expected facts (NAME.expected.json) and checks that every built-in
pause it could measure matches the gap around it.

    vbench.py run --bin DIR --bench-bin DIR --out DIR [--profile NAME] [--check] [--quiet]
    vbench.py list
    vbench.py check-all --bin DIR --bench-bin DIR --out DIR [--jobs N]
    vbench.py draft-expected --out DIR     (NAME.expected.json from DIR/report.json)
    vbench.py summary-benchmark --bin DIR --out DIR   (vireo-summary.exe on 1,000 and
                                                      10,000 generated reports)
"""

import argparse
import json
import sys
import time
from pathlib import Path

from virtual_computer import facts, faults, fleet, guide, layout, profiles, \
    report as text_report, timeline, verifier
from virtual_computer.check import check_all, differences, stable_facts
from virtual_computer.machine import Machine


# Under qemu-user each profile's Wine runs emulated on the same two cores:
# three at once keep each run well inside its own limits (240 s for the
# product's run). Every run is still tried once: a fault fails its first run.
EMULATED_JOBS = 3


def i386_emulated() -> bool:
    """True when Wine's 32-bit side runs through qemu-user on this kernel."""
    try:
        return Path("/proc/sys/fs/binfmt_misc/qemu-i386").read_text().startswith("enabled")
    except OSError:
        return False


def run_once(profile: dict, bin_dir: Path, bench_bin: Path, out: Path, quiet: bool):
    machine = Machine(out / "prefix", profile["windows"], profile["locale"])
    holder = None
    try:
        if not quiet:
            print(f"Preparing the virtual computer in {machine.prefix} ...", flush=True)
        machine.boot()
        layout.lay_out_computer(machine, bin_dir, bench_bin, profile)
        verifier.install(machine, bin_dir, bench_bin)
        stock_verdict = verifier.run(machine, pass_only=verifier.pass_only(profile))
        before = facts.snapshot_before(machine)
        if not quiet:
            print("Running the product at real speed (about half a minute) ...", flush=True)
        if profile["log_file_held_open"]:
            holder = layout.hold_log_file(machine)
        if profile["runs"] == "calling-script":
            guide.install_calling_script(machine, profile["calling_script_limit_s"])
        clock = facts.RunClock(time.time())
        exit_code, duration_s, pause_trace = layout.run_product(machine, profile)
        layout.wait_for_script_host(machine, profile["script_host_lingers_ms"] / 1000 + 10)
        report = facts.collect(machine, profile, exit_code, duration_s, clock, before)
        report["run"]["pause_calls"] = timeline.traced_pause_calls(pause_trace)
        if profile["runs"] == "calling-script":
            record = machine.read_file(layout.CALLING_RECORD_PATH) or b""
            report["calling_script"] = {"exit_code": exit_code,
                                        "record": machine.decode(record).splitlines()}
        if profile["checks_deployment_guide"]:
            report["deployment_guide"] = guide.run_verification(machine)
        if profile["runs_again"]:
            report["second_run"] = run_again(machine, profile, clock)
        report["verifier"] = verify(machine, stock_verdict, verifier.pass_only(profile),
                                    profile["runs_compliance_script"])
        fleet.keep_report(machine, out)
    finally:
        machine.stop()
        if holder is not None:
            holder.wait()
    timeline.build_timeline(report)
    if profile["faults"]:
        report["faults"] = faults.survey(report, profile["faults"])
    return report


def run_again(machine: Machine, profile: dict, clock) -> dict:
    """The product once more on the same computer, changed as the profile says:
    its exit code and the log's last pass (the verifier then reads this run)."""
    layout.prepare_second_run(machine, profile["runs_again"])
    exit_code, _, _ = layout.run_product(machine, profile, profile["runs_again"].get("repair", False))
    layout.wait_for_script_host(machine, profile["script_host_lingers_ms"] / 1000 + 10)
    texts = [entry["text"] for entry in facts.read_log(machine, clock)["entries"]]
    begins = [i for i, text in enumerate(texts) if "Begin Vireo requirements" in text]
    return {"exit_code": exit_code, "passes_logged": len(begins),
            "last_pass": texts[begins[-1]:] if begins else []}


def verify(machine: Machine, stock_verdict: dict, pass_only: bool, compliance: bool) -> dict:
    """The verifier's verdicts: on the stock computer, after the run (with its
    read-only proof), and after the bench set one value back, each with what
    the compliance script printed where the profile runs it. Last, since the
    bench's change would show in the run's facts."""
    after = verifier.verify_after_run(machine, pass_only)
    if compliance:
        after["compliance_script"] = verifier.run_compliance_script(machine)
    changed = verifier.verify_changed_value(machine, after, pass_only)
    if compliance and changed["changed"]:
        changed["compliance_script"] = verifier.run_compliance_script(machine)
    if changed["changed"]:
        changed["newly_failed"] = verifier.newly_failed(after, changed)
    return {"stock_computer": stock_verdict, "after_run": after, "after_changed_value": changed}


def check_report(report: dict) -> int:
    expected = profiles.expected_facts(report["profile"])
    if expected is None:
        print(f"check: no expected facts for profile {report['profile']}")
        return 1
    found = differences(expected, report)
    for line in found:
        print("DIFFERENCE " + line)
    # What changed in the registry around the verifier, where it did.
    for line in report.get("verifier", {}).get("after_run", {}).get("read_only", {}) \
            .get("registry_changes", []):
        print("REGISTRY " + line)
    mismatches = timeline.pause_mismatches(report)
    for line in mismatches:
        print("PAUSE " + line)
    print(f"check {report['profile']}: {'passed' if not found and not mismatches else 'FAILED'}"
          f" ({len(found)} differences, {len(mismatches)} pause mismatches)")
    return 1 if found or mismatches else 0


def command_run(args) -> int:
    if args.profile == "list":
        return command_list(args)
    profile = profiles.load(args.profile)
    out = Path(args.out).resolve()
    out.mkdir(parents=True, exist_ok=True)
    report = run_once(profile, Path(args.bin), Path(args.bench_bin), out, args.quiet)
    text = text_report.format_report(report)
    (out / "report.txt").write_text(text)
    (out / "report.json").write_text(json.dumps(report, indent=2) + "\n")
    if not args.quiet:
        print()
        print(text, end="")
        print(f"\nReport written to {out / 'report.txt'} and {out / 'report.json'}")
        print_own_summary(profile, Path(args.bin), out)
    return check_report(report) if args.check else 0


def print_own_summary(profile: dict, bin_dir: Path, out: Path):
    """The summary of this computer's verdict, as a fleet's would be read."""
    machine = Machine(out / "prefix", profile["windows"], profile["locale"])
    try:
        console = fleet.summarise_own_unit(machine, bin_dir, out)
    finally:
        machine.stop()
    print("\nThe verifier's report of this unit, summed up by vireo-summary.exe:\n")
    print(console, end="")
    print(f"\nSummary page: {out / 'summary.html'} (screenshot {out / 'summary.png'}),"
          f" CSV: {out / 'summary.csv'}")


def command_list(_args) -> int:
    print("Profiles (make demo PROFILE=<name>):")
    profiles.describe_all()
    return 0


def command_draft_expected(args) -> int:
    """Drafts NAME.expected.json from a run's report.json, for review."""
    report = json.loads((Path(args.out) / "report.json").read_text())
    target = profiles.PROFILES_DIR / f"{report['profile']}.expected.json"
    target.write_text(json.dumps(stable_facts(report), indent=2) + "\n")
    print(f"drafted {target}: read it against what the product must do before committing it")
    return 0


def command_check_all(args) -> int:
    names = args.profiles.split(",") if args.profiles else profiles.names()
    if i386_emulated():
        unstable = [name for name in names if profiles.load(name)["unstable_under_emulation"]]
        for name in unstable:
            print(f"  {name:<30} left out: 32-bit programs run through qemu-user here, and"
                  f" {profiles.load(name)['unstable_under_emulation']}")
        names = [name for name in names if name not in unstable]
    jobs = args.jobs
    if i386_emulated() and jobs > EMULATED_JOBS:
        print(f"32-bit programs run through qemu-user here: {EMULATED_JOBS} profiles at once,"
              f" not {jobs}", flush=True)
        jobs = EMULATED_JOBS
    code = check_all(Path(__file__).resolve(), names, profiles.fault_profiles(), args.bin,
                     args.bench_bin, Path(args.out).resolve(), jobs)
    return fleet.check_fleet(Path(args.bin), Path(args.out).resolve(), names) or code


def command_summary_benchmark(args) -> int:
    """The summary's time and peak memory on many generated reports."""
    results = fleet.benchmark(Path(args.bin), Path(args.out).resolve())
    for result in results:
        print(f"{result['reports']:>6} reports ({result['bytes'] / 1e6:.1f} MB): "
              f"{result['seconds']:.2f} s, {result['seconds_without_wine_start']:.2f} s without "
              f"Wine's start; peak memory {result['peak_kib'] / 1024:.1f} MiB; "
              f"exit code {result['exit_code']}")
    (Path(args.out) / "benchmark.json").write_text(json.dumps(results, indent=2) + "\n")
    return 0


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    run_parser = commands.add_parser("run", help="run the product once on a fresh computer")
    run_parser.add_argument("--profile", default="default",
                            help="the computer to lay out (bench/profiles/NAME.json; list)")
    run_parser.add_argument("--check", action="store_true",
                            help="compare the report with the profile's expected facts")
    run_parser.add_argument("--quiet", action="store_true", help="print only the check")
    all_parser = commands.add_parser("check-all", help="run and check every profile")
    all_parser.add_argument("--jobs", type=int, default=4, help="profiles run at once")
    all_parser.add_argument("--profiles", help="only these profiles, comma-separated")
    for sub in (run_parser, all_parser):
        sub.add_argument("--bin", required=True, help="folder of the release binaries")
        sub.add_argument("--bench-bin", required=True, help="folder of the built stand-ins")
        sub.add_argument("--out", required=True, help="folder for the prefixes and reports")
    commands.add_parser("list", help="list the profiles")
    draft_parser = commands.add_parser("draft-expected",
                                       help="draft a profile's expected facts from a report")
    draft_parser.add_argument("--out", required=True, help="folder of the run's report.json")
    benchmark_parser = commands.add_parser(
        "summary-benchmark", help="time vireo-summary.exe on many generated reports")
    benchmark_parser.add_argument("--bin", required=True, help="folder of the release binaries")
    benchmark_parser.add_argument("--out", required=True, help="folder for the reports")
    args = parser.parse_args()
    return {"run": command_run, "list": command_list, "check-all": command_check_all,
            "draft-expected": command_draft_expected,
            "summary-benchmark": command_summary_benchmark}[args.command](args)


if __name__ == "__main__":
    sys.exit(main())

"""Profiles: small declarative files in bench/profiles/ that change the default
computer. NAME.json describes the computer, NAME.expected.json holds the facts
its report must show (make demo PROFILE=NAME CHECK=1)."""

import json
from pathlib import Path

PROFILES_DIR = Path(__file__).resolve().parent.parent / "profiles"

# What a profile may say, with the default computer's answer.
DEFAULTS = {
    "description": "",
    "windows": "64-bit",        # or "32-bit"
    "runs": "program",          # or "installer-package": msiexec installs a package whose
                                # custom action calls the pass; or "calling-script": the
                                # guide's run-vireo.vbs runs the program (its exit code is
                                # the run's)
    "calling_script_limit_s": 30,  # the limit the bench gives that script
    "faults": [],               # the faults the computer has, in words: a fault profile
    "locale": None,             # the Unix locale Wine takes its code pages from
                                # (e.g. "ja_JP.UTF-8": ANSI code page 932)
    "absent": [],               # components not laid out, from COMPONENTS
    "bios": {},                 # the BIOS server's answer: Behaviour, Records (hex),
                                # ReturnCode, LowerBound
    "adapters": None,           # [enumerator, hardware ID(, class instance key)] replacing
                                # the default adapters; the key is the adapter's driver key
    "installer": {},            # how the installer ends: Behaviour "exit-code" (with
                                # ExitCode) or "crash"; exit code 0 when empty
    "program_files_moved_to": None,  # the 32-bit view's ProgramFilesDir names this folder,
                                     # and the product folder's files are only under it
    "machine_id_library": {},   # how crvGetMachineId behaves: Behaviour "crash" (an access
                                # violation) or "hang" (never returns); answers when empty
    "powercfg_hangs_on": None,  # parameters that start so make a powercfg run that never ends
    "powercfg_refuses": None,   # parameters that start so are refused (exit code 1)
    "balanced_scheme_missing": False,  # powercfg's store holds no Balanced scheme before the run
    "class_keys_deny_writes": False,  # the image's class instance keys may be read, not
                                      # written, as an unelevated account meets them
    "script_association": "wscript",  # the host .vbs files open with: "wscript" or "cscript"
    "log_file_held_open": False,  # another process holds the activity log open, unshared
    "guid_values": None,        # {"GUID1": [type, data], ...}: what the script writes instead
                                # of three REG_SZ values; type REG_SZ, REG_EXPAND_SZ,
                                # REG_MULTI_SZ (data a list) or REG_DWORD
    "script_host_lingers_ms": 0,  # how long the maker's script keeps its host running
    "unstable_under_emulation": None,  # why the profile cannot be run where Wine's 32-bit
                                       # side runs through qemu-user: left out there
    "checks_deployment_guide": False,  # after the run, the reg query lines of
                                       # docs/deployment.md must print what it shows
    "runs_compliance_script": False,  # after the run and after the changed value, the
                                      # shipped vireo-compliance.vbs runs under cscript
    "runs_again": None,  # once the run's facts are read, the product runs again on the same
                         # computer with these changes: "absent" (components removed:
                         # machine-id-library), "removed_values" (settings-key values deleted
                         # first), "guid_values" (what the script writes this time),
                         # "repair": true (msiexec repairs the package instead)
}
# "bios-server-executable": the server is registered, its executable is gone.
COMPONENTS = ("installer", "library", "machine-id-library", "bios-server",
              "bios-server-executable", "adapters", "disk-protection", "powercfg", "log-folder")


def names():
    return sorted(p.stem for p in PROFILES_DIR.glob("*.json") if not p.stem.endswith(".expected"))


def load(name: str) -> dict:
    path = PROFILES_DIR / f"{name}.json"
    if not path.exists() or name.endswith(".expected"):
        raise SystemExit(f"no such profile: {name} (make demo PROFILE=list shows them)")
    profile = json.loads(path.read_text())
    unknown = set(profile) - set(DEFAULTS)
    if unknown:
        raise SystemExit(f"profile {name}: unknown keys {sorted(unknown)}")
    absent = set(profile.get("absent", [])) - set(COMPONENTS)
    if absent:
        raise SystemExit(f"profile {name}: unknown components {sorted(absent)}"
                         f" (known: {', '.join(COMPONENTS)})")
    return {**DEFAULTS, **profile, "name": name}


def expected_facts(name: str):
    path = PROFILES_DIR / f"{name}.expected.json"
    return json.loads(path.read_text()) if path.exists() else None


def fault_profiles():
    return [name for name in names() if load(name)["faults"]]


def describe_all():
    for name in names():
        print(f"  {name:<30} {load(name)['description']}")

"""Lays out the computer a profile describes, and runs the product on it."""

import re
import shutil
import subprocess
import time
from pathlib import Path

from . import package
from .machine import Machine

SETUP_FOLDER = r"C:\Factory\Setup"
PACKAGE_PATH = SETUP_FOLDER + r"\vireo-bench.msi"
MSIEXEC_LOG = r"C:\bench\msiexec.log"
MSIEXEC_REPAIR_LOG = r"C:\bench\msiexec-repair.log"
LINGER_PATH = r"C:\bench\linger.exe"
EXITCODE_PATH = r"C:\bench\exitcode.exe"
# The guide's bounded calling script, and the record it keeps.
CALLING_SCRIPT_PATH = SETUP_FOLDER + r"\run-vireo.vbs"
CALLING_RECORD_PATH = r"C:\SYSTEM.SAV\vireo-run.txt"
JOURNAL_PATH = r"C:\bench\journal.txt"
LOG_PATH = r"C:\SYSTEM.SAV\Pallister.log"
SETTINGS_KEY = r"HKCU\Software\Corvane\Pallister"
BIOS_CONFIG = r"HKEY_CURRENT_USER\Software\CorvaneBench\crvwmiex"
SCRIPT_CONFIG = r"HKEY_CURRENT_USER\Software\CorvaneBench\script"
SCRIPT_GUIDS = SCRIPT_CONFIG + r"\Guids"
INSTALLER_CONFIG = r"HKEY_CURRENT_USER\Software\CorvaneBench\installer"
POWERCFG_CONFIG = r"HKEY_CURRENT_USER\Software\CorvaneBench\powercfg"
MACHINE_ID_CONFIG = r"HKEY_CURRENT_USER\Software\CorvaneBench\CRVNT"
RUN_TIMEOUT_S = 240
# Wine's relay trace, narrowed to the product's own calls of SleepEx (each
# built-in pause is one): read by a process started with PAUSE_TRACE_DEBUG.
WINE_DEBUG_KEY = r"HKEY_CURRENT_USER\Software\Wine\Debug"
PAUSE_TRACE_FUNCTIONS = "KERNEL32.SleepEx;KERNELBASE.SleepEx"
PAUSE_TRACE_CALLERS = "defaults-runner.exe;VireoDll"
PAUSE_TRACE_DEBUG = "-all,+relay,+pid,+timestamp"
BIOS_SERVER_LINGER_MS = 10000

WIRELESS_CARD_RECORD = "01008680374286801112"
NET_DEVICE_CLASS = "{4d36e972-e325-11ce-bfc1-08002be10318}"
NETWORK_ADAPTER_INTERFACE = "{AD498944-762F-11D0-8DCB-00C04FC3358C}"
# Enumerator, hardware ID and, where a driver is installed for it, the
# adapter's class instance key (its driver key).
NETWORK_ADAPTERS = (
    ("CRVNETWIRED", r"PCI\VEN_10EC&DEV_8168&SUBSYS_03861028&REV_06", "0007"),
    ("CRVNETWIFI", r"PCI\VEN_8086&DEV_4237&SUBSYS_12118086&REV_61", "0011"),
    ("CRVNETTUNNEL", r"*ISATAP", "0012"),
)
# The network-adapter class instance keys of the image; the maker's script
# names the three of them. One already carries a PnPCapabilities value.
CLASS_INSTANCE_KEYS = {
    "0007": {"DriverDesc": "Corvane wired adapter"},
    "0011": {"DriverDesc": "Corvane wireless adapter", "PnPCapabilities": 24},
    "0012": {"DriverDesc": "Corvane tunnel adapter"},
}
CLASS_ROOTS = (
    r"HKLM\System\ControlSet001\Control\Class",
    r"HKLM\System\CurrentControlSet\Control\Class",
)
DISK_PROTECTION_INTERFACE = "{DD2A6682-735E-4E8E-8A59-D9DCCF1EBECE}"
SYSTEM_DEVICE_CLASS = "{4d36e97d-e325-11ce-bfc1-08002be10318}"
HIGH_PERFORMANCE = "8c5e7fda-e8bf-4a96-9a85-a6e23a8c635c"
# powercfg's store of schemes, and the Balanced scheme the program configures.
POWER_SCHEMES_KEY = r"HKLM\SYSTEM\CurrentControlSet\Control\Power\User\PowerSchemes"
BALANCED = "381b4222-f694-41f0-9685-ff5bb260df2e"


def product_folder(machine: Machine) -> str:
    return machine.program_files + r"\Corvane\Pallister"


def wmi_server_path(machine: Machine) -> str:
    return machine.program_files + r"\Corvane\Shared\crvwmiex.exe"


def network_adapters(profile: dict):
    if "adapters" in profile["absent"]:
        return []
    return [tuple(a) for a in profile["adapters"]] if profile["adapters"] is not None \
        else list(NETWORK_ADAPTERS)


def bios_answer(profile: dict):
    if "bios-server" in profile["absent"]:
        return {}
    return {"Records": WIRELESS_CARD_RECORD, **profile["bios"]}


def lay_out_computer(machine: Machine, bin_dir: Path, bench_bin: Path, profile: dict):
    present = lambda component: component not in profile["absent"]
    product = product_folder(machine)
    if profile["program_files_moved_to"]:
        # The image moved Program Files: the product folder's files are only
        # under the moved location.
        product = profile["program_files_moved_to"] + r"\Corvane\Pallister"
    machine.install(bin_dir / "defaults-runner.exe", SETUP_FOLDER + r"\defaults-runner.exe")
    machine.install(bench_bin / "Vireo_Win7.vbs", product + r"\Vireo_Win7.vbs")
    machine.install(bench_bin / "linger.exe", LINGER_PATH)
    machine.install(bench_bin / "exitcode.exe", EXITCODE_PATH)
    # The maker's image carries the log folder; the pass does not create it.
    if present("log-folder"):
        machine.make_folder(r"C:\SYSTEM.SAV")
    if present("installer"):
        machine.install(bench_bin / "Setup1.exe", SETUP_FOLDER + r"\Setup1.exe")
    if present("library"):
        machine.install(bin_dir / "VireoDll.dll", product + r"\VireoDll.dll")
    if present("machine-id-library"):
        machine.install(bench_bin / "crvnt-stdcall" / "CRVNT.DLL", product + r"\CRVNT.DLL")
    if present("powercfg"):
        machine.install(bench_bin / "powercfg.exe", machine.system32_on_disk + r"\powercfg.exe")
        # Stock power schemes, with another scheme active so that activation shows.
        powercfg(machine, "-RestoreDefaultSchemes")
        powercfg(machine, "-S " + HIGH_PERFORMANCE)
        if profile["balanced_scheme_missing"]:
            result = machine.wine("reg", "delete", POWER_SCHEMES_KEY + "\\" + BALANCED, "/f")
            if result.returncode != 0:
                raise RuntimeError(f"the Balanced scheme could not be deleted: {result.stdout!r}")
    if present("bios-server"):
        machine.install(bench_bin / "crvwmiex.exe", wmi_server_path(machine))
        register_wmi_server(machine)
        if not present("bios-server-executable"):
            machine.host_path(wmi_server_path(machine)).unlink()
    machine.import_registry(registry_layout(profile))
    if profile["class_keys_deny_writes"]:
        for root in CLASS_ROOTS:
            for instance in CLASS_INSTANCE_KEYS:
                devmaker(machine, bench_bin, "deny-writes",
                         f"{root[5:]}\\{NET_DEVICE_CLASS.upper()}\\{instance}")
    for enumerator, hardware_id, *instance_key in network_adapters(profile):
        driver = [f"--driver={NET_DEVICE_CLASS}\\{instance_key[0]}"] if instance_key else []
        devmaker(machine, bench_bin, "add", *driver, NET_DEVICE_CLASS, enumerator,
                 NETWORK_ADAPTER_INTERFACE, hardware_id_argument(machine, hardware_id))
    if present("disk-protection"):
        devmaker(machine, bench_bin, "add", SYSTEM_DEVICE_CLASS, "CRVDISKPROT",
                 DISK_PROTECTION_INTERFACE, "ACPI\\CRV0004", "*CRV0004")
        devmaker(machine, bench_bin, "add-service", "crvdskflt")
    if profile["runs"] == "installer-package":
        build_package(machine, bin_dir)
    # What the stand-ins journalled while the computer was laid out is not part of the run.
    journal = machine.host_path(JOURNAL_PATH)
    if journal.exists():
        journal.unlink()


def reg_value(name: str, value) -> str:
    """One value as regedit text: a number is a DWORD, a text a string."""
    return typed_reg_value(name, "REG_DWORD" if isinstance(value, int) else "REG_SZ", value)


def reg_escaped(text: str) -> str:
    return text.replace("\\", "\\\\").replace('"', '\\"')


def utf16_hex(texts) -> str:
    data = "".join(text + "\0" for text in texts).encode("utf-16-le")
    return ",".join(f"{byte:02x}" for byte in data)


def typed_reg_value(name: str, kind: str, data) -> str:
    """A value of the given registry type as regedit text."""
    if kind == "REG_DWORD":
        return f'"{name}"=dword:{int(data):08x}'
    if kind == "REG_SZ":
        return f'"{name}"="{reg_escaped(data)}"'
    if kind == "REG_EXPAND_SZ":
        return f'"{name}"=hex(2):' + utf16_hex([data])
    if kind == "REG_MULTI_SZ":
        return f'"{name}"=hex(7):' + utf16_hex(list(data) + [""])
    raise ValueError(f"unknown registry type {kind} for {name}")


def registry_layout(profile: dict):
    """The BIOS's answer, the script's, installer's and powercfg's behaviour
    and the class instance keys, as regedit text."""
    lines = [f"[{BIOS_CONFIG}]"]
    for name, value in bios_answer(profile).items():
        if name == "Records":
            lines.append(f'"{name}"=hex:' + ",".join(value[i:i + 2] for i in range(0, len(value), 2)))
        else:
            lines.append(reg_value(name, value))
    if "bios-server" not in profile["absent"]:
        # The server stays 10 s after its last object, so the pass's attempts
        # one after another all reach one server.
        lines.append(reg_value("LingerMs", BIOS_SERVER_LINGER_MS))
    lines += ["", f"[{SCRIPT_CONFIG}]",
              f'"LingerMs"=dword:{int(profile["script_host_lingers_ms"]):08x}']
    if profile["guid_values"] is not None:
        lines += script_guid_lines(profile["guid_values"])
    if profile["program_files_moved_to"]:
        # Where 32-bit programs find Program Files now (the 32-bit registry view).
        view = "Software" if profile["windows"] == "32-bit" else r"Software\Wow6432Node"
        lines += ["", f"[HKEY_LOCAL_MACHINE\\{view}\\Microsoft\\Windows\\CurrentVersion]",
                  reg_value("ProgramFilesDir", profile["program_files_moved_to"])]
    lines += ["", f"[{WINE_DEBUG_KEY}]", reg_value("RelayInclude", PAUSE_TRACE_FUNCTIONS),
              reg_value("RelayFromInclude", PAUSE_TRACE_CALLERS)]
    lines += ["", f"[{MACHINE_ID_CONFIG}]"]
    lines += [reg_value(name, value) for name, value in profile["machine_id_library"].items()]
    lines += ["", f"[{INSTALLER_CONFIG}]"]
    lines += [reg_value(name, value) for name, value in profile["installer"].items()]
    lines += ["", f"[{POWERCFG_CONFIG}]"]
    if profile["powercfg_hangs_on"]:
        lines.append(reg_value("HangsOn", profile["powercfg_hangs_on"]))
    if profile["powercfg_refuses"]:
        lines.append(reg_value("RefusesOn", profile["powercfg_refuses"]))
    lines.append("")
    if profile["script_association"] != "wscript":
        host = profile["script_association"]
        for classes in (r"Software\Classes", r"Software\Wow6432Node\Classes"):
            lines += [f"[HKEY_LOCAL_MACHINE\\{classes}\\VBSFile\\Shell\\Open\\Command]",
                      '@="' + reg_escaped(f'"C:\\windows\\system32\\{host}.exe" "%1" %*') + '"', ""]
    # A factory image has no just-in-time debugger: a program that crashes ends
    # at once with its exception code, where Wine would start its own debugger
    # (slow, and under emulation it can hang). Both registry views, for the
    # 32-bit programs of a 64-bit prefix.
    for software in ("Software", r"Software\Wow6432Node"):
        lines += [f"[HKEY_LOCAL_MACHINE\\{software}\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug]",
                  '"Debugger"=""', ""]
    # On Windows CurrentControlSet is a link to ControlSet001; Wine keeps two
    # trees, so the image's keys are laid out under both.
    for root in CLASS_ROOTS:
        for instance, values in CLASS_INSTANCE_KEYS.items():
            lines.append(f"[HKEY_LOCAL_MACHINE{root[4:]}\\{NET_DEVICE_CLASS.upper()}\\{instance}]")
            for name, value in values.items():
                lines.append(f'"{name}"=dword:{value:08x}' if isinstance(value, int)
                             else f'"{name}"="{value}"')
            lines.append("")
    return lines


def script_guid_lines(guid_values: dict):
    """Below the script's configuration: the values it copies into the
    settings key instead of writing its own three."""
    return [reg_value("GuidsFrom", SCRIPT_GUIDS.replace("HKEY_CURRENT_USER", "HKCU")),
            "", f"[{SCRIPT_GUIDS}]"] + [typed_reg_value(name, kind, data)
                                        for name, (kind, data) in guid_values.items()]


# Components a second run can go without, by the file that makes them present.
REMOVABLE_FILES = {"machine-id-library": lambda machine: product_folder(machine) + r"\CRVNT.DLL"}


def prepare_second_run(machine: Machine, changes: dict):
    """The computer as a second run finds it: components removed, settings-key
    values deleted, the script writing other values; the journal starts anew."""
    for component in changes.get("absent", []):
        machine.host_path(REMOVABLE_FILES[component](machine)).unlink()
    for name in changes.get("removed_values", []):
        machine.wine("reg", "delete", SETTINGS_KEY, "/v", name, "/f")
    if "guid_values" in changes:
        machine.wine("reg", "delete", SCRIPT_GUIDS.replace("HKEY_CURRENT_USER", "HKCU"), "/f")
        machine.import_registry([f"[{SCRIPT_CONFIG}]"] + script_guid_lines(changes["guid_values"])
                                + [""])
    machine.host_path(JOURNAL_PATH).unlink(missing_ok=True)


def build_package(machine: Machine, bin_dir: Path):
    """Builds the installer package with wixl from its WiX source, with the
    release library in the Binary table, checks that it holds the rows the
    profile relies on, and puts it in the setup folder."""
    staged = machine.host_path(r"C:\bench\package\vireo-bench.msi")
    staged.parent.mkdir(parents=True, exist_ok=True)
    library = bin_dir / "VireoDll.dll"
    package.build(library, staged)
    missing = package.missing_rows(staged)
    if missing or package.embedded_library(staged) != library.read_bytes():
        raise RuntimeError(f"the package lacks {missing or 'the release library'}")
    machine.install(staged, PACKAGE_PATH)


def register_wmi_server(machine: Machine):
    result = machine.wine(wmi_server_path(machine), "/RegServer")
    if result.returncode != 0 or machine.wine("sc", "query", "crvwmiex").returncode != 0:
        raise RuntimeError(f"crvwmiex /RegServer failed: {result.stderr!r}")


def powercfg(machine: Machine, parameters: str):
    result = machine.wine(machine.system32_on_disk + r"\powercfg.exe", *parameters.split())
    if result.returncode != 0:
        raise RuntimeError(f"powercfg {parameters} failed: {result.stdout!r}")


def hardware_id_argument(machine: Machine, hardware_id: str) -> str:
    """An ASCII ID as it is; any other through a UTF-8 file, since Wine reads a
    host command line in the host's code set, which need not be UTF-8."""
    if hardware_id.isascii():
        return hardware_id
    staged = machine.host_path(r"C:\bench\hardware-id.txt")
    staged.parent.mkdir(parents=True, exist_ok=True)
    staged.write_bytes(hardware_id.encode("utf-8") + b"\n")
    return r"@C:\bench\hardware-id.txt"


def devmaker(machine: Machine, bench_bin: Path, *args):
    result = machine.wine(str(bench_bin / "devmaker.exe"), *args)
    if result.returncode != 0:
        raise RuntimeError(f"devmaker {' '.join(args)} failed: {result.stderr!r}")


def hold_log_file(machine: Machine):
    """Starts a process that holds the activity log open without sharing
    until the computer stops; returns it once it holds the file."""
    holder = subprocess.Popen(["wine", LINGER_PATH, str(RUN_TIMEOUT_S * 1000), LOG_PATH],
                              env=machine.env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 120
    while time.monotonic() < deadline:
        journal = (machine.read_file(JOURNAL_PATH) or b"").decode("latin-1")
        if "\tlinger.exe\tholding " in journal:
            return holder
        if "\tlinger.exe\tcannot hold " in journal or holder.poll() is not None:
            break
        time.sleep(0.2)
    holder.kill()
    raise RuntimeError("the process that should hold the activity log open did not hold it")


def run_product(machine: Machine, profile: dict, repair: bool = False):
    """Runs the product once at real speed: the program, or msiexec installing
    the package (repairing it, with repair). Returns (exit code, seconds,
    trace): the exit code is None when the run did not end within
    RUN_TIMEOUT_S; the trace is Wine's relay trace of the product's pauses
    (None when the run did not end)."""
    if profile["runs"] == "installer-package" and repair:
        # msiexec /fa as properties: Wine's msiexec takes /f only with a
        # product code, and then does nothing.
        command = ("msiexec", "/i", PACKAGE_PATH, "REINSTALL=ALL", "REINSTALLMODE=a",
                   "/qn", "/l*v", MSIEXEC_REPAIR_LOG)
    elif profile["runs"] == "installer-package":
        command = ("msiexec", "/i", PACKAGE_PATH, "/qn", "/l*v", MSIEXEC_LOG)
    elif profile["runs"] == "calling-script":
        # As the guide's SetupComplete.cmd line runs it; its exit code is the run's.
        command = ("cscript", "//nologo", "//B", CALLING_SCRIPT_PATH)
    else:
        # Through exitcode.exe: the host would see the exit code's low byte only.
        command = (EXITCODE_PATH, SETUP_FOLDER + r"\defaults-runner.exe")
    started = time.monotonic()
    try:
        result = machine.wine(*command, timeout=RUN_TIMEOUT_S, debug=PAUSE_TRACE_DEBUG)
    except subprocess.TimeoutExpired:
        return None, time.monotonic() - started, None  # no exit code: it did not end
    duration_s = time.monotonic() - started
    trace = result.stderr.decode("latin-1")
    if command[0] != EXITCODE_PATH:
        return result.returncode, duration_s, trace
    reported = re.search(r"exit code 0x([0-9A-F]{8})", machine.decode(result.stdout))
    if result.returncode != 0 or reported is None:
        raise RuntimeError(f"exitcode.exe could not run the program: {result.stderr[-2000:]!r}")
    return int(reported.group(1), 16), duration_s, trace


def wait_for_script_host(machine: Machine, limit_s: float):
    """A script host may outlive the run; give it time to journal its end."""
    deadline = time.monotonic() + limit_s
    while time.monotonic() < deadline:
        journal = (machine.read_file(JOURNAL_PATH) or b"").decode("latin-1")
        if "\tVireo_Win7.vbs\tstarted" not in journal or "\tVireo_Win7.vbs\tended" in journal:
            return
        time.sleep(0.5)

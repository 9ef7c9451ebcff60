#!/usr/bin/env python3
"""Checks the release binaries against the rules they ship under.

    python3 scripts/check-binaries.py --program defaults-runner.exe --library VireoDll.dll \
        [--verifier vireo-verify.exe] [--summary vireo-summary.exe]

Prints each binary's size, one "FAIL <file>: <rule>: <what is wrong>" line per
problem and a summary; exits 0 when every rule holds, 1 otherwise. Every
imported function must be listed in scripts/allowed-imports.txt (another list
with --allowed-imports); the verifier's own list is
scripts/allowed-imports-verifier.txt, and it must import nothing that writes
the registry, the power scheme or a device, starts a process or a service, or
creates or changes a file outside the C runtime, nor hold the name of such a
function as text, which GetProcAddress could reach (rule "read-only"). A signed binary
(an Authenticode certificate table appended after the image) is checked like
an unsigned one; the size budget counts the image without the signature, and
the table must be well-formed and end the file. The summary program runs on an
engineer's workstation, not on the unit: it may import any function of the
stock DLLs and has no size budget (its size is printed), but every other rule
holds for it.
"""

import argparse
import fnmatch
import os
import re
import sys
from pathlib import Path

try:
    import pefile
except ImportError:
    # Debian's python3-pefile lives with the system interpreter; reach it when
    # python3 on PATH is another one (pyenv, a virtualenv).
    sys.path.append("/usr/lib/python3/dist-packages")
    import pefile

SIZE_LIMIT = 64 * 1024

# DLLs a stock Windows 7 has. Add one only with the reason beside it.
STOCK_DLLS = {
    "kernel32.dll", "user32.dll", "advapi32.dll", "shell32.dll", "shlwapi.dll",
    "setupapi.dll", "ole32.dll", "oleaut32.dll", "msvcrt.dll", "msi.dll",
    "powrprof.dll",  # power management (Windows Vista and later); the verifier loads it by path
}
# msi.dll is imported by ordinal 144 (its property setter) and nothing else.
MSI_DLL = "msi.dll"
MSI_ORDINAL = 144
# The compiler's runtime DLLs: importing one means the link was not static.
RUNTIME_DLL_PATTERNS = ("libwinpthread-1.dll", "libssp-0.dll", "libgcc_s*.dll", "libstdc++*.dll")

# What the verifier must never import, whatever its allow-list says: it only
# reads. Patterns of function names, each with what such a function does.
READ_ONLY_FORBIDDEN = (
    (("RegSet*", "RegCreate*", "RegDelete*", "RegCopyTree*", "RegRename*", "RegRestore*",
      "RegReplace*", "RegLoad*", "RegUnLoad*", "RegSave*", "RegFlushKey", "SHSet*", "SHDelete*",
      "SHCopyKey*"), "writes the registry"),
    (("CreateProcess*", "ShellExecute*", "WinExec", "CreateRemoteThread*", "system", "_spawn*",
      "_exec*"), "starts a process"),
    (("StartService*", "CreateService*", "ControlService*", "ChangeServiceConfig*",
      "DeleteService"), "starts or changes a service"),
    (("PowerWrite*", "PowerSetActiveScheme", "PowerCreate*", "PowerDelete*", "PowerDuplicate*",
      "PowerImport*", "PowerRestore*", "PowerReplace*", "PowerRemove*", "SetActivePwrScheme",
      "WritePwrScheme", "WriteGlobalPwrPolicy", "WriteProcessorPwrScheme", "DeletePwrScheme",
      "SetSuspendState"), "changes the power scheme"),
    (("SetupDiSetDeviceRegistryProperty*", "SetupDiCreateDevRegKey*", "SetupDiCallClassInstaller",
      "SetupDiChangeState", "SetupDiRemoveDevice", "DeviceIoControl"), "changes a device"),
    (("CreateFile*", "WriteFile*", "DeleteFile*", "MoveFile*", "CopyFile*", "ReplaceFile*",
      "OpenFile", "_lcreat", "_lwrite", "CreateDirectory*", "WritePrivateProfile*", "remove",
      "rename", "_unlink"), "creates or changes a file directly"),
)
# The same names held as text anywhere in the image (GetProcAddress could
# reach them): a whole NUL-terminated name, not part of a longer word.
READ_ONLY_NAME_TEXT = re.compile(
    rb"(?<![A-Za-z0-9_])(" + b"|".join(
        re.escape(pattern.rstrip("*").encode()) + (rb"[A-Za-z0-9_]*" if pattern.endswith("*") else b"")
        for patterns, _ in READ_ONLY_FORBIDDEN for pattern in patterns) + rb")\0")

EXPECTED_EXPORTS = {
    1: "??0CVireoDll@@QAE@XZ",
    2: "??4CVireoDll@@QAEAAV0@ABV0@@Z",
    3: "crvVireoReq",
    4: "?nVireoDll@@3HA",
}

# The class members a caller built with Microsoft's compiler calls as
# __thiscall: the object in ECX, back in EAX, and the callee pops its stack
# arguments. Ordinal: (what it is, bytes it must pop).
THISCALL_MEMBERS = {1: ("the default constructor", 0), 2: ("the assignment operator", 4)}
MOV_EAX_ECX = (b"\x89\xc8", b"\x8b\xc1")

VERSION = (1, 0, 0, 2)
VERSION_TABLE = "040904b0"
VERSION_STRINGS = {
    "FileVersion": "1, 0, 0, 2",
    "ProductVersion": "1, 0, 0, 2",
    "FileDescription": "VireoDll Dynamic Link Library",
    "ProductName": " VireoDll Dynamic Link Library",
    "InternalName": "VireoDll",
    "OriginalFilename": "VireoDll.dll",
}

RT_MANIFEST = 24
PROGRAM_MANIFEST_ID = 1   # the loader reads an executable's manifest from ID 1
LIBRARY_MANIFEST_ID = 2   # and a DLL's from ID 2

DLLCHAR_FLAGS = (
    (0x0040, "DYNAMICBASE"),
    (0x0100, "NX_COMPAT"),
    (0x0400, "NO_SEH"),
)
SCN_SHARED = 0x10000000
SCN_EXECUTE = 0x20000000
SCN_WRITE = 0x80000000

# libssp's __stack_chk_fail reports with this text; in a stripped binary it is
# what shows that the runtime was linked in.
STACK_PROTECTOR_TEXT = b"stack smashing detected"

# The certificate table: its directory entry holds a file offset, not an RVA,
# and each entry is a WIN_CERTIFICATE (length, revision, type) on an 8-byte
# boundary. Authenticode uses revision 2.0 and type PKCS_SIGNED_DATA.
SECURITY_DIRECTORY = 4
WIN_CERT_REVISION_2_0 = 0x0200
WIN_CERT_TYPE_PKCS_SIGNED_DATA = 0x0002

DEFAULT_ALLOWED_IMPORTS = Path(__file__).resolve().parent / "allowed-imports.txt"
DEFAULT_VERIFIER_IMPORTS = Path(__file__).resolve().parent / "allowed-imports-verifier.txt"

# The binaries: the GUI program, the library, the console verifier and the
# console summary program.
PROGRAM, LIBRARY, VERIFIER, SUMMARY = "program", "library", "verifier", "summary"
CONSOLE_KINDS = (VERIFIER, SUMMARY)


class AllowListError(Exception):
    pass


def load_allowed_imports(path):
    """Reads "dll!Function" / "dll!#ordinal" lines into a set of (dll, name).

    A "#" starts a comment at the start of a line or after a blank, so the
    "#" of an ordinal entry belongs to the entry.
    """
    allowed = set()
    for number, line in enumerate(Path(path).read_text().splitlines(), 1):
        words = line.split()
        if not words or words[0].startswith("#"):
            continue
        entry = words[0]
        dll, function = (entry.split("!", 1) + [""])[:2]
        if len(words) > 1 and not words[1].startswith("#") or not (dll and function):
            raise AllowListError(f"line {number}: expected dll!Function, got {line.strip()!r}")
        allowed.add((dll.lower(), function))
    return allowed


def import_key(imp):
    return f"#{imp.ordinal}" if imp.import_by_ordinal else imp.name.decode("ascii", "replace")


def check_format(pe, kind):
    is_library = kind == LIBRARY
    problems = []
    if pe.OPTIONAL_HEADER.Magic != pefile.OPTIONAL_HEADER_MAGIC_PE:
        problems.append(f"not PE32 (optional header magic 0x{pe.OPTIONAL_HEADER.Magic:x})")
    if pe.FILE_HEADER.Machine != pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]:
        problems.append(f"machine 0x{pe.FILE_HEADER.Machine:x}, not i386 (0x14c)")
    is_dll = bool(pe.FILE_HEADER.Characteristics & pefile.IMAGE_CHARACTERISTICS["IMAGE_FILE_DLL"])
    if is_library and not is_dll:
        problems.append("the DLL flag is not set")
    if not is_library:
        if is_dll:
            problems.append("the DLL flag is set on the program")
        name, what = ("IMAGE_SUBSYSTEM_WINDOWS_CUI", "Windows console") if kind in CONSOLE_KINDS \
            else ("IMAGE_SUBSYSTEM_WINDOWS_GUI", "Windows GUI")
        wanted = pefile.SUBSYSTEM_TYPE[name]
        if pe.OPTIONAL_HEADER.Subsystem != wanted:
            problems.append(f"subsystem {pe.OPTIONAL_HEADER.Subsystem}, not {what} ({wanted})")
    return problems


def forbidden_for_reader(name):
    """What an import the verifier must not have does, or None."""
    for patterns, what in READ_ONLY_FORBIDDEN:
        if any(fnmatch.fnmatchcase(name, pattern) for pattern in patterns):
            return what
    return None


def check_read_only(pe):
    problems = []
    entries = list(getattr(pe, "DIRECTORY_ENTRY_IMPORT", []))
    entries += getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])
    for entry in entries:
        dll = entry.dll.decode("ascii", "replace")
        for imp in entry.imports:
            what = forbidden_for_reader(import_key(imp))
            if what:
                problems.append(f"imports {dll}!{import_key(imp)}, which {what}")
    return problems


def check_names_held_as_text(data, pe):
    """Forbidden names the image holds as text, beyond those it imports (the
    import rules report those)."""
    imported = {import_key(imp) for entry in list(getattr(pe, "DIRECTORY_ENTRY_IMPORT", []))
                + getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", []) for imp in entry.imports}
    names = sorted({match.group(1).decode("ascii") for match in READ_ONLY_NAME_TEXT.finditer(data)}
                   - imported)
    return [f"holds the name {name} as text, which {forbidden_for_reader(name)}" for name in names]


def check_imports(pe, allowed, read_only=False):
    """allowed: the (dll, function) pairs allowed, or None for any function of
    a stock DLL."""
    problems = []
    entries = list(getattr(pe, "DIRECTORY_ENTRY_IMPORT", []))
    entries += getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])
    for entry in entries:
        dll = entry.dll.decode("ascii", "replace")
        lower = dll.lower()
        if any(fnmatch.fnmatchcase(lower, pattern) for pattern in RUNTIME_DLL_PATTERNS):
            problems.append(f"imports the compiler runtime {dll} dynamically; "
                            "the link must be fully static")
            continue
        if lower not in STOCK_DLLS:
            problems.append(f"imports from {dll}, which is not in the stock Windows 7 set")
            continue
        for imp in entry.imports:
            key = import_key(imp)
            if read_only and forbidden_for_reader(key):
                continue  # the read-only rule reports it
            if lower == MSI_DLL and key != f"#{MSI_ORDINAL}":
                how = f"ordinal {imp.ordinal}" if imp.import_by_ordinal else f"{key} by name"
                problems.append(f"imports {how} from {dll}; only ordinal {MSI_ORDINAL} is allowed")
            elif allowed is not None and (lower, key) not in allowed:
                problems.append(f"imports {dll}!{key}, which is not on the allow-list")
    return problems


def check_exports(pe):
    exports = getattr(pe, "DIRECTORY_ENTRY_EXPORT", None)
    if exports is None:
        return ["no export directory"]
    problems = []
    found = {}
    for symbol in exports.symbols:
        name = symbol.name.decode("ascii", "replace") if symbol.name else None
        found[symbol.ordinal] = name
    for ordinal, name in sorted(found.items()):
        expected = EXPECTED_EXPORTS.get(ordinal)
        if expected is None:
            problems.append(f"unexpected export ordinal {ordinal} ({name or 'no name'})")
        elif name != expected:
            problems.append(f"export ordinal {ordinal} is {name or 'unnamed'}, expected {expected}")
    for ordinal in sorted(set(EXPECTED_EXPORTS) - set(found)):
        problems.append(f"export ordinal {ordinal} ({EXPECTED_EXPORTS[ordinal]}) is missing")
    return problems


def thiscall_member_problem(code, what, pops):
    """The member's code must be "mov eax, ecx" then "ret" popping pops bytes."""
    if code[:2] not in MOV_EAX_ECX:
        return f"{what} does not return its object: its code starts {code[:4].hex(' ')}, not mov eax, ecx"
    ret = code[2:5]
    popped = 0 if ret[:1] == b"\xc3" else int.from_bytes(ret[1:3], "little") if ret[:1] == b"\xc2" else None
    if popped is None:
        return f"{what} does not return right after setting EAX (next bytes {ret.hex(' ')})"
    if popped != pops:
        return f"{what} pops {popped} bytes on return, expected {pops}"
    return None


def check_calling_convention(pe):
    exports = getattr(pe, "DIRECTORY_ENTRY_EXPORT", None)
    addresses = {s.ordinal: s.address for s in exports.symbols} if exports else {}
    problems = []
    for ordinal, (what, pops) in sorted(THISCALL_MEMBERS.items()):
        if ordinal not in addresses:
            continue  # the exports rule reports it
        code = pe.get_data(addresses[ordinal], 5)
        problem = thiscall_member_problem(code, f"ordinal {ordinal} ({what})", pops)
        if problem:
            problems.append(problem)
    return problems


def version_of(ms, ls):
    return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


def check_version(pe):
    fixed = getattr(pe, "VS_FIXEDFILEINFO", None)
    if not fixed:
        return ["no version resource"]
    problems = []
    expected = ".".join(map(str, VERSION))
    for label, ms, ls in (("file", fixed[0].FileVersionMS, fixed[0].FileVersionLS),
                          ("product", fixed[0].ProductVersionMS, fixed[0].ProductVersionLS)):
        actual = ".".join(map(str, version_of(ms, ls)))
        if actual != expected:
            problems.append(f"fixed {label} version {actual}, expected {expected}")
    tables = {}
    for info in getattr(pe, "FileInfo", []):
        for block in info:
            if getattr(block, "Key", None) == b"StringFileInfo":
                for table in block.StringTable:
                    tables[table.LangID.decode("ascii", "replace").lower()] = table.entries
    strings = tables.get(VERSION_TABLE)
    if strings is None:
        return problems + [f"no version string table {VERSION_TABLE}"]
    for key, value in VERSION_STRINGS.items():
        actual = strings.get(key.encode())
        if actual is None:
            problems.append(f"version string {key} is missing")
        elif actual.decode("utf-8", "replace") != value:
            problems.append(f"version string {key} is {actual.decode('utf-8', 'replace')!r}, "
                            f"expected {value!r}")
    return problems


def check_manifest(pe, expected_id):
    manifests = {}
    for kind in getattr(getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None), "entries", []):
        if kind.id != RT_MANIFEST:
            continue
        for entry in kind.directory.entries:
            key = entry.id if entry.name is None else str(entry.name)
            manifests[key] = [pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size)
                              for lang in entry.directory.entries]
    if not manifests:
        return [f"no manifest resource (expected ID {expected_id})"]
    problems = []
    if set(manifests) != {expected_id}:
        ids = ", ".join(map(str, manifests))
        problems.append(f"manifest resource ID {ids}, expected only ID {expected_id}")
    for key, texts in manifests.items():
        for text in texts:
            lowered = text.lower()
            if (b"requestedexecutionlevel" in lowered
                    or "requestedexecutionlevel".encode("utf-16-le") in lowered):
                problems.append(f"manifest ID {key} has a requestedExecutionLevel entry")
    return problems


def check_hardening(pe):
    problems = []
    flags = pe.OPTIONAL_HEADER.DllCharacteristics
    for bit, name in DLLCHAR_FLAGS:
        if not flags & bit:
            problems.append(f"DllCharacteristics 0x{flags:04x} lacks {name} (0x{bit:04x})")
    reloc = pe.OPTIONAL_HEADER.DATA_DIRECTORY[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]]
    if reloc.VirtualAddress == 0 or reloc.Size == 0:
        problems.append("the base-relocation directory is empty, so DYNAMICBASE has no effect")
    if pe.FILE_HEADER.Characteristics & pefile.IMAGE_CHARACTERISTICS["IMAGE_FILE_RELOCS_STRIPPED"]:
        problems.append("the RELOCS_STRIPPED flag is set, so the image cannot be moved")
    return problems


def check_sections(pe):
    problems = []
    for section in pe.sections:
        name = section.Name.rstrip(b"\0").decode("ascii", "replace")
        flags = section.Characteristics
        if flags & SCN_WRITE and flags & SCN_EXECUTE:
            problems.append(f"section {name} is writable and executable (0x{flags:08x})")
        if flags & SCN_WRITE and flags & SCN_SHARED:
            problems.append(f"section {name} is shared and writable (0x{flags:08x})")
    return problems


def check_stack_protection(data):
    if STACK_PROTECTOR_TEXT in data:
        return []
    return ["no stack-protector runtime linked in (its text \"stack smashing detected\" is "
            "absent): build with -fstack-protector-strong and link statically"]


def check_size(size):
    return [] if size <= SIZE_LIMIT else [f"{size} bytes, over the budget of {SIZE_LIMIT}"]


def check_timestamp(pe):
    stamp = pe.FILE_HEADER.TimeDateStamp
    return [] if stamp == 0 else [f"PE header TimeDateStamp is 0x{stamp:08x}, not 0"]


def certificate_table(pe):
    """(file offset, size) of the certificate table, or None when unsigned."""
    entry = pe.OPTIONAL_HEADER.DATA_DIRECTORY[SECURITY_DIRECTORY]
    return (entry.VirtualAddress, entry.Size) if entry.VirtualAddress or entry.Size else None


def check_signature(data, offset, size):
    if offset % 8 or offset + size != len(data) or size < 8:
        return [f"certificate table at offset {offset}, {size} bytes, does not end the "
                f"{len(data)}-byte file on an 8-byte boundary"]
    length = int.from_bytes(data[offset:offset + 4], "little")
    revision = int.from_bytes(data[offset + 4:offset + 6], "little")
    kind = int.from_bytes(data[offset + 6:offset + 8], "little")
    if revision != WIN_CERT_REVISION_2_0 or kind != WIN_CERT_TYPE_PKCS_SIGNED_DATA \
            or not 8 < length <= size:
        return [f"certificate entry of {length} bytes, revision 0x{revision:04x}, type "
                f"0x{kind:04x}: not an Authenticode signature"]
    return []


def check_binary(path, kind, allowed):
    """Returns (size, signature size, [(rule, message)]) for one binary."""
    is_library = kind == LIBRARY
    try:
        data = Path(path).read_bytes()
    except OSError as error:
        return None, 0, [("file", f"cannot be read: {error.strerror}")]
    try:
        pe = pefile.PE(data=data)
    except pefile.PEFormatError as error:
        return len(data), 0, [("size", message) for message in check_size(len(data))] + \
            [("format", f"not a PE file: {error.value}")]
    table = certificate_table(pe)
    signed = table is not None and table[0] < len(data)
    signature_size = len(data) - table[0] if signed else 0
    problems = [] if kind == SUMMARY else \
        [("size", message) for message in check_size(len(data) - signature_size)]
    if table:
        problems += [("signature", message) for message in check_signature(data, *table)]
    checks = [
        ("format", check_format(pe, kind)),
        ("imports", check_imports(pe, allowed, read_only=kind == VERIFIER)),
        ("manifest", check_manifest(pe, LIBRARY_MANIFEST_ID if is_library else PROGRAM_MANIFEST_ID)),
        ("hardening", check_hardening(pe)),
        ("sections", check_sections(pe)),
        ("stack protection", check_stack_protection(data)),
        ("timestamp", check_timestamp(pe)),
    ]
    if kind == VERIFIER:
        checks.append(("read-only", check_read_only(pe) + check_names_held_as_text(data, pe)))
    if is_library:
        checks += [("exports", check_exports(pe)), ("calling convention", check_calling_convention(pe)),
                   ("version", check_version(pe))]
    for rule, messages in checks:
        problems += [(rule, message) for message in messages]
    return len(data), signature_size, problems


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True, help="defaults-runner.exe")
    parser.add_argument("--library", required=True, help="VireoDll.dll")
    parser.add_argument("--verifier", help="vireo-verify.exe")
    parser.add_argument("--summary", help="vireo-summary.exe")
    parser.add_argument("--allowed-imports", default=str(DEFAULT_ALLOWED_IMPORTS),
                        help="allow-list of imported functions (default: %(default)s)")
    parser.add_argument("--verifier-allowed-imports", default=str(DEFAULT_VERIFIER_IMPORTS),
                        help="the verifier's allow-list (default: %(default)s)")
    args = parser.parse_args(argv)

    lists = {}
    for kind, path in ((PROGRAM, args.allowed_imports), (VERIFIER, args.verifier_allowed_imports)):
        try:
            lists[kind] = load_allowed_imports(path)
        except (OSError, AllowListError) as error:
            print(f"FAIL {path}: allow-list: {error}")
            return 1

    binaries = [(args.program, PROGRAM), (args.library, LIBRARY)]
    if args.verifier:
        binaries.append((args.verifier, VERIFIER))
    if args.summary:
        binaries.append((args.summary, SUMMARY))
    lists[SUMMARY] = None
    counts = []
    for path, kind in binaries:
        allowed = lists.get(kind, lists[PROGRAM])
        size, signature_size, problems = check_binary(path, kind, allowed)
        signed = f"{size - signature_size} of them the image, {signature_size} the signature, " \
            if signature_size else ""
        budget = "no budget" if kind == SUMMARY else f"budget {SIZE_LIMIT}"
        print(f"{path}: {'unreadable' if size is None else f'{size} bytes'} "
              f"({signed}{budget})")
        for rule, message in problems:
            print(f"FAIL {path}: {rule}: {message}")
        counts.append((os.path.basename(path), len(problems)))

    total = sum(count for _, count in counts)
    if total == 0:
        print(f"OK: every rule holds for all {len(binaries)} binaries")
        return 0
    print("FAILED: " + ", ".join(f"{name} {count} problem{'s' * (count != 1)}"
                                 for name, count in counts))
    return 1


if __name__ == "__main__":
    sys.exit(main())

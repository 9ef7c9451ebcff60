"""scripts/check-binaries.py on small binaries built here with the mingw-w64
cross compiler (no Wine): a program and a library that pass every rule, and
copies or rebuilds of them that each break one rule, which the checker must
report, and no other. Signed copies are made with osslsigncode and a
throwaway certificate from openssl. Run: python3 tests/check_binaries_test.py"""

import contextlib
import io
import re
import runpy
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
FIXTURES = ROOT / "tests" / "check_binaries"
checker = runpy.run_path(str(ROOT / "scripts" / "check-binaries.py"), run_name="check_binaries")
pefile = checker["pefile"]


def tool(name, *args):
    done = subprocess.run(["i686-w64-mingw32-" + name, *map(str, args)],
                          capture_output=True, text=True)
    if done.returncode:
        raise RuntimeError(f"{name} {' '.join(map(str, args))}\n{done.stderr}")


def build(out, kind, extra_import=None, extra_export="", protected=True, elevated=False,
          defines=()):
    """Builds tests/check_binaries/<kind>.c in out. extra_import is (dll, .def
    line) of one more import; extra_export one more line of the library's .def;
    defines are preprocessor names for the source."""
    out.mkdir(parents=True)
    binary = out / {"program": "defaults-runner.exe", "library": "VireoDll.dll",
                    "verifier": "vireo-verify.exe", "summary": "vireo-summary.exe"}[kind]
    # The verifier and the summary are the program's source built as console programs.
    source = "library" if kind == "library" else "program"
    flags = ["-O2", "-s", "-static", "-Wl,--dynamicbase,--nxcompat,--no-seh,--no-insert-timestamp",
             FIXTURES / f"{source}.c", out / "res.o", "-o", binary]
    flags += ["-fstack-protector-strong"] if protected else []
    flags += ["-D" + name for name in defines]
    imports = []
    if kind == "library":
        (out / "exports.def").write_text((FIXTURES / "library.def").read_text() + extra_export)
        flags += ["-shared", out / "exports.def"]
        imports.append(FIXTURES / "msi.def")
    elif kind in ("verifier", "summary"):
        flags += ["-mconsole", "-DCONSOLE"]
    else:
        flags.append("-mwindows")
    if extra_import:
        dll, line = extra_import
        (out / "extra.def").write_text(f"LIBRARY {dll}\nEXPORTS\n    {line}\n")
        imports.append(out / "extra.def")
        flags.append("-DEXTRA_IMPORT=" + line.split()[0])
    for number, definition in enumerate(imports):
        tool("dlltool", "-d", definition, "-l", out / f"imports{number}.a")
        flags.append(out / f"imports{number}.a")
    tool("windres", "-I", FIXTURES, *(["-DELEVATED"] if elevated else []),
         FIXTURES / f"{source}.rc", "-O", "coff", "-o", out / "res.o")
    tool("gcc", *flags)
    return binary


def setUpModule():
    global WORK, GOOD
    WORK = Path(tempfile.mkdtemp(prefix="check-binaries-"))
    GOOD = {kind: build(WORK / kind, kind) for kind in ("program", "library", "verifier", "summary")}


def signed(kind):
    """The good binary signed (Authenticode, SHA-256) with a throwaway certificate."""
    key = WORK / "signing.p12"
    if not key.exists():
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-subj", "/CN=check-binaries test", "-keyout", WORK / "key.pem",
                        "-out", WORK / "cert.pem"], check=True, capture_output=True)
        subprocess.run(["openssl", "pkcs12", "-export", "-inkey", WORK / "key.pem",
                        "-in", WORK / "cert.pem", "-out", key, "-passout", "pass:test"],
                       check=True, capture_output=True)
    out = WORK / f"signed-{GOOD[kind].name}"
    out.unlink(missing_ok=True)
    subprocess.run(["osslsigncode", "sign", "-pkcs12", key, "-pass", "test", "-h", "sha256",
                    "-in", GOOD[kind], "-out", out], check=True, capture_output=True)
    return out.read_bytes()


def tearDownModule():
    shutil.rmtree(WORK, ignore_errors=True)


def flip(target, field, on=0, off=0):
    setattr(target, field, (getattr(target, field) | on) & ~off)


def replace(old, new):
    return lambda pe: bytes(pe.__data__).replace(old, new, 1)


def section(pe, name):
    return next(s for s in pe.sections if s.Name.rstrip(b"\0") == name)


def manifest(pe):
    return next(e for e in pe.DIRECTORY_ENTRY_RESOURCE.entries if e.id == 24).directory.entries[0]


class CheckerTest(unittest.TestCase):
    def check(self, kind, binary):
        """Runs the checker on binary in kind's place; returns (code, output, rules)."""
        paths = dict(GOOD, **{kind: binary})
        output = io.StringIO()
        with contextlib.redirect_stdout(output):
            code = checker["main"](["--program", str(paths["program"]),
                                    "--library", str(paths["library"]),
                                    "--verifier", str(paths["verifier"]),
                                    "--summary", str(paths["summary"]),
                                    "--allowed-imports", str(FIXTURES / "allowed-imports.txt"),
                                    "--verifier-allowed-imports",
                                    str(FIXTURES / "allowed-imports.txt")])
        failures = re.findall(r"^FAIL .+?: ([a-z -]+): (.*)$", output.getvalue(), re.M)
        return code, output.getvalue(), failures

    def assertOnlyRule(self, kind, binary, rule, text):
        code, output, failures = self.check(kind, binary)
        self.assertEqual(code, 1, output)
        self.assertEqual({r for r, _ in failures}, {rule}, output)
        self.assertTrue(any(text in message for _, message in failures), output)

    def test_good_binaries_pass_and_their_sizes_are_printed(self):
        code, output, failures = self.check("program", GOOD["program"])
        self.assertEqual((code, failures), (0, []), output)
        for path in GOOD.values():
            self.assertIn(f"{path}: {path.stat().st_size} bytes", output)

    def test_each_broken_rule_is_reported_alone(self):
        # (binary, a patch of the good one or build options, rule, text of the message)
        static = "dynamically; the link must be fully static"
        cases = [
            ("program", lambda pe: setattr(pe.OPTIONAL_HEADER, "Subsystem", 3),
             "format", "not Windows GUI"),
            ("verifier", lambda pe: setattr(pe.OPTIONAL_HEADER, "Subsystem", 2),
             "format", "not Windows console"),
            ("library", lambda pe: flip(pe.FILE_HEADER, "Characteristics", off=0x2000),
             "format", "DLL flag is not set"),
            ("program", dict(extra_import=("KERNEL32.dll", "Beep")),
             "imports", "KERNEL32.dll!Beep, which is not on the allow-list"),
            ("program", dict(extra_import=("WINMM.dll", "timeGetTime")),
             "imports", "WINMM.dll, which is not in the stock Windows 7 set"),
            ("program", dict(extra_import=("libwinpthread-1.dll", "pthread_self")),
             "imports", "libwinpthread-1.dll " + static),
            # The verifier only reads, whatever its allow-list says.
            ("verifier", dict(extra_import=("ADVAPI32.dll", "RegSetValueExA")),
             "read-only", "ADVAPI32.dll!RegSetValueExA, which writes the registry"),
            ("verifier", dict(extra_import=("KERNEL32.dll", "CreateProcessA")),
             "read-only", "KERNEL32.dll!CreateProcessA, which starts a process"),
            ("verifier", dict(extra_import=("POWRPROF.dll", "PowerSetActiveScheme")),
             "read-only", "POWRPROF.dll!PowerSetActiveScheme, which changes the power scheme"),
            ("verifier", dict(extra_import=("SETUPAPI.dll", "SetupDiCallClassInstaller")),
             "read-only", "SETUPAPI.dll!SetupDiCallClassInstaller, which changes a device"),
            ("verifier", dict(extra_import=("msvcrt.dll", "_spawnl")),
             "read-only", "msvcrt.dll!_spawnl, which starts a process"),
            # A name held as text could still reach the function through GetProcAddress.
            ("verifier", dict(defines=['NAMED_FUNCTION="DeleteFileA"']),
             "read-only", "holds the name DeleteFileA as text, which creates or changes a file"),
            ("library", dict(extra_import=("libgcc_s_dw2-1.dll", "__udivdi3")),
             "imports", "libgcc_s_dw2-1.dll " + static),
            ("library", dict(extra_import=("msi.dll", "MsiGetPropertyA")),
             "imports", "imports MsiGetPropertyA by name from msi.dll"),
            ("library", dict(extra_import=("msi.dll", "MsiSetPropertyW @145 NONAME")),
             "imports", "imports ordinal 145 from msi.dll"),
            ("library", replace(b"crvVireoReq\0", b"crvVireoRex\0"),
             "exports", "ordinal 3 is crvVireoRex"),
            ("library", dict(extra_export="    extra = construct @5\n"),
             "exports", "unexpected export ordinal 5 (extra)"),
            ("library", dict(defines=["BARE_CONSTRUCTOR"]),
             "calling convention", "ordinal 1 (the default constructor) does not return its object"),
            ("library", replace(b"\x89\xc8\xc2\x04\x00", b"\x89\xc8\xc2\x08\x00"),
             "calling convention", "ordinal 2 (the assignment operator) pops 8 bytes"),
            ("library", lambda pe: setattr(pe.VS_FIXEDFILEINFO[0], "FileVersionLS", 3),
             "version", "fixed file version 1.0.0.3"),
            ("library", replace(" VireoDll".encode("utf-16-le"), "_VireoDll".encode("utf-16-le")),
             "version", "ProductName is '_VireoDll"),
            ("program", lambda pe: setattr(manifest(pe).struct, "Name", 2),
             "manifest", "ID 2, expected only ID 1"),
            ("program", dict(elevated=True), "manifest", "has a requestedExecutionLevel entry"),
            ("library", lambda pe: flip(pe.OPTIONAL_HEADER, "DllCharacteristics", off=0x400),
             "hardening", "lacks NO_SEH"),
            ("program", lambda pe: setattr(pe.OPTIONAL_HEADER.DATA_DIRECTORY[5], "Size", 0),
             "hardening", "base-relocation directory is empty"),
            ("library", lambda pe: flip(section(pe, b".text"), "Characteristics", on=0x80000000),
             "sections", ".text is writable and executable"),
            ("program", lambda pe: flip(section(pe, b".data"), "Characteristics", on=0x10000000),
             "sections", ".data is shared and writable"),
            # The summary runs on a workstation: any function of a stock DLL,
            # no size budget; the other rules hold.
            ("summary", dict(extra_import=("KERNEL32.dll", "CreateProcessA")), None, ""),
            ("summary", lambda pe: pe.write() + bytes(65536), None, ""),
            ("summary", dict(extra_import=("WINMM.dll", "timeGetTime")),
             "imports", "WINMM.dll, which is not in the stock Windows 7 set"),
            ("summary", lambda pe: setattr(pe.OPTIONAL_HEADER, "Subsystem", 2),
             "format", "not Windows console"),
            ("library", dict(protected=False), "stack protection", "stack smashing detected"),
            ("library", lambda pe: pe.write() + bytes(65536), "size", "over the budget"),
            ("program", lambda pe: setattr(pe.FILE_HEADER, "TimeDateStamp", 0x5F000000),
             "timestamp", "0x5f000000"),
            # A signature is appended after the image: a signed copy passes
            # (rule None), one cut short or followed by more data does not.
            ("library", lambda pe: signed("library"), None, ""),
            ("program", lambda pe: signed("program")[:-100], "signature", "does not end"),
            ("library", lambda pe: signed("library") + bytes(8), "signature", "does not end"),
        ]
        for number, (kind, change, rule, text) in enumerate(cases):
            with self.subTest(rule=rule, text=text):
                out = WORK / f"case{number}"
                if isinstance(change, dict):
                    binary = build(out, kind, **change)
                else:
                    pe = pefile.PE(str(GOOD[kind]))
                    data = change(pe)
                    out.mkdir()
                    binary = out / GOOD[kind].name
                    binary.write_bytes(pe.write() if data is None else data)
                    pe.close()
                if rule is None:
                    code, output, failures = self.check(kind, binary)
                    self.assertEqual((code, failures), (0, []), output)
                else:
                    self.assertOnlyRule(kind, binary, rule, text)


if __name__ == "__main__":
    unittest.main()

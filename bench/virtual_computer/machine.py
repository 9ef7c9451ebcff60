"""A Wine prefix playing a Windows 7 computer, 64-bit (WoW64) or 32-bit."""

import os
import re
import shutil
import subprocess
import tempfile
from pathlib import Path


# The ANSI (and, for these, also OEM) code page Wine takes from a Unix locale.
CODE_PAGES = {"ja_JP": "cp932"}


class Machine:
    def __init__(self, prefix: Path, windows: str = "64-bit", locale=None):
        if windows not in ("64-bit", "32-bit"):
            raise ValueError(f"windows must be 64-bit or 32-bit, not {windows!r}")
        self.prefix = prefix
        self.windows = windows
        self.env = dict(os.environ)
        self.env.pop("DISPLAY", None)
        self.env.update({
            "WINEPREFIX": str(prefix),
            "WINEARCH": "win64" if windows == "64-bit" else "win32",
            "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
        })
        # Text that Windows programs write (the log, reg.exe's output, the
        # journal) is in the system code page.
        self.encoding = "cp1252"
        if locale:
            self.env["LC_ALL"] = locale
            self.encoding = CODE_PAGES.get(locale.split(".")[0], "cp1252")
        # The folders a 32-bit process sees.
        if windows == "64-bit":
            self.program_files = r"C:\Program Files (x86)"
            self.system32_on_disk = r"C:\windows\syswow64"
        else:
            self.program_files = r"C:\Program Files"
            self.system32_on_disk = r"C:\windows\system32"

    def host_path(self, windows_path: str) -> Path:
        drive, rest = windows_path.split(":", 1)
        assert drive.upper() == "C"
        parts = [p for p in rest.split("\\") if p]
        return self.prefix.joinpath("drive_c", *parts)

    def _run(self, command, timeout, env=None):
        """Runs a command of the prefix. Output goes to files, not pipes: Wine's
        background services inherit the handles and would hold a pipe open."""
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            result = subprocess.run(command, env=env or self.env, stdout=out, stderr=err,
                                    stdin=subprocess.DEVNULL, timeout=timeout)
            out.seek(0)
            err.seek(0)
            return subprocess.CompletedProcess(command, result.returncode, out.read(), err.read())

    def wine(self, *args, timeout=60, native_dlls=(), debug=None):
        """Runs a program of the prefix; native_dlls are loaded from their
        files (a stand-in) instead of Wine's own, for this process only;
        debug, Wine's debug channels for it and the processes it starts
        (their trace is the result's stderr)."""
        env = dict(self.env)
        if native_dlls:
            env["WINEDLLOVERRIDES"] = ";".join(
                [self.env["WINEDLLOVERRIDES"], *(f"{dll}=n" for dll in native_dlls)])
        if debug:
            env["WINEDEBUG"] = debug
        return self._run(["wine", *args], timeout, env)

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

    def decode(self, data: bytes) -> str:
        return data.decode(self.encoding, "replace")

    def read_file(self, windows_path: str):
        path = self.host_path(windows_path)
        return path.read_bytes() if path.exists() else None

    def import_registry(self, lines):
        """Imports registry text (regedit format) in one go."""
        staged = self.host_path(r"C:\bench\layout.reg")
        staged.parent.mkdir(parents=True, exist_ok=True)
        staged.write_text("Windows Registry Editor Version 5.00\r\n\r\n" + "\r\n".join(lines) + "\r\n",
                          encoding="utf-16")
        result = self.wine("regedit", "/S", r"C:\bench\layout.reg")
        staged.unlink()
        if result.returncode != 0:
            raise RuntimeError(f"regedit import failed: {result.stderr!r}")

    def query_key(self, key: str) -> dict:
        """Values of one registry key, as reg.exe shows them; {} when missing."""
        result = self.wine("reg", "query", key)
        if result.returncode != 0:
            return {}
        return parse_reg_query(self.decode(result.stdout))

    def query_tree(self, key: str) -> dict:
        """Values of a key and every key below it, by full key name."""
        result = self.wine("reg", "query", key, "/s")
        if result.returncode != 0:
            return {}
        tree, current = {}, None
        for line in self.decode(result.stdout).splitlines():
            line = line.rstrip("\r")
            if line.startswith("HKEY_"):
                current = tree.setdefault(line, {})
            elif current is not None:
                current.update(parse_reg_query(line))
        return tree


def parse_reg_query(text: str) -> dict:
    values = {}
    for line in text.splitlines():
        match = re.match(r"^    (.+?)    (REG_\w+)    ?(.*)$", line.rstrip("\r"))
        if not match:
            continue
        name, kind, data = match.groups()
        values[name] = int(data, 16) if kind == "REG_DWORD" else data
    return values

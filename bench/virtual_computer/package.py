"""The installer package of the msi profile, built on the host with wixl from
bench/package/vireo-bench.wxs, and the table rows the profile relies on."""

import os
import subprocess
from pathlib import Path

SOURCE = Path(__file__).resolve().parent.parent / "package" / "vireo-bench.wxs"

# (table, row as msiinfo exports it, tab-separated, trailing empty columns dropped):
# the custom action of type 1 (a DLL from the Binary table, run at once,
# its return code checked) that calls crvVireoReq on the first installation
# only, and the registry row that records the property the pass set, written
# after it.
REQUIRED_ROWS = (
    ("Binary", "VireoDll\tBinary.VireoDll"),
    ("CustomAction", "RunVireoPass\t1\tVireoDll\tcrvVireoReq"),
    ("Registry", "HotFixValue\t1\tSoftware\\CorvaneBench\\Installer\tcrvMSIHotFix\t[crvMSIHotFix]"
                 "\tHotFixRecord"),
    ("InstallExecuteSequence", "RunVireoPass\tNOT Installed\t4000"),
    ("InstallExecuteSequence", "WriteRegistryValues\t\t5000"),
)


def build(library: Path, out: Path):
    """Builds the package with `library` in its Binary table."""
    # wixl 0.101 looks source files up relative to a folder and refuses an
    # absolute SourceFile: it runs in the library's folder.
    result = subprocess.run(["wixl", "-a", "x86", "-o", str(out.resolve()), str(SOURCE)],
                            env={**os.environ, "VIREO_DLL": library.name},
                            cwd=library.resolve().parent, capture_output=True, text=True)
    if result.returncode != 0 or not out.exists():
        raise RuntimeError(f"wixl could not build the package: {result.stderr[-2000:]}")


def exported_rows(msi: Path, table: str):
    """The data rows of one table (after the three header lines). Binary
    streams are exported as files beside the package."""
    text = subprocess.run(["msiinfo", "export", msi.name, table], capture_output=True,
                          text=True, check=True, cwd=msi.resolve().parent).stdout
    return [line.rstrip("\r").rstrip("\t") for line in text.splitlines()[3:]]


def missing_rows(msi: Path):
    """The required rows the package lacks, as "table: row"."""
    tables = {}
    missing = []
    for table, row in REQUIRED_ROWS:
        if table not in tables:
            tables[table] = exported_rows(msi, table)
        if row not in tables[table]:
            missing.append(f"{table}: {row!r}")
    return missing


def embedded_library(msi: Path) -> bytes:
    return subprocess.run(["msiinfo", "extract", str(msi), "Binary.VireoDll"],
                          capture_output=True, check=True).stdout

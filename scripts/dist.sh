#!/usr/bin/env bash
# make dist: the release binaries, checked, in dist/ with SHA256SUMS and a
# short RELEASE.txt. Nothing in dist/ depends on when or where it was built.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/release}
out=${2:-dist}
program=$build/bin/defaults-runner.exe
library=$build/bin/VireoDll.dll

python3 scripts/check-binaries.py --program "$program" --library "$library"

rm -rf "$out"
mkdir -p "$out"
cp "$program" "$library" "$out/"
(cd "$out" && sha256sum defaults-runner.exe VireoDll.dll > SHA256SUMS)

commit=$(git rev-parse HEAD 2>/dev/null || echo unknown)
compiler=$(i686-w64-mingw32-g++-posix --version | head -n1)
size() { stat -c %s "$out/$1"; }
cat > "$out/RELEASE.txt" <<TEXT
Vireo factory preferences 1.0.0.2

defaults-runner.exe  $(size defaults-runner.exe) bytes  the program: runs Setup1.exe, the
                     preference pass and the Balanced power-scheme commands
VireoDll.dll         $(size VireoDll.dll) bytes  the library: the preference pass
                     (export crvVireoReq, also an installer custom action)

Both are 32-bit Windows (PE32, i386) for Windows 7 and later, 32- or 64-bit.
SHA-256 sums: SHA256SUMS.

Built from commit $commit with $compiler,
fully static (no runtime DLLs), stripped, with no time stamps.

Checked before packing (scripts/check-binaries.py): imports only from stock
Windows 7 DLLs and only functions on scripts/allowed-imports.txt (msi.dll by
ordinal 144 only); the library exports ordinals 1 to 4; version resource
1.0.0.2; manifests without an execution level; ASLR with relocations, DEP,
no SEH; no writable-and-executable or shared writable section; stack
protection linked in; at most 64 KiB each. The commit's tests ran under Wine
in a 32-bit and in a WoW64 prefix, and every virtual-computer profile was
checked (make test, make demo-all).
TEXT
echo "dist: $(ls "$out" | tr '\n' ' ')"

#!/usr/bin/env bash
# make dist: the release binaries, checked, in dist/ with SHA256SUMS, a short
# RELEASE.txt and one zip of them with the deployment guide. Nothing in dist/
# depends on when or where it was built.
#
# Signing: with VIREO_SIGN_PKCS12 (path of a PKCS#12 file holding the
# certificate and its key) and VIREO_SIGN_PASSWORD (its password) all four
# binaries are signed with Authenticode (SHA-256) through osslsigncode and the
# signatures verified; without them the release is unsigned and says so. The
# signing time is the commit's time, so signing the same build twice gives the
# same bytes; there is no time-stamping server.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/release}
out=${2:-dist}
program=$build/bin/defaults-runner.exe
library=$build/bin/VireoDll.dll
verifier=$build/bin/vireo-verify.exe
summary=$build/bin/vireo-summary.exe
binaries=(defaults-runner.exe VireoDll.dll vireo-verify.exe vireo-summary.exe)
# The compliance setting's discovery script, shipped beside the verifier.
compliance_script=verifier/vireo-compliance.vbs
zip_name=vireo-1.0.0.2.zip

if [ "${VIREO_SIGN_PKCS12:+set}" != "${VIREO_SIGN_PASSWORD:+set}" ]; then
    echo "dist: set both VIREO_SIGN_PKCS12 and VIREO_SIGN_PASSWORD to sign, or neither" >&2
    exit 1
fi

python3 scripts/check-binaries.py --program "$program" --library "$library" --verifier "$verifier" \
    --summary "$summary"

rm -rf "$out"
mkdir -p "$out"
commit=$(git rev-parse HEAD 2>/dev/null || echo unknown)
epoch=$(git log -1 --format=%ct 2>/dev/null || echo 315532800)

if [ -n "${VIREO_SIGN_PKCS12:-}" ]; then
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    pkcs12() { openssl pkcs12 -in "$VIREO_SIGN_PKCS12" -passin fd:3 -nokeys "$@" 3< \
                   <(printf '%s' "$VIREO_SIGN_PASSWORD"); }
    pkcs12 -clcerts | openssl x509 > "$work/signer.pem"
    # The signature is verified against the system's roots and the
    # certificates in the PKCS#12 file (a test certificate is its own root).
    pkcs12 > "$work/chain.pem"
    cat /etc/ssl/certs/ca-certificates.crt "$work/chain.pem" > "$work/trusted.pem" 2>/dev/null ||
        cp "$work/chain.pem" "$work/trusted.pem"
    for name in "${binaries[@]}"; do
        # The password goes through a pipe, not the command line.
        osslsigncode sign -pkcs12 "$VIREO_SIGN_PKCS12" \
            -readpass <(printf '%s' "$VIREO_SIGN_PASSWORD") \
            -h sha256 -n "Vireo factory preferences" -time "$epoch" \
            -in "$build/bin/$name" -out "$out/$name" >/dev/null
        if ! osslsigncode verify -in "$out/$name" -CAfile "$work/trusted.pem" \
                >"$work/verify.txt" 2>&1; then
            cat "$work/verify.txt" >&2
            echo "dist: the signature of $name does not verify" >&2
            exit 1
        fi
    done
    signer=$(openssl x509 -in "$work/signer.pem" -noout -subject -nameopt RFC2253 |
             sed 's/^subject=//')
    signing="Signed with Authenticode (SHA-256) by: $signer
(osslsigncode, no time stamp: the signature is valid while the certificate is)."
    # The signed binaries obey every rule as well.
    python3 scripts/check-binaries.py --program "$out/defaults-runner.exe" \
        --library "$out/VireoDll.dll" --verifier "$out/vireo-verify.exe" \
        --summary "$out/vireo-summary.exe"
else
    cp "$program" "$library" "$verifier" "$summary" "$out/"
    signing="Unsigned: built without a signing certificate (VIREO_SIGN_PKCS12)."
fi
cp "$compliance_script" "$out/"
(cd "$out" && sha256sum "${binaries[@]}" vireo-compliance.vbs > SHA256SUMS)

compiler=$(i686-w64-mingw32-g++-posix --version | head -n1)
size() { stat -c %s "$out/$1"; }
cat > "$out/RELEASE.txt" <<TEXT
Vireo factory preferences 1.0.0.2

defaults-runner.exe  $(size defaults-runner.exe) bytes  the program: runs Setup1.exe, the
                     preference pass and the Balanced power-scheme commands
VireoDll.dll         $(size VireoDll.dll) bytes  the library: the preference pass
                     (export crvVireoReq, also an installer custom action)
vireo-verify.exe     $(size vireo-verify.exe) bytes  the verifier: a read-only console program
                     that checks a unit after a run (exit code 0, 1, or 2)
vireo-summary.exe    $(size vireo-summary.exe) bytes  the summary: a console program for a
                     workstation that sums up many units' verifier reports
                     (console, /csv, /html; exit code 0, 1, or 2)
vireo-compliance.vbs the discovery script of a compliance setting: runs the
                     verifier and prints its exit code (see the guide)
deployment.md        the deployment guide (in the zip)

The four binaries are 32-bit Windows (PE32, i386) for Windows 7 and later, 32- or 64-bit.
SHA-256 sums: SHA256SUMS.
$signing

Built from commit $commit with $compiler,
fully static (no runtime DLLs), stripped, with no time stamps.

Checked before packing (scripts/check-binaries.py): imports only from stock
Windows 7 DLLs and only functions on scripts/allowed-imports.txt (msi.dll by
ordinal 144 only; the verifier's own list, and nothing of it that writes
the registry or the power scheme, or starts a process or a service); the
library exports ordinals 1 to 4; version resource
1.0.0.2; manifests without an execution level; ASLR with relocations, DEP,
no SEH; no writable-and-executable or shared writable section; stack
protection linked in; at most 64 KiB each but the summary (a workstation program: any
function of a stock DLL, no size budget). CI runs the commit's tests under
Wine in a 32-bit and in a WoW64 prefix and checks every virtual-computer
profile, the fault profiles among them (make test, make demo-all); on a
kernel that runs no 32-bit programs it runs them all emulated (see
docs/bench.md).
TEXT

# The zip: fixed names, order, dates (the commit's) and permissions.
python3 - "$out" "$zip_name" "$epoch" <<'PYTHON'
import sys, time, zipfile
from pathlib import Path
out, name, epoch = Path(sys.argv[1]), sys.argv[2], int(sys.argv[3])
files = {n: out / n for n in ("defaults-runner.exe", "VireoDll.dll", "vireo-verify.exe",
                              "vireo-summary.exe", "vireo-compliance.vbs", "SHA256SUMS", "RELEASE.txt")}
files["deployment.md"] = Path("docs/deployment.md")
stamp = max(time.gmtime(epoch)[:6], (1980, 1, 1, 0, 0, 0))
with zipfile.ZipFile(out / name, "w") as archive:
    for member in sorted(files):
        info = zipfile.ZipInfo(member, date_time=stamp)
        info.compress_type = zipfile.ZIP_DEFLATED
        info.external_attr = 0o644 << 16
        info.create_system = 3
        archive.writestr(info, files[member].read_bytes(), compresslevel=9)
PYTHON
echo "dist: $(ls "$out" | tr '\n' ' ')"
echo "dist: ${signing%%$'\n'*}"

#!/usr/bin/env bash
# The signed release path with a throwaway certificate (self-signed, PKCS#12
# with a password, made here with openssl): make dist signs the four binaries,
# osslsigncode verifies them, removing the signatures gives back the unsigned
# build's bytes, the signed binaries pass every rule of make check, and two
# fresh signed builds give the same bytes. CI runs it; it runs by hand too.
set -euo pipefail
cd "$(dirname "$0")/.."

make -s release >/dev/null
work=build/signing
rm -rf "$work"
mkdir -p "$work"
password=$(openssl rand -hex 16)
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Vireo CI throwaway certificate" \
    -addext "extendedKeyUsage=codeSigning" -keyout "$work/key.pem" -out "$work/cert.pem" \
    2>/dev/null
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$work/test.p12" \
    -passout fd:3 3< <(printf '%s' "$password")
export VIREO_SIGN_PKCS12=$work/test.p12 VIREO_SIGN_PASSWORD=$password

VIREO_SIGN_PKCS12='' VIREO_SIGN_PASSWORD='' scripts/dist.sh build/release "$work/unsigned" >/dev/null
scripts/dist.sh build/release "$work/signed" >/dev/null
grep -q "^Unsigned" "$work/unsigned/RELEASE.txt"
grep -q "^Signed with Authenticode (SHA-256) by: CN=Vireo CI throwaway certificate" \
    "$work/signed/RELEASE.txt"

for name in defaults-runner.exe VireoDll.dll vireo-verify.exe vireo-summary.exe; do
    osslsigncode verify -in "$work/signed/$name" -CAfile "$work/cert.pem" > "$work/verify.txt"
    grep -q "Signature verification: ok" "$work/verify.txt"
    osslsigncode remove-signature -in "$work/signed/$name" -out "$work/stripped-$name" >/dev/null
    unsigned=$(sha256sum < "$work/unsigned/$name")
    if [ "$(sha256sum < "$work/stripped-$name")" != "$unsigned" ]; then
        echo "check-signing: $name without its signature differs from the unsigned build" >&2
        exit 1
    fi
    if [ "$(sha256sum < "$work/signed/$name")" = "$unsigned" ]; then
        echo "check-signing: $name was not signed" >&2
        exit 1
    fi
    echo "signing: $name signed, verified; without the signature it is the unsigned build"
done
python3 scripts/check-binaries.py --program "$work/signed/defaults-runner.exe" \
    --library "$work/signed/VireoDll.dll" --verifier "$work/signed/vireo-verify.exe" \
    --summary "$work/signed/vireo-summary.exe"
scripts/check-reproducible.sh

#!/usr/bin/env bash
# Builds the release binaries twice, in two fresh build trees, and checks that
# the two dist folders hold the same bytes (signed ones when VIREO_SIGN_PKCS12
# and VIREO_SIGN_PASSWORD are set, see scripts/dist.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

for n in 1 2; do
    rm -rf "build/repro-$n"
    cmake --preset release -B "build/repro-$n" >/dev/null
    cmake --build "build/repro-$n" -j"$(nproc)" --target defaults-runner VireoDll vireo-verify vireo-summary >/dev/null
    scripts/dist.sh "build/repro-$n" "build/repro-$n/dist" >/dev/null
    # A time stamp of whole seconds left anywhere would now differ.
    [ "$n" = 1 ] && sleep 2
done
if diff -r build/repro-1/dist build/repro-2/dist; then
    echo "reproducible: two builds gave the same bytes ($(sed -n 's/^\(Signed\|Unsigned\).*/\1/p' build/repro-1/dist/RELEASE.txt | tr 'SU' 'su'))"
    cat build/repro-1/dist/SHA256SUMS
else
    echo "NOT reproducible: the two builds differ" >&2
    exit 1
fi

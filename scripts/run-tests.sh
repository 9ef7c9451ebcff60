#!/usr/bin/env bash
# Builds everything and runs the test suite under Wine, once in a 32-bit
# prefix and once in a WoW64 prefix (64-bit Windows running the 32-bit
# binaries), each a throw-away prefix under build/. Tests labelled "host" (the
# end-to-end run, which makes its own prefix, and the bench's own logic) run
# once. Extra arguments go to ctest (e.g. -L e2e, -R PreferencePass);
# VIREO_WINE_FLAVOURS picks the flavours (default "win32 win64").
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/wine-env.sh

scripts/ensure-deps.sh
jobs=$(nproc)
cmake --preset release >/dev/null
cmake --build --preset release -j"$jobs"
cmake --preset debug >/dev/null
cmake --build --preset debug -j"$jobs"

if vireo_i386_emulated; then
    echo "=== 32-bit programs run through qemu-user here: $(QEMU_VERSION=1 /usr/lib/wine/wine 2>/dev/null | head -n 1)"
fi

status=0
for flavour in ${VIREO_WINE_FLAVOURS:-win32 win64}; do
    vireo_wine_env "$PWD/build/wine-test-$flavour" "$flavour"
    echo "=== Tests in a $flavour prefix ($WINEPREFIX)"
    vireo_wine_boot
    trap vireo_wine_stop EXIT
    export VIREO_WINE_FLAVOUR=$flavour
    exclude=()
    [ "$flavour" = win32 ] && exclude=(-LE host)
    ctest --preset debug ${exclude[@]+"${exclude[@]}"} "$@" || status=1
    vireo_wine_stop
    trap - EXIT
done
exit $status

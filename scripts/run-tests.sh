#!/usr/bin/env bash
# Builds everything and runs the test suite under Wine in a throw-away prefix
# under build/. Extra arguments go to ctest (e.g. -L e2e, -R PreferencePass).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/wine-env.sh

scripts/ensure-deps.sh
jobs=$(nproc)
cmake --preset release >/dev/null
cmake --build --preset release -j"$jobs"
cmake --preset debug >/dev/null
cmake --build --preset debug -j"$jobs"

vireo_wine_env "$PWD/build/wine-test" win64
echo "Creating the test prefix $WINEPREFIX"
vireo_wine_boot
trap vireo_wine_stop EXIT

status=0
ctest --preset debug "$@" || status=$?
exit $status

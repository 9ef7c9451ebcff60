#!/usr/bin/env bash
# Soak: runs the out-of-process and timing-sensitive tests N times over in one
# booted prefix, then the whole suite (scripts/run-tests.sh, fresh prefixes
# each time) M times, and prints how many runs passed and which tests failed.
#   scripts/soak.sh [N [M]]      default N=20, M=1
# VIREO_WINE_FLAVOURS picks the flavours of the repeats (default win32);
# VIREO_SOAK_TESTS replaces the ctest -R pattern of the repeated tests.
set -uo pipefail
cd "$(dirname "$0")/.."
. scripts/wine-env.sh

repeats=${1:-20}
suites=${2:-1}
pattern=${VIREO_SOAK_TESTS:-'^(BiosServerProcess|BiosClient|WirelessAttempt|SetupSequence|PowerPlan|PreferencePass|Verifier)\.'}
log=build/soak
mkdir -p "$log"
rm -f "$log"/*.log

scripts/ensure-deps.sh || exit 1
cmake --preset debug >/dev/null && cmake --build --preset debug -j"$(nproc)" >/dev/null || exit 1

declare -A failures=()
# The names ctest lists under "The following tests FAILED", counted.
count_failures() {
    local name
    while read -r name; do
        [ -n "$name" ] && failures[$name]=$(( ${failures[$name]:-0} + 1 ))
    done < <(sed -n '/The following tests FAILED/,$ s/^[[:space:]]*[0-9]* - \(.*\)$/\1/p' "$1")
}

passed=0 failed=0 suite_passed=0 suite_failed=0
# Runs a command with its output in a log, counting the failed tests it names.
run_counted() {
    local what=$1 out=$2
    shift 2
    "$@" >"$out" 2>&1 && return 0
    count_failures "$out"
    echo "$what failed: $out"
    return 1
}

for flavour in ${VIREO_WINE_FLAVOURS:-win32}; do
    vireo_wine_env "$PWD/build/wine-test-$flavour" "$flavour"
    export VIREO_WINE_FLAVOUR=$flavour
    # Booted here, not by the first test: services started by a test would
    # hold ctest's output pipe open.
    vireo_wine_boot || exit 1
    trap vireo_wine_stop EXIT
    for ((run = 1; run <= repeats; run++)); do
        if run_counted "repeat $run ($flavour)" "$log/repeat-$flavour-$run.log" \
            ctest --preset debug -R "$pattern"; then
            passed=$((passed + 1))
        else
            failed=$((failed + 1))
        fi
    done
    vireo_wine_stop
    trap - EXIT
    echo "repeats in $flavour: $repeats runs of $(ctest --preset debug -N -R "$pattern" | sed -n 's/^Total Tests: //p') tests"
done

for ((run = 1; run <= suites; run++)); do
    if run_counted "whole suite $run" "$log/suite-$run.log" scripts/run-tests.sh; then
        suite_passed=$((suite_passed + 1))
    else
        suite_failed=$((suite_failed + 1))
    fi
done

echo "whole suite: $suite_passed of $suites runs passed"
for name in "${!failures[@]}"; do echo "failed ${failures[$name]} time(s): $name"; done
echo "soak: $((passed + suite_passed)) passed, $((failed + suite_failed)) failed"
[ $((failed + suite_failed)) -eq 0 ]

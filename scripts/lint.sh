#!/usr/bin/env bash
# Static checks, in three steps, each reported on its own:
#   1. the clang build (preset clang: clang and lld, warnings as errors);
#   2. clang-tidy (.clang-tidy) over the product sources (common/, runner/,
#      vireodll/, verifier/, summary/) in build/clang/compile_commands.json,
#      findings as errors;
#   3. clang-format (.clang-format) over every C and C++ file git tracks.
# Exits non-zero when any step finds a problem. CLANG_TIDY and CLANG_FORMAT
# name other binaries of the tools.
set -euo pipefail
cd "$(dirname "$0")/.."

clang_tidy=${CLANG_TIDY:-clang-tidy}
clang_format=${CLANG_FORMAT:-clang-format}
jobs=$(nproc)
build=build/clang
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for tool in clang clang++ ld.lld "$clang_tidy" "$clang_format" git python3; do
    if ! command -v "$tool" >/dev/null; then
        echo "lint: $tool is missing (scripts/ensure-deps.sh lists the packages)" >&2
        exit 1
    fi
done

failed=()
elapsed() { echo "$((SECONDS - $1)) s"; }

# 1. Build. The compile database and the generated interface header that
# clang-tidy reads come from this build, so a failure here ends the run.
echo "=== clang build ($build)"
start=$SECONDS
if ! cmake --preset clang >"$work/configure.log" 2>&1; then
    cat "$work/configure.log"
    echo "FAIL: configuring the clang build ($(elapsed $start))"
    exit 1
fi
if ! cmake --build --preset clang -j"$jobs" >"$work/build.log" 2>&1; then
    grep -vE '^\[ *[0-9]+%\] (Building|Built|Linking)' "$work/build.log" || true
    echo "FAIL: the clang build ($(elapsed $start))"
    exit 1
fi
# Compiler warnings are errors already; this also catches linker and resource
# compiler warnings.
if grep -E '(^|: )warning: ' "$work/build.log"; then
    echo "FAIL: the clang build gave warnings ($(elapsed $start))"
    exit 1
fi
echo "ok: built without warnings ($(elapsed $start))"

# 2. clang-tidy, one process per source file, $jobs at a time.
echo "=== clang-tidy"
start=$SECONDS
python3 - "$PWD" "$build/compile_commands.json" >"$work/sources" <<'EOF'
import json, os, sys
root, database = sys.argv[1], sys.argv[2]
product = tuple(os.path.join(root, folder) + os.sep
                for folder in ("common", "runner", "vireodll", "verifier", "summary"))
files = {os.path.normpath(os.path.join(entry["directory"], entry["file"]))
         for entry in json.load(open(database))}
print("\n".join(sorted(f for f in files if f.startswith(product))))
EOF
if [ ! -s "$work/sources" ]; then
    echo "FAIL: no product sources in $build/compile_commands.json"
    exit 1
fi
mkdir "$work/tidy"
export clang_tidy build work
# Each file's output goes to its own log, so parallel runs do not interleave.
xargs -P "$jobs" -I{} sh -c \
    'log="$work/tidy/$(echo "$1" | tr / _).log"
     "$clang_tidy" -p "$build" --quiet "$1" >"$log" 2>&1 || echo "$1" >>"$work/tidy-failed"' \
    _ {} <"$work/sources"
count=$(wc -l <"$work/sources")
if [ -s "$work/tidy-failed" ]; then
    # A finding in a header shows up once per source that includes it: print
    # each finding (with its notes) once.
    sort "$work/tidy-failed" | while read -r source; do
        cat "$work/tidy/$(echo "$source" | tr / _).log"
    done | python3 -c '
import re, sys
findings, current = [], None
for line in sys.stdin:
    if re.match(r"^\d+ (warning|error)s? generated\.$", line):
        continue
    if re.match(r"^\S+:\d+:\d+: (warning|error): ", line) or current is None:
        current = []
        findings.append(current)
    current.append(line)
seen = set()
for finding in findings:
    text = "".join(finding)
    if text not in seen:
        seen.add(text)
        sys.stdout.write(text)
'
    echo "FAIL: clang-tidy found problems in $(wc -l <"$work/tidy-failed") of $count files ($(elapsed $start))"
    failed+=(clang-tidy)
else
    echo "ok: $count product sources clean ($(elapsed $start))"
fi

# 3. Formatting of the files the project owns.
echo "=== clang-format"
start=$SECONDS
git ls-files -z -- '*.c' '*.cc' '*.cpp' '*.cxx' '*.h' '*.hh' '*.hpp' >"$work/formatted"
count=$(tr -cd '\0' <"$work/formatted" | wc -c)
unformatted=()
while IFS= read -r -d '' file; do
    if ! "$clang_format" --dry-run --Werror "$file" 2>"$work/format.log"; then
        head -n 20 "$work/format.log"
        unformatted+=("$file")
    fi
done <"$work/formatted"
if [ ${#unformatted[@]} -gt 0 ]; then
    echo "FAIL: ${#unformatted[@]} of $count files need formatting ($(elapsed $start)); fix with"
    echo "  $clang_format -i ${unformatted[*]}"
    failed+=(clang-format)
else
    echo "ok: $count files formatted ($(elapsed $start))"
fi

if [ ${#failed[@]} -gt 0 ]; then
    echo "lint FAILED: ${failed[*]}"
    exit 1
fi
echo "lint passed"

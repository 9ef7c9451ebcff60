#!/usr/bin/env bash
# The unsafe string functions do not compile in product code: each call below
# must be rejected once common/safe_strings.h is included, while the bounded
# counterpart compiles.
#   unsafe_strings_test.sh COMPILER SOURCE_ROOT
set -uo pipefail
compiler=$1
root=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

compiles() {
    printf '#include <windows.h>\n#include <cstring>\n#include "common/safe_strings.h"\n'`
          `'void f(char* d, const char* s) { %s; }\n' "$1" > "$work/probe.cpp"
    "$compiler" -std=c++17 -Wall -Wextra -Werror -I"$root" -fsyntax-only "$work/probe.cpp" \
        >/dev/null 2>&1
}

status=0
if ! compiles 'StringCchCopyA(d, 8, s)'; then
    echo "FAIL: the bounded copy does not compile"; status=1
fi
for call in 'strcpy(d, s)' 'strcat(d, s)' 'sprintf(d, "%s", s)' 'lstrcpyA(d, s)' \
            'wsprintfA(d, "%s", s)' 'strncpy(d, s, 8)' 'strncat(d, s, 8)' \
            'lstrcpynA(d, s, 8)' 'lstrcpyn(d, s, 8)' 'strtok(d, s)'; do
    if compiles "$call"; then
        echo "FAIL: $call compiles"; status=1
    fi
done
[ $status = 0 ] && echo "every unsafe call is rejected"
exit $status

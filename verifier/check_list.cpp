#include "verifier/check_list.h"

#include "common/safe_strings.h"

namespace vireo {

void AddCheck(CheckList& list, Verdict verdict, const char* name, const char* seen,
              const char* expected) {
    if (list.count >= static_cast<int>(ARRAYSIZE(list.checks))) return;
    Check& check = list.checks[list.count++];
    check.verdict = verdict;
    // A cut text is still terminated; the line says less but stays bounded.
    StringCchCopyA(check.name, ARRAYSIZE(check.name), name);
    StringCchCopyA(check.seen, ARRAYSIZE(check.seen), seen);
    StringCchCopyA(check.expected, ARRAYSIZE(check.expected), expected);
}

bool AnyFailed(const CheckList& list) {
    for (int i = 0; i < list.count; ++i)
        if (list.checks[i].verdict == Verdict::kFail) return true;
    return false;
}

}  // namespace vireo

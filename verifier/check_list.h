// The verifier's findings: one line per check, "<VERDICT> <check>: <seen>",
// with "(expected <what>)" after a failure.
#pragma once

#include <windows.h>

#include "common/verdict.h"

namespace vireo {

struct Check {
    Verdict verdict;
    char name[64];
    char seen[320];
    char expected[160];
};

struct CheckList {
    Check checks[32];
    int count;
    // Whether any check found something to read (a key, the log, a power
    // value): without, the unit could not be verified at all.
    bool anythingRead;
    // Whether something could not be read for rights or sharing: never a
    // failure, but without a failure the unit cannot be verified.
    bool somethingUnreadable;
};

// Appends a check; texts that do not fit are cut. A full list drops it.
void AddCheck(CheckList& list, Verdict verdict, const char* name, const char* seen,
              const char* expected);

bool AnyFailed(const CheckList& list);

}  // namespace vireo

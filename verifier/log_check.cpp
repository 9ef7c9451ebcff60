#include "verifier/log_check.h"

#include <cerrno>
#include <cstring>

#include "common/pass_record.h"

#include "common/safe_strings.h"

namespace vireo {

void CheckActivityLog(const LastPass& pass, CheckList& list) {
    constexpr char kCheckName[] = "activity log";
    constexpr char kExpected[] = "a last pass that reached its end marker";
    char seen[320];
    if (!pass.logRead) {
        // A log that is not there is a finding; one held by another program,
        // or closed to this account, says nothing of the run.
        const bool held = pass.systemError == ERROR_SHARING_VIOLATION ||
                          pass.systemError == ERROR_LOCK_VIOLATION;
        const bool denied = pass.readError == EACCES;
        if (pass.readError == ENOENT) list.anythingRead = true;
        list.somethingUnreadable = list.somethingUnreadable || denied;
        StringCchPrintfA(seen, ARRAYSIZE(seen), "%s cannot be read (%s)", kLogPath,
                         held     ? "held by another program"
                         : denied ? "access denied"
                                  : strerror(pass.readError));
        AddCheck(list, denied ? Verdict::kSkip : Verdict::kFail, kCheckName, seen, kExpected);
        return;
    }
    list.anythingRead = true;
    if (pass.begin == nullptr) {
        StringCchPrintfA(seen, ARRAYSIZE(seen), "%s holds no begin marker (%u bytes read)",
                         kLogPath, static_cast<unsigned>(pass.length));
        AddCheck(list, Verdict::kFail, kCheckName, seen, kExpected);
        return;
    }
    StringCchPrintfA(seen, ARRAYSIZE(seen),
                     "the last pass %s; wireless: %d attempt%s, the last: %s",
                     pass.ended ? "reached its end marker" : "has no end marker",
                     pass.wirelessAttempts, pass.wirelessAttempts == 1 ? "" : "s",
                     pass.wirelessEnding);
    AddCheck(list, pass.ended ? Verdict::kPass : Verdict::kFail, kCheckName, seen, kExpected);
}

}  // namespace vireo

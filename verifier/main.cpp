// vireo-verify: reads what a run of the factory preferences left on this unit
// and says, one line per check, whether every effect is there. It only reads:
// the registry, the activity log and the power scheme.
//
//     vireo-verify [/user SID] [/json FILE]
//
// Exit code 0 when no check failed, 1 when one did, 2 when the unit could
// not be verified (bad arguments, a hive that is not loaded, nothing
// readable, a JSON file that cannot be written).
#include <windows.h>

#include <cstdio>

#include "common/pass_record.h"
#include "verifier/check_list.h"
#include "verifier/hive.h"
#include "verifier/json_report.h"
#include "verifier/log_check.h"
#include "verifier/power_checks.h"
#include "verifier/settings_checks.h"

#include "common/safe_strings.h"

namespace vireo {
namespace {

constexpr int kAllPassed = 0;
constexpr int kSomethingFailed = 1;
constexpr int kCannotVerify = 2;

struct Options {
    const char* sid = nullptr;
    const char* jsonPath = nullptr;
};

bool IsSwitch(const char* argument, const char* name) {
    return (argument[0] == '/' || argument[0] == '-') && lstrcmpiA(argument + 1, name) == 0;
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (IsSwitch(argv[i], "user") && hasValue && options.sid == nullptr)
            options.sid = argv[++i];
        else if (IsSwitch(argv[i], "json") && hasValue && options.jsonPath == nullptr)
            options.jsonPath = argv[++i];
        else
            return false;
    }
    return true;
}

void PrintUsage() {
    printf(
        "usage: vireo-verify [/user SID] [/json FILE]\n"
        "  Checks the effects of a factory-preferences run on this unit, read-only.\n"
        "  /user SID   read the settings key in that loaded hive (HKU\\SID)\n"
        "  /json FILE  also write the checks to FILE as JSON (UTF-8)\n"
        "  Exit code: 0 every effect is there, 1 a check failed, 2 cannot verify.\n");
}

void PrintChecks(const CheckList& list) {
    for (int i = 0; i < list.count; ++i) {
        const Check& check = list.checks[i];
        printf("%s %s: %s", VerdictWord(check.verdict), check.name, check.seen);
        if (check.verdict == Verdict::kFail) printf(" (expected %s)", check.expected);
        printf("\n");
    }
}

// Every check, in the order the lines are printed.
void RunChecks(HKEY settings, CheckList& list) {
    CheckActivityLog(list);
    CheckSettingsKey(settings, list);
    CheckWakeOnLan(settings, list);
    CheckPowerScheme(list);
}

int ExitCodeOf(const CheckList& list) {
    if (!list.anythingRead) {
        printf(
            "cannot verify: neither the log, the settings key nor the power scheme can be read\n");
        return kCannotVerify;
    }
    return AnyFailed(list) ? kSomethingFailed : kAllPassed;
}

bool WriteJson(const char* path, const SettingsHive& hive, int exitCode, const CheckList& list) {
    char machineId[MAX_PATH];
    const bool hasMachineId = ReadStringValue(hive.settings.get(), kMachineIdValue, machineId);
    const UnitIdentity unit = {hasMachineId ? machineId : nullptr, hive.description, exitCode};
    return WriteJsonReport(path, unit, list);
}

int Verify(const Options& options) {
    SettingsHive hive;
    if (!OpenSettingsHive(options.sid, hive)) {
        printf("cannot verify: no loaded hive HKU\\%s\n", options.sid);
        return kCannotVerify;
    }
    printf("settings key: %s\n", hive.description);
    CheckList list;
    ZeroMemory(&list, sizeof(list));
    RunChecks(hive.settings.get(), list);
    PrintChecks(list);

    const int exitCode = ExitCodeOf(list);
    if (options.jsonPath != nullptr && !WriteJson(options.jsonPath, hive, exitCode, list)) {
        printf("cannot write %s\n", options.jsonPath);
        return kCannotVerify;
    }
    printf("verdict: %s (exit code %d)\n",
           exitCode == kAllPassed         ? "every effect is there"
           : exitCode == kSomethingFailed ? "an effect is missing"
                                          : "cannot verify",
           exitCode);
    return exitCode;
}

}  // namespace
}  // namespace vireo

int main(int argc, char** argv) {
    vireo::Options options;
    if (!vireo::ParseOptions(argc, argv, options)) {
        vireo::PrintUsage();
        return vireo::kCannotVerify;
    }
    const int exitCode = vireo::Verify(options);
    // Nothing is left to report a failed flush to.
    (void)fflush(stdout);
    return exitCode;
}

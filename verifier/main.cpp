// vireo-verify: reads what a run of the factory preferences left on this unit
// and says, one line per check, whether every effect it can check is there.
// It only reads: the registry, the activity log and the power scheme.
//
//     vireo-verify [/user SID] [/json FILE|FOLDER\] [/pass-only]
//
// Exit code 0 when no check failed, 1 when one did, 2 when the unit could
// not be verified (bad arguments, a hive that is not loaded, nothing
// readable, a JSON file that cannot be written).
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "common/pass_record.h"
#include "verifier/check_list.h"
#include "verifier/hive.h"
#include "verifier/json_report.h"
#include "verifier/last_pass.h"
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
    bool passOnly = false;
};

// What no check here can see, named in every verdict.
constexpr char kNotChecked[] =
    "the installer's own work; the default schemes (-ReplaceDefaultSchemes); whether the values "
    "are in force before the scheme's next activation";

// A SID as HKU names its hives: "S-1-" then digits and dashes only.
bool IsSidText(const char* text) {
    if (strncmp(text, "S-1-", 4) != 0 || text[4] == '\0') return false;
    for (const char* c = text + 4; *c != '\0'; ++c)
        if ((*c < '0' || *c > '9') && *c != '-') return false;
    return true;
}

// Writes one formatted text to standard output through the C runtime's own
// formatter: printf, once a C++ header is included, is MinGW's, which brings
// more than 20 KB of its own. Texts longer than a check line are cut.
template <typename... Arguments>
void Print(const char* format, Arguments... arguments) {
    char text[1024];
    StringCchPrintfA(text, ARRAYSIZE(text), format, arguments...);
    (void)fputs(text, stdout);
}

bool IsSwitch(const char* argument, const char* name) {
    return (argument[0] == '/' || argument[0] == '-') && lstrcmpiA(argument + 1, name) == 0;
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (IsSwitch(argv[i], "user") && hasValue && options.sid == nullptr &&
            IsSidText(argv[i + 1]))
            options.sid = argv[++i];
        else if (IsSwitch(argv[i], "pass-only") && !options.passOnly)
            options.passOnly = true;
        else if (IsSwitch(argv[i], "json") && hasValue && options.jsonPath == nullptr)
            options.jsonPath = argv[++i];
        else
            return false;
    }
    return true;
}

void PrintUsage() {
    Print(
        "usage: vireo-verify [/user SID] [/json FILE|FOLDER\\] [/pass-only]\n"
        "  Checks the effects of a factory-preferences run on this unit, read-only.\n"
        "  /user SID     read the settings key in that loaded hive (HKU\\SID)\n"
        "  /json FILE    also write the checks to FILE as JSON (UTF-8); a FOLDER\\\n"
        "                gets <MachineID>_<COMPUTERNAME>.json\n"
        "  /pass-only    only the installer package's custom action ran: no scheme checks\n"
        "  Exit code: 0 every checked effect is there, 1 a check failed, 2 cannot verify.\n");
}

void PrintChecks(const CheckList& list) {
    for (int i = 0; i < list.count; ++i) {
        const Check& check = list.checks[i];
        Print("%s %s: %s", VerdictWord(check.verdict), check.name, check.seen);
        if (check.verdict == Verdict::kFail) Print(" (expected %s)", check.expected);
        Print("\n");
    }
}

// Every check, in the order the lines are printed.
// False when the power functions cannot be had from the system folder.
bool RunChecks(HKEY settings, const LastPass& pass, bool passOnly, CheckList& list) {
    CheckActivityLog(pass, list);
    CheckSettingsKey(settings, pass, list);
    CheckWakeOnLan(settings, list);
    return CheckPowerScheme(passOnly ? "not part of the installer-package route" : nullptr, list);
}

int ExitCodeOf(const CheckList& list) {
    if (!list.anythingRead) {
        Print(
            "cannot verify: neither the log, the settings key nor the power scheme can be read\n");
        return kCannotVerify;
    }
    if (AnyFailed(list)) return kSomethingFailed;
    if (list.somethingUnreadable) {
        Print("cannot verify: a check could not read what it checks (SKIP ... cannot be read)\n");
        return kCannotVerify;
    }
    return kAllPassed;
}

bool WriteJson(const char* requested, const UnitIdentity& unit, const CheckList& list) {
    char path[MAX_PATH];
    if (!ChooseReportPath(requested, unit.machineId, path)) {
        Print("cannot write %s: not a file name\n", requested);
        return false;
    }
    if (IsActivityLog(path)) {
        Print("cannot write %s: it is the activity log\n", path);
        return false;
    }
    if (!WriteJsonReport(path, unit, list)) {
        Print("cannot write %s\n", path);
        return false;
    }
    return true;
}

int Verify(const Options& options) {
    LastPass pass;
    ReadLastPass(pass);
    RecordedText passMachineId;
    const bool passLoggedId = LastPassSuffix(pass, kMachineIdLine, passMachineId);
    SettingsHive hive;
    const HiveFound found =
        OpenSettingsHive(options.sid, passLoggedId ? passMachineId : nullptr, hive);
    if (found == HiveFound::kNotLoaded) {
        Print("cannot verify: no loaded hive HKU\\%s\n", options.sid);
        return kCannotVerify;
    }
    if (found == HiveFound::kDenied) {
        Print("cannot verify: %s cannot be read (access denied); searched %s\n", hive.denied,
              hive.searched);
        return kCannotVerify;
    }
    // A pass ran, so its settings key is in some hive: one not loaded now.
    if (found == HiveFound::kNoSettingsKey && options.sid == nullptr && pass.begin != nullptr) {
        Print("cannot verify: the account that ran the pass is not loaded; searched %s\n",
              hive.searched);
        return kCannotVerify;
    }
    Print("settings key: %s\n", hive.description);
    Print("hives searched: %s\n", hive.searched);
    if (pass.begin != nullptr)
        Print("last pass: begun at %s (the log's time of day)\n", pass.stamp);
    CheckList list;
    ZeroMemory(&list, sizeof(list));
    const bool schemeReadable = RunChecks(hive.settings.get(), pass, options.passOnly, list);
    PrintChecks(list);
    if (!schemeReadable) {
        Print(
            "cannot verify: the system folder's powrprof.dll cannot be loaded, or lacks a "
            "power function\n");
        return kCannotVerify;
    }

    const int exitCode = ExitCodeOf(list);
    RecordedText machineId;
    DWORD type = REG_NONE;
    const bool hasMachineId =
        ReadStringValue(hive.settings.get(), kMachineIdValue, machineId, type) == ValueRead::kText;
    const UnitIdentity unit = {hasMachineId ? machineId : nullptr, hive.description,
                               pass.begin != nullptr ? pass.stamp : nullptr, kNotChecked, exitCode};
    if (options.jsonPath != nullptr && !WriteJson(options.jsonPath, unit, list))
        return kCannotVerify;
    Print("not checked: %s\n", kNotChecked);
    Print("verdict: %s (exit code %d)\n",
          exitCode == kAllPassed         ? "every checked effect is there"
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

// Stand-in for the system's powercfg.exe: a small model of the power
// configuration tool. Power schemes live in the registry where Windows keeps
// them (HKLM\...\Power\User\PowerSchemes); the tool understands the commands
// the product sends, plus -RestoreDefaultSchemes, with which the bench lays out
// a stock computer. Each invocation is journalled: "start <parameters>", a
// random pause of 50 to 300 ms, the change, then "exit <code> <parameters>".
// A command whose parameters begin with HKCU\Software\CorvaneBench\powercfg
// "HangsOn" never ends: it journals "hangs <parameters>" and changes nothing;
// one that begins with "RefusesOn" is refused, as an account without the
// rights meets it: it journals "refuses <parameters>", changes nothing and
// ends with exit code 1.
#include <windows.h>
#include <strsafe.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "common/handles.h"
#include "journal.h"
#include "power_store.h"

namespace {

using bench::kActiveSchemeValue;
using bench::kSchemesPath;
using vireo::UniqueHkey;

constexpr char kDefaultSchemesPath[] =
    "SYSTEM\\CurrentControlSet\\Control\\Power\\User\\Default\\PowerSchemes";

// ---------------------------------------------------------------------------
// The stock computer's schemes.

constexpr char kBalanced[] = "381b4222-f694-41f0-9685-ff5bb260df2e";
constexpr char kHighPerformance[] = "8c5e7fda-e8bf-4a96-9a85-a6e23a8c635c";
constexpr char kPowerSaver[] = "a1841308-3541-4fab-bc81-f71556f20b4a";

constexpr char kDiskSubgroup[] = "0012ee47-9041-4b5d-9b77-535fba8b1442";
constexpr char kButtonsSubgroup[] = "4f971e89-eebd-4455-a8de-9e59040e7347";
constexpr char kSleepSubgroup[] = "238c9fa8-0aad-41ed-83f4-97be242c8f20";
constexpr char kDisplaySubgroup[] = "7516b95f-f776-4464-8c53-06167f40cc99";

constexpr char kDiskMode[] = "0b2d69d7-a2a1-449c-9680-f91c70521c60";
constexpr char kDiskTimeout[] = "dab60367-53fe-4fbc-825e-521d069d2456";
constexpr char kLidClose[] = "5ca83367-6e45-459f-a27b-476b1d01c936";        // 0 nothing, 1 sleep
constexpr char kPowerButton[] = "7648efa3-dd9c-4e3e-b566-50f929386280";     // 1 sleep, 3 shut down
constexpr char kHibernateAfter[] = "9d7815a6-7ee4-497e-8888-515a05f02364";  // seconds, 0 never
constexpr char kBrightness[] = "aded5e82-b909-4619-9949-f5d71dac0bcb";      // percent

struct StockSetting {
    const char* scheme;
    const char* subgroup;
    const char* setting;
    DWORD ac;
    DWORD dc;
};

struct StockScheme {
    const char* guid;
    const char* friendlyName;
};

constexpr StockScheme kStockSchemes[] = {
    {kBalanced, "Balanced"},
    {kHighPerformance, "High performance"},
    {kPowerSaver, "Power saver"},
};

// Balanced differs from what the product sets wherever that is plausible, so
// a change shows in the registry.
// clang-format off
constexpr StockSetting kStockSettings[] = {
    // scheme            subgroup          setting          AC     DC
    {kBalanced,        kDiskSubgroup,    kDiskMode,       3,     3},
    {kBalanced,        kDiskSubgroup,    kDiskTimeout,    100,   100},
    {kBalanced,        kButtonsSubgroup, kLidClose,       1,     1},
    {kBalanced,        kButtonsSubgroup, kPowerButton,    1,     1},
    {kBalanced,        kSleepSubgroup,   kHibernateAfter, 0,     10800},
    {kBalanced,        kDisplaySubgroup, kBrightness,     90,    50},

    {kHighPerformance, kDiskSubgroup,    kDiskMode,       0,     0},
    {kHighPerformance, kDiskSubgroup,    kDiskTimeout,    0,     0},
    {kHighPerformance, kButtonsSubgroup, kLidClose,       1,     1},
    {kHighPerformance, kButtonsSubgroup, kPowerButton,    1,     1},
    {kHighPerformance, kSleepSubgroup,   kHibernateAfter, 0,     0},
    {kHighPerformance, kDisplaySubgroup, kBrightness,     100,   75},

    {kPowerSaver,      kDiskSubgroup,    kDiskMode,       4,     4},
    {kPowerSaver,      kDiskSubgroup,    kDiskTimeout,    100,   100},
    {kPowerSaver,      kButtonsSubgroup, kLidClose,       1,     1},
    {kPowerSaver,      kButtonsSubgroup, kPowerButton,    1,     1},
    {kPowerSaver,      kSleepSubgroup,   kHibernateAfter, 0,     3600},
    {kPowerSaver,      kDisplaySubgroup, kBrightness,     60,    40},
};
// clang-format on

// ---------------------------------------------------------------------------
// Outcomes and their messages.

// kRefused: the command is configured to be refused, as for an account
// without the rights.
enum class Outcome { kDone, kInvalidParameters, kDoesNotExist, kRegistryFailed, kRefused };

const char* MessageFor(Outcome outcome) {
    switch (outcome) {
    case Outcome::kDone:
        return nullptr;
    case Outcome::kInvalidParameters:
        return "Invalid Parameters -- try \"/?\" for help";
    case Outcome::kDoesNotExist:
        return "The power scheme, subgroup or setting specified does not exist.";
    case Outcome::kRegistryFailed:
    case Outcome::kRefused:
        break;
    }
    return "An unexpected error condition has occurred. Unable to perform operation.";
}

// ---------------------------------------------------------------------------
// Arguments.

// A GUID as "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx", lower-cased: the spelling
// of every key name, so either case of an argument addresses the same key.
struct GuidText {
    char text[37];
};

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool ParseGuid(const char* argument, GuidText* guid) {
    for (int i = 0; i < 36; ++i) {
        const char c = argument[i];
        const bool dashPlace = i == 8 || i == 13 || i == 18 || i == 23;
        if (dashPlace ? c != '-' : !IsHexDigit(c)) return false;
        guid->text[i] = (c >= 'A' && c <= 'F') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    guid->text[36] = '\0';
    return argument[36] == '\0';
}

// Decimal, or hexadecimal with 0x; nothing else may follow the digits.
bool ParseSettingValue(const char* argument, DWORD* value) {
    if (argument[0] < '0' || argument[0] > '9') return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long parsed = strtoul(argument, &end, 0);
    if (errno == ERANGE || end == argument || *end != '\0') return false;
    *value = static_cast<DWORD>(parsed);
    return true;
}

// ---------------------------------------------------------------------------
// Registry.

// "PowerSchemes\<scheme>[\<subgroup>\<setting>]".
bool SchemeKeyPath(const char* scheme, const char* subgroup, const char* setting,
                   char (&path)[MAX_PATH]) {
    if (subgroup == nullptr)
        return SUCCEEDED(StringCchPrintfA(path, MAX_PATH, "%s\\%s", kSchemesPath, scheme));
    return SUCCEEDED(StringCchPrintfA(path, MAX_PATH, "%s\\%s\\%s\\%s", kSchemesPath, scheme,
                                      subgroup, setting));
}

// Opens an existing key for writing; distinguishes "missing" from "failed".
Outcome OpenExistingKey(const char* path, UniqueHkey* key) {
    const LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_SET_VALUE, key->addressof());
    if (result == ERROR_SUCCESS) return Outcome::kDone;
    return result == ERROR_FILE_NOT_FOUND ? Outcome::kDoesNotExist : Outcome::kRegistryFailed;
}

bool CreateKey(const char* path, UniqueHkey* key) {
    return RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                           KEY_ALL_ACCESS, nullptr, key->addressof(), nullptr) == ERROR_SUCCESS;
}

bool WriteString(HKEY key, const char* name, const char* text) {
    const DWORD bytes = static_cast<DWORD>(lstrlenA(text) + 1);
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes) ==
           ERROR_SUCCESS;
}

bool WriteDword(HKEY key, const char* name, DWORD value) {
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof(value)) == ERROR_SUCCESS;
}

bool DeleteTreeIfPresent(const char* path) {
    // Given a subkey name, RegDeleteTreeA removes that key itself as well.
    const LONG result = RegDeleteTreeA(HKEY_LOCAL_MACHINE, path);
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

// ---------------------------------------------------------------------------
// Commands. Each receives the arguments after the command word, already
// counted; it checks them all before it changes anything.

// The scheme named by a GUID argument, which must exist.
Outcome OpenSchemeKey(const char* argument, GuidText* scheme, UniqueHkey* key) {
    if (!ParseGuid(argument, scheme)) return Outcome::kInvalidParameters;
    char path[MAX_PATH];
    if (!SchemeKeyPath(scheme->text, nullptr, nullptr, path)) return Outcome::kInvalidParameters;
    return OpenExistingKey(path, key);
}

Outcome ChangeName(char** arguments, int count) {
    GuidText scheme;
    UniqueHkey key;
    const Outcome opened = OpenSchemeKey(arguments[0], &scheme, &key);
    if (opened != Outcome::kDone) return opened;
    if (!WriteString(key.get(), bench::kFriendlyNameValue, arguments[1]))
        return Outcome::kRegistryFailed;
    if (count == 3 && !WriteString(key.get(), "Description", arguments[2]))
        return Outcome::kRegistryFailed;
    return Outcome::kDone;
}

// The setting must already be part of the scheme: a mistyped subgroup or
// setting is refused rather than creating a stray key.
Outcome SetValueIndex(char** arguments, const char* valueName) {
    GuidText scheme, subgroup, setting;
    DWORD value = 0;
    if (!ParseGuid(arguments[0], &scheme) || !ParseGuid(arguments[1], &subgroup) ||
        !ParseGuid(arguments[2], &setting) || !ParseSettingValue(arguments[3], &value)) {
        return Outcome::kInvalidParameters;
    }
    char path[MAX_PATH];
    if (!SchemeKeyPath(scheme.text, subgroup.text, setting.text, path))
        return Outcome::kInvalidParameters;
    UniqueHkey key;
    const Outcome opened = OpenExistingKey(path, &key);
    if (opened != Outcome::kDone) return opened;
    return WriteDword(key.get(), valueName, value) ? Outcome::kDone : Outcome::kRegistryFailed;
}

Outcome SetAcValueIndex(char** arguments, int) {
    return SetValueIndex(arguments, bench::kAcIndexValue);
}

Outcome SetDcValueIndex(char** arguments, int) {
    return SetValueIndex(arguments, bench::kDcIndexValue);
}

Outcome SetActive(char** arguments, int) {
    GuidText scheme;
    UniqueHkey schemeKey;
    const Outcome opened = OpenSchemeKey(arguments[0], &scheme, &schemeKey);
    if (opened != Outcome::kDone) return opened;
    UniqueHkey schemes;
    if (OpenExistingKey(kSchemesPath, &schemes) != Outcome::kDone) return Outcome::kRegistryFailed;
    return WriteString(schemes.get(), kActiveSchemeValue, scheme.text) ? Outcome::kDone
                                                                       : Outcome::kRegistryFailed;
}

// Copies PowerSchemes (keys, values and ActivePowerScheme) over the defaults.
Outcome ReplaceDefaultSchemes(char**, int) {
    UniqueHkey source;
    const LONG opened =
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSchemesPath, 0, KEY_READ, source.addressof());
    if (opened == ERROR_FILE_NOT_FOUND) return Outcome::kDoesNotExist;
    if (opened != ERROR_SUCCESS) return Outcome::kRegistryFailed;
    if (!DeleteTreeIfPresent(kDefaultSchemesPath)) return Outcome::kRegistryFailed;
    UniqueHkey destination;
    if (!CreateKey(kDefaultSchemesPath, &destination)) return Outcome::kRegistryFailed;
    return RegCopyTreeA(source.get(), nullptr, destination.get()) == ERROR_SUCCESS
               ? Outcome::kDone
               : Outcome::kRegistryFailed;
}

bool WriteStockSetting(const StockSetting& stock) {
    char path[MAX_PATH];
    UniqueHkey key;
    return SchemeKeyPath(stock.scheme, stock.subgroup, stock.setting, path) &&
           CreateKey(path, &key) && WriteDword(key.get(), bench::kAcIndexValue, stock.ac) &&
           WriteDword(key.get(), bench::kDcIndexValue, stock.dc);
}

bool WriteStockScheme(const StockScheme& stock) {
    char path[MAX_PATH];
    UniqueHkey key;
    return SchemeKeyPath(stock.guid, nullptr, nullptr, path) && CreateKey(path, &key) &&
           WriteString(key.get(), bench::kFriendlyNameValue, stock.friendlyName);
}

// Lays out the stock schemes afresh, Balanced active.
Outcome RestoreDefaultSchemes(char**, int) {
    if (!DeleteTreeIfPresent(kSchemesPath)) return Outcome::kRegistryFailed;
    UniqueHkey schemes;
    if (!CreateKey(kSchemesPath, &schemes)) return Outcome::kRegistryFailed;
    for (const StockScheme& scheme : kStockSchemes)
        if (!WriteStockScheme(scheme)) return Outcome::kRegistryFailed;
    for (const StockSetting& setting : kStockSettings)
        if (!WriteStockSetting(setting)) return Outcome::kRegistryFailed;
    return WriteString(schemes.get(), kActiveSchemeValue, kBalanced) ? Outcome::kDone
                                                                     : Outcome::kRegistryFailed;
}

struct Command {
    const char* word;
    int minArguments;
    int maxArguments;
    Outcome (*run)(char** arguments, int count);
};

constexpr Command kCommands[] = {
    {"changename", 2, 3, ChangeName},
    {"setacvalueindex", 4, 4, SetAcValueIndex},
    {"setdcvalueindex", 4, 4, SetDcValueIndex},
    {"s", 1, 1, SetActive},
    {"setactive", 1, 1, SetActive},
    {"replacedefaultschemes", 0, 0, ReplaceDefaultSchemes},
    {"restoredefaultschemes", 0, 0, RestoreDefaultSchemes},
};

// A command word starts with '-' or '/' and matches regardless of case; a
// word without either ("SETACTIVE") is an unknown parameter, as with the
// strict system tool.
Outcome RunCommand(int argc, char** argv) {
    if (argc < 2) return Outcome::kInvalidParameters;
    const char* word = argv[1];
    if (word[0] != '-' && word[0] != '/') return Outcome::kInvalidParameters;
    const int count = argc - 2;
    for (const Command& command : kCommands) {
        if (lstrcmpiA(word + 1, command.word) != 0) continue;
        if (count < command.minArguments || count > command.maxArguments)
            return Outcome::kInvalidParameters;
        return command.run(argv + 2, count);
    }
    return Outcome::kInvalidParameters;
}

// ---------------------------------------------------------------------------
// Journal and timing.

// The raw command line after the program token (quoted or not) and the
// blanks that follow it.
const char* ParametersAfterProgramName(const char* commandLine) {
    const char* cursor = commandLine;
    if (*cursor == '"') {
        ++cursor;
        while (*cursor != '\0' && *cursor != '"') ++cursor;
        if (*cursor == '"') ++cursor;
    } else {
        while (*cursor != '\0' && *cursor != ' ' && *cursor != '\t') ++cursor;
    }
    while (*cursor == ' ' || *cursor == '\t') ++cursor;
    return cursor;
}

// "<label> <parameters>", or the label alone when there are none.
void JournalEvent(const char* label, const char* parameters) {
    char event[1024];
    if (*parameters == '\0')
        StringCchCopyA(event, ARRAYSIZE(event), label);
    else
        StringCchPrintfA(event, ARRAYSIZE(event), "%s %s", label, parameters);
    bench::AppendJournal(event);
}

// True when the configured prefix (HangsOn, RefusesOn) begins this command.
bool ConfiguredFor(const char* name, const char* parameters) {
    char prefix[MAX_PATH] = "";
    DWORD size = sizeof(prefix);
    if (RegGetValueA(HKEY_CURRENT_USER, "Software\\CorvaneBench\\powercfg", name, RRF_RT_REG_SZ,
                     nullptr, prefix, &size) != ERROR_SUCCESS)
        return false;
    prefix[MAX_PATH - 1] = '\0';
    const size_t length = strlen(prefix);
    return length > 0 && strncmp(parameters, prefix, length) == 0;
}

// Seeded per process, so launches that are not waited for would overlap
// visibly in the journal.
DWORD RandomDelayMilliseconds() {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    std::minstd_rand generator(counter.LowPart ^ GetCurrentProcessId());
    std::uniform_int_distribution<DWORD> delay(50, 300);
    return delay(generator);
}

}  // namespace

int main(int argc, char** argv) {
    const char* parameters = ParametersAfterProgramName(GetCommandLineA());
    JournalEvent("start", parameters);
    if (ConfiguredFor("HangsOn", parameters)) {
        JournalEvent("hangs", parameters);
        Sleep(INFINITE);
    }
    Sleep(RandomDelayMilliseconds());

    const bool refused = ConfiguredFor("RefusesOn", parameters);
    if (refused) JournalEvent("refuses", parameters);
    const Outcome outcome = refused ? Outcome::kRefused : RunCommand(argc, argv);
    const char* message = MessageFor(outcome);
    if (message != nullptr) printf("%s\n", message);
    fflush(stdout);

    const int exitCode = outcome == Outcome::kDone ? 0 : 1;
    char label[16];
    StringCchPrintfA(label, ARRAYSIZE(label), "exit %d", exitCode);
    JournalEvent(label, parameters);
    return exitCode;
}

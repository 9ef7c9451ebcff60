#include "verifier/settings_checks.h"

#include <setupapi.h>

#include <cstring>

#include "common/handles.h"
#include "common/pass_record.h"

#include "common/safe_strings.h"

namespace vireo {
namespace {

using SeenText = char[320];

constexpr char kNotRecorded[] = "not recorded";
// The network adapters' device class; its instance keys are four digits.
constexpr char kNetworkAdapterClass[] = "{4D36E972-E325-11CE-BFC1-08002BE10318}\\";
constexpr size_t kInstanceKeyDigits = 4;
constexpr GUID kNetworkAdapterClassGuid = {
    0x4d36e972, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
// The platform's bound on a device instance ID (MAX_DEVICE_ID_LEN).
constexpr DWORD kMaxInstanceIdLength = 200;
using InstanceId = char[kMaxInstanceIdLength + 1];

// What a read that found no text saw.
void DescribeUnread(ValueRead read, DWORD type, SeenText& seen) {
    if (read == ValueRead::kOtherType)
        StringCchPrintfA(seen, ARRAYSIZE(seen), "a value of type %lu", type);
    else if (read == ValueRead::kTooLong)
        StringCchPrintfA(seen, ARRAYSIZE(seen), "longer than the %d bytes the pass writes",
                         MAX_PATH);
    else
        StringCchCopyA(seen, ARRAYSIZE(seen), kNotRecorded);
}

// Reads a value the pass records; one that cannot be read fails its check.
bool ReadRecordedValue(HKEY settings, const char* name, const char* expected, RecordedText& text,
                       CheckList& list) {
    DWORD type = REG_NONE;
    const ValueRead read = ReadStringValue(settings, name, text, type);
    if (read == ValueRead::kText) return true;
    SeenText seen;
    DescribeUnread(read, type, seen);
    AddCheck(list, Verdict::kFail, name, seen, expected);
    return false;
}

// The machine ID must be the one the last pass logged: a value an earlier
// run left proves nothing about this one.
void CheckMachineId(HKEY settings, const LastPass& pass, CheckList& list) {
    constexpr char kExpected[] = "the machine ID from CRVNT.DLL";
    RecordedText text;
    if (!ReadRecordedValue(settings, kMachineIdValue, kExpected, text, list)) return;
    if (text[0] == '\0') {
        AddCheck(list, Verdict::kWarn, kMachineIdValue, "empty", kExpected);
        return;
    }
    RecordedText logged;
    SeenText seen;
    if (pass.begin != nullptr && !LastPassSuffix(pass, kMachineIdLine, logged)) {
        StringCchPrintfA(seen, ARRAYSIZE(seen), "%s; the last pass logged no machine ID", text);
        AddCheck(list, Verdict::kFail, kMachineIdValue, seen, kExpected);
        return;
    }
    if (pass.begin != nullptr && strcmp(logged, text) != 0) {
        StringCchPrintfA(seen, ARRAYSIZE(seen), "%s; the last pass logged \"%s\"", text, logged);
        AddCheck(list, Verdict::kFail, kMachineIdValue, seen, kExpected);
        return;
    }
    AddCheck(list, Verdict::kPass, kMachineIdValue, text, kExpected);
}

// WLANID still at its initial text is a warning (no card, no match), unless
// the BIOS identification itself failed in every attempt.
void CheckWlanId(HKEY settings, const LastPass& pass, CheckList& list) {
    constexpr char kExpected[] = "the wireless adapter's hardware ID";
    RecordedText text;
    if (!ReadRecordedValue(settings, kWlanIdValue, kExpected, text, list)) return;
    SeenText seen;
    if (strcmp(text, kWlanIdInitialText) == 0) {
        RecordedText message;
        DWORD type = REG_NONE;
        if (ReadStringValue(settings, kWirelessMessageValue, message, type) != ValueRead::kText)
            StringCchCopyA(message, ARRAYSIZE(message), kNotRecorded);
        const bool biosFailed = BiosIdentificationFailed(pass);
        StringCchPrintfA(seen, ARRAYSIZE(seen), "still \"%s\" (%s: %s)%s", text,
                         kWirelessMessageValue, message,
                         biosFailed ? "; every BIOS call of the last pass failed" : "");
        AddCheck(list, biosFailed ? Verdict::kFail : Verdict::kWarn, kWlanIdValue, seen, kExpected);
        return;
    }
    if (strlen(text) <= kMinimumIdLength) {
        StringCchPrintfA(seen, ARRAYSIZE(seen), "\"%s\"", text);
        AddCheck(list, Verdict::kFail, kWlanIdValue, seen, kExpected);
        return;
    }
    AddCheck(list, Verdict::kPass, kWlanIdValue, text, kExpected);
}

// True when path is the class root, the network adapters' class and an
// instance key ("...\Class\{4D36E972-...}\0011"): a key of one adapter.
bool NamesAdapterInstanceKey(const char* path, const char* classRoot) {
    const size_t rootLength = strlen(classRoot);
    const size_t classLength = strlen(kNetworkAdapterClass);
    if (strncmp(path, classRoot, rootLength) != 0) return false;
    const char* classPart = path + rootLength;
    if (strlen(classPart) < classLength) return false;
    if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, classPart, static_cast<int>(classLength),
                       kNetworkAdapterClass, static_cast<int>(classLength)) != CSTR_EQUAL)
        return false;
    const char* instance = classPart + classLength;
    for (size_t i = 0; i < kInstanceKeyDigits; ++i)
        if (instance[i] < '0' || instance[i] > '9') return false;
    return instance[kInstanceKeyDigits] == '\0';
}

// A model with fewer adapters: the script left no GUID2 or GUID3 value, so
// nothing is recorded for it. GUID1 is always expected.
bool ScriptNamedNoAdapter(HKEY settings, const RecordedClassPath& recorded, SeenText& seen) {
    if (settings == nullptr || strcmp(recorded.sourceValue, kGuid1Value) == 0) return false;
    if (RegQueryValueExA(settings, recorded.sourceValue, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_FILE_NOT_FOUND)
        return false;
    StringCchPrintfA(seen, ARRAYSIZE(seen), "the script named no adapter (no %s)",
                     recorded.sourceValue);
    return true;
}

// Whether the last pass logged the recorded path among its GUID lines (under
// either class root: each value logs one of its two paths). Without a last
// pass the log's own check fails.
bool LoggedByLastPass(const LastPass& pass, const RecordedClassPath& recorded, const char* path,
                      SeenText& seen) {
    if (pass.begin == nullptr) return true;
    RecordedText missing;
    if (strcmp(recorded.sourceValue, kGuid1Value) == 0 &&
        LastPassSuffix(pass, kGuid1MissingLine, missing)) {
        StringCchPrintfA(seen, ARRAYSIZE(seen), "%s; the last pass logged \"%s\"", path,
                         kGuid1MissingLine);
        return false;
    }
    const char* valueText = path + strlen(recorded.classRoot);
    const char* const roots[] = {kControlSet001Class, kCurrentControlSetClass};
    for (const char* root : roots) {
        char logged[2 * MAX_PATH];
        StringCchPrintfA(logged, ARRAYSIZE(logged), "%s%s", root, valueText);
        if (LastPassLogged(pass, recorded.handledLine, logged)) return true;
    }
    StringCchPrintfA(seen, ARRAYSIZE(seen), "%s; not among the last pass's %s lines", path,
                     recorded.sourceValue);
    return false;
}

void CheckRecordedClassPath(HKEY settings, const LastPass& pass, const RecordedClassPath& recorded,
                            CheckList& list) {
    char expected[160];
    StringCchPrintfA(expected, ARRAYSIZE(expected), "%s%s<instance>", recorded.classRoot,
                     kNetworkAdapterClass);
    SeenText seen;
    if (ScriptNamedNoAdapter(settings, recorded, seen)) {
        AddCheck(list, Verdict::kSkip, recorded.valueName, seen, expected);
        return;
    }
    RecordedText path;
    if (!ReadRecordedValue(settings, recorded.valueName, expected, path, list)) return;
    if (!NamesAdapterInstanceKey(path, recorded.classRoot)) {
        AddCheck(list, Verdict::kFail, recorded.valueName, path, expected);
        return;
    }
    if (!LoggedByLastPass(pass, recorded, path, seen)) {
        AddCheck(list, Verdict::kFail, recorded.valueName, seen, expected);
        return;
    }
    AddCheck(list, Verdict::kPass, recorded.valueName, path, expected);
}

enum class CapabilityRead { kHolds, kLacks, kDenied };

// Whether PnPCapabilities under HKLM\path holds the capability; seen says
// what is there. A key closed to this account is not a missing value.
CapabilityRead ReadCapability(const char* path, SeenText& seen) {
    LONG status = ERROR_SUCCESS;
    UniqueHkey key = OpenRegistryKey(HKEY_LOCAL_MACHINE, path, KEY_QUERY_VALUE, &status);
    if (status == ERROR_ACCESS_DENIED) {
        StringCchPrintfA(seen, ARRAYSIZE(seen), "HKLM\\%s cannot be read (access denied)", path);
        return CapabilityRead::kDenied;
    }
    if (!key) {
        StringCchPrintfA(seen, ARRAYSIZE(seen), "no key HKLM\\%s", path);
        return CapabilityRead::kLacks;
    }
    DWORD type = REG_NONE;
    DWORD value = 0;
    DWORD size = sizeof(value);
    status = RegQueryValueExA(key.get(), kCapabilityName, nullptr, &type,
                              reinterpret_cast<BYTE*>(&value), &size);
    const bool isDword = status == ERROR_SUCCESS && type == REG_DWORD && size == sizeof(value);
    if (status == ERROR_FILE_NOT_FOUND)
        StringCchPrintfA(seen, ARRAYSIZE(seen), "no value under HKLM\\%s", path);
    else if (!isDword)
        StringCchPrintfA(seen, ARRAYSIZE(seen), "a value of type %lu under HKLM\\%s", type, path);
    else
        StringCchPrintfA(seen, ARRAYSIZE(seen), "REG_DWORD %lu under HKLM\\%s", value, path);
    return isDword && value == kWakeOnLanCapability ? CapabilityRead::kHolds
                                                    : CapabilityRead::kLacks;
}

enum class AdapterSearch { kFound, kNone, kUnlisted };

// The present network adapter whose driver key (SPDRP_DRIVER, "{class}\NNNN")
// is driverKey: a class key no adapter uses is one the script merely named.
AdapterSearch FindPresentAdapterUsing(const char* driverKey, InstanceId& instance) {
    UniqueDeviceList adapters(
        SetupDiGetClassDevsA(&kNetworkAdapterClassGuid, nullptr, nullptr, DIGCF_PRESENT));
    if (!adapters) return AdapterSearch::kUnlisted;
    SP_DEVINFO_DATA adapter{};
    adapter.cbSize = sizeof(adapter);
    for (DWORD index = 0; SetupDiEnumDeviceInfo(adapters.get(), index, &adapter); ++index) {
        char driver[MAX_PATH + 1] = "";
        if (!SetupDiGetDeviceRegistryPropertyA(adapters.get(), &adapter, SPDRP_DRIVER, nullptr,
                                               reinterpret_cast<BYTE*>(driver), MAX_PATH, nullptr))
            continue;
        driver[MAX_PATH] = '\0';
        if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, driver, -1, driverKey, -1) !=
            CSTR_EQUAL)
            continue;
        if (!SetupDiGetDeviceInstanceIdA(adapters.get(), &adapter, instance, kMaxInstanceIdLength,
                                         nullptr))
            instance[0] = '\0';
        instance[kMaxInstanceIdLength] = '\0';
        return AdapterSearch::kFound;
    }
    return AdapterSearch::kNone;
}

// The recorded path, and for a ControlSet001 path the same key under
// CurrentControlSet too: the live control set need not be 001, and only its
// value is in force. The key must also be a present adapter's driver key.
void CheckCapabilityOf(const char* check, const RecordedClassPath& recorded, const char* path,
                       const char* expected, CheckList& list) {
    SeenText seen;
    const char* driverKey = path + strlen(recorded.classRoot);
    CapabilityRead read = ReadCapability(path, seen);
    if (read == CapabilityRead::kHolds &&
        strcmp(recorded.classRoot, kCurrentControlSetClass) != 0) {
        char live[2 * MAX_PATH];
        StringCchPrintfA(live, ARRAYSIZE(live), "%s%s", kCurrentControlSetClass, driverKey);
        SeenText liveSeen;
        read = ReadCapability(live, liveSeen);
        if (read == CapabilityRead::kHolds)
            StringCchCatA(seen, ARRAYSIZE(seen), " and under CurrentControlSet");
        else
            StringCchCopyA(seen, ARRAYSIZE(seen), liveSeen);
    }
    if (read == CapabilityRead::kDenied) {
        list.somethingUnreadable = true;
        AddCheck(list, Verdict::kSkip, check, seen, expected);
        return;
    }
    if (read == CapabilityRead::kLacks) {
        AddCheck(list, Verdict::kFail, check, seen, expected);
        return;
    }
    InstanceId instance = "";
    const AdapterSearch search = FindPresentAdapterUsing(driverKey, instance);
    if (search == AdapterSearch::kUnlisted) {
        list.somethingUnreadable = true;
        StringCchCatA(seen, ARRAYSIZE(seen), "; cannot list the present network adapters");
        AddCheck(list, Verdict::kSkip, check, seen, expected);
        return;
    }
    char adapterText[kMaxInstanceIdLength + 64];
    if (search == AdapterSearch::kFound)
        StringCchPrintfA(adapterText, ARRAYSIZE(adapterText), "; the driver key of %s", instance);
    else
        StringCchCopyA(adapterText, ARRAYSIZE(adapterText),
                       "; no present network adapter uses this key");
    StringCchCatA(seen, ARRAYSIZE(seen), adapterText);
    AddCheck(list, search == AdapterSearch::kFound ? Verdict::kPass : Verdict::kFail, check, seen,
             expected);
}

}  // namespace

ValueRead ReadStringValue(HKEY key, const char* name, RecordedText& text, DWORD& type) {
    text[0] = '\0';
    type = REG_NONE;
    if (key == nullptr) return ValueRead::kMissing;
    DWORD size = MAX_PATH;
    const LONG status =
        RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    if (status != ERROR_SUCCESS || type != REG_SZ) {
        text[0] = '\0';
        if (status == ERROR_MORE_DATA && type == REG_SZ) return ValueRead::kTooLong;
        return status == ERROR_SUCCESS || status == ERROR_MORE_DATA ? ValueRead::kOtherType
                                                                    : ValueRead::kMissing;
    }
    // Stored with or without its terminator, the text ends inside the buffer.
    text[size < MAX_PATH ? size : MAX_PATH] = '\0';
    return ValueRead::kText;
}

void CheckSettingsKey(HKEY settings, const LastPass& pass, CheckList& list) {
    if (settings != nullptr) list.anythingRead = true;
    CheckMachineId(settings, pass, list);
    CheckWlanId(settings, pass, list);
    for (const RecordedClassPath& recorded : kRecordedClassPaths)
        CheckRecordedClassPath(settings, pass, recorded, list);
}

void CheckWakeOnLan(HKEY settings, CheckList& list) {
    char expected[64];
    StringCchPrintfA(expected, ARRAYSIZE(expected), "REG_DWORD %lu", kWakeOnLanCapability);
    for (const RecordedClassPath& recorded : kRecordedClassPaths) {
        char check[64];
        StringCchPrintfA(check, ARRAYSIZE(check), "%s %s", kCapabilityName, recorded.valueName);
        SeenText seen;
        RecordedText path;
        DWORD type = REG_NONE;
        if (ScriptNamedNoAdapter(settings, recorded, seen))
            AddCheck(list, Verdict::kSkip, check, seen, expected);
        else if (ReadStringValue(settings, recorded.valueName, path, type) == ValueRead::kText &&
                 NamesAdapterInstanceKey(path, recorded.classRoot))
            CheckCapabilityOf(check, recorded, path, expected, list);
        else
            AddCheck(list, Verdict::kSkip, check, "no adapter's class path recorded", expected);
    }
}

}  // namespace vireo

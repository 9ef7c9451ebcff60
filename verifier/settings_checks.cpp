#include "verifier/settings_checks.h"

#include <cstring>

#include "common/handles.h"
#include "common/pass_record.h"

#include "common/safe_strings.h"

namespace vireo {
namespace {

constexpr char kNotRecorded[] = "not recorded";
// The network adapters' device class; its instance keys are four digits.
constexpr char kNetworkAdapterClass[] = "{4D36E972-E325-11CE-BFC1-08002BE10318}\\";
constexpr size_t kInstanceKeyDigits = 4;

// Reads a value the pass records; a missing one fails its check.
bool ReadRecordedValue(HKEY settings, const char* name, const char* expected,
                       char (&text)[MAX_PATH], CheckList& list) {
    if (ReadStringValue(settings, name, text)) return true;
    AddCheck(list, Verdict::kFail, name, kNotRecorded, expected);
    return false;
}

void CheckMachineId(HKEY settings, CheckList& list) {
    constexpr char kExpected[] = "the machine ID from CRVNT.DLL";
    char text[MAX_PATH];
    if (!ReadRecordedValue(settings, kMachineIdValue, kExpected, text, list)) return;
    AddCheck(list, text[0] != '\0' ? Verdict::kPass : Verdict::kWarn, kMachineIdValue,
             text[0] != '\0' ? text : "empty", kExpected);
}

void CheckWlanId(HKEY settings, CheckList& list) {
    constexpr char kExpected[] = "the wireless adapter's hardware ID";
    char text[MAX_PATH];
    if (!ReadRecordedValue(settings, kWlanIdValue, kExpected, text, list)) return;
    char seen[320];
    if (strcmp(text, kWlanIdInitialText) == 0) {
        char message[MAX_PATH];
        if (!ReadStringValue(settings, kWirelessMessageValue, message))
            StringCchCopyA(message, MAX_PATH, kNotRecorded);
        StringCchPrintfA(seen, ARRAYSIZE(seen), "still \"%s\" (%s: %s)", text,
                         kWirelessMessageValue, message);
        AddCheck(list, Verdict::kWarn, kWlanIdValue, seen, kExpected);
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
    if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, classPart, static_cast<int>(classLength),
                       kNetworkAdapterClass, static_cast<int>(classLength)) != CSTR_EQUAL)
        return false;
    const char* instance = classPart + classLength;
    for (size_t i = 0; i < kInstanceKeyDigits; ++i)
        if (instance[i] < '0' || instance[i] > '9') return false;
    return instance[kInstanceKeyDigits] == '\0';
}

// The recorded path, when it names one adapter's class instance key.
bool ReadRecordedClassPath(HKEY settings, const RecordedClassPath& recorded,
                           char (&path)[MAX_PATH]) {
    return ReadStringValue(settings, recorded.valueName, path) &&
           NamesAdapterInstanceKey(path, recorded.classRoot);
}

void CheckRecordedClassPath(HKEY settings, const RecordedClassPath& recorded, CheckList& list) {
    char expected[160];
    StringCchPrintfA(expected, ARRAYSIZE(expected), "%s%s<instance>", recorded.classRoot,
                     kNetworkAdapterClass);
    char path[MAX_PATH];
    if (!ReadRecordedValue(settings, recorded.valueName, expected, path, list)) return;
    const bool adapterKey = NamesAdapterInstanceKey(path, recorded.classRoot);
    AddCheck(list, adapterKey ? Verdict::kPass : Verdict::kFail, recorded.valueName, path,
             expected);
}

void CheckCapabilityUnder(const char* check, const char* path, const char* expected,
                          CheckList& list) {
    char seen[320];
    UniqueHkey key = OpenRegistryKey(HKEY_LOCAL_MACHINE, path, KEY_QUERY_VALUE);
    if (!key) {
        StringCchPrintfA(seen, ARRAYSIZE(seen), "no key HKLM\\%s", path);
        AddCheck(list, Verdict::kFail, check, seen, expected);
        return;
    }
    DWORD type = REG_NONE;
    DWORD value = 0;
    DWORD size = sizeof(value);
    const LONG status = RegQueryValueExA(key.get(), kCapabilityName, nullptr, &type,
                                         reinterpret_cast<BYTE*>(&value), &size);
    const bool isDword = status == ERROR_SUCCESS && type == REG_DWORD && size == sizeof(value);
    if (status == ERROR_FILE_NOT_FOUND)
        StringCchPrintfA(seen, ARRAYSIZE(seen), "no value under HKLM\\%s", path);
    else if (!isDword)
        StringCchPrintfA(seen, ARRAYSIZE(seen), "a value of type %lu under HKLM\\%s", type, path);
    else
        StringCchPrintfA(seen, ARRAYSIZE(seen), "REG_DWORD %lu under HKLM\\%s", value, path);
    const bool holds = isDword && value == kWakeOnLanCapability;
    AddCheck(list, holds ? Verdict::kPass : Verdict::kFail, check, seen, expected);
}

}  // namespace

bool ReadStringValue(HKEY key, const char* name, char (&text)[MAX_PATH]) {
    text[0] = '\0';
    if (key == nullptr) return false;
    DWORD type = REG_NONE;
    DWORD size = MAX_PATH - 1;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ) {
        text[0] = '\0';
        return false;
    }
    // Stored with or without its terminator, the text ends inside the buffer.
    text[size < MAX_PATH ? size : MAX_PATH - 1] = '\0';
    return true;
}

void CheckSettingsKey(HKEY settings, CheckList& list) {
    if (settings != nullptr) list.anythingRead = true;
    CheckMachineId(settings, list);
    CheckWlanId(settings, list);
    for (const RecordedClassPath& recorded : kRecordedClassPaths)
        CheckRecordedClassPath(settings, recorded, list);
}

void CheckWakeOnLan(HKEY settings, CheckList& list) {
    char expected[64];
    StringCchPrintfA(expected, ARRAYSIZE(expected), "REG_DWORD %lu", kWakeOnLanCapability);
    for (const RecordedClassPath& recorded : kRecordedClassPaths) {
        char check[64];
        StringCchPrintfA(check, ARRAYSIZE(check), "%s %s", kCapabilityName, recorded.valueName);
        char path[MAX_PATH];
        if (ReadRecordedClassPath(settings, recorded, path))
            CheckCapabilityUnder(check, path, expected, list);
        else
            AddCheck(list, Verdict::kSkip, check, "no adapter's class path recorded", expected);
    }
}

}  // namespace vireo

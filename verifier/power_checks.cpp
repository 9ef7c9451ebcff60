#include "verifier/power_checks.h"

#include <windows.h>
#include <powrprof.h>

#include <cstring>
#include <cwchar>

#include "common/disk_probe.h"
#include "common/guid_text.h"
#include "common/handles.h"
#include "common/power_settings.h"

#include "common/safe_strings.h"

namespace vireo {
namespace {

// The power functions, from the system folder's powrprof.dll by its full
// path: one found first by the search order (beside the verifier, on a stick
// or a share) would answer every scheme check.
struct PowerApi {
    decltype(&PowerReadFriendlyName) readFriendlyName;
    decltype(&PowerReadACValueIndex) readAcValueIndex;
    decltype(&PowerReadDCValueIndex) readDcValueIndex;
    decltype(&PowerGetActiveScheme) getActiveScheme;
};

template <typename Function>
bool Resolve(HMODULE module, const char* name, Function& function) {
    // Through void* so that the compiler accepts the change of function type.
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return function != nullptr;
}

bool LoadPowerApi(UniqueModule& module, PowerApi& api) {
    char path[MAX_PATH];
    const UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH ||
        FAILED(StringCchCatA(path, MAX_PATH, "\\powrprof.dll")))
        return false;
    module.reset(LoadLibraryExA(path, nullptr, 0));
    return module && Resolve(module.get(), "PowerReadFriendlyName", api.readFriendlyName) &&
           Resolve(module.get(), "PowerReadACValueIndex", api.readAcValueIndex) &&
           Resolve(module.get(), "PowerReadDCValueIndex", api.readDcValueIndex) &&
           Resolve(module.get(), "PowerGetActiveScheme", api.getActiveScheme);
}

constexpr char kSchemeNameCheck[] = "scheme name";

// The scheme's friendly name whole, however long: its size first, then the
// text, terminated.
DWORD ReadFriendlyName(const PowerApi& api, const GUID& scheme, UniqueLocalPointer<WCHAR>& name) {
    DWORD size = 0;
    DWORD status = api.readFriendlyName(nullptr, &scheme, nullptr, nullptr, nullptr, &size);
    if (status != ERROR_SUCCESS) return status;
    name.reset(static_cast<WCHAR*>(LocalAlloc(LPTR, size + sizeof(WCHAR))));
    if (!name) return ERROR_NOT_ENOUGH_MEMORY;
    status = api.readFriendlyName(nullptr, &scheme, nullptr, nullptr,
                                  reinterpret_cast<UCHAR*>(name.get()), &size);
    name.get()[size / sizeof(WCHAR)] = L'\0';
    return status;
}

// Compared in UTF-16, as stored: a name the ANSI code page cannot hold must
// not pass for the maker's by its best-fit conversion.
void CheckSchemeName(const PowerApi& api, const GUID& scheme, CheckList& list) {
    char seen[320];
    UniqueLocalPointer<WCHAR> name;
    const DWORD status = ReadFriendlyName(api, scheme, name);
    if (status != ERROR_SUCCESS) {
        StringCchPrintfA(seen, ARRAYSIZE(seen), "cannot be read (error %lu)", status);
        AddCheck(list, Verdict::kFail, kSchemeNameCheck, seen, kMakerSchemeName);
        return;
    }
    list.anythingRead = true;
    WCHAR wanted[64];
    if (MultiByteToWideChar(CP_ACP, 0, kMakerSchemeName, -1, wanted, ARRAYSIZE(wanted)) == 0)
        wanted[0] = L'\0';
    char text[256];
    if (WideCharToMultiByte(CP_ACP, 0, name.get(), -1, text, sizeof(text), nullptr, nullptr) == 0)
        text[0] = '\0';
    text[sizeof(text) - 1] = '\0';
    StringCchPrintfA(seen, ARRAYSIZE(seen), "\"%s\"", text);
    AddCheck(list, wcscmp(name.get(), wanted) == 0 ? Verdict::kPass : Verdict::kFail,
             kSchemeNameCheck, seen, kMakerSchemeName);
}

DWORD ReadValueIndex(const PowerApi& api, const GUID& scheme, const PowerSettingValue& row,
                     DWORD& value) {
    GUID subgroup;
    GUID setting;
    if (!ParseGuidText(row.subgroup, subgroup) || !ParseGuidText(row.setting, setting))
        return ERROR_INVALID_PARAMETER;
    return row.supply == PowerSupply::kAc
               ? api.readAcValueIndex(nullptr, &scheme, &subgroup, &setting, &value)
               : api.readDcValueIndex(nullptr, &scheme, &subgroup, &setting, &value);
}

bool IsSameSetting(const PowerSettingValue& a, const PowerSettingValue& b) {
    return a.supply == b.supply && lstrcmpiA(a.subgroup, b.subgroup) == 0 &&
           lstrcmpiA(a.setting, b.setting) == 0;
}

using Note = char[112];

// The value the program leaves: the list's, or the override's where the
// disk-protection hardware (device and service both) made the program launch
// it. The note names what the probe saw, so a change after the run shows.
DWORD ExpectedValue(const PowerSettingValue& row, DiskProtectionParts parts, Note& note) {
    note[0] = '\0';
    if (!IsSameSetting(row, kDiskProtectionLidOverride)) return row.value;
    const bool present = parts.device && parts.service;
    StringCchPrintfA(note, ARRAYSIZE(note), " (%s: device ACPI\\CRV0004 %s, service crvdskflt %s)",
                     present ? "disk-protection hardware present" : "no disk-protection hardware",
                     parts.device ? "seen" : "not seen", parts.service ? "seen" : "not seen");
    return present ? kDiskProtectionLidOverride.value : row.value;
}

void ValueCheckName(const PowerSettingValue& row, char (&check)[64]) {
    StringCchPrintfA(check, ARRAYSIZE(check), "scheme %s", row.label);
}

void CheckValue(const PowerApi& api, const GUID& scheme, const PowerSettingValue& row,
                DiskProtectionParts parts, CheckList& list) {
    char check[64];
    char seen[320];
    char expected[96];
    Note note;
    ValueCheckName(row, check);
    const DWORD want = ExpectedValue(row, parts, note);
    StringCchPrintfA(expected, ARRAYSIZE(expected), "%lu", want);
    DWORD value = 0;
    const DWORD status = ReadValueIndex(api, scheme, row, value);
    if (status != ERROR_SUCCESS) {
        StringCchPrintfA(seen, ARRAYSIZE(seen), "cannot be read (error %lu)", status);
        AddCheck(list, Verdict::kFail, check, seen, expected);
        return;
    }
    list.anythingRead = true;
    StringCchPrintfA(seen, ARRAYSIZE(seen), "%lu%s", value, note);
    AddCheck(list, value == want ? Verdict::kPass : Verdict::kFail, check, seen, expected);
}

constexpr char kActiveSchemeCheck[] = "scheme active";

void SkipPowerScheme(const char* reason, CheckList& list) {
    AddCheck(list, Verdict::kSkip, kSchemeNameCheck, reason, kMakerSchemeName);
    for (const PowerSettingValue& row : kMakerPowerSettings) {
        char check[64];
        ValueCheckName(row, check);
        AddCheck(list, Verdict::kSkip, check, reason, "");
    }
    AddCheck(list, Verdict::kSkip, kActiveSchemeCheck, reason, kBalancedScheme);
}

void CheckActiveScheme(const PowerApi& api, const GUID& scheme, CheckList& list) {
    char seen[320];
    UniqueLocalPointer<GUID> active;
    const DWORD status = api.getActiveScheme(nullptr, active.addressof());
    if (status != ERROR_SUCCESS || !active) {
        StringCchPrintfA(seen, ARRAYSIZE(seen), "cannot be read (error %lu)", status);
        AddCheck(list, Verdict::kFail, kActiveSchemeCheck, seen, kBalancedScheme);
        return;
    }
    list.anythingRead = true;
    const bool isBalanced = IsEqualGUID(*active.get(), scheme) != 0;
    char text[40];
    FormatGuidText(*active.get(), text);
    StringCchPrintfA(seen, ARRAYSIZE(seen), "%s is active", text);
    AddCheck(list, isBalanced ? Verdict::kPass : Verdict::kFail, kActiveSchemeCheck, seen,
             kBalancedScheme);
}

}  // namespace

bool CheckPowerScheme(const char* skipReason, CheckList& list) {
    if (skipReason != nullptr) {
        SkipPowerScheme(skipReason, list);
        return true;
    }
    UniqueModule module;
    PowerApi api;
    if (!LoadPowerApi(module, api)) return false;
    GUID scheme;
    if (!ParseGuidText(kBalancedScheme, scheme)) return true;
    CheckSchemeName(api, scheme, list);
    const DiskProtectionParts parts = ProbeDiskProtectionParts();
    for (const PowerSettingValue& row : kMakerPowerSettings)
        CheckValue(api, scheme, row, parts, list);
    CheckActiveScheme(api, scheme, list);
    return true;
}

}  // namespace vireo

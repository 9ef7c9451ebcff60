#include "verifier/power_checks.h"

#include <windows.h>
#include <powrprof.h>

#include <cstring>

#include "common/disk_probe.h"
#include "common/guid_text.h"
#include "common/handles.h"
#include "common/power_settings.h"

#include "common/safe_strings.h"

namespace vireo {
namespace {

constexpr char kSchemeNameCheck[] = "scheme name";

void CheckSchemeName(const GUID& scheme, CheckList& list) {
    WCHAR name[128];
    DWORD size = sizeof(name) - sizeof(WCHAR);
    ZeroMemory(name, sizeof(name));
    char seen[320];
    const DWORD status = PowerReadFriendlyName(nullptr, &scheme, nullptr, nullptr,
                                               reinterpret_cast<UCHAR*>(name), &size);
    if (status != ERROR_SUCCESS) {
        StringCchPrintfA(seen, ARRAYSIZE(seen), "cannot be read (error %lu)", status);
        AddCheck(list, Verdict::kFail, kSchemeNameCheck, seen, kMakerSchemeName);
        return;
    }
    list.anythingRead = true;
    name[ARRAYSIZE(name) - 1] = L'\0';
    char text[256];
    if (WideCharToMultiByte(CP_ACP, 0, name, -1, text, sizeof(text), nullptr, nullptr) == 0)
        text[0] = '\0';
    text[sizeof(text) - 1] = '\0';
    StringCchPrintfA(seen, ARRAYSIZE(seen), "\"%s\"", text);
    AddCheck(list, strcmp(text, kMakerSchemeName) == 0 ? Verdict::kPass : Verdict::kFail,
             kSchemeNameCheck, seen, kMakerSchemeName);
}

DWORD ReadValueIndex(const GUID& scheme, const PowerSettingValue& row, DWORD& value) {
    GUID subgroup;
    GUID setting;
    if (!ParseGuidText(row.subgroup, subgroup) || !ParseGuidText(row.setting, setting))
        return ERROR_INVALID_PARAMETER;
    return row.supply == PowerSupply::kAc
               ? PowerReadACValueIndex(nullptr, &scheme, &subgroup, &setting, &value)
               : PowerReadDCValueIndex(nullptr, &scheme, &subgroup, &setting, &value);
}

bool IsSameSetting(const PowerSettingValue& a, const PowerSettingValue& b) {
    return a.supply == b.supply && lstrcmpiA(a.subgroup, b.subgroup) == 0 &&
           lstrcmpiA(a.setting, b.setting) == 0;
}

// The value the program leaves: the list's, or the override's where the
// disk-protection hardware made the program launch it.
DWORD ExpectedValue(const PowerSettingValue& row, bool diskProtection, char (&note)[64]) {
    note[0] = '\0';
    if (!IsSameSetting(row, kDiskProtectionLidOverride)) return row.value;
    StringCchCopyA(note, ARRAYSIZE(note),
                   diskProtection ? " (disk-protection hardware present)"
                                  : " (no disk-protection hardware)");
    return diskProtection ? kDiskProtectionLidOverride.value : row.value;
}

void ValueCheckName(const PowerSettingValue& row, char (&check)[64]) {
    StringCchPrintfA(check, ARRAYSIZE(check), "scheme %s", row.label);
}

void CheckValue(const GUID& scheme, const PowerSettingValue& row, bool diskProtection,
                CheckList& list) {
    char check[64];
    char seen[320];
    char expected[96];
    char note[64];
    ValueCheckName(row, check);
    const DWORD want = ExpectedValue(row, diskProtection, note);
    StringCchPrintfA(expected, ARRAYSIZE(expected), "%lu", want);
    DWORD value = 0;
    const DWORD status = ReadValueIndex(scheme, row, value);
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

void CheckActiveScheme(const GUID& scheme, CheckList& list) {
    char seen[320];
    UniqueLocalPointer<GUID> active;
    const DWORD status = PowerGetActiveScheme(nullptr, active.addressof());
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

void CheckPowerScheme(const char* skipReason, CheckList& list) {
    if (skipReason != nullptr) {
        SkipPowerScheme(skipReason, list);
        return;
    }
    GUID scheme;
    if (!ParseGuidText(kBalancedScheme, scheme)) return;
    CheckSchemeName(scheme, list);
    const bool diskProtection = IsDiskProtectionPresent() == 1;
    for (const PowerSettingValue& row : kMakerPowerSettings)
        CheckValue(scheme, row, diskProtection, list);
    CheckActiveScheme(scheme, list);
}

}  // namespace vireo

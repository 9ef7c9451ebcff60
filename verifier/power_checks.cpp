#include "verifier/power_checks.h"

#include <windows.h>
#include <powrprof.h>

#include <cstring>

#include "common/disk_probe.h"
#include "common/handles.h"
#include "common/power_settings.h"

#include "common/safe_strings.h"

namespace vireo {
namespace {

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" in either case.
bool ParseGuid(const char* text, GUID& guid) {
    BYTE bytes[16];
    int count = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c == '-') continue;
        const int high = HexDigitValue(c[0]);
        const int low = high < 0 ? -1 : HexDigitValue(c[1]);
        if (low < 0 || count == 16) return false;
        bytes[count++] = static_cast<BYTE>(high << 4 | low);
        ++c;
    }
    if (count != 16) return false;
    guid.Data1 = static_cast<DWORD>(bytes[0]) << 24 | static_cast<DWORD>(bytes[1]) << 16 |
                 static_cast<DWORD>(bytes[2]) << 8 | bytes[3];
    guid.Data2 = static_cast<WORD>(bytes[4] << 8 | bytes[5]);
    guid.Data3 = static_cast<WORD>(bytes[6] << 8 | bytes[7]);
    memcpy(guid.Data4, bytes + 8, sizeof(guid.Data4));
    return true;
}

void FormatGuid(const GUID& guid, char (&text)[40]) {
    StringCchPrintfA(text, ARRAYSIZE(text), "%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                     guid.Data1, guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                     guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6],
                     guid.Data4[7]);
}

void CheckSchemeName(const GUID& scheme, CheckList& list) {
    constexpr char kCheck[] = "scheme name";
    WCHAR name[128];
    DWORD size = sizeof(name) - sizeof(WCHAR);
    ZeroMemory(name, sizeof(name));
    char seen[320];
    const DWORD status = PowerReadFriendlyName(nullptr, &scheme, nullptr, nullptr,
                                               reinterpret_cast<UCHAR*>(name), &size);
    if (status != ERROR_SUCCESS) {
        StringCchPrintfA(seen, ARRAYSIZE(seen), "cannot be read (error %lu)", status);
        AddCheck(list, Verdict::kFail, kCheck, seen, kMakerSchemeName);
        return;
    }
    list.anythingRead = true;
    name[ARRAYSIZE(name) - 1] = L'\0';
    char text[256];
    if (WideCharToMultiByte(CP_ACP, 0, name, -1, text, sizeof(text), nullptr, nullptr) == 0)
        text[0] = '\0';
    text[sizeof(text) - 1] = '\0';
    StringCchPrintfA(seen, ARRAYSIZE(seen), "\"%s\"", text);
    AddCheck(list, strcmp(text, kMakerSchemeName) == 0 ? Verdict::kPass : Verdict::kFail, kCheck,
             seen, kMakerSchemeName);
}

DWORD ReadValueIndex(const GUID& scheme, const PowerSettingValue& row, DWORD& value) {
    GUID subgroup;
    GUID setting;
    if (!ParseGuid(row.subgroup, subgroup) || !ParseGuid(row.setting, setting))
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

void CheckValue(const GUID& scheme, const PowerSettingValue& row, bool diskProtection,
                CheckList& list) {
    char check[64];
    char seen[320];
    char expected[96];
    char note[64];
    StringCchPrintfA(check, ARRAYSIZE(check), "scheme %s", row.label);
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

void CheckActiveScheme(const GUID& scheme, CheckList& list) {
    constexpr char kCheck[] = "scheme active";
    char seen[320];
    UniqueLocalPointer<GUID> active;
    const DWORD status = PowerGetActiveScheme(nullptr, active.addressof());
    if (status != ERROR_SUCCESS || !active) {
        StringCchPrintfA(seen, ARRAYSIZE(seen), "cannot be read (error %lu)", status);
        AddCheck(list, Verdict::kFail, kCheck, seen, kBalancedScheme);
        return;
    }
    list.anythingRead = true;
    const bool isBalanced = IsEqualGUID(*active.get(), scheme) != 0;
    char text[40];
    FormatGuid(*active.get(), text);
    StringCchPrintfA(seen, ARRAYSIZE(seen), "%s is active", text);
    AddCheck(list, isBalanced ? Verdict::kPass : Verdict::kFail, kCheck, seen, kBalancedScheme);
}

}  // namespace

void CheckPowerScheme(CheckList& list) {
    GUID scheme;
    if (!ParseGuid(kBalancedScheme, scheme)) return;
    CheckSchemeName(scheme, list);
    const bool diskProtection = IsDiskProtectionPresent() == 1;
    for (const PowerSettingValue& row : kMakerPowerSettings)
        CheckValue(scheme, row, diskProtection, list);
    CheckActiveScheme(scheme, list);
}

}  // namespace vireo

// Stand-in for the system's powrprof.dll, the power-management functions the
// verifier reads the power scheme through: Wine's own answer from no store.
// This one reads the store the bench's powercfg.exe keeps (power_store.h) and
// answers as the documented functions do. Only reading functions are here.
#include <windows.h>
#include <strsafe.h>

#include "common/guid_text.h"
#include "common/handles.h"
#include "power_store.h"

namespace {

using vireo::FormatGuidText;
using vireo::ParseGuidText;
using vireo::UniqueHkey;

// The store's key of a scheme, or of one of its settings.
DWORD OpenStoreKey(const GUID* scheme, const GUID* subgroup, const GUID* setting, UniqueHkey& key) {
    if (scheme == nullptr) return ERROR_INVALID_PARAMETER;
    char schemeText[40], subgroupText[40], settingText[40], path[MAX_PATH];
    FormatGuidText(*scheme, schemeText);
    HRESULT formatted;
    if (subgroup == nullptr || setting == nullptr) {
        formatted = StringCchPrintfA(path, MAX_PATH, "%s\\%s", bench::kSchemesPath, schemeText);
    } else {
        FormatGuidText(*subgroup, subgroupText);
        FormatGuidText(*setting, settingText);
        formatted = StringCchPrintfA(path, MAX_PATH, "%s\\%s\\%s\\%s", bench::kSchemesPath,
                                     schemeText, subgroupText, settingText);
    }
    if (FAILED(formatted)) return ERROR_INVALID_PARAMETER;
    return static_cast<DWORD>(
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, key.addressof()));
}

DWORD ReadValueIndex(const GUID* scheme, const GUID* subgroup, const GUID* setting,
                     const char* valueName, DWORD* index) {
    if (subgroup == nullptr || setting == nullptr || index == nullptr)
        return ERROR_INVALID_PARAMETER;
    UniqueHkey key;
    const DWORD opened = OpenStoreKey(scheme, subgroup, setting, key);
    if (opened != ERROR_SUCCESS) return opened;
    DWORD type = REG_NONE;
    DWORD size = sizeof(*index);
    const LONG read = RegQueryValueExA(key.get(), valueName, nullptr, &type,
                                       reinterpret_cast<BYTE*>(index), &size);
    if (read != ERROR_SUCCESS) return static_cast<DWORD>(read);
    return type == REG_DWORD ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}

}  // namespace

extern "C" DWORD WINAPI PowerGetActiveScheme(HKEY, GUID** active) {
    if (active == nullptr) return ERROR_INVALID_PARAMETER;
    *active = nullptr;
    UniqueHkey schemes;
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, bench::kSchemesPath, 0, KEY_QUERY_VALUE,
                                schemes.addressof());
    if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
    char text[64] = "";
    DWORD size = sizeof(text) - 1;
    status = RegQueryValueExA(schemes.get(), bench::kActiveSchemeValue, nullptr, nullptr,
                              reinterpret_cast<BYTE*>(text), &size);
    if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
    text[size < sizeof(text) ? size : sizeof(text) - 1] = '\0';
    GUID guid;
    if (!ParseGuidText(text, guid)) return ERROR_INVALID_DATA;
    // The caller frees it with LocalFree, as with the system's function.
    *active = static_cast<GUID*>(LocalAlloc(LMEM_FIXED, sizeof(GUID)));
    if (*active == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    **active = guid;
    return ERROR_SUCCESS;
}

extern "C" DWORD WINAPI PowerReadACValueIndex(HKEY, const GUID* scheme, const GUID* subgroup,
                                              const GUID* setting, DWORD* index) {
    return ReadValueIndex(scheme, subgroup, setting, bench::kAcIndexValue, index);
}

extern "C" DWORD WINAPI PowerReadDCValueIndex(HKEY, const GUID* scheme, const GUID* subgroup,
                                              const GUID* setting, DWORD* index) {
    return ReadValueIndex(scheme, subgroup, setting, bench::kDcIndexValue, index);
}

// The scheme's name as a UTF-16 string with its terminator. Without a buffer,
// or with one too small, the size it needs (ERROR_MORE_DATA for the latter).
// Only schemes are named here; subgroups and settings are not asked for.
extern "C" DWORD WINAPI PowerReadFriendlyName(HKEY, const GUID* scheme, const GUID* subgroup,
                                              const GUID*, UCHAR* buffer, DWORD* bufferSize) {
    if (bufferSize == nullptr || subgroup != nullptr) return ERROR_INVALID_PARAMETER;
    UniqueHkey key;
    const DWORD opened = OpenStoreKey(scheme, nullptr, nullptr, key);
    if (opened != ERROR_SUCCESS) return opened;
    // Read as stored, in UTF-16: no code page stands between the store and
    // the caller.
    WCHAR wide[1024] = L"";
    DWORD size = sizeof(wide) - sizeof(WCHAR);
    const LONG read = RegQueryValueExW(key.get(), bench::kFriendlyNameValueW, nullptr, nullptr,
                                       reinterpret_cast<BYTE*>(wide), &size);
    if (read != ERROR_SUCCESS) return static_cast<DWORD>(read);
    wide[size / sizeof(WCHAR)] = L'\0';
    const DWORD needed = static_cast<DWORD>(lstrlenW(wide) + 1) * sizeof(WCHAR);
    const DWORD offered = *bufferSize;
    *bufferSize = needed;
    if (buffer == nullptr) return ERROR_SUCCESS;
    if (offered < needed) return ERROR_MORE_DATA;
    CopyMemory(buffer, wide, needed);
    return ERROR_SUCCESS;
}

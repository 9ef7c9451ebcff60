// Stand-in for the system's powrprof.dll, the power-management functions the
// verifier reads the power scheme through: Wine's own answer from no store.
// This one reads the store the bench's powercfg.exe keeps (power_store.h) and
// answers as the documented functions do. Only reading functions are here.
#include <windows.h>
#include <strsafe.h>

#include "common/handles.h"
#include "power_store.h"

namespace {

using vireo::UniqueHkey;

void FormatGuid(const GUID& guid, char (&text)[40]) {
    StringCchPrintfA(text, ARRAYSIZE(text), "%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                     guid.Data1, guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                     guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6],
                     guid.Data4[7]);
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ParseGuid(const char* text, GUID& guid) {
    BYTE bytes[16];
    int count = 0;
    for (const char* c = text; *c != '\0' && count <= 16; ++c) {
        if (*c == '-') continue;
        if (HexValue(c[0]) < 0 || HexValue(c[1]) < 0 || count == 16) return false;
        bytes[count++] = static_cast<BYTE>(HexValue(c[0]) << 4 | HexValue(c[1]));
        ++c;
    }
    if (count != 16) return false;
    guid.Data1 = static_cast<DWORD>(bytes[0]) << 24 | static_cast<DWORD>(bytes[1]) << 16 |
                 static_cast<DWORD>(bytes[2]) << 8 | bytes[3];
    guid.Data2 = static_cast<WORD>(bytes[4] << 8 | bytes[5]);
    guid.Data3 = static_cast<WORD>(bytes[6] << 8 | bytes[7]);
    CopyMemory(guid.Data4, bytes + 8, 8);
    return true;
}

// The store's key of a scheme, or of one of its settings.
DWORD OpenStoreKey(const GUID* scheme, const GUID* subgroup, const GUID* setting, UniqueHkey& key) {
    if (scheme == nullptr) return ERROR_INVALID_PARAMETER;
    char schemeText[40], subgroupText[40], settingText[40], path[MAX_PATH];
    FormatGuid(*scheme, schemeText);
    HRESULT formatted;
    if (subgroup == nullptr || setting == nullptr) {
        formatted = StringCchPrintfA(path, MAX_PATH, "%s\\%s", bench::kSchemesPath, schemeText);
    } else {
        FormatGuid(*subgroup, subgroupText);
        FormatGuid(*setting, settingText);
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
    if (!ParseGuid(text, guid)) return ERROR_INVALID_DATA;
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
    char name[MAX_PATH] = "";
    DWORD size = sizeof(name) - 1;
    const LONG read = RegQueryValueExA(key.get(), bench::kFriendlyNameValue, nullptr, nullptr,
                                       reinterpret_cast<BYTE*>(name), &size);
    if (read != ERROR_SUCCESS) return static_cast<DWORD>(read);
    name[size < sizeof(name) ? size : sizeof(name) - 1] = '\0';
    WCHAR wide[MAX_PATH];
    const int characters = MultiByteToWideChar(CP_ACP, 0, name, -1, wide, MAX_PATH);
    if (characters == 0) return ERROR_INVALID_DATA;
    const DWORD needed = static_cast<DWORD>(characters) * sizeof(WCHAR);
    const DWORD offered = *bufferSize;
    *bufferSize = needed;
    if (buffer == nullptr) return ERROR_SUCCESS;
    if (offered < needed) return ERROR_MORE_DATA;
    CopyMemory(buffer, wide, needed);
    return ERROR_SUCCESS;
}

#include "vireodll/settings_registry.h"

#include <cstring>

#include "common/handles.h"

#include "common/safe_strings.h"

namespace vireo {
namespace {

UniqueHkey CreateOrOpenKey(HKEY root, const char* subkey) {
    UniqueHkey key;
    DWORD disposition = 0;
    if (RegCreateKeyExA(root, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                        key.addressof(), &disposition) != ERROR_SUCCESS) {
        key.release();
    }
    return key;
}

}  // namespace

void WriteRegString(HKEY root, const char* subkey, const char* name, const char* text) {
    UniqueHkey key = CreateOrOpenKey(root, subkey);
    if (!key) return;
    const DWORD size = static_cast<DWORD>(strlen(text)) + 1;
    RegSetValueExA(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), size);
}

bool WriteRegDword(HKEY root, const char* subkey, const char* name, DWORD value) {
    UniqueHkey key = CreateOrOpenKey(root, subkey);
    if (!key) return false;
    RegSetValueExA(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                   sizeof(value));
    return true;
}

}  // namespace vireo

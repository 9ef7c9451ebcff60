// Registry writers of the pass. Both create the key when it is missing.
#pragma once

#include <windows.h>

namespace vireo {

// Sets name to text as REG_SZ, terminator counted. Writes nothing when the key
// cannot be created or opened.
void WriteRegString(HKEY root, const char* subkey, const char* name, const char* text);

// Sets name to value as REG_DWORD. Returns whether the key could be created or
// opened; the result of the set itself is not examined.
bool WriteRegDword(HKEY root, const char* subkey, const char* name, DWORD value);

}  // namespace vireo

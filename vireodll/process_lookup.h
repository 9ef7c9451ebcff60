#pragma once

#include <windows.h>

namespace vireo {

// Identifier of the first running process whose executable file name equals
// exeName, ignoring case (lstrcmpiA); 0 when there is none or no snapshot.
DWORD FindProcessByName(const char* exeName);

}  // namespace vireo

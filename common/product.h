// Names and places that both deliverables spell the same way.
#pragma once

#include <windows.h>

namespace vireo {

// Below the Program Files folder.
constexpr char kProductSubfolder[] = "\\Corvane\\Pallister";
// Below HKEY_CURRENT_USER.
constexpr char kSettingsKey[] = "Software\\Corvane\\Pallister";

constexpr char kLibraryFileName[] = "VireoDll.dll";
constexpr char kEntryPointName[] = "crvVireoReq";

// Fills path with the default location of a shell folder (SHGFP_TYPE_DEFAULT)
// followed by suffix. Returns false, with path emptied, when the folder
// lookup fails or the result would not fit in MAX_PATH bytes: the caller
// skips what it would have loaded or started from there.
bool BuildFolderPath(int csidl, const char* suffix, char (&path)[MAX_PATH]);

// Program Files (as this 32-bit process sees it), the product subfolder and
// then fileName, e.g. "C:\Program Files\Corvane\Pallister\VireoDll.dll".
bool BuildProductPath(const char* fileName, char (&path)[MAX_PATH]);

}  // namespace vireo

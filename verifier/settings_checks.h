#pragma once

#include <windows.h>

#include "verifier/check_list.h"

namespace vireo {

// Reads a REG_SZ value, terminated inside text; false when it is missing, of
// another type or too long.
bool ReadStringValue(HKEY key, const char* name, char (&text)[MAX_PATH]);

// MachineID, WLANID and the four recorded class paths. settings may be null:
// the key is missing.
void CheckSettingsKey(HKEY settings, CheckList& list);

// PnPCapabilities = 288 (REG_DWORD) under each recorded class path (HKLM).
void CheckWakeOnLan(HKEY settings, CheckList& list);

}  // namespace vireo

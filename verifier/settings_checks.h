#pragma once

#include <windows.h>

#include "verifier/check_list.h"
#include "verifier/last_pass.h"

namespace vireo {

// A recorded text: up to the 260 bytes the pass's buffers hold, terminated.
using RecordedText = char[MAX_PATH + 1];

enum class ValueRead { kText, kMissing, kOtherType, kTooLong };

// Reads a REG_SZ value whole, terminated inside text (empty unless kText);
// type is the value's type as the registry has it.
ValueRead ReadStringValue(HKEY key, const char* name, RecordedText& text, DWORD& type);

// MachineID, WLANID and the four recorded class paths, each tied to what the
// last pass logged. settings may be null: the key is missing.
void CheckSettingsKey(HKEY settings, const LastPass& pass, CheckList& list);

// PnPCapabilities = 288 (REG_DWORD) under each recorded class path (HKLM),
// and under CurrentControlSet for a ControlSet001 one.
void CheckWakeOnLan(HKEY settings, CheckList& list);

}  // namespace vireo

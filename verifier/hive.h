// Whose settings key the verifier reads.
#pragma once

#include <windows.h>

#include "common/handles.h"

namespace vireo {

struct SettingsHive {
    UniqueHkey settings;  // empty when the hive holds no settings key
    char description[160];
};

// With a SID, the settings key in that loaded hive (HKU\<sid>); false when the
// hive is not loaded. Without, the current user's, or SYSTEM's when only
// SYSTEM's hive holds one.
bool OpenSettingsHive(const char* sid, SettingsHive& hive);

}  // namespace vireo

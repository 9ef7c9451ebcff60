// Whose settings key the verifier reads.
#pragma once

#include <windows.h>

#include "common/handles.h"

namespace vireo {

struct SettingsHive {
    UniqueHkey settings;  // empty when no hive holds a settings key
    char description[160];
    char searched[512];  // every hive looked in, for the report
    char denied[160];    // the first hive whose settings key is closed to this account
};

enum class HiveFound { kFound, kNoSettingsKey, kNotLoaded, kDenied };

// With a SID, the settings key in that loaded hive (HKU\<sid>); kNotLoaded
// when it is not loaded. Without, the current user's hive, SYSTEM's and every
// other loaded hive under HKU are searched (read-only): the one whose
// MachineID is passMachineId (the last pass's, when the log has one) wins,
// else the first that has a settings key, in that order. kDenied when a
// settings key closed to this account may be the one that ran the pass: none
// matched passMachineId, or no other settings key is readable.
HiveFound OpenSettingsHive(const char* sid, const char* passMachineId, SettingsHive& hive);

}  // namespace vireo

// The checks as one JSON object, for collection from many units.
#pragma once

#include "verifier/check_list.h"

namespace vireo {

struct UnitIdentity {
    const char* machineId;  // null when not recorded
    const char* hive;
    int exitCode;
};

// Writes {"machine_id", "computer_name", "time", "hive", "exit_code",
// "checks": [{"check", "status", "seen", "expected"}]} in UTF-8 to path.
// False when the file cannot be written.
bool WriteJsonReport(const char* path, const UnitIdentity& unit, const CheckList& list);

}  // namespace vireo

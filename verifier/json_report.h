// The checks as one JSON object, for collection from many units.
#pragma once

#include "verifier/check_list.h"

namespace vireo {

struct UnitIdentity {
    const char* machineId;  // null when not recorded
    const char* hive;
    const char* lastPass;  // the last pass's time stamp; null without one
    const char* notChecked;
    int exitCode;
};

// The report's file: requested itself, or, when it names a folder (it ends
// with a backslash), "<MachineID>_<COMPUTERNAME>.json" in it, with characters
// a file name cannot hold replaced. False when the path does not fit.
bool ChooseReportPath(const char* requested, const char* machineId, char (&path)[MAX_PATH]);

// Whether path names the activity log, which a report must never replace.
bool IsActivityLog(const char* path);

// Writes {"machine_id", "computer_name", "time", "hive", "last_pass",
// "not_checked", "exit_code", "checks": [{"check", "status", "seen",
// "expected"}]} in UTF-8 to path. False when the file cannot be written.
bool WriteJsonReport(const char* path, const UnitIdentity& unit, const CheckList& list);

}  // namespace vireo

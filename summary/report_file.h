// One verifier report as vireo-summary reads it: the unit it names, its exit
// code and the verdict of each check. A file that cannot be taken for a
// report says why.
#pragma once

#include <string>
#include <vector>

#include "common/verdict.h"

namespace vireo {

struct CheckVerdict {
    std::string name;
    Verdict verdict;
};

struct UnitReport {
    std::string machineId;  // empty when the unit had none recorded
    std::string computer;
    std::string time;      // when the verifier ran (UTC, ISO 8601)
    std::string lastPass;  // the log's time stamp of the last pass, or empty
    int exitCode = 0;
    std::vector<CheckVerdict> checks;
};

// Reports larger than this are refused unread.
constexpr unsigned long kLargestReport = 1024UL * 1024UL;

// Whether a file name can be a report's: <MachineID>_<COMPUTERNAME>.json as
// the verifier names it in a folder, <COMPUTERNAME>.json as a task sequence
// may, or any other name ending in .json.
bool HasReportName(const char* fileName);

// Reads and checks one report. On failure, why says what is wrong with it
// (not JSON, another shape, truncated, too large, unreadable).
bool ReadReportFile(const char* path, UnitReport& report, std::string& why);

// The same for text already in memory: size bytes, with room for one more
// (a terminator) after them; the text is parsed in place and changed.
bool ParseReport(char* text, size_t size, UnitReport& report, std::string& why);

}  // namespace vireo

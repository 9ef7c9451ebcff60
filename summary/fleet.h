// Many units' reports brought together: one row per report read, the files
// that could not be read, and what the rows say together (the counts, each
// check's verdicts, the duplicates).
#pragma once

#include <array>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "summary/report_file.h"

namespace vireo {

struct UnitRow {
    std::string fileName;
    std::string machineId;
    std::string computer;
    std::string time;
    std::string lastPass;
    int exitCode = 0;
    // Each check's index in Fleet::checkNames, with its verdict.
    std::vector<std::pair<unsigned, Verdict>> checks;
    // False for an earlier report of a unit reported again: the latest counts.
    bool counted = true;
};

struct NotRead {
    std::string fileName;
    std::string why;
};

// One machine ID recorded on two or more computers (rows counted).
struct SharedMachineId {
    std::string machineId;
    std::vector<size_t> rows;
};

// One unit (machine ID and computer) with more than one report.
struct RepeatedUnit {
    size_t counted;
    std::vector<size_t> earlier;
};

struct Fleet {
    std::vector<UnitRow> rows;
    std::vector<NotRead> notRead;
    std::vector<std::string> checkNames;  // in the order first seen
    std::map<std::string, unsigned> checkIndex;

    // Filled by Summarise.
    int units = 0;
    int passed = 0;
    int failed = 0;
    int unverified = 0;
    std::vector<std::array<int, kVerdictCount>> tallies;  // per check, counted rows only
    std::vector<SharedMachineId> sharedIds;
    std::vector<RepeatedUnit> repeats;
};

// Exit codes of vireo-summary.
constexpr int kFleetPassed = 0;
constexpr int kFleetFailed = 1;
constexpr int kFleetNothingRead = 2;

void AddReport(Fleet& fleet, const char* fileName, UnitReport&& report);
void AddNotRead(Fleet& fleet, const char* fileName, const std::string& why);

// Orders the rows and files by name, marks the earlier reports of a unit
// reported more than once, and counts.
void Summarise(Fleet& fleet);

// The failing checks of a row, "a, b, c" (empty when none failed).
std::string FailingChecks(const Fleet& fleet, const UnitRow& row, const char* separator);

// The computers a machine ID is on, "a, b".
std::string SharedComputers(const Fleet& fleet, const SharedMachineId& shared);

// 0 every unit passed and no machine ID is shared, 1 otherwise, 2 no report read.
int FleetExitCode(const Fleet& fleet);

}  // namespace vireo

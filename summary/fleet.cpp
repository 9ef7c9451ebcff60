#include "summary/fleet.h"

#include <windows.h>

#include <algorithm>

namespace vireo {
namespace {

// A unit is its machine ID and its computer name; computer names are
// compared without regard to case, as Windows treats them.
std::string UnitKey(const UnitRow& row) {
    std::string key = row.machineId + '\n' + row.computer;
    CharUpperBuffA(&key[row.machineId.size() + 1], static_cast<DWORD>(row.computer.size()));
    return key;
}

bool NameOrder(const std::string& a, const std::string& b) {
    return lstrcmpiA(a.c_str(), b.c_str()) < 0;
}

// The latest report of each unit counts: the latest verifier time, and of
// two with one time the file named last.
void MarkRepeats(Fleet& fleet) {
    std::map<std::string, std::vector<size_t>> byUnit;
    for (size_t i = 0; i < fleet.rows.size(); ++i) byUnit[UnitKey(fleet.rows[i])].push_back(i);
    for (auto& unit : byUnit) {
        std::vector<size_t>& rows = unit.second;
        if (rows.size() < 2) continue;
        std::stable_sort(rows.begin(), rows.end(), [&](size_t a, size_t b) {
            return fleet.rows[a].time < fleet.rows[b].time;
        });
        RepeatedUnit repeat{rows.back(), std::vector<size_t>(rows.begin(), rows.end() - 1)};
        for (size_t earlier : repeat.earlier) fleet.rows[earlier].counted = false;
        fleet.repeats.push_back(repeat);
    }
}

void FindSharedIds(Fleet& fleet) {
    std::map<std::string, std::vector<size_t>> byId;
    for (size_t i = 0; i < fleet.rows.size(); ++i)
        if (fleet.rows[i].counted && !fleet.rows[i].machineId.empty())
            byId[fleet.rows[i].machineId].push_back(i);
    for (auto& id : byId)
        if (id.second.size() > 1) fleet.sharedIds.push_back({id.first, id.second});
}

void Count(Fleet& fleet) {
    fleet.tallies.assign(fleet.checkNames.size(), {});
    for (const UnitRow& row : fleet.rows) {
        if (!row.counted) continue;
        ++fleet.units;
        if (row.exitCode == 0)
            ++fleet.passed;
        else if (row.exitCode == 1)
            ++fleet.failed;
        else
            ++fleet.unverified;
        for (const auto& check : row.checks)
            ++fleet.tallies[check.first][static_cast<int>(check.second)];
    }
}

}  // namespace

void AddReport(Fleet& fleet, const char* fileName, UnitReport&& report) {
    UnitRow row;
    row.fileName = fileName;
    row.machineId = std::move(report.machineId);
    row.computer = std::move(report.computer);
    row.time = std::move(report.time);
    row.lastPass = std::move(report.lastPass);
    row.exitCode = report.exitCode;
    for (const CheckVerdict& check : report.checks) {
        const auto found =
            fleet.checkIndex.emplace(check.name, static_cast<unsigned>(fleet.checkNames.size()));
        if (found.second) fleet.checkNames.push_back(check.name);
        row.checks.emplace_back(found.first->second, check.verdict);
    }
    fleet.rows.push_back(std::move(row));
}

void AddNotRead(Fleet& fleet, const char* fileName, const std::string& why) {
    fleet.notRead.push_back({fileName, why});
}

void Summarise(Fleet& fleet) {
    std::stable_sort(fleet.rows.begin(), fleet.rows.end(), [](const UnitRow& a, const UnitRow& b) {
        return NameOrder(a.fileName, b.fileName);
    });
    std::stable_sort(fleet.notRead.begin(), fleet.notRead.end(),
                     [](const NotRead& a, const NotRead& b) {
                         return NameOrder(a.fileName, b.fileName);
                     });
    MarkRepeats(fleet);
    FindSharedIds(fleet);
    Count(fleet);
}

std::string FailingChecks(const Fleet& fleet, const UnitRow& row, const char* separator) {
    std::string failing;
    for (const auto& check : row.checks) {
        if (check.second != Verdict::kFail) continue;
        if (!failing.empty()) failing += separator;
        failing += fleet.checkNames[check.first];
    }
    return failing;
}

std::string SharedComputers(const Fleet& fleet, const SharedMachineId& shared) {
    std::string computers;
    for (size_t row : shared.rows)
        computers += (computers.empty() ? "" : ", ") + fleet.rows[row].computer;
    return computers;
}

int FleetExitCode(const Fleet& fleet) {
    if (fleet.units == 0) return kFleetNothingRead;
    return fleet.passed == fleet.units && fleet.sharedIds.empty() ? kFleetPassed : kFleetFailed;
}

}  // namespace vireo

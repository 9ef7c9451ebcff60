// The console summary: counts, each check's verdicts, the failing units, the
// duplicates and the files not read, then the verdict.
#include <windows.h>

#include <cstdio>

#include "summary/outputs.h"
#include "summary/text.h"

#include "common/safe_strings.h"

namespace vireo {
namespace {

void Print(const std::string& utf8) { (void)fputs(ConsoleText(utf8).c_str(), stdout); }

std::string Padded(const std::string& text, size_t width) {
    return text.size() >= width ? text + ' ' : text + std::string(width - text.size(), ' ');
}

std::string RightAligned(int value, size_t width) {
    const std::string text = Number(value);
    return text.size() >= width ? ' ' + text : std::string(width - text.size(), ' ') + text;
}

void PrintCounts(const Fleet& fleet, const char* folder) {
    Print(std::string("reports in ") + folder + ": " + Number(fleet.rows.size()) + " read, " +
          Number(fleet.notRead.size()) + " not read\n");
    Print("units: " + Number(fleet.units) + " (passed " + Number(fleet.passed) + ", failed " +
          Number(fleet.failed) + ", cannot be verified " + Number(fleet.unverified) + ")\n");
}

void PrintCheckTable(const Fleet& fleet) {
    if (fleet.checkNames.empty()) return;
    size_t width = 5;
    for (const std::string& name : fleet.checkNames)
        width = name.size() > width ? name.size() : width;
    Print("\n" + Padded("check", width + 2) + "  PASS  FAIL  WARN  SKIP\n");
    for (size_t i = 0; i < fleet.checkNames.size(); ++i) {
        std::string line = Padded(fleet.checkNames[i], width + 2);
        for (int count : fleet.tallies[i]) line += RightAligned(count, 6);
        Print(line + "\n");
    }
}

void PrintUnits(const Fleet& fleet, int exitCode, const char* heading) {
    bool headed = false;
    for (const UnitRow& row : fleet.rows) {
        if (!row.counted || row.exitCode != exitCode) continue;
        if (!headed) Print(std::string("\n") + heading + ":\n");
        headed = true;
        const std::string failing = FailingChecks(fleet, row, ", ");
        Print("  " + DescribeUnit(row) + (failing.empty() ? "" : ": FAIL " + failing) + "\n");
    }
}

void PrintDuplicates(const Fleet& fleet) {
    if (!fleet.sharedIds.empty()) Print("\none machine ID on more than one computer:\n");
    for (const SharedMachineId& shared : fleet.sharedIds) {
        Print("  " + shared.machineId + " on " + Number(shared.rows.size()) +
              " computers: " + SharedComputers(fleet, shared) + "\n");
    }
    if (!fleet.sharedIds.empty()) Print(std::string("  ") + kSharedIdAdvice + "\n");
    if (!fleet.repeats.empty())
        Print("\nunits reported more than once (the latest report counts):\n");
    for (const RepeatedUnit& repeat : fleet.repeats) {
        const UnitRow& counted = fleet.rows[repeat.counted];
        Print("  " + DescribeUnit(counted) + ": counted " + counted.fileName + "\n");
        for (size_t earlier : repeat.earlier)
            Print("    not counted: " + fleet.rows[earlier].fileName + " (verified " +
                  fleet.rows[earlier].time + ")\n");
    }
}

void PrintNotRead(const Fleet& fleet) {
    if (!fleet.notRead.empty()) Print("\nnot read:\n");
    for (const NotRead& file : fleet.notRead) Print("  " + file.fileName + ": " + file.why + "\n");
}

std::string VerdictLine(const Fleet& fleet) {
    if (fleet.units == 0) return "no report could be read";
    if (FleetExitCode(fleet) == kFleetPassed) return "every unit passed";
    std::string verdict;
    const auto add = [&verdict](int count, const char* what) {
        if (count == 0) return;
        verdict += (verdict.empty() ? "" : ", ") + Number(count) + " " + what;
    };
    add(fleet.failed, fleet.failed == 1 ? "unit failed" : "units failed");
    add(fleet.unverified, "cannot be verified");
    add(static_cast<int>(fleet.sharedIds.size()), fleet.sharedIds.size() == 1
                                                      ? "machine ID on more than one computer"
                                                      : "machine IDs on more than one computer");
    return verdict;
}

}  // namespace

const char kSharedIdAdvice[] =
    "Units that share a machine ID carry one unit's recorded values: the image was captured "
    "after the product ran on it, or the settings travelled with a copied user profile. "
    "Capture the image before the product runs, then run the product once on each unit.";

std::string DescribeUnit(const UnitRow& row) {
    return row.computer + " (" +
           (row.machineId.empty() ? std::string("no machine ID") : "machine ID " + row.machineId) +
           ", verified " + row.time + ")";
}

void PrintSummary(const Fleet& fleet, const char* folder) {
    PrintCounts(fleet, folder);
    PrintCheckTable(fleet);
    PrintUnits(fleet, 1, "failing units");
    PrintUnits(fleet, 2, "units that cannot be verified");
    PrintDuplicates(fleet);
    PrintNotRead(fleet);
    Print("\nverdict: " + VerdictLine(fleet) + " (exit code " + Number(FleetExitCode(fleet)) +
          ")\n");
}

}  // namespace vireo

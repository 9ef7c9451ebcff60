// What vireo-summary makes of a fleet: the console summary, the CSV (one row
// per unit) and a self-contained HTML page.
#pragma once

#include "summary/fleet.h"

namespace vireo {

// What a machine ID on more than one computer means, and what to do.
extern const char kSharedIdAdvice[];

void PrintSummary(const Fleet& fleet, const char* folder);

// False when the file cannot be written.
bool WriteCsv(const Fleet& fleet, const char* path);
bool WriteHtml(const Fleet& fleet, const char* folder, const char* path);

// "PC-07 (machine ID X, verified T)"; a unit without one says "no machine ID".
std::string DescribeUnit(const UnitRow& row);

}  // namespace vireo

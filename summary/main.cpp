// vireo-summary: reads the verifier's reports of many units from one folder
// and says, on the console and optionally as a CSV and an HTML page, how many
// passed, which check fails most, which units failed and why, and which units
// share one machine ID.
//
//     vireo-summary FOLDER [/csv FILE] [/html FILE]
//
// Exit code 0 when every unit read passed and no machine ID is on two
// computers, 1 when a unit did not pass or one is, 2 when no report could be
// read (or the arguments are wrong, or an output cannot be written).
#include <windows.h>

#include <cstdio>
#include <string>

#include "common/handles.h"
#include "summary/fleet.h"
#include "summary/outputs.h"
#include "summary/report_file.h"
#include "summary/text.h"

#include "common/safe_strings.h"

namespace vireo {
namespace {

struct Options {
    const char* folder = nullptr;
    const char* csvPath = nullptr;
    const char* htmlPath = nullptr;
};

bool IsSwitch(const char* argument, const char* name) {
    return (argument[0] == '/' || argument[0] == '-') && lstrcmpiA(argument + 1, name) == 0;
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (IsSwitch(argv[i], "csv") && hasValue && options.csvPath == nullptr)
            options.csvPath = argv[++i];
        else if (IsSwitch(argv[i], "html") && hasValue && options.htmlPath == nullptr)
            options.htmlPath = argv[++i];
        else if (argv[i][0] != '/' && argv[i][0] != '-' && options.folder == nullptr)
            options.folder = argv[i];
        else
            return false;
    }
    return options.folder != nullptr;
}

// Says how to call the program; the exit code for wrong arguments.
int PrintUsage() {
    (void)fputs(
        "usage: vireo-summary FOLDER [/csv FILE] [/html FILE]\n"
        "  Summarises the verifier's reports (*.json) in FOLDER.\n"
        "  /csv FILE    one row per unit, UTF-8 with a byte-order mark\n"
        "  /html FILE   one self-contained page\n"
        "  Exit code: 0 every unit passed and no machine ID is shared, 1 otherwise,\n"
        "  2 no report could be read.\n",
        stdout);
    return kFleetNothingRead;
}

std::string PathIn(const char* folder, const char* name) {
    std::string path = folder;
    if (!path.empty() && path.back() != '\\' && path.back() != '/') path += '\\';
    return path + name;
}

// Every file of the folder (not its subfolders), read one at a time.
// False when the folder cannot be listed.
bool ReadFolder(const char* folder, Fleet& fleet) {
    WIN32_FIND_DATAA found;
    UniqueFindHandle listing(FindFirstFileA(PathIn(folder, "*").c_str(), &found));
    if (!listing) return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        found.cFileName[ARRAYSIZE(found.cFileName) - 1] = '\0';
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        const std::string name = Utf8FromAnsi(found.cFileName);
        if (!HasReportName(found.cFileName)) {
            AddNotRead(fleet, name.c_str(), "not a report's name (a report's ends in .json)");
            continue;
        }
        UnitReport report;
        std::string why;
        if (ReadReportFile(PathIn(folder, found.cFileName).c_str(), report, why))
            AddReport(fleet, name.c_str(), std::move(report));
        else
            AddNotRead(fleet, name.c_str(), why);
    } while (FindNextFileA(listing.get(), &found));
    return true;
}

bool WriteOutputs(const Options& options, const Fleet& fleet, const std::string& folder) {
    bool written = true;
    if (options.csvPath != nullptr && !WriteCsv(fleet, options.csvPath)) {
        (void)fprintf(stdout, "cannot write %s\n", options.csvPath);
        written = false;
    }
    if (options.htmlPath != nullptr && !WriteHtml(fleet, folder.c_str(), options.htmlPath)) {
        (void)fprintf(stdout, "cannot write %s\n", options.htmlPath);
        written = false;
    }
    return written;
}

int SummariseFolder(const Options& options) {
    const DWORD attributes = GetFileAttributesA(options.folder);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        (void)fprintf(stdout, "cannot summarise: %s is not a folder\n", options.folder);
        return kFleetNothingRead;
    }
    Fleet fleet;
    if (!ReadFolder(options.folder, fleet)) {
        (void)fprintf(stdout, "cannot summarise: %s cannot be listed (error %lu)\n", options.folder,
                      GetLastError());
        return kFleetNothingRead;
    }
    Summarise(fleet);
    const std::string folder = Utf8FromAnsi(options.folder);
    if (fleet.rows.empty() && fleet.notRead.empty()) {
        (void)fprintf(stdout, "no reports: %s is empty\n", options.folder);
        return kFleetNothingRead;
    }
    PrintSummary(fleet, folder.c_str());
    if (!WriteOutputs(options, fleet, folder)) return kFleetNothingRead;
    return FleetExitCode(fleet);
}

}  // namespace
}  // namespace vireo

int main(int argc, char** argv) {
    // Thousands of lines for a large fleet: written in large blocks, not one
    // write per line.
    (void)setvbuf(stdout, nullptr, _IOFBF, 64 * 1024);
    vireo::Options options;
    const int exitCode = vireo::ParseOptions(argc, argv, options) ? vireo::SummariseFolder(options)
                                                                  : vireo::PrintUsage();
    (void)fflush(stdout);
    return exitCode;
}

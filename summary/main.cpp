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
#include <vector>

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

// One file of the folder that has a report's name, and what reading it gave.
struct ListedReport {
    std::string path;
    bool read = false;
    UnitReport report;
    std::string why;
};

// The reports are read and parsed on two threads, each taking every other
// file and holding one file's text at a time; most of the time goes to
// opening and parsing, which the threads overlap.
constexpr size_t kReadingThreads = 2;

// The reports read before they join the rows: a batch's checks are held by
// name until then.
constexpr size_t kBatch = 256;

struct ReadingShare {
    std::vector<ListedReport>* reports;
    size_t first;
};

DWORD WINAPI ReadShare(void* parameter) {
    const ReadingShare& share = *static_cast<const ReadingShare*>(parameter);
    std::vector<ListedReport>& reports = *share.reports;
    for (size_t i = share.first; i < reports.size(); i += kReadingThreads)
        reports[i].read =
            ReadReportFile(reports[i].path.c_str(), reports[i].report, reports[i].why);
    return 0;
}

// Reads the listed reports; a share whose thread cannot start is read on
// this thread.
void ReadReports(std::vector<ListedReport>& reports) {
    ReadingShare shares[kReadingThreads];
    UniqueHandle threads[kReadingThreads];
    HANDLE started[kReadingThreads];
    DWORD startedCount = 0;
    shares[0] = {&reports, 0};
    for (size_t k = 1; k < kReadingThreads; ++k) {
        shares[k] = {&reports, k};
        threads[k].reset(CreateThread(nullptr, 0, ReadShare, &shares[k], 0, nullptr));
        if (threads[k])
            started[startedCount++] = threads[k].get();
        else
            ReadShare(&shares[k]);
    }
    ReadShare(&shares[0]);
    if (startedCount > 0) (void)WaitForMultipleObjects(startedCount, started, TRUE, INFINITE);
}

// Reads the reports of the batch of names that begins at first and adds
// them to the fleet.
void ReadBatch(const char* folder, const std::vector<std::string>& names, size_t first,
               Fleet& fleet) {
    const size_t end = names.size() - first > kBatch ? first + kBatch : names.size();
    std::vector<ListedReport> batch(end - first);
    for (size_t i = first; i < end; ++i) batch[i - first].path = PathIn(folder, names[i].c_str());
    ReadReports(batch);
    for (size_t i = first; i < end; ++i) {
        ListedReport& listed = batch[i - first];
        const std::string name = Utf8FromAnsi(names[i].c_str());
        if (listed.read)
            AddReport(fleet, name.c_str(), std::move(listed.report));
        else
            AddNotRead(fleet, name.c_str(), listed.why);
    }
}

// Every file of the folder (not its subfolders). False when the folder
// cannot be listed.
bool ReadFolder(const char* folder, Fleet& fleet) {
    WIN32_FIND_DATAA found;
    UniqueFindHandle listing(FindFirstFileA(PathIn(folder, "*").c_str(), &found));
    if (!listing) return GetLastError() == ERROR_FILE_NOT_FOUND;
    std::vector<std::string> names;  // of the files with a report's name
    do {
        found.cFileName[ARRAYSIZE(found.cFileName) - 1] = '\0';
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        if (HasReportName(found.cFileName))
            names.emplace_back(found.cFileName);
        else
            AddNotRead(fleet, Utf8FromAnsi(found.cFileName).c_str(),
                       "not a report's name (a report's ends in .json)");
    } while (FindNextFileA(listing.get(), &found));
    for (size_t first = 0; first < names.size(); first += kBatch)
        ReadBatch(folder, names, first, fleet);
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

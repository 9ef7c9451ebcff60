// vireo-summary.exe as a process, on folders of reports built here: what it
// reads, what it refuses and why, the CSV and the page it writes, and its
// exit code. The bench's own units' reports are summed up by the bench.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/machine.h"

namespace vireo::testing {
namespace {

constexpr char kFolder[] = "C:\\summary-test";
constexpr char kReports[] = "C:\\summary-test\\reports";

struct ReportFile {
    std::string name;
    std::string text;
};

// A report as the verifier writes it: two checks, the second failing when
// the unit failed.
std::string Report(const std::string& machineId, const std::string& computer,
                   const std::string& time, int exitCode) {
    const char* second = exitCode == 1 ? "FAIL" : exitCode == 2 ? "SKIP" : "PASS";
    return "{\n  \"machine_id\": \"" + machineId + "\", \"computer_name\": \"" + computer +
           "\", \"time\": \"" + time +
           "\",\n  \"hive\": \"HKCU\",\n  \"last_pass\": \"12/09/26 09:58:01\", \"not_checked\": "
           "\"the installer's own work\", \"exit_code\": " +
           std::to_string(exitCode) +
           ",\n  \"checks\": [\n    {\"check\": \"activity log\", \"status\": \"PASS\", \"seen\": "
           "\"\", \"expected\": \"\"},\n    {\"check\": \"MachineID\", \"status\": \"" +
           second + "\", \"seen\": \"\", \"expected\": \"\"}\n  ]\n}\n";
}

class Summary : public ::testing::Test {
protected:
    void SetUp() override {
        DeleteFolderTree(kFolder);
        EnsureFolder(kReports);
        CopyFileOrFail(TestBinFolder() + "\\vireo-summary.exe", Program());
    }
    void TearDown() override { DeleteFolderTree(kFolder); }

    static std::string Program() { return std::string(kFolder) + "\\vireo-summary.exe"; }
    static std::string Output(const char* name) { return std::string(kFolder) + "\\" + name; }

    static void Put(const std::vector<ReportFile>& files) {
        for (const ReportFile& file : files) {
            const std::string path = std::string(kReports) + "\\" + file.name;
            HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
            ASSERT_NE(INVALID_HANDLE_VALUE, handle) << path;
            DWORD written = 0;
            EXPECT_TRUE(WriteFile(handle, file.text.data(), static_cast<DWORD>(file.text.size()),
                                  &written, nullptr));
            CloseHandle(handle);
        }
    }

    // Runs the program through cmd, its console output into a file.
    static DWORD Run(const std::string& arguments) {
        const std::string command = "cmd.exe /c \"\"" + Program() + "\" " + arguments + " > " +
                                    Output("console.txt") + "\"";
        char system[MAX_PATH];
        EXPECT_NE(0u, GetSystemDirectoryA(system, MAX_PATH));
        TestProcess process(std::string(system) + "\\cmd.exe", command);
        EXPECT_TRUE(process.started());
        return process.WaitForExit(30000).value_or(0xFFFFFFFF);
    }
};

// One folder of good and bad files: every bad file is named with its reason,
// the rest are summed up, and the CSV and the page say the same.
TEST_F(Summary, BadFilesAreNamedAndTheRestAreSummedUp) {
    const std::string good = Report("UNIT-1", "PC-01", "2026-12-09T10:00:00Z", 0);
    Put({{"UNIT-1_PC-01.json", good},
         {"UNIT-2_PC-02.json", Report("UNIT-2", "PC-02", "2026-12-09T12:00:00Z", 1)},
         {"UNIT-2_PC-02 copy.json", Report("UNIT-2", "pc-02", "2026-12-09T08:00:00Z", 0)},
         {"UNIT-3_PC-03.json", Report("UNIT-3", "PC-03", "2026-12-09T10:00:00Z", 2)},
         {"UNIT-1_PC-04.json",
          "\xEF\xBB\xBF" + Report("UNIT-1", "PC-04", "2026-12-09T10:00:00Z", 0)},
         {"Q_PC-05.json", Report("=SUM(1,2) \\\"q\\\"", "PC-05", "2026-12-09T10:00:00Z", 1)},
         {"notes.txt", good},
         {"A_B.json", "[1, 2]"},
         {"C_D.json", "{\"machine_id\": 5}"},
         {"E_F.json", good.substr(0, 120)},
         {"G_H.json", std::string(1024 * 1024 + 1, ' ')},
         {"I_J.json", std::string(100000, '[') + std::string(100000, ']')},
         {"K_L.json", "{\"machine_id\": \"\xC3\x28\"}"},
         {"M_N.json", ""},
         {"O_P.json", good.substr(0, 40) + std::string(1, '\0') + good.substr(40)}});

    EXPECT_EQ(1u, Run(std::string(kReports) + " /csv " + Output("units.csv") + " /html " +
                      Output("units.html")));

    const std::string console = ReadFileBytes(Output("console.txt")).value_or("<no output>");
    for (const char* line :
         {"reports in C:\\summary-test\\reports: 6 read, 9 not read\r\n",
          "units: 5 (passed 2, failed 2, cannot be verified 1)\r\n",
          "  PC-02 (machine ID UNIT-2, verified 2026-12-09T12:00:00Z): FAIL MachineID\r\n",
          "  PC-05 (machine ID =SUM(1,2) \"q\", verified 2026-12-09T10:00:00Z): FAIL MachineID\r\n",
          "  PC-03 (machine ID UNIT-3, verified 2026-12-09T10:00:00Z)\r\n",
          "  UNIT-1 on 2 computers: PC-01, PC-04\r\n",
          "    not counted: UNIT-2_PC-02 copy.json (verified 2026-12-09T08:00:00Z)\r\n",
          "  notes.txt: not a report's name (a report's ends in .json)\r\n",
          "  A_B.json: JSON of another shape (not an object)\r\n",
          "  C_D.json: JSON of another shape (no valid \"machine_id\")\r\n",
          "  E_F.json: truncated (the JSON stops at byte 120)\r\n",
          "  G_H.json: over 1 MiB, larger than any report\r\n",
          "  I_J.json: JSON of another shape (not an object)\r\n",
          "  K_L.json: not JSON (at byte 16: Invalid encoding in string)\r\n",
          "  M_N.json: not JSON (empty)\r\n",
          "  O_P.json: not JSON (at byte 40: a NUL character)\r\n",
          "verdict: 2 units failed, 1 cannot be verified, 1 machine ID on more than one computer "
          "(exit code 1)\r\n"})
        EXPECT_NE(std::string::npos, console.find(line)) << line << console;

    // One row per unit counted, quoted as RFC 4180 quotes, a formula defused.
    EXPECT_EQ(
        "\xEF\xBB\xBFmachine_id,computer,time,last_pass,exit_code,failing_checks\r\n"
        "\"'=SUM(1,2) \"\"q\"\"\",PC-05,2026-12-09T10:00:00Z,12/09/26 09:58:01,1,MachineID\r\n"
        "UNIT-1,PC-01,2026-12-09T10:00:00Z,12/09/26 09:58:01,0,\r\n"
        "UNIT-1,PC-04,2026-12-09T10:00:00Z,12/09/26 09:58:01,0,\r\n"
        "UNIT-2,PC-02,2026-12-09T12:00:00Z,12/09/26 09:58:01,1,MachineID\r\n"
        "UNIT-3,PC-03,2026-12-09T10:00:00Z,12/09/26 09:58:01,2,\r\n",
        ReadFileBytes(Output("units.csv")).value_or("<no CSV>"));

    const std::string page = ReadFileBytes(Output("units.html")).value_or("<no page>");
    for (const char* part : {"id=\"units\">5<", "id=\"passed\">2<", "id=\"failed\">2<",
                             "id=\"unverified\">1<", "id=\"shared-ids\">1<", "id=\"not-read\">9<",
                             "=SUM(1,2) &quot;q&quot;", "<td>MachineID</td><td class=\"n\">2</td>"})
        EXPECT_NE(std::string::npos, page.find(part)) << part;
    for (const char* outside : {"<script", "src=", "href=", "url(", "http:", "https:"})
        EXPECT_EQ(std::string::npos, page.find(outside)) << outside;
}

// More reports than one batch of reading holds, read on two threads: every
// one is counted, whatever file a batch begins or ends with.
TEST_F(Summary, EveryReportOfALargeFolderIsCounted) {
    std::vector<ReportFile> files;
    for (int unit = 1; unit <= 601; ++unit) {
        const std::string id = "UNIT-" + std::to_string(unit);
        const std::string computer = "PC-" + std::to_string(unit);
        files.push_back({id + "_" + computer + ".json",
                         Report(id, computer, "2026-12-09T10:00:00Z", unit % 100 == 0 ? 1 : 0)});
    }
    files.push_back({"broken.json", "{"});
    Put(files);

    EXPECT_EQ(1u, Run(kReports));
    const std::string console = ReadFileBytes(Output("console.txt")).value_or("<no output>");
    for (const char* line : {"reports in C:\\summary-test\\reports: 601 read, 1 not read\r\n",
                             "units: 601 (passed 595, failed 6, cannot be verified 0)\r\n",
                             "  PC-600 (machine ID UNIT-600, verified 2026-12-09T10:00:00Z): FAIL "
                             "MachineID\r\n"})
        EXPECT_NE(std::string::npos, console.find(line)) << line << console;
}

// The exit code: 0 every unit passed and no machine ID is shared (the latest
// of a unit's reports counts), 1 otherwise, 2 when nothing could be read.
TEST_F(Summary, ExitCodeSaysWhetherEveryUnitPassed) {
    const std::string pass = Report("UNIT-1", "PC-01", "2026-12-09T10:00:00Z", 0);
    const struct {
        const char* what;
        std::vector<ReportFile> files;
        std::string arguments;
        DWORD exitCode;
    } cases[] = {
        {"an empty folder", {}, kReports, 2},
        {"no such folder", {}, std::string(kReports) + "\\missing", 2},
        {"only files that are not reports", {{"notes.txt", pass}, {"A_B.json", "{"}}, kReports, 2},
        {"one unit that passed", {{"UNIT-1_PC-01.json", pass}}, kReports, 0},
        {"a unit that cannot be verified",
         {{"UNIT-1_PC-01.json", pass},
          {"UNIT-2_PC-02.json", Report("UNIT-2", "PC-02", "2026-12-09T10:00:00Z", 2)}},
         kReports,
         1},
        {"two computers with one machine ID",
         {{"UNIT-1_PC-01.json", pass},
          {"UNIT-1_PC-02.json", Report("UNIT-1", "PC-02", "2026-12-09T10:00:00Z", 0)}},
         kReports,
         1},
        {"a unit that failed, then passed",
         {{"UNIT-1_PC-01.json", pass},
          {"UNIT-1_PC-01 old.json", Report("UNIT-1", "PC-01", "2026-12-09T09:00:00Z", 1)}},
         kReports,
         0},
        {"no folder named", {}, "/csv " + Output("units.csv"), 2},
        {"a CSV that cannot be written",
         {{"UNIT-1_PC-01.json", pass}},
         std::string(kReports) + " /csv " + Output("missing\\units.csv"),
         2},
    };
    for (const auto& row : cases) {
        DeleteFolderTree(kReports);
        EnsureFolder(kReports);
        Put(row.files);
        EXPECT_EQ(row.exitCode, Run(row.arguments)) << row.what;
    }
}

}  // namespace
}  // namespace vireo::testing

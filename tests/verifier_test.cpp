// vireo-verify.exe as a process, for what no bench profile shows: whose hive
// it reads, when it cannot verify, and which pass of a log that holds several
// decides. It runs from a folder of its own beside the bench's powrprof.dll
// (loaded native through the tests' DLL override). Its JSON report is what
// the cases read back.
#include <gtest/gtest.h>

#include "common/pass_record.h"
#include "support/machine.h"
#include "vireodll/activity_log.h"

namespace vireo::testing {
namespace {

constexpr char kFolder[] = "C:\\verifier-test";
constexpr char kSystemSettings[] = "S-1-5-18\\Software\\Corvane\\Pallister";

class Verifier : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureFolder(kFolder);
        CopyFileOrFail(TestBinFolder() + "\\vireo-verify.exe", Program());
        CopyFileOrFail(BenchBuildFolder() + "\\powrprof.dll",
                       std::string(kFolder) + "\\powrprof.dll");
        DeleteKeyTree(HKEY_CURRENT_USER, kTestSettingsKey);
        DeleteKeyTree(HKEY_USERS, kSystemSettings);
        DeleteFileIfPresent(Report());
        EnsureFolder("C:\\SYSTEM.SAV");
        DeleteFileIfPresent(kTestLogPath);
        SetLogPath(kTestLogPath);
    }
    void TearDown() override {
        DeleteKeyTree(HKEY_USERS, kSystemSettings);
        SetLogPath("");
    }

    static std::string Program() { return std::string(kFolder) + "\\vireo-verify.exe"; }
    static std::string Report() { return std::string(kFolder) + "\\report.json"; }

    static DWORD Run(const std::string& arguments) {
        TestProcess process(Program(), "\"" + Program() + "\" " + arguments);
        EXPECT_TRUE(process.started());
        return process.WaitForExit(30000).value_or(0xFFFFFFFF);
    }
    static std::string RunForReport() {
        Run("/json " + Report());
        return ReadFileBytes(Report()).value_or("<no report>");
    }
};

// With a settings key to read, a plain run verifies (and fails: no log);
// bad arguments or a hive that is not loaded cannot verify.
TEST_F(Verifier, BadArgumentsOrAHiveThatIsNotLoadedCannotVerify) {
    WriteString(HKEY_CURRENT_USER, kTestSettingsKey, kMachineIdValue, "USER-UNIT-3");
    const std::pair<const char*, DWORD> cases[] = {{"", 1u},
                                                   {"/nonsense", 2u},
                                                   {"/user", 2u},
                                                   {"/json", 2u},
                                                   {"/user S-1-5-21-1-2-3-4242", 2u}};
    for (const auto& [arguments, exitCode] : cases)
        EXPECT_EQ(exitCode, Run(arguments)) << arguments;
}

TEST_F(Verifier, WithoutTheCurrentUsersKeySystemsHiveIsReadAndNamed) {
    WriteString(HKEY_USERS, kSystemSettings, kMachineIdValue, "SYSTEM-UNIT-7");
    const std::string report = RunForReport();
    EXPECT_NE(std::string::npos, report.find("\"machine_id\": \"SYSTEM-UNIT-7\"")) << report;
    EXPECT_NE(std::string::npos, report.find("HKU\\\\S-1-5-18\\\\Software")) << report;

    // The current user's key, once there, comes first.
    WriteString(HKEY_CURRENT_USER, kTestSettingsKey, kMachineIdValue, "USER-UNIT-3");
    const std::string own = RunForReport();
    EXPECT_NE(std::string::npos, own.find("\"machine_id\": \"USER-UNIT-3\"")) << own;
    EXPECT_NE(std::string::npos, own.find("(the current user)")) << own;
}

// The log holds every pass ever run; only the last one counts.
TEST_F(Verifier, TheLastPassOfTheLogDecides) {
    struct Case {
        bool firstEnds, lastEnds;
        const char* status;
    } cases[] = {{true, false, "FAIL"}, {false, true, "PASS"}};
    for (const Case& c : cases) {
        DeleteFileIfPresent(kTestLogPath);
        for (bool ends : {c.firstEnds, c.lastEnds}) {
            WriteLog(kLogBeginMarker, "");
            if (ends) WriteLog(kLogEndMarker, "\r\n");
        }
        const std::string report = RunForReport();
        const std::string expected = std::string("\"check\": \"activity log\", \"status\": \"") +
                                     c.status + "\"";
        EXPECT_NE(std::string::npos, report.find(expected)) << report;
    }
}

}  // namespace
}  // namespace vireo::testing

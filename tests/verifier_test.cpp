// vireo-verify.exe as a process, for what no bench profile shows: whose hive
// it reads, when it cannot verify, how the log's last pass ties the values,
// and what it reads where. It runs from a folder of its own, with the bench's
// powrprof.dll in the system folder (loaded native through the tests' DLL
// override). Its JSON report is what the cases read back.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "common/pass_record.h"
#include "fabricate.h"
#include "support/machine.h"
#include "vireodll/activity_log.h"

namespace vireo::testing {
namespace {

constexpr char kFolder[] = "C:\\verifier-test";
constexpr char kSystemSettings[] = "S-1-5-18\\Software\\Corvane\\Pallister";
// Where the bench's powrprof.dll reads the Balanced scheme's name.
constexpr char kBalancedSchemeKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Power\\User\\PowerSchemes\\"
    "381b4222-f694-41f0-9685-ff5bb260df2e";
constexpr char kOtherHive[] = "S-1-5-21-9-9-9-1234";
constexpr char kOtherSettings[] = "S-1-5-21-9-9-9-1234\\Software\\Corvane\\Pallister";

class Verifier : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureFolder(kFolder);
        CopyFileOrFail(TestBinFolder() + "\\vireo-verify.exe", Program());
        // The bench's powrprof.dll in the system folder, where the verifier
        // loads it from; Wine's own is kept aside once and put back after.
        if (!FileExists(WinesPowrprof())) CopyFileOrFail(SystemPowrprof(), WinesPowrprof());
        CopyFileOrFail(BenchBuildFolder() + "\\powrprof.dll", SystemPowrprof());
        DeleteFileIfPresent(std::string(kFolder) + "\\powrprof.dll");
        DeleteKeyTree(HKEY_CURRENT_USER, kTestSettingsKey);
        DeleteKeyTree(HKEY_USERS, kSystemSettings);
        DeleteKeyTree(HKEY_USERS, kOtherHive);
        DeleteFileIfPresent(Report());
        EnsureFolder("C:\\SYSTEM.SAV");
        DeleteFileIfPresent(kTestLogPath);
        SetLogPath(kTestLogPath);
    }
    void TearDown() override {
        CopyFileOrFail(WinesPowrprof(), SystemPowrprof());
        DeleteKeyTree(HKEY_USERS, kSystemSettings);
        DeleteKeyTree(HKEY_USERS, kOtherHive);
        SetLogPath("");
    }

    static std::string Program() { return std::string(kFolder) + "\\vireo-verify.exe"; }
    static std::string Report() { return std::string(kFolder) + "\\report.json"; }
    static std::string WinesPowrprof() { return std::string(kFolder) + "\\wine-powrprof.dll"; }
    static std::string SystemPowrprof() {
        char folder[MAX_PATH];
        EXPECT_NE(0u, GetSystemDirectoryA(folder, MAX_PATH));
        return std::string(folder) + "\\powrprof.dll";
    }

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
    WriteLog(kLogBeginMarker, "");
    const std::pair<std::string, DWORD> cases[] = {{"", 1u},
                                                   {"/nonsense", 2u},
                                                   {"/user", 2u},
                                                   {"/json", 2u},
                                                   {"/user S-1-5-21-1-2-3-4242", 2u},
                                                   {"/user \"\"", 2u},
                                                   {"/user S-1-5-18\\Software", 2u},
                                                   {"/json " + std::string(kTestLogPath), 2u}};
    for (const auto& [arguments, exitCode] : cases)
        EXPECT_EQ(exitCode, Run(arguments)) << arguments;
    // A report aimed at the activity log is refused, and the log kept.
    EXPECT_NE(std::string::npos, ReadFileBytes(kTestLogPath).value_or("").find("Begin Vireo"));
}

// A folder gets one report per unit, named by its machine ID and computer
// name; /pass-only lists the scheme checks as skipped.
TEST_F(Verifier, AFolderGetsAReportNamedByTheUnitAndPassOnlySkipsTheScheme) {
    WriteString(HKEY_CURRENT_USER, kTestSettingsKey, kMachineIdValue, "CRV:7/B?2");
    char computer[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = ARRAYSIZE(computer);
    ASSERT_TRUE(GetComputerNameA(computer, &size));
    const std::string report = std::string(kFolder) + "\\CRV_7_B_2_" + computer + ".json";
    DeleteFileIfPresent(report);
    Run("/pass-only /json " + std::string(kFolder) + "\\");
    const std::string json = ReadFileBytes(report).value_or("<no report>");
    for (const char* check : {"scheme name", "scheme active", "scheme lid-close action DC"})
        EXPECT_NE(std::string::npos,
                  json.find(std::string("\"check\": \"") + check + "\", \"status\": \"SKIP\""))
            << check << json;
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

// The hive that ran the last pass is the one holding its machine ID, wherever
// it is loaded; with a pass logged and no hive holding a settings key, the
// account is not loaded and the unit cannot be verified.
TEST_F(Verifier, TheHiveHoldingTheLastPassIsFoundOrTheUnitCannotBeVerified) {
    WriteLog(kLogBeginMarker, "");
    WriteLog(kMachineIdLine, "PASS-UNIT-9");
    WriteLog(kLogEndMarker, "\r\n");
    EXPECT_EQ(2u, Run(""));

    WriteString(HKEY_CURRENT_USER, kTestSettingsKey, kMachineIdValue, "EARLIER-UNIT-1");
    WriteString(HKEY_USERS, kOtherSettings, kMachineIdValue, "PASS-UNIT-9");
    const std::string report = RunForReport();
    EXPECT_NE(std::string::npos, report.find("\"machine_id\": \"PASS-UNIT-9\"")) << report;
    EXPECT_NE(std::string::npos, report.find("S-1-5-21-9-9-9-1234\\\\Software")) << report;

    // The pass's hive closed to this account: the current user's key, an
    // earlier run's, is not taken for it.
    SetKeyReadable(HKEY_USERS, kOtherSettings, false);
    EXPECT_EQ(2u, Run(""));
    SetKeyReadable(HKEY_USERS, kOtherSettings, true);
}

// The log holds every pass ever run; only the last one counts.
TEST_F(Verifier, TheLastPassOfTheLogDecides) {
    WriteString(HKEY_CURRENT_USER, kTestSettingsKey, kMachineIdValue, "USER-UNIT-3");
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

// The recorded values must be the last pass's own: rows of a log and a
// settings key, with the verdicts of the checks they decide.
TEST_F(Verifier, RecordedValuesAreTiedToTheLastPass) {
    const std::string adapter = "{4D36E972-E325-11CE-BFC1-08002BE10318}\\0007";
    const std::string control = kControlSet001Class + adapter;
    const std::string current = kCurrentControlSetClass + adapter;
    using Lines = std::vector<std::pair<std::string, std::string>>;
    using Values = std::vector<std::pair<std::string, std::string>>;
    const Lines bios = {{kWirelessAttemptLine, "first"},
                        {kWirelessCallFailedLine, "\r\n"},
                        {kWirelessAttemptLine, "second"},
                        {kWirelessRefusedLine, "\r\n"}};
    Lines noCard = bios;
    noCard.insert(noCard.end(), {{kWirelessAttemptLine, "third"}, {kWirelessShortIdLine, "\r\n"}});
    const std::string longId(MAX_PATH - 1, 'M');
    struct Case {
        const char* what;
        Lines lastPass;  // an earlier pass always logged machine ID A and GUID1
        Values values;
        Values statuses;
    } cases[] = {
        {"every BIOS call failed", bios, {{"WLANID", "WLAN"}}, {{"WLANID", "FAIL"}}},
        {"the BIOS once said no card", noCard, {{"WLANID", "WLAN"}}, {{"WLANID", "WARN"}}},
        {"the machine ID of an earlier pass", {}, {{"MachineID", "A"}}, {{"MachineID", "FAIL"}}},
        {"another machine ID",
         {{kMachineIdLine, "B"}},
         {{"MachineID", "A"}},
         {{"MachineID", "FAIL"}}},
        {"the last pass's machine ID, 259 characters",
         {{kMachineIdLine, longId}},
         {{"MachineID", longId}},
         {{"MachineID", "PASS"}}},
        {"GUID1 missing in the last pass",
         {{kGuid1MissingLine, "\r\n"}},
         {{"GUID1", adapter}, {"Control-GUID1", control}},
         {{"Control-GUID1", "FAIL"}}},
        {"GUID1 logged under the other class root",
         {{kGuid1HandledLine, current}},
         {{"GUID1", adapter}, {"Control-GUID1", control}},
         {{"Control-GUID1", "PASS"}}},
        {"a model without GUID2 and GUID3",
         {},
         {{"GUID1", adapter}},
         {{"Current-GUID2", "SKIP"}, {"PnPCapabilities Control-GUID3", "SKIP"}}},
        {"GUID2 named but not recorded", {}, {{"GUID2", adapter}}, {{"Current-GUID2", "FAIL"}}},
    };
    for (const Case& c : cases) {
        DeleteFileIfPresent(kTestLogPath);
        DeleteKeyTree(HKEY_CURRENT_USER, kTestSettingsKey);
        WriteLog(kLogBeginMarker, "");
        WriteLog(kMachineIdLine, "A");
        WriteLog(kGuid1HandledLine, current.c_str());
        WriteLog(kLogEndMarker, "\r\n");
        WriteLog(kLogBeginMarker, "");
        for (const auto& [message, suffix] : c.lastPass) WriteLog(message.c_str(), suffix.c_str());
        WriteLog(kLogEndMarker, "\r\n");
        for (const auto& [name, text] : c.values)
            WriteString(HKEY_CURRENT_USER, kTestSettingsKey, name, text);
        const std::string report = RunForReport();
        for (const auto& [check, status] : c.statuses)
            EXPECT_NE(std::string::npos,
                      report.find("\"check\": \"" + check + "\", \"status\": \"" + status + "\""))
                << c.what << ": " << check << " " << status << "\n"
                << report;
    }
}

// Only the live control set's value is in force, only a present adapter's
// driver key counts, and the scheme's name is compared as stored: rows of
// what the registry and the device list hold, with the verdict.
TEST_F(Verifier, ValuesInForceAndNamesAsStoredDecide) {
    const std::string classKey = "{4d36e972-e325-11ce-bfc1-08002be10318}\\0093";
    const std::string adapter = "{4D36E972-E325-11CE-BFC1-08002BE10318}\\0093";
    WriteString(HKEY_CURRENT_USER, kTestSettingsKey, "Control-GUID1",
                kControlSet001Class + adapter);
    const DWORD on = 288, stock = 24;
    const auto capability = [](DWORD value) {
        return std::string(reinterpret_cast<const char*>(&value), sizeof(value));
    };
    GUID netClass, adapterInterface;
    ASSERT_TRUE(bench::ParseGuid("{4D36E972-E325-11CE-BFC1-08002BE10318}", &netClass));
    ASSERT_TRUE(bench::ParseGuid("{AD498944-762F-11D0-8DCB-00C04FC3358C}", &adapterInterface));
    struct Case {
        DWORD live;
        const char* adapterDriverKey;  // nullptr: no adapter at all
        std::wstring name;
        const char* capabilityStatus;
        const char* nameStatus;
        bool liveKeyClosed = false;  // CurrentControlSet's key closed to this account
    } cases[] = {
        {on, classKey.c_str(), L"Corvane Optimized", "PASS", "PASS"},
        // A dotless i: the ANSI code page's best fit would make it the maker's name.
        {stock, classKey.c_str(), L"Corvane Opt\x0131mized", "FAIL", "FAIL"},
        {on, classKey.c_str(), L"Corvane Optimized" + std::wstring(180, L'x'), "PASS", "FAIL"},
        // The script named a key, and the pass set it, but no adapter uses it.
        {on, nullptr, L"Corvane Optimized", "FAIL", "PASS"},
        {on, "{4d36e972-e325-11ce-bfc1-08002be10318}\\0094", L"Corvane Optimized", "FAIL", "PASS"},
        // Closed to reading is not missing.
        {on, classKey.c_str(), L"Corvane Optimized", "SKIP", "PASS", true},
    };
    for (const Case& c : cases) {
        WriteRawValue(HKEY_LOCAL_MACHINE, kControlSet001Class + adapter, "PnPCapabilities",
                      REG_DWORD, capability(on));
        WriteRawValue(HKEY_LOCAL_MACHINE, kCurrentControlSetClass + adapter, "PnPCapabilities",
                      REG_DWORD, capability(c.live));
        WriteWideString(HKEY_LOCAL_MACHINE, kBalancedSchemeKey, L"FriendlyName", c.name);
        const std::string device =
            c.adapterDriverKey == nullptr
                ? ""
                : bench::FabricateDevice(netClass, "CRVVERIFYNET", {"PCI\\VEN_10EC&DEV_8168"},
                                         adapterInterface, c.adapterDriverKey);
        if (c.liveKeyClosed)
            SetKeyReadable(HKEY_LOCAL_MACHINE, kCurrentControlSetClass + adapter, false);
        const std::string report = RunForReport();
        if (c.liveKeyClosed)
            SetKeyReadable(HKEY_LOCAL_MACHINE, kCurrentControlSetClass + adapter, true);
        if (!device.empty()) bench::RemoveDevice(device);
        EXPECT_NE(std::string::npos,
                  report.find(std::string("\"PnPCapabilities Control-GUID1\", \"status\": \"") +
                              c.capabilityStatus))
            << report;
        EXPECT_NE(std::string::npos, report.find(std::string("\"scheme name\", \"status\": \"") +
                                                 c.nameStatus + "\", \"seen\": \"\\\"Corvane Opt"))
            << report;
    }
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kControlSet001Class + adapter);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kCurrentControlSetClass + adapter);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kBalancedSchemeKey);
}

// A powrprof.dll beside the verifier (a stick, a share) answers nothing:
// with Wine's own in the system folder, the bench's store is not read.
TEST_F(Verifier, OnlyTheSystemFoldersPowerFunctionsAnswer) {
    WriteWideString(HKEY_LOCAL_MACHINE, kBalancedSchemeKey, L"FriendlyName", L"Corvane Optimized");
    const std::pair<bool, const char*> cases[] = {{true, "PASS"}, {false, "not PASS"}};
    for (const auto& [inSystemFolder, status] : cases) {
        CopyFileOrFail(BenchBuildFolder() + "\\powrprof.dll",
                       inSystemFolder ? SystemPowrprof() : std::string(kFolder) + "\\powrprof.dll");
        if (!inSystemFolder) CopyFileOrFail(WinesPowrprof(), SystemPowrprof());
        DeleteFileIfPresent(Report());
        const std::string report = RunForReport();
        EXPECT_EQ(inSystemFolder,
                  report.find("\"scheme name\", \"status\": \"PASS\"") != std::string::npos)
            << status << "\n"
            << report;
    }
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kBalancedSchemeKey);
}

// A value of another type says so; one the pass could not have written is
// not taken for a recorded one.
TEST_F(Verifier, OddValuesAreNamedForWhatTheyAre) {
    const DWORD number = 7;
    WriteRawValue(HKEY_CURRENT_USER, kTestSettingsKey, kMachineIdValue, REG_DWORD,
                  std::string(reinterpret_cast<const char*>(&number), sizeof(number)));
    WriteString(HKEY_CURRENT_USER, kTestSettingsKey, kWlanIdValue, std::string(MAX_PATH, 'W'));
    const std::string report = RunForReport();
    EXPECT_NE(std::string::npos, report.find("\"MachineID\", \"status\": \"FAIL\", \"seen\": "
                                             "\"a value of type 4\""))
        << report;
    EXPECT_NE(std::string::npos, report.find("\"seen\": \"longer than the 260 bytes")) << report;
}

}  // namespace
}  // namespace vireo::testing

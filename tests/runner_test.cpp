// The program as a process: a build of it whose pauses are journalled runs in
// a setup folder of the prefix, with stand-ins for the installer and library.
#include <gtest/gtest.h>

#include <cstring>

#include "fabricate.h"
#include "support/machine.h"

namespace vireo::testing {
namespace {

constexpr char kSetupFolder[] = "C:\\factory\\setup";
constexpr char kSchemes[] = "SYSTEM\\CurrentControlSet\\Control\\Power\\User\\PowerSchemes";
constexpr char kBalanced[] = "381b4222-f694-41f0-9685-ff5bb260df2e";
constexpr char kHighPerformance[] = "8c5e7fda-e8bf-4a96-9a85-a6e23a8c635c";

std::string SystemFolder() {
    char path[MAX_PATH] = "";
    GetSystemDirectoryA(path, MAX_PATH);
    return path;
}

bool IsPowerCfgEvent(const std::string& event) { return event.rfind("powercfg.exe\t", 0) == 0; }

// The journal without the power-plan tool's lines, and those lines alone.
std::vector<std::string> SequenceEvents() {
    std::vector<std::string> events;
    for (const auto& event : ReadJournal())
        if (!IsPowerCfgEvent(event)) events.push_back(event);
    return events;
}
std::vector<std::string> PowerCfgEvents() {
    std::vector<std::string> events;
    for (const auto& event : ReadJournal())
        if (IsPowerCfgEvent(event)) events.push_back(event.substr(strlen("powercfg.exe\t")));
    return events;
}

// Runs the bench's powercfg directly, as the set-up of a test.
void RunPowerCfgDirectly(const std::string& parameters) {
    const std::string tool = SystemFolder() + "\\powercfg.exe";
    TestProcess process(tool, "\"" + tool + "\" " + parameters);
    ASSERT_EQ(std::optional<DWORD>(0), process.WaitForExit(30000)) << parameters;
}

class SetupSequence : public ::testing::Test {
protected:
    void SetUp() override {
        ClearJournal();
        DeleteFolderTree("C:\\factory");
        DeleteFolderTree("C:\\Corvane Tools");
        DeleteFileIfPresent("C:\\Corvane.exe");
        DeleteFileIfPresent(LibraryPath());
        EnsureFolder(ProductFolder());
        CopyFileOrFail(BenchBuildFolder() + "\\powercfg.exe", SystemFolder() + "\\powercfg.exe");
    }
    void TearDown() override { DeleteFileIfPresent(LibraryPath()); }

    static std::string LibraryPath() { return ProductFolder() + "\\VireoDll.dll"; }

    static void InstallProgram(const std::string& folder, bool withInstaller) {
        EnsureFolder(folder);
        CopyFileOrFail(TestBinFolder() + "\\defaults-runner-fastpause.exe",
                       folder + "\\defaults-runner.exe");
        if (withInstaller)
            CopyFileOrFail(BenchBuildFolder() + "\\Setup1.exe", folder + "\\Setup1.exe");
    }
    static void InstallLibrary(const char* helper) {
        CopyFileOrFail(TestBinFolder() + "\\" + helper, LibraryPath());
    }
    // Runs the program to its end and returns its exit code.
    static DWORD RunProgram(const std::string& folder, const std::string& arguments = "") {
        const std::string program = folder + "\\defaults-runner.exe";
        TestProcess process(program, "\"" + program + "\"" + arguments);
        EXPECT_TRUE(process.started());
        const auto exitCode = process.WaitForExit(60000);
        EXPECT_TRUE(exitCode) << "the program did not end";
        return exitCode.value_or(0xFFFFFFFF);
    }
    static std::string InstallerEvent(const std::string& folder) {
        return "Setup1.exe\t\"" + folder + "\\Setup1.exe\" /q";
    }
};

TEST_F(SetupSequence, RunsInstallerPausesThenCallsThePassOnceWithoutSession) {
    InstallProgram(kSetupFolder, true);
    InstallLibrary("probe-vireo.dll");
    EXPECT_EQ(0u, RunProgram(kSetupFolder));
    EXPECT_EQ(
        (std::vector<std::string>{InstallerEvent(kSetupFolder), "defaults-runner.exe\tpause 10000",
                                  "VireoDll.dll\tcrvVireoReq session=0", "VireoDll.dll\tunloaded"}),
        SequenceEvents());
}

TEST_F(SetupSequence, CommandLineIsIgnored) {
    InstallProgram(kSetupFolder, true);
    InstallLibrary("probe-vireo.dll");
    EXPECT_EQ(0u, RunProgram(kSetupFolder, " /q --skip-installer Setup1.exe"));
    EXPECT_EQ(
        (std::vector<std::string>{InstallerEvent(kSetupFolder), "defaults-runner.exe\tpause 10000",
                                  "VireoDll.dll\tcrvVireoReq session=0", "VireoDll.dll\tunloaded"}),
        SequenceEvents());
}

TEST_F(SetupSequence, MissingInstallerStillLeadsToThePass) {
    InstallProgram(kSetupFolder, false);
    InstallLibrary("probe-vireo.dll");
    EXPECT_EQ(0u, RunProgram(kSetupFolder));
    EXPECT_EQ((std::vector<std::string>{"defaults-runner.exe\tpause 10000",
                                        "VireoDll.dll\tcrvVireoReq session=0",
                                        "VireoDll.dll\tunloaded"}),
              SequenceEvents());
}

TEST_F(SetupSequence, MissingLibraryEndsTheRunWithExitCodeZero) {
    InstallProgram(kSetupFolder, true);
    EXPECT_EQ(0u, RunProgram(kSetupFolder));
    EXPECT_EQ((std::vector<std::string>{InstallerEvent(kSetupFolder),
                                        "defaults-runner.exe\tpause 10000"}),
              SequenceEvents());
    EXPECT_TRUE(PowerCfgEvents().empty()) << "the power plan must be left untouched";
}

TEST_F(SetupSequence, LibraryWithoutTheEntryIsUnloadedAndTheRunEnds) {
    InstallProgram(kSetupFolder, true);
    InstallLibrary("no-entry.dll");
    EXPECT_EQ(0u, RunProgram(kSetupFolder));
    EXPECT_EQ((std::vector<std::string>{InstallerEvent(kSetupFolder),
                                        "defaults-runner.exe\tpause 10000", "VireoDll.dll\tloaded",
                                        "VireoDll.dll\tunloaded"}),
              SequenceEvents());
    EXPECT_TRUE(PowerCfgEvents().empty()) << "the power plan must be left untouched";
}

// msi.dll is not a known DLL, so a plain load of the library would take a copy
// planted in the program's folder. Wine prefers its built-in DLLs; CTest runs
// this test with WINEDLLOVERRIDES=msi=n,b so that Wine searches for this one
// as Windows does (Wine takes overrides only from the environment it was
// started with). The plain load at the end shows the override is in force.
TEST_F(SetupSequence, LibraryImportsAreNotTakenFromTheProgramFolder) {
    InstallProgram(kSetupFolder, true);
    InstallLibrary("probe-vireo.dll");
    CopyFileOrFail(TestBinFolder() + "\\planted\\msi.dll", std::string(kSetupFolder) + "\\msi.dll");

    EXPECT_EQ(0u, RunProgram(kSetupFolder));
    EXPECT_EQ(
        (std::vector<std::string>{InstallerEvent(kSetupFolder), "defaults-runner.exe\tpause 10000",
                                  "VireoDll.dll\tcrvVireoReq session=0", "VireoDll.dll\tunloaded"}),
        SequenceEvents());

    // The same folder with a plain load takes the planted copy.
    ClearJournal();
    const std::string loader = std::string(kSetupFolder) + "\\plain-loader.exe";
    CopyFileOrFail(TestBinFolder() + "\\plain-loader.exe", loader);
    TestProcess plain(loader, "\"" + loader + "\" " + LibraryPath());
    EXPECT_EQ(std::optional<DWORD>(0), plain.WaitForExit(30000));
    const auto journal = ReadJournal();
    ASSERT_FALSE(journal.empty());
    EXPECT_EQ("msi.dll\tplanted copy loaded into plain-loader.exe", journal[0]);
}

// With an unquoted command line the platform would try "C:\Corvane.exe" with
// the rest as its arguments before the real installer.
TEST_F(SetupSequence, FolderWithSpacesNeverStartsAPlantedPrefixProgram) {
    const std::string folder = "C:\\Corvane Tools\\Setup";
    CopyFileOrFail(BenchBuildFolder() + "\\Setup1.exe", "C:\\Corvane.exe");
    InstallProgram(folder, true);
    InstallLibrary("probe-vireo.dll");
    EXPECT_EQ(0u, RunProgram(folder));
    const auto journal = ReadJournal();
    ASSERT_FALSE(journal.empty());
    EXPECT_EQ(InstallerEvent(folder), journal[0]);
    for (const auto& event : journal) EXPECT_EQ(std::string::npos, event.find("Corvane.exe"));

    // And with no installer there, the planted program still does not run.
    ClearJournal();
    DeleteFileIfPresent(folder + "\\Setup1.exe");
    EXPECT_EQ(0u, RunProgram(folder));
    EXPECT_EQ((std::vector<std::string>{"defaults-runner.exe\tpause 10000",
                                        "VireoDll.dll\tcrvVireoReq session=0",
                                        "VireoDll.dll\tunloaded"}),
              SequenceEvents());
}

// {DD2A6682-735E-4E8E-8A59-D9DCCF1EBECE}
constexpr GUID kProbeInterface = {
    0xDD2A6682, 0x735E, 0x4E8E, {0x8A, 0x59, 0xD9, 0xDC, 0xCF, 0x1E, 0xBE, 0xCE}};
constexpr GUID kSystemClass = {
    0x4d36e97d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

const std::vector<std::string> kPlanCommands = {
    "-changename 381b4222-f694-41f0-9685-ff5bb260df2e \"Corvane Optimized\"",
    "-setacvalueindex 381b4222-f694-41f0-9685-ff5bb260df2e 0012ee47-9041-4b5d-9b77-535fba8b1442 0b2d69d7-a2a1-449c-9680-f91c70521c60 2",
    "-setdcvalueindex 381b4222-f694-41f0-9685-ff5bb260df2e 0012ee47-9041-4b5d-9b77-535fba8b1442 0b2d69d7-a2a1-449c-9680-f91c70521c60 2",
    "-setacvalueindex 381b4222-f694-41f0-9685-ff5bb260df2e 0012ee47-9041-4b5d-9b77-535fba8b1442 dab60367-53fe-4fbc-825e-521d069d2456 50",
    "-setdcvalueindex 381b4222-f694-41f0-9685-ff5bb260df2e 0012ee47-9041-4b5d-9b77-535fba8b1442 dab60367-53fe-4fbc-825e-521d069d2456 50",
    "-setacvalueindex 381b4222-f694-41f0-9685-ff5bb260df2e 4f971e89-eebd-4455-a8de-9e59040e7347 5ca83367-6e45-459f-a27b-476b1d01c936 0",
    "-setdcvalueindex 381b4222-f694-41f0-9685-ff5bb260df2e 4f971e89-eebd-4455-a8de-9e59040e7347 5ca83367-6e45-459f-a27b-476b1d01c936 1",
    "-setacvalueindex 381b4222-f694-41f0-9685-ff5bb260df2e 4f971e89-eebd-4455-a8de-9e59040e7347 7648efa3-dd9c-4e3e-b566-50f929386280 3",
    "-setdcvalueindex 381b4222-f694-41f0-9685-ff5bb260df2e 4f971e89-eebd-4455-a8de-9e59040e7347 7648efa3-dd9c-4e3e-b566-50f929386280 3",
    "-setacvalueindex 381b4222-f694-41f0-9685-ff5bb260df2e 238C9FA8-0AAD-41ED-83F4-97BE242C8F20 9d7815a6-7ee4-497e-8888-515a05f02364 64800",
    "-setdcvalueindex 381b4222-f694-41f0-9685-ff5bb260df2e 238C9FA8-0AAD-41ED-83F4-97BE242C8F20 9d7815a6-7ee4-497e-8888-515a05f02364 64800",
    "-setacvalueindex 381b4222-f694-41f0-9685-ff5bb260df2e 7516b95f-f776-4464-8c53-06167f40cc99 aded5e82-b909-4619-9949-f5d71dac0bcb 100",
    "-setdcvalueindex 381b4222-f694-41f0-9685-ff5bb260df2e 7516b95f-f776-4464-8c53-06167f40cc99 aded5e82-b909-4619-9949-f5d71dac0bcb 40",
    "SETACTIVE 381b4222-f694-41f0-9685-ff5bb260df2e",
};
const char kLidOverride[] =
    "-setdcvalueindex 381b4222-f694-41f0-9685-ff5bb260df2e 4f971e89-eebd-4455-a8de-9e59040e7347 5ca83367-6e45-459f-a27b-476b1d01c936 0";

// The whole run through the bench's powercfg, which keeps a real scheme
// store and takes a random 50 to 300 ms per command.
class PowerPlan : public SetupSequence {
protected:
    void SetUp() override {
        SetupSequence::SetUp();
        RemoveProbeDevices();
        bench::DeleteServiceKey("crvdskflt");
        RunPowerCfgDirectly("-RestoreDefaultSchemes");
        RunPowerCfgDirectly(std::string("-S ") + kHighPerformance);
        ClearJournal();
        InstallProgram(kSetupFolder, true);
        InstallLibrary("probe-vireo.dll");
    }
    void TearDown() override {
        RemoveProbeDevices();
        bench::DeleteServiceKey("crvdskflt");
        SetupSequence::TearDown();
    }
    static void RemoveProbeDevices() {
        for (const auto& device : bench::ListDevices(kProbeInterface))
            bench::RemoveDevice(device.instanceId);
    }
    static void AddDiskProtection() {
        ASSERT_FALSE(
            bench::FabricateDevice(kSystemClass, "CRVDISKPROT", {"ACPI\\CRV0004"}, kProbeInterface)
                .empty());
        ASSERT_TRUE(bench::CreateServiceKey("crvdskflt"));
    }
    // Each command starts only after the one before it ended, in this order.
    static void ExpectRunOneAtATime(const std::vector<std::string>& commands) {
        std::vector<std::string> expected;
        for (const auto& command : commands) {
            expected.push_back("start " + command);
            // The dash-less command word is an unknown parameter to the tool.
            expected.push_back((command.rfind("SETACTIVE", 0) == 0 ? "exit 1 " : "exit 0 ") +
                               command);
        }
        EXPECT_EQ(expected, PowerCfgEvents());
    }
    static std::optional<DWORD> Balanced(const char* subgroup, const char* setting,
                                         const char* supply) {
        return ReadDword(HKEY_LOCAL_MACHINE,
                         std::string(kSchemes) + "\\" + kBalanced + "\\" + subgroup + "\\" +
                             setting,
                         std::string(supply) + "SettingIndex");
    }
    static void ExpectMakersScheme(DWORD batteryLidAction) {
        constexpr char kButtons[] = "4f971e89-eebd-4455-a8de-9e59040e7347";
        constexpr char kLid[] = "5ca83367-6e45-459f-a27b-476b1d01c936";
        constexpr char kPowerButton[] = "7648efa3-dd9c-4e3e-b566-50f929386280";
        constexpr char kSleep[] = "238c9fa8-0aad-41ed-83f4-97be242c8f20";
        constexpr char kHibernate[] = "9d7815a6-7ee4-497e-8888-515a05f02364";
        constexpr char kDisplay[] = "7516b95f-f776-4464-8c53-06167f40cc99";
        constexpr char kBrightness[] = "aded5e82-b909-4619-9949-f5d71dac0bcb";
        constexpr char kDisk[] = "0012ee47-9041-4b5d-9b77-535fba8b1442";
        EXPECT_EQ(std::optional<DWORD>(0), Balanced(kButtons, kLid, "AC"));
        EXPECT_EQ(std::optional<DWORD>(batteryLidAction), Balanced(kButtons, kLid, "DC"));
        EXPECT_EQ(std::optional<DWORD>(3), Balanced(kButtons, kPowerButton, "AC"));
        EXPECT_EQ(std::optional<DWORD>(3), Balanced(kButtons, kPowerButton, "DC"));
        EXPECT_EQ(std::optional<DWORD>(64800), Balanced(kSleep, kHibernate, "AC"));
        EXPECT_EQ(std::optional<DWORD>(64800), Balanced(kSleep, kHibernate, "DC"));
        EXPECT_EQ(std::optional<DWORD>(100), Balanced(kDisplay, kBrightness, "AC"));
        EXPECT_EQ(std::optional<DWORD>(40), Balanced(kDisplay, kBrightness, "DC"));
        EXPECT_EQ(std::optional<DWORD>(2),
                  Balanced(kDisk, "0b2d69d7-a2a1-449c-9680-f91c70521c60", "DC"));
        EXPECT_EQ(std::optional<DWORD>(50),
                  Balanced(kDisk, "dab60367-53fe-4fbc-825e-521d069d2456", "AC"));
        EXPECT_EQ(std::optional<std::string>("Corvane Optimized"),
                  ReadString(HKEY_LOCAL_MACHINE, std::string(kSchemes) + "\\" + kBalanced,
                             "FriendlyName"));
        EXPECT_EQ(std::optional<std::string>(kBalanced),
                  ReadString(HKEY_LOCAL_MACHINE, kSchemes, "ActivePowerScheme"));
    }
};

TEST_F(PowerPlan, WithoutDiskProtectionTheBatteryLidSleeps) {
    EXPECT_EQ(0u, RunProgram(kSetupFolder));

    auto commands = kPlanCommands;
    commands.push_back("-ReplaceDefaultSchemes");
    commands.push_back(std::string("-S ") + kBalanced);
    ExpectRunOneAtATime(commands);
    ExpectMakersScheme(1);
    const auto journal = ReadJournal();
    ASSERT_GT(journal.size(), 4u);
    EXPECT_EQ("VireoDll.dll\tunloaded", journal[3]) << "the plan follows the pass";
}

TEST_F(PowerPlan, WithDiskProtectionTheOverrideFollowsTheList) {
    AddDiskProtection();
    EXPECT_EQ(0u, RunProgram(kSetupFolder));

    auto commands = kPlanCommands;
    commands.push_back(kLidOverride);
    commands.push_back("-ReplaceDefaultSchemes");
    commands.push_back(std::string("-S ") + kBalanced);
    ExpectRunOneAtATime(commands);
    ExpectMakersScheme(0);
    EXPECT_EQ(
        std::optional<DWORD>(0),
        ReadDword(
            HKEY_LOCAL_MACHINE,
            std::string(
                "SYSTEM\\CurrentControlSet\\Control\\Power\\User\\Default\\PowerSchemes\\") +
                kBalanced +
                "\\4f971e89-eebd-4455-a8de-9e59040e7347\\5ca83367-6e45-459f-a27b-476b1d01c936",
            "DCSettingIndex"))
        << "the defaults were replaced after the override";
}

}  // namespace
}  // namespace vireo::testing

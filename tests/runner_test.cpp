// The program as a process: a build of it whose pauses are journalled runs in
// a setup folder of the prefix, with stand-ins for the installer and library.
#include <gtest/gtest.h>

#include "support/machine.h"

namespace vireo::testing {
namespace {

constexpr char kSetupFolder[] = "C:\\factory\\setup";

class SetupSequence : public ::testing::Test {
protected:
    void SetUp() override {
        ClearJournal();
        DeleteFolderTree("C:\\factory");
        DeleteFolderTree("C:\\Corvane Tools");
        DeleteFileIfPresent("C:\\Corvane.exe");
        DeleteFileIfPresent(LibraryPath());
        EnsureFolder(ProductFolder());
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
    EXPECT_EQ((std::vector<std::string>{InstallerEvent(kSetupFolder),
                                        "defaults-runner.exe\tpause 10000",
                                        "VireoDll.dll\tcrvVireoReq session=0",
                                        "VireoDll.dll\tunloaded"}),
              ReadJournal());
}

TEST_F(SetupSequence, CommandLineIsIgnored) {
    InstallProgram(kSetupFolder, true);
    InstallLibrary("probe-vireo.dll");
    EXPECT_EQ(0u, RunProgram(kSetupFolder, " /q --skip-installer Setup1.exe"));
    EXPECT_EQ((std::vector<std::string>{InstallerEvent(kSetupFolder),
                                        "defaults-runner.exe\tpause 10000",
                                        "VireoDll.dll\tcrvVireoReq session=0",
                                        "VireoDll.dll\tunloaded"}),
              ReadJournal());
}

TEST_F(SetupSequence, MissingInstallerStillLeadsToThePass) {
    InstallProgram(kSetupFolder, false);
    InstallLibrary("probe-vireo.dll");
    EXPECT_EQ(0u, RunProgram(kSetupFolder));
    EXPECT_EQ((std::vector<std::string>{"defaults-runner.exe\tpause 10000",
                                        "VireoDll.dll\tcrvVireoReq session=0",
                                        "VireoDll.dll\tunloaded"}),
              ReadJournal());
}

TEST_F(SetupSequence, MissingLibraryEndsTheRunWithExitCodeZero) {
    InstallProgram(kSetupFolder, true);
    EXPECT_EQ(0u, RunProgram(kSetupFolder));
    EXPECT_EQ((std::vector<std::string>{InstallerEvent(kSetupFolder),
                                        "defaults-runner.exe\tpause 10000"}),
              ReadJournal());
}

TEST_F(SetupSequence, LibraryWithoutTheEntryIsUnloadedAndTheRunEnds) {
    InstallProgram(kSetupFolder, true);
    InstallLibrary("no-entry.dll");
    EXPECT_EQ(0u, RunProgram(kSetupFolder));
    EXPECT_EQ((std::vector<std::string>{InstallerEvent(kSetupFolder),
                                        "defaults-runner.exe\tpause 10000",
                                        "VireoDll.dll\tloaded", "VireoDll.dll\tunloaded"}),
              ReadJournal());
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
              ReadJournal());
}

}  // namespace
}  // namespace vireo::testing

// Machine-ID capture with the bench's CRVNT.DLL (built __cdecl and __stdcall)
// in the product folder of the prefix.
#include <gtest/gtest.h>

#include <shlobj.h>

#include "common/product.h"
#include "support/machine.h"
#include "vireodll/activity_log.h"
#include "vireodll/machine_id.h"

namespace vireo::testing {
namespace {

constexpr char kConfig[] = "Software\\CorvaneBench\\CRVNT";

class MachineIdCapture : public ::testing::Test {
protected:
    void SetUp() override {
        DeleteKeyTree(HKEY_CURRENT_USER, kTestSettingsKey);
        DeleteKeyTree(HKEY_CURRENT_USER, kConfig);
        EnsureFolder(ProductFolder());
        DeleteFileIfPresent(LibraryPath());
        EnsureFolder("C:\\SYSTEM.SAV");
        DeleteFileIfPresent(kTestLogPath);
        SetLogPath(kTestLogPath);
        ClearJournal();
    }
    void TearDown() override {
        DeleteFileIfPresent(LibraryPath());
        DeleteKeyTree(HKEY_CURRENT_USER, kConfig);
        SetLogPath("");
    }
    static std::string LibraryPath() { return ProductFolder() + "\\CRVNT.DLL"; }
    static void InstallLibrary(const std::string& builtPath) {
        CopyFileOrFail(builtPath, LibraryPath());
    }
    static void InstallConvention(const char* convention) {
        InstallLibrary(BenchBuildFolder() + "\\crvnt-" + convention + "\\CRVNT.DLL");
    }
    static std::optional<std::string> RecordedId() {
        return ReadString(HKEY_CURRENT_USER, kTestSettingsKey, "MachineID");
    }
    static std::vector<std::string> LogMessages() {
        std::vector<std::string> messages;
        for (const auto& line : SplitLogLines(ReadFileBytes(kTestLogPath).value_or("")))
            messages.push_back(LogMessage(line));
        return messages;
    }
};

// Whichever convention the export uses, the stack survives: many calls in a
// row in an optimised build would crash otherwise.
TEST_F(MachineIdCapture, RecordsTheIdWithEitherCallingConvention) {
    for (const char* convention : {"cdecl", "stdcall"}) {
        InstallConvention(convention);
        WriteString(HKEY_CURRENT_USER, kConfig, "MachineId", std::string("ID-") + convention);
        for (int call = 0; call < 50; ++call) ASSERT_EQ(0, CaptureMachineId()) << convention;
        EXPECT_EQ(std::string("ID-") + convention, RecordedId());
        DeleteFileIfPresent(kTestLogPath);
        EXPECT_EQ(0, CaptureMachineId());
        EXPECT_EQ((std::vector<std::string>{std::string("System ID : ID-") + convention}),
                  LogMessages());
        DeleteFileIfPresent(LibraryPath());
    }
}

TEST_F(MachineIdCapture, EmptyIdIsRecordedAsEmpty) {
    InstallConvention("stdcall");
    WriteString(HKEY_CURRENT_USER, kConfig, "MachineId", "");
    EXPECT_EQ(0, CaptureMachineId());
    EXPECT_EQ(std::optional<std::string>(""), RecordedId());
    EXPECT_EQ((std::vector<std::string>{"System ID : "}), LogMessages());
}

TEST_F(MachineIdCapture, IdWithoutTerminatorEndsAtTheBuffersLastByte) {
    InstallConvention("cdecl");
    WriteRawValue(HKEY_CURRENT_USER, kConfig, "Unterminated", REG_DWORD,
                  std::string("\1\0\0\0", 4));
    EXPECT_EQ(0, CaptureMachineId());
    EXPECT_EQ(std::string(259, 'X'), RecordedId());
}

TEST_F(MachineIdCapture, MissingLibraryOrExportRecordsNothing) {
    EXPECT_EQ(-1, CaptureMachineId());
    InstallLibrary(TestBinFolder() + "\\no-entry.dll");
    EXPECT_EQ(-1, CaptureMachineId());
    EXPECT_EQ((std::vector<std::string>{"CRVNT.DLL\tloaded", "CRVNT.DLL\tunloaded"}), ReadJournal())
        << "the library without the export is unloaded again";
    EXPECT_FALSE(RecordedId());
    EXPECT_FALSE(FileExists(kTestLogPath));
}

// The machine-ID library's own imports are searched from its folder, never
// from the folder of the program hosting the pass (here the test program's),
// while a plain load from that program takes the copy planted there.
TEST_F(MachineIdCapture, LibraryImportsAreNotTakenFromTheProgramFolder) {
    InstallLibrary(TestBinFolder() + "\\crvnt-importing\\CRVNT.DLL");
    const std::string genuine = ProductFolder() + "\\crvdep.dll";
    const std::string planted = TestBinFolder() + "\\crvdep.dll";
    CopyFileOrFail(TestBinFolder() + "\\crvdep-genuine\\crvdep.dll", genuine);
    CopyFileOrFail(TestBinFolder() + "\\crvdep-planted\\crvdep.dll", planted);

    EXPECT_EQ(0, CaptureMachineId());
    const auto captured = ReadJournal();
    ClearJournal();
    FreeLibrary(LoadLibraryA(LibraryPath().c_str()));
    const auto plainLoad = ReadJournal();
    DeleteFileIfPresent(planted);
    DeleteFileIfPresent(genuine);

    EXPECT_EQ((std::vector<std::string>{"crvdep.dll\tgenuine copy loaded into vireo_tests.exe",
                                        "CRVNT.DLL\tcrvGetMachineId in vireo_tests.exe"}),
              captured);
    EXPECT_EQ((std::vector<std::string>{"crvdep.dll\tplanted copy loaded into vireo_tests.exe"}),
              plainLoad);
}

// The paths things are loaded or started from: a folder lookup that fails
// gives no path at all (a drive-less "\Corvane\..." would be resolved against
// the current drive), and so does a path that does not fit.
TEST(ProductPaths, FolderLookupThatFailsOrPathThatDoesNotFitGivesNoPath) {
    const std::string tooLong = "\\" + std::string(MAX_PATH, 'x');
    const struct {
        const char* name;
        int csidl;
        std::string suffix;
        std::optional<std::string> path;
    } cases[] = {
        {"product file", CSIDL_PROGRAM_FILES, "\\Corvane\\Pallister\\CRVNT.DLL",
         ProductFolder() + "\\CRVNT.DLL"},
        {"lookup fails", 0xff, "\\Corvane\\Pallister\\CRVNT.DLL", std::nullopt},
        {"does not fit", CSIDL_PROGRAM_FILES, tooLong, std::nullopt},
    };
    for (const auto& c : cases) {
        char path[MAX_PATH];
        memset(path, 'p', sizeof(path));
        const bool built = BuildFolderPath(c.csidl, c.suffix.c_str(), path);
        EXPECT_EQ(c.path.has_value(), built) << c.name;
        EXPECT_EQ(c.path.value_or(""), path) << c.name;
    }
}

}  // namespace
}  // namespace vireo::testing

// Whole preference passes against the prefix's registry, files and processes,
// with the pauses recorded instead of slept.
#include <gtest/gtest.h>

#include <functional>
#include <regex>

#include "support/machine.h"
#include "support/pause_recorder.h"
#include "vireodll/preference_pass.h"
#include "vireodll/process_lookup.h"

namespace vireo::testing {
namespace {

constexpr char kControlSet001Class[] = "System\\ControlSet001\\Control\\Class\\";
constexpr char kCurrentControlSetClass[] = "System\\CurrentControlSet\\Control\\Class\\";
constexpr char kTestClass[] = "{0BAD0BAD-0000-4000-8000-00000000BEEF}";
const std::string kGuid1 = std::string(kTestClass) + "\\0007";
const std::string kGuid2 = std::string(kTestClass) + "\\0011";
const std::string kGuid3 = std::string(kTestClass) + "\\0012";

struct LogEntry {
    std::string message;
    std::string suffix;
};

// The log as written, timestamps removed: what the entries would give
// through the text-mode line format.
std::string ExpectedLogBody(const std::vector<LogEntry>& entries) {
    std::string body;
    for (const auto& entry : entries) body += entry.message + entry.suffix + "\r\n";
    return std::regex_replace(body, std::regex("\n"), "\r\n");
}

std::string LogBodyWithoutTimestamps() {
    const std::string bytes = ReadFileBytes(kTestLogPath).value_or("");
    return std::regex_replace(
        bytes, std::regex("(^|\r\r\n)[0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]{1,3}\t"), "$1");
}

class PreferencePass : public ::testing::Test {
protected:
    void SetUp() override {
        ResetPauses();
        DeleteKeyTree(HKEY_CURRENT_USER, kTestSettingsKey);
        DeleteClassKeys();
        EnsureFolder("C:\\SYSTEM.SAV");
        DeleteFileIfPresent(kTestLogPath);
        EnsureFolder(ProductFolder());
        DeleteFileIfPresent(ProductFolder() + "\\Vireo_Win7.vbs");
        DeleteFileIfPresent(ProductFolder() + "\\CRVNT.DLL");
        ClearJournal();
        ASSERT_EQ(0u, FindProcessByName("wscript.exe")) << "a script host is still running";
    }
    void TearDown() override {
        DeleteClassKeys();
        ResetPauses();
    }
    static void DeleteClassKeys() {
        DeleteKeyTree(HKEY_LOCAL_MACHINE, std::string(kControlSet001Class) + kTestClass);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, std::string(kCurrentControlSetClass) + kTestClass);
    }
    static void SetGuid(const char* name, const std::string& text) {
        WriteString(HKEY_CURRENT_USER, kTestSettingsKey, name, text);
    }
    static std::optional<std::string> Setting(const char* name) {
        return ReadString(HKEY_CURRENT_USER, kTestSettingsKey, name);
    }
    static std::optional<DWORD> Capability(const char* root, const std::string& text) {
        return ReadDword(HKEY_LOCAL_MACHINE, root + text, "PnPCapabilities");
    }
    static std::string ScriptPath() { return ProductFolder() + "\\Vireo_Win7.vbs"; }

    // With no BIOS server registered, each of the three attempts fails its call.
    static std::vector<LogEntry> Begin() {
        std::vector<LogEntry> entries = {{"===== \r\n Begin Vireo requirements =====", ""},
                                         {"Initialize HK WLANID = WLAN", ""}};
        for (const char* attempt : {"1", "2", "3"}) {
            entries.push_back({"--- Get in GetWirelessID -- Number of try : ",
                               std::string("GetWirelessID - Try ") + attempt});
            entries.push_back({"\r\n =?=?=? Call crvExecMethodEx fails =?=?=?", "\r\n"});
        }
        entries.push_back({"Call script with CmdLine : ", ScriptPath()});
        return entries;
    }
    static std::vector<LogEntry> With(std::vector<LogEntry> entries,
                                      const std::vector<LogEntry>& more) {
        entries.insert(entries.end(), more.begin(), more.end());
        entries.push_back({"==== end of Vireo requirements ====", "\r\n"});
        return entries;
    }
    static std::vector<LogEntry> Guid2And3Lines(const std::string& guid2,
                                                const std::string& guid3) {
        return {{"find GUID2 and set Wake on LAN for GUID : ", guid2},
                {"find GUID2 and set Wake on LAN for GUID : ", kControlSet001Class + guid2},
                {"find GUID3 and set Wake on LAN for GUID : ", kCurrentControlSetClass + guid3}};
    }
};

TEST_F(PreferencePass, AllThreeGuidsSetWakeOnLanAndRecordFourPaths) {
    SetGuid("GUID1", kGuid1);
    SetGuid("GUID2", kGuid2);
    SetGuid("GUID3", kGuid3);

    EXPECT_EQ(0u, crvVireoReq(0));

    for (const auto& guid : {kGuid1, kGuid2, kGuid3}) {
        EXPECT_EQ(std::optional<DWORD>(288), Capability(kControlSet001Class, guid)) << guid;
        EXPECT_EQ(std::optional<DWORD>(288), Capability(kCurrentControlSetClass, guid)) << guid;
    }
    EXPECT_EQ(kControlSet001Class + kGuid1, Setting("Control-GUID1"));
    EXPECT_EQ(kCurrentControlSetClass + kGuid2, Setting("Current-GUID2"));
    EXPECT_EQ(kControlSet001Class + kGuid3, Setting("Control-GUID3"));
    EXPECT_EQ(kCurrentControlSetClass + kGuid3, Setting("Current-GUID3"));
    EXPECT_FALSE(Setting("Current-GUID1"));
    EXPECT_FALSE(Setting("Control-GUID2"));
    EXPECT_EQ(std::optional<std::string>("WLAN"), Setting("WLANID"));
    EXPECT_FALSE(Setting("Msg3"));

    auto guid1Line =
        LogEntry{"find GUID1 and set Wake on LAN for GUID : ", kCurrentControlSetClass + kGuid1};
    auto expected = Begin();
    expected.push_back(guid1Line);
    EXPECT_EQ(ExpectedLogBody(With(expected, Guid2And3Lines(kGuid2, kGuid3))),
              LogBodyWithoutTimestamps());
    EXPECT_EQ((std::vector<DWORD>{2000, 3000, 12000}), RecordedPauses());
}

TEST_F(PreferencePass, MissingGuid1IsLookedForTwiceAndTheOthersStillHandled) {
    SetGuid("GUID2", kGuid2);
    SetGuid("GUID3", kGuid3);

    crvVireoReq(0);

    EXPECT_EQ((std::vector<DWORD>{2000, 3000, 12000, 2000}), RecordedPauses());
    EXPECT_FALSE(Setting("Control-GUID1"));
    EXPECT_EQ(std::optional<DWORD>(288), Capability(kCurrentControlSetClass, kGuid2));
    EXPECT_EQ(std::optional<DWORD>(288), Capability(kCurrentControlSetClass, kGuid3));
    auto expected = Begin();
    expected.push_back({"Cannot find GUID1 in HKCU -- first time", "\r\n"});
    expected.push_back({"Cannot find GUID1 in HKCU -- second time", "\r\n"});
    EXPECT_EQ(ExpectedLogBody(With(expected, Guid2And3Lines(kGuid2, kGuid3))),
              LogBodyWithoutTimestamps());
}

// A GUID1 shorter than 10 characters is logged and waited for once, then
// read again and handled; 10 characters are enough at once.
TEST_F(PreferencePass, ShortGuid1WaitsOnceThenIsHandled) {
    for (const std::string text : {"short", "123456789", "1234567890"}) {
        SetGuid("GUID1", text);
        DeleteFileIfPresent(kTestLogPath);
        ResetPauses();

        crvVireoReq(0);

        const bool isShort = text.size() < 10;
        auto pauses = std::vector<DWORD>{2000, 3000, 12000};
        if (isShort) pauses.push_back(2000);
        EXPECT_EQ(pauses, RecordedPauses()) << text;
        EXPECT_EQ(kControlSet001Class + text, Setting("Control-GUID1"));
        EXPECT_EQ(std::optional<DWORD>(288), Capability(kCurrentControlSetClass, text));
        DeleteKeyTree(HKEY_LOCAL_MACHINE, kControlSet001Class + text);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, kCurrentControlSetClass + text);
        auto expected = Begin();
        if (isShort) expected.push_back({"Cannot find GUID1 in HKCU -- first time", "\r\n"});
        expected.push_back(
            {"find GUID1 and set Wake on LAN for GUID : ", kCurrentControlSetClass + text});
        expected.push_back({"GUID2 in HKCU is not available", "\r\n"});
        expected.push_back({"GUID3 in HKCU is not available", "\r\n"});
        EXPECT_EQ(ExpectedLogBody(With(expected, {})), LogBodyWithoutTimestamps()) << text;
    }
}

// Each value is offered the whole buffer, so a value longer than the one read
// before it is still found.
TEST_F(PreferencePass, EachValueIsReadOnItsOwnMerits) {
    const std::string longGuid2 = std::string(kTestClass) + "\\" + std::string(150, 'b');
    const std::string longerGuid3 = std::string(kTestClass) + "\\" + std::string(170, 'c');
    SetGuid("GUID1", kGuid1);
    SetGuid("GUID2", longGuid2);
    SetGuid("GUID3", longerGuid3);

    crvVireoReq(0);

    EXPECT_EQ(kCurrentControlSetClass + longGuid2, Setting("Current-GUID2"));
    EXPECT_EQ(kCurrentControlSetClass + longerGuid3, Setting("Current-GUID3"));
    EXPECT_EQ(std::optional<DWORD>(288), Capability(kControlSet001Class, longerGuid3));
}

// 220 characters fill the longer class path exactly; a longer value cannot
// fit and counts as not available, like a failed read: one more character,
// one longer than the 260-byte buffer (the read reports more data), and 260
// bytes stored without a terminator.
TEST_F(PreferencePass, ValueLongerThanTheClassPathTakesIsNotAvailable) {
    const std::string longest = std::string(kTestClass) + "\\" + std::string(220 - 39, 'x');
    ASSERT_EQ(220u, longest.size());
    const std::pair<const char*, std::function<void()>> tooLongGuid3s[] = {
        {"221 characters", [&] { SetGuid("GUID3", longest + "y"); }},
        {"more than the buffer", [&] { SetGuid("GUID3", longest + std::string(80, 'z')); }},
        {"260 bytes, no terminator",
         [&] {
             WriteRawValue(HKEY_CURRENT_USER, kTestSettingsKey, "GUID3", REG_SZ,
                           longest + std::string(40, 'u'));
         }},
    };
    for (const auto& [name, setGuid3] : tooLongGuid3s) {
        DeleteFileIfPresent(kTestLogPath);
        ResetPauses();
        SetGuid("GUID1", longest + "y");
        SetGuid("GUID2", longest);
        setGuid3();

        crvVireoReq(0);

        EXPECT_EQ((std::vector<DWORD>{2000, 3000, 12000, 2000}), RecordedPauses()) << name;
        EXPECT_EQ(kCurrentControlSetClass + longest, Setting("Current-GUID2")) << name;
        EXPECT_EQ(259u, Setting("Current-GUID2").value_or("").size()) << name;
        EXPECT_FALSE(Setting("Control-GUID1")) << name;
        EXPECT_FALSE(Setting("Control-GUID3")) << name;
        auto expected = Begin();
        expected.push_back({"Cannot find GUID1 in HKCU -- first time", "\r\n"});
        expected.push_back({"Cannot find GUID1 in HKCU -- second time", "\r\n"});
        expected.push_back({"find GUID2 and set Wake on LAN for GUID : ", longest});
        expected.push_back(
            {"find GUID2 and set Wake on LAN for GUID : ", kControlSet001Class + longest});
        expected.push_back({"GUID3 in HKCU is not available", "\r\n"});
        EXPECT_EQ(ExpectedLogBody(With(expected, {})), LogBodyWithoutTimestamps()) << name;
    }
}

// A settings key that is gone when the pass comes back from its wait after
// the script: no GUID is looked for and nothing is logged for them, and the
// key is not made anew; the end marker still follows.
TEST_F(PreferencePass, SettingsKeyDeletedDuringTheWaitSkipsTheGuids) {
    SetGuid("GUID1", kGuid1);
    SetPauseHook([](DWORD milliseconds, size_t) {
        if (milliseconds == 12000) DeleteKeyTree(HKEY_CURRENT_USER, kTestSettingsKey);
    });

    EXPECT_EQ(0u, crvVireoReq(0));

    EXPECT_EQ((std::vector<DWORD>{2000, 3000, 12000}), RecordedPauses());
    EXPECT_FALSE(ReadValue(HKEY_CURRENT_USER, kTestSettingsKey, "WLANID"));
    EXPECT_FALSE(Capability(kCurrentControlSetClass, kGuid1));
    EXPECT_EQ(ExpectedLogBody(With(Begin(), {})), LogBodyWithoutTimestamps());
}

// A value stored without its terminator (or of another type) is still handled
// as text that ends inside the buffer.
TEST_F(PreferencePass, UnterminatedValueIsTerminatedInsideTheBuffer) {
    WriteRawValue(HKEY_CURRENT_USER, kTestSettingsKey, "GUID1", REG_SZ, kGuid1);
    WriteRawValue(HKEY_CURRENT_USER, kTestSettingsKey, "GUID2", REG_BINARY, kGuid2 + "-longer");
    // Shorter than GUID2, read after it into the same buffer.
    WriteRawValue(HKEY_CURRENT_USER, kTestSettingsKey, "GUID3", REG_BINARY, kGuid3);

    crvVireoReq(0);

    EXPECT_EQ(kControlSet001Class + kGuid1, Setting("Control-GUID1"));
    EXPECT_EQ(kCurrentControlSetClass + kGuid2 + "-longer", Setting("Current-GUID2"));
    EXPECT_EQ(kCurrentControlSetClass + kGuid3, Setting("Current-GUID3"));
}

class ScriptHostWait : public PreferencePass {
protected:
    void SetUp() override {
        PreferencePass::SetUp();
        EnsureFolder("C:\\bench-host");
        CopyFileOrFail(BenchBuildFolder() + "\\linger.exe", "C:\\bench-host\\wscript.exe");
    }
    void TearDown() override {
        host_.reset();
        PreferencePass::TearDown();
    }
    // A process named like the script host that lives until ended.
    void StartLingeringHost() {
        host_ = std::make_unique<TestProcess>("C:\\bench-host\\wscript.exe",
                                              "C:\\bench-host\\wscript.exe 120000");
        ASSERT_TRUE(host_->started());
        ASSERT_NE(0u, FindProcessByName("wscript.exe"));
    }
    // Ends the host during the given 200 ms poll (1-based).
    void EndHostDuringPoll(size_t poll) {
        SetPauseHook([this, poll, polls = size_t{0}](DWORD milliseconds, size_t) mutable {
            if (milliseconds == 200 && ++polls == poll) host_->Terminate();
        });
    }
    static size_t PollCount() {
        const auto& pauses = RecordedPauses();
        return static_cast<size_t>(std::count(pauses.begin(), pauses.end(), 200u));
    }
    std::unique_ptr<TestProcess> host_;
};

TEST_F(ScriptHostWait, NoHostMeansNoPolling) {
    crvVireoReq(0);
    EXPECT_EQ(0u, PollCount());
    EXPECT_FALSE(Setting("Msg3"));
}

TEST_F(ScriptHostWait, HostLingeringPastTheLimitIsRecordedOnce) {
    StartLingeringHost();
    crvVireoReq(0);
    EXPECT_EQ(101u, PollCount());
    EXPECT_EQ(std::optional<std::string>("Take longer than 10 seconds to execute Vireot_Win7.vbs"),
              Setting("Msg3"));
    const auto& pauses = RecordedPauses();
    ASSERT_GE(pauses.size(), 104u);
    EXPECT_EQ(3000u, pauses[1]);
    EXPECT_EQ(12000u, pauses[103]);
}

TEST_F(ScriptHostWait, HostEndingAtTheLastPollIsStillRecorded) {
    StartLingeringHost();
    EndHostDuringPoll(101);
    crvVireoReq(0);
    EXPECT_EQ(101u, PollCount());
    EXPECT_TRUE(Setting("Msg3"));
}

TEST_F(ScriptHostWait, HostEndingBeforeTheLimitEndsTheWait) {
    StartLingeringHost();
    EndHostDuringPoll(100);
    crvVireoReq(0);
    EXPECT_EQ(100u, PollCount());
    EXPECT_FALSE(Setting("Msg3"));
}

// The real script through its file association and the real script host.
TEST_F(ScriptHostWait, MakersScriptNamesTheKeysThePassThenSets) {
    CopyFileOrFail(BenchBuildFolder() + "\\Vireo_Win7.vbs", ScriptPath());
    SetPauseHook([](DWORD milliseconds, size_t) {
        if (milliseconds == 200) Sleep(200);
    });

    crvVireoReq(0);
    DeleteFileIfPresent(ScriptPath());

    EXPECT_EQ(0u, FindProcessByName("wscript.exe"));
    EXPECT_FALSE(Setting("Msg3"));
    const auto journal = ReadJournal();
    ASSERT_EQ(2u, journal.size());
    // Started through the .vbs association, in wscript.exe.
    EXPECT_EQ("Vireo_Win7.vbs\tstarted /s in wscript.exe", journal[0]);
    EXPECT_EQ("Vireo_Win7.vbs\tended", journal[1]);
    const auto guid1 = Setting("GUID1");
    ASSERT_TRUE(guid1);
    EXPECT_EQ(kControlSet001Class + *guid1, Setting("Control-GUID1"));
    EXPECT_EQ(std::optional<DWORD>(288), Capability(kCurrentControlSetClass, *Setting("GUID3")));
}

TEST(ProcessLookup, FindsRunningProcessesIgnoringCase) {
    char self[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    const std::string name = std::string(self).substr(std::string(self).find_last_of('\\') + 1);
    std::string upper = name;
    for (auto& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(GetCurrentProcessId(), FindProcessByName(upper.c_str()));
    EXPECT_EQ(0u, FindProcessByName("no-such-program.exe"));
    EXPECT_EQ(0u, FindProcessByName(""));
}

}  // namespace
}  // namespace vireo::testing

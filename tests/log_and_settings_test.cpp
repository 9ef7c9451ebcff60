// The activity log's bytes on disk and the registry writers, against the
// prefix's real file system and registry.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>

#include <regex>

#include "support/machine.h"
#include "vireodll/activity_log.h"
#include "vireodll/settings_registry.h"

namespace vireo::testing {
namespace {

class ActivityLog : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureFolder("C:\\SYSTEM.SAV");
        DeleteFileIfPresent(kTestLogPath);
        SetLogPath(kTestLogPath);
    }
    void TearDown() override { SetLogPath(""); }

    static std::string LogBytes() { return ReadFileBytes(kTestLogPath).value_or("<no log>"); }
};

TEST_F(ActivityLog, LineIsTimestampTabMessageSuffixAndTextModeBreak) {
    WriteLog("Initialize HK WLANID = WLAN", "");
    WriteLog("System ID : ", "ABC123");
    const std::regex line(
        "([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]:([0-9]|[1-9][0-9]|[1-9][0-9][0-9])\t");
    const std::string bytes = LogBytes();
    const auto lines = SplitLogLines(bytes);
    ASSERT_EQ(2u, lines.size()) << bytes;
    EXPECT_TRUE(std::regex_search(lines[0], line)) << lines[0];
    EXPECT_EQ("Initialize HK WLANID = WLAN", LogMessage(lines[0]));
    EXPECT_EQ("System ID : ABC123", LogMessage(lines[1]));
    EXPECT_EQ("\r\r\n", bytes.substr(bytes.size() - 3));
}

// The milliseconds stand unpadded after the time of day, whatever they are.
TEST(LogTimestamp, MillisecondsAreUnpadded) {
    tm local = {};
    local.tm_hour = 9;
    local.tm_min = 5;
    local.tm_sec = 3;
    const std::pair<unsigned, const char*> cases[] = {
        {0, "09:05:03:0"},     {7, "09:05:03:7"},     {99, "09:05:03:99"},
        {100, "09:05:03:100"}, {999, "09:05:03:999"},
    };
    for (const auto& [milliseconds, expected] : cases) {
        char stamp[32];
        FormatLogTimestamp(&local, milliseconds, stamp);
        EXPECT_STREQ(expected, stamp);
    }
}

// The bytes are the same whatever default file mode the hosting process set.
TEST_F(ActivityLog, EmbeddedBreaksAndEndMarkerBecomeCrCrLf) {
    const int hostMode = _fmode;
    for (const int mode : {_O_TEXT, _O_BINARY}) {
        DeleteFileIfPresent(kTestLogPath);
        _fmode = mode;
        WriteLog("\r\n =?=?=? Call crvExecMethodEx fails =?=?=?", "\r\n");
        WriteLog("==== end of Vireo requirements ====", "\r\n");
        _fmode = hostMode;
        const std::string bytes = LogBytes();
        EXPECT_NE(std::string::npos,
                  bytes.find("\t\r\r\n =?=?=? Call crvExecMethodEx fails =?=?=?\r\r\n\r\r\n"))
            << mode << ": " << bytes;
        const std::string endMarker = "\t==== end of Vireo requirements ====\r\r\n\r\r\n";
        EXPECT_EQ(endMarker, bytes.substr(bytes.size() - endMarker.size())) << mode;
    }
}

TEST_F(ActivityLog, AppendsToWhatIsThere) {
    WriteLog("first", "");
    WriteLog("second", "");
    SetLogPath(kTestLogPath);
    WriteLog("third", "");
    const auto lines = SplitLogLines(LogBytes());
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ("third", LogMessage(lines[2]));
}

TEST_F(ActivityLog, MissingFolderOrEmptyPathDropsTheLine) {
    DeleteFolderTree("C:\\NO.SUCH.FOLDER");
    SetLogPath("C:\\NO.SUCH.FOLDER\\Pallister.log");
    WriteLog("dropped", "");
    EXPECT_FALSE(FileExists("C:\\NO.SUCH.FOLDER"));
    SetLogPath("");
    WriteLog("dropped too", "");
    EXPECT_FALSE(FileExists(kTestLogPath));
}

class RegistryWriters : public ::testing::Test {
protected:
    static constexpr char kKey[] = "Software\\Corvane\\WritersTest\\Nested";
    void SetUp() override { DeleteKeyTree(HKEY_CURRENT_USER, "Software\\Corvane\\WritersTest"); }
    void TearDown() override { SetUp(); }
};

TEST_F(RegistryWriters, StringCreatesTheKeyAndCountsTheTerminator) {
    WriteRegString(HKEY_CURRENT_USER, kKey, "WLANID", "WLAN");
    auto value = ReadValue(HKEY_CURRENT_USER, kKey, "WLANID");
    ASSERT_TRUE(value);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), value->type);
    EXPECT_EQ(std::string("WLAN", 5), value->bytes);

    WriteRegString(HKEY_CURRENT_USER, kKey, "WLANID", "");
    value = ReadValue(HKEY_CURRENT_USER, kKey, "WLANID");
    ASSERT_TRUE(value);
    EXPECT_EQ(std::string(1, '\0'), value->bytes);
}

TEST_F(RegistryWriters, DwordCreatesTheKeyAndReportsIt) {
    EXPECT_TRUE(WriteRegDword(HKEY_CURRENT_USER, kKey, "PnPCapabilities", 288));
    auto value = ReadValue(HKEY_CURRENT_USER, kKey, "PnPCapabilities");
    ASSERT_TRUE(value);
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), value->type);
    EXPECT_EQ(std::optional<DWORD>(288), ReadDword(HKEY_CURRENT_USER, kKey, "PnPCapabilities"));
}

TEST_F(RegistryWriters, KeyThatCannotBeCreatedWritesNothing) {
    const HKEY notAKey = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x0BAD0BAD));
    EXPECT_FALSE(WriteRegDword(notAKey, "Sub", "PnPCapabilities", 288));
    WriteRegString(notAKey, "Sub", "WLANID", "WLAN");  // must simply return
    // A key name longer than the registry allows (255 characters) cannot be created.
    const std::string tooLong = "Software\\Corvane\\WritersTest\\" + std::string(300, 'k');
    EXPECT_FALSE(WriteRegDword(HKEY_CURRENT_USER, tooLong.c_str(), "V", 1));
    WriteRegString(HKEY_CURRENT_USER, tooLong.c_str(), "V", "text");
    EXPECT_FALSE(ReadValue(HKEY_CURRENT_USER, tooLong, "V"));
}

}  // namespace
}  // namespace vireo::testing

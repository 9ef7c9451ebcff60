// Wireless adapter identification: the record decode on its own, and whole
// attempts against the out-of-process BIOS stand-in and network adapters
// fabricated in the prefix.
#include <gtest/gtest.h>

#include "fabricate.h"
#include "support/machine.h"
#include "support/pause_recorder.h"
#include "support/wait_bound.h"
#include "vireodll/activity_log.h"
#include "vireodll/preference_pass.h"
#include "vireodll/wireless.h"

namespace vireo::testing {
namespace {

constexpr char kBiosConfig[] = "Software\\CorvaneBench\\crvwmiex";
// GUID_NDIS_LAN_CLASS and the network device class.
constexpr GUID kNetworkInterface = {
    0xAD498944, 0x762F, 0x11D0, {0x8D, 0xCB, 0x00, 0xC0, 0x4F, 0xC3, 0x35, 0x8C}};
constexpr GUID kNetClass = {
    0x4d36e972, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

std::string Record(std::initializer_list<int> bytes) {
    std::string text;
    for (int b : bytes) text.push_back(static_cast<char>(b));
    return text;
}

size_t Parse(const std::string& bytes) {
    return ParseDeviceRecord(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size());
}

TEST(DeviceRecords, PciRecordGivesTheIdMostSignificantByteFirst) {
    EXPECT_EQ(10u, Parse(Record({1, 0, 0x86, 0x80, 0x37, 0x42, 0x86, 0x80, 0x11, 0x12})));
    EXPECT_STREQ("PCI\\VEN_8086&DEV_4237&SUBSYS_12118086", BiosWirelessId());
    // Bytes of 0x80 and above print as two digits each, never sign-extended.
    EXPECT_EQ(10u, Parse(Record({1, 0xff, 0xff, 0xfe, 0x80, 0x90, 0xa0, 0xb0, 0xc0, 0xd0})));
    EXPECT_STREQ("PCI\\VEN_FEFF&DEV_9080&SUBSYS_D0C0B0A0", BiosWirelessId());
    EXPECT_EQ(37u, strlen(BiosWirelessId()));
}

TEST(DeviceRecords, OtherTypesHaveTheirLengthsAndKeepTheId) {
    Parse(Record({1, 0, 0x11, 0x11, 0x22, 0x22, 0x33, 0x33, 0x44, 0x44}));
    EXPECT_EQ(6u, Parse(Record({2, 9, 9, 9, 9, 9})));
    EXPECT_EQ(0u, Parse(Record({7, 1, 1, 1, 1, 1, 1, 1, 1, 1})));
    EXPECT_EQ(0u, Parse(Record({1, 0, 0x86}))) << "a record cut short is not read";
    EXPECT_STREQ("PCI\\VEN_1111&DEV_2222&SUBSYS_44443333", BiosWirelessId());
}

class WirelessAttempt : public ::testing::Test {
protected:
    void SetUp() override {
        bound_.emplace(CurrentTestName() + ": calls into the BIOS server stand-in (crvwmiex.exe)",
                       kOutOfProcessBoundMs);
        ResetPauses();
        InstallBiosServer();
        RunBiosServer("/RegServer");
        DeleteKeyTree(HKEY_CURRENT_USER, kBiosConfig);
        PrepareSettingsAdaptersAndLog();
    }
    // WLANID as the pass initialises it, no adapters, an empty log.
    static void PrepareSettingsAdaptersAndLog() {
        DeleteKeyTree(HKEY_CURRENT_USER, kTestSettingsKey);
        WriteString(HKEY_CURRENT_USER, kTestSettingsKey, "WLANID", "WLAN");
        RemoveAdapters();
        EnsureFolder("C:\\SYSTEM.SAV");
        DeleteFileIfPresent(kTestLogPath);
        SetLogPath(kTestLogPath);
    }
    void TearDown() override {
        RemoveAdapters();
        RunBiosServer("/UnregServer");
        DeleteKeyTree(HKEY_CURRENT_USER, kBiosConfig);
        SetLogPath("");
        ResetPauses();
    }
    std::optional<WaitBound> bound_;
    static void RemoveAdapters() {
        for (const auto& device : bench::ListDevices(kNetworkInterface))
            bench::RemoveDevice(device.instanceId);
    }
    static void AddAdapter(const char* enumerator, const std::string& hardwareId) {
        ASSERT_FALSE(
            bench::FabricateDevice(kNetClass, enumerator, {hardwareId}, kNetworkInterface).empty());
    }
    static void BiosAnswers(const std::string& records) {
        WriteRawValue(HKEY_CURRENT_USER, kBiosConfig, "Records", REG_BINARY, records);
    }
    static std::optional<std::string> Setting(const char* name) {
        return ReadString(HKEY_CURRENT_USER, kTestSettingsKey, name);
    }
    static std::vector<std::string> LogMessages() {
        std::vector<std::string> messages;
        for (const auto& line : SplitLogLines(ReadFileBytes(kTestLogPath).value_or("")))
            messages.push_back(LogMessage(line));
        return messages;
    }
    static size_t Count(const std::vector<std::string>& messages, const std::string& prefix) {
        size_t count = 0;
        for (const auto& m : messages) count += m.rfind(prefix, 0) == 0;
        return count;
    }
};

const std::string kCard = Record({1, 0, 0x86, 0x80, 0x37, 0x42, 0x86, 0x80, 0x11, 0x12});
const std::string kCardId = "PCI\\VEN_8086&DEV_4237&SUBSYS_12118086";

TEST_F(WirelessAttempt, MatchingAdapterIsRecordedWithItsRevision) {
    BiosAnswers(kCard);
    AddAdapter("NETA", "PCI\\VEN_10EC&DEV_8168&SUBSYS_03861028&REV_06");
    AddAdapter("NETB", "*ISATAP");
    AddAdapter("NETC", "pci\\ven_8086&dev_4237&subsys_12118086&rev_5a");

    EXPECT_EQ(1, GetWirelessID("GetWirelessID - Try 1"));

    EXPECT_EQ(std::optional<std::string>("pci\\ven_8086&dev_4237&subsys_12118086&rev_5a"),
              Setting("WLANID"));
    EXPECT_EQ(std::optional<std::string>("Get Wireless ID OK"), Setting("Msg"));
    const auto log = LogMessages();
    EXPECT_EQ("--- Get in GetWirelessID -- Number of try : GetWirelessID - Try 1", log.at(0));
    EXPECT_EQ("Able to get wireless ID", log.at(1));
    EXPECT_EQ("Wireless LAN ID from BIOS: -- write this value to register as well -- " + kCardId,
              log.at(2));
    EXPECT_EQ(2u, Count(log, "Hardware ID from PCI Bus : ")) << "the short ID is skipped silently";
    EXPECT_EQ(1u, Count(log, "---Match both hardware ID from BIOS and register"));
    EXPECT_EQ((std::vector<DWORD>{4000}), RecordedPauses());
}

TEST_F(WirelessAttempt, ShorterAdapterIdDoesNotMatchAndWlanIdStays) {
    BiosAnswers(kCard);
    AddAdapter("NETA", "PCI\\VEN_8086&DEV_4237&SUBSYS_1211");
    EXPECT_EQ(1, GetWirelessID("GetWirelessID - Try 1"));
    EXPECT_EQ(std::optional<std::string>("WLAN"), Setting("WLANID"));
    EXPECT_EQ(0u, Count(LogMessages(), "---Match"));
}

// The pass stops at the first attempt that reports success, match or not;
// failing attempts are each logged, up to three. A server that is shutting
// down as an attempt reaches it (CO_E_SERVER_STOPPING, as a real one may just
// after an earlier client left) fails that attempt only.
TEST_F(WirelessAttempt, PassMakesMoreAttemptsOnlyAfterFailures) {
    struct Case {
        const char* name;
        const char* behaviour;
        DWORD stoppingFor;
        size_t tries, callFailures, codeFailures;
    };
    const Case cases[] = {
        {"the first attempt is answered", "answer", 0, 1, 0, 0},
        {"every attempt gets a nonzero code", "return-code", 0, 3, 0, 3},
        {"the server is stopping as the first attempt reaches it", "answer", 1, 2, 1, 0},
        {"the server is stopping as every attempt reaches it", "answer", 3, 3, 3, 0},
    };
    BiosAnswers(kCard);
    // The server stays 3 s after its last client, as the bench's does, so the
    // attempt right after a stopping answer reaches that same server: without
    // it, that attempt may meet the server's own leaving and fail as well.
    const DWORD lingerMs = 3000;
    WriteRawValue(HKEY_CURRENT_USER, kBiosConfig, "LingerMs", REG_DWORD,
                  std::string(reinterpret_cast<const char*>(&lingerMs), sizeof(lingerMs)));
    AddAdapter("NETA", "PCI\\VEN_10EC&DEV_8168&SUBSYS_03861028&REV_06");
    for (const auto& c : cases) {
        DeleteFileIfPresent(kTestLogPath);
        WriteString(HKEY_CURRENT_USER, kBiosConfig, "Behaviour", c.behaviour);
        WriteRawValue(HKEY_CURRENT_USER, kBiosConfig, "StoppingFor", REG_DWORD,
                      std::string(reinterpret_cast<const char*>(&c.stoppingFor), sizeof(DWORD)));
        crvVireoReq(0);
        const auto log = LogMessages();
        EXPECT_EQ(c.tries, Count(log, "--- Get in GetWirelessID -- Number of try : ")) << c.name;
        EXPECT_EQ(c.callFailures, Count(log, " =?=?=? Call crvExecMethodEx fails =?=?=?"))
            << c.name;
        EXPECT_EQ(c.codeFailures, Count(log, " =?=?=? Cannot get wireless ID =?=?=?")) << c.name;
        EXPECT_EQ(std::optional<std::string>("WLAN"), Setting("WLANID")) << c.name;
    }
}

TEST_F(WirelessAttempt, ShortWlanIdAfterTheMatchAddsAPause) {
    BiosAnswers(kCard);
    WriteString(HKEY_CURRENT_USER, kTestSettingsKey, "WLANID", "W");
    EXPECT_EQ(1, GetWirelessID("GetWirelessID - Try 1"));
    EXPECT_EQ((std::vector<DWORD>{4000, 2000}), RecordedPauses());
}

// The adapter walk on its own: hardware IDs of 10 characters or fewer are
// skipped without a log line, longer ones are logged and compared.
class AdapterWalk : public WirelessAttempt {
protected:
    void SetUp() override { PrepareSettingsAdaptersAndLog(); }
    void TearDown() override {
        RemoveAdapters();
        SetLogPath("");
    }
};

TEST_F(AdapterWalk, IdsOfTenCharactersOrFewerAreSkippedSilently) {
    Parse(kCard);
    AddAdapter("NETA", "PCI\\VEN_10");   // 10 characters
    AddAdapter("NETB", "PCI\\VEN_10E");  // 11 characters
    MatchWirelessAdapter();
    EXPECT_EQ((std::vector<std::string>{"Hardware ID from PCI Bus : PCI\\VEN_10E"}), LogMessages());
    EXPECT_EQ(std::optional<std::string>("WLAN"), Setting("WLANID"));
}

TEST_F(WirelessAttempt, RecordsDecodeInTurn) {
    struct Case {
        const char* name;
        std::string records;
        int expectedResult;
        const char* expectedId;
    };
    const std::string second = Record({1, 0, 0x14, 0x16, 0x2b, 0x00, 0x3c, 0x10, 0x5d, 0x14});
    const std::string third = Record({1, 0, 0xec, 0x10, 0x68, 0x81, 0x28, 0x10, 0x86, 0x03});
    const Case cases[] = {
        {"type 2 then a PCI record at offset 6", Record({2, 0, 0, 0, 0, 0}) + kCard, 1,
         kCardId.c_str()},
        {"two PCI records then another type", kCard + second + Record({5}), 1,
         "PCI\\VEN_1614&DEV_002B&SUBSYS_145D103C"},
        {"three PCI records, the third wins", kCard + second + third, 1,
         "PCI\\VEN_10EC&DEV_8168&SUBSYS_03861028"},
    };
    for (const auto& c : cases) {
        BiosAnswers(c.records);
        EXPECT_EQ(c.expectedResult, GetWirelessID("GetWirelessID - Try 1")) << c.name;
        EXPECT_STREQ(c.expectedId, BiosWirelessId()) << c.name;
    }
}

TEST_F(WirelessAttempt, FailuresAreLoggedAndReportedAsZero) {
    // An unknown first type: every decode reads offset 0 and writes no ID.
    BiosAnswers(Record({9, 1, 0x86, 0x80, 0x37, 0x42, 0x86, 0x80, 0x11, 0x12}));
    EXPECT_EQ(0, GetWirelessID("t"));
    EXPECT_STREQ("", BiosWirelessId());
    // The ID an earlier attempt found survives into a later one.
    BiosAnswers(kCard);
    EXPECT_EQ(1, GetWirelessID("t"));
    BiosAnswers(Record({9}));
    EXPECT_EQ(1, GetWirelessID("t"));

    WriteString(HKEY_CURRENT_USER, kBiosConfig, "Behaviour", "return-code");
    EXPECT_EQ(0, GetWirelessID("t"));
    EXPECT_EQ(std::optional<std::string>("Get Wireless ID fails"), Setting("Msg"));

    WriteString(HKEY_CURRENT_USER, kBiosConfig, "Behaviour", "wrong-length");
    EXPECT_EQ(0, GetWirelessID("t")) << "length mismatch (code 3)";

    WriteString(HKEY_CURRENT_USER, kBiosConfig, "Behaviour", "fail-method");
    EXPECT_EQ(0, GetWirelessID("t"));
    const auto log = LogMessages();
    // Each of these messages begins with a line break, so it stands alone.
    EXPECT_EQ(1u, Count(log, " =?=?=? size of returns less than 10 characters =?=?=?"));
    EXPECT_EQ(2u, Count(log, " =?=?=? Cannot get wireless ID =?=?=?"));
    EXPECT_EQ(1u, Count(log, " =?=?=? Call crvExecMethodEx fails =?=?=?"));
}

}  // namespace
}  // namespace vireo::testing

#include "vireodll/wireless.h"

#include <mbstring.h>
#include <setupapi.h>

#include <cstring>

#include "common/handles.h"
#include "common/pass_record.h"
#include "common/pause.h"
#include "common/product.h"
#include "vireodll/activity_log.h"
#include "vireodll/bios_client.h"
#include "vireodll/settings_registry.h"

#include "common/safe_strings.h"

namespace vireo {
namespace {

constexpr LONG kWirelessIdCommand = 1;
constexpr LONG kWirelessIdCommandType = 14;
constexpr ULONG kBiosOutputSize = 128;
// GUID_NDIS_LAN_CLASS {AD498944-762F-11D0-8DCB-00C04FC3358C}
constexpr GUID kNetworkAdapterInterface = {
    0xAD498944, 0x762F, 0x11D0, {0x8D, 0xCB, 0x00, 0xC0, 0x4F, 0xC3, 0x35, 0x8C}};
constexpr size_t kPciRecordLength = 10;
constexpr size_t kType2RecordLength = 6;

// "PCI\VEN_xxxx&DEV_xxxx&SUBSYS_xxxxxxxx": 37 characters and the terminator.
char g_biosWirelessId[38];

void RecordBiosWirelessId(const BYTE* record) {
    StringCchPrintfA(g_biosWirelessId, ARRAYSIZE(g_biosWirelessId),
                     "PCI\\VEN_%02X%02X&DEV_%02X%02X&SUBSYS_%02X%02X%02X%02X", unsigned{record[3]},
                     unsigned{record[2]}, unsigned{record[5]}, unsigned{record[4]},
                     unsigned{record[9]}, unsigned{record[8]}, unsigned{record[7]},
                     unsigned{record[6]});
}

// Three records from the start of the output; a record of length 0 makes the
// next decode read the same bytes again.
void DecodeDeviceRecords(const BYTE (&output)[kBiosOutputSize]) {
    size_t offset = 0;
    for (int record = 0; record < 3; ++record)
        offset += ParseDeviceRecord(output + offset, sizeof(output) - offset);
}

// True when WLANID reads back shorter than 3 characters.
bool WlanIdLooksUnset() {
    UniqueHkey settings = OpenRegistryKey(HKEY_CURRENT_USER, kSettingsKey, KEY_ALL_ACCESS);
    if (!settings) return false;
    char text[MAX_PATH];
    ZeroMemory(text, sizeof(text));
    DWORD size = sizeof(text);
    if (RegQueryValueExA(settings.get(), kWlanIdValue, nullptr, nullptr,
                         reinterpret_cast<BYTE*>(text), &size) != ERROR_SUCCESS)
        return false;
    text[size < sizeof(text) ? size : sizeof(text) - 1] = '\0';
    return strlen(text) < 3;
}

}  // namespace

size_t ParseDeviceRecord(const BYTE* record, size_t available) {
    if (available == 0) return 0;
    if (record[0] == 1 && available >= kPciRecordLength) {
        RecordBiosWirelessId(record);
        return kPciRecordLength;
    }
    if (record[0] == 2 && available >= kType2RecordLength) return kType2RecordLength;
    return 0;
}

const char* BiosWirelessId() { return g_biosWirelessId; }

void MatchWirelessAdapter() {
    // Without DIGCF_PRESENT, so adapters that are not present are walked too.
    UniqueDeviceList adapters(
        SetupDiGetClassDevsA(&kNetworkAdapterInterface, nullptr, nullptr, DIGCF_DEVICEINTERFACE));
    if (!adapters) return;

    SP_DEVINFO_DATA adapter;
    ZeroMemory(&adapter, sizeof(adapter));
    adapter.cbSize = sizeof(adapter);
    char hardwareId[MAX_PATH];
    const size_t idLength = strlen(g_biosWirelessId);
    for (DWORD index = 0; SetupDiEnumDeviceInfo(adapters.get(), index, &adapter); ++index) {
        // A property that cannot be read leaves an empty text; only the first
        // string of the multi-string is used.
        ZeroMemory(hardwareId, sizeof(hardwareId));
        SetupDiGetDeviceRegistryPropertyA(adapters.get(), &adapter, SPDRP_HARDWAREID, nullptr,
                                          reinterpret_cast<BYTE*>(hardwareId), sizeof(hardwareId),
                                          nullptr);
        hardwareId[MAX_PATH - 1] = '\0';
        if (strlen(hardwareId) <= kMinimumIdLength) continue;
        WriteLog("Hardware ID from PCI Bus : ", hardwareId);
        // A prefix match in the system's ANSI code page, ignoring letter case;
        // it stops at the end of either text, so a shorter ID does not match.
        if (_mbsnbicmp(reinterpret_cast<const unsigned char*>(g_biosWirelessId),
                       reinterpret_cast<const unsigned char*>(hardwareId), idLength) == 0) {
            WriteRegString(HKEY_CURRENT_USER, kSettingsKey, kWlanIdValue, hardwareId);
            WriteLog(kWirelessMatchLine, "");
            return;
        }
    }
}

int GetWirelessID(const char* label) {
    WriteLog(kWirelessAttemptLine, label);

    BYTE output[kBiosOutputSize];
    ZeroMemory(output, sizeof(output));
    LONG returnCode = 0;
    HRESULT result;
    {
        ComInitialization com;
        CClientcrvwmiex client;
        // The output buffer doubles as the (empty) input.
        result = client.ExecMethodEx(kWirelessIdCommand, kWirelessIdCommandType, 0, kBiosOutputSize,
                                     &returnCode, output, output);
    }
    if (FAILED(result)) {
        WriteLog(kWirelessCallFailedLine, "\r\n");
        return 0;
    }
    if (returnCode != 0) {
        WriteLog(kWirelessRefusedLine, "\r\n");
        WriteRegString(HKEY_CURRENT_USER, kSettingsKey, kWirelessMessageValue,
                       "Get Wireless ID fails");
        return 0;
    }
    WriteLog("Able to get wireless ID", "");
    DecodeDeviceRecords(output);
    WriteRegString(HKEY_CURRENT_USER, kSettingsKey, kWirelessMessageValue, "Get Wireless ID OK");
    WriteLog(kWirelessIdLine, g_biosWirelessId);

    if (strlen(g_biosWirelessId) <= kMinimumIdLength) {
        WriteLog(kWirelessShortIdLine, "\r\n");
        return 0;
    }
    MatchWirelessAdapter();
    Pause(4000);
    if (WlanIdLooksUnset()) Pause(2000);
    ZeroMemory(output, sizeof(output));
    return 1;
}

}  // namespace vireo

// What the preference pass leaves behind: the activity log's markers and the
// lines that tell how the wireless identification ended, the settings key's
// value names and the wake-on-LAN capability. The pass writes them and the
// verifier reads them back, both from these definitions.
#pragma once

#include <windows.h>

#include <cstddef>

namespace vireo {

constexpr char kLogPath[] = "C:\\SYSTEM.SAV\\Pallister.log";
constexpr char kLogBeginMarker[] = "===== \r\n Begin Vireo requirements =====";
constexpr char kLogEndMarker[] = "==== end of Vireo requirements ====";

// Log lines of the wireless identification: one attempt line (the attempt's
// label follows it) and the line each way an attempt can end with.
constexpr char kWirelessAttemptLine[] = "--- Get in GetWirelessID -- Number of try : ";
constexpr char kWirelessCallFailedLine[] = "\r\n =?=?=? Call crvExecMethodEx fails =?=?=?";
constexpr char kWirelessRefusedLine[] = "\r\n =?=?=? Cannot get wireless ID =?=?=?";
constexpr char kWirelessShortIdLine[] =
    "\r\n =?=?=? size of returns less than 10 characters =?=?=?";
constexpr char kWirelessIdLine[] =
    "Wireless LAN ID from BIOS: -- write this value to register as well -- ";
constexpr char kWirelessMatchLine[] =
    "---Match both hardware ID from BIOS and register --- and set WLAN ID to registry";

// IDs of this length or shorter (the BIOS's, an adapter's hardware ID) are
// not worth matching; WLANID holds a longer one once an adapter matched.
constexpr size_t kMinimumIdLength = 10;

// Settings key values.
constexpr char kMachineIdValue[] = "MachineID";
constexpr char kWlanIdValue[] = "WLANID";
constexpr char kWlanIdInitialText[] = "WLAN";
constexpr char kWirelessMessageValue[] = "Msg";
constexpr char kControlGuid1Value[] = "Control-GUID1";
constexpr char kCurrentGuid2Value[] = "Current-GUID2";
constexpr char kControlGuid3Value[] = "Control-GUID3";
constexpr char kCurrentGuid3Value[] = "Current-GUID3";

// Below HKEY_LOCAL_MACHINE, followed by the text the script left in GUIDn.
constexpr char kControlSet001Class[] = "System\\ControlSet001\\Control\\Class\\";
constexpr char kCurrentControlSetClass[] = "System\\CurrentControlSet\\Control\\Class\\";

// The class paths the pass records, each one it wrote the capability under,
// with the class root it begins with.
struct RecordedClassPath {
    const char* valueName;
    const char* classRoot;
};
constexpr RecordedClassPath kRecordedClassPaths[] = {
    {kControlGuid1Value, kControlSet001Class},
    {kCurrentGuid2Value, kCurrentControlSetClass},
    {kControlGuid3Value, kControlSet001Class},
    {kCurrentGuid3Value, kCurrentControlSetClass},
};
constexpr char kCapabilityName[] = "PnPCapabilities";
constexpr DWORD kWakeOnLanCapability = 288;

}  // namespace vireo

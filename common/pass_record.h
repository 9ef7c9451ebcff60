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
// The values the maker's script leaves, naming the adapters' class keys.
constexpr char kGuid1Value[] = "GUID1";
constexpr char kGuid2Value[] = "GUID2";
constexpr char kGuid3Value[] = "GUID3";

// Log lines of the machine ID (the ID follows) and of the GUID values: the
// line of a handled value (a class path or the value's text follows) and the
// line of GUID1 still missing after its second read.
constexpr char kMachineIdLine[] = "System ID : ";
constexpr char kGuid1HandledLine[] = "find GUID1 and set Wake on LAN for GUID : ";
constexpr char kGuid2HandledLine[] = "find GUID2 and set Wake on LAN for GUID : ";
constexpr char kGuid3HandledLine[] = "find GUID3 and set Wake on LAN for GUID : ";
constexpr char kGuid1MissingLine[] = "Cannot find GUID1 in HKCU -- second time";

// Below HKEY_LOCAL_MACHINE, followed by the text the script left in GUIDn.
constexpr char kControlSet001Class[] = "System\\ControlSet001\\Control\\Class\\";
constexpr char kCurrentControlSetClass[] = "System\\CurrentControlSet\\Control\\Class\\";

// The class paths the pass records, each one it wrote the capability under,
// with the class root it begins with, the GUID value it came from and the
// line the pass logs for that value (followed by a class path under either
// root).
struct RecordedClassPath {
    const char* valueName;
    const char* classRoot;
    const char* sourceValue;
    const char* handledLine;
};
constexpr RecordedClassPath kRecordedClassPaths[] = {
    {kControlGuid1Value, kControlSet001Class, kGuid1Value, kGuid1HandledLine},
    {kCurrentGuid2Value, kCurrentControlSetClass, kGuid2Value, kGuid2HandledLine},
    {kControlGuid3Value, kControlSet001Class, kGuid3Value, kGuid3HandledLine},
    {kCurrentGuid3Value, kCurrentControlSetClass, kGuid3Value, kGuid3HandledLine},
};
constexpr char kCapabilityName[] = "PnPCapabilities";
constexpr DWORD kWakeOnLanCapability = 288;

}  // namespace vireo

#include "vireodll/preference_pass.h"

#include <msiquery.h>
#include <shellapi.h>

#include <cstring>

#include "common/handles.h"
#include "common/pass_record.h"
#include "common/pause.h"
#include "common/product.h"
#include "vireodll/activity_log.h"
#include "vireodll/machine_id.h"
#include "vireodll/process_lookup.h"
#include "vireodll/settings_registry.h"
#include "vireodll/wireless.h"

#include "common/safe_strings.h"

namespace vireo {
namespace {

constexpr char kScriptFileName[] = "Vireo_Win7.vbs";
constexpr char kScriptHost[] = "wscript.exe";
// The longer class root (39 characters) plus this much text fills the class
// path exactly; a longer GUID value counts as not available.
constexpr size_t kMaxGuidTextLength = 220;
constexpr size_t kShortGuid1Length = 10;
constexpr int kMaxScriptPolls = 100;

// The pass's working texts, cleared at the start and again before the end.
struct PassBuffers {
    char settingsKey[MAX_PATH];
    char scriptPath[MAX_PATH];
    char classPath[MAX_PATH];
    char valueText[MAX_PATH];
};

void InitializeLogAndSettings(PassBuffers& buffers) {
    SetLogPath(kLogPath);
    WriteLog(kLogBeginMarker, "");
    StringCchCopyA(buffers.settingsKey, MAX_PATH, kSettingsKey);
    WriteRegString(HKEY_CURRENT_USER, buffers.settingsKey, kWlanIdValue, kWlanIdInitialText);
    WriteLog("Initialize HK WLANID = WLAN", "");
}

// Up to three attempts; each later one only when the one before reported 0.
void IdentifyWirelessAdapter() {
    if (GetWirelessID("GetWirelessID - Try 1")) return;
    if (GetWirelessID("GetWirelessID - Try 2")) return;
    GetWirelessID("GetWirelessID - Try 3");
}

// Waits while a script host runs: at most 101 polls of 200 ms. Msg3 records a
// wait that reached its limit, whatever the last look found.
void WaitForScriptHost(const char* settingsKey) {
    if (FindProcessByName(kScriptHost) == 0) return;
    int polls = 0;
    for (;;) {
        Pause(200);
        const bool hostRunning = FindProcessByName(kScriptHost) != 0;
        ++polls;
        if (polls > kMaxScriptPolls) {
            WriteRegString(HKEY_CURRENT_USER, settingsKey, "Msg3",
                           "Take longer than 10 seconds to execute Vireot_Win7.vbs");
            return;
        }
        if (!hostRunning) return;
    }
}

void RunMakerScript(PassBuffers& buffers) {
    const bool pathFits = BuildProductPath(kScriptFileName, buffers.scriptPath);
    Pause(2000);
    WriteLog("Call script with CmdLine : ", buffers.scriptPath);
    if (pathFits) {
        ShellExecuteA(nullptr, nullptr, buffers.scriptPath, "/s", nullptr, SW_HIDE);
    }
    Pause(3000);
    WaitForScriptHost(buffers.settingsKey);
}

// Reads a GUID value into text, offering the whole buffer. The text is
// terminated inside the buffer; a failed read, or a value longer than the
// class path can take, leaves it empty and counts as not available.
bool ReadGuidText(HKEY key, const char* name, char (&text)[MAX_PATH]) {
    DWORD size = MAX_PATH;
    const LONG status =
        RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
    if (status == ERROR_SUCCESS) {
        text[size < MAX_PATH ? size : MAX_PATH - 1] = '\0';
        if (strlen(text) <= kMaxGuidTextLength) return true;
    }
    ZeroMemory(text, MAX_PATH);
    return false;
}

// Class root followed by the value text as the script wrote it, and the
// capability written under that key.
void SetCapabilityUnder(const char* classRoot, PassBuffers& buffers) {
    StringCchPrintfA(buffers.classPath, MAX_PATH, "%s%s", classRoot, buffers.valueText);
    WriteRegDword(HKEY_LOCAL_MACHINE, buffers.classPath, kCapabilityName, kWakeOnLanCapability);
}

void RecordClassPath(const PassBuffers& buffers, const char* name) {
    WriteRegString(HKEY_CURRENT_USER, buffers.settingsKey, name, buffers.classPath);
}

void HandleGuid1(HKEY settings, PassBuffers& buffers) {
    ReadGuidText(settings, kGuid1Value, buffers.valueText);
    if (strlen(buffers.valueText) < kShortGuid1Length) {
        WriteLog("Cannot find GUID1 in HKCU -- first time", "\r\n");
        Pause(2000);
    }
    if (!ReadGuidText(settings, kGuid1Value, buffers.valueText)) {
        WriteLog(kGuid1MissingLine, "\r\n");
        return;
    }
    SetCapabilityUnder(kControlSet001Class, buffers);
    RecordClassPath(buffers, kControlGuid1Value);
    SetCapabilityUnder(kCurrentControlSetClass, buffers);
    WriteLog(kGuid1HandledLine, buffers.classPath);
}

void HandleGuid2(HKEY settings, PassBuffers& buffers) {
    if (!ReadGuidText(settings, kGuid2Value, buffers.valueText)) {
        WriteLog("GUID2 in HKCU is not available", "\r\n");
        return;
    }
    WriteLog(kGuid2HandledLine, buffers.valueText);
    SetCapabilityUnder(kControlSet001Class, buffers);
    WriteLog(kGuid2HandledLine, buffers.classPath);
    SetCapabilityUnder(kCurrentControlSetClass, buffers);
    RecordClassPath(buffers, kCurrentGuid2Value);
}

void HandleGuid3(HKEY settings, PassBuffers& buffers) {
    if (!ReadGuidText(settings, kGuid3Value, buffers.valueText)) {
        WriteLog("GUID3 in HKCU is not available", "\r\n");
        return;
    }
    SetCapabilityUnder(kControlSet001Class, buffers);
    RecordClassPath(buffers, kControlGuid3Value);
    SetCapabilityUnder(kCurrentControlSetClass, buffers);
    RecordClassPath(buffers, kCurrentGuid3Value);
    WriteLog(kGuid3HandledLine, buffers.classPath);
}

// Turns on wake-on-LAN under the class keys the script named in GUID1 to
// GUID3. Without the settings key nothing is done and nothing is logged.
void EnableWakeOnLan(PassBuffers& buffers) {
    UniqueHkey settings = OpenRegistryKey(HKEY_CURRENT_USER, buffers.settingsKey, KEY_ALL_ACCESS);
    if (!settings) return;
    HandleGuid1(settings.get(), buffers);
    HandleGuid2(settings.get(), buffers);
    HandleGuid3(settings.get(), buffers);
}

}  // namespace
}  // namespace vireo

extern "C" UINT __stdcall crvVireoReq(MSIHANDLE session) {
    using namespace vireo;
    PassBuffers buffers;
    ZeroMemory(&buffers, sizeof(buffers));

    InitializeLogAndSettings(buffers);
    CaptureMachineId();
    IdentifyWirelessAdapter();
    RunMakerScript(buffers);
    Pause(12000);
    EnableWakeOnLan(buffers);

    ZeroMemory(&buffers, sizeof(buffers));
    WriteLog(kLogEndMarker, "\r\n");
    MsiSetPropertyA(session, "crvMSIHotFix", "1");
    return 0;
}

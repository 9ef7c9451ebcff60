#include "runner/power_plan.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include "common/handles.h"
#include "common/power_settings.h"
#include "common/product.h"

#include "common/safe_strings.h"

namespace vireo {
namespace {

// A command that outlives this is left running and the next one follows.
constexpr DWORD kCommandTimeoutMs = 60000;

// The activation word of the list's last command, the only command word of
// the program without a leading dash.
constexpr char kListActivation[] = "SETACTIVE";

}  // namespace

// Launches powercfg.exe hidden and waits for it (bounded), so consecutive
// commands never run at the same time: two of them set the same value.
void RunPowerCfg(const char* parameters) {
    char toolPath[MAX_PATH];
    char parameterCopy[MAX_PATH];
    ZeroMemory(toolPath, sizeof(toolPath));
    ZeroMemory(parameterCopy, sizeof(parameterCopy));
    if (!BuildFolderPath(CSIDL_SYSTEM, "\\powercfg.exe", toolPath)) return;
    if (FAILED(StringCchCopyA(parameterCopy, MAX_PATH, parameters))) return;

    SHELLEXECUTEINFOA launch;
    ZeroMemory(&launch, sizeof(launch));
    launch.cbSize = sizeof(launch);
    launch.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    launch.lpFile = toolPath;
    launch.lpParameters = parameterCopy;
    launch.nShow = SW_HIDE;
    if (!ShellExecuteExA(&launch)) return;
    UniqueHandle process(launch.hProcess);
    if (process) WaitForSingleObject(process.get(), kCommandTimeoutMs);
}

void RunPowerCfgOnScheme(const char* commandWord) {
    char parameters[MAX_PATH];
    if (SUCCEEDED(StringCchPrintfA(parameters, MAX_PATH, "%s %s", commandWord, kBalancedScheme)))
        RunPowerCfg(parameters);
}

void ApplyPowerPlan() {
    char parameters[MAX_PATH];
    if (FormatChangeNameCommand(parameters)) RunPowerCfg(parameters);
    for (const PowerSettingValue& row : kMakerPowerSettings)
        if (FormatSetValueCommand(row, parameters)) RunPowerCfg(parameters);
    RunPowerCfgOnScheme(kListActivation);
}

void ApplyLidOverride() {
    char parameters[MAX_PATH];
    if (FormatSetValueCommand(kDiskProtectionLidOverride, parameters)) RunPowerCfg(parameters);
}

}  // namespace vireo

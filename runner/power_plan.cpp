#include "runner/power_plan.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include "common/handles.h"
#include "common/product.h"

#include "common/safe_strings.h"

namespace vireo {
namespace {

// A command that outlives this is left running and the next one follows.
constexpr DWORD kCommandTimeoutMs = 60000;

// The maker's Balanced scheme, one powercfg parameter string per setting.
constexpr const char* kPowerPlanCommands[] = {
    "-changename 381b4222-f694-41f0-9685-ff5bb260df2e \"Corvane Optimized\"",
    "-setacvalueindex 381b4222-f694-41f0-9685-ff5bb260df2e 0012ee47-9041-4b5d-9b77-535fba8b1442 "
    "0b2d69d7-a2a1-449c-9680-f91c70521c60 2",
    "-setdcvalueindex 381b4222-f694-41f0-9685-ff5bb260df2e 0012ee47-9041-4b5d-9b77-535fba8b1442 "
    "0b2d69d7-a2a1-449c-9680-f91c70521c60 2",
    "-setacvalueindex 381b4222-f694-41f0-9685-ff5bb260df2e 0012ee47-9041-4b5d-9b77-535fba8b1442 "
    "dab60367-53fe-4fbc-825e-521d069d2456 50",
    "-setdcvalueindex 381b4222-f694-41f0-9685-ff5bb260df2e 0012ee47-9041-4b5d-9b77-535fba8b1442 "
    "dab60367-53fe-4fbc-825e-521d069d2456 50",
    "-setacvalueindex 381b4222-f694-41f0-9685-ff5bb260df2e 4f971e89-eebd-4455-a8de-9e59040e7347 "
    "5ca83367-6e45-459f-a27b-476b1d01c936 0",
    "-setdcvalueindex 381b4222-f694-41f0-9685-ff5bb260df2e 4f971e89-eebd-4455-a8de-9e59040e7347 "
    "5ca83367-6e45-459f-a27b-476b1d01c936 1",
    "-setacvalueindex 381b4222-f694-41f0-9685-ff5bb260df2e 4f971e89-eebd-4455-a8de-9e59040e7347 "
    "7648efa3-dd9c-4e3e-b566-50f929386280 3",
    "-setdcvalueindex 381b4222-f694-41f0-9685-ff5bb260df2e 4f971e89-eebd-4455-a8de-9e59040e7347 "
    "7648efa3-dd9c-4e3e-b566-50f929386280 3",
    "-setacvalueindex 381b4222-f694-41f0-9685-ff5bb260df2e 238C9FA8-0AAD-41ED-83F4-97BE242C8F20 "
    "9d7815a6-7ee4-497e-8888-515a05f02364 64800",
    "-setdcvalueindex 381b4222-f694-41f0-9685-ff5bb260df2e 238C9FA8-0AAD-41ED-83F4-97BE242C8F20 "
    "9d7815a6-7ee4-497e-8888-515a05f02364 64800",
    "-setacvalueindex 381b4222-f694-41f0-9685-ff5bb260df2e 7516b95f-f776-4464-8c53-06167f40cc99 "
    "aded5e82-b909-4619-9949-f5d71dac0bcb 100",
    "-setdcvalueindex 381b4222-f694-41f0-9685-ff5bb260df2e 7516b95f-f776-4464-8c53-06167f40cc99 "
    "aded5e82-b909-4619-9949-f5d71dac0bcb 40",
    // The only command word of the program without a leading dash.
    "SETACTIVE 381b4222-f694-41f0-9685-ff5bb260df2e",
};

// Battery lid-close action: do nothing.
constexpr char kLidOverride[] =
    "-setdcvalueindex 381b4222-f694-41f0-9685-ff5bb260df2e 4f971e89-eebd-4455-a8de-9e59040e7347 "
    "5ca83367-6e45-459f-a27b-476b1d01c936 0";

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

void ApplyPowerPlan() {
    for (const char* parameters : kPowerPlanCommands) RunPowerCfg(parameters);
}

void ApplyLidOverride() { RunPowerCfg(kLidOverride); }

}  // namespace vireo

#include "runner/setup_sequence.h"

#include <msi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "common/handles.h"
#include "common/pause.h"
#include "common/product.h"
#include "common/disk_probe.h"
#include "runner/power_plan.h"

#include "common/safe_strings.h"

namespace vireo {
namespace {

using VireoEntry = UINT(WINAPI*)(MSIHANDLE);

constexpr char kInstallerFileName[] = "Setup1.exe";
constexpr char kInstallerArguments[] = "/q";

// The program's own folder; false when the module path does not fit.
bool GetProgramFolder(char (&folder)[MAX_PATH]) {
    const DWORD length = GetModuleFileNameA(nullptr, folder, MAX_PATH);
    folder[MAX_PATH - 1] = '\0';
    if (length == 0 || length >= MAX_PATH) {
        folder[0] = '\0';
        return false;
    }
    PathRemoveFileSpecA(folder);
    return true;
}

// Runs the silent installer that lies beside the program. The path is quoted
// in the command line and given as the application name, so a folder with
// spaces cannot resolve to a planted program on a shorter prefix.
void RunInstaller(char (&buffer)[MAX_PATH]) {
    char folder[MAX_PATH];
    char installerPath[MAX_PATH];
    if (!GetProgramFolder(folder)) return;
    if (FAILED(StringCchPrintfA(installerPath, MAX_PATH, "%s\\%s", folder, kInstallerFileName)))
        return;
    if (FAILED(StringCchPrintfA(buffer, MAX_PATH, "\"%s\" %s", installerPath, kInstallerArguments)))
        return;
    RunAndWait(installerPath, buffer);
}

// Loads the library from the product folder and runs its pass once with no
// installer session. False when the library or its entry is missing. The
// library's own imports (msi.dll is not a known DLL) are searched from the
// library's folder and the system folders, never from the program's folder,
// which is often removable or writable media.
bool RunPreferencePass(char (&buffer)[MAX_PATH]) {
    if (!BuildProductPath(kLibraryFileName, buffer)) return false;
    UniqueModule library(LoadLibraryExA(buffer, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!library) return false;
    // Through void* so that the compiler accepts the change of function type.
    const auto entry = reinterpret_cast<VireoEntry>(
        reinterpret_cast<void*>(GetProcAddress(library.get(), kEntryPointName)));
    if (entry == nullptr) return false;
    entry(0);
    return true;
}

}  // namespace

BOOL RunAndWait(const char* applicationPath, char* commandLine) {
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    UniqueProcessInformation process;
    if (!CreateProcessA(applicationPath, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, process.addressof())) {
        return FALSE;
    }
    WaitForSingleObject(process.process(), INFINITE);
    return TRUE;
}

int RunSetupSequence() {
    char buffer[MAX_PATH];
    ZeroMemory(buffer, sizeof(buffer));

    RunInstaller(buffer);
    Pause(10000);
    if (!RunPreferencePass(buffer)) return 0;

    ApplyPowerPlan();
    if (IsDiskProtectionPresent() == 1) ApplyLidOverride();
    RunPowerCfg("-ReplaceDefaultSchemes");
    RunPowerCfgOnScheme("-S");
    return 0;
}

}  // namespace vireo

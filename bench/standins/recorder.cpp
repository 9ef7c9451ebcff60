// Stand-in for a program the product starts (the silent installer, a planted
// program): journals its command line and ends with exit code 0, or as
// HKCU\Software\CorvaneBench\installer "Behaviour" says: "exit-code" ends with
// "ExitCode" (a DWORD), "crash" ends with an access violation.
#include <windows.h>
#include <strsafe.h>

#include "journal.h"

namespace {

constexpr char kConfigKey[] = "Software\\CorvaneBench\\installer";

bool ReadBehaviour(char (&behaviour)[32]) {
    DWORD size = sizeof(behaviour);
    if (RegGetValueA(HKEY_CURRENT_USER, kConfigKey, "Behaviour", RRF_RT_REG_SZ, nullptr, behaviour,
                     &size) != ERROR_SUCCESS)
        return false;
    behaviour[ARRAYSIZE(behaviour) - 1] = '\0';
    return true;
}

DWORD ConfiguredExitCode() {
    DWORD code = 1;
    DWORD size = sizeof(code);
    RegGetValueA(HKEY_CURRENT_USER, kConfigKey, "ExitCode", RRF_RT_REG_DWORD, nullptr, &code,
                 &size);
    return code;
}

void Crash() {
    bench::AppendJournal("crashing");
    volatile int* volatile nowhere = nullptr;
    *nowhere = 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    bench::AppendJournal(GetCommandLineA());
    char behaviour[32] = "";
    if (!ReadBehaviour(behaviour)) return 0;
    if (lstrcmpiA(behaviour, "crash") == 0) Crash();
    if (lstrcmpiA(behaviour, "exit-code") != 0) return 0;
    const DWORD code = ConfiguredExitCode();
    char event[32];
    StringCchPrintfA(event, ARRAYSIZE(event), "exit %lu", code);
    bench::AppendJournal(event);
    return static_cast<int>(code);
}

// A planted msi.dll: journals the process it was loaded into, and offers the
// property setter at ordinal 144 so that a library importing it still loads.
#include <windows.h>
#include <shlwapi.h>
#include <strsafe.h>

#include "journal.h"

extern "C" UINT __stdcall PlantedSetProperty(ULONG, const char*, const char*) { return 0; }

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    path[MAX_PATH - 1] = '\0';
    char event[MAX_PATH + 32];
    StringCchPrintfA(event, ARRAYSIZE(event), "planted copy loaded into %s",
                     PathFindFileNameA(path));
    bench::AppendJournal(event);
    return TRUE;
}

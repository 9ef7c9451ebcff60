// A planted msi.dll: journals the process it was loaded into, and offers the
// property setter at ordinal 144 so that a library importing it still loads.
#include <windows.h>

#include "journal.h"

extern "C" UINT __stdcall PlantedSetProperty(ULONG, const char*, const char*) { return 0; }

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) bench::AppendJournalWithProcess("planted copy loaded into ");
    return TRUE;
}

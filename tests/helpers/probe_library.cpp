// Plays the library for the program's tests: journals the entry's call and
// its own unloading.
#include <windows.h>
#include <strsafe.h>

#include "journal.h"

extern "C" UINT __stdcall crvVireoReq(ULONG session) {
    char event[64];
    StringCchPrintfA(event, ARRAYSIZE(event), "crvVireoReq session=%lu", session);
    bench::AppendJournal(event);
    return 0;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_DETACH) bench::AppendJournal("unloaded");
    return TRUE;
}

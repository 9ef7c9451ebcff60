// Plays the library for the program's tests: journals the entry's call and
// its own unloading. Like the real library it imports msi.dll's property
// setter by ordinal, so where msi.dll is searched from shows.
#include <windows.h>
#include <msiquery.h>
#include <strsafe.h>

#include "journal.h"

extern "C" UINT __stdcall crvVireoReq(ULONG session) {
    char event[64];
    StringCchPrintfA(event, ARRAYSIZE(event), "crvVireoReq session=%lu", session);
    bench::AppendJournal(event);
    MsiSetPropertyA(session, "crvMSIHotFix", "1");
    return 0;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_DETACH) bench::AppendJournal("unloaded");
    return TRUE;
}

// A library without the pass's entry: journals being loaded and unloaded.
#include <windows.h>

#include "journal.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) bench::AppendJournal("loaded");
    if (reason == DLL_PROCESS_DETACH) bench::AppendJournal("unloaded");
    return TRUE;
}

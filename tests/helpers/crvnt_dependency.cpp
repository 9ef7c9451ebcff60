// A DLL that an importing CRVNT.DLL stand-in needs. Built twice under one
// name: the genuine copy that lies beside that CRVNT.DLL, and a copy planted
// beside the program hosting the pass; each journals which copy was loaded
// into which process.
#include <windows.h>

#include "journal.h"

extern "C" __declspec(dllexport) int crvDependencyReady() { return 1; }

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH)
        bench::AppendJournalWithProcess(COPY_KIND " copy loaded into ");
    return TRUE;
}

// Loads the library named on its command line with a plain LoadLibraryA and
// calls its entry once: what the program must not do.
#include <windows.h>
#include <shlwapi.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    PathUnquoteSpacesA(commandLine);
    HMODULE library = LoadLibraryA(commandLine);
    if (library == nullptr) return 1;
    using Entry = UINT(WINAPI*)(ULONG);
    const auto entry =
        reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(library, "crvVireoReq")));
    if (entry != nullptr) entry(0);
    FreeLibrary(library);
    return 0;
}

// A process that only lives a while: argv[1] milliseconds (default 60000).
// Copied under another name (wscript.exe) it plays a script host. Given a
// file as well (linger.exe MS PATH), it holds that file open without sharing
// for the whole time, as another program might hold a log file.
#include <windows.h>
#include <shellapi.h>
#include <strsafe.h>

#include <cstdlib>

#include "common/handles.h"
#include "journal.h"

namespace {

DWORD LifetimeMs(int count, wchar_t** arguments) {
    return count > 1 ? static_cast<DWORD>(wcstoul(arguments[1], nullptr, 10)) : 60000;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    const DWORD milliseconds = arguments != nullptr ? LifetimeMs(count, arguments) : 60000;
    vireo::UniqueFileHandle held;
    if (arguments != nullptr && count > 2) {
        held.reset(CreateFileW(arguments[2], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
        char event[2 * MAX_PATH];
        StringCchPrintfA(event, ARRAYSIZE(event), "%s %ls", held ? "holding" : "cannot hold",
                         arguments[2]);
        bench::AppendJournal(event);
    }
    if (arguments != nullptr) LocalFree(arguments);
    Sleep(milliseconds);
    return 0;
}

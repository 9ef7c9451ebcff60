#include "journal.h"

#include <windows.h>
#include <shlwapi.h>
#include <strsafe.h>

namespace bench {
namespace {

unsigned long long MillisecondsSince1970() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER ticks;
    ticks.LowPart = now.dwLowDateTime;
    ticks.HighPart = now.dwHighDateTime;
    return (ticks.QuadPart - 116444736000000000ULL) / 10000ULL;
}

// The module that contains this code: a stand-in DLL journals its own name.
void ModuleFileName(char (&name)[MAX_PATH]) {
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ModuleFileName), &self);
    char path[MAX_PATH] = "";
    GetModuleFileNameA(self, path, MAX_PATH);
    path[MAX_PATH - 1] = '\0';
    StringCchCopyA(name, MAX_PATH, PathFindFileNameA(path));
}

}  // namespace

void AppendJournalWithProcess(const char* prefix) {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    path[MAX_PATH - 1] = '\0';
    char event[2 * MAX_PATH];
    StringCchPrintfA(event, ARRAYSIZE(event), "%s%s", prefix, PathFindFileNameA(path));
    AppendJournal(event);
}

void AppendJournal(const char* event) {
    char name[MAX_PATH];
    ModuleFileName(name);
    char line[2048];
    StringCchPrintfA(line, ARRAYSIZE(line), "%llu\t%s\t%s\r\n", MillisecondsSince1970(), name,
                     event);
    CreateDirectoryA("C:\\bench", nullptr);
    // Several processes may append at once: retry while another holds the file.
    for (int attempt = 0; attempt < 200; ++attempt) {
        HANDLE file = CreateFileA(kJournalPath, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, line, static_cast<DWORD>(lstrlenA(line)), &written, nullptr);
            CloseHandle(file);
            return;
        }
        Sleep(10);
    }
}

}  // namespace bench

#include "vireodll/process_lookup.h"

#include <tlhelp32.h>

#include "common/handles.h"

#include "common/safe_strings.h"

namespace vireo {

DWORD FindProcessByName(const char* exeName) {
    UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return 0;
    PROCESSENTRY32 entry;
    ZeroMemory(&entry, sizeof(entry));
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot.get(), &entry); more;
         more = Process32Next(snapshot.get(), &entry)) {
        entry.szExeFile[MAX_PATH - 1] = '\0';
        if (lstrcmpiA(entry.szExeFile, exeName) == 0) return entry.th32ProcessID;
    }
    return 0;
}

}  // namespace vireo

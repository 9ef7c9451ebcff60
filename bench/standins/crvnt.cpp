// Stand-in for the maker's machine-ID library CRVNT.DLL. crvGetMachineId
// writes the ID configured in HKCU\Software\CorvaneBench\CRVNT ("MachineId",
// default below) into the caller's 260-byte buffer; with "Unterminated" = 1 it
// fills all 260 bytes and writes no terminator. "Behaviour" "crash" makes the
// call fault (an access violation), "hang" makes it never return. Built once __cdecl and once
// __stdcall (CRVNT_STDCALL), since nothing fixes the maker's convention.
#include <windows.h>
#include <strsafe.h>

#include "journal.h"

namespace {

constexpr char kConfigKey[] = "Software\\CorvaneBench\\CRVNT";
constexpr char kDefaultMachineId[] = "CRV-7B2E-4411-9C03";

DWORD ReadConfigDword(const char* name) {
    DWORD value = 0, size = sizeof(value);
    if (RegGetValueA(HKEY_CURRENT_USER, kConfigKey, name, RRF_RT_REG_DWORD, nullptr, &value,
                     &size) != ERROR_SUCCESS)
        return 0;
    return value;
}

bool BehaviourIs(const char* behaviour) {
    char text[32] = "";
    DWORD size = sizeof(text);
    if (RegGetValueA(HKEY_CURRENT_USER, kConfigKey, "Behaviour", RRF_RT_REG_SZ, nullptr, text,
                     &size) != ERROR_SUCCESS)
        return false;
    text[ARRAYSIZE(text) - 1] = '\0';
    return lstrcmpiA(text, behaviour) == 0;
}

void ReadConfiguredId(char (&id)[MAX_PATH]) {
    DWORD size = sizeof(id);
    if (RegGetValueA(HKEY_CURRENT_USER, kConfigKey, "MachineId", RRF_RT_REG_SZ, nullptr, id,
                     &size) != ERROR_SUCCESS)
        StringCchCopyA(id, MAX_PATH, kDefaultMachineId);
    id[MAX_PATH - 1] = '\0';
}

}  // namespace

#ifdef CRVNT_STDCALL
#define CRVNT_CALL __stdcall
#else
#define CRVNT_CALL __cdecl
#endif

#ifdef CRVNT_IMPORTS_DEPENDENCY
// A build that imports a DLL of its own, to show where that DLL is taken from.
extern "C" __declspec(dllimport) int crvDependencyReady();
#endif

extern "C" int CRVNT_CALL crvGetMachineId(char* buffer) {
    // Who hosted the pass: the program, or an installer's custom action server.
    bench::AppendJournalWithProcess("crvGetMachineId in ");
#ifdef CRVNT_IMPORTS_DEPENDENCY
    if (crvDependencyReady() != 1) return 1;
#endif
    if (BehaviourIs("crash")) {
        // An access violation inside the call, as a write through a null
        // pointer raises it. It is raised, not caused: under qemu-user the
        // fault of such a write reaches Wine as an illegal instruction.
        const ULONG_PTR writeToNull[] = {1, 0};
        RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 2, writeToNull);
    }
    if (BehaviourIs("hang")) Sleep(INFINITE);
    if (ReadConfigDword("Unterminated") == 1) {
        FillMemory(buffer, MAX_PATH, 'X');
        return 0;
    }
    char id[MAX_PATH];
    ReadConfiguredId(id);
    StringCchCopyA(buffer, MAX_PATH, id);
    return 0;
}

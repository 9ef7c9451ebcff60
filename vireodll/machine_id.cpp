#include "vireodll/machine_id.h"

#include <windows.h>

#include "common/handles.h"
#include "common/pass_record.h"
#include "common/product.h"
#include "vireodll/activity_log.h"
#include "vireodll/settings_registry.h"

#include "common/safe_strings.h"

namespace vireo {
namespace {

constexpr char kMachineIdLibrary[] = "CRVNT.DLL";
constexpr char kMachineIdExport[] = "crvGetMachineId";

// Kept for the library's lifetime: the outside function fills it, and an
// earlier call's ID stays until overwritten.
char g_machineId[MAX_PATH];

// Calls function(buffer) whether it was built __cdecl (the caller pops the
// argument) or __stdcall (the callee pops it): the stack pointer is saved in
// a callee-saved register and restored after the call. The called function
// writes the buffer, which clang-tidy cannot see through the assembly.
// NOLINTNEXTLINE(readability-non-const-parameter)
void CallWithBuffer(FARPROC function, char* buffer) {
#if defined(__i386__)
    __asm__ __volatile__(
        "movl %%esp, %%esi\n\t"
        "pushl %[buffer]\n\t"
        "call *%[function]\n\t"
        "movl %%esi, %%esp\n\t"
        :
        : [function] "r"(function), [buffer] "r"(buffer)
        : "esi", "eax", "ecx", "edx", "memory", "cc");
#else
#error "the machine-ID call is written for 32-bit x86"
#endif
}

}  // namespace

int CaptureMachineId() {
    char path[MAX_PATH];
    if (!BuildProductPath(kMachineIdLibrary, path)) return -1;
    // Its imports are searched from its own folder and the system folders,
    // never from the folder of the program hosting the pass.
    UniqueModule library(LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!library) return -1;
    const FARPROC function = GetProcAddress(library.get(), kMachineIdExport);
    if (function == nullptr) return -1;

    CallWithBuffer(function, g_machineId);
    // An ID without a terminator ends at the buffer's last byte.
    g_machineId[MAX_PATH - 1] = '\0';

    WriteRegString(HKEY_CURRENT_USER, kSettingsKey, kMachineIdValue, g_machineId);
    WriteLog("System ID : ", g_machineId);
    return 0;
}

}  // namespace vireo

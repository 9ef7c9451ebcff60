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

// The MMX and SSE registers, where the compiler may keep values in them.
#if defined(__MMX__)
#define MMX_REGISTERS_CHANGED , "mm0", "mm1", "mm2", "mm3", "mm4", "mm5", "mm6", "mm7"
#else
#define MMX_REGISTERS_CHANGED
#endif
#if defined(__SSE__)
#define SSE_REGISTERS_CHANGED , "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7"
#else
#define SSE_REGISTERS_CHANGED
#endif

// Calls function(buffer) whether it was built __cdecl (the caller pops the
// argument) or __stdcall (the callee pops it): the stack pointer is saved in
// a callee-saved register and restored after the call. The called function
// writes the buffer, which clang-tidy cannot see through the assembly. The
// maker's code may use the x87, MMX and SSE registers as any callee may, so
// they are declared changed, and the call stays in a function of its own so
// that no caller's value is kept in a register across it.
// NOLINTNEXTLINE(readability-non-const-parameter)
__attribute__((noinline)) void CallWithBuffer(FARPROC function, char* buffer) {
#if defined(__i386__)
    __asm__ __volatile__(
        "movl %%esp, %%esi\n\t"
        "pushl %[buffer]\n\t"
        "call *%[function]\n\t"
        "movl %%esi, %%esp\n\t"
        :
        : [function] "r"(function), [buffer] "r"(buffer)
        : "esi", "eax", "ecx", "edx", "memory", "cc", "st", "st(1)", "st(2)", "st(3)", "st(4)",
          "st(5)", "st(6)", "st(7)" MMX_REGISTERS_CHANGED SSE_REGISTERS_CHANGED);
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
    WriteLog(kMachineIdLine, g_machineId);
    return 0;
}

}  // namespace vireo

// The release library's exports, called the way a caller built with
// Microsoft's compiler calls them: bound by their decorated names, the object
// in ECX for the class members, EAX holding garbage before the call, and the
// stack pointer compared before the pushes and after the return.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/handles.h"

// Pushes count arguments (args[0] last, so it is on top), loads ECX with
// object and EAX with a sentinel, calls function and returns EAX. *stackDelta
// is ESP after the return less ESP before the pushes: 0 when the callee popped
// its arguments, as __thiscall and __stdcall callees do.
extern "C" uint32_t CallAsMicrosoftCaller(FARPROC function, void* object, const uint32_t* args,
                                          uint32_t count, int32_t* stackDelta);
__asm__(
    ".text\n"
    ".globl _CallAsMicrosoftCaller\n"
    "_CallAsMicrosoftCaller:\n"
    "    pushl %ebp\n"
    "    movl %esp, %ebp\n"
    "    pushl %ebx\n"
    "    pushl %esi\n"
    "    pushl %edi\n"
    "    movl %esp, %edi\n"
    "    movl 16(%ebp), %esi\n"
    "    movl 20(%ebp), %ecx\n"
    "1:  testl %ecx, %ecx\n"
    "    jz 2f\n"
    "    decl %ecx\n"
    "    pushl (%esi,%ecx,4)\n"
    "    jmp 1b\n"
    "2:  movl 12(%ebp), %ecx\n"
    "    movl $0x5EA7BEEF, %eax\n"
    "    call *8(%ebp)\n"
    "    movl %esp, %edx\n"
    "    subl %edi, %edx\n"
    "    movl %edi, %esp\n"
    "    movl 24(%ebp), %ecx\n"
    "    movl %edx, (%ecx)\n"
    "    popl %edi\n"
    "    popl %esi\n"
    "    popl %ebx\n"
    "    popl %ebp\n"
    "    ret\n");

namespace {

constexpr uint32_t kSentinel = 0x5EA7BEEF;

// VIREO_RELEASE_LIBRARY holds the host path of the release VireoDll.dll;
// Wine shows the host's root as drive Z:.
std::string ReleaseLibraryPath() {
    char hostPath[MAX_PATH] = "";
    const DWORD length = GetEnvironmentVariableA("VIREO_RELEASE_LIBRARY", hostPath, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    std::string path = std::string("Z:") + hostPath;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

uint32_t AddressOf(const void* object) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(object));
}

TEST(ExportedInterface, BehavesAsAMicrosoftBuiltCallerExpects) {
    const std::string path = ReleaseLibraryPath();
    ASSERT_FALSE(path.empty()) << "VIREO_RELEASE_LIBRARY is not set";
    vireo::UniqueModule library(LoadLibraryA(path.c_str()));
    ASSERT_TRUE(library) << path;

    char object[4] = {};
    char other[4] = {};
    struct Export {
        const char* name;
        WORD ordinal;
        std::vector<uint32_t> args;
        uint32_t returned;
    };
    // crvVireoReq runs a whole pass (about 20 s of built-in pauses): last.
    const Export exports[] = {
        {"??0CVireoDll@@QAE@XZ", 1, {}, AddressOf(object)},
        {"??4CVireoDll@@QAEAAV0@ABV0@@Z", 2, {AddressOf(other)}, AddressOf(object)},
        {"crvVireoReq", 3, {0}, 0},
    };
    for (const Export& entry : exports) {
        SCOPED_TRACE(entry.name);
        const FARPROC function = GetProcAddress(library.get(), entry.name);
        ASSERT_NE(nullptr, function);
        EXPECT_EQ(function, GetProcAddress(library.get(), MAKEINTRESOURCEA(entry.ordinal)));
        int32_t stackDelta = -1;
        const uint32_t eax = CallAsMicrosoftCaller(function, object, entry.args.data(),
                                                   static_cast<uint32_t>(entry.args.size()),
                                                   &stackDelta);
        EXPECT_EQ(entry.returned, eax)
            << (eax == kSentinel ? "EAX was left as the caller set it" : "");
        EXPECT_EQ(0, stackDelta) << "the callee must pop exactly its arguments";
    }

    const auto* counter =
        reinterpret_cast<const int*>(GetProcAddress(library.get(), "?nVireoDll@@3HA"));
    ASSERT_NE(nullptr, counter);
    EXPECT_EQ(reinterpret_cast<FARPROC>(const_cast<int*>(counter)),
              GetProcAddress(library.get(), MAKEINTRESOURCEA(4)));
    EXPECT_EQ(0, *counter);
}

}  // namespace

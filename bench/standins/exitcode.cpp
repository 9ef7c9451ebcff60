// Starts a command line, waits for it and prints its exit code whole
// ("exit code 0xC0000005"), then ends with 0. A process started from the host
// hands the host only the low byte of its exit code; the bench reads the
// product's this way.
#include <windows.h>
#include <strsafe.h>

#include <cstdio>

#include "common/handles.h"

int main() {
    // Everything after this program's own name is the command line to run.
    char* commandLine = GetCommandLineA();
    if (*commandLine == '"') {
        for (++commandLine; *commandLine != '\0' && *commandLine != '"'; ++commandLine) {
        }
        if (*commandLine == '"') ++commandLine;
    } else {
        while (*commandLine != '\0' && *commandLine != ' ') ++commandLine;
    }
    while (*commandLine == ' ') ++commandLine;
    char command[2048];
    if (FAILED(StringCchCopyA(command, ARRAYSIZE(command), commandLine)) || command[0] == '\0') {
        fprintf(stderr, "usage: exitcode COMMAND-LINE\n");
        return 1;
    }
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    vireo::UniqueProcessInformation process;
    if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        process.addressof())) {
        fprintf(stderr, "cannot start %s: error %lu\n", command, GetLastError());
        return 1;
    }
    WaitForSingleObject(process.process(), INFINITE);
    DWORD code = 0;
    if (!GetExitCodeProcess(process.process(), &code)) return 1;
    printf("exit code 0x%08lX\n", code);
    return 0;
}

#pragma once

#include <windows.h>

namespace vireo {

// Starts applicationPath with commandLine (a writable buffer) and waits for
// the process to end. Nonzero when the process was started.
BOOL RunAndWait(const char* applicationPath, char* commandLine);

// The whole unattended run: installer, pause, preference pass, power plan.
// Always returns 0, the program's exit code.
int RunSetupSequence();

}  // namespace vireo

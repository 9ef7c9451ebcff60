// defaults-runner: runs once, unattended, with no window; the command line is
// not read.
#include <windows.h>

#include "runner/setup_sequence.h"

#include "common/safe_strings.h"

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int /*showState*/) {
    return vireo::RunSetupSequence();
}

// Stand-in for the system's powercfg.exe: journals its parameters.
#include <windows.h>

#include "journal.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    bench::AppendJournal(commandLine);
    return 0;
}

// Stand-in for a program the product starts (the silent installer, a planted
// program): journals its command line and ends with exit code 0.
#include <windows.h>

#include "journal.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    bench::AppendJournal(GetCommandLineA());
    return 0;
}

// A process that only lives a while: argv[1] milliseconds (default 60000).
// Copied under another name (wscript.exe) it plays a script host.
#include <windows.h>

#include <cstdlib>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    const char* arguments = commandLine;
    DWORD milliseconds = 60000;
    if (arguments != nullptr && *arguments != '\0') {
        milliseconds = static_cast<DWORD>(strtoul(arguments, nullptr, 10));
    }
    Sleep(milliseconds);
    return 0;
}

// The library's exported class and integer, and its load notification. The
// exported names are those a caller built with Microsoft's compiler binds;
// vireodll.def maps them to these definitions.
#include <windows.h>

#include "common/safe_strings.h"

class CVireoDll {
public:
    CVireoDll();
    CVireoDll& operator=(const CVireoDll& other);
};

CVireoDll::CVireoDll() = default;

CVireoDll& CVireoDll::operator=(const CVireoDll& /*other*/) { return *this; }

extern "C" {
int nVireoDll = 0;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD /*reason*/, LPVOID /*reserved*/) {
    return TRUE;
}

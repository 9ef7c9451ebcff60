// The library's exported class and integer, and its load notification. The
// exported names are those a caller built with Microsoft's compiler binds;
// vireodll.def maps them to these definitions.
#include <windows.h>

#include "common/safe_strings.h"

class CVireoDll {
public:
    CVireoDll& operator=(const CVireoDll& other);
};

// The default constructor as Microsoft's compiler calls it: the object comes
// in ECX and goes back in EAX, nothing is popped. A GCC constructor returns
// nothing, so this plain function with the same convention takes its place.
extern "C" CVireoDll* __thiscall ConstructVireoDll(CVireoDll* object) { return object; }

CVireoDll& CVireoDll::operator=(const CVireoDll& /*other*/) { return *this; }

extern "C" {
int nVireoDll = 0;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD /*reason*/, LPVOID /*reserved*/) {
    return TRUE;
}

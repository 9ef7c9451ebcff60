/* A small DLL with the release library's exports, version resource and
   msi.dll import. EXTRA_IMPORT works as in program.c. */
#include <string.h>

unsigned __stdcall MsiSetPropertyA(unsigned long session, const char* name, const char* value);
#ifdef EXTRA_IMPORT
void EXTRA_IMPORT(void);
#endif

int nVireoDll;

/* The class members as Microsoft's compiler calls them: object in ECX and
   back in EAX; BARE_CONSTRUCTOR gives a constructor that returns nothing. */
#ifdef BARE_CONSTRUCTOR
void construct(void) {}
#else
void* __attribute__((thiscall)) construct(void* object) { return object; }
#endif
void* __attribute__((thiscall)) assign(void* object, const void* other) {
    (void)other;
    return object;
}

unsigned __stdcall crvVireoReq(unsigned long session) {
    char value[16];
    strncpy(value, "1", sizeof value);
#ifdef EXTRA_IMPORT
    EXTRA_IMPORT();
#endif
    return MsiSetPropertyA(session, "crvMSIHotFix", value);
}

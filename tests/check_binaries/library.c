/* A small DLL with the release library's exports, version resource and
   msi.dll import. EXTRA_IMPORT works as in program.c. */
#include <string.h>

unsigned __stdcall MsiSetPropertyA(unsigned long session, const char* name, const char* value);
#ifdef EXTRA_IMPORT
void EXTRA_IMPORT(void);
#endif

int nVireoDll;

void construct(void) {}
void assign(void) {}

unsigned __stdcall crvVireoReq(unsigned long session) {
    char value[16];
    strncpy(value, "1", sizeof value);
#ifdef EXTRA_IMPORT
    EXTRA_IMPORT();
#endif
    return MsiSetPropertyA(session, "crvMSIHotFix", value);
}

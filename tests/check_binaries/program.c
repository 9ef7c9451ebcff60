/* A small GUI program built like the release program (with CONSOLE, a
   console program built like the verifier). EXTRA_IMPORT, when
   defined, names one more function to import (its import library is made
   from a one-line definition file); NAMED_FUNCTION, a function name the
   image holds as text. No Windows header, so any name can be
   declared here without a clash. */
#include <string.h>

unsigned long __stdcall GetModuleFileNameA(void* module, char* name, unsigned long size);
#ifdef EXTRA_IMPORT
void EXTRA_IMPORT(void);
#endif
#ifdef NAMED_FUNCTION
/* A function's name held as text, as GetProcAddress would be handed it. */
const char* volatile named_function = NAMED_FUNCTION;
#endif

/* The array whose address escapes is what -fstack-protector-strong guards. */
static int name_length(void) {
    char name[260];
    GetModuleFileNameA(0, name, sizeof name);
    return (int)strlen(name);
}

int __stdcall WinMain(void* instance, void* previous, char* command, int show) {
    (void)instance;
    (void)previous;
    (void)command;
    (void)show;
#ifdef EXTRA_IMPORT
    EXTRA_IMPORT();
#endif
    return name_length() > 0 ? 0 : 1;
}

#ifdef CONSOLE
int main(void) { return WinMain(0, 0, 0, 0); }
#endif

// Pause for test builds of the program: journals the requested duration in the
// bench journal and returns at once, so a whole run takes no real time.
#include <windows.h>
#include <strsafe.h>

#include "common/pause.h"
#include "journal.h"

namespace vireo {

void Pause(DWORD milliseconds) {
    char event[32];
    StringCchPrintfA(event, ARRAYSIZE(event), "pause %lu", milliseconds);
    bench::AppendJournal(event);
}

}  // namespace vireo

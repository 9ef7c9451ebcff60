#include "vireodll/activity_log.h"

#include <windows.h>
#include <sys/timeb.h>

#include <cstdio>
#include <ctime>

#include "common/handles.h"

#include "common/safe_strings.h"

namespace vireo {
namespace {

char g_logPath[MAX_PATH];

// Local time of day as HH:MM:SS, then, from a second clock reading, the
// milliseconds of the current time, unpadded: "09:05:03:7".
void FormatTimestamp(char (&stamp)[32]) {
    char timeOfDay[16] = "";
    time_t now = time(nullptr);
    const tm* local = localtime(&now);
    if (local == nullptr || strftime(timeOfDay, sizeof(timeOfDay), "%H:%M:%S", local) == 0) {
        timeOfDay[0] = '\0';
    }
    _timeb clock;
    _ftime(&clock);
    StringCchPrintfA(stamp, ARRAYSIZE(stamp), "%s:%u", timeOfDay,
                     static_cast<unsigned>(clock.millitm));
}

}  // namespace

void SetLogPath(const char* path) { StringCchCopyA(g_logPath, MAX_PATH, path); }

void WriteLog(const char* message, const char* suffix) {
    char stamp[32];
    FormatTimestamp(stamp);
    UniqueStdioFile file(fopen(g_logPath, "a+"));
    if (!file) return;
    // A line that cannot be written is dropped, like one whose file cannot be opened.
    (void)fprintf(file.get(), "%s\t%s%s\r\n", stamp, message, suffix);
}

}  // namespace vireo

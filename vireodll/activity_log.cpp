#include "vireodll/activity_log.h"

#include <windows.h>
#include <sys/timeb.h>

#include <cstdio>
#include <ctime>

#include "common/handles.h"

#include "common/safe_strings.h"

namespace vireo {

void FormatLogTimestamp(const tm* local, unsigned milliseconds, char (&stamp)[32]) {
    char timeOfDay[16] = "";
    if (local == nullptr || strftime(timeOfDay, sizeof(timeOfDay), "%H:%M:%S", local) == 0) {
        timeOfDay[0] = '\0';
    }
    StringCchPrintfA(stamp, ARRAYSIZE(stamp), "%s:%u", timeOfDay, milliseconds);
}

namespace {

char g_logPath[MAX_PATH];

// Reads the two clocks one after the other: local time of day, then the
// milliseconds of the current time.
void FormatTimestamp(char (&stamp)[32]) {
    time_t now = time(nullptr);
    const tm* local = localtime(&now);
    _timeb clock;
    _ftime(&clock);
    FormatLogTimestamp(local, clock.millitm, stamp);
}

}  // namespace

void SetLogPath(const char* path) { StringCchCopyA(g_logPath, MAX_PATH, path); }

void WriteLog(const char* message, const char* suffix) {
    char stamp[32];
    FormatTimestamp(stamp);
    // Text mode named explicitly ("t"): left to the hosting process's _fmode,
    // a host in binary mode would store each line break as CR LF.
    UniqueStdioFile file(fopen(g_logPath, "a+t"));
    if (!file) return;
    // A line that cannot be written is dropped, like one whose file cannot be opened.
    (void)fprintf(file.get(), "%s\t%s%s\r\n", stamp, message, suffix);
}

}  // namespace vireo

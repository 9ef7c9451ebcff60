// The activity log: one text line per event, appended to a file whose path the
// pass sets before its first line.
#pragma once

#include <ctime>

namespace vireo {

// The time stamp of a line from two clock readings: the local time of day as
// HH:MM:SS, a colon, and the milliseconds unpadded ("09:05:03:7").
void FormatLogTimestamp(const tm* local, unsigned milliseconds, char (&stamp)[32]);

void SetLogPath(const char* path);

// Appends "<HH:MM:SS:ms>\t<message><suffix>\r\n" in text mode, so every line
// feed reaches the disk as CR LF (a line ends in CR CR LF). Drops the line
// silently when the file cannot be opened.
void WriteLog(const char* message, const char* suffix);

}  // namespace vireo

#include "verifier/log_check.h"

#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/handles.h"
#include "common/pass_record.h"

#include "common/safe_strings.h"

namespace vireo {
namespace {

constexpr char kCheckName[] = "activity log";
constexpr char kExpected[] = "a last pass that reached its end marker";
// The end of the log; a pass writes a few kilobytes.
constexpr long kTailBytes = 32 * 1024;

struct LogTail {
    char text[kTailBytes + 1];
    size_t length;
};

// The pass writes in text mode: every line feed reaches the disk as CR LF.
void ToDiskForm(const char* text, char (&disk)[160]) {
    size_t out = 0;
    for (const char* c = text; *c != '\0' && out + 2 < sizeof(disk); ++c) {
        if (*c == '\n') disk[out++] = '\r';
        disk[out++] = *c;
    }
    disk[out] = '\0';
}

// How often a line's text (in its disk form) occurs at or after from, and
// where the last occurrence starts (nullptr when there is none).
struct Occurrences {
    int count;
    const char* last;
};

Occurrences FindOccurrences(const LogTail& log, const char* from, const char* lineText) {
    char needle[160];
    ToDiskForm(lineText, needle);
    const size_t length = strlen(needle);
    const char* end = log.text + log.length;
    Occurrences found = {0, nullptr};
    for (const char* at = from; length > 0 && at + length <= end; ++at) {
        if (memcmp(at, needle, length) != 0) continue;
        ++found.count;
        found.last = at;
    }
    return found;
}

const char* FindLast(const LogTail& log, const char* from, const char* lineText) {
    return FindOccurrences(log, from, lineText).last;
}

// Reads the last kTailBytes of the log, read-only; false when it cannot be
// opened, with the C runtime's error number.
bool ReadLogTail(LogTail& log, int& error) {
    UniqueStdioFile file(fopen(kLogPath, "rb"));
    if (!file) {
        error = errno;
        return false;
    }
    long start = 0;
    if (fseek(file.get(), 0, SEEK_END) == 0) {
        const long size = ftell(file.get());
        start = size > kTailBytes ? size - kTailBytes : 0;
    }
    if (fseek(file.get(), start, SEEK_SET) != 0) rewind(file.get());
    log.length = fread(log.text, 1, kTailBytes, file.get());
    log.text[log.length] = '\0';
    return true;
}

struct WirelessEnding {
    const char* line;
    const char* meaning;
};

// How an attempt ends, by the line it logs last. A usable ID without a match
// line means no adapter matched.
constexpr WirelessEnding kWirelessEndings[] = {
    {kWirelessCallFailedLine, "the BIOS call failed"},
    {kWirelessRefusedLine, "the BIOS gave no wireless ID"},
    {kWirelessShortIdLine, "the BIOS ID was too short"},
    {kWirelessIdLine, "no adapter matched the BIOS ID"},
    {kWirelessMatchLine, "an adapter matched the BIOS ID"},
};

void DescribeWireless(const LogTail& log, const char* passStart, char (&text)[160]) {
    const int attempts = FindOccurrences(log, passStart, kWirelessAttemptLine).count;
    const char* latest = nullptr;
    const char* meaning = "no attempt ended";
    for (const WirelessEnding& ending : kWirelessEndings) {
        const char* at = FindLast(log, passStart, ending.line);
        if (at != nullptr && (latest == nullptr || at >= latest)) {
            latest = at;
            meaning = ending.meaning;
        }
    }
    StringCchPrintfA(text, ARRAYSIZE(text), "wireless: %d attempt%s, the last: %s", attempts,
                     attempts == 1 ? "" : "s", meaning);
}

}  // namespace

void CheckActivityLog(CheckList& list) {
    LogTail log;
    int error = 0;
    char seen[320];
    if (!ReadLogTail(log, error)) {
        StringCchPrintfA(seen, ARRAYSIZE(seen), "%s cannot be read (%s)", kLogPath,
                         strerror(error));
        AddCheck(list, Verdict::kFail, kCheckName, seen, kExpected);
        return;
    }
    list.anythingRead = true;
    const char* begin = FindLast(log, log.text, kLogBeginMarker);
    if (begin == nullptr) {
        StringCchPrintfA(seen, ARRAYSIZE(seen), "%s holds no begin marker (%u bytes read)",
                         kLogPath, static_cast<unsigned>(log.length));
        AddCheck(list, Verdict::kFail, kCheckName, seen, kExpected);
        return;
    }
    char wireless[160];
    DescribeWireless(log, begin, wireless);
    const bool ended = FindLast(log, begin, kLogEndMarker) != nullptr;
    StringCchPrintfA(seen, ARRAYSIZE(seen), "the last pass %s; %s",
                     ended ? "reached its end marker" : "has no end marker", wireless);
    AddCheck(list, ended ? Verdict::kPass : Verdict::kFail, kCheckName, seen, kExpected);
}

}  // namespace vireo

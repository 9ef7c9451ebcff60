#include "verifier/last_pass.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/handles.h"
#include "common/pass_record.h"

#include "common/safe_strings.h"

namespace vireo {
namespace {

// A log line's text in its disk form: after the time stamp's tab, and with
// every line feed written as CR LF (the pass writes in text mode).
using DiskText = char[2 * (MAX_PATH + 160)];

void ToDiskForm(const char* message, const char* suffix, DiskText& disk) {
    size_t out = 0;
    disk[out++] = '\t';
    const char* const parts[] = {message, suffix};
    for (const char* part : parts) {
        for (const char* c = part; *c != '\0' && out + 2 < sizeof(disk); ++c) {
            if (*c == '\n') disk[out++] = '\r';
            disk[out++] = *c;
        }
    }
    disk[out] = '\0';
}

// How often a text occurs at or after from, and where it last starts.
struct Occurrences {
    int count;
    const char* last;
};

Occurrences Find(const LastPass& pass, const char* from, const char* needle) {
    const size_t length = strlen(needle);
    const char* end = pass.log + pass.length;
    Occurrences found = {0, nullptr};
    for (const char* at = from; length > 0 && at + length <= end; ++at) {
        if (memcmp(at, needle, length) != 0) continue;
        ++found.count;
        found.last = at;
    }
    return found;
}

Occurrences FindLine(const LastPass& pass, const char* from, const char* message,
                     const char* suffix = "") {
    DiskText needle;
    ToDiskForm(message, suffix, needle);
    return Find(pass, from, needle);
}

bool ReadLogTail(LastPass& pass) {
    UniqueStdioFile file(fopen(kLogPath, "rb"));
    if (!file) {
        pass.readError = errno;
        pass.systemError = _doserrno;
        return false;
    }
    long start = 0;
    if (fseek(file.get(), 0, SEEK_END) == 0) {
        const long size = ftell(file.get());
        start = size > kLogTailBytes ? size - kLogTailBytes : 0;
    }
    if (fseek(file.get(), start, SEEK_SET) != 0) rewind(file.get());
    pass.length = fread(pass.log, 1, kLogTailBytes, file.get());
    pass.log[pass.length] = '\0';
    return true;
}

// The time stamp before the tab that starts the begin marker's line.
void ReadStamp(LastPass& pass) {
    const char* tab = pass.begin;  // the needle starts with the tab
    const char* start = tab;
    while (start > pass.log && start[-1] != '\n' && tab - start < 15) --start;
    StringCchCopyNA(pass.stamp, ARRAYSIZE(pass.stamp), start, static_cast<size_t>(tab - start));
}

struct WirelessEnding {
    const char* line;
    const char* meaning;
    bool biosFailed;
};

// How an attempt ends, by the line it logs last. A usable ID without a match
// line means no adapter matched.
constexpr WirelessEnding kWirelessEndings[] = {
    {kWirelessCallFailedLine, "the BIOS call failed", true},
    {kWirelessRefusedLine, "the BIOS gave no wireless ID", true},
    {kWirelessShortIdLine, "the BIOS ID was too short", false},
    {kWirelessIdLine, "no adapter matched the BIOS ID", false},
    {kWirelessMatchLine, "an adapter matched the BIOS ID", false},
};

void ReadWireless(LastPass& pass) {
    pass.wirelessAttempts = FindLine(pass, pass.begin, kWirelessAttemptLine).count;
    const char* latest = nullptr;
    pass.wirelessEnding = "no attempt ended";
    for (const WirelessEnding& ending : kWirelessEndings) {
        const Occurrences found = FindLine(pass, pass.begin, ending.line);
        if (ending.biosFailed) pass.biosFailures += found.count;
        if (found.last != nullptr && (latest == nullptr || found.last >= latest)) {
            latest = found.last;
            pass.wirelessEnding = ending.meaning;
        }
    }
}

}  // namespace

void ReadLastPass(LastPass& pass) {
    pass.length = 0;
    pass.log[0] = '\0';
    pass.readError = 0;
    pass.systemError = 0;
    pass.begin = nullptr;
    pass.ended = false;
    pass.stamp[0] = '\0';
    pass.wirelessAttempts = 0;
    pass.biosFailures = 0;
    pass.wirelessEnding = "";
    pass.logRead = ReadLogTail(pass);
    if (!pass.logRead) return;
    pass.begin = FindLine(pass, pass.log, kLogBeginMarker).last;
    if (pass.begin == nullptr) return;
    ReadStamp(pass);
    ReadWireless(pass);
    pass.ended = FindLine(pass, pass.begin, kLogEndMarker).last != nullptr;
}

bool LastPassLogged(const LastPass& pass, const char* message, const char* suffix) {
    if (pass.begin == nullptr) return false;
    char line[MAX_PATH + 8];
    StringCchPrintfA(line, ARRAYSIZE(line), "%s\r\n", suffix);
    return FindLine(pass, pass.begin, message, line).last != nullptr;
}

bool LastPassSuffix(const LastPass& pass, const char* message, char (&suffix)[MAX_PATH + 1]) {
    suffix[0] = '\0';
    if (pass.begin == nullptr) return false;
    const char* at = FindLine(pass, pass.begin, message).last;
    if (at == nullptr) return false;
    const char* start = at + 1 + strlen(message);
    size_t length = strcspn(start, "\r\n");
    StringCchCopyNA(suffix, ARRAYSIZE(suffix), start, length);
    return true;
}

}  // namespace vireo

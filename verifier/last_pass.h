// The activity log's last pass, read once: the log's own check and the checks
// of the values the pass recorded all look at it.
#pragma once

#include <windows.h>

#include <cstddef>

namespace vireo {

// The end of the log; a pass writes a few kilobytes.
constexpr long kLogTailBytes = 32 * 1024;

struct LastPass {
    char log[kLogTailBytes + 1];
    size_t length;
    bool logRead;
    int readError;              // the C runtime's error number when the log cannot be read
    unsigned long systemError;  // and the system's
    const char* begin;          // the last begin marker; nullptr when there is none
    bool ended;                 // an end marker follows it
    char stamp[16];             // the begin marker's time of day, as the log has it
    int wirelessAttempts;
    int biosFailures;            // attempts that ended with the call failing or the BIOS refusing
    const char* wirelessEnding;  // how the last attempt ended, in words
};

// Reads the log's last pass, read-only.
void ReadLastPass(LastPass& pass);

// Whether the last pass logged the line "<message><suffix>" whole.
bool LastPassLogged(const LastPass& pass, const char* message, const char* suffix);

// The suffix of the last line of the last pass that begins with message;
// false when the pass logged no such line.
bool LastPassSuffix(const LastPass& pass, const char* message, char (&suffix)[MAX_PATH + 1]);

// Every wireless attempt of the last pass ended with the BIOS call failing
// or the BIOS refusing: the BIOS identification itself failed.
inline bool BiosIdentificationFailed(const LastPass& pass) {
    return pass.wirelessAttempts > 0 && pass.biosFailures == pass.wirelessAttempts;
}

}  // namespace vireo

#include "verifier/json_report.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "common/handles.h"
#include "common/pass_record.h"

#include "common/safe_strings.h"

namespace vireo {
namespace {

// The system code page's text as UTF-8; an unconvertible text becomes empty.
void ToUtf8(const char* text, char (&utf8)[1024]) {
    WCHAR wide[512];
    utf8[0] = '\0';
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, wide, ARRAYSIZE(wide)) == 0) return;
    wide[ARRAYSIZE(wide) - 1] = L'\0';
    if (WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, sizeof(utf8), nullptr, nullptr) == 0)
        utf8[0] = '\0';
    utf8[sizeof(utf8) - 1] = '\0';
}

// Writes text; a failed write shows in ferror() once the report is written.
void Put(FILE* file, const char* text) { (void)fputs(text, file); }
void PutChar(FILE* file, char c) { (void)fputc(c, file); }

// A JSON string (or null), with quotes, backslashes and control characters
// escaped.
void WriteString(FILE* file, const char* text) {
    if (text == nullptr) {
        Put(file, "null");
        return;
    }
    char utf8[1024];
    ToUtf8(text, utf8);
    PutChar(file, '"');
    for (const char* c = utf8; *c != '\0'; ++c) {
        if (*c == '"' || *c == '\\') {
            PutChar(file, '\\');
            PutChar(file, *c);
        } else if (static_cast<unsigned char>(*c) < 0x20) {
            char escaped[8];
            StringCchPrintfA(escaped, ARRAYSIZE(escaped), "\\u%04x",
                             static_cast<unsigned>(static_cast<unsigned char>(*c)));
            Put(file, escaped);
        } else {
            PutChar(file, *c);
        }
    }
    PutChar(file, '"');
}

void WriteField(FILE* file, const char* name, const char* text, bool last = false) {
    PutChar(file, '"');
    Put(file, name);
    Put(file, "\": ");
    WriteString(file, text);
    Put(file, last ? "" : ", ");
}

void WriteCheck(FILE* file, const Check& check, bool last) {
    Put(file, "    {");
    WriteField(file, "check", check.name);
    WriteField(file, "status", VerdictWord(check.verdict));
    WriteField(file, "seen", check.seen);
    WriteField(file, "expected", check.expected, true);
    Put(file, last ? "}\n" : "},\n");
}

using ComputerName = char[MAX_COMPUTERNAME_LENGTH + 1];

void ReadComputerName(ComputerName& computer) {
    DWORD size = ARRAYSIZE(computer);
    if (!GetComputerNameA(computer, &size)) computer[0] = '\0';
    computer[ARRAYSIZE(computer) - 1] = '\0';
}

// Appends text with every character a file name cannot hold as '_'.
bool AppendFileNamePart(const char* text, char (&path)[MAX_PATH]) {
    size_t length = strlen(path);
    for (const char* c = text; *c != '\0'; ++c, ++length) {
        if (length + 1 >= ARRAYSIZE(path)) return false;
        const bool allowed = static_cast<unsigned char>(*c) >= 0x20 &&
                             strchr("<>:\"/\\|?*", *c) == nullptr;
        path[length] = allowed ? *c : '_';
    }
    path[length] = '\0';
    return true;
}

// The full path, long names throughout where the file exists.
void CanonicalPath(const char* path, char (&full)[MAX_PATH]) {
    full[0] = '\0';
    const DWORD length = GetFullPathNameA(path, ARRAYSIZE(full), full, nullptr);
    if (length == 0 || length >= ARRAYSIZE(full)) {
        StringCchCopyA(full, ARRAYSIZE(full), path);
        return;
    }
    char longPath[MAX_PATH];
    const DWORD longLength = GetLongPathNameA(full, longPath, ARRAYSIZE(longPath));
    if (longLength != 0 && longLength < ARRAYSIZE(longPath))
        StringCchCopyA(full, ARRAYSIZE(full), longPath);
}

}  // namespace

bool ChooseReportPath(const char* requested, const char* machineId, char (&path)[MAX_PATH]) {
    if (FAILED(StringCchCopyA(path, ARRAYSIZE(path), requested))) return false;
    const size_t length = strlen(requested);
    if (length == 0 || requested[length - 1] != '\\') return length > 0;
    ComputerName computer;
    ReadComputerName(computer);
    return AppendFileNamePart(machineId != nullptr ? machineId : "no-machine-id", path) &&
           AppendFileNamePart("_", path) && AppendFileNamePart(computer, path) &&
           AppendFileNamePart(".json", path);
}

bool IsActivityLog(const char* path) {
    char report[MAX_PATH];
    char log[MAX_PATH];
    CanonicalPath(path, report);
    CanonicalPath(kLogPath, log);
    return lstrcmpiA(report, log) == 0;
}

bool WriteJsonReport(const char* path, const UnitIdentity& unit, const CheckList& list) {
    ComputerName computer;
    ReadComputerName(computer);
    SYSTEMTIME now;
    GetSystemTime(&now);
    char time[32];
    StringCchPrintfA(time, ARRAYSIZE(time), "%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear, now.wMonth,
                     now.wDay, now.wHour, now.wMinute, now.wSecond);

    UniqueStdioFile file(fopen(path, "wb"));
    if (!file) return false;
    char exitCode[64];
    StringCchPrintfA(exitCode, ARRAYSIZE(exitCode), "\"exit_code\": %d,\n  \"checks\": [\n",
                     unit.exitCode);
    Put(file.get(), "{\n  ");
    WriteField(file.get(), "machine_id", unit.machineId);
    WriteField(file.get(), "computer_name", computer);
    WriteField(file.get(), "time", time);
    Put(file.get(), "\n  ");
    WriteField(file.get(), "hive", unit.hive);
    Put(file.get(), "\n  ");
    WriteField(file.get(), "last_pass", unit.lastPass);
    WriteField(file.get(), "not_checked", unit.notChecked);
    Put(file.get(), exitCode);
    for (int i = 0; i < list.count; ++i)
        WriteCheck(file.get(), list.checks[i], i + 1 == list.count);
    Put(file.get(), "  ]\n}\n");
    return fflush(file.get()) == 0 && ferror(file.get()) == 0;
}

}  // namespace vireo

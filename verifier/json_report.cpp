#include "verifier/json_report.h"

#include <windows.h>

#include <cstdio>

#include "common/handles.h"

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

// A JSON string (or null), with quotes, backslashes and control characters
// escaped.
void WriteString(FILE* file, const char* text) {
    if (text == nullptr) {
        fputs("null", file);
        return;
    }
    char utf8[1024];
    ToUtf8(text, utf8);
    fputc('"', file);
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(utf8); *c != 0; ++c) {
        if (*c == '"' || *c == '\\')
            fprintf(file, "\\%c", *c);
        else if (*c < 0x20)
            fprintf(file, "\\u%04x", *c);
        else
            fputc(*c, file);
    }
    fputc('"', file);
}

void WriteField(FILE* file, const char* name, const char* text, bool last = false) {
    fprintf(file, "\"%s\": ", name);
    WriteString(file, text);
    fputs(last ? "" : ", ", file);
}

void WriteCheck(FILE* file, const Check& check, bool last) {
    fputs("    {", file);
    WriteField(file, "check", check.name);
    WriteField(file, "status", VerdictWord(check.verdict));
    WriteField(file, "seen", check.seen);
    WriteField(file, "expected", check.expected, true);
    fputs(last ? "}\n" : "},\n", file);
}

}  // namespace

bool WriteJsonReport(const char* path, const UnitIdentity& unit, const CheckList& list) {
    char computer[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = ARRAYSIZE(computer);
    if (!GetComputerNameA(computer, &size)) computer[0] = '\0';
    computer[ARRAYSIZE(computer) - 1] = '\0';
    SYSTEMTIME now;
    GetSystemTime(&now);
    char time[32];
    StringCchPrintfA(time, ARRAYSIZE(time), "%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear, now.wMonth,
                     now.wDay, now.wHour, now.wMinute, now.wSecond);

    UniqueStdioFile file(fopen(path, "wb"));
    if (!file) return false;
    fputs("{\n  ", file.get());
    WriteField(file.get(), "machine_id", unit.machineId);
    WriteField(file.get(), "computer_name", computer);
    WriteField(file.get(), "time", time);
    fputs("\n  ", file.get());
    WriteField(file.get(), "hive", unit.hive);
    fprintf(file.get(), "\"exit_code\": %d,\n  \"checks\": [\n", unit.exitCode);
    for (int i = 0; i < list.count; ++i)
        WriteCheck(file.get(), list.checks[i], i + 1 == list.count);
    fputs("  ]\n}\n", file.get());
    return fflush(file.get()) == 0 && ferror(file.get()) == 0;
}

}  // namespace vireo

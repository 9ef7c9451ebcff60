#include "summary/report_file.h"

#include <windows.h>

#include <cstring>

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>

#include "common/handles.h"

#include "common/safe_strings.h"

namespace vireo {
namespace {

using rapidjson::Value;

// Iterative parsing keeps a deeply nested file from exhausting the stack;
// text that is not UTF-8 is refused rather than passed on.
constexpr unsigned kParseFlags = rapidjson::kParseIterativeFlag |
                                 rapidjson::kParseValidateEncodingFlag;

std::string Describe(const char* what, size_t number) {
    char text[160];
    StringCchPrintfA(text, ARRAYSIZE(text), what, static_cast<unsigned long>(number));
    return text;
}

// The parser's message without its full stop, to sit inside parentheses.
std::string Sentence(const rapidjson::Document& document) {
    std::string message = rapidjson::GetParseError_En(document.GetParseError());
    if (!message.empty() && message.back() == '.') message.pop_back();
    return message;
}

// A member that must be a string (or, when nullable, null: read as empty).
bool ReadText(const Value& object, const char* name, bool nullable, std::string& text) {
    const Value::ConstMemberIterator member = object.FindMember(name);
    if (member == object.MemberEnd()) return false;
    if (member->value.IsNull() && nullable) {
        text.clear();
        return true;
    }
    if (!member->value.IsString()) return false;
    text.assign(member->value.GetString(), member->value.GetStringLength());
    return true;
}

// The verifier's exit code: 0, 1 or 2.
bool ReadExitCode(const Value& object, int& exitCode) {
    const Value::ConstMemberIterator member = object.FindMember("exit_code");
    if (member == object.MemberEnd() || !member->value.IsInt()) return false;
    exitCode = member->value.GetInt();
    return exitCode >= 0 && exitCode <= 2;
}

bool ReadVerdict(const char* word, Verdict& verdict) {
    for (int i = 0; i < kVerdictCount; ++i) {
        if (strcmp(word, kVerdictWords[i]) == 0) {
            verdict = static_cast<Verdict>(i);
            return true;
        }
    }
    return false;
}

// The checks array: each entry names its check and a known verdict.
bool ReadChecks(const Value& object, std::vector<CheckVerdict>& checks) {
    const Value::ConstMemberIterator member = object.FindMember("checks");
    if (member == object.MemberEnd() || !member->value.IsArray()) return false;
    for (const Value& entry : member->value.GetArray()) {
        if (!entry.IsObject()) return false;
        CheckVerdict check;
        std::string status;
        if (!ReadText(entry, "check", false, check.name) || check.name.empty() ||
            !ReadText(entry, "status", false, status) ||
            !ReadVerdict(status.c_str(), check.verdict))
            return false;
        checks.push_back(check);
    }
    return true;
}

// The fields a verifier report always has; the first one missing or of
// another type is named.
bool ReadShape(const Value& root, UnitReport& report, std::string& why) {
    if (!root.IsObject()) {
        why = "JSON of another shape (not an object)";
        return false;
    }
    const char* missing = nullptr;
    if (!ReadText(root, "machine_id", true, report.machineId))
        missing = "machine_id";
    else if (!ReadText(root, "computer_name", false, report.computer) || report.computer.empty())
        missing = "computer_name";
    else if (!ReadText(root, "time", false, report.time))
        missing = "time";
    else if (!ReadText(root, "last_pass", true, report.lastPass))
        missing = "last_pass";
    else if (!ReadExitCode(root, report.exitCode))
        missing = "exit_code";
    else if (!ReadChecks(root, report.checks))
        missing = "checks";
    if (missing == nullptr) return true;
    why = "JSON of another shape (no valid \"";
    why += missing;
    why += "\")";
    return false;
}

}  // namespace

bool HasReportName(const char* fileName) {
    const size_t length = strlen(fileName);
    constexpr size_t kSuffix = 5;  // ".json"
    return length > kSuffix && lstrcmpiA(fileName + length - kSuffix, ".json") == 0;
}

bool ParseReport(char* text, size_t size, UnitReport& report, std::string& why) {
    // A byte-order mark, as an editor may add, is not part of the JSON.
    if (size >= 3 && memcmp(text, "\xEF\xBB\xBF", 3) == 0) {
        text += 3;
        size -= 3;
    }
    // The text is parsed where it lies (its strings are not copied), which
    // needs it to end at its terminator and nowhere before.
    const void* terminator = memchr(text, '\0', size);
    if (terminator != nullptr) {
        why = Describe("not JSON (at byte %lu: a NUL character)",
                       static_cast<size_t>(static_cast<const char*>(terminator) - text));
        return false;
    }
    text[size] = '\0';
    rapidjson::Document document;
    document.ParseInsitu<kParseFlags>(text);
    if (document.HasParseError()) {
        const size_t offset = document.GetErrorOffset();
        if (document.GetParseError() == rapidjson::kParseErrorDocumentEmpty)
            why = "not JSON (empty)";
        else if (offset >= size)
            why = Describe("truncated (the JSON stops at byte %lu)", size);
        else
            why = Describe("not JSON (at byte %lu: ", offset) + Sentence(document) + ")";
        return false;
    }
    return ReadShape(document, report, why);
}

bool ReadReportFile(const char* path, UnitReport& report, std::string& why) {
    UniqueFileHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        why = Describe("cannot be opened (error %lu)", GetLastError());
        return false;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size)) {
        why = Describe("cannot be read (error %lu)", GetLastError());
        return false;
    }
    if (size.QuadPart > static_cast<LONGLONG>(kLargestReport)) {
        why = "over 1 MiB, larger than any report";
        return false;
    }
    std::vector<char> text(static_cast<size_t>(size.QuadPart) + 1);
    DWORD read = 0;
    if (!ReadFile(file.get(), text.data(), static_cast<DWORD>(size.QuadPart), &read, nullptr)) {
        why = Describe("cannot be read (error %lu)", GetLastError());
        return false;
    }
    return ParseReport(text.data(), read, report, why);
}

}  // namespace vireo

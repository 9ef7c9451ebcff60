#include "summary/text.h"

#include <windows.h>

#include <cstring>
#include <vector>

#include "common/safe_strings.h"

namespace vireo {

namespace {

// Text from one code page to another through UTF-16; fallback when a step
// fails.
std::string Recode(const std::string& text, UINT from, UINT to, const char* fallback) {
    if (text.empty()) return text;
    const int size = static_cast<int>(text.size());
    const int wideLength = MultiByteToWideChar(from, 0, text.data(), size, nullptr, 0);
    if (wideLength <= 0) return fallback;
    std::vector<WCHAR> wide(static_cast<size_t>(wideLength));
    MultiByteToWideChar(from, 0, text.data(), size, wide.data(), wideLength);
    const int length =
        WideCharToMultiByte(to, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return fallback;
    std::string recoded(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(to, 0, wide.data(), wideLength, recoded.data(), length, nullptr, nullptr);
    return recoded;
}

}  // namespace

std::string ConsoleText(const std::string& utf8) { return Recode(utf8, CP_UTF8, CP_ACP, "?"); }

std::string Utf8FromAnsi(const char* text) { return Recode(text, CP_ACP, CP_UTF8, ""); }

std::string CsvField(const std::string& utf8) {
    std::string field = utf8;
    if (!field.empty() && strchr("=+-@\t\r", field[0]) != nullptr) field.insert(0, 1, '\'');
    if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
    std::string quoted = "\"";
    for (char c : field) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

std::string HtmlText(const std::string& utf8) {
    std::string text;
    for (char c : utf8) {
        switch (c) {
        case '&':
            text += "&amp;";
            break;
        case '<':
            text += "&lt;";
            break;
        case '>':
            text += "&gt;";
            break;
        case '"':
            text += "&quot;";
            break;
        case '\'':
            text += "&#39;";
            break;
        default:
            text += c;
        }
    }
    return text;
}

std::string Number(long long value) {
    char text[32];
    StringCchPrintfA(text, ARRAYSIZE(text), "%I64d", value);
    return text;
}

bool Write(FILE* file, const std::string& text) {
    return fwrite(text.data(), 1, text.size(), file) == text.size();
}

}  // namespace vireo

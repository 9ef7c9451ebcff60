#include "summary/text.h"

#include <windows.h>

#include <cstring>
#include <vector>

#include "common/safe_strings.h"

namespace vireo {

std::string ConsoleText(const std::string& utf8) {
    if (utf8.empty()) return utf8;
    const int wideLength =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    if (wideLength <= 0) return "?";
    std::vector<WCHAR> wide(static_cast<size_t>(wideLength));
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                        wideLength);
    const int length =
        WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return "?";
    std::string text(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, text.data(), length, nullptr, nullptr);
    return text;
}

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

namespace vireo {

std::string Utf8FromAnsi(const char* text) {
    const int wideLength = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (wideLength <= 0) return std::string();
    std::vector<WCHAR> wide(static_cast<size_t>(wideLength));
    MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), wideLength);
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), -1, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return std::string();
    std::string utf8(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), -1, utf8.data(), length, nullptr, nullptr);
    utf8.resize(static_cast<size_t>(length) - 1);
    return utf8;
}

}  // namespace vireo

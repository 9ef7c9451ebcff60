// Text as each output of vireo-summary needs it. Reports are UTF-8.
#pragma once

#include <cstdio>
#include <string>

namespace vireo {

// UTF-8 in the system code page, for the console; what it cannot show
// becomes '?'.
std::string ConsoleText(const std::string& utf8);

// One CSV field as RFC 4180 quotes it. A text a spreadsheet would take for a
// formula (starting with = + - @, a tab or a carriage return) gets a leading
// apostrophe, so opening the file runs nothing.
std::string CsvField(const std::string& utf8);

// Text safe inside HTML elements and attribute values.
std::string HtmlText(const std::string& utf8);

std::string Number(long long value);

// Writes all of text; false when the stream failed.
bool Write(FILE* file, const std::string& text);

// Text of the system code page (a command line, a file name) as UTF-8.
std::string Utf8FromAnsi(const char* text);

}  // namespace vireo

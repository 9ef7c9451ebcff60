#include "common/guid_text.h"

#include <cstring>

#include "common/safe_strings.h"

namespace vireo {
namespace {

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsDashPlace(int index) { return index == 8 || index == 13 || index == 18 || index == 23; }

}  // namespace

bool ParseGuidText(const char* text, GUID& guid) {
    BYTE bytes[16];
    int count = 0;
    for (int index = 0; index < 36; ++index) {
        if (IsDashPlace(index)) {
            if (text[index] != '-') return false;
            continue;
        }
        const int high = HexDigitValue(text[index]);
        const int low = high < 0 ? -1 : HexDigitValue(text[index + 1]);
        if (low < 0) return false;
        bytes[count++] = static_cast<BYTE>(high << 4 | low);
        ++index;
    }
    if (text[36] != '\0') return false;
    guid.Data1 = static_cast<DWORD>(bytes[0]) << 24 | static_cast<DWORD>(bytes[1]) << 16 |
                 static_cast<DWORD>(bytes[2]) << 8 | bytes[3];
    guid.Data2 = static_cast<WORD>(bytes[4] << 8 | bytes[5]);
    guid.Data3 = static_cast<WORD>(bytes[6] << 8 | bytes[7]);
    memcpy(guid.Data4, bytes + 8, sizeof(guid.Data4));
    return true;
}

void FormatGuidText(const GUID& guid, char (&text)[40]) {
    StringCchPrintfA(text, ARRAYSIZE(text), "%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                     guid.Data1, guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                     guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6],
                     guid.Data4[7]);
}

}  // namespace vireo

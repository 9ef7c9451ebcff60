// GUIDs as the power commands and the power store spell them:
// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx".
#pragma once

#include <windows.h>

namespace vireo {

// Parses the text in either case; false when it is not exactly a GUID.
bool ParseGuidText(const char* text, GUID& guid);

// The GUID in lower case.
void FormatGuidText(const GUID& guid, char (&text)[40]);

}  // namespace vireo

// The library's one piece of work, exported as a Windows Installer custom
// action: one session handle in (null when the program calls it), 0 out.
#pragma once

#include <windows.h>
#include <msi.h>

extern "C" UINT __stdcall crvVireoReq(MSIHANDLE session);

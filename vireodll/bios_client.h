// Client of the maker's WMI-extension COM server: sends one command to the
// BIOS and hands back its output bytes and return code. Every COM failure
// becomes the call's HRESULT; nothing is thrown.
#pragma once

#include <windows.h>

class CClientcrvwmiex {
public:
    // Builds the server's path and looks the server's service up; neither is
    // consulted by ExecMethodEx. Cannot fail.
    CClientcrvwmiex();
    virtual ~CClientcrvwmiex();

    // COM must be initialised on the calling thread. inData points to inSize
    // bytes, outData to at least outSize bytes.
    HRESULT ExecMethodEx(LONG command, LONG commandType, ULONG inSize, ULONG outSize,
                         LONG* returnCode, const BYTE* inData, BYTE* outData);

    const char* serverPath() const { return serverPath_; }
    HRESULT status() const { return status_; }

private:
    char serverPath_[MAX_PATH];
    HRESULT status_;
};

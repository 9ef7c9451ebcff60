// Every built-in pause of the product goes through Pause, so that tests can
// link a recording implementation in place of the real alertable sleep.
#pragma once

#include <windows.h>

namespace vireo {

void Pause(DWORD milliseconds);

}  // namespace vireo

#include "common/pause.h"

#include "common/safe_strings.h"

namespace vireo {

// Alertable, and its result is not looked at: an early wake-up ends the pause.
void Pause(DWORD milliseconds) { SleepEx(milliseconds, TRUE); }

}  // namespace vireo

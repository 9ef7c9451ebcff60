// The tests' Pause: records every requested duration and returns at once, or
// after a scaled-down real sleep, and can run a hook on each pause.
#pragma once

#include <windows.h>

#include <functional>
#include <vector>

namespace vireo::testing {

// Durations requested since the last ResetPauses, in order.
const std::vector<DWORD>& RecordedPauses();

// Forgets the recorded pauses, the hook and the scale.
void ResetPauses();

// Each pause really sleeps milliseconds / divisor (0: no real sleep).
void SetPauseRealSleepDivisor(DWORD divisor);

// Called on each pause with its duration and its 0-based position.
void SetPauseHook(std::function<void(DWORD milliseconds, size_t index)> hook);

}  // namespace vireo::testing

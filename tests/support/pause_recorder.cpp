#include "support/pause_recorder.h"

#include "common/pause.h"

namespace vireo::testing {
namespace {

std::vector<DWORD> g_pauses;
std::function<void(DWORD, size_t)> g_hook;
DWORD g_divisor = 0;

}  // namespace

const std::vector<DWORD>& RecordedPauses() { return g_pauses; }

void ResetPauses() {
    g_pauses.clear();
    g_hook = nullptr;
    g_divisor = 0;
}

void SetPauseRealSleepDivisor(DWORD divisor) { g_divisor = divisor; }

void SetPauseHook(std::function<void(DWORD, size_t)> hook) { g_hook = std::move(hook); }

}  // namespace vireo::testing

namespace vireo {

void Pause(DWORD milliseconds) {
    using namespace vireo::testing;
    const size_t index = g_pauses.size();
    g_pauses.push_back(milliseconds);
    if (g_divisor != 0) Sleep(milliseconds / g_divisor);
    if (g_hook) g_hook(milliseconds, index);
}

}  // namespace vireo

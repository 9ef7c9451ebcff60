#include "runner/power_plan.h"

namespace vireo {

// No power-plan command is launched yet.
void RunPowerCfg(const char* /*parameters*/) {}

void ApplyPowerPlan() {}

void ApplyLidOverride() {}

}  // namespace vireo

#pragma once

namespace vireo {

// Launches the system's powercfg.exe with one parameter string.
void RunPowerCfg(const char* parameters);

// The maker's settings for the Balanced scheme, one command each.
void ApplyPowerPlan();

// Battery lid-close action: do nothing (for the disk-protection hardware).
void ApplyLidOverride();

}  // namespace vireo

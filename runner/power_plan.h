#pragma once

namespace vireo {

// Launches the system's powercfg.exe with one parameter string.
void RunPowerCfg(const char* parameters);

// Launches powercfg.exe with "<commandWord> <the Balanced scheme>".
void RunPowerCfgOnScheme(const char* commandWord);

// The maker's settings for the Balanced scheme, one command each.
void ApplyPowerPlan();

// Battery lid-close action: do nothing (for the disk-protection hardware).
void ApplyLidOverride();

}  // namespace vireo

// The maker's power scheme: the Balanced scheme renamed and set to these
// values. The program turns each row into one powercfg command; the verifier
// reads the same rows back through the power-management functions.
#pragma once

#include <windows.h>

#include <cstddef>

namespace vireo {

constexpr char kBalancedScheme[] = "381b4222-f694-41f0-9685-ff5bb260df2e";
constexpr char kMakerSchemeName[] = "Corvane Optimized";

enum class PowerSupply { kAc, kDc };

// One value of one setting on one supply. The identifiers are spelled as the
// powercfg commands carry them (the sleep subgroup in upper case).
struct PowerSettingValue {
    const char* label;
    const char* subgroup;
    const char* setting;
    PowerSupply supply;
    DWORD value;
};

extern const PowerSettingValue kMakerPowerSettings[12];

// Battery lid-close action: do nothing, on computers with the maker's
// disk-protection hardware. It replaces the row of the same setting and supply.
extern const PowerSettingValue kDiskProtectionLidOverride;

// The row's powercfg parameters: "-set<ac|dc>valueindex <scheme> <subgroup>
// <setting> <value>". False, with parameters emptied, when they do not fit.
bool FormatSetValueCommand(const PowerSettingValue& row, char (&parameters)[MAX_PATH]);

// The rename command: -changename <scheme> "<name>".
bool FormatChangeNameCommand(char (&parameters)[MAX_PATH]);

}  // namespace vireo

#include "common/power_settings.h"

#include "common/safe_strings.h"

namespace vireo {
namespace {

constexpr char kDiskSubgroup[] = "0012ee47-9041-4b5d-9b77-535fba8b1442";
constexpr char kButtonsSubgroup[] = "4f971e89-eebd-4455-a8de-9e59040e7347";
constexpr char kSleepSubgroup[] = "238C9FA8-0AAD-41ED-83F4-97BE242C8F20";
constexpr char kDisplaySubgroup[] = "7516b95f-f776-4464-8c53-06167f40cc99";

constexpr char kDiskSetting0b2d[] = "0b2d69d7-a2a1-449c-9680-f91c70521c60";
constexpr char kDiskSettingDab6[] = "dab60367-53fe-4fbc-825e-521d069d2456";
constexpr char kLidClose[] = "5ca83367-6e45-459f-a27b-476b1d01c936";        // 0 nothing, 1 sleep
constexpr char kPowerButton[] = "7648efa3-dd9c-4e3e-b566-50f929386280";     // 3 shut down
constexpr char kHibernateAfter[] = "9d7815a6-7ee4-497e-8888-515a05f02364";  // seconds
constexpr char kBrightness[] = "aded5e82-b909-4619-9949-f5d71dac0bcb";      // percent

constexpr PowerSupply kAc = PowerSupply::kAc;
constexpr PowerSupply kDc = PowerSupply::kDc;

}  // namespace

// clang-format off
const PowerSettingValue kMakerPowerSettings[12] = {
    {"hard disk 0b2d69d7 AC",       kDiskSubgroup,    kDiskSetting0b2d, kAc, 2},
    {"hard disk 0b2d69d7 DC",       kDiskSubgroup,    kDiskSetting0b2d, kDc, 2},
    {"hard disk dab60367 AC",       kDiskSubgroup,    kDiskSettingDab6, kAc, 50},
    {"hard disk dab60367 DC",       kDiskSubgroup,    kDiskSettingDab6, kDc, 50},
    {"lid-close action AC",         kButtonsSubgroup, kLidClose,        kAc, 0},
    {"lid-close action DC",         kButtonsSubgroup, kLidClose,        kDc, 1},
    {"power-button action AC",      kButtonsSubgroup, kPowerButton,     kAc, 3},
    {"power-button action DC",      kButtonsSubgroup, kPowerButton,     kDc, 3},
    {"hibernate after AC",          kSleepSubgroup,   kHibernateAfter,  kAc, 64800},
    {"hibernate after DC",          kSleepSubgroup,   kHibernateAfter,  kDc, 64800},
    {"display brightness AC",       kDisplaySubgroup, kBrightness,      kAc, 100},
    {"display brightness DC",       kDisplaySubgroup, kBrightness,      kDc, 40},
};
// clang-format on

const PowerSettingValue kDiskProtectionLidOverride = {"lid-close action DC", kButtonsSubgroup,
                                                      kLidClose, kDc, 0};

bool FormatSetValueCommand(const PowerSettingValue& row, char (&parameters)[MAX_PATH]) {
    const char* command = row.supply == PowerSupply::kAc ? "-setacvalueindex" : "-setdcvalueindex";
    if (FAILED(StringCchPrintfA(parameters, MAX_PATH, "%s %s %s %s %lu", command, kBalancedScheme,
                                row.subgroup, row.setting, row.value))) {
        parameters[0] = '\0';
        return false;
    }
    return true;
}

bool FormatChangeNameCommand(char (&parameters)[MAX_PATH]) {
    if (FAILED(StringCchPrintfA(parameters, MAX_PATH, "-changename %s \"%s\"", kBalancedScheme,
                                kMakerSchemeName))) {
        parameters[0] = '\0';
        return false;
    }
    return true;
}

}  // namespace vireo

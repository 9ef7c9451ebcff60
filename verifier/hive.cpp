#include "verifier/hive.h"

#include <utility>

#include "common/product.h"

#include "common/safe_strings.h"

namespace vireo {
namespace {

constexpr char kSystemSid[] = "S-1-5-18";

UniqueHkey OpenUserSettings(HKEY userRoot) {
    return OpenRegistryKey(userRoot, kSettingsKey, KEY_QUERY_VALUE);
}

}  // namespace

bool OpenSettingsHive(const char* sid, SettingsHive& hive) {
    if (sid != nullptr) {
        UniqueHkey userRoot = OpenRegistryKey(HKEY_USERS, sid, KEY_READ);
        if (!userRoot) return false;
        hive.settings = OpenUserSettings(userRoot.get());
        StringCchPrintfA(hive.description, ARRAYSIZE(hive.description), "HKU\\%s\\%s", sid,
                         kSettingsKey);
        return true;
    }
    hive.settings = OpenUserSettings(HKEY_CURRENT_USER);
    StringCchPrintfA(hive.description, ARRAYSIZE(hive.description), "HKCU\\%s (the current user)",
                     kSettingsKey);
    if (hive.settings) return true;
    UniqueHkey systemRoot = OpenRegistryKey(HKEY_USERS, kSystemSid, KEY_READ);
    UniqueHkey systemSettings;
    if (systemRoot) systemSettings = OpenUserSettings(systemRoot.get());
    if (!systemSettings) return true;
    hive.settings = std::move(systemSettings);
    StringCchPrintfA(hive.description, ARRAYSIZE(hive.description),
                     "HKU\\%s\\%s (SYSTEM's hive: the current user has no settings key)",
                     kSystemSid, kSettingsKey);
    return true;
}

}  // namespace vireo

#include "verifier/hive.h"

#include <cstring>
#include <utility>

#include "common/pass_record.h"
#include "common/product.h"
#include "verifier/settings_checks.h"

#include "common/safe_strings.h"

namespace vireo {
namespace {

constexpr char kSystemSid[] = "S-1-5-18";
constexpr char kClassesSuffix[] = "_Classes";

// The settings key of a user hive; a key closed to this account is named in
// hive.denied (the first such), since it cannot be told apart from the rest.
UniqueHkey OpenUserSettings(HKEY userRoot, const char* name, SettingsHive& hive) {
    LONG status = ERROR_SUCCESS;
    UniqueHkey settings = OpenRegistryKey(userRoot, kSettingsKey, KEY_QUERY_VALUE, &status);
    if (status == ERROR_ACCESS_DENIED && hive.denied[0] == '\0')
        StringCchPrintfA(hive.denied, ARRAYSIZE(hive.denied), "%s\\%s", name, kSettingsKey);
    return settings;
}

bool HoldsMachineId(HKEY settings, const char* machineId) {
    RecordedText text;
    DWORD type = REG_NONE;
    return machineId != nullptr &&
           ReadStringValue(settings, kMachineIdValue, text, type) == ValueRead::kText &&
           strcmp(text, machineId) == 0;
}

// One hive looked in: named in the search list, and taken when it is the
// first with a settings key or the one holding the last pass's machine ID.
struct Search {
    const char* passMachineId;
    bool matched;
    SettingsHive& hive;
};

void LookIn(HKEY userRoot, const char* name, const char* why, Search& search) {
    StringCchCatA(search.hive.searched, ARRAYSIZE(search.hive.searched),
                  search.hive.searched[0] != '\0' ? ", " : "");
    StringCchCatA(search.hive.searched, ARRAYSIZE(search.hive.searched), name);
    if (search.matched) return;
    UniqueHkey settings = OpenUserSettings(userRoot, name, search.hive);
    if (!settings) return;
    search.matched = HoldsMachineId(settings.get(), search.passMachineId);
    const bool first = !search.hive.settings;
    if (!first && !search.matched) return;
    search.hive.settings = std::move(settings);
    StringCchPrintfA(search.hive.description, ARRAYSIZE(search.hive.description), "%s\\%s (%s)",
                     name, kSettingsKey, first ? why : "its MachineID is the last pass's");
}

void LookInUserHive(const char* sid, const char* why, Search& search) {
    UniqueHkey root = OpenRegistryKey(HKEY_USERS, sid, KEY_READ);
    if (!root) return;
    char name[160];
    StringCchPrintfA(name, ARRAYSIZE(name), "HKU\\%s", sid);
    LookIn(root.get(), name, why, search);
}

// Every loaded hive under HKU but SYSTEM's (already searched) and the class
// hives that go with user hives.
void LookInOtherHives(Search& search) {
    UniqueHkey users = OpenRegistryKey(HKEY_USERS, "", KEY_READ);
    if (!users) return;
    char sid[128];
    for (DWORD index = 0;; ++index) {
        DWORD length = ARRAYSIZE(sid);
        if (RegEnumKeyExA(users.get(), index, sid, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        sid[ARRAYSIZE(sid) - 1] = '\0';
        const size_t sidLength = strlen(sid);
        const size_t suffixLength = strlen(kClassesSuffix);
        if (lstrcmpiA(sid, kSystemSid) == 0 ||
            (sidLength > suffixLength &&
             lstrcmpiA(sid + sidLength - suffixLength, kClassesSuffix) == 0))
            continue;
        LookInUserHive(sid, "another loaded hive", search);
    }
}

}  // namespace

HiveFound OpenSettingsHive(const char* sid, const char* passMachineId, SettingsHive& hive) {
    hive.searched[0] = '\0';
    hive.denied[0] = '\0';
    if (sid != nullptr) {
        UniqueHkey userRoot = OpenRegistryKey(HKEY_USERS, sid, KEY_READ);
        if (!userRoot) return HiveFound::kNotLoaded;
        StringCchPrintfA(hive.searched, ARRAYSIZE(hive.searched), "HKU\\%s", sid);
        hive.settings = OpenUserSettings(userRoot.get(), hive.searched, hive);
        StringCchPrintfA(hive.description, ARRAYSIZE(hive.description), "HKU\\%s\\%s", sid,
                         kSettingsKey);
        return hive.denied[0] != '\0' ? HiveFound::kDenied : HiveFound::kFound;
    }
    StringCchPrintfA(hive.description, ARRAYSIZE(hive.description), "HKCU\\%s (the current user)",
                     kSettingsKey);
    Search search = {passMachineId, false, hive};
    LookIn(HKEY_CURRENT_USER, "HKCU", "the current user", search);
    LookInUserHive(kSystemSid, "SYSTEM's hive: the current user has no settings key", search);
    LookInOtherHives(search);
    if (hive.denied[0] != '\0' && !search.matched && (!hive.settings || passMachineId != nullptr))
        return HiveFound::kDenied;
    return hive.settings ? HiveFound::kFound : HiveFound::kNoSettingsKey;
}

}  // namespace vireo

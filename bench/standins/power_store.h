// Where the bench's power-management stand-ins keep the power schemes: the
// registry keys Windows keeps them under, one key per scheme (its GUID in
// lower case) with FriendlyName, one key per subgroup and setting below it
// with ACSettingIndex and DCSettingIndex, and the active scheme's GUID in
// ActivePowerScheme. powercfg.exe writes the store, powrprof.dll reads it.
#pragma once

namespace bench {

constexpr char kSchemesPath[] = "SYSTEM\\CurrentControlSet\\Control\\Power\\User\\PowerSchemes";
constexpr char kActiveSchemeValue[] = "ActivePowerScheme";
#define BENCH_FRIENDLY_NAME "FriendlyName"
constexpr char kFriendlyNameValue[] = BENCH_FRIENDLY_NAME;
// The same name for the UTF-16 read of the scheme's name.
constexpr wchar_t kFriendlyNameValueW[] = L"" BENCH_FRIENDLY_NAME;
constexpr char kAcIndexValue[] = "ACSettingIndex";
constexpr char kDcIndexValue[] = "DCSettingIndex";

}  // namespace bench

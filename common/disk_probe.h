#pragma once

namespace vireo {

// 1 when the maker's disk-protection device and its filter service are both
// present, else 0.
int IsDiskProtectionPresent();

}  // namespace vireo

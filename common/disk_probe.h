#pragma once

namespace vireo {

// 1 when the maker's disk-protection device and its filter service are both
// present, else 0.
int IsDiskProtectionPresent();

// Each half of that probe on its own, for a report that shows its evidence.
struct DiskProtectionParts {
    bool device;
    bool service;
};
DiskProtectionParts ProbeDiskProtectionParts();

}  // namespace vireo

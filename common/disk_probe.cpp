#include "common/disk_probe.h"

#include <windows.h>
#include <setupapi.h>

#include <cstring>

#include "common/handles.h"

#include "common/safe_strings.h"

namespace vireo {
namespace {

// {DD2A6682-735E-4E8E-8A59-D9DCCF1EBECE}
constexpr GUID kDiskProtectionInterface = {
    0xDD2A6682, 0x735E, 0x4E8E, {0x8A, 0x59, 0xD9, 0xDC, 0xCF, 0x1E, 0xBE, 0xCE}};
// Compared with its terminator: 13 bytes, case included.
constexpr char kDiskProtectionHardwareId[] = "ACPI\\CRV0004";
constexpr char kFilterServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\crvdskflt";

bool HasDiskProtectionDevice() {
    // Without DIGCF_PRESENT, so a device that is not present counts too.
    UniqueDeviceList devices(
        SetupDiGetClassDevsA(&kDiskProtectionInterface, nullptr, nullptr, DIGCF_DEVICEINTERFACE));
    if (!devices) return false;

    SP_DEVINFO_DATA device;
    ZeroMemory(&device, sizeof(device));
    device.cbSize = sizeof(device);
    BYTE hardwareId[256];
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices.get(), index, &device); ++index) {
        // A property that cannot be read leaves the cleared buffer: no match.
        ZeroMemory(hardwareId, sizeof(hardwareId));
        SetupDiGetDeviceRegistryPropertyA(devices.get(), &device, SPDRP_HARDWAREID, nullptr,
                                          hardwareId, sizeof(hardwareId), nullptr);
        if (memcmp(hardwareId, kDiskProtectionHardwareId, sizeof(kDiskProtectionHardwareId)) == 0)
            return true;
    }
    return false;
}

bool HasFilterService() {
    return OpenRegistryKey(HKEY_LOCAL_MACHINE, kFilterServiceKey, KEY_QUERY_VALUE).valid();
}

}  // namespace

int IsDiskProtectionPresent() { return HasDiskProtectionDevice() && HasFilterService() ? 1 : 0; }

DiskProtectionParts ProbeDiskProtectionParts() {
    return {HasDiskProtectionDevice(), HasFilterService()};
}

}  // namespace vireo

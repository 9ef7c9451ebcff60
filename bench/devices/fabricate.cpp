#include "fabricate.h"

#include <setupapi.h>
#include <strsafe.h>

#include <cstdio>

#include "common/handles.h"

namespace bench {
namespace {

constexpr char kServicesKey[] = "SYSTEM\\CurrentControlSet\\Services\\";
// The platform's bound on a device instance ID (MAX_DEVICE_ID_LEN).
constexpr int kMaxInstanceIdLength = 200;

std::string MultiString(const std::vector<std::string>& texts) {
    std::string bytes;
    for (const auto& text : texts) bytes += text + '\0';
    bytes += '\0';
    return bytes;
}

std::string InstanceIdOf(HDEVINFO devices, SP_DEVINFO_DATA* device) {
    char id[kMaxInstanceIdLength + 1] = "";
    if (!SetupDiGetDeviceInstanceIdA(devices, device, id, sizeof(id), nullptr)) return "";
    id[kMaxInstanceIdLength] = '\0';
    return id;
}

}  // namespace

std::string FabricateDevice(const GUID& deviceClass, const std::string& enumeratorName,
                            const std::vector<std::string>& hardwareIds, const GUID& interfaceClass,
                            const std::string& driverKey) {
    vireo::UniqueDeviceList devices(SetupDiCreateDeviceInfoList(&deviceClass, nullptr));
    if (!devices) return "";
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    if (!SetupDiCreateDeviceInfoA(devices.get(), enumeratorName.c_str(), &deviceClass, nullptr,
                                  nullptr, DICD_GENERATE_ID, &device))
        return "";
    const std::string ids = MultiString(hardwareIds);
    const bool made =
        SetupDiRegisterDeviceInfo(devices.get(), &device, 0, nullptr, nullptr, nullptr) &&
        SetupDiSetDeviceRegistryPropertyA(devices.get(), &device, SPDRP_HARDWAREID,
                                          reinterpret_cast<const BYTE*>(ids.data()),
                                          static_cast<DWORD>(ids.size())) &&
        SetupDiCreateDeviceInterfaceA(devices.get(), &device, &interfaceClass, nullptr, 0,
                                      nullptr) &&
        (driverKey.empty() ||
         SetupDiSetDeviceRegistryPropertyA(devices.get(), &device, SPDRP_DRIVER,
                                           reinterpret_cast<const BYTE*>(driverKey.c_str()),
                                           static_cast<DWORD>(driverKey.size() + 1)));
    if (!made) {
        SetupDiRemoveDevice(devices.get(), &device);
        return "";
    }
    return InstanceIdOf(devices.get(), &device);
}

bool RemoveDevice(const std::string& instanceId) {
    vireo::UniqueDeviceList devices(SetupDiCreateDeviceInfoList(nullptr, nullptr));
    if (!devices) return false;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    return SetupDiOpenDeviceInfoA(devices.get(), instanceId.c_str(), nullptr, 0, &device) &&
           SetupDiRemoveDevice(devices.get(), &device);
}

std::vector<DeviceSummary> ListDevices(const GUID& interfaceClass) {
    std::vector<DeviceSummary> found;
    vireo::UniqueDeviceList devices(
        SetupDiGetClassDevsA(&interfaceClass, nullptr, nullptr, DIGCF_DEVICEINTERFACE));
    if (!devices) return found;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices.get(), index, &device); ++index) {
        char ids[1024] = "";
        SetupDiGetDeviceRegistryPropertyA(devices.get(), &device, SPDRP_HARDWAREID, nullptr,
                                          reinterpret_cast<BYTE*>(ids), sizeof(ids) - 2, nullptr);
        ids[sizeof(ids) - 2] = '\0';
        found.push_back({InstanceIdOf(devices.get(), &device), ids});
    }
    return found;
}

bool CreateServiceKey(const std::string& name) {
    vireo::UniqueHkey key;
    const std::string path = kServicesKey + name;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        key.addressof(), nullptr) != ERROR_SUCCESS) {
        key.release();
        return false;
    }
    return true;
}

void DeleteServiceKey(const std::string& name) {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, (kServicesKey + name).c_str());
}

bool ParseGuid(const std::string& text, GUID* guid) {
    unsigned long data1 = 0;
    unsigned int data2 = 0, data3 = 0, bytes[8] = {};
    char end = '\0';
    const int fields = sscanf(text.c_str(), "{%8lx-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}%c", &data1,
                              &data2, &data3, &bytes[0], &bytes[1], &bytes[2], &bytes[3], &bytes[4],
                              &bytes[5], &bytes[6], &bytes[7], &end);
    if (fields != 11) return false;
    guid->Data1 = data1;
    guid->Data2 = static_cast<unsigned short>(data2);
    guid->Data3 = static_cast<unsigned short>(data3);
    for (int i = 0; i < 8; ++i) guid->Data4[i] = static_cast<unsigned char>(bytes[i]);
    return true;
}

}  // namespace bench

// Fabricates hardware in the prefix through SetupAPI, the way a driver
// installation would leave it: a device node with its hardware IDs and a
// device interface, and a service key. Used by the tests in process and by
// devmaker.exe on the bench's virtual computer.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace bench {

// Creates a root-enumerated device node "ROOT\<enumeratorName>\NNNN" of
// deviceClass whose SPDRP_HARDWAREID multi-string holds hardwareIds, and
// gives it an interface of interfaceClass; a driverKey ("{class}\NNNN")
// becomes its SPDRP_DRIVER, as a driver installation leaves it. Returns the
// instance ID, or "" when a step failed (the partial device is removed).
std::string FabricateDevice(const GUID& deviceClass, const std::string& enumeratorName,
                            const std::vector<std::string>& hardwareIds, const GUID& interfaceClass,
                            const std::string& driverKey = "");

// Removes a device node (and its interfaces) by instance ID.
bool RemoveDevice(const std::string& instanceId);

// Instance ID and first hardware ID of every device with an interface of
// interfaceClass, present or not, in enumeration order.
struct DeviceSummary {
    std::string instanceId;
    std::string firstHardwareId;
};
std::vector<DeviceSummary> ListDevices(const GUID& interfaceClass);

// HKLM\SYSTEM\CurrentControlSet\Services\<name>
bool CreateServiceKey(const std::string& name);
void DeleteServiceKey(const std::string& name);

bool ParseGuid(const std::string& text, GUID* guid);

}  // namespace bench

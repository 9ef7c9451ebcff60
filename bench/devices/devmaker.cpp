// Bench tool: fabricates devices and service keys in the prefix.
//   devmaker add DEVICE-CLASS ENUMERATOR INTERFACE-CLASS HWID [HWID...]
//   devmaker remove INSTANCE-ID
//   devmaker list INTERFACE-CLASS          (instance ID <tab> first hardware ID)
//   devmaker add-service NAME
// Class GUIDs are written with braces. Exit code 0 on success, 1 otherwise.
#include <cstdio>
#include <cstring>

#include "fabricate.h"

namespace {

int Usage() {
    fprintf(stderr, "usage: devmaker add|remove|list|add-service ...\n");
    return 1;
}

int Add(int argc, char** argv) {
    GUID deviceClass, interfaceClass;
    if (argc < 6 || !bench::ParseGuid(argv[2], &deviceClass) ||
        !bench::ParseGuid(argv[4], &interfaceClass))
        return Usage();
    std::vector<std::string> ids(argv + 5, argv + argc);
    const std::string instance = bench::FabricateDevice(deviceClass, argv[3], ids, interfaceClass);
    if (instance.empty()) {
        fprintf(stderr, "devmaker: could not create the device\n");
        return 1;
    }
    printf("%s\n", instance.c_str());
    return 0;
}

int List(const char* interfaceText) {
    GUID interfaceClass;
    if (!bench::ParseGuid(interfaceText, &interfaceClass)) return Usage();
    for (const auto& device : bench::ListDevices(interfaceClass))
        printf("%s\t%s\n", device.instanceId.c_str(), device.firstHardwareId.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    if (strcmp(argv[1], "add") == 0) return Add(argc, argv);
    if (strcmp(argv[1], "remove") == 0) return bench::RemoveDevice(argv[2]) ? 0 : 1;
    if (strcmp(argv[1], "list") == 0) return List(argv[2]);
    if (strcmp(argv[1], "add-service") == 0) return bench::CreateServiceKey(argv[2]) ? 0 : 1;
    return Usage();
}

// Bench tool: fabricates devices and service keys in the prefix.
//   devmaker add [--driver=KEY] DEVICE-CLASS ENUMERATOR INTERFACE-CLASS HWID [HWID...]
//                 (KEY, "{class}\NNNN", is the device's driver key)
//                 (an HWID of "@FILE" stands for the UTF-8 lines of FILE, each
//                 turned into the system code page: text that a command line
//                 from the host cannot carry intact)
//   devmaker remove INSTANCE-ID
//   devmaker list INTERFACE-CLASS          (instance ID <tab> first hardware ID)
//   devmaker add-service NAME
//   devmaker deny-writes KEY               (KEY under HKLM: writing it is denied to
//                                          everyone, as to an unelevated account)
// Class GUIDs are written with braces. Exit code 0 on success, 1 otherwise.
#include <windows.h>
#include <sddl.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "common/handles.h"
#include "fabricate.h"

namespace {

int Usage() {
    fprintf(stderr, "usage: devmaker add|remove|list|add-service ...\n");
    return 1;
}

// One line of UTF-8 in the system's ANSI code page.
std::string InAnsiCodePage(const std::string& utf8) {
    const int wide = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    if (wide <= 0) return "";
    std::wstring text(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &text[0], wide);
    const int narrow =
        WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (narrow <= 0) return "";
    std::string ansi(static_cast<size_t>(narrow), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &ansi[0], narrow, nullptr, nullptr);
    ansi.resize(static_cast<size_t>(narrow - 1));
    return ansi;
}

// The hardware IDs of the command line, with "@FILE" read from its file.
std::vector<std::string> HardwareIds(char** first, char** last) {
    std::vector<std::string> ids;
    for (char** argument = first; argument != last; ++argument) {
        if ((*argument)[0] != '@') {
            ids.emplace_back(*argument);
            continue;
        }
        std::ifstream file(*argument + 1, std::ios::binary);
        for (std::string line; std::getline(file, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!line.empty()) ids.push_back(InAnsiCodePage(line));
        }
    }
    return ids;
}

int Add(int argc, char** argv) {
    constexpr char kDriverOption[] = "--driver=";
    std::string driverKey;
    if (argc > 2 && strncmp(argv[2], kDriverOption, sizeof(kDriverOption) - 1) == 0) {
        driverKey = argv[2] + sizeof(kDriverOption) - 1;
        ++argv;
        --argc;
    }
    GUID deviceClass, interfaceClass;
    if (argc < 6 || !bench::ParseGuid(argv[2], &deviceClass) ||
        !bench::ParseGuid(argv[4], &interfaceClass))
        return Usage();
    const std::vector<std::string> ids = HardwareIds(argv + 5, argv + argc);
    const std::string instance =
        bench::FabricateDevice(deviceClass, argv[3], ids, interfaceClass, driverKey);
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

// A driver key as an account without the rights to change it meets it:
// everyone may read, no one may set values or create subkeys.
int DenyWrites(const char* path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
            "D:(D;;0x6;;;WD)(A;;KA;;;WD)", SDDL_REVISION_1, &descriptor, nullptr))
        return 1;
    vireo::UniqueHkey key;
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, WRITE_DAC, key.addressof());
    if (status == ERROR_SUCCESS)
        status = RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, descriptor);
    LocalFree(descriptor);
    return status == ERROR_SUCCESS ? 0 : 1;
}

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    if (strcmp(argv[1], "add") == 0) return Add(argc, argv);
    if (strcmp(argv[1], "remove") == 0) return bench::RemoveDevice(argv[2]) ? 0 : 1;
    if (strcmp(argv[1], "list") == 0) return List(argv[2]);
    if (strcmp(argv[1], "add-service") == 0) return bench::CreateServiceKey(argv[2]) ? 0 : 1;
    if (strcmp(argv[1], "deny-writes") == 0) return DenyWrites(argv[2]);
    return Usage();
}

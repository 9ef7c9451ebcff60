#include "support/machine.h"

#include <sddl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

namespace vireo::testing {
namespace {

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string OwnModuleFolder() {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    path[MAX_PATH - 1] = '\0';
    return FolderOf(path);
}

HKEY OpenKey(HKEY root, const std::string& path, REGSAM access) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, access, &key) != ERROR_SUCCESS) return nullptr;
    return key;
}

}  // namespace

// Written out, not looked up the way the code under test looks it up: a
// 32-bit program's default Program Files folder.
std::string ProgramFilesFolder() {
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    return wow64 ? "C:\\Program Files (x86)" : "C:\\Program Files";
}

std::string ProductFolder() { return ProgramFilesFolder() + "\\Corvane\\Pallister"; }

std::string BenchBuildFolder() { return FolderOf(OwnModuleFolder()) + "\\bench"; }

std::string TestBinFolder() { return OwnModuleFolder(); }

void DeleteKeyTree(HKEY root, const std::string& path) { RegDeleteTreeA(root, path.c_str()); }

void SetKeyReadable(HKEY root, const std::string& path, bool readable) {
    // Everyone: reading denied before everything allowed, or everything allowed.
    const char* acl = readable ? "D:(A;;KA;;;WD)" : "D:(D;;KR;;;WD)(A;;KA;;;WD)";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(acl, SDDL_REVISION_1,
                                                                     &descriptor, nullptr));
    HKEY key = OpenKey(root, path, WRITE_DAC);
    EXPECT_NE(nullptr, key) << path;
    if (key != nullptr) {
        EXPECT_EQ(ERROR_SUCCESS, RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor));
        RegCloseKey(key);
    }
    LocalFree(descriptor);
}

std::optional<RegistryValue> ReadValue(HKEY root, const std::string& path,
                                       const std::string& name) {
    HKEY key = OpenKey(root, path, KEY_QUERY_VALUE);
    if (key == nullptr) return std::nullopt;
    RegistryValue value;
    DWORD size = 0;
    LONG status = RegQueryValueExA(key, name.c_str(), nullptr, &value.type, nullptr, &size);
    if (status == ERROR_SUCCESS) {
        value.bytes.assign(size, '\0');
        status = RegQueryValueExA(key, name.c_str(), nullptr, &value.type,
                                  reinterpret_cast<BYTE*>(value.bytes.data()), &size);
        value.bytes.resize(size);
    }
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return std::nullopt;
    return value;
}

std::optional<std::string> ReadString(HKEY root, const std::string& path, const std::string& name) {
    auto value = ReadValue(root, path, name);
    if (!value || value->type != REG_SZ) return std::nullopt;
    std::string text = value->bytes;
    if (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
}

std::optional<DWORD> ReadDword(HKEY root, const std::string& path, const std::string& name) {
    auto value = ReadValue(root, path, name);
    if (!value || value->type != REG_DWORD || value->bytes.size() != sizeof(DWORD))
        return std::nullopt;
    DWORD number = 0;
    memcpy(&number, value->bytes.data(), sizeof(number));
    return number;
}

void WriteRawValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                   const std::string& bytes) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name.c_str(), 0, type,
                                            reinterpret_cast<const BYTE*>(bytes.data()),
                                            static_cast<DWORD>(bytes.size())));
    RegCloseKey(key);
}

void WriteWideString(HKEY root, const std::string& path, const std::wstring& name,
                     const std::wstring& text) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, nullptr));
    EXPECT_EQ(ERROR_SUCCESS,
              RegSetValueExW(key, name.c_str(), 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))));
    RegCloseKey(key);
}

void WriteString(HKEY root, const std::string& path, const std::string& name,
                 const std::string& text) {
    WriteRawValue(root, path, name, REG_SZ, std::string(text.c_str(), text.size() + 1));
}

std::optional<std::string> ReadFileBytes(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    std::string bytes;
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read > 0) {
        bytes.append(chunk, read);
    }
    CloseHandle(file);
    return bytes;
}

bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void DeleteFileIfPresent(const std::string& path) { DeleteFileA(path.c_str()); }

void EnsureFolder(const std::string& path) {
    SHCreateDirectoryExA(nullptr, path.c_str(), nullptr);
    ASSERT_TRUE(FileExists(path)) << path;
}

void DeleteFolderTree(const std::string& path) {
    std::string from = path;
    from.push_back('\0');  // double-terminated list of one
    SHFILEOPSTRUCTA operation{};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.c_str();
    operation.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
    SHFileOperationA(&operation);
}

void CopyFileOrFail(const std::string& from, const std::string& to) {
    ASSERT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE)) << from << " -> " << to;
}

std::vector<std::string> ReadJournal() {
    std::vector<std::string> events;
    auto bytes = ReadFileBytes("C:\\bench\\journal.txt");
    if (!bytes) return events;
    size_t start = 0;
    while (start < bytes->size()) {
        size_t end = bytes->find("\r\n", start);
        if (end == std::string::npos) end = bytes->size();
        const std::string line = bytes->substr(start, end - start);
        const size_t tab = line.find('\t');
        if (tab != std::string::npos) events.push_back(line.substr(tab + 1));
        start = end + 2;
    }
    return events;
}

void ClearJournal() { DeleteFileIfPresent("C:\\bench\\journal.txt"); }

std::vector<std::string> SplitLogLines(const std::string& bytes) {
    std::vector<std::string> lines;
    const std::string lineEnd = "\r\r\n";
    size_t start = 0;
    while (start < bytes.size()) {
        const size_t end = bytes.find(lineEnd, start);
        if (end == std::string::npos) {
            lines.push_back(bytes.substr(start));
            break;
        }
        lines.push_back(bytes.substr(start, end - start));
        start = end + lineEnd.size();
    }
    return lines;
}

std::string LogMessage(const std::string& line) {
    const size_t tab = line.find('\t');
    return tab == std::string::npos ? line : line.substr(tab + 1);
}

std::string BiosServerPath() { return ProgramFilesFolder() + "\\Corvane\\Shared\\crvwmiex.exe"; }

// A server started by an earlier test may still be running (ending after its
// last object, or lingering when configured to) and keeps its executable
// open: an identical copy in place is left as it is.
void InstallBiosServer() {
    EnsureFolder(ProgramFilesFolder() + "\\Corvane\\Shared");
    const std::string source = BenchBuildFolder() + "\\crvwmiex.exe";
    const auto installed = ReadFileBytes(BiosServerPath());
    if (installed && installed == ReadFileBytes(source)) return;
    CopyFileOrFail(source, BiosServerPath());
}

void RunBiosServer(const char* argument) {
    TestProcess process(BiosServerPath(), "\"" + BiosServerPath() + "\" " + argument);
    ASSERT_EQ(std::optional<DWORD>(0), process.WaitForExit(30000)) << argument;
}

TestProcess::TestProcess(const std::string& application, const std::string& commandLine)
    : commandLine_(commandLine) {
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    std::string writable = commandLine;
    if (!CreateProcessA(application.c_str(), writable.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info_)) {
        info_ = PROCESS_INFORMATION{};
    }
}

TestProcess::~TestProcess() {
    Terminate();
    if (info_.hProcess) CloseHandle(info_.hProcess);
    if (info_.hThread) CloseHandle(info_.hThread);
}

std::optional<DWORD> TestProcess::WaitForExit(DWORD milliseconds) {
    if (!started()) return std::nullopt;
    if (WaitForSingleObject(info_.hProcess, milliseconds) != WAIT_OBJECT_0) {
        const auto journal = ReadJournal();
        ADD_FAILURE() << "still running after " << milliseconds << " ms: " << commandLine_
                      << "; last journal event: " << (journal.empty() ? "(none)" : journal.back());
        return std::nullopt;
    }
    DWORD code = 0;
    GetExitCodeProcess(info_.hProcess, &code);
    return code;
}

void TestProcess::Terminate() {
    if (started() && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(info_.hProcess, 1);
        WaitForSingleObject(info_.hProcess, 5000);
    }
}

}  // namespace vireo::testing

// Helpers that set up and read back real platform state in the test prefix:
// registry keys, files, folders, processes and the bench journal.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace vireo::testing {

constexpr char kTestSettingsKey[] = "Software\\Corvane\\Pallister";
constexpr char kTestLogPath[] = "C:\\SYSTEM.SAV\\Pallister.log";

// Folders as this 32-bit process sees them.
std::string ProgramFilesFolder();
std::string ProductFolder();  // Program Files\Corvane\Pallister
// Where the build put the bench's stand-ins, and the tests' own helpers.
std::string BenchBuildFolder();
std::string TestBinFolder();

void DeleteKeyTree(HKEY root, const std::string& path);
// Closes an existing key to reading for everyone (a key this account may not
// read), or opens it again. Writing its access list stays allowed.
void SetKeyReadable(HKEY root, const std::string& path, bool readable);

struct RegistryValue {
    DWORD type = REG_NONE;
    std::string bytes;
};
std::optional<RegistryValue> ReadValue(HKEY root, const std::string& path, const std::string& name);
// A REG_SZ value's text without its terminator.
std::optional<std::string> ReadString(HKEY root, const std::string& path, const std::string& name);
std::optional<DWORD> ReadDword(HKEY root, const std::string& path, const std::string& name);
// Writes raw bytes with the given type, as a script or a user might leave them.
void WriteRawValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                   const std::string& bytes);
void WriteString(HKEY root, const std::string& path, const std::string& name,
                 const std::string& text);
// A REG_SZ value written in UTF-16, as stored, with no code page between.
void WriteWideString(HKEY root, const std::string& path, const std::wstring& name,
                     const std::wstring& text);

std::optional<std::string> ReadFileBytes(const std::string& path);
bool FileExists(const std::string& path);
void DeleteFileIfPresent(const std::string& path);
// Creates every missing folder of path.
void EnsureFolder(const std::string& path);
// Removes a folder and everything in it.
void DeleteFolderTree(const std::string& path);
void CopyFileOrFail(const std::string& from, const std::string& to);

// Events of the bench journal as "<module>\t<event>", time column dropped.
std::vector<std::string> ReadJournal();
void ClearJournal();

// Lines of a CR CR LF log, split on the line format's own break.
std::vector<std::string> SplitLogLines(const std::string& bytes);
// The message part of a log line (after the timestamp and the tab).
std::string LogMessage(const std::string& line);

// The bench's WMI-extension server, installed where the client expects it,
// and run with one argument (/RegServer, /UnregServer) to its end.
std::string BiosServerPath();
void InstallBiosServer();
void RunBiosServer(const char* argument);

// A process started for a test and ended (if still running) when the holder goes.
class TestProcess {
public:
    TestProcess(const std::string& application, const std::string& commandLine);
    ~TestProcess();
    TestProcess(const TestProcess&) = delete;
    TestProcess& operator=(const TestProcess&) = delete;

    bool started() const { return info_.hProcess != nullptr; }
    // Exit code once the process ended within the bound, or nullopt; a
    // process still running then fails the test, saying which it was and
    // the journal's last event.
    std::optional<DWORD> WaitForExit(DWORD milliseconds);
    void Terminate();

private:
    std::string commandLine_;
    PROCESS_INFORMATION info_{};
};

}  // namespace vireo::testing

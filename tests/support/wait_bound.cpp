#include "support/wait_bound.h"

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <cstdio>

#include "support/machine.h"

namespace vireo::testing {
namespace {

bool IsPlatformProcess(const char* name) {
    static const char* const kPlatform[] = {"services.exe", "winedevice.exe", "plugplay.exe",
                                            "svchost.exe",  "rpcss.exe",      "explorer.exe",
                                            "conhost.exe",  "start.exe"};
    for (const char* platform : kPlatform)
        if (lstrcmpiA(name, platform) == 0) return true;
    return false;
}

// Lists the processes of this prefix other than the platform's own services
// and this one, and ends them: a stand-in started for the test holds the
// test's output pipes, and ctest waits for those to close.
std::string EndOtherProcesses() {
    std::string text;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return " (no process snapshot)";
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot, &entry); more;
         more = Process32Next(snapshot, &entry)) {
        entry.szExeFile[sizeof(entry.szExeFile) - 1] = '\0';
        if (entry.th32ProcessID == GetCurrentProcessId() || IsPlatformProcess(entry.szExeFile))
            continue;
        text += " " + std::string(entry.szExeFile) + "(" + std::to_string(entry.th32ProcessID) +
                ")";
        if (HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID)) {
            TerminateProcess(process, 3);
            CloseHandle(process);
        }
    }
    CloseHandle(snapshot);
    return text.empty() ? " none" : text;
}

std::string LastLogLine() {
    const auto lines = SplitLogLines(ReadFileBytes(kTestLogPath).value_or(""));
    for (auto line = lines.rbegin(); line != lines.rend(); ++line)
        if (!LogMessage(*line).empty()) return LogMessage(*line);
    return "(none)";
}

}  // namespace

WaitBound::WaitBound(std::string what, DWORD milliseconds)
    : what_(std::move(what)),
      milliseconds_(milliseconds),
      done_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      watcher_(CreateThread(nullptr, 0, Watch, this, 0, nullptr)) {}

WaitBound::~WaitBound() {
    SetEvent(done_);
    if (watcher_) {
        WaitForSingleObject(watcher_, INFINITE);
        CloseHandle(watcher_);
    }
    CloseHandle(done_);
}

DWORD WINAPI WaitBound::Watch(void* self) {
    const auto* bound = static_cast<const WaitBound*>(self);
    if (WaitForSingleObject(bound->done_, bound->milliseconds_) != WAIT_TIMEOUT) return 0;
    const auto journal = ReadJournal();
    std::fprintf(stderr,
                 "\nWAIT BOUND: still waiting after %lu ms for %s\n"
                 "  processes still running (now ended):%s\n"
                 "  last journal event: %s\n"
                 "  last activity-log line: %s\n",
                 bound->milliseconds_, bound->what_.c_str(), EndOtherProcesses().c_str(),
                 journal.empty() ? "(none)" : journal.back().c_str(), LastLogLine().c_str());
    std::fflush(stdout);
    std::fflush(stderr);
    // The waiting thread cannot be unblocked from here; the process ends.
    TerminateProcess(GetCurrentProcess(), 3);
    return 0;
}

std::string CurrentTestName() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return info ? std::string(info->test_suite_name()) + "." + info->name() : "(no test)";
}

}  // namespace vireo::testing

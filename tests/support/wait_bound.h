// A bound on a test's wait for another process: when the code under test is
// still waiting after the bound, the test process ends with a message that
// names what it waited for and the state it last saw (the processes still
// running, the journal's and the activity log's last lines), so a hang is a
// failure that explains itself well before ctest's own limit.
#pragma once

#include <windows.h>

#include <string>

namespace vireo::testing {

// A test that waits on another process ends well within ctest's 120 s.
constexpr DWORD kOutOfProcessBoundMs = 60000;

class WaitBound {
public:
    WaitBound(std::string what, DWORD milliseconds);
    ~WaitBound();
    WaitBound(const WaitBound&) = delete;
    WaitBound& operator=(const WaitBound&) = delete;

private:
    static DWORD WINAPI Watch(void* self);

    std::string what_;
    DWORD milliseconds_;
    HANDLE done_;
    HANDLE watcher_;
};

// The name of the running test, "Suite.Name".
std::string CurrentTestName();

}  // namespace vireo::testing

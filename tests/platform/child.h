// The test binary doubles as the other process of the cross-process tests:
// started as "platform_tests --child ROLE ARGS...", it plays ROLE and exits
// before the test framework starts.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform_test {

// A child process running one role; terminated and reaped when it goes out
// of scope, so a failing test leaves no process behind.
struct Child {
    // env: extra "NAME=value" entries added to this process's environment.
    explicit Child(const std::vector<std::string>& args, const std::vector<std::string>& env = {});
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    bool started() const { return info.hProcess != nullptr; }
    DWORD pid() const { return info.dwProcessId; }
    // Kills the child with SIGKILL and waits until it is gone.
    void Kill();
    // Waits for the child's end; its exit code, or ~0u after the timeout.
    DWORD Wait(DWORD ms);
    PROCESS_INFORMATION info{};
};

// A name unique to this test process, for named objects.
std::string UniqueName(const char* what);

// A named event that a child sets when it is ready; closed with the test.
struct ReadySignal {
    explicit ReadySignal(const char* what);
    ~ReadySignal();
    bool Wait(DWORD ms = 5000);
    std::string name;
    HANDLE event;
};

// The roles, defined by the test files; each returns the child's exit code.
typedef std::vector<std::string> Args;
int RoleHoldMapping(const Args& args);    // NAME READY: create, write, wait to be killed
int RoleOwnMutex(const Args& args);       // NAME READY: take the mutex, wait to be killed
int RoleSetEvent(const Args& args);       // NAME: open the event and set it
int RoleCreateAndExit(const Args& args);  // NAME: create a mapping and event NAME, exit()
int RoleWindowServer(const Args& args);   // MAP READY [PEER COUNT]: window answering sends
int RoleWatchDevices(const Args& args);   // READY GOT: window counting WM_DEVICECHANGE
int RoleWindowAndExit(const Args& args);  // FILE: a window's handle into FILE, then _exit

}  // namespace platform_test

// The test binary doubles as the other process of the cross-process tests:
// started as "platform_tests --child ROLE ARGS...", it plays ROLE and exits
// before the test framework starts.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform_test {

typedef std::vector<std::string> Args;

// A process started by CreateProcessA; killed and reaped when it goes out of
// scope, so a failing test leaves no process behind.
struct Child {
    explicit Child(std::string line, DWORD flags = 0, char* environment = nullptr,
                   const char* directory = nullptr);
    // This program playing role args[0]; env: "NAME=value" entries added to ours.
    explicit Child(const Args& args, const Args& env = {});
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    bool started() const { return info.hProcess != nullptr; }
    void Kill();  // terminates it and waits until it is gone
    // Waits for the child's end; its exit code, or ~0u after the timeout.
    DWORD Wait(DWORD ms = 5000);
    PROCESS_INFORMATION info{};
};

// A name unique to this test process, for named objects.
std::string UniqueName(const char* what);

// A named manual-reset event that a child sets when it is ready.
struct ReadySignal {
    explicit ReadySignal(const char* what);
    ~ReadySignal() { plat::CloseHandle(event); }
    bool Wait(DWORD ms = 5000) { return plat::WaitForSingleObject(event, ms) == WAIT_OBJECT_0; }
    std::string name;
    HANDLE event;
};

// Opens the named event and sets it; false when either fails.
bool SetNamedEvent(const std::string& name);

// The roles, defined by the test files; each returns the child's exit code.
int RoleHoldMapping(const Args& args);    // NAME READY: create, write, wait to be killed
int RoleOwnMutex(const Args& args);       // NAME READY: take the mutex, wait to be killed
int RoleSetEvent(const Args& args);       // NAME: open the event and set it
int RoleCreateAndExit(const Args& args);  // NAME: create a mapping and event NAME, exit()
int RoleWindowServer(const Args& args);   // MAP READY [PEER COUNT]: window answering sends
int RoleWatchDevices(const Args& args);   // READY GOT: window counting WM_DEVICECHANGE
int RoleWindowAndExit(const Args& args);  // FILE: a window's handle into FILE, then _exit

}  // namespace platform_test

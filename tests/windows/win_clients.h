// Client processes of the library for the Windows process tests: each runs
// tavcam-test-client.exe (tests/core/test_client.cpp), driven through its
// standard input and output; and the shared block read from its mapping.
#pragma once

#include <windows.h>

#include <map>
#include <string>

#include "core/shared_data.h"
#include "support/testing.h"

namespace windows_tests {

struct Client {
    HANDLE process = nullptr;
    DWORD pid = 0;
    HANDLE in = nullptr;   // its standard input
    HANDLE out = nullptr;  // its standard output
};

// Starts the client program (it inherits this process's environment, and so
// TAVCAM_DEVICE_DIR); false when it can't start.
bool StartClient(Client* client);
// Sends one command and returns the one-line answer ("" after ms or when
// the client is gone).
std::string Ask(Client& client, const std::string& command, DWORD ms = 15000);
// Asks for "exit" and waits (bounded) for the process to end; true if it
// ended by itself with exit code 0.
bool Exit(Client& client);
// Ends the process at once.
void Kill(Client& client);

using testing_support::Fields;  // "key=value" fields of a state line

// The shared block, copied from its mapping (held only for the copy); false
// when there is no block.
bool ReadBlock(tav::SharedData* out);

bool ProcessRuns(DWORD pid);

// Waits up to ms for cond() to hold, checking every 20 ms.
template <typename F>
bool WaitFor(F cond, DWORD ms) {
    for (DWORD start = GetTickCount(); GetTickCount() - start <= ms; Sleep(20))
        if (cond()) return true;
    return cond();
}

}  // namespace windows_tests

// Client processes of the library for the process tests: each runs
// tavcam-test-client (or another built program) driven through its standard
// input and output.
#pragma once

#include <sys/types.h>
#include <time.h>

#include <string>
#include <vector>

#include "support/testing.h"

namespace process_tests {

using testing_support::Fields;  // "key=value" fields of a state line

struct Client {
    pid_t pid = -1;
    int in = -1;   // its standard input
    int out = -1;  // its standard output
};

// Starts a client (a built program, or one by its full path) with
// TAVCAM_RUNTIME_DIR=runtimeDir and TAVCAM_DEVICE_DIR=deviceDir (empty: a
// directory that holds no camera); false when it can't start.
bool StartClient(const std::string& runtimeDir, Client* client,
                 const std::vector<std::string>& arguments, const std::string& deviceDir,
                 const std::string& program = "tavcam-test-client");
// Sends one command and returns the one-line answer ("" after ms or when
// the client is gone).
std::string Ask(Client& client, const std::string& command, int ms = 10000);
// The client's next line of output ("" after ms or at its end).
std::string ReadLine(Client& client, int ms);
// Writes "exit" without waiting for the process to end.
void BeginExit(Client& client);
// Waits up to ms for the process to end and reaps it (its pid is then -1);
// true when it ended by itself with exit code 0.
bool Reaped(Client& client, int ms);
// BeginExit, then Reaped within 10 s; killed when it did not end.
bool Exit(Client& client);
// Ends the process at once with SIGKILL and reaps it.
void Kill(Client& client);
// True when the process with this id runs (a zombie counts as ended).
bool ProcessRuns(pid_t pid);

// Waits up to ms for cond() to hold, checking every 20 ms.
template <typename F>
bool WaitFor(F cond, int ms) {
    for (int waited = 0; waited <= ms; waited += 20) {
        if (cond()) return true;
        struct timespec ts = {0, 20 * 1000 * 1000};
        nanosleep(&ts, nullptr);
    }
    return cond();
}

}  // namespace process_tests

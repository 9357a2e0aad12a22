// Client processes of the library for the process tests: each runs
// tavcam-test-client with a private namespace of named objects, and is
// driven through its standard input and output.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace process_tests {

struct Client {
    pid_t pid = -1;
    int in = -1;   // its standard input
    int out = -1;  // its standard output
};

// Starts a client with TAVCAM_RUNTIME_DIR=runtimeDir; false when it can't start.
bool StartClient(const std::string& runtimeDir, Client* client, const char* argument = nullptr);
// Sends one command and returns the one-line answer ("" after 10 s or when
// the client is gone).
std::string Ask(Client& client, const std::string& command);
// Asks for "exit" and waits (bounded) for the process to end; true if it
// ended by itself with exit code 0.
bool Exit(Client& client);
// Ends the process at once with SIGKILL and reaps it.
void Kill(Client& client);

// "key=value" fields of a state line.
std::map<std::string, std::string> Fields(const std::string& stateLine);

// Running processes whose environment holds TAVCAM_RUNTIME_DIR=runtimeDir.
std::vector<int> ProcessesOfRun(const std::string& runtimeDir);

// True when the process with this id runs (a zombie counts as ended).
bool ProcessRuns(pid_t pid);
// Waits up to ms for cond() to hold, checking every 20 ms.
template <typename F>
bool WaitFor(F cond, int ms);

}  // namespace process_tests

#include <time.h>

namespace process_tests {
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

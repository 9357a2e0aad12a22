// Client processes of the library for the process tests: each runs
// tavcam-test-client with a private namespace of named objects, and is
// driven through its standard input and output.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

#include "core/shared_data.h"
#include "support/testing.h"

namespace process_tests {

struct Client {
    pid_t pid = -1;
    int in = -1;   // its standard input
    int out = -1;  // its standard output
};

// Starts a client (the program tavcam-test-client, or another of the built
// programs, or a program by its full path) with TAVCAM_RUNTIME_DIR=runtimeDir and
// TAVCAM_DEVICE_DIR=deviceDir (empty: a directory that holds no camera); false when it can't start.
bool StartClient(const std::string& runtimeDir, Client* client, const char* argument = nullptr,
                 const std::string& deviceDir = "",
                 const std::string& program = "tavcam-test-client");
// The same with any number of arguments.
bool StartClient(const std::string& runtimeDir, Client* client,
                 const std::vector<std::string>& arguments, const std::string& deviceDir,
                 const std::string& program);
// Sends one command and returns the one-line answer ("" after ms or when
// the client is gone).
std::string Ask(Client& client, const std::string& command, int ms = 10000);
// The client's next line of output ("" after ms or at its end).
std::string ReadLine(Client& client, int ms);
// Asks for "exit" and waits (bounded) for the process to end; true if it
// ended by itself with exit code 0.
bool Exit(Client& client);
// Ends the process at once with SIGKILL and reaps it.
void Kill(Client& client);

using testing_support::Fields;  // "key=value" fields of a state line

// The shared block of the run, read straight from its shared memory object
// without becoming one of its holders (the object's life is untouched);
// false when there is no block.
bool ReadBlock(const std::string& runtimeDir, tav::SharedData* out);

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

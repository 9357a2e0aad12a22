// The fixture of the tests with real processes: a private namespace of named
// objects per test, client processes started in it, and at the end every
// process of the run ended, even when the test fails.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <deque>
#include <string>
#include <vector>

#include "client_process.h"
#include "support/testing.h"

namespace process_tests {

class LibraryProcesses : public ::testing::Test {
  protected:
    testing_support::TempDir runtime;
    std::string deviceDir;       // empty: the clients see no camera
    std::deque<Client> clients;  // a deque: references stay valid as clients are added
    std::vector<pid_t> monitors;

    // Shared memory objects of this run's namespace that still exist.
    std::vector<std::string> NamedObjectsLeft();

    void TearDown() override;

    Client& Start(const char* argument = nullptr,
                  const std::string& program = "tavcam-test-client") {
        clients.emplace_back();
        EXPECT_TRUE(StartClient(runtime.path, &clients.back(), argument, deviceDir, program));
        return clients.back();
    }

    std::map<std::string, std::string> State(Client& c) { return Fields(Ask(c, "state")); }

    // Starts a client and expects the block to count n processes with the
    // monitor window up before the next step.
    Client& StartCounted(const std::string& n) {
        Client& c = Start();
        EXPECT_TRUE(WaitForCount(c, n)) << "expected " << n << ": " << Ask(c, "state");
        return c;
    }

    // Waits until the block shows n attached processes and a monitor window.
    bool WaitForCount(Client& c, const std::string& n) {
        return WaitFor(
            [&] {
                auto s = State(c);
                return s["count"] == n && s["hwnd"] != "0" && s["timer"] != "0";
            },
            10000);
    }

    // The monitor the client's block names (remembered, so it is ended at
    // the end of the test).
    pid_t MonitorOf(Client& c);

    bool MonitorEnds(pid_t m) {
        return WaitFor([&] { return !ProcessRuns(m); }, 5000);
    }

    // A client whose block has a running monitor with its window up: within
    // the bound, its view names a monitor that runs, other than `notThis`.
    bool HasLiveMonitor(Client& c, pid_t notThis = 0, int ms = 10000);
};

}  // namespace process_tests

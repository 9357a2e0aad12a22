// The fixture of the tests with real processes: a private namespace of named
// objects per test, client processes started in it, and at the end every
// process of the run ended, even when the test fails.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "client_process.h"
#include "core/shared_data.h"

namespace process_tests {

class LibraryProcesses : public ::testing::Test {
  protected:
    testing_support::TempDir runtime;
    std::string deviceDir;       // empty: the clients see no camera
    std::deque<Client> clients;  // a deque: references stay valid as clients are added
    std::vector<pid_t> monitors;

    void TearDown() override;

    // Starts a client with this test's TAVCAM_RUNTIME_DIR and TAVCAM_DEVICE_DIR.
    Client& Start(const std::vector<std::string>& arguments = {},
                  const std::string& program = "tavcam-test-client") {
        clients.emplace_back();
        EXPECT_TRUE(StartClient(runtime.path, &clients.back(), arguments, deviceDir, program));
        return clients.back();
    }
    // Shared memory objects of this run's namespace that still exist.
    std::vector<std::string> NamedObjectsLeft();
    // The shared block, read straight from its shared memory object without
    // becoming one of its holders; false when there is none.
    bool ReadBlock(tav::SharedData* out);
    // Running processes whose environment holds this run's TAVCAM_RUNTIME_DIR.
    std::vector<int> ProcessesOfRun();

    std::map<std::string, std::string> State(Client& c) { return Fields(Ask(c, "state")); }
    // Waits until the block shows n attached processes and a monitor window.
    bool WaitForCount(Client& c, const std::string& n);
    // Starts a client and expects the block to count n processes next.
    Client& StartCounted(const std::string& n) {
        Client& c = Start();
        EXPECT_TRUE(WaitForCount(c, n)) << "expected " << n << ": " << Ask(c, "state");
        return c;
    }
    // The monitor the client's block names (ended at the end of the test).
    pid_t MonitorOf(Client& c);
    bool MonitorEnds(pid_t m) {
        return WaitFor([&] { return !ProcessRuns(m); }, 5000);
    }
    // Within the bound, the client's block names a running monitor with its
    // window up, attached to the block, other than `notThis`.
    bool HasLiveMonitor(Client& c, pid_t notThis = 0, int ms = 10000);
    // Every process of the run ended, and no named object left, in time.
    void ExpectNothingLeft(int ms = 5000);
};

}  // namespace process_tests

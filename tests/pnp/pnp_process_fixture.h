// The fixture of the plug-and-play tests with real processes: the library's
// processes in a private namespace (tests/core/process_fixture.h) with a
// private device directory served by the simulator in this process.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "process_fixture.h"
#include "sim/sim.h"

namespace pnp_tests {

using namespace process_tests;

class Notifications : public LibraryProcesses {
  protected:
    void SetUp() override {
        deviceDir = devices_.path;
        server_ = sim::Start(devices_.path);
        ASSERT_NE(server_, nullptr);
    }
    void TearDown() override {
        LibraryProcesses::TearDown();
        if (server_) sim::Stop(server_);
    }

    // Plugs simulated camera k ("camK.sock", a long-layout camera named Cam).
    void PlugCamera(int k);
    // Registers the client's window and function A with the user value.
    bool RegisterBoth(Client& c, int value) {
        return Ask(c, "register-window", 20000) == "1" &&
               Ask(c, "register-fn A " + std::to_string(value), 20000) == "1";
    }
    // The client's counts of notices ("window", "a", "b", "value", "code", "bad").
    std::map<std::string, std::string> Notices(Client& c) { return Fields(Ask(c, "notices")); }
    // Waits (bounded) until the client has seen at least that many notices.
    bool WaitForNotices(Client& c, int window, int a, int b);
    // Makes the monitor poll once more (a file that is no camera appears in
    // the device directory) and waits until the poll has read camera k,
    // which must be present. Notices of earlier polls have all arrived by
    // then: the monitor handles one broadcast after the other, and a poll
    // takes over half a second.
    void Settle(int k);
    // Requests to camera k so far: I2C reads of register 1 at 122 (the
    // monitor's probes), or, with page >= 0, reads of that flash page.
    int Requests(int k, int page = -1);
    // Entry i of a comma-separated list.
    static std::string Flag(const std::string& list, int i);

    testing_support::TempDir devices_;
    sim::Server* server_ = nullptr;
    int cameras_[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
    int settles_ = 0;
};

}  // namespace pnp_tests

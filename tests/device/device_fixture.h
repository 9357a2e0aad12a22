// A private camera simulator for each test: its own device directory, the
// library pointed at it, a virtual clock for the protocol pauses, and the
// simulator's request log stamped on that clock.
#pragma once

#include <gtest/gtest.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "sim/sim.h"
#include "support/testing.h"

namespace device_test {

// The bytes of a request as the camera must receive them: the header
// (direction 0, `length` little-endian) followed by the payload bytes.
std::vector<uint8_t> Request(uint32_t length, const std::vector<uint8_t>& payload);
// The 8-byte header of a reply fetch.
std::vector<uint8_t> ReplyFetch();

// Renders bytes as hex for readable failure messages.
std::string Hex(const std::vector<uint8_t>& bytes);

class DeviceTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Plugs a camera whose record holds `name`; sockets sort by name, so
    // cameras plugged as "cam0", "cam1", ... get device indexes 0, 1, ...
    int Plug(sim::Model model, const std::string& name, const std::string& socket);
    int Plug(const sim::Profile& profile);
    // Enumerates into the path table, capturing the lines it prints.
    int Enumerate(std::string* printed = nullptr);

    std::vector<sim::Request> Log(int camera) { return sim::Log(server_, camera); }
    void ClearLog(int camera) {
        sim::ClearLog(server_, camera);
        clock_.Clear();
    }
    std::vector<uint32_t> Pauses() const { return clock_.Pauses(); }

    testing_support::TempDir dir_;
    testing_support::VirtualClock clock_;
    sim::Server* server_ = nullptr;
};

}  // namespace device_test

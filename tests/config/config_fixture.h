// A private camera simulator for each configuration test, the library's
// device table and shared flags reset, pauses on a virtual clock, and helpers
// that decode the simulator's request log into the commands the camera got.
#pragma once

#include <gtest/gtest.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "config/device_table.h"
#include "config/records.h"
#include "device/device.h"
#include "sim/sim.h"
#include "support/testing.h"
#include "tavcam.h"

namespace config_test {

// One vendor command as the camera received it: code and the three 16-bit
// words (high byte first on the wire).
struct Command {
    uint8_t code;
    uint16_t word1, word2, word3;
    bool operator==(const Command& o) const {
        return code == o.code && word1 == o.word1 && word2 == o.word2 && word3 == o.word3;
    }
};
std::ostream& operator<<(std::ostream& out, const Command& c);

inline Command WriteReg(uint16_t reg, uint16_t value) {
    return {8, reg, value, 0};
}
inline Command OnOff(uint16_t feature, uint16_t value) {
    return {18, feature, value, 0};
}

// The profile's flash pages seen through the library's own layouts.
CameraRecord RecordOf(const sim::Profile& p);
void SetRecord(sim::Profile& p, const CameraRecord& record);
tav::SaveDataLong LongOf(const std::vector<uint8_t>& page);
tav::SaveDataShort ShortOf(const std::vector<uint8_t>& page);
void SetSaveData(sim::Profile& p, const tav::SaveDataLong& data);
void SetSaveData(sim::Profile& p, const tav::SaveDataShort& data);

class ConfigTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Plugs the camera as device index 0 ("cam0.sock") and enumerates it.
    void PlugCamera(const sim::Profile& profile);
    sim::Profile Long() { return sim::MakeProfile(sim::Model::LongLayout, "LongCam", "cam0.sock"); }
    sim::Profile Short() {
        return sim::MakeProfile(sim::Model::ShortLayout, "ShortCam", "cam0.sock");
    }

    // Requests of the camera since the last ClearLog (which also clears the
    // pauses and traces).
    std::vector<sim::Request> Log() { return sim::Log(server_, camera_); }
    void ClearLog() {
        sim::ClearLog(server_, camera_);
        clock_.Clear();
        traces_.Clear();
    }
    // The register writes, on/off and auto commands the camera got, in order.
    std::vector<Command> Commands();
    // Flash read requests of a page.
    int FlashReads(int page);
    bool FlashWriteBegun();
    std::vector<uint8_t> FlashPage1(size_t bytes);

    uint32_t Feature(uint32_t id);
    CameraRecord Params();
    tav::DeviceSlot& Slot() { return tav::g_DeviceTable[0]; }
    uint32_t Changed() { return tav::CameraChanged(0) ? 1 : 0; }

    testing_support::TempDir dir_;
    testing_support::VirtualClock clock_;
    testing_support::TraceLog traces_;
    sim::Server* server_ = nullptr;
    int camera_ = -1;
    std::string name_;
};

}  // namespace config_test

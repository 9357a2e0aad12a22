// A private camera simulator for each configuration test, the library's
// device table and shared flags reset, pauses on a virtual clock, and helpers
// that decode the simulator's request log into the commands the camera got.
#pragma once

#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

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
// Register writes from {register, value} pairs.
std::vector<Command> Writes(std::initializer_list<std::pair<uint16_t, uint16_t>> regs);

// A flash page seen through one of the library's layouts, and back.
template <typename T>
T As(const std::vector<uint8_t>& page) {
    T t;
    memcpy(&t, page.data(), sizeof t);
    return t;
}
template <typename T>
std::vector<uint8_t> Bytes(const T& t) {
    const uint8_t* b = reinterpret_cast<const uint8_t*>(&t);
    return std::vector<uint8_t>(b, b + sizeof t);
}

// A profile with its record or its SaveData (of either layout) edited by f.
template <typename F>
sim::Profile EditRecord(sim::Profile p, F f) {
    CameraRecord r = As<CameraRecord>(p.page0);
    f(r);
    p.page0 = Bytes(r);
    return p;
}
template <typename SaveData, typename F>
sim::Profile EditSaveData(sim::Profile p, F f) {
    SaveData d = As<SaveData>(p.page1);
    f(d);
    p.page1 = Bytes(d);
    return p;
}

class ConfigTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Plugs the camera as device index 0 ("cam0.sock") and enumerates it;
    // with init, USBInitDevice runs too and the log is cleared.
    void PlugCamera(const sim::Profile& profile, bool init = false);
    // Another camera in place of the one plugged, its slot emptied.
    void Replug(const sim::Profile& profile);
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
    // Requests with this command code (and this flash page, unless -1).
    int Sent(uint8_t code, int page = -1);
    int FlashReads(int page) { return Sent(tav::CMD_FLASH_READ, page); }
    std::vector<uint8_t> FlashPage1(size_t bytes);

    uint32_t Feature(uint32_t id);
    int32_t Set(uint32_t id, uint32_t value) {
        return USBSetCameraFeature(name_.c_str(), id, value);
    }
    int32_t Init() { return USBInitDevice(name_.c_str()); }
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

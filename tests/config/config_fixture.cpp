#include "config_fixture.h"

#include <stdlib.h>

#include <ostream>

#include "core/attach.h"
#include "platform/platform.h"

namespace config_test {

std::ostream& operator<<(std::ostream& out, const Command& c) {
    char text[64];
    snprintf(text, sizeof text, "{code %u, 0x%X, %u, %u}", c.code, c.word1, c.word2, c.word3);
    return out << text;
}

std::vector<Command> Writes(std::initializer_list<std::pair<uint16_t, uint16_t>> regs) {
    std::vector<Command> out;
    for (const auto& r : regs) out.push_back(WriteReg(r.first, r.second));
    return out;
}

void ConfigTest::SetUp() {
    ASSERT_FALSE(dir_.path.empty());
    tav::UsePrivateSharedData();
    for (int i = 0; i < tav::kMaxCameras; ++i) tav::SetCameraChanged(i, false);
    memset(tav::g_DeviceTable, 0, sizeof tav::g_DeviceTable);
    setenv("TAVCAM_DEVICE_DIR", dir_.path.c_str(), 1);
    server_ = sim::Start(dir_.path);
    ASSERT_NE(server_, nullptr);
    sim::SetClock(server_, plat::Now);
}

void ConfigTest::TearDown() {
    if (server_) sim::Stop(server_);
    // TAVCAM_DEVICE_DIR stays set: a thread of the library's message transport
    // (started by a test's window) may read it at any time, and changing the
    // environment under another thread's getenv is a race.
}

void ConfigTest::PlugCamera(const sim::Profile& profile, bool init) {
    camera_ = sim::Plug(server_, profile);
    ASSERT_GE(camera_, 0);
    ::testing::internal::CaptureStdout();  // enumeration prints the paths it opens
    tav::EnumerateCameras();
    ::testing::internal::GetCapturedStdout();
    name_ = std::string(As<CameraRecord>(profile.page0).CameraName) + "-0";
    if (!init) return;
    ASSERT_EQ(Init(), TAVCAM_INIT_OK);
    ClearLog();
}

void ConfigTest::Replug(const sim::Profile& profile) {
    sim::Unplug(server_, camera_);
    memset(&Slot(), 0, sizeof Slot());
    PlugCamera(profile);
}

std::vector<Command> ConfigTest::Commands() {
    std::vector<Command> out;
    for (const sim::Request& r : Log()) {
        if (r.code != tav::IOCTL_CAM_SEND_REQUEST || r.input.size() < 16) continue;
        uint8_t code = r.input[9];
        if (code != tav::CMD_WRITE_REG && code != tav::CMD_SET_ONOFF && code != tav::CMD_SET_AUTO)
            continue;
        auto word = [&](size_t at) { return (uint16_t)(r.input[at] << 8 | r.input[at + 1]); };
        out.push_back({code, word(10), word(12), word(14)});
    }
    return out;
}

int ConfigTest::Sent(uint8_t code, int page) {
    int n = 0;
    for (const sim::Request& r : Log())
        n += r.code == tav::IOCTL_CAM_SEND_REQUEST && r.input.size() >= 10 && r.input[9] == code &&
             (page < 0 || r.input[8] == page);
    return n;
}

std::vector<uint8_t> ConfigTest::FlashPage1(size_t bytes) {
    std::vector<uint8_t> page = sim::Flash(server_, camera_, 1);
    page.resize(bytes);
    return page;
}

uint32_t ConfigTest::Feature(uint32_t id) {
    uint32_t value = 0xDEADBEEF;
    EXPECT_EQ(USBGetCameraFeature(name_.c_str(), id, &value), 1) << std::hex << id;
    return value;
}

CameraRecord ConfigTest::Params() {
    CameraRecord r;
    memset(&r, 0xAA, sizeof r);
    EXPECT_EQ(USBReadDeviceParams(name_.c_str(), &r), 1);
    return r;
}

}  // namespace config_test

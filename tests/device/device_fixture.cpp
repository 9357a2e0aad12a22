#include "device_fixture.h"

#include <stdio.h>
#include <stdlib.h>

#include "core/attach.h"
#include "device/device.h"
#include "platform/platform.h"

namespace device_test {

std::vector<uint8_t> Request(uint32_t length, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> bytes(8 + payload.size(), 0);
    for (int i = 0; i < 4; ++i) bytes[4 + i] = (uint8_t)(length >> (8 * i));
    for (size_t i = 0; i < payload.size(); ++i) bytes[8 + i] = payload[i];
    return bytes;
}

std::vector<uint8_t> ReplyFetch() {
    return {1, 0, 0, 0, 64, 0, 0, 0};
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string text;
    char two[4];
    for (uint8_t b : bytes) {
        snprintf(two, sizeof two, "%02X ", b);
        text += two;
    }
    return text;
}

void DeviceTest::SetUp() {
    ASSERT_FALSE(dir_.path.empty());
    tav::UsePrivateSharedData();
    setenv("TAVCAM_DEVICE_DIR", dir_.path.c_str(), 1);
    server_ = sim::Start(dir_.path);
    ASSERT_NE(server_, nullptr);
    sim::SetClock(server_, plat::Now);
}

void DeviceTest::TearDown() {
    if (server_) sim::Stop(server_);
    unsetenv("TAVCAM_DEVICE_DIR");
}

int DeviceTest::Plug(sim::Model model, const std::string& name, const std::string& socket) {
    return Plug(sim::MakeProfile(model, name, socket + ".sock"));
}

int DeviceTest::Plug(const sim::Profile& profile) {
    int camera = sim::Plug(server_, profile);
    EXPECT_GE(camera, 0);
    return camera;
}

int DeviceTest::Enumerate(std::string* printed) {
    ::testing::internal::CaptureStdout();
    int count = tav::EnumerateCameras();
    std::string out = ::testing::internal::GetCapturedStdout();
    if (printed) *printed = out;
    return count;
}

}  // namespace device_test

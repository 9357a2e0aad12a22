// Camera names to device indexes: the rules every name-taking export applies
// before it touches a camera. No camera is needed: they run on every system,
// the Windows build under Wine included.
#include <gtest/gtest.h>

#include "core/attach.h"
#include "device/device.h"
#include "tavcam.h"

namespace device_test {
namespace {

int IndexOf(const char* name) {
    int index = -1;
    return tav::DeviceIndexFromName(name, &index) ? index : -1;
}

TEST(CameraName, IndexIsTheDigitAfterTheFirstDash) {
    const struct {
        const char* name;
        int index;  // -1: not a usable name
    } cases[] = {
        {"LineScan-3", 3},  {"LineScan-0", 0},
        {"AreaCam-7", 7},   {"Cam-5x-2", 5},  // a dash in the record name wins
        {"-4", 4},          {"LineScan-3trailing", 3},
        {"LineScan-8", -1}, {"LineScan-9", -1},
        {"LineScan-x", -1}, {"LineScan-", -1},
        {"LineScan", -1},   {"Cam-A-2", -1},  // the first dash decides, not the last
        {"", -1},           {nullptr, -1},
    };
    for (const auto& c : cases) EXPECT_EQ(IndexOf(c.name), c.index) << (c.name ? c.name : "null");
}

TEST(CameraName, DeviceArgumentUsesItsLowByteSigned) {
    EXPECT_EQ(tav::DeviceIndexFromArgument(3), 3);
    EXPECT_EQ(tav::DeviceIndexFromArgument(0x103), 3);
    EXPECT_EQ(tav::DeviceIndexFromArgument(0xFF), -1);
    EXPECT_EQ(tav::DeviceIndexFromArgument(-1), -1);
    EXPECT_EQ(tav::DeviceIndexFromArgument(8), 8);  // then refused by the open
}

TEST(CameraName, ControlLinkAnswersWhetherTheNameIsUsable) {
    tav::UsePrivateSharedData();
    EXPECT_EQ(USBControlLink("AreaCam-1"), 1);
    EXPECT_EQ(USBControlLink("AreaCam"), 0);
    EXPECT_EQ(USBControlLink("AreaCam-8"), 0);
    EXPECT_EQ(USBControlLink(nullptr), 0);
    EXPECT_EQ(USBDeviceSWReset(), 1);
}

}  // namespace
}  // namespace device_test

// The name-taking entries that touch no camera or send nothing (the naming
// rules themselves: naming_rules_test.cpp).
#include "core/attach.h"
#include "device/device.h"
#include "device_fixture.h"
#include "tavcam.h"

namespace device_test {
namespace {

using NamingTest = DeviceTest;

TEST_F(NamingTest, ResetOpensAndClosesButSendsNothing) {
    int camera = Plug(sim::Model::LongLayout, "LineScan", "cam0");
    ASSERT_EQ(Enumerate(), 1);
    ClearLog(camera);
    EXPECT_EQ(USBReset("LineScan-0"), 0);
    EXPECT_EQ(USBReset("LineScan"), 0);
    EXPECT_TRUE(Log(camera).empty());
    EXPECT_TRUE(Pauses().empty());
}

TEST_F(NamingTest, InvalidNamesTouchNoCamera) {
    int camera = Plug(sim::Model::LongLayout, "LineScan", "cam0");
    ASSERT_EQ(Enumerate(), 1);
    ClearLog(camera);
    uint8_t id[TAVCAM_CAMERA_ID_BYTES];
    for (const char* name : {"LineScan", "LineScan-8", "LineScan-x", "LineScan-", "Cam-A-0"}) {
        EXPECT_EQ(SetRegister(name, 0x10, 0x1234), 0) << name;
        EXPECT_EQ(USBGetCameraID(name, id), 0) << name;
    }
    EXPECT_TRUE(Log(camera).empty());
}

}  // namespace
}  // namespace device_test

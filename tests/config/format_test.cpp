// Formats, scan areas and the camera window against the simulated camera.
// The simulator's formats measure 320 x 240; format 0 is partial in units of
// 4 pixels by 2 lines, format 1 is fixed.
#include "config_fixture.h"

namespace config_test {
namespace {

class FormatTest : public ConfigTest {
  protected:
    void SetUp() override {
        ConfigTest::SetUp();
        PlugCamera(Long(), true);
    }
    int32_t Area(uint32_t l, uint32_t t, uint32_t w, uint32_t h) {
        return USBSetScanArea(name_.c_str(), l, t, w, h);
    }
    void ExpectArea(uint32_t l, uint32_t t, uint32_t w, uint32_t h) {
        EXPECT_EQ(std::vector<uint32_t>(
                      {Slot().ImgLeft, Slot().ImgTop, Slot().ImgWidth, Slot().ImgHeight}),
                  std::vector<uint32_t>({l, t, w, h}));
    }
};

// A switch remembers the area of the format left and restores that of the
// format chosen (a fixed format: its whole extent, whatever is asked), and
// resets the shutter to the new height; the same format is sent again.
TEST_F(FormatTest, SwitchRemembersAndRestoresScanAreasAndResetsTheShutter) {
    ASSERT_EQ(Area(8, 4, 160, 100), 1);
    EXPECT_EQ(USBSetFormat(name_.c_str(), 1), 1);
    EXPECT_EQ(Commands(), Writes({{0x1FF, 1}, {0x81C, 240}, {0x810, 1000}}));
    const FormatEntry& left = Slot().Record.Formats[0];
    EXPECT_EQ(left.Origin, (8u << 16) | 4u);
    EXPECT_EQ(left.Width, 160u);
    EXPECT_EQ(left.Height, 100u);
    ExpectArea(0, 0, 320, 240);
    EXPECT_EQ(Feature(0x81C), 240u);
    EXPECT_TRUE(traces_.Contains("USBSetFormat: LongCam-0 Set Shutter = 240 \r\n"));
    EXPECT_EQ(Area(8, 4, 16, 8), 1);
    ExpectArea(0, 0, 320, 240);
    EXPECT_TRUE(traces_.Contains(
        "LongCam-0 USBSetScanArea - Current format ( 1 ) is not a partial format \r\n"));

    ClearLog();
    EXPECT_EQ(USBSetFormat(name_.c_str(), 0), 1);
    ExpectArea(8, 4, 160, 100);
    EXPECT_EQ(Feature(0x81C), 100u);  // reset to the restored format's height
    EXPECT_EQ(Slot().Record.FeatureInq[7] & 0xFFF, 100u);
    EXPECT_EQ(Commands()[1], WriteReg(0x81C, 100));
    ASSERT_EQ(Set(0x81C, 50), 1);
    ClearLog();
    EXPECT_EQ(USBSetFormat(name_.c_str(), 0), 1);
    EXPECT_EQ(Commands().front(), WriteReg(0x1FF, 0));
    ExpectArea(8, 4, 160, 100);
    EXPECT_EQ(Feature(0x81C), 100u);

    ClearLog();
    EXPECT_EQ(USBSetFormat(name_.c_str(), 2), 0);  // FormatCount is 2
    EXPECT_EQ(USBSetFormat("nodash", 0), 0);
    EXPECT_EQ(USBSetScanArea("nodash", 0, 0, 32, 16), TAVCAM_BAD_NAME);
    EXPECT_TRUE(Log().empty());
    EXPECT_EQ(Slot().Record.CurrentFormat, 0u);
}

// A format whose remembered area the scan-area checks refuse (here a width
// of 0): the switch fails after the format select, which stays done.
TEST_F(FormatTest, ARememberedAreaThatIsRefusedFailsTheSwitchHalfDone) {
    Slot().Record.Formats[0].PartialScan = 1;
    Slot().Record.Formats[1].PartialScan = 1;
    Slot().Record.Formats[1].UnitSize = 4u << 16 | 2u;
    Slot().Record.Formats[1].Width = 0;
    EXPECT_EQ(USBSetFormat(name_.c_str(), 1), 0);
    EXPECT_EQ(Commands(), Writes({{0x1FF, 1}}));
    EXPECT_EQ(Slot().Record.CurrentFormat, 1u);
    ExpectArea(0, 0, 320, 240);  // the area in force stays
}

// Each area in turn: accepted ones take effect, refused ones keep the area
// before; nothing is sent to the camera.
TEST_F(FormatTest, ScanAreaLimitsAreExact) {
    const struct {
        uint32_t l, t, w, h, unit;  // unit: the format's UnitSize (horizontal << 16 | vertical)
        int32_t result;
        const char* trace;
    } cases[] = {
        {160, 140, 160, 100, 4u << 16 | 2, 1, nullptr},  // ends exactly at the maximum extent
        {164, 140, 160, 100, 4u << 16 | 2, 0,
         "LongCam-0 USBSetScanArea - Wrong width,height or offsets : "
         "Left - 164, Top - 140, Width - 160, Height - 100 \r\n"},
        {160, 142, 160, 100, 4u << 16 | 2, 0, nullptr},
        {0, 0, 0, 16, 4u << 16 | 2, 0, nullptr},
        {0, 0, 32, 0, 4u << 16 | 2, 0, nullptr},
        {2, 0, 32, 16, 4u << 16 | 2, 0, "LongCam-0 USBSetScanArea - Wrong unit size \r\n"},
        {0, 1, 32, 16, 4u << 16 | 2, 0, nullptr},  // top odd
        {4, 0, 32, 16, 8u << 16 | 2, 0, nullptr},  // units of 8 by 2
        {8, 0, 32, 16, 8u << 16 | 2, 1, nullptr},
        {8, 0, 32, 16, 2u, 0, "LongCam-0 USBSetScanArea - Wrong unit size \r\n"},  // unit 0
    };
    uint32_t held[4] = {0, 0, 320, 240};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.l << "," << c.t << " " << c.w << "x" << c.h);
        Slot().Record.Formats[0].UnitSize = c.unit;
        ClearLog();
        EXPECT_EQ(Area(c.l, c.t, c.w, c.h), c.result);
        if (c.result) {
            held[0] = c.l, held[1] = c.t, held[2] = c.w, held[3] = c.h;
        }
        ExpectArea(held[0], held[1], held[2], held[3]);
        if (c.trace) {
            EXPECT_TRUE(traces_.Contains(c.trace));
        }
        EXPECT_TRUE(Log().empty());
    }
    // A left offset whose sum with the width wraps around 32 bits passes the
    // extent check, but never reaches the camera: the window step rejects it.
    Slot().Record.Formats[0].UnitSize = 4u << 16 | 2;
    EXPECT_EQ(Area(0xFFFFFFFCu, 0, 8, 16), 1);
    ExpectArea(0xFFFFFFFCu, 0, 8, 16);
    EXPECT_EQ(SetCameraWindow(0, -4, 0, 8, 16, 1, 1, 1, 1), 0);
    EXPECT_TRUE(Log().empty());
}

TEST_F(FormatTest, ShutterMaximumFollowsTheHeight) {
    Slot().Record.FeatureInq[7] |= tav::kInqFlag29;  // the scan area ignores bit 29
    ASSERT_EQ(Area(0, 0, 320, 100), 1);
    EXPECT_EQ(Slot().Record.FeatureInq[7] & ~0xFFFu, tav::kInqPresent | tav::kInqFlag29 | 0x1000);
    EXPECT_EQ(Set(0x81C, 101), 0);
    EXPECT_TRUE(Log().empty());
    EXPECT_EQ(Set(0x81C, 100), 1);
    EXPECT_EQ(Commands(), Writes({{0x81C, 100}}));
    EXPECT_EQ(Feature(0x81C), 100u);
}

TEST_F(FormatTest, CameraWindowChecksAndWriteOrder) {
    const int32_t refused[][3] = {
        {0, 30, 16},          {0, 34, 16},
        {0, 32, 15},          {0, 32, 17},  // {left, width, height}
        {-4, 32, 16},         {292, 32, 16} /* 324 > 320 */,
        {0x7FFFFFF0, 32, 16},
    };
    for (const auto& w : refused) EXPECT_EQ(SetCameraWindow(0, w[0], 0, w[1], w[2], 1, 1, 1, 1), 0);
    EXPECT_EQ(SetCameraWindow(8, 0, 0, 32, 16, 1, 1, 1, 1), 0);
    EXPECT_TRUE(Log().empty());

    EXPECT_EQ(SetCameraWindow(0, 0, 0, 32, 16, 1, 1, 1, 1), 1);
    EXPECT_EQ(SetCameraWindow(0x100, 288, 224, 32, 16, 1, 0x100, 1, 0), 1);  // low bytes count
    EXPECT_EQ(
        Commands(),
        Writes({{0x10A, 32}, {0x10B, 16}, {0x108, 0}, {0x109, 0}, {0x10A, 32}, {0x108, 288}}));
    EXPECT_TRUE(traces_.Contains(
        "iLeft - 0; iTop - 0; iWidth - 32; iHeight - 16;  MaxWidth - 320; MaxHeight - 240 \r\n"));
}

}  // namespace
}  // namespace config_test

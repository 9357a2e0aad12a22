// Formats, scan areas and the camera window against the simulated camera.
// The simulator's formats measure 320 x 240; format 0 is partial in units of
// 4 pixels by 2 lines, format 1 is fixed.
#include <string.h>

#include "config_fixture.h"

namespace config_test {
namespace {

class FormatTest : public ConfigTest {
  protected:
    void SetUp() override {
        ConfigTest::SetUp();
        PlugCamera(Long());
        ASSERT_EQ(USBInitDevice(name_.c_str()), TAVCAM_INIT_OK);
        ClearLog();
    }
    int32_t Area(uint32_t l, uint32_t t, uint32_t w, uint32_t h) {
        return USBSetScanArea(name_.c_str(), l, t, w, h);
    }
    void ExpectArea(uint32_t l, uint32_t t, uint32_t w, uint32_t h) {
        EXPECT_EQ(Slot().ImgLeft, l);
        EXPECT_EQ(Slot().ImgTop, t);
        EXPECT_EQ(Slot().ImgWidth, w);
        EXPECT_EQ(Slot().ImgHeight, h);
    }
};

TEST_F(FormatTest, SwitchRemembersAndRestoresScanAreasAndResetsTheShutter) {
    ASSERT_EQ(Area(8, 4, 160, 100), 1);
    EXPECT_EQ(USBSetFormat(name_.c_str(), 1), 1);
    EXPECT_EQ(Commands(), (std::vector<Command>{WriteReg(0x1FF, 1), WriteReg(0x81C, 240),
                                                WriteReg(0x810, 1000)}));
    const FormatEntry& left = Slot().Record.Formats[0];
    EXPECT_EQ(left.Origin, (8u << 16) | 4u);
    EXPECT_EQ(left.Width, 160u);
    EXPECT_EQ(left.Height, 100u);
    ExpectArea(0, 0, 320, 240);  // the fixed format's whole extent
    EXPECT_EQ(Feature(0x81C), 240u);
    EXPECT_TRUE(traces_.Contains("USBSetFormat: LongCam-0 Set Shutter = 240 \r\n"));

    ClearLog();
    EXPECT_EQ(USBSetFormat(name_.c_str(), 0), 1);
    ExpectArea(8, 4, 160, 100);
    EXPECT_EQ(Feature(0x81C), 100u);  // reset to the restored format's height
    EXPECT_EQ(Slot().Record.FeatureInq[7] & 0xFFF, 100u);
    EXPECT_EQ(Commands()[1], WriteReg(0x81C, 100));
}

// A format whose remembered area the scan-area checks refuse (here a width
// of 0): the switch fails after the format select, which stays done.
TEST_F(FormatTest, ARememberedAreaThatIsRefusedFailsTheSwitchHalfDone) {
    Slot().Record.Formats[0].PartialScan = 1;
    Slot().Record.Formats[1].PartialScan = 1;
    Slot().Record.Formats[1].UnitSize = 4u << 16 | 2u;
    Slot().Record.Formats[1].Width = 0;
    EXPECT_EQ(USBSetFormat(name_.c_str(), 1), 0);
    EXPECT_EQ(Commands(), (std::vector<Command>{WriteReg(0x1FF, 1)}));
    EXPECT_EQ(Slot().Record.CurrentFormat, 1u);
    ExpectArea(0, 0, 320, 240);  // the area in force stays
}

TEST_F(FormatTest, SameFormatIsSentAgainAndUnknownFormatsChangeNothing) {
    ASSERT_EQ(Area(8, 4, 160, 100), 1);
    ASSERT_EQ(USBSetCameraFeature(name_.c_str(), 0x81C, 50), 1);
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

TEST_F(FormatTest, ScanAreaLimitsAreExact) {
    // Ends exactly at the maximum extent: accepted. One unit more: refused,
    // and the table keeps the previous area.
    EXPECT_EQ(Area(160, 140, 160, 100), 1);
    ExpectArea(160, 140, 160, 100);
    EXPECT_EQ(Area(164, 140, 160, 100), 0);
    EXPECT_EQ(Area(160, 142, 160, 100), 0);
    EXPECT_TRUE(
        traces_.Contains("LongCam-0 USBSetScanArea - Wrong width,height or offsets : "
                         "Left - 164, Top - 140, Width - 160, Height - 100 \r\n"));
    EXPECT_EQ(Area(0, 0, 0, 16), 0);
    EXPECT_EQ(Area(0, 0, 32, 0), 0);
    // A left offset whose sum with the width wraps around 32 bits passes the
    // extent check, but never reaches the camera: the window step rejects it.
    EXPECT_EQ(Area(0xFFFFFFFCu, 0, 8, 16), 1);
    ExpectArea(0xFFFFFFFCu, 0, 8, 16);
    ClearLog();
    EXPECT_EQ(SetCameraWindow(0, -4, 0, 8, 16, 1, 1, 1, 1), 0);
    EXPECT_TRUE(Log().empty());
    EXPECT_EQ(Area(160, 140, 160, 100), 1);
    EXPECT_EQ(Area(2, 0, 32, 16), 0);  // left not a multiple of 4
    EXPECT_EQ(Area(0, 1, 32, 16), 0);  // top odd
    EXPECT_TRUE(traces_.Contains("LongCam-0 USBSetScanArea - Wrong unit size \r\n"));
    ExpectArea(160, 140, 160, 100);
    EXPECT_TRUE(Log().empty());  // nothing is sent to the camera
}

TEST_F(FormatTest, UnitsOfEightByTwoAndZeroUnits) {
    Slot().Record.Formats[0].UnitSize = (8u << 16) | 2u;
    EXPECT_EQ(Area(4, 0, 32, 16), 0);
    EXPECT_EQ(Area(8, 0, 32, 16), 1);
    Slot().Record.Formats[0].UnitSize = 2u;  // horizontal unit 0
    EXPECT_EQ(Area(8, 0, 32, 16), 0);
    EXPECT_TRUE(traces_.Contains("LongCam-0 USBSetScanArea - Wrong unit size \r\n"));
}

TEST_F(FormatTest, FixedFormatTakesItsWholeExtentWhateverIsAsked) {
    ASSERT_EQ(USBSetFormat(name_.c_str(), 1), 1);
    EXPECT_EQ(Area(8, 4, 16, 8), 1);
    ExpectArea(0, 0, 320, 240);
    EXPECT_TRUE(traces_.Contains(
        "LongCam-0 USBSetScanArea - Current format ( 1 ) is not a partial format \r\n"));
}

TEST_F(FormatTest, ShutterMaximumFollowsTheHeight) {
    Slot().Record.FeatureInq[7] |= tav::kInqFlag29;  // the scan area ignores bit 29
    ASSERT_EQ(Area(0, 0, 320, 100), 1);
    EXPECT_EQ(Slot().Record.FeatureInq[7] & ~0xFFFu, tav::kInqPresent | tav::kInqFlag29 | 0x1000);
    EXPECT_EQ(USBSetCameraFeature(name_.c_str(), 0x81C, 101), 0);
    EXPECT_TRUE(Log().empty());
    EXPECT_EQ(USBSetCameraFeature(name_.c_str(), 0x81C, 100), 1);
    EXPECT_EQ(Commands(), std::vector<Command>{WriteReg(0x81C, 100)});
    EXPECT_EQ(Feature(0x81C), 100u);
}

TEST_F(FormatTest, CameraWindowChecksAndWriteOrder) {
    const int32_t on = 1;
    EXPECT_EQ(SetCameraWindow(0, 0, 0, 30, 16, on, on, on, on), 0);
    EXPECT_EQ(SetCameraWindow(0, 0, 0, 34, 16, on, on, on, on), 0);
    EXPECT_EQ(SetCameraWindow(0, 0, 0, 32, 15, on, on, on, on), 0);
    EXPECT_EQ(SetCameraWindow(0, 0, 0, 32, 17, on, on, on, on), 0);
    EXPECT_EQ(SetCameraWindow(0, -4, 0, 32, 16, on, on, on, on), 0);
    EXPECT_EQ(SetCameraWindow(0, 292, 0, 32, 16, on, on, on, on), 0);  // 324 > 320
    EXPECT_EQ(SetCameraWindow(0, 0x7FFFFFF0, 0, 32, 16, on, on, on, on), 0);
    EXPECT_EQ(SetCameraWindow(8, 0, 0, 32, 16, on, on, on, on), 0);
    EXPECT_TRUE(Log().empty());

    EXPECT_EQ(SetCameraWindow(0, 0, 0, 32, 16, on, on, on, on), 1);
    EXPECT_EQ(SetCameraWindow(0x100, 288, 224, 32, 16, on, 0x100, on, 0), 1);  // low bytes count
    EXPECT_EQ(Commands(), (std::vector<Command>{WriteReg(0x10A, 32), WriteReg(0x10B, 16),
                                                WriteReg(0x108, 0), WriteReg(0x109, 0),
                                                WriteReg(0x10A, 32), WriteReg(0x108, 288)}));
    EXPECT_TRUE(traces_.Contains(
        "iLeft - 0; iTop - 0; iWidth - 32; iHeight - 16;  MaxWidth - 320; MaxHeight - 240 \r\n"));
}

}  // namespace
}  // namespace config_test

// Presets in flash: what saving writes and when it refuses, what loading
// sends and changes, and flash surviving a fault.
#include "config/presets.h"
#include "config_fixture.h"
#include "core/attach.h"

namespace config_test {
namespace {

// The page a save of `saved` (the preset in force) as preset p with the area
// (l, t, w, h) in force leaves in flash, from the page before it, either layout.
template <typename SaveData, typename Preset>
std::vector<uint8_t> SavedPage(SaveData d, const Preset& saved, uint8_t p, uint16_t l, uint16_t t,
                               uint16_t w, uint16_t h) {
    d.CurrentPreset = p;
    d.Preset[p] = saved;
    d.Preset[p].Left = l;
    d.Preset[p].Top = t;
    d.Preset[p].Width = w;
    d.Preset[p].Height = h;
    return Bytes(d);
}

// Saving takes the preset in force with the area and format in force, in
// the camera's own layout (202 or 138 bytes).
TEST_F(ConfigTest, SavingTakesTheCurrentPresetWithTheAreaAndFormatInForce) {
    PlugCamera(Long());
    const auto before = As<tav::SaveDataLong>(FlashPage1(202));
    ASSERT_EQ(Init(), TAVCAM_INIT_OK);
    ASSERT_EQ(USBSetScanArea(name_.c_str(), 8, 4, 160, 100), 1);
    ASSERT_EQ(Set(0x800, 77), 1);
    EXPECT_EQ(USBSaveParams(name_.c_str(), 2), 1);
    tav::PresetLong saved = before.Preset[0];
    saved.Brightness = 77;
    EXPECT_EQ(FlashPage1(202), SavedPage(before, saved, 2, 8, 4, 160, 100));
    EXPECT_EQ(Feature(0x620), 2u);
    EXPECT_EQ(Feature(0x624), 2u);
    EXPECT_EQ(Feature(0x800), 77u);

    Replug(Short());
    const auto shortBefore = As<tav::SaveDataShort>(FlashPage1(138));
    ASSERT_EQ(Init(), TAVCAM_INIT_OK);
    ASSERT_EQ(USBSetScanArea(name_.c_str(), 4, 2, 128, 120), 1);  // the shutter's 100 lines fit
    EXPECT_EQ(USBSaveParams(name_.c_str(), 3), 1);
    EXPECT_EQ(FlashPage1(138), SavedPage(shortBefore, shortBefore.Preset[0], 3, 4, 2, 128, 120));
    EXPECT_EQ(Feature(0x620), 3u);
}

TEST_F(ConfigTest, SavingRefusedByTheChecksLeavesFlashUntouched) {
    PlugCamera(EditRecord(Long(), [](CameraRecord& r) {
        r.MaxPreset = 0xF1;                         // only bits 3..0 count: presets 0 and 1
        r.Formats[0].MaxSize = (256u << 16) | 240;  // narrower than the preset's 320
    }));
    const std::vector<uint8_t> before = FlashPage1(202);
    ASSERT_EQ(Init(), TAVCAM_INIT_OK);
    ClearLog();
    EXPECT_EQ(USBSaveParams(name_.c_str(), 2), 0);  // preset above MaxPreset
    EXPECT_EQ(USBSaveParams(name_.c_str(), 1), 0);  // area wider than MaxSize
    EXPECT_TRUE(traces_.Contains("USBSaveParams: Validate Params failure. Exit. \r\n"));
    EXPECT_EQ(Sent(tav::CMD_FLASH_BEGIN), 0);
    EXPECT_EQ(FlashPage1(202), before);
    // The in-memory copies were changed all the same.
    EXPECT_EQ(Feature(0x620), 1u);
    EXPECT_EQ(Feature(0x624), 1u);
    // Preset numbers above 3 are refused before either copy is touched.
    EXPECT_EQ(USBSaveParams(name_.c_str(), 4), 0);
    EXPECT_EQ(USBLoadParams(name_.c_str(), 4), 0);
    EXPECT_EQ(Feature(0x624), 1u);
    EXPECT_TRUE(Log().empty());
}

// Each check of ValidateParams, broken on its own; the other fields stay valid.
TEST(ValidateParams, EachCheckRefusesOnItsOwn) {
    sim::Profile longProfile = sim::MakeProfile(sim::Model::LongLayout, "L", "l.sock");
    sim::Profile shortProfile = sim::MakeProfile(sim::Model::ShortLayout, "S", "s.sock");
    const auto lr = As<CameraRecord>(longProfile.page0), sr = As<CameraRecord>(shortProfile.page0);
    const auto lg = As<tav::SaveDataLong>(longProfile.page1);
    const auto sh = As<tav::SaveDataShort>(shortProfile.page1);
    ASSERT_TRUE(tav::ValidateParams(lg, lr));
    ASSERT_TRUE(tav::ValidateParams(sh, sr));
    // Each breaks one field of preset 0 in both layouts (sharpness and iris:
    // the long one only).
    const struct {
        const char* what;
        void (*breaks)(tav::PresetLong&, tav::PresetShort&);
        bool inShort;
    } cases[] = {
        {"left+width", [](tav::PresetLong& l, tav::PresetShort& s) { l.Left = s.Left = 4; }, 1},
        {"top+height", [](tav::PresetLong& l, tav::PresetShort& s) { l.Top = s.Top = 2; }, 1},
        {"shutter", [](tav::PresetLong& l, tav::PresetShort& s) { l.Shutter = s.Shutter = 0; }, 1},
        {"brightness",
         [](tav::PresetLong& l, tav::PresetShort& s) { l.Brightness = s.Brightness = 256; }, 1},
        {"gain", [](tav::PresetLong& l, tav::PresetShort& s) { l.Gain = s.Gain = 64; }, 1},
        {"saturation",
         [](tav::PresetLong& l, tav::PresetShort& s) { l.SatCoefficient = s.SatCoefficient = 201; },
         1},
        {"format", [](tav::PresetLong& l, tav::PresetShort& s) { l.Format = s.Format = 2; }, 1},
        {"sharpness", [](tav::PresetLong& l, tav::PresetShort&) { l.Sharpness = 8; }, 0},
        {"iris", [](tav::PresetLong& l, tav::PresetShort&) { l.Iris = 101; }, 0},
    };
    for (const auto& c : cases) {
        tav::SaveDataLong l = lg;
        tav::SaveDataShort s = sh;
        c.breaks(l.Preset[0], s.Preset[0]);
        EXPECT_FALSE(tav::ValidateParams(l, lr)) << c.what;
        if (c.inShort) {
            EXPECT_FALSE(tav::ValidateParams(s, sr)) << c.what;
        }
    }
    // Frame exposure: checked only when present, then against its range.
    CameraRecord narrow = lr;
    narrow.FeatureInq[4] = tav::kInqPresent | 999;
    EXPECT_FALSE(tav::ValidateParams(lg, narrow));
    narrow.FeatureInq[4] &= ~tav::kInqPresent;
    EXPECT_TRUE(tav::ValidateParams(lg, narrow));
    // Colour values: the long layout checks them only when the feature is
    // present, the short layout always.
    CameraRecord lnc = lr, snc = sr;
    lnc.FeatureInq[3] = 50;  // absent, range 0..50
    snc.FeatureInq[3] = 50;
    EXPECT_TRUE(tav::ValidateParams(lg, lnc));
    EXPECT_FALSE(tav::ValidateParams(sh, snc));
    // Shutter, brightness and gain are checked even when absent.
    CameraRecord absent = lr;
    absent.FeatureInq[8] = 10;
    EXPECT_FALSE(tav::ValidateParams(lg, absent));
}

TEST_F(ConfigTest, LoadingSendsSeventeenRegistersWithoutTheTriggerMode) {
    sim::Profile p = EditSaveData<tav::SaveDataLong>(Long(), [](tav::SaveDataLong& d) {
        d.Preset[1].Format = 1;
        d.Preset[1].Height = 120;
        d.Preset[1].uiStateComplete = 0x5;
        d.Preset[1].TriggerMode = 1;
    });
    PlugCamera(EditRecord(p, [](CameraRecord& r) { r.FeatureInq[7] |= tav::kInqFlag29; }), true);
    EXPECT_EQ(USBLoadParams(name_.c_str(), 1), 1);
    EXPECT_EQ(Commands(), Writes({{0x820, 17},
                                  {0x800, 129},
                                  {0x81C, 110},
                                  {0x810, 1001},
                                  {0x808, 3},
                                  {0x804, 0},
                                  {0x824, 50},
                                  {0x3840, 0},
                                  {0x1FF, 1},
                                  {0x884, 0},
                                  {0x888, 0},
                                  {0x1E50, 0},
                                  {0x1E54, 0},
                                  {0x1E00, 1},
                                  {0x1E01, 0},
                                  {0x1E02, 1},
                                  {0x1E03, 0}}));
    EXPECT_EQ(Slot().Record.CurrentFormat, 1u);
    EXPECT_EQ(Slot().ImgHeight, 120u);
    // The shutter maximum follows the loaded height even with bit 29 set.
    EXPECT_EQ(Slot().Record.FeatureInq[7] & 0xFFF, 120u);
    // Loading doesn't rewrite the format's remembered area.
    EXPECT_EQ(Slot().Record.Formats[1].Height, 240u);
    EXPECT_EQ(Feature(0x624), 1u);
    EXPECT_EQ(Feature(0x620), 0u);  // flash keeps its own current preset
    EXPECT_EQ(Changed(), 1u);
    EXPECT_TRUE(traces_.Contains("USBLoadParams: LongCam-0 Set Shutter = 110 \r\n"));
    EXPECT_TRUE(traces_.Contains("USBLoadParams succesfull\r\n"));
    // The raised flag makes the next initialisation re-apply flash's preset 0.
    ClearLog();
    EXPECT_EQ(Init(), TAVCAM_INIT_OK);
    EXPECT_EQ(Feature(0x624), 0u);
    EXPECT_EQ(Commands().size(), 18u);
}

// With one format the preset's Format byte is never used: even a value that
// names no format entry loads, and no format select is sent.
TEST_F(ConfigTest, ShortLoadingWithOneFormatKeepsTheFormat) {
    sim::Profile p = EditRecord(Short(), [](CameraRecord& r) { r.FormatCount = 1; });
    PlugCamera(EditSaveData<tav::SaveDataShort>(
                   p, [](tav::SaveDataShort& d) { d.Preset[3].Format = 0x1234; }),
               true);
    EXPECT_EQ(USBLoadParams(name_.c_str(), 3), 1);
    EXPECT_EQ(Commands(), Writes({{0x820, 19}, {0x800, 131}, {0x81C, 130}, {0x3840, 0}}));
    EXPECT_EQ(Slot().Record.CurrentFormat, 0u);
    EXPECT_TRUE(traces_.Contains("USBLoadParams:  SaveData.Preset[3].Brightness = 131, \r\n"));
    EXPECT_TRUE(traces_.Contains("USBLoadParams:  SaveData.Preset[3].Height = 240, \r\n"));
    EXPECT_TRUE(traces_.Contains("USBLoadParams: Set Gain = 19 \r\n"));
}

TEST_F(ConfigTest, LoadingAPresetNamingNoFormatChangesNothing) {
    PlugCamera(Long(), true);
    auto d = As<tav::SaveDataLong>(sim::Flash(server_, camera_, 1));
    d.Preset[2].Format = 200;
    sim::SetFlash(server_, camera_, 1, Bytes(d));
    EXPECT_EQ(USBLoadParams(name_.c_str(), 2), 0);
    EXPECT_TRUE(
        traces_.Contains("USBLoadParams: LongCam-0 preset 2 names no format (200), refused \r\n"));
    EXPECT_TRUE(Commands().empty());
    EXPECT_EQ(Feature(0x624), 0u);
    EXPECT_EQ(Changed(), 0u);
}

// A flash write that fails (at the status or with the connection dropped)
// keeps the previous SaveData; the same save goes through once the camera is
// fine again.
TEST_F(ConfigTest, InterruptedFlashWriteKeepsThePreviousSaveData) {
    PlugCamera(Long());
    const std::vector<uint8_t> before = FlashPage1(202);
    ASSERT_EQ(Init(), TAVCAM_INIT_OK);
    ASSERT_EQ(Set(0x820, 42), 1);
    sim::InjectFault(server_, camera_, sim::Fault::FlashWriteError, 0, 1);
    EXPECT_EQ(USBSaveParams(name_.c_str(), 0), 0);
    EXPECT_EQ(FlashPage1(202), before);
    sim::InjectFault(server_, camera_, sim::Fault::DropConnection, tav::IOCTL_CAM_SEND_REQUEST, 1);
    EXPECT_EQ(USBSaveParams(name_.c_str(), 0), 0);
    EXPECT_EQ(FlashPage1(202), before);
    EXPECT_EQ(USBSaveParams(name_.c_str(), 0), 1);
    EXPECT_EQ(As<tav::SaveDataLong>(FlashPage1(202)).Preset[0].Gain, 42);
}

}  // namespace
}  // namespace config_test

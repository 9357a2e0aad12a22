// Presets in flash: what saving writes and when it refuses, what loading
// sends and changes, and flash surviving a simulator restart or a fault.
#include <string.h>

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
    const uint8_t* e = reinterpret_cast<const uint8_t*>(&d);
    return std::vector<uint8_t>(e, e + sizeof d);
}

TEST_F(ConfigTest, SavingTakesTheCurrentPresetWithTheAreaAndFormatInForce) {
    PlugCamera(Long());
    tav::SaveDataLong before = LongOf(FlashPage1(202));
    ASSERT_EQ(USBInitDevice(name_.c_str()), TAVCAM_INIT_OK);
    ASSERT_EQ(USBSetScanArea(name_.c_str(), 8, 4, 160, 100), 1);
    ASSERT_EQ(USBSetCameraFeature(name_.c_str(), 0x800, 77), 1);
    ClearLog();
    EXPECT_EQ(USBSaveParams(name_.c_str(), 2), 1);

    tav::PresetLong saved = before.Preset[0];
    saved.Brightness = 77;
    EXPECT_EQ(FlashPage1(202), SavedPage(before, saved, 2, 8, 4, 160, 100));
    EXPECT_EQ(Feature(0x620), 2u);
    EXPECT_EQ(Feature(0x624), 2u);
    EXPECT_EQ(Feature(0x800), 77u);
}

// A camera of the short layout saves its 138 bytes the same way.
TEST_F(ConfigTest, SavingTheShortLayoutWritesItsOwnPage) {
    PlugCamera(Short());
    const tav::SaveDataShort before = ShortOf(FlashPage1(138));
    ASSERT_EQ(USBInitDevice(name_.c_str()), TAVCAM_INIT_OK);
    ASSERT_EQ(USBSetScanArea(name_.c_str(), 4, 2, 128, 120), 1);  // the shutter's 100 lines fit
    EXPECT_EQ(USBSaveParams(name_.c_str(), 3), 1);
    EXPECT_EQ(FlashPage1(138), SavedPage(before, before.Preset[0], 3, 4, 2, 128, 120));
    EXPECT_EQ(Feature(0x620), 3u);
}

TEST_F(ConfigTest, SavingRefusedByTheChecksLeavesFlashUntouched) {
    sim::Profile p = Long();
    CameraRecord r = RecordOf(p);
    r.MaxPreset = 0xF1;                         // only bits 3..0 count: presets 0 and 1
    r.Formats[0].MaxSize = (256u << 16) | 240;  // narrower than the preset's 320
    SetRecord(p, r);
    PlugCamera(p);
    const std::vector<uint8_t> before = FlashPage1(202);
    ASSERT_EQ(USBInitDevice(name_.c_str()), TAVCAM_INIT_OK);
    ClearLog();
    EXPECT_EQ(USBSaveParams(name_.c_str(), 2), 0);  // preset above MaxPreset
    EXPECT_EQ(USBSaveParams(name_.c_str(), 1), 0);  // area wider than MaxSize
    EXPECT_TRUE(traces_.Contains("USBSaveParams: Validate Params failure. Exit. \r\n"));
    EXPECT_FALSE(FlashWriteBegun());
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
    const CameraRecord lr = RecordOf(longProfile), sr = RecordOf(shortProfile);
    const tav::SaveDataLong lg = LongOf(longProfile.page1);
    const tav::SaveDataShort sh = ShortOf(shortProfile.page1);
    ASSERT_TRUE(tav::ValidateParams(lg, lr));
    ASSERT_TRUE(tav::ValidateParams(sh, sr));

    struct Case {
        const char* what;
        void (*breakLong)(tav::PresetLong&);
        void (*breakShort)(tav::PresetShort&);
    };
    const Case cases[] = {
        {"left+width", [](tav::PresetLong& p) { p.Left = 4; },
         [](tav::PresetShort& p) { p.Left = 4; }},
        {"top+height", [](tav::PresetLong& p) { p.Top = 2; },
         [](tav::PresetShort& p) { p.Top = 2; }},
        {"shutter", [](tav::PresetLong& p) { p.Shutter = 0; },
         [](tav::PresetShort& p) { p.Shutter = 0; }},
        {"brightness", [](tav::PresetLong& p) { p.Brightness = 256; },
         [](tav::PresetShort& p) { p.Brightness = 256; }},
        {"gain", [](tav::PresetLong& p) { p.Gain = 64; }, [](tav::PresetShort& p) { p.Gain = 64; }},
        {"saturation", [](tav::PresetLong& p) { p.SatCoefficient = 201; },
         [](tav::PresetShort& p) { p.SatCoefficient = 201; }},
        {"format", [](tav::PresetLong& p) { p.Format = 2; },
         [](tav::PresetShort& p) { p.Format = 2; }},
        {"sharpness", [](tav::PresetLong& p) { p.Sharpness = 8; }, nullptr},
        {"iris", [](tav::PresetLong& p) { p.Iris = 101; }, nullptr},
    };
    for (const Case& c : cases) {
        if (c.breakLong) {
            tav::SaveDataLong d = lg;
            c.breakLong(d.Preset[0]);
            EXPECT_FALSE(tav::ValidateParams(d, lr)) << c.what;
        }
        if (c.breakShort) {
            tav::SaveDataShort d = sh;
            c.breakShort(d.Preset[0]);
            EXPECT_FALSE(tav::ValidateParams(d, sr)) << c.what;
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
    sim::Profile p = Long();
    tav::SaveDataLong d = LongOf(p.page1);
    d.Preset[1].Format = 1;
    d.Preset[1].Height = 120;
    d.Preset[1].uiStateComplete = 0x5;
    d.Preset[1].TriggerMode = 1;
    SetSaveData(p, d);
    CameraRecord r = RecordOf(p);
    r.FeatureInq[7] |= tav::kInqFlag29;
    SetRecord(p, r);
    PlugCamera(p);
    ASSERT_EQ(USBInitDevice(name_.c_str()), TAVCAM_INIT_OK);
    ClearLog();
    EXPECT_EQ(USBLoadParams(name_.c_str(), 1), 1);
    EXPECT_EQ(Commands(),
              (std::vector<Command>{WriteReg(0x820, 17), WriteReg(0x800, 129), WriteReg(0x81C, 110),
                                    WriteReg(0x810, 1001), WriteReg(0x808, 3), WriteReg(0x804, 0),
                                    WriteReg(0x824, 50), WriteReg(0x3840, 0), WriteReg(0x1FF, 1),
                                    WriteReg(0x884, 0), WriteReg(0x888, 0), WriteReg(0x1E50, 0),
                                    WriteReg(0x1E54, 0), WriteReg(0x1E00, 1), WriteReg(0x1E01, 0),
                                    WriteReg(0x1E02, 1), WriteReg(0x1E03, 0)}));
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
    EXPECT_EQ(USBInitDevice(name_.c_str()), TAVCAM_INIT_OK);
    EXPECT_EQ(Feature(0x624), 0u);
    EXPECT_EQ(Commands().size(), 18u);
}

// With one format the preset's Format byte is never used: even a value that
// names no format entry loads, and no format select is sent.
TEST_F(ConfigTest, ShortLoadingWithOneFormatKeepsTheFormat) {
    sim::Profile p = Short();
    CameraRecord r = RecordOf(p);
    r.FormatCount = 1;
    SetRecord(p, r);
    tav::SaveDataShort d = ShortOf(p.page1);
    d.Preset[3].Format = 0x1234;
    SetSaveData(p, d);
    PlugCamera(p);
    ASSERT_EQ(USBInitDevice(name_.c_str()), TAVCAM_INIT_OK);
    ClearLog();
    EXPECT_EQ(USBLoadParams(name_.c_str(), 3), 1);
    EXPECT_EQ(Commands(), (std::vector<Command>{WriteReg(0x820, 19), WriteReg(0x800, 131),
                                                WriteReg(0x81C, 130), WriteReg(0x3840, 0)}));
    EXPECT_EQ(Slot().Record.CurrentFormat, 0u);
    EXPECT_TRUE(traces_.Contains("USBLoadParams:  SaveData.Preset[3].Brightness = 131, \r\n"));
    EXPECT_TRUE(traces_.Contains("USBLoadParams:  SaveData.Preset[3].Height = 240, \r\n"));
    EXPECT_TRUE(traces_.Contains("USBLoadParams: Set Gain = 19 \r\n"));
}

TEST_F(ConfigTest, LoadingAPresetNamingNoFormatChangesNothing) {
    PlugCamera(Long());
    ASSERT_EQ(USBInitDevice(name_.c_str()), TAVCAM_INIT_OK);
    tav::SaveDataLong d = LongOf(sim::Flash(server_, camera_, 1));
    d.Preset[2].Format = 200;
    sim::SetFlash(server_, camera_, 1, std::vector<uint8_t>((uint8_t*)&d, (uint8_t*)&d + 202));
    ClearLog();
    EXPECT_EQ(USBLoadParams(name_.c_str(), 2), 0);
    EXPECT_TRUE(
        traces_.Contains("USBLoadParams: LongCam-0 preset 2 names no format (200), refused \r\n"));
    EXPECT_TRUE(Commands().empty());
    EXPECT_EQ(Feature(0x624), 0u);
    EXPECT_EQ(Changed(), 0u);
}

TEST_F(ConfigTest, SavedPresetSurvivesARestartOfTheCamera) {
    const std::string state = dir_.path + "/flash.state";
    sim::Stop(server_);
    server_ = sim::Start(dir_.path, state);
    ASSERT_NE(server_, nullptr);
    sim::SetClock(server_, plat::Now);
    PlugCamera(Long());
    ASSERT_EQ(USBInitDevice(name_.c_str()), TAVCAM_INIT_OK);
    ASSERT_EQ(USBSetCameraFeature(name_.c_str(), 0x820, 42), 1);
    ASSERT_EQ(USBSaveParams(name_.c_str(), 1), 1);
    const std::vector<uint8_t> saved = FlashPage1(202);

    sim::Stop(server_);
    server_ = sim::Start(dir_.path, state);
    ASSERT_NE(server_, nullptr);
    sim::SetClock(server_, plat::Now);
    memset(tav::g_DeviceTable, 0, sizeof tav::g_DeviceTable);
    PlugCamera(Long());
    EXPECT_EQ(FlashPage1(202), saved);
    ASSERT_EQ(USBInitDevice(name_.c_str()), TAVCAM_INIT_OK);
    EXPECT_EQ(Feature(0x624), 1u);
    EXPECT_EQ(Feature(0x820), 42u);
    EXPECT_EQ(Commands()[0], WriteReg(0x820, 42));
}

TEST_F(ConfigTest, InterruptedFlashWriteKeepsThePreviousSaveData) {
    PlugCamera(Long());
    const std::vector<uint8_t> before = FlashPage1(202);
    ASSERT_EQ(USBInitDevice(name_.c_str()), TAVCAM_INIT_OK);
    ASSERT_EQ(USBSetCameraFeature(name_.c_str(), 0x820, 42), 1);

    sim::InjectFault(server_, camera_, sim::Fault::FlashWriteError, 0, 1);
    EXPECT_EQ(USBSaveParams(name_.c_str(), 0), 0);
    EXPECT_EQ(FlashPage1(202), before);

    sim::InjectFault(server_, camera_, sim::Fault::DropConnection, tav::IOCTL_CAM_SEND_REQUEST, 1);
    EXPECT_EQ(USBSaveParams(name_.c_str(), 0), 0);
    EXPECT_EQ(FlashPage1(202), before);

    // The camera is fine again: the same save goes through.
    EXPECT_EQ(USBSaveParams(name_.c_str(), 0), 1);
    EXPECT_EQ(LongOf(FlashPage1(202)).Preset[0].Gain, 42);
}

}  // namespace
}  // namespace config_test

// USBInitDevice against the simulated camera: what it reads, the registers it
// writes and in which order, when it does nothing at all, and what it leaves
// in the device table.
#include "config_fixture.h"
#include "core/attach.h"

namespace config_test {
namespace {

// A long-layout camera whose preset 0 gives every register a distinct value.
sim::Profile DistinctLong(sim::Profile p) {
    return EditSaveData<tav::SaveDataLong>(p, [](tav::SaveDataLong& d) {
        tav::PresetLong& q = d.Preset[0];
        q.Bits = 2;
        q.AutoExposure = 1;
        q.Reg884 = 11;
        q.Reg888 = 22;
        q.TriggerMode = 1;
        q.Reg1E50 = 5;
        q.Reg1E54 = 6;
        q.uiStateComplete = 0xA;  // signals 1 and 3 on
    });
}

// Both pages are read (page 0's 2016 bytes in 32 pieces, SaveData in 4 or 3),
// then the preset's registers are written in a fixed order, each followed by
// the command pause; absent features and a single format skip theirs.
TEST_F(ConfigTest, InitReadsBothPagesAndWritesThePresetsRegistersInOrder) {
    const struct {
        const char* what;
        sim::Profile profile;
        int page1Reads;
        std::vector<Command> writes;
        std::vector<const char*> traces;
    } cases[] = {
        {"long layout",
         DistinctLong(Long()),
         4,
         std::vector<Command>{WriteReg(0x820, 16), WriteReg(0x800, 128), WriteReg(0x81C, 100),
                              WriteReg(0x808, 3), WriteReg(0x804, 1), WriteReg(0x824, 50),
                              WriteReg(0x3840, 2), WriteReg(0x1FF, 0), WriteReg(0x884, 11),
                              WriteReg(0x888, 22), WriteReg(0x810, 1000), OnOff(0x830, 1),
                              WriteReg(0x1E50, 5), WriteReg(0x1E54, 6), WriteReg(0x1E00, 0),
                              WriteReg(0x1E01, 1), WriteReg(0x1E02, 0), WriteReg(0x1E03, 1)},
         {"read camera's saved data ex from LongCam \r\n",
          "USBInitDevice: LongCam-0 Current Format = 0 \r\n",
          "USBInit: Device 0 Set Frame Exposure = 1000 \r\n", "uiStateComplete = 10 \r\n"}},
        {"long layout, most features absent, one format",
         EditRecord(DistinctLong(Long()),
                    [](CameraRecord& r) {
                        for (int j : {0, 1, 2, 4, 7, 8, 9, 12, 14, 15})
                            r.FeatureInq[j] &= ~tav::kInqPresent;
                        r.FormatCount = 1;
                    }),
         4,
         Writes({{0x3840, 2},
                 {0x1E50, 5},
                 {0x1E54, 6},
                 {0x1E00, 0},
                 {0x1E01, 1},
                 {0x1E02, 0},
                 {0x1E03, 1}}),
         {}},
        {"short layout: five registers at most",
         Short(),
         3,
         Writes({{0x820, 16}, {0x800, 128}, {0x81C, 100}, {0x3840, 0}, {0x1FF, 0}}),
         {"read camera's saved data from ShortCam \r\n"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        camera_ < 0 ? PlugCamera(c.profile) : Replug(c.profile);
        ClearLog();
        EXPECT_EQ(Init(), TAVCAM_INIT_OK);
        EXPECT_EQ(FlashReads(0), 32);
        EXPECT_EQ(FlashReads(1), c.page1Reads);
        EXPECT_EQ(Commands(), c.writes);
        auto pauses = clock_.Pauses();
        EXPECT_EQ(std::count(pauses.begin(), pauses.end(), 100u), (long)c.writes.size());
        for (const char* t : c.traces) EXPECT_TRUE(traces_.Contains(t)) << t;
        EXPECT_TRUE(tav::CameraIdle(Slot().ReadParameters));
        // Without the shutter feature its maximum still follows the height.
        EXPECT_EQ(tav::InqMaximum(Params().FeatureInq[7]), 240u);
    }
}

TEST_F(ConfigTest, PresetGeometryGoesIntoTheTableAndTheShutterMaximum) {
    sim::Profile p = EditSaveData<tav::SaveDataLong>(Long(), [](tav::SaveDataLong& d) {
        d.CurrentPreset = 2;
        d.Preset[2].Left = 8;
        d.Preset[2].Top = 4;
        d.Preset[2].Width = 160;
        d.Preset[2].Height = 100;
        d.Preset[2].Format = 1;
    });
    PlugCamera(EditRecord(p, [](CameraRecord& r) {
        r.FeatureInq[7] = tav::kInqPresent | tav::kInqFlag29 | (1 << 12) | 200;
    }));
    ASSERT_EQ(Init(), TAVCAM_INIT_OK);
    EXPECT_EQ(Slot().Record.CurrentFormat, 1u);
    const FormatEntry& e = Slot().Record.Formats[1];
    EXPECT_EQ(e.Origin, (8u << 16) | 4u);
    EXPECT_EQ(e.Width, 160u);
    EXPECT_EQ(e.Height, 100u);
    EXPECT_EQ(
        std::vector<uint32_t>({Slot().ImgLeft, Slot().ImgTop, Slot().ImgWidth, Slot().ImgHeight}),
        std::vector<uint32_t>({8, 4, 160, 100}));
    EXPECT_EQ(Slot().Record.FeatureInq[7] & 0xFFF, 200u);  // bit 29 pins the flash maximum
    EXPECT_EQ(Feature(0x624), 2u);
    EXPECT_EQ(Commands()[2], WriteReg(0x81C, 120));  // preset 2's shutter
}

// A second call for the same camera (in any letter case) sends nothing; the
// changed flag, raised by another process's save, makes the next call read
// SaveData again (only SaveData), and a call that fails leaves the flag up.
TEST_F(ConfigTest, InitRunsAgainOnlyForAnotherNameOrTheChangedFlag) {
    PlugCamera(Long(), true);
    EXPECT_EQ(Init(), TAVCAM_INIT_OK);
    EXPECT_EQ(USBInitDevice("LONGCAM-0"), TAVCAM_INIT_OK);
    EXPECT_EQ(USBInitDevice("longcam-0"), TAVCAM_INIT_OK);
    EXPECT_TRUE(Log().empty());
    EXPECT_TRUE(clock_.Pauses().empty());

    tav::SaveDataLong d = As<tav::SaveDataLong>(sim::Flash(server_, camera_, 1));
    d.CurrentPreset = 3;
    sim::SetFlash(server_, camera_, 1, Bytes(d));
    tav::SharedStore(tav::Shared()->bChanged[0], 1);
    sim::InjectFault(server_, camera_, sim::Fault::FailRequest, tav::IOCTL_CAM_SEND_REQUEST, 1);
    EXPECT_EQ(Init(), 0);  // the SaveData read fails
    EXPECT_EQ(Changed(), 1u);
    ClearLog();
    EXPECT_EQ(Init(), TAVCAM_INIT_OK);
    EXPECT_EQ(FlashReads(0), 0);
    EXPECT_EQ(FlashReads(1), 4);
    ASSERT_EQ(Commands().size(), 18u);
    EXPECT_EQ(Commands()[0], WriteReg(0x820, 19));  // preset 3's gain
    EXPECT_EQ(Feature(0x624), 3u);
    EXPECT_EQ(Changed(), 0u);
    EXPECT_FALSE(traces_.Contains("read camera's saved data"));

    // Another name on the same index is another camera: both pages again.
    ClearLog();
    EXPECT_EQ(USBInitDevice("OtherCam-0"), TAVCAM_INIT_OK);
    EXPECT_EQ(FlashReads(0), 32);
    EXPECT_STREQ(Slot().Record.CameraName, "OtherCam-0");
}

// A page naming preset 4, or a preset naming format 16, would send the
// library outside its tables: refused before anything is written, and tried
// again in full next time (the name never matched).
TEST_F(ConfigTest, SavedDataNamingNoPresetOrNoFormatIsRefused) {
    PlugCamera(Short());
    for (int naming : {0, 1}) {
        SCOPED_TRACE(naming ? "format 16" : "preset 4");
        Replug(EditSaveData<tav::SaveDataLong>(Long(), [&](tav::SaveDataLong& d) {
            if (naming == 0) d.CurrentPreset = 4;
            if (naming == 1) d.Preset[0].Format = 16;
        }));
        for (int call = 0; call < 2; ++call) {
            ClearLog();
            EXPECT_EQ(Init(), 0);
            EXPECT_TRUE(Commands().empty());
            EXPECT_EQ(FlashReads(0), 32);
            EXPECT_EQ(Feature(0x624), 0u);  // the working copy was not replaced
        }
        EXPECT_TRUE(
            traces_.Contains("USBInitDevice: LongCam-0 saved data names no preset or "
                             "format, refused \r\n"));
    }
}

TEST_F(ConfigTest, BusyCameraGivesThreeBeforeAnythingElse) {
    // The empty slot holds CameraModel 0: the first call never asks.
    PlugCamera(sim::MakeProfile(sim::Model::Busy, "BusyCam", "cam0.sock"), true);
    sim::SetBusyStatus(server_, camera_, 7);
    EXPECT_EQ(Init(), TAVCAM_BUSY);
    EXPECT_TRUE(traces_.Contains("USBInitDevice: Camera-0 Status 7 \r\n"));
    EXPECT_EQ(USBSetFormat(name_.c_str(), 1), TAVCAM_BUSY);
    EXPECT_EQ(USBSetScanArea(name_.c_str(), 0, 0, 32, 16), TAVCAM_BUSY);
    // Nothing but one status query per call.
    EXPECT_EQ(Sent(tav::CMD_GET_STATUS), 3);
    EXPECT_EQ(Log().size(), 6u);  // each with its reply fetch
    sim::SetBusyStatus(server_, camera_, 0);
    EXPECT_EQ(Init(), TAVCAM_INIT_OK);
}

TEST_F(ConfigTest, IdleMarkOnlyWithoutAReaderThread) {
    PlugCamera(Long());
    Slot().ReadParameters.hThread = (HANDLE)(intptr_t)0x1234;
    Slot().ReadParameters.bStopped = 0;
    ASSERT_EQ(Init(), TAVCAM_INIT_OK);
    EXPECT_EQ(Slot().ReadParameters.bStopped, 0);
    EXPECT_EQ(Feature(0x614), 1u);
    Slot().ReadParameters.hThread = nullptr;
    Slot().ReadParameters.bStopRequest = 1;
    tav::SetCameraChanged(0, true);
    ASSERT_EQ(Init(), TAVCAM_INIT_OK);
    EXPECT_EQ(Slot().ReadParameters.bStopped, 1);
    EXPECT_EQ(Slot().ReadParameters.bStopRequest, 0);
    EXPECT_EQ(Feature(0x614), 0u);
}

TEST_F(ConfigTest, ReadDeviceParamsPatchesTheCopyNotTheCache) {
    PlugCamera(Short());
    CameraRecord untouched;
    memset(&untouched, 0x5A, sizeof untouched);
    EXPECT_EQ(USBReadDeviceParams("nodash", &untouched), 0);
    EXPECT_EQ(untouched.FormatCount, 0x5A5A5A5Au);
    ASSERT_EQ(Init(), TAVCAM_INIT_OK);
    Slot().WorkShort.CurrentPreset = 3;
    Slot().ImgLeft = 0x12345;
    Slot().ImgTop = 0x6789A;
    Slot().ImgWidth = 64;
    Slot().ImgHeight = 32;
    CameraRecord r = Params();
    EXPECT_EQ(r.CurrentPreset, 3u);
    EXPECT_EQ(r.Formats[0].Origin, 0x2345789Au);  // low 16 bits of each
    EXPECT_EQ(r.Formats[0].Width, 64u);
    EXPECT_EQ(Slot().Record.Formats[0].Width, 320u);
    EXPECT_STREQ(r.CameraName, "ShortCam-0");
}

}  // namespace
}  // namespace config_test

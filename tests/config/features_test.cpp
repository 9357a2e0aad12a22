// Feature exports and the colour table against the simulated camera: what
// each identifier sends, stores, checks and reports.
#include "config_fixture.h"

namespace config_test {
namespace {

class FeatureTest : public ConfigTest {
  protected:
    void SetUp() override {
        ConfigTest::SetUp();
        PlugCamera(Long(), true);  // format 0 delivers 8 bits per pixel
    }
};

TEST_F(FeatureTest, SetValuesAreSentThenStoredAndReadBackFromThePreset) {
    struct Row {
        uint32_t id, value;
    };
    const Row rows[] = {{0x800, 200}, {0x804, 1},   {0x808, 5},   {0x80D, 1},  {0x80E, 2},
                        {0x80F, 3},   {0x810, 400}, {0x81C, 240}, {0x820, 63}, {0x824, 77},
                        {0x1E50, 9},  {0x1E54, 10}, {0x3840, 1}};
    std::vector<Command> expected;
    for (const Row& r : rows) {
        EXPECT_EQ(Set(r.id, r.value), 1) << std::hex << r.id;
        EXPECT_EQ(Feature(r.id), r.value) << std::hex << r.id;
        expected.push_back(WriteReg((uint16_t)r.id, (uint16_t)r.value));
    }
    EXPECT_EQ(Commands(), expected);
    EXPECT_TRUE(traces_.Contains("USBSetCameraFeature: LongCam-0 Set Brightness = 200 \r\n"));
    EXPECT_TRUE(traces_.Contains("Set Camera Feature: LongCam-0 Blue = 3 \r\n"));
    const tav::PresetLong& p = Slot().WorkLong.Preset[0];
    EXPECT_EQ(p.Brightness, 200);
    EXPECT_EQ(p.Iris, 77);
    EXPECT_EQ(p.Reg1E50, 9);

    // Gamma and saturation are only recorded; saturation also reaches a
    // running reader at once.
    ClearLog();
    EXPECT_EQ(Set(0x818, 90), 1);
    EXPECT_EQ(Set(0x814, 150), 1);
    EXPECT_TRUE(Log().empty());
    EXPECT_EQ(Feature(0x818), 90u);
    EXPECT_EQ(Feature(0x814), 150u);
    EXPECT_EQ(tav::SatCoefficientOf(Slot().ReadParameters), 150u);

    // 0x1C14 reports the preset's value, which nothing sets.
    Slot().WorkLong.Preset[0].Info1C14 = 0x1234;
    EXPECT_EQ(Feature(0x1C14), 0x1234u);
}

TEST_F(FeatureTest, ChecksRefuseBeforeSendingAndFailedWritesStoreNothing) {
    // Brightness 0..255, gain 0..63, shutter 1..240, frame exposure, bits.
    for (auto f : {std::make_pair(0x800, 256), {0x820, 64}, {0x81C, 0}, {0x810, 4096}, {0x3840, 4}})
        EXPECT_EQ(Set(f.first, f.second), 0) << std::hex << f.first;
    EXPECT_TRUE(Log().empty());
    // Bits 3 is taken and reads back as 2.
    EXPECT_EQ(Set(0x3840, 3), 1);
    EXPECT_EQ(Slot().WorkLong.Preset[0].Bits, 3);
    EXPECT_EQ(Feature(0x3840), 2u);
    ClearLog();
    EXPECT_EQ(Feature(0x800), 128u);

    sim::InjectFault(server_, camera_, sim::Fault::FailRequest, tav::IOCTL_CAM_SEND_REQUEST, 1);
    EXPECT_EQ(Set(0x800, 5), 0);
    EXPECT_EQ(Feature(0x800), 128u);
    EXPECT_FALSE(traces_.Contains("Set Brightness"));
}

// Each signal's bit in 0x1E14 after each write.
TEST_F(FeatureTest, OutputSignalsKeepOnlyBitZeroOfTheValue) {
    const uint32_t writes[][3] = {{0x1E02, 5, 0x4}, {0x1E00, 1, 0x5}, {0x1E03, 3, 0xD},
                                  {0x1E01, 7, 0xF}, {0x1E01, 0, 0xD}, {0x1E02, 4, 0x9}};
    for (const auto& w : writes) {
        EXPECT_EQ(Set(w[0], w[1]), 1);
        EXPECT_EQ(Feature(0x1E14), w[2]) << std::hex << w[0] << " " << w[1];
    }
    EXPECT_EQ(Commands()[0], WriteReg(0x1E02, 5));  // the camera gets the whole value
    EXPECT_TRUE(traces_.Contains("USBSetCameraFeature: LongCam-0 Set OUT2_SIGNAL_REG = 5 \r\n"));
}

TEST_F(FeatureTest, InputLinesReadRegister1E08AndOtherIdentifiersAskTheCamera) {
    sim::SetRegister(server_, camera_, 0x1E08, 0xAB12);
    sim::SetRegister(server_, camera_, 0x900, 0x4321);
    for (uint32_t id = 0x1E08; id <= 0x1E0B; ++id) EXPECT_EQ(Feature(id), 0xABu);
    EXPECT_EQ(Feature(0x900), 0x4321u);
    std::vector<std::vector<uint8_t>> sent;
    for (const sim::Request& r : Log())
        if (r.code == tav::IOCTL_CAM_SEND_REQUEST) sent.push_back(r.input);
    ASSERT_EQ(sent.size(), 5u);
    EXPECT_EQ(sent[1], (std::vector<uint8_t>{0, 0, 0, 0, 3, 0, 0, 0, 0, 12, 0x1E, 0x08}));
    EXPECT_EQ(sent[4], (std::vector<uint8_t>{0, 0, 0, 0, 3, 0, 0, 0, 0, 12, 0x09, 0x00}));

    // A failed query gives 0 and leaves the variable.
    sim::InjectFault(server_, camera_, sim::Fault::FailRequest, tav::IOCTL_CAM_SEND_REQUEST, 2);
    uint32_t value = 7;
    EXPECT_EQ(USBGetCameraFeature(name_.c_str(), 0x1E09, &value), 0);
    EXPECT_EQ(USBGetCameraFeature(name_.c_str(), 0x900, &value), 0);
    EXPECT_EQ(value, 7u);
    // Writing any other identifier writes that register and records nothing.
    EXPECT_EQ(Set(0x900, 0x55), 1);
    uint16_t reg = 0;
    EXPECT_TRUE(sim::Register(server_, camera_, 0x900, &reg));
    EXPECT_EQ(reg, 0x55);
}

TEST_F(FeatureTest, ModelOneStoresNoFrameExposureIrisOrSharpness) {
    // The range of frame exposure is checked, its presence is not.
    Replug(EditRecord(Short(), [](CameraRecord& r) { r.FeatureInq[4] = 4095; }));
    ASSERT_EQ(Init(), TAVCAM_INIT_OK);
    ClearLog();
    EXPECT_EQ(Set(0x810, 300), 1);
    EXPECT_EQ(Set(0x824, 20), 1);
    EXPECT_EQ(Set(0x808, 4), 1);
    EXPECT_EQ(Commands(), Writes({{0x810, 300}, {0x824, 20}, {0x808, 4}}));
    EXPECT_EQ(Feature(0x810), 0u);
    EXPECT_TRUE(traces_.Contains(
        "USBGetCameraFeature: Frames Exposure is not implemented in surrent SW version="));
    uint32_t value = 1234;
    EXPECT_EQ(USBGetCameraFeature(name_.c_str(), 0x824, &value), 1);
    EXPECT_EQ(USBGetCameraFeature(name_.c_str(), 0x808, &value), 1);
    EXPECT_EQ(USBGetCameraFeature(name_.c_str(), 0x804, &value), 1);
    EXPECT_EQ(value, 1234u);
    // The short layout's two-byte fields keep 16 bits.
    EXPECT_EQ(Set(0x814, 0x12345), 1);
    EXPECT_EQ(Feature(0x814), 0x2345u);
}

TEST_F(FeatureTest, OnOffAndAutomaticFeatures) {
    EXPECT_EQ(USBSetOnOffFeature(name_.c_str(), 0x830, 1), 1);
    EXPECT_EQ(USBSetOnOffFeature(name_.c_str(), 0x834, 1), 1);
    EXPECT_EQ(USBSetAutoFeature(name_.c_str(), 0x800, 1), 1);
    EXPECT_EQ(Commands(),
              (std::vector<Command>{OnOff(0x830, 1), OnOff(0x834, 1), {28, 0x800, 1, 0}}));
    EXPECT_TRUE(traces_.Contains("LongCam-0 Set ON_OFF_FEATURE  TRIGGER_MODE  = 1 \r\n"));
    EXPECT_EQ(Slot().WorkLong.Preset[0].TriggerMode, 1);
    uint32_t value = 99;
    EXPECT_EQ(USBGetOnOffFeature(name_.c_str(), 0x830, &value), 1);
    EXPECT_EQ(value, 1u);
    value = 99;
    EXPECT_EQ(USBGetOnOffFeature(name_.c_str(), 0x834, &value), 1);
    EXPECT_EQ(value, 99u);
    EXPECT_EQ(USBGetAutoFeature(name_.c_str(), 0x800, &value), 0);
    EXPECT_EQ(value, 0u);
    value = 99;
    EXPECT_EQ(USBGetAutoFeature(nullptr, 0x123, &value), 0);
    EXPECT_EQ(value, 0u);
}

// The table the camera received: bytes 8-71 of each data request.
std::vector<uint8_t> Upload(const std::vector<sim::Request>& log) {
    std::vector<uint8_t> bytes;
    for (const sim::Request& r : log)
        if (r.code == tav::IOCTL_CAM_SEND_REQUEST && r.input.size() == 72)
            bytes.insert(bytes.end(), r.input.begin() + 8, r.input.end());
    return bytes;
}

TEST_F(FeatureTest, ColourTableUploadAndItsRefusals) {
    std::vector<uint8_t> table(100);
    for (size_t i = 0; i < table.size(); ++i) table[i] = (uint8_t)(i + 1);
    EXPECT_EQ(USBSendTable(name_.c_str(), 5, 100, table.data()), 0);
    EXPECT_TRUE(traces_.Contains(
        "Sending Colour Table Canceled - camera does not support colour mode\r\n"));
    EXPECT_TRUE(Log().empty());

    // Table 3 goes in any format: announcement, then two 64-byte pieces, the
    // last one padded with zeros rather than read past the caller's 100 bytes.
    EXPECT_EQ(USBSendTable(name_.c_str(), 0x103, 100, table.data()), 1);
    std::vector<sim::Request> log = Log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].input, (std::vector<uint8_t>{0, 0, 0, 0, 5, 0, 0, 0, 3, 6, 3, 0xFF, 0xFF}));
    std::vector<uint8_t> expected = table;
    expected.resize(128, 0);
    EXPECT_EQ(Upload(log), expected);
    EXPECT_EQ(log[1].input[4], 64);
    EXPECT_EQ(clock_.Pauses(), (std::vector<uint32_t>{50, 50, 50}));

    // A colour format takes other tables, unless the colour registers are used.
    ASSERT_EQ(USBSetFormat(name_.c_str(), 1), 1);
    ClearLog();
    EXPECT_EQ(USBSendTable(name_.c_str(), 5, 64, table.data()), 1);
    EXPECT_EQ(Log().size(), 2u);
    Slot().Record.FeatureInq[3] |= tav::kInqFlag29;
    ClearLog();
    EXPECT_EQ(USBSendTable(name_.c_str(), 5, 64, table.data()), 0);
    EXPECT_TRUE(traces_.Contains(
        "Sending colour table is canceled, we send the colour register's value instead \r\n"));
    EXPECT_EQ(USBSendTable(name_.c_str(), 100, 64, table.data()), 1);
    EXPECT_EQ(USBSendTable("nodash", 3, 64, table.data()), 0);
}

}  // namespace
}  // namespace config_test

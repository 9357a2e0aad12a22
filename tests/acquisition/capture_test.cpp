// USBCaptureFrame and USBCaptureFrameEx: pictures into the caller's buffers
// in the caller's thread (converted, or raw transfers in the caller's ring),
// the camera's frame sequence, frame-information records, and how each
// capture ends.
#include <string.h>
#include <sys/mman.h>

#include <chrono>
#include <future>

#include "acquisition_fixture.h"
#include "core/attach.h"

namespace acquisition_test {
namespace {

using sim::Model;

struct CaptureCase {
    FormatCase format;
    uint32_t width, height;
    uint32_t frames;  // nFrames
};

const CaptureCase kCases[] = {
    {kBayer, 320, 240, 3},
    {kBayer, 64, 64, 20},  // 16 frames a transfer
    {{"Yuv422", Model::LongLayout, 10, 8, 24, Expect::Uyvy}, 320, 240, 2},
    {{"Mono8", Model::ShortLayout, 1, 8, 8, Expect::Copy8}, 64, 32, 3},
    {{"Fields8", Model::LongLayout, 2, 8, 8, Expect::Merge8}, 320, 240, 2},
    {{"Shift12", Model::TwoByteMarkers, 12, 16, 8, Expect::Shift16}, 320, 240, 2},
    {{"Log10", Model::TwoByteMarkers, 100, 16, 8, Expect::Log10}, 64, 32, 2},
    {{"Log12", Model::LongLayout, 110, 16, 8, Expect::Log12}, 320, 240, 2},
    // No branch for the interlaced 12-bit format here: counted, not written.
    {{"Log12Fields", Model::TwoByteMarkers, 115, 16, 8, Expect::Untouched}, 320, 240, 2},
    // Sequential colour: three frames make one picture.
    {{"SequentialColour", Model::LongLayout, 255, 8, 24, Expect::Quazi}, 320, 240, 1},
    {kBayer, 320, 240, 0},  // nFrames 0 still takes the first picture
};

class CaptureTest : public AcquisitionTest, public ::testing::WithParamInterface<CaptureCase> {};

TEST_P(CaptureTest, EachPictureIsTheNextFrameConverted) {
    const CaptureCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(OpenCamera(c.format, c.width, c.height));
    const uint32_t W = c.width, H = c.height, b = c.format.rawBits / 8;
    const uint32_t pictures = c.frames ? c.frames : 1;
    const size_t bytes = (size_t)W * H * (c.format.outBits == 24 ? 3 : 1);
    std::vector<std::vector<uint8_t>> buffers(pictures, std::vector<uint8_t>(bytes, 0x3C));
    std::vector<void*> pointers;
    for (auto& buffer : buffers) pointers.push_back(buffer.data());
    ASSERT_EQ(CaptureInto(pointers.data(), c.frames), 1);

    // The raw line is W bytes whatever the format; YUV 4:2:2 pictures have W / 2 pixels.
    const uint32_t pictureWidth = c.format.code == 10 ? W / 2 : W;
    const uint32_t T = (uint32_t)(65536 / ((uint64_t)W * b * (H + 4)) + 1);
    uint32_t frame = 0;
    for (uint32_t n = 0; n < pictures; ++n) {
        std::vector<uint8_t> expected(bytes, 0x3C);
        do {
            Apply(c.format.expect, RawFrame(frame, W, b), (uint64_t)W * b, pictureWidth, H, 100,
                  &expected);
        } while (c.format.expect == Expect::Quazi && frame++ % 3 != 2);
        if (c.format.expect != Expect::Quazi) ++frame;
        EXPECT_TRUE(buffers[n] == expected) << "picture " << n;
    }
    EXPECT_EQ(StreamRequests(), Reads((frame + T - 1) / T, "X"));
    const std::vector<std::vector<uint32_t>> block = {{3, W, H + 4, b, 0, T, Model(), 0, 0}};
    EXPECT_EQ(StreamStarts(), block);
    EXPECT_TRUE(Idle());
    EXPECT_EQ(plat::WaitForSingleObject(tav::ReaderEvent(0), 0), WAIT_OBJECT_0);
}

INSTANTIATE_TEST_SUITE_P(Formats, CaptureTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<CaptureCase>& info) {
                             return std::string(info.param.format.label) + "_" +
                                    std::to_string(info.param.width) + "x" +
                                    std::to_string(info.param.height) + "_" +
                                    std::to_string(info.param.frames);
                         });

class CaptureEndsTest : public AcquisitionTest {
  protected:
    int32_t Capture() { return CaptureInto(pointers_); }
    std::vector<uint8_t> picture_ = std::vector<uint8_t>(kPictureBytes);
    void* pointers_[1] = {picture_.data()};
};

// Bad transfers are read again: a burst of a dozen still ends in the picture,
// a camera that sends nothing else ends the capture after 100 of them, as a
// failed read does (result 1, the stream stopped twice); so does a picture
// that can never be written.
TEST_F(CaptureEndsTest, BadTransfersAreReadAgainButNotForever) {
    ASSERT_NO_FATAL_FAILURE(OpenCamera(kBayer));
    const uint32_t read = tav::IOCTL_CAM_READ_STREAM;
    sim::InjectFault(server_, camera_, sim::Fault::WrongSizeTransfer, read, 12);
    ASSERT_EQ(Capture(), 1);
    EXPECT_TRUE(picture_ == BayerPicture(12));
    EXPECT_EQ(StreamRequests(), Reads(13, "X"));

    ClearLog();
    sim::InjectFault(server_, camera_, sim::Fault::BadMarkers, read, 1000);
    std::vector<uint8_t> before = picture_;
    ASSERT_EQ(Capture(), 1);
    EXPECT_TRUE(picture_ == before);
    EXPECT_EQ(StreamRequests(), Reads(100, "XX"));
    EXPECT_TRUE(Idle());

    ClearLog();
    sim::ClearFaults(server_, camera_);
    Protected readOnly(picture_.size(), PROT_READ);
    pointers_[0] = readOnly.data;
    ASSERT_EQ(Capture(), 1);
    EXPECT_TRUE(traces_.Contains("USBCaptureFrame: Not enough memory for frame transfer \r\n"));
    EXPECT_EQ(StreamRequests(), Reads(100, "XX"));
}

// Every way the capture can end: its result, what it sent, and a camera left
// idle with its reader event set for whoever waits on it.
TEST_F(CaptureEndsTest, FailuresLeaveTheCameraIdle) {
    ASSERT_NO_FATAL_FAILURE(OpenCamera(kBayer));
    struct Case {
        const char* what;
        uint32_t code;
        int32_t result;
        const char* requests;
        bool eventSet;
        uint32_t after;  // matching requests that pass before the fault
    } cases[] = {
        {"read fails, stop works", tav::IOCTL_CAM_READ_STREAM, 1, "F1SRXX", true, 0},
        {"read and stop fail", tav::IOCTL_CAM_STOP_STREAM, 0, "F1SRX", true, 0},
        {"stream start fails", tav::IOCTL_CAM_START_STREAM, 0, "F1S", true, 0},
        {"window fails", tav::IOCTL_CAM_SEND_REQUEST, 0, "", false, 0},
        // The four window writes pass; the FIFO reset after them fails.
        {"FIFO reset fails", tav::IOCTL_CAM_SEND_REQUEST, 0, "F1", true, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ClearLog();
        plat::ResetEvent(tav::ReaderEvent(0));
        if (c.code == tav::IOCTL_CAM_STOP_STREAM || c.code == tav::IOCTL_CAM_READ_STREAM)
            sim::InjectFault(server_, camera_, sim::Fault::FailStreamRead,
                             tav::IOCTL_CAM_READ_STREAM, 1);
        if (c.code != tav::IOCTL_CAM_READ_STREAM)
            sim::InjectFault(server_, camera_, sim::Fault::FailRequest, c.code, 1, c.after);
        EXPECT_EQ(Capture(), c.result);
        EXPECT_EQ(StreamRequests(), c.requests);
        EXPECT_TRUE(Idle());
        EXPECT_EQ(plat::WaitForSingleObject(tav::ReaderEvent(0), 0) == WAIT_OBJECT_0, c.eventSet);
        sim::ClearFaults(server_, camera_);
    }
    // No colour table: 0 after the window was written, nothing streamed.
    ClearLog();
    CaptureParam param{};
    uint32_t sat = 100;
    param.nFrames = 1;
    param.pSatCoefficient = &sat;
    param.ppBuffers = pointers_;
    EXPECT_EQ(USBCaptureFrame(name_.c_str(), &param), 0);
    EXPECT_EQ(Commands().size(), 4u);
    EXPECT_EQ(StreamRequests(), "");
    EXPECT_TRUE(Idle());
    // Blocks and names that can't be used: 0, nothing sent.
    ClearLog();
    EXPECT_EQ(USBCaptureFrame(name_.c_str(), nullptr), 0);
    EXPECT_EQ(USBCaptureFrame("AcqCam", &param), 0);
    param.pColourTable = (void*)ColourTable();
    param.ppBuffers = nullptr;
    EXPECT_EQ(USBCaptureFrame(name_.c_str(), &param), 0);
    EXPECT_EQ(Log().size(), 0u);
}

// USBLiveVideoStop during a capture doesn't stop it: past its 200 ms grace it
// sends no stream stop and goes on waiting, and it returns once the capture
// has ended and set the reader-finished event.
TEST_F(CaptureEndsTest, AStopDuringACaptureWaitsForTheCapturesEnd) {
    ASSERT_NO_FATAL_FAILURE(OpenCamera(kBayer));
    sim::GateTransfers(server_, camera_, true);
    std::future<int32_t> capture = std::async(std::launch::async, [this] { return Capture(); });
    ASSERT_TRUE(sim::WaitForReadAtGate(server_, camera_, 10000));
    std::future<int32_t> stop =
        std::async(std::launch::async, [this] { return USBLiveVideoStop(name_.c_str()); });
    EXPECT_EQ(stop.wait_for(std::chrono::milliseconds(500)), std::future_status::timeout);
    EXPECT_EQ(StreamRequests(), "F1SR");
    sim::AllowTransfers(server_, camera_, 1);
    EXPECT_EQ(capture.get(), 1);
    EXPECT_EQ(stop.get(), 1);
    EXPECT_EQ(StreamRequests(), "F1SRX");
    EXPECT_TRUE(Idle());
}

// With two-byte samples a model-5 camera marks frames 0xFF/0xFE; told it is
// model 2, the library wants 0x01/0x02 and rejects every transfer.
TEST_F(CaptureEndsTest, MarkersFollowTheCameraModelAndSampleSize) {
    ASSERT_NO_FATAL_FAILURE(
        OpenCamera({"Shift12", Model::TwoByteMarkers, 12, 16, 8, Expect::Shift16}));
    ASSERT_EQ(Capture(), 1);
    EXPECT_EQ(StreamRequests(), "F1SRX");
    Slot().Record.CameraModel = 2;
    ClearLog();
    ASSERT_EQ(Capture(), 1);
    EXPECT_EQ(StreamRequests(), Reads(100, "XX"));
}

// The claim: a capture while live video runs fails at once.
TEST_F(CaptureEndsTest, ACaptureWhileLiveVideoRunsFails) {
    ASSERT_NO_FATAL_FAILURE(OpenCamera(kBayer));
    sim::GateTransfers(server_, camera_, true);
    HANDLE event = plat::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    LiveVideoRequest request{picture_.data(), 0, (void*)ColourTable(), event, nullptr, nullptr};
    ASSERT_EQ(USBLiveVideoStartEx(name_.c_str(), &request), 1);
    EXPECT_EQ(Capture(), 0);
    uint32_t sat = 100;
    CaptureFrameExParam ex{};
    LiveVideoParamEx buffers{};
    ex.pLiveVideoParamEx = &buffers;
    ex.pSatCoefficient = &sat;
    ex.pColourTable = (void*)ColourTable();
    EXPECT_EQ(USBCaptureFrameEx(name_.c_str(), &ex), CAPEX_RUNNING);
    EXPECT_EQ(USBLiveVideoStop(name_.c_str()), 1);
    sim::GateTransfers(server_, camera_, false);
    EXPECT_EQ(Capture(), 1);
    plat::CloseHandle(event);
}

const FormatCase kMono8 = {"Mono8", Model::LongLayout, 1, 8, 8, Expect::Copy8};

class CaptureExTest : public AcquisitionTest {
  protected:
    void SetUp() override {
        AcquisitionTest::SetUp();
        for (uint32_t k = 0; k < TAVCAM_MAX_DIRECT_BUFFERS; ++k) Buffer(k, kW * (kH + 4));
        param_.pLiveVideoParamEx = &ex_;
        param_.pSatCoefficient = &sat_;
        param_.pColourTable = (void*)ColourTable();
    }
    void Buffer(uint32_t k, size_t bytes) {
        buffers_[k].assign(bytes, 0x11);
        ex_.pDirectBuffer[k] = buffers_[k].data();
    }
    int32_t Capture() { return USBCaptureFrameEx(name_.c_str(), &param_); }

    std::vector<uint8_t> buffers_[TAVCAM_MAX_DIRECT_BUFFERS];
    LiveVideoParamEx ex_{};
    CaptureFrameExParam param_{};
    CaptureSequence sequence_{};
    uint32_t sat_ = 100;
};

// With a sequence of 5 frames (limit 3) the first two frames are converted
// but not handed over; pictures then take frames 2 and 3, and each handed-over
// frame's information record goes to the next information buffer.
TEST_F(CaptureExTest, ASequenceSkipsItsFirstFramesAndRecordsAreCopied) {
    ASSERT_NO_FATAL_FAILURE(OpenCamera(kMono8, 0, 0, 0, true));
    std::vector<uint8_t> info[3];
    void* infoPointers[3];
    for (int i = 0; i < 3; ++i) {
        info[i].assign(kW, 0xEE);
        infoPointers[i] = info[i].data();
    }
    sequence_ = CaptureSequence{1, 0x1234, 5, 1, 0, infoPointers, {}};
    param_.nPictures = 2;
    param_.pSequence = &sequence_;
    ASSERT_EQ(Capture(), CAPEX_OK);

    ASSERT_GE(Commands().size(), 1u);
    EXPECT_EQ(Commands().back(), (config_test::Command{8, 0x1A0, 0x1234, 5}));
    for (uint32_t n = 0; n < 2; ++n) {
        std::vector<uint8_t> expected(buffers_[n].size(), 0x11);
        const std::vector<uint8_t> frame = RawFrame(2 + n, kW, 1);
        Apply(Expect::Copy8, frame, kW, kW, kH, 100, &expected);
        EXPECT_TRUE(buffers_[n] == expected) << "picture " << n;
        // The record: signature, count 2, the frame number and the seed.
        EXPECT_TRUE(memcmp(info[n].data(), frame.data() + kW + 2, 12) == 0) << "record " << n;
        EXPECT_EQ(info[n][12], 0xEE);
    }
    EXPECT_EQ(info[2][0], 0xEE);  // only handed-over frames use a buffer
    EXPECT_EQ(StreamRequests(), "F1SRRRRXF0");
    EXPECT_EQ(param_.nWidth, kW);
    EXPECT_EQ(param_.nLines, kH + 4);
    EXPECT_EQ(param_.nBits, 8u);
    EXPECT_EQ(param_.nFormat, 1u);
}

// Sequential colour: each frame goes into the channel its second line names,
// of the picture it is handed over as (one frame a transfer here).
TEST_F(CaptureExTest, SequentialColourFramesGoIntoTheChannelTheyName) {
    ASSERT_NO_FATAL_FAILURE(
        OpenCamera({"SequentialColour", Model::LongLayout, 255, 8, 24, Expect::Quazi}));
    for (uint32_t k = 0; k < 3; ++k) Buffer(k, kPictureBytes);
    param_.nPictures = 3;
    ASSERT_EQ(Capture(), CAPEX_OK);
    for (uint32_t n = 0; n < 3; ++n) {
        std::vector<uint8_t> expected(kPictureBytes, 0x11);
        Apply(Expect::Quazi, RawFrame(n, kW, 1), kW, kW, kH, 100, &expected);
        EXPECT_TRUE(buffers_[n] == expected) << "picture " << n;
    }
    EXPECT_TRUE(traces_.Contains("Send QuaziColour Frame"));
}

// Direct mode: raw transfers go into the ring in order, nothing is converted
// or cleared, and pLastBuffer names the buffer of the last picture.
TEST_F(CaptureExTest, DirectModeFillsTheRingInOrder) {
    ASSERT_NO_FATAL_FAILURE(
        OpenCamera({"Log12", Model::TwoByteMarkers, 110, 16, 8, Expect::Log12}, 64, 32));
    const uint64_t frameBytes = 64 * 2 * 36;
    const uint32_t T = (uint32_t)(65536 / frameBytes + 1);
    for (uint32_t k = 0; k < 3; ++k) Buffer(k, T * frameBytes);
    ex_.nBuffers = 3;
    param_.bDirectBuffer = 1;
    param_.nPictures = 4;
    ASSERT_EQ(Capture(), CAPEX_OK);
    for (uint32_t t = 1; t < 4; ++t) {  // transfers 0..3 went to buffers 0, 1, 2, 0
        std::vector<uint8_t> sent;
        for (uint32_t i = 0; i < T; ++i) {
            std::vector<uint8_t> frame = RawFrame(t * T + i, 64, 2);
            sent.insert(sent.end(), frame.begin(), frame.end());
        }
        EXPECT_TRUE(buffers_[t % 3] == sent) << "transfer " << t;
    }
    EXPECT_EQ(ex_.pLastBuffer, buffers_[0].data());
    EXPECT_EQ(StreamRequests(), "F1SRRRRXF0");
    EXPECT_EQ(param_.nBits, 16u);
    EXPECT_EQ(param_.nLines, 36u);
}

// Every result, and a camera idle after each. Each case changes the block
// (pictures, a sequence of so many frames, direct mode with so many buffers,
// the second one unwritable, no LiveVideoParamEx, no colour table) or injects
// a fault (after that many matching requests passed).
TEST_F(CaptureExTest, EveryResultLeavesTheCameraIdle) {
    ASSERT_NO_FATAL_FAILURE(OpenCamera(kMono8));
    Protected readOnly(kW * (kH + 4), PROT_READ);
    const uint32_t kSend = tav::IOCTL_CAM_SEND_REQUEST, kRead = tav::IOCTL_CAM_READ_STREAM;
    const sim::Fault kFail = sim::Fault::FailRequest;
    struct Case {
        const char* what;
        int32_t result;
        std::string requests;
        uint32_t pictures, sequenceFrames;
        bool direct;
        uint8_t buffers;
        bool badSecond, noEx, noTable;
        sim::Fault fault;
        uint32_t code, count, after;
    } cases[] = {
        // clang-format off
        {"33 pictures",                CAPEX_BAD_REQUEST,     "", 33, 0, false, 0, false, false, false, kFail, 0, 0, 0},
        {"a sequence of one frame",    CAPEX_BAD_REQUEST,     "", 0, 1, false, 0, false, false, false, kFail, 0, 0, 0},
        {"a ring of no buffers",       CAPEX_BAD_REQUEST,     "", 0, 0, true, 0, false, false, false, kFail, 0, 0, 0},
        {"no LiveVideoParamEx",        CAPEX_BAD_REQUEST,     "", 0, 0, false, 0, false, true, false, kFail, 0, 0, 0},
        {"no colour table",            CAPEX_NO_COLOUR_TABLE, "", 0, 0, false, 0, false, false, true, kFail, 0, 0, 0},
        {"a ring buffer too small",    CAPEX_NO_BUFFER,       "", 0, 0, true, 2, true, false, false, kFail, 0, 0, 0},
        {"window fails",               CAPEX_WINDOW_FAILED,   "", 0, 0, false, 0, false, false, false, kFail, kSend, 1, 0},
        // The four window writes pass; the 0x1A0 command after them fails.
        {"the sequence command fails", CAPEX_START_FAILED,    "", 0, 2, false, 0, false, false, false, kFail, kSend, 1, 4},
        {"FIFO reset fails",           CAPEX_START_FAILED,    "F1", 0, 0, false, 0, false, false, false, kFail, kSend, 1, 4},
        {"stream start fails",         CAPEX_START_FAILED,    "F1S", 0, 0, false, 0, false, false, false, kFail, tav::IOCTL_CAM_START_STREAM, 1, 0},
        {"read fails",                 CAPEX_READ_FAILED,     "F1SRXF0", 0, 0, false, 0, false, false, false, sim::Fault::FailStreamRead, kRead, 1, 0},
        {"only bad transfers",         CAPEX_READ_FAILED,     Reads(100, "XF0"), 0, 0, false, 0, false, false, false, sim::Fault::BadMarkers, kRead, 1000, 0},
        // clang-format on
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ClearLog();
        const CaptureFrameExParam saved = param_;
        param_.nPictures = c.pictures;
        if (c.sequenceFrames) {
            sequence_ = CaptureSequence{};
            sequence_.bSequence = 1;
            sequence_.nSequenceFrames = c.sequenceFrames;
            param_.pSequence = &sequence_;
        }
        if (c.direct) {
            param_.bDirectBuffer = 1;
            ex_.nBuffers = c.buffers;
        }
        if (c.badSecond) ex_.pDirectBuffer[1] = readOnly.data;
        if (c.noEx) param_.pLiveVideoParamEx = nullptr;
        if (c.noTable) param_.pColourTable = nullptr;
        if (c.code) sim::InjectFault(server_, camera_, c.fault, c.code, c.count, c.after);
        param_.nWidth = 0xDEAD;
        EXPECT_EQ(Capture(), c.result);
        EXPECT_EQ(param_.nWidth, 0xDEADu);  // outputs only on success
        EXPECT_EQ(StreamRequests(), c.requests);
        EXPECT_TRUE(Idle());
        param_ = saved;
        ex_.pDirectBuffer[1] = buffers_[1].data();
        sim::ClearFaults(server_, camera_);
    }
    EXPECT_EQ(USBCaptureFrameEx("AcqCam-9", &param_), CAPEX_BAD_NAME);
    EXPECT_EQ(USBCaptureFrameEx(name_.c_str(), nullptr), CAPEX_BAD_REQUEST);
    // A camera this process never initialised reads as busy.
    EXPECT_EQ(USBCaptureFrameEx("AcqCam-5", &param_), CAPEX_RUNNING);
    EXPECT_EQ(Capture(), CAPEX_OK);
    // A picture that can't be written is skipped, not a failure: the capture
    // goes on and ends normally with nothing written there.
    ClearLog();
    ex_.pDirectBuffer[0] = readOnly.data;
    EXPECT_EQ(Capture(), CAPEX_OK);
    EXPECT_TRUE(traces_.Contains("Not enough memory for frame transfer"));
    EXPECT_EQ(StreamRequests(), "F1SRXF0");
    ex_.pDirectBuffer[0] = buffers_[0].data();
}

TEST_F(CaptureExTest, UrgentInfoReportsTheCachedModelAndGetDataNothing) {
    uint32_t model = 0xFFFF;
    EXPECT_EQ(USBGetUrgentInfo("AcqCam-2", &model), 1);
    EXPECT_EQ(model, 0u);  // never initialised: the table's zero
    ASSERT_NO_FATAL_FAILURE(OpenCamera(kMono8));
    EXPECT_EQ(USBGetUrgentInfo(name_.c_str(), &model), 1);
    EXPECT_EQ(model, 2u);
    EXPECT_EQ(USBGetUrgentInfo("AcqCam", &model), 2);
    EXPECT_EQ(USBGetUrgentInfo(name_.c_str(), nullptr), 0);
    EXPECT_EQ(USBGetData(), 0);
    EXPECT_EQ(Log().size(), 0u);
}

}  // namespace
}  // namespace acquisition_test

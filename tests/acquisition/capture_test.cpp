// USBCaptureFrame: pictures into the caller's buffers in the caller's thread.
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
    {{"Bayer", Model::LongLayout, 1, 8, 24, Expect::Bayer}, 320, 240, 3},
    {{"Bayer", Model::LongLayout, 1, 8, 24, Expect::Bayer}, 64, 64, 20},  // 16 frames a transfer
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
    // nFrames 0 still takes the first picture.
    {{"Bayer", Model::LongLayout, 1, 8, 24, Expect::Bayer}, 320, 240, 0},
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
    uint32_t sat = 100;
    CaptureParam param{};
    param.nFrames = c.frames;
    param.pSatCoefficient = &sat;
    param.pColourTable = (void*)ColourTable();
    param.ppBuffers = pointers.data();
    ASSERT_EQ(USBCaptureFrame(name_.c_str(), &param), 1);

    // The raw line is W bytes whatever the format; YUV 4:2:2 pictures have W / 2 pixels.
    const uint32_t pictureWidth = c.format.code == 10 ? W / 2 : W;
    const uint64_t frameBytes = (uint64_t)W * b * (H + 4);
    const uint32_t T = (uint32_t)(65536 / frameBytes + 1);
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
    const uint32_t transfers = (frame + T - 1) / T;
    EXPECT_EQ(StreamRequests(), "F1S" + std::string(transfers, 'R') + "X");
    const std::vector<uint32_t> block = {3, W, H + 4, b, 0, T, Model(), 0, 0};
    ASSERT_EQ(StreamStarts().size(), 1u);
    EXPECT_EQ(StreamStarts()[0], block);
    EXPECT_TRUE(tav::CameraIdle(Slot().ReadParameters));
    EXPECT_EQ(plat::WaitForSingleObject(tav::ReaderEvent(0), 0), WAIT_OBJECT_0);
}

INSTANTIATE_TEST_SUITE_P(Formats, CaptureTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<CaptureCase>& info) {
                             return std::string(info.param.format.label) + "_" +
                                    std::to_string(info.param.width) + "x" +
                                    std::to_string(info.param.height) + "_" +
                                    std::to_string(info.param.frames);
                         });

const FormatCase kBayer = {"Bayer", Model::LongLayout, 1, 8, 24, Expect::Bayer};

class CaptureEndsTest : public AcquisitionTest {
  protected:
    int32_t Capture(uint32_t frames = 1) {
        param_.nFrames = frames;
        param_.pSatCoefficient = &sat_;
        param_.pColourTable = (void*)ColourTable();
        param_.ppBuffers = pointers_;
        return USBCaptureFrame(name_.c_str(), &param_);
    }
    std::vector<uint8_t> picture_ = std::vector<uint8_t>(3 * 320 * 240);
    void* pointers_[1] = {picture_.data()};
    uint32_t sat_ = 100;
    CaptureParam param_{};
};

// Bad transfers are read again: a burst of a dozen still ends in the picture,
// a camera that sends nothing else ends the capture after 100 of them, as a
// failed read does (result 1, the stream stopped twice).
TEST_F(CaptureEndsTest, BadTransfersAreReadAgainButNotForever) {
    ASSERT_NO_FATAL_FAILURE(OpenCamera(kBayer));
    const uint32_t read = tav::IOCTL_CAM_READ_STREAM;
    sim::InjectFault(server_, camera_, sim::Fault::WrongSizeTransfer, read, 12);
    ASSERT_EQ(Capture(), 1);
    std::vector<uint8_t> expected(picture_.size());
    Apply(Expect::Bayer, RawFrame(12, 320, 1), 320, 320, 240, 100, &expected);
    EXPECT_TRUE(picture_ == expected);
    EXPECT_EQ(StreamRequests(), "F1S" + std::string(13, 'R') + "X");

    ClearLog();
    sim::InjectFault(server_, camera_, sim::Fault::BadMarkers, read, 1000);
    std::vector<uint8_t> before = picture_;
    ASSERT_EQ(Capture(), 1);
    EXPECT_TRUE(picture_ == before);
    EXPECT_EQ(StreamRequests(), "F1S" + std::string(100, 'R') + "XX");
    EXPECT_TRUE(tav::CameraIdle(Slot().ReadParameters));

    // So does a picture that can never be written.
    ClearLog();
    sim::ClearFaults(server_, camera_);
    void* readOnly = mmap(nullptr, picture_.size(), PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    pointers_[0] = readOnly;
    ASSERT_EQ(Capture(), 1);
    EXPECT_TRUE(traces_.Contains("USBCaptureFrame: Not enough memory for frame transfer \r\n"));
    EXPECT_EQ(StreamRequests(), "F1S" + std::string(100, 'R') + "XX");
    munmap(readOnly, picture_.size());
}

// Every way the capture can end: its result, what it sent, and a camera left
// idle with its reader event set for whoever waits on it.
TEST_F(CaptureEndsTest, FailuresLeaveTheCameraIdle) {
    ASSERT_NO_FATAL_FAILURE(OpenCamera(kBayer));
    struct Case {
        const char* what;
        sim::Fault fault;
        uint32_t code;
        int32_t result;
        const char* requests;
        bool eventSet;
        uint32_t after = 0;  // matching requests that pass before the fault
    } cases[] = {
        {"read fails, stop works", sim::Fault::FailStreamRead, tav::IOCTL_CAM_READ_STREAM, 1,
         "F1SRXX", true},
        {"read and stop fail", sim::Fault::FailRequest, tav::IOCTL_CAM_STOP_STREAM, 0, "F1SRX",
         true},
        {"stream start fails", sim::Fault::FailRequest, tav::IOCTL_CAM_START_STREAM, 0, "F1S",
         true},
        {"window fails", sim::Fault::FailRequest, tav::IOCTL_CAM_SEND_REQUEST, 0, "", false},
        // The four window writes pass; the FIFO reset after them fails.
        {"FIFO reset fails", sim::Fault::FailRequest, tav::IOCTL_CAM_SEND_REQUEST, 0, "F1", true,
         4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ClearLog();
        plat::ResetEvent(tav::ReaderEvent(0));
        if (c.code == tav::IOCTL_CAM_STOP_STREAM)
            sim::InjectFault(server_, camera_, sim::Fault::FailStreamRead,
                             tav::IOCTL_CAM_READ_STREAM, 1);
        sim::InjectFault(server_, camera_, c.fault, c.code, 1, c.after);
        EXPECT_EQ(Capture(), c.result);
        EXPECT_EQ(StreamRequests(), c.requests);
        EXPECT_TRUE(tav::CameraIdle(Slot().ReadParameters));
        EXPECT_EQ(plat::WaitForSingleObject(tav::ReaderEvent(0), 0) == WAIT_OBJECT_0, c.eventSet);
        sim::ClearFaults(server_, camera_);
    }
    // No colour table: 0 after the window was written, nothing streamed.
    ClearLog();
    param_.pColourTable = nullptr;
    param_.nFrames = 1;
    EXPECT_EQ(USBCaptureFrame(name_.c_str(), &param_), 0);
    EXPECT_EQ(Commands().size(), 4u);
    EXPECT_EQ(StreamRequests(), "");
    EXPECT_TRUE(tav::CameraIdle(Slot().ReadParameters));
    // Blocks and names that can't be used: 0, nothing sent.
    ClearLog();
    EXPECT_EQ(USBCaptureFrame(name_.c_str(), nullptr), 0);
    EXPECT_EQ(USBCaptureFrame("AcqCam", &param_), 0);
    param_.pColourTable = (void*)ColourTable();
    param_.ppBuffers = nullptr;
    EXPECT_EQ(USBCaptureFrame(name_.c_str(), &param_), 0);
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
    EXPECT_TRUE(tav::CameraIdle(Slot().ReadParameters));
}

// With two-byte samples a model-5 camera marks frames 0xFF/0xFE; a transfer
// that starts with 0x01 is rejected.
TEST_F(CaptureEndsTest, MarkersFollowTheCameraModelAndSampleSize) {
    const FormatCase shift = {"Shift12", Model::TwoByteMarkers, 12, 16, 8, Expect::Shift16};
    ASSERT_NO_FATAL_FAILURE(OpenCamera(shift));
    ASSERT_EQ(Capture(), 1);
    EXPECT_EQ(StreamRequests(), "F1SRX");
    // Told it is model 2, the library wants 0x01/0x02 and rejects every transfer.
    Slot().Record.CameraModel = 2;
    ClearLog();
    ASSERT_EQ(Capture(), 1);
    EXPECT_EQ(StreamRequests(), "F1S" + std::string(100, 'R') + "XX");
}

// The claim: a capture while live video runs fails at once.
TEST_F(CaptureEndsTest, ACaptureWhileLiveVideoRunsFails) {
    ASSERT_NO_FATAL_FAILURE(OpenCamera(kBayer));
    sim::GateTransfers(server_, camera_, true);
    LiveVideoRequest request{picture_.data(), 0, (void*)ColourTable(), nullptr, nullptr, nullptr};
    HANDLE event = plat::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    request.hFrameEvent = event;
    ASSERT_EQ(USBLiveVideoStartEx(name_.c_str(), &request), 1);
    EXPECT_EQ(Capture(), 0);
    CaptureFrameExParam ex{};
    LiveVideoParamEx buffers{};
    ex.pLiveVideoParamEx = &buffers;
    ex.pSatCoefficient = &sat_;
    ex.pColourTable = (void*)ColourTable();
    EXPECT_EQ(USBCaptureFrameEx(name_.c_str(), &ex), CAPEX_RUNNING);
    EXPECT_EQ(USBLiveVideoStop(name_.c_str()), 1);
    sim::GateTransfers(server_, camera_, false);
    EXPECT_EQ(Capture(), 1);
    plat::CloseHandle(event);
}

}  // namespace
}  // namespace acquisition_test

// The live-video start calls and USBLiveVideoStop: their results, what they
// send before the reader starts, and that a failed start leaves the camera
// claimable.
#include <string.h>
#include <sys/mman.h>

#include <memory>

#include "acquisition_fixture.h"

namespace acquisition_test {
namespace {

const FormatCase kBayer = {"Bayer", sim::Model::LongLayout, 1, 8, 24, Expect::Bayer};
const FormatCase kBusy = {"Bayer", sim::Model::Busy, 1, 8, 24, Expect::Bayer};

void WINAPI Ignore(const char*, uint32_t*, uint32_t*, uint32_t, uintptr_t) {}

class StartTest : public AcquisitionTest {
  protected:
    // Starts in the given mode; the request's fields are those of request_.
    int32_t Start(uint32_t mode, const char* name = nullptr, LiveVideoCallback callback = Ignore) {
        name = name ? name : name_.c_str();
        if (mode == LIVE_MODE_WINDOW) {
            LiveVideoParam p{};
            p.hWnd = window_->hwnd;
            p.pImage = request_.pImage;
            p.pColourTable = request_.pColourTable;
            return USBLiveVideoStart(name, &p);
        }
        if (mode == LIVE_MODE_EVENT) return USBLiveVideoStartEx(name, &request_);
        return USBVideoOnCallbackStart(name, &request_, callback, 7);
    }
    void SetUp() override {
        AcquisitionTest::SetUp();
        // Made after the fixture set the environment its transport thread reads.
        window_.reset(new NoticeWindow);
        event_ = plat::CreateEventA(nullptr, FALSE, FALSE, nullptr);
        request_ =
            LiveVideoRequest{picture_.data(), 0, (void*)ColourTable(), event_, nullptr, nullptr};
    }
    void TearDown() override {
        AcquisitionTest::TearDown();
        plat::CloseHandle(event_);
    }
    std::vector<uint8_t> picture_ = std::vector<uint8_t>(3 * 320 * 240);
    LiveVideoRequest request_{};
    HANDLE event_ = nullptr;
    std::unique_ptr<NoticeWindow> window_;
};

TEST_F(StartTest, FailedStartsGiveTheirResultAndLeaveTheCameraClaimable) {
    ASSERT_NO_FATAL_FAILURE(OpenCamera(kBayer));
    struct Case {
        const char* what;
        uint32_t mode;
        int32_t result;
        void (*spoil)(LiveVideoRequest*, LiveVideoCallback*);
    } cases[] = {
        {"window: no colour table", LIVE_MODE_WINDOW, 2,
         [](LiveVideoRequest* r, LiveVideoCallback*) { r->pColourTable = nullptr; }},
        {"event: no colour table", LIVE_MODE_EVENT, 0,
         [](LiveVideoRequest* r, LiveVideoCallback*) { r->pColourTable = nullptr; }},
        {"callback: no colour table", LIVE_MODE_CALLBACK, 0,
         [](LiveVideoRequest* r, LiveVideoCallback*) { r->pColourTable = nullptr; }},
        {"event: no event", LIVE_MODE_EVENT, 2,
         [](LiveVideoRequest* r, LiveVideoCallback*) { r->hFrameEvent = nullptr; }},
        {"callback: no callback", LIVE_MODE_CALLBACK, 2,
         [](LiveVideoRequest*, LiveVideoCallback* c) { *c = nullptr; }},
        {"ppRawFrame not writable", LIVE_MODE_EVENT, 0,
         [](LiveVideoRequest* r, LiveVideoCallback*) { r->ppRawFrame = (void**)kBayer.label; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LiveVideoRequest saved = request_;
        LiveVideoCallback callback = Ignore;
        c.spoil(&request_, &callback);
        EXPECT_EQ(Start(c.mode, nullptr, callback), c.result);
        request_ = saved;
        EXPECT_TRUE(tav::CameraIdle(Slot().ReadParameters));
        EXPECT_EQ(tav::ReaderThreadOf(Slot().ReadParameters), nullptr);
    }
    // Names without a device index: 2 for the starts, 0 for the stop.
    for (const char* bad : {"AcqCam", "AcqCam-8", "AcqCam-x"})
        for (uint32_t mode : {LIVE_MODE_WINDOW, LIVE_MODE_EVENT, LIVE_MODE_CALLBACK})
            EXPECT_EQ(Start(mode, bad), 2) << bad;
    EXPECT_EQ(USBLiveVideoStop("AcqCam"), 0);
    // Nothing of the above started a stream; a good start still does.
    EXPECT_EQ(StreamRequests(), "");
    EXPECT_EQ(Start(LIVE_MODE_EVENT), 1);
    EXPECT_EQ(plat::WaitForSingleObject(event_, 10000), WAIT_OBJECT_0);
}

// Every loop with the same camera: the three starts, and both captures
// (each takes one picture into picture_).
struct Loops {
    int32_t live[3];
    int32_t capture;
    int32_t captureEx;
};

// A scan area the camera window refuses (16 pixels wide: USBSetScanArea takes
// it, the window wants 32) and a format whose samples are below one byte both
// start nothing, in any loop, and leave the camera claimable.
TEST_F(StartTest, AreasTheWindowRefusesAndSamplesBelowOneByteStartNothing) {
    struct Case {
        const char* what;
        FormatCase format;
        uint32_t width, height;
        Loops expected;
    } cases[] = {
        {"a window of 16 x 16", kBayer, 16, 16, {{0, 0, 0}, 0, CAPEX_WINDOW_FAILED}},
        {"4-bit samples",
         {"Packed4", sim::Model::LongLayout, 1, 4, 8, Expect::Dropped},
         0,
         0,
         {{0, 0, 0}, 0, CAPEX_NO_BUFFER}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_NO_FATAL_FAILURE(OpenCamera(c.format, c.width, c.height));
        const uint32_t modes[3] = {LIVE_MODE_WINDOW, LIVE_MODE_EVENT, LIVE_MODE_CALLBACK};
        for (int m = 0; m < 3; ++m) EXPECT_EQ(Start(modes[m]), c.expected.live[m]) << m;
        uint32_t sat = 100;
        void* pictures[1] = {picture_.data()};
        CaptureParam capture{};
        capture.nFrames = 1;
        capture.pSatCoefficient = &sat;
        capture.pColourTable = (void*)ColourTable();
        capture.ppBuffers = pictures;
        EXPECT_EQ(USBCaptureFrame(name_.c_str(), &capture), c.expected.capture);
        LiveVideoParamEx ex{};
        ex.pDirectBuffer[0] = picture_.data();
        CaptureFrameExParam captureEx{};
        captureEx.pLiveVideoParamEx = &ex;
        captureEx.pSatCoefficient = &sat;
        captureEx.pColourTable = (void*)ColourTable();
        EXPECT_EQ(USBCaptureFrameEx(name_.c_str(), &captureEx), c.expected.captureEx);
        EXPECT_EQ(StreamRequests(), "");
        EXPECT_TRUE(tav::CameraIdle(Slot().ReadParameters));
        EXPECT_EQ(tav::ReaderThreadOf(Slot().ReadParameters), nullptr);
        // The next case's camera afresh, new to the process.
        sim::Stop(server_);
        server_ = sim::Start(dir_.path);
        ASSERT_NE(server_, nullptr);
        sim::SetClock(server_, plat::Now);
        memset(&Slot(), 0, sizeof Slot());
    }
}

TEST_F(StartTest, ABusyCameraOrAFailedStatusQueryStartsNothing) {
    ASSERT_NO_FATAL_FAILURE(OpenCamera(kBusy));
    sim::SetBusyStatus(server_, camera_, 1);
    for (uint32_t mode : {LIVE_MODE_WINDOW, LIVE_MODE_EVENT, LIVE_MODE_CALLBACK})
        EXPECT_EQ(Start(mode), 3) << mode;
    EXPECT_TRUE(traces_.Contains("USBLiveVideoStartEx: Camera-0 Status 1 \r\n"));
    sim::SetBusyStatus(server_, camera_, 0);
    sim::InjectFault(server_, camera_, sim::Fault::FailRequest, tav::IOCTL_CAM_SEND_REQUEST, 1);
    EXPECT_EQ(Start(LIVE_MODE_EVENT), 0);
    EXPECT_TRUE(tav::CameraIdle(Slot().ReadParameters));
    EXPECT_EQ(Start(LIVE_MODE_EVENT), 1);
}

// A start on a running camera changes nothing; one on a camera the process
// never initialised finds it "running" and starts nothing either.
TEST_F(StartTest, ASecondStartLeavesTheRunningReaderAsItWas) {
    EXPECT_EQ(Start(LIVE_MODE_EVENT, "AcqCam-3"), 1);
    EXPECT_EQ(tav::ReaderThreadOf(tav::g_DeviceTable[3].ReadParameters), nullptr);

    ASSERT_NO_FATAL_FAILURE(OpenCamera(kBayer));
    sim::GateTransfers(server_, camera_, true);
    ASSERT_EQ(Start(LIVE_MODE_EVENT), 1);
    ASSERT_TRUE(sim::WaitForReadAtGate(server_, camera_, 10000));
    const tav::ReadParameters before = Slot().ReadParameters;
    std::vector<uint8_t> other(picture_.size());
    request_.pImage = other.data();
    for (uint32_t mode : {LIVE_MODE_WINDOW, LIVE_MODE_EVENT, LIVE_MODE_CALLBACK})
        EXPECT_EQ(Start(mode), 1);
    EXPECT_EQ(Slot().ReadParameters.pImage, before.pImage);
    EXPECT_EQ(Slot().ReadParameters.nDeliveryMode, before.nDeliveryMode);
    EXPECT_EQ(tav::ReaderThreadOf(Slot().ReadParameters), tav::ReaderThreadOf(before));
    EXPECT_EQ(StreamStarts().size(), 1u);
}

// What a start sends before the reader runs: the four window registers
// (width, height, left, top), then the shutter, no higher than its maximum,
// which follows the image height; a lowered shutter is kept in the preset.
TEST_F(StartTest, WindowThenShutterClampedToTheHeight) {
    ASSERT_NO_FATAL_FAILURE(OpenCamera(kBayer, 64, 32));
    sim::GateTransfers(server_, camera_, true);
    ASSERT_EQ(Start(LIVE_MODE_CALLBACK), 1);
    ASSERT_TRUE(sim::WaitForReadAtGate(server_, camera_, 10000));
    using config_test::WriteReg;
    const std::vector<config_test::Command> expected = {WriteReg(0x10A, 64), WriteReg(0x10B, 32),
                                                        WriteReg(0x108, 0), WriteReg(0x109, 0),
                                                        WriteReg(0x81C, 32)};
    EXPECT_EQ(Commands(), expected);
    EXPECT_EQ(Feature(0x81C), 32u);
    EXPECT_EQ(StreamRequests(), "F1SR");
    // Each command with its pause; the reader's requests have none.
    EXPECT_EQ(clock_.Pauses(), std::vector<uint32_t>(5, 100));
}

// The ring of direct buffers: out of range, it is not used; a buffer too
// small fails the start and names the buffer.
TEST_F(StartTest, DirectBuffersOutOfRangeAreNotUsedAndTooSmallOnesRefused) {
    ASSERT_NO_FATAL_FAILURE(OpenCamera(kBayer));
    const size_t transfer = 320 * 244;
    std::vector<uint8_t> a(transfer), b(transfer);
    void* unwritable = mmap(nullptr, transfer, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    LiveVideoParamEx ex{};
    ex.pDirectBuffer[0] = a.data();
    ex.pDirectBuffer[1] = b.data();
    ex.pDirectBuffer[2] = unwritable;
    request_.pLiveVideoParamEx = &ex;
    for (uint8_t n : {0, 33, 2}) {
        ex.nBuffers = n;
        ASSERT_EQ(Start(LIVE_MODE_EVENT), 1) << (int)n;
        EXPECT_EQ(Slot().ReadParameters.bDirectBuffer, n == 2 ? 1 : 0);
        EXPECT_EQ(USBLiveVideoStop(name_.c_str()), 1);
    }
    EXPECT_TRUE(traces_.Contains("USBLiveVideoStartEx: bDirectBuffer mode is not set  \r\n"));
    EXPECT_TRUE(traces_.Contains("USBLiveVideoStartEx: bDirectBuffer mode is set  \r\n"));
    ex.nBuffers = 3;
    EXPECT_EQ(Start(LIVE_MODE_CALLBACK), 0);
    EXPECT_TRUE(traces_.Contains(
        "USBVideoOnCallback: Device 0 Not enough room for the ImgWidth = 320, ImgHeight = 240  "
        "at the pLiveVideoParamEx->pDirectBuffer[2]\r\n"));
    EXPECT_TRUE(tav::CameraIdle(Slot().ReadParameters));
    munmap(unwritable, transfer);
}

TEST_F(StartTest, StopOfAnIdleCameraReturnsAtOnce) {
    ASSERT_NO_FATAL_FAILURE(OpenCamera(kBayer));
    EXPECT_EQ(USBLiveVideoStop(name_.c_str()), 1);
    EXPECT_TRUE(traces_.Contains("USBLiveVideoStop: ReadParameters.bStopped=1 \r\n"));
    EXPECT_EQ(Log().size(), 0u);
}

}  // namespace
}  // namespace acquisition_test

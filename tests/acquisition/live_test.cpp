// The live-video start calls, USBLiveVideoStop and the reader: the starts'
// results and what they send before the reader starts, a failed start
// leaving the camera claimable; and the reader in trouble: transfers of the
// wrong size or with bad markers, read failures and restarts, a picture it may
// not write, a camera that goes away or never sends, a stop at any moment, a
// coefficient changed while it runs.
#include <string.h>
#include <sys/mman.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <memory>

#include "acquisition_fixture.h"
#include "core/attach.h"

namespace acquisition_test {
namespace {

const uint32_t kModes[] = {LIVE_MODE_WINDOW, LIVE_MODE_EVENT, LIVE_MODE_CALLBACK};
const char kBadFrame[] = "Received Bad Frame - we don't show it \r\n";

struct Counter {
    std::atomic<uint32_t> frames{0}, noRoom{0};
};
void WINAPI CountNotice(const char*, uint32_t* code, uint32_t*, uint32_t, uintptr_t context) {
    Counter* c = reinterpret_cast<Counter*>(context);
    (*code == LIVE_CB_FRAME ? c->frames : c->noRoom)++;
}

class LiveTest : public AcquisitionTest {
  protected:
    void SetUp() override {
        AcquisitionTest::SetUp();
        event_ = plat::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        request_ =
            LiveVideoRequest{picture_.data(), 0, (void*)ColourTable(), event_, nullptr, nullptr};
    }
    void TearDown() override {
        AcquisitionTest::TearDown();
        plat::CloseHandle(event_);
    }
    // Starts in the given mode with request_'s fields.
    int32_t Start(uint32_t mode, const char* name = nullptr,
                  LiveVideoCallback callback = IgnoreFrame, uintptr_t context = 7) {
        // The window, and with it the message transport's thread, only where a
        // test needs one, and after the fixture set the environment the thread reads.
        if (mode == LIVE_MODE_WINDOW && !window_) window_.reset(new NoticeWindow);
        return StartLive(mode, name ? name : name_.c_str(), &request_,
                         window_ ? window_->hwnd : nullptr, callback, context);
    }
    // Starts event-mode live video into picture_ with transfers gated.
    void StartEvent(uint32_t ring = 0) {
        sim::GateTransfers(server_, camera_, true);
        if (ring) {
            ring_.assign(ring, std::vector<uint8_t>((size_t)kW * (kH + 4)));
            ex_.nBuffers = (uint8_t)ring;
            for (uint32_t k = 0; k < ring; ++k) ex_.pDirectBuffer[k] = ring_[k].data();
            request_.pLiveVideoParamEx = &ex_;
        }
        ASSERT_EQ(USBLiveVideoStartEx(name_.c_str(), &request_), 1);
    }
    // Lets n transfers through and waits until the reader has done with them.
    void Let(uint32_t n) {
        sim::AllowTransfers(server_, camera_, n);
        ASSERT_TRUE(sim::WaitForReadAtGate(server_, camera_, 10000));
    }
    bool Delivered() {
        const bool set = plat::WaitForSingleObject(event_, 0) == WAIT_OBJECT_0;
        plat::ResetEvent(event_);
        return set;
    }
    bool ReaderEnds() {
        if (plat::WaitForSingleObject(tav::ReaderEvent(0), 10000) != WAIT_OBJECT_0) return false;
        // The claim is given back right after the event is set.
        for (int i = 0; i < 1000 && !Idle(); ++i) {
            struct timespec pause = {0, 1000 * 1000};
            nanosleep(&pause, nullptr);
        }
        return Idle();
    }
    bool NoReader() { return Idle() && !tav::ReaderThreadOf(Slot().ReadParameters); }
    int Count(const std::string& text) {
        int n = 0;
        for (const std::string& line : traces_.Lines()) n += line == text;
        return n;
    }

    std::vector<uint8_t> picture_ = std::vector<uint8_t>(kPictureBytes);
    std::vector<std::vector<uint8_t>> ring_;
    LiveVideoParamEx ex_{};
    LiveVideoRequest request_{};
    HANDLE event_ = nullptr;
    std::unique_ptr<NoticeWindow> window_;
};

// A model-3 camera, which answers the busy query the starts ask.
TEST_F(LiveTest, FailedStartsGiveTheirResultAndLeaveTheCameraClaimable) {
    ASSERT_NO_FATAL_FAILURE(OpenCamera({"Bayer", sim::Model::Busy, 1, 8, 24, Expect::Bayer}));
    struct Case {
        const char* what;
        uint32_t mode;
        int32_t result;
        bool noTable, noEvent, noCallback, rawFrameReadOnly;
    } cases[] = {
        {"window: no colour table", LIVE_MODE_WINDOW, 2, true, false, false, false},
        {"event: no colour table", LIVE_MODE_EVENT, 0, true, false, false, false},
        {"callback: no colour table", LIVE_MODE_CALLBACK, 0, true, false, false, false},
        {"event: no event", LIVE_MODE_EVENT, 2, false, true, false, false},
        {"callback: no callback", LIVE_MODE_CALLBACK, 2, false, false, true, false},
        {"ppRawFrame not writable", LIVE_MODE_EVENT, 0, false, false, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const LiveVideoRequest saved = request_;
        if (c.noTable) request_.pColourTable = nullptr;
        if (c.noEvent) request_.hFrameEvent = nullptr;
        if (c.rawFrameReadOnly) request_.ppRawFrame = (void**)kBadFrame;
        EXPECT_EQ(Start(c.mode, nullptr, c.noCallback ? nullptr : IgnoreFrame), c.result);
        request_ = saved;
        EXPECT_TRUE(NoReader());
    }
    // Names without a device index: 2 for the starts, 0 for the stop.
    for (const char* bad : {"AcqCam", "AcqCam-8", "AcqCam-x"})
        for (uint32_t mode : kModes) EXPECT_EQ(Start(mode, bad), 2) << bad;
    EXPECT_EQ(USBLiveVideoStop("AcqCam"), 0);
    // A busy camera: 3, with the status traced; a failed status query: 0.
    sim::SetBusyStatus(server_, camera_, 1);
    for (uint32_t mode : kModes) EXPECT_EQ(Start(mode), 3) << mode;
    EXPECT_TRUE(traces_.Contains("USBLiveVideoStartEx: Camera-0 Status 1 \r\n"));
    sim::SetBusyStatus(server_, camera_, 0);
    sim::InjectFault(server_, camera_, sim::Fault::FailRequest, tav::IOCTL_CAM_SEND_REQUEST, 1);
    EXPECT_EQ(Start(LIVE_MODE_EVENT), 0);
    EXPECT_TRUE(NoReader());
    // Nothing of the above started a stream; a good start still does.
    EXPECT_EQ(StreamRequests(), "");
    EXPECT_EQ(Start(LIVE_MODE_EVENT), 1);
    EXPECT_EQ(plat::WaitForSingleObject(event_, 10000), WAIT_OBJECT_0);
}

// A scan area the camera window refuses (16 pixels wide: USBSetScanArea takes
// it, the window wants 32) and a format whose samples are below one byte both
// start nothing, in any loop (the three starts, both captures), and leave the
// camera claimable.
TEST_F(LiveTest, AreasTheWindowRefusesAndSamplesBelowOneByteStartNothing) {
    const FormatCase kPacked4 = {"Packed4", sim::Model::LongLayout, 1, 4, 8, Expect::Dropped};
    struct Case {
        const char* what;
        FormatCase format;
        uint32_t width, height;
        int32_t captureEx;
    } cases[] = {
        {"a window of 16 x 16", kBayer, 16, 16, CAPEX_WINDOW_FAILED},
        {"4-bit samples", kPacked4, 0, 0, CAPEX_NO_BUFFER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_NO_FATAL_FAILURE(OpenCamera(c.format, c.width, c.height));
        for (uint32_t mode : kModes) EXPECT_EQ(Start(mode), 0) << mode;
        void* pictures[1] = {picture_.data()};
        EXPECT_EQ(CaptureInto(pictures), 0);
        uint32_t sat = 100;
        LiveVideoParamEx ex{};
        ex.pDirectBuffer[0] = picture_.data();
        CaptureFrameExParam captureEx{};
        captureEx.pLiveVideoParamEx = &ex;
        captureEx.pSatCoefficient = &sat;
        captureEx.pColourTable = (void*)ColourTable();
        EXPECT_EQ(USBCaptureFrameEx(name_.c_str(), &captureEx), c.captureEx);
        EXPECT_EQ(StreamRequests(), "");
        EXPECT_TRUE(NoReader());
        // The next case's camera afresh, new to the process.
        ASSERT_NO_FATAL_FAILURE(RestartSimulator());
        memset(&Slot(), 0, sizeof Slot());
    }
}

// A start on a running camera changes nothing; one on a camera the process
// never initialised finds it "running" and starts nothing either.
TEST_F(LiveTest, ASecondStartLeavesTheRunningReaderAsItWas) {
    EXPECT_EQ(Start(LIVE_MODE_EVENT, "AcqCam-3"), 1);
    EXPECT_EQ(tav::ReaderThreadOf(tav::g_DeviceTable[3].ReadParameters), nullptr);

    ASSERT_NO_FATAL_FAILURE(OpenCamera(kBayer));
    ASSERT_NO_FATAL_FAILURE(StartEvent());
    ASSERT_TRUE(sim::WaitForReadAtGate(server_, camera_, 10000));
    const tav::ReadParameters before = Slot().ReadParameters;
    std::vector<uint8_t> other(picture_.size());
    request_.pImage = other.data();
    for (uint32_t mode : kModes) EXPECT_EQ(Start(mode), 1);
    EXPECT_EQ(Slot().ReadParameters.pImage, before.pImage);
    EXPECT_EQ(Slot().ReadParameters.nDeliveryMode, before.nDeliveryMode);
    EXPECT_EQ(tav::ReaderThreadOf(Slot().ReadParameters), tav::ReaderThreadOf(before));
    EXPECT_EQ(StreamStarts().size(), 1u);
}

// What a start sends before the reader runs: the four window registers
// (width, height, left, top), then the shutter, no higher than its maximum,
// which follows the image height; a lowered shutter is kept in the preset.
TEST_F(LiveTest, WindowThenShutterClampedToTheHeight) {
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
TEST_F(LiveTest, DirectBuffersOutOfRangeAreNotUsedAndTooSmallOnesRefused) {
    ASSERT_NO_FATAL_FAILURE(OpenCamera(kBayer));
    const size_t transfer = 320 * 244;
    std::vector<uint8_t> a(transfer), b(transfer);
    Protected unwritable(transfer, PROT_READ);
    ex_.pDirectBuffer[0] = a.data();
    ex_.pDirectBuffer[1] = b.data();
    ex_.pDirectBuffer[2] = unwritable.data;
    request_.pLiveVideoParamEx = &ex_;
    for (uint8_t n : {0, 33, 2}) {
        ex_.nBuffers = n;
        ASSERT_EQ(Start(LIVE_MODE_EVENT), 1) << (int)n;
        EXPECT_EQ(Slot().ReadParameters.bDirectBuffer, n == 2 ? 1 : 0);
        EXPECT_EQ(USBLiveVideoStop(name_.c_str()), 1);
    }
    EXPECT_TRUE(traces_.Contains("USBLiveVideoStartEx: bDirectBuffer mode is not set  \r\n"));
    EXPECT_TRUE(traces_.Contains("USBLiveVideoStartEx: bDirectBuffer mode is set  \r\n"));
    ex_.nBuffers = 3;
    EXPECT_EQ(Start(LIVE_MODE_CALLBACK), 0);
    EXPECT_TRUE(traces_.Contains(
        "USBVideoOnCallback: Device 0 Not enough room for the ImgWidth = 320, ImgHeight = 240  "
        "at the pLiveVideoParamEx->pDirectBuffer[2]\r\n"));
    EXPECT_TRUE(Idle());
}

TEST_F(LiveTest, StopOfAnIdleCameraReturnsAtOnce) {
    ASSERT_NO_FATAL_FAILURE(OpenCamera(kBayer));
    EXPECT_EQ(USBLiveVideoStop(name_.c_str()), 1);
    EXPECT_TRUE(traces_.Contains("USBLiveVideoStop: ReadParameters.bStopped=1 \r\n"));
    EXPECT_EQ(Log().size(), 0u);
}

TEST_F(LiveTest, WrongSizesAndBadMarkersAreDroppedAndSizesAnnouncedInWindowMode) {
    ASSERT_NO_FATAL_FAILURE(OpenCamera(kBayer));
    sim::GateTransfers(server_, camera_, true);
    ASSERT_EQ(Start(LIVE_MODE_WINDOW), 1);
    const uint32_t read = tav::IOCTL_CAM_READ_STREAM;
    sim::InjectFault(server_, camera_, sim::Fault::WrongSizeTransfer, read, 1);
    sim::InjectFault(server_, camera_, sim::Fault::BadMarkers, read, 2);
    sim::InjectFault(server_, camera_, sim::Fault::BadEndMarker, read, 1);
    ASSERT_NO_FATAL_FAILURE(Let(4));  // wrong size + bad markers, bad markers, bad end, good
    window_->Pump();
    EXPECT_EQ(window_->frames, 1u);
    EXPECT_EQ(window_->wrongSize, 1u);
    EXPECT_EQ(Count("Received data's size is not equal for the request \r\n"), 1);
    EXPECT_EQ(Count(kBadFrame), 2);
    EXPECT_TRUE(picture_ == BayerPicture(3));  // the good one was the fourth transfer
    EXPECT_EQ(StreamRequests(), Reads(5));
    LiveVideoStatistics stats{};
    ASSERT_EQ(USBGetLiveVideoStatistics(name_.c_str(), &stats), 1);
    EXPECT_EQ(stats.nTransfers, 1u);
    EXPECT_EQ(stats.nFramesDelivered, 1u);
    EXPECT_EQ(stats.nDroppedSize, 1u);
    EXPECT_EQ(stats.nDroppedMarkers, 2u);
    EXPECT_EQ(stats.bRunning, 1u);
    EXPECT_EQ(USBGetLiveVideoStatistics("AcqCam", &stats), 2);
}

TEST_F(LiveTest, AReadOfTwoBytesPassesAndItsMarkersAreTheBuffersContent) {
    ASSERT_NO_FATAL_FAILURE(OpenCamera(kBayer));
    // Internal buffers start zeroed: two bytes that begin with the start
    // marker leave a last byte of 0, which is no end marker.
    sim::InjectFault(server_, camera_, sim::Fault::TwoByteTransfer, tav::IOCTL_CAM_READ_STREAM, 1);
    ASSERT_NO_FATAL_FAILURE(StartEvent());
    ASSERT_NO_FATAL_FAILURE(Let(1));
    EXPECT_FALSE(Delivered());
    EXPECT_EQ(Count(kBadFrame), 1);
    EXPECT_EQ(Count("Received data's size is not equal for the request \r\n"), 0);
    EXPECT_TRUE(USBLiveVideoStop(name_.c_str()));

    // A direct buffer still holds the last transfer, end marker included:
    // two bytes read over its start pass, and that buffer is delivered again.
    ClearLog();
    ASSERT_NO_FATAL_FAILURE(StartEvent(1));
    ASSERT_NO_FATAL_FAILURE(Let(1));
    EXPECT_TRUE(Delivered());
    sim::InjectFault(server_, camera_, sim::Fault::TwoByteTransfer, tav::IOCTL_CAM_READ_STREAM, 1);
    ASSERT_NO_FATAL_FAILURE(Let(1));
    EXPECT_TRUE(Delivered());
    EXPECT_EQ(ex_.pLastBuffer, ring_[0].data());
    EXPECT_EQ(Count(kBadFrame), 0);
}

// Restarts after read failures: a new reader ends at its fifth failure; a
// run of 52 good transfers gives it five restarts, and 51 don't.
TEST_F(LiveTest, ReadFailuresRestartTheStreamWithinTheirCounts) {
    struct Case {
        uint32_t good, starts;
    } cases[] = {{0, 5}, {51, 5}, {52, 6}};
    for (const Case& c : cases) {
        SCOPED_TRACE("good transfers " + std::to_string(c.good));
        ASSERT_NO_FATAL_FAILURE(OpenCamera(kBayer));
        ASSERT_NO_FATAL_FAILURE(StartEvent());
        if (c.good) {
            ASSERT_NO_FATAL_FAILURE(Let(c.good));
        }
        sim::InjectFault(server_, camera_, sim::Fault::FailStreamRead, tav::IOCTL_CAM_READ_STREAM,
                         100);
        sim::GateTransfers(server_, camera_, false);
        ASSERT_TRUE(ReaderEnds());
        std::string expected = Reads(c.good + 1, "X");
        for (uint32_t i = 1; i < c.starts; ++i) expected += "F1SRX";
        EXPECT_EQ(StreamRequests(), expected + "X");
        LiveVideoStatistics stats{};
        ASSERT_EQ(USBGetLiveVideoStatistics(name_.c_str(), &stats), 1);
        EXPECT_EQ(stats.nRestarts, c.starts - 1);
        EXPECT_EQ(stats.nReadFailures, c.starts);
        EXPECT_EQ(stats.nTransfers, c.good);
        EXPECT_EQ(stats.bRunning, 0u);
        EXPECT_EQ(USBLiveVideoStop(name_.c_str()), 1);  // idle: at once
        sim::ClearFaults(server_, camera_);
        ASSERT_NO_FATAL_FAILURE(RestartSimulator());
    }
}

// The reader's own first requests failing end it at once, its event set and
// the camera given back: the FIFO reset (the start's four window writes and
// its shutter write pass), or the stream start.
TEST_F(LiveTest, AFifoResetOrStreamStartThatFailsEndsTheReader) {
    ASSERT_NO_FATAL_FAILURE(OpenCamera(kBayer));
    struct Case {
        const char* what;
        uint32_t code, after;
        const char* trace;
        const char* requests;
    } cases[] = {
        {"FIFO reset", tav::IOCTL_CAM_SEND_REQUEST, 5,
         "AttachReadThread unable to reset the FIFO before stream's start", "F1"},
        {"stream start", tav::IOCTL_CAM_START_STREAM, 0, "AttachReadThread unable to start stream",
         "F1S"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ClearLog();
        sim::InjectFault(server_, camera_, sim::Fault::FailRequest, c.code, 1, c.after);
        ASSERT_EQ(Start(LIVE_MODE_EVENT), 1);
        EXPECT_TRUE(ReaderEnds());
        EXPECT_TRUE(traces_.Contains(c.trace));
        EXPECT_EQ(StreamRequests(), c.requests);
        sim::ClearFaults(server_, camera_);
        plat::ResetEvent(tav::ReaderEvent(0));
    }
}

TEST_F(LiveTest, AStopRequestIsHonouredBetweenRestarts) {
    ASSERT_NO_FATAL_FAILURE(OpenCamera(kBayer));
    ASSERT_NO_FATAL_FAILURE(StartEvent());
    ASSERT_TRUE(sim::WaitForReadAtGate(server_, camera_, 10000));
    // The stop's first step, without its waiting: the failed read that follows
    // must end the reader instead of restarting the stream.
    tav::SetStopRequest(Slot().ReadParameters, 1);
    sim::InjectFault(server_, camera_, sim::Fault::FailStreamRead, tav::IOCTL_CAM_READ_STREAM, 10);
    sim::AllowTransfers(server_, camera_, 1);
    ASSERT_TRUE(ReaderEnds());
    EXPECT_EQ(StreamRequests(), "F1SRXX");
}

// The picture can't be written: each frame is reported as its mode says, and
// the stream goes on to deliver once the picture is writable again.
TEST_F(LiveTest, AnUnwritablePictureIsReportedPerFrameAndTheStreamGoesOn) {
    ASSERT_NO_FATAL_FAILURE(OpenCamera(kBayer));
    for (uint32_t mode : kModes) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        Protected picture(kPictureBytes, PROT_READ);
        NoticeWindow window;
        Counter counter;
        LiveVideoRequest request{picture.data, 0, (void*)ColourTable(), event_, nullptr, nullptr};
        sim::GateTransfers(server_, camera_, true);
        ASSERT_EQ(
            StartLive(mode, name_.c_str(), &request, window.hwnd, CountNotice, (uintptr_t)&counter),
            1);
        ASSERT_NO_FATAL_FAILURE(Let(3));
        window.Pump();
        EXPECT_EQ(Count("Not enough memory for frame transfer \r\n"), 3);
        EXPECT_EQ(window.noRoom, mode == LIVE_MODE_WINDOW ? 3u : 0u);
        EXPECT_EQ(counter.noRoom.load(), mode == LIVE_MODE_CALLBACK ? 3u : 0u);
        EXPECT_EQ(window.frames + counter.frames.load(), 0u);
        EXPECT_FALSE(Delivered());

        picture.Allow();
        ASSERT_NO_FATAL_FAILURE(Let(1));
        window.Pump();
        const uint32_t delivered = mode == LIVE_MODE_WINDOW  ? window.frames
                                   : mode == LIVE_MODE_EVENT ? Delivered()
                                                             : counter.frames.load();
        EXPECT_EQ(delivered, 1u);
        EXPECT_TRUE(memcmp(picture.data, BayerPicture(3).data(), kPictureBytes) == 0);
        EXPECT_EQ(USBLiveVideoStop(name_.c_str()), 1);
        plat::ResetEvent(event_);
        traces_.Clear();
    }
}

TEST_F(LiveTest, AColourTableThatCantBeReadIsReportedLikeAPictureWithoutRoom) {
    ASSERT_NO_FATAL_FAILURE(OpenCamera(kBayer));
    ASSERT_EQ(USBSetCameraFeature(name_.c_str(), 0x814, 50), 1);
    Protected table((size_t)3 << 24, PROT_NONE);
    Counter counter;
    request_.pColourTable = table.data;
    sim::GateTransfers(server_, camera_, true);
    ASSERT_EQ(Start(LIVE_MODE_CALLBACK, nullptr, CountNotice, (uintptr_t)&counter), 1);
    ASSERT_NO_FATAL_FAILURE(Let(2));
    EXPECT_EQ(counter.noRoom.load(), 2u);
    EXPECT_EQ(counter.frames.load(), 0u);
    // At 100 the table isn't needed.
    ASSERT_EQ(USBSetCameraFeature(name_.c_str(), 0x814, 100), 1);
    ASSERT_NO_FATAL_FAILURE(Let(1));
    EXPECT_EQ(counter.frames.load(), 1u);
}

// The coefficient reaches a running stream as the preset stores it: the long
// layout keeps 8 bits, so 356 is 100 there and the plain reconstruction goes on.
TEST_F(LiveTest, ACoefficientSetWhileStreamingIsTheOneThePresetKeeps) {
    ASSERT_NO_FATAL_FAILURE(OpenCamera(kBayer));
    ASSERT_NO_FATAL_FAILURE(StartEvent());
    struct Step {
        uint32_t set, effective;
    } steps[] = {{356, 100}, {50, 50}, {100, 100}};
    uint32_t frame = 0;
    for (const Step& s : steps) {
        SCOPED_TRACE("coefficient " + std::to_string(s.set));
        ASSERT_EQ(USBSetCameraFeature(name_.c_str(), 0x814, s.set), 1);
        uint32_t stored = 0;
        ASSERT_EQ(USBGetCameraFeature(name_.c_str(), 0x814, &stored), 1);
        EXPECT_EQ(stored, s.effective);
        ASSERT_NO_FATAL_FAILURE(Let(1));
        ASSERT_TRUE(Delivered());
        EXPECT_TRUE(picture_ == BayerPicture(frame++, s.effective));
    }
}

TEST_F(LiveTest, ACameraUnpluggedMidStreamEndsTheReader) {
    ASSERT_NO_FATAL_FAILURE(OpenCamera(kBayer, 0, 0, 200));
    ASSERT_NO_FATAL_FAILURE(StartEvent());
    sim::GateTransfers(server_, camera_, false);
    ASSERT_EQ(plat::WaitForSingleObject(event_, 10000), WAIT_OBJECT_0);
    sim::Unplug(server_, camera_);
    ASSERT_TRUE(ReaderEnds());
    EXPECT_EQ(USBLiveVideoStop(name_.c_str()), 1);
}

// A camera that never sends (a trigger that doesn't come): the stop ends the
// waiting read, returns long before its 6 s, and the camera starts again at once.
TEST_F(LiveTest, StopEndsAReadThatWaitsForeverAndTheCameraStartsAgainAtOnce) {
    ASSERT_NO_FATAL_FAILURE(OpenCamera(kBayer));
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_NO_FATAL_FAILURE(StartEvent());
        ASSERT_TRUE(sim::WaitForReadAtGate(server_, camera_, 10000));
        const auto before = std::chrono::steady_clock::now();
        EXPECT_EQ(USBLiveVideoStop(name_.c_str()), 1);
        EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(5000));
        EXPECT_TRUE(NoReader());
    }
    ASSERT_NO_FATAL_FAILURE(StartEvent());
    ASSERT_NO_FATAL_FAILURE(Let(1));
    EXPECT_TRUE(Delivered());
}

}  // namespace
}  // namespace acquisition_test

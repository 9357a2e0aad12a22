// The live-video reader in trouble: transfers of the wrong size or with bad
// markers, read failures and restarts, a picture it may not write, a camera
// that goes away or never sends, a stop at any moment, a coefficient changed
// while it runs.
#include <string.h>
#include <sys/mman.h>
#include <time.h>

#include <atomic>
#include <chrono>

#include "acquisition_fixture.h"
#include "core/attach.h"

namespace acquisition_test {
namespace {

const FormatCase kBayer = {"Bayer", sim::Model::LongLayout, 1, 8, 24, Expect::Bayer};
constexpr uint32_t kW = 320, kH = 240;
constexpr uint32_t kPictureBytes = 3 * kW * kH;

struct Counter {
    std::atomic<uint32_t> frames{0}, noRoom{0};
};
void WINAPI CountNotice(const char*, uint32_t* code, uint32_t*, uint32_t, uintptr_t context) {
    Counter* c = reinterpret_cast<Counter*>(context);
    (*code == LIVE_CB_FRAME ? c->frames : c->noRoom)++;
}

// Memory that the platform's pointer tests see as not writable (or, with
// PROT_NONE, not readable either).
struct Protected {
    explicit Protected(size_t bytes, int prot) : size(bytes) {
        data = (uint8_t*)mmap(nullptr, bytes, prot, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    }
    ~Protected() { munmap(data, size); }
    void Allow() { mprotect(data, size, PROT_READ | PROT_WRITE); }
    uint8_t* data;
    size_t size;
};

class ReaderTest : public AcquisitionTest {
  protected:
    // Starts event-mode live video into picture_ with transfers gated.
    void StartEvent(uint32_t ring = 0) {
        sim::GateTransfers(server_, camera_, true);
        request_.pImage = picture_.data();
        request_.pColourTable = (void*)ColourTable();
        request_.hFrameEvent = event_;
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
    bool ReaderEnds(uint32_t timeoutMs = 10000) {
        if (plat::WaitForSingleObject(tav::ReaderEvent(0), timeoutMs) != WAIT_OBJECT_0)
            return false;
        // The claim is given back right after the event is set.
        for (int i = 0; i < 1000 && !tav::CameraIdle(Slot().ReadParameters); ++i) {
            struct timespec pause = {0, 1000 * 1000};
            nanosleep(&pause, nullptr);
        }
        return tav::CameraIdle(Slot().ReadParameters);
    }
    int Count(const std::string& text) {
        int n = 0;
        for (const std::string& line : traces_.Lines()) n += line == text;
        return n;
    }
    void SetUp() override {
        AcquisitionTest::SetUp();
        event_ = plat::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    void TearDown() override {
        AcquisitionTest::TearDown();
        plat::CloseHandle(event_);
    }

    std::vector<uint8_t> picture_ = std::vector<uint8_t>(kPictureBytes);
    std::vector<std::vector<uint8_t>> ring_;
    LiveVideoParamEx ex_{};
    LiveVideoRequest request_{};
    HANDLE event_ = nullptr;
};

TEST_F(ReaderTest, WrongSizesAndBadMarkersAreDroppedAndSizesAnnouncedInWindowMode) {
    ASSERT_NO_FATAL_FAILURE(OpenCamera(kBayer));
    NoticeWindow window;
    LiveVideoParam param{};
    param.hWnd = window.hwnd;
    param.pImage = picture_.data();
    param.pColourTable = (void*)ColourTable();
    sim::GateTransfers(server_, camera_, true);
    ASSERT_EQ(USBLiveVideoStart(name_.c_str(), &param), 1);
    const uint32_t read = tav::IOCTL_CAM_READ_STREAM;
    sim::InjectFault(server_, camera_, sim::Fault::WrongSizeTransfer, read, 1);
    sim::InjectFault(server_, camera_, sim::Fault::BadMarkers, read, 2);
    sim::InjectFault(server_, camera_, sim::Fault::BadEndMarker, read, 1);
    ASSERT_NO_FATAL_FAILURE(Let(4));  // wrong size + bad markers, bad markers, bad end, good
    window.Pump();
    EXPECT_EQ(window.frames, 1u);
    EXPECT_EQ(window.wrongSize, 1u);
    EXPECT_EQ(Count("Received data's size is not equal for the request \r\n"), 1);
    EXPECT_EQ(Count("Received Bad Frame - we don't show it \r\n"), 2);
    // The good one was the fourth transfer: frame 3.
    std::vector<uint8_t> expected(kPictureBytes);
    Apply(Expect::Bayer, RawFrame(3, kW, 1), kW, kW, kH, 100, &expected);
    EXPECT_TRUE(picture_ == expected);
    EXPECT_EQ(StreamRequests(), "F1SRRRRR");
    LiveVideoStatistics stats{};
    ASSERT_EQ(USBGetLiveVideoStatistics(name_.c_str(), &stats), 1);
    EXPECT_EQ(stats.nTransfers, 1u);
    EXPECT_EQ(stats.nFramesDelivered, 1u);
    EXPECT_EQ(stats.nDroppedSize, 1u);
    EXPECT_EQ(stats.nDroppedMarkers, 2u);
    EXPECT_EQ(stats.bRunning, 1u);
    EXPECT_EQ(USBGetLiveVideoStatistics("AcqCam", &stats), 2);
}

TEST_F(ReaderTest, AReadOfTwoBytesPassesAndItsMarkersAreTheBuffersContent) {
    ASSERT_NO_FATAL_FAILURE(OpenCamera(kBayer));
    // Internal buffers start zeroed: two bytes that begin with the start
    // marker leave a last byte of 0, which is no end marker.
    sim::InjectFault(server_, camera_, sim::Fault::TwoByteTransfer, tav::IOCTL_CAM_READ_STREAM, 1);
    ASSERT_NO_FATAL_FAILURE(StartEvent());
    ASSERT_NO_FATAL_FAILURE(Let(1));
    EXPECT_EQ(plat::WaitForSingleObject(event_, 0), WAIT_TIMEOUT);
    EXPECT_EQ(Count("Received Bad Frame - we don't show it \r\n"), 1);
    EXPECT_EQ(Count("Received data's size is not equal for the request \r\n"), 0);
    EXPECT_TRUE(USBLiveVideoStop(name_.c_str()));

    // A direct buffer still holds the last transfer, end marker included:
    // two bytes read over its start pass, and that buffer is delivered again.
    ClearLog();
    ASSERT_NO_FATAL_FAILURE(StartEvent(1));
    ASSERT_NO_FATAL_FAILURE(Let(1));
    EXPECT_EQ(plat::WaitForSingleObject(event_, 0), WAIT_OBJECT_0);
    plat::ResetEvent(event_);
    sim::InjectFault(server_, camera_, sim::Fault::TwoByteTransfer, tav::IOCTL_CAM_READ_STREAM, 1);
    ASSERT_NO_FATAL_FAILURE(Let(1));
    EXPECT_EQ(plat::WaitForSingleObject(event_, 0), WAIT_OBJECT_0);
    EXPECT_EQ(ex_.pLastBuffer, ring_[0].data());
    EXPECT_EQ(Count("Received Bad Frame - we don't show it \r\n"), 0);
}

// Restarts after read failures: a new reader ends at its fifth failure; a
// run of 52 good transfers gives it five restarts, and 51 don't.
TEST_F(ReaderTest, ReadFailuresRestartTheStreamWithinTheirCounts) {
    struct Case {
        uint32_t good;
        uint32_t starts;
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
        std::string expected = "F1S" + std::string(c.good, 'R') + "RX";
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
        sim::Stop(server_);
        server_ = sim::Start(dir_.path);
        sim::SetClock(server_, plat::Now);
    }
}

// The reader's own first requests failing end it at once, its event set and
// the camera given back: the FIFO reset (the start's four window writes and
// its shutter write pass), or the stream start.
TEST_F(ReaderTest, AFifoResetOrStreamStartThatFailsEndsTheReader) {
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
        request_.pImage = picture_.data();
        request_.pColourTable = (void*)ColourTable();
        request_.hFrameEvent = event_;
        ASSERT_EQ(USBLiveVideoStartEx(name_.c_str(), &request_), 1);
        EXPECT_TRUE(ReaderEnds());
        EXPECT_TRUE(traces_.Contains(c.trace));
        EXPECT_EQ(StreamRequests(), c.requests);
        sim::ClearFaults(server_, camera_);
        plat::ResetEvent(tav::ReaderEvent(0));
    }
}

TEST_F(ReaderTest, AStopRequestIsHonouredBetweenRestarts) {
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
TEST_F(ReaderTest, AnUnwritablePictureIsReportedPerFrameAndTheStreamGoesOn) {
    ASSERT_NO_FATAL_FAILURE(OpenCamera(kBayer));
    for (uint32_t mode : {LIVE_MODE_WINDOW, LIVE_MODE_EVENT, LIVE_MODE_CALLBACK}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        Protected picture(kPictureBytes, PROT_READ);
        NoticeWindow window;
        Counter counter;
        LiveVideoParam param{};
        param.hWnd = window.hwnd;
        param.pImage = picture.data;
        param.pColourTable = (void*)ColourTable();
        LiveVideoRequest request{picture.data, 0, (void*)ColourTable(), event_, nullptr, nullptr};
        sim::GateTransfers(server_, camera_, true);
        ASSERT_EQ(mode == LIVE_MODE_WINDOW ? USBLiveVideoStart(name_.c_str(), &param)
                  : mode == LIVE_MODE_EVENT
                      ? USBLiveVideoStartEx(name_.c_str(), &request)
                      : USBVideoOnCallbackStart(name_.c_str(), &request, CountNotice,
                                                (uintptr_t)&counter),
                  1);
        ASSERT_NO_FATAL_FAILURE(Let(3));
        window.Pump();
        EXPECT_EQ(Count("Not enough memory for frame transfer \r\n"), 3);
        EXPECT_EQ(window.noRoom, mode == LIVE_MODE_WINDOW ? 3u : 0u);
        EXPECT_EQ(counter.noRoom.load(), mode == LIVE_MODE_CALLBACK ? 3u : 0u);
        EXPECT_EQ(window.frames + counter.frames.load(), 0u);
        EXPECT_EQ(plat::WaitForSingleObject(event_, 0), WAIT_TIMEOUT);

        picture.Allow();
        ASSERT_NO_FATAL_FAILURE(Let(1));
        window.Pump();
        const uint32_t delivered = mode == LIVE_MODE_WINDOW ? window.frames
                                   : mode == LIVE_MODE_EVENT
                                       ? (plat::WaitForSingleObject(event_, 0) == WAIT_OBJECT_0)
                                       : counter.frames.load();
        EXPECT_EQ(delivered, 1u);
        std::vector<uint8_t> expected(kPictureBytes);
        Apply(Expect::Bayer, RawFrame(3, kW, 1), kW, kW, kH, 100, &expected);
        EXPECT_TRUE(memcmp(picture.data, expected.data(), kPictureBytes) == 0);
        EXPECT_EQ(USBLiveVideoStop(name_.c_str()), 1);
        plat::ResetEvent(event_);
        traces_.Clear();
    }
}

TEST_F(ReaderTest, AColourTableThatCantBeReadIsReportedLikeAPictureWithoutRoom) {
    ASSERT_NO_FATAL_FAILURE(OpenCamera(kBayer));
    ASSERT_EQ(USBSetCameraFeature(name_.c_str(), 0x814, 50), 1);
    Protected table((size_t)3 << 24, PROT_NONE);
    Counter counter;
    LiveVideoRequest request{picture_.data(), 0, table.data, nullptr, nullptr, nullptr};
    sim::GateTransfers(server_, camera_, true);
    ASSERT_EQ(USBVideoOnCallbackStart(name_.c_str(), &request, CountNotice, (uintptr_t)&counter),
              1);
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
TEST_F(ReaderTest, ACoefficientSetWhileStreamingIsTheOneThePresetKeeps) {
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
        ASSERT_EQ(plat::WaitForSingleObject(event_, 0), WAIT_OBJECT_0);
        plat::ResetEvent(event_);
        std::vector<uint8_t> expected(kPictureBytes);
        Apply(Expect::Bayer, RawFrame(frame++, kW, 1), kW, kW, kH, s.effective, &expected);
        EXPECT_TRUE(picture_ == expected);
    }
}

TEST_F(ReaderTest, ACameraUnpluggedMidStreamEndsTheReader) {
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
TEST_F(ReaderTest, StopEndsAReadThatWaitsForeverAndTheCameraStartsAgainAtOnce) {
    ASSERT_NO_FATAL_FAILURE(OpenCamera(kBayer));
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_NO_FATAL_FAILURE(StartEvent());
        ASSERT_TRUE(sim::WaitForReadAtGate(server_, camera_, 10000));
        const auto before = std::chrono::steady_clock::now();
        EXPECT_EQ(USBLiveVideoStop(name_.c_str()), 1);
        const auto took = std::chrono::steady_clock::now() - before;
        EXPECT_LT(took, std::chrono::milliseconds(5000));
        EXPECT_TRUE(tav::CameraIdle(Slot().ReadParameters));
        EXPECT_EQ(tav::ReaderThreadOf(Slot().ReadParameters), nullptr);
    }
    ASSERT_NO_FATAL_FAILURE(StartEvent());
    ASSERT_NO_FATAL_FAILURE(Let(1));
    EXPECT_EQ(plat::WaitForSingleObject(event_, 0), WAIT_OBJECT_0);
}

}  // namespace
}  // namespace acquisition_test

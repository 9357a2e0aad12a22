// USBCaptureFrameEx: converted pictures or raw transfers in the caller's
// ring, the camera's frame sequence, frame-information records, and every
// result the call can give.
#include <string.h>
#include <sys/mman.h>

#include "acquisition_fixture.h"

namespace acquisition_test {
namespace {

using sim::Model;

const FormatCase kMono8 = {"Mono8", Model::LongLayout, 1, 8, 8, Expect::Copy8};
constexpr uint32_t kW = 320, kH = 240;

class CaptureExTest : public AcquisitionTest {
  protected:
    void SetUp() override {
        AcquisitionTest::SetUp();
        for (uint32_t k = 0; k < TAVCAM_MAX_DIRECT_BUFFERS; ++k) {
            buffers_[k].assign((size_t)kW * (kH + 4), 0x11);
            ex_.pDirectBuffer[k] = buffers_[k].data();
        }
        param_.pLiveVideoParamEx = &ex_;
        param_.pSatCoefficient = &sat_;
        param_.pColourTable = (void*)ColourTable();
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
    sim::Profile p =
        sim::MakeFormatProfile(Model::LongLayout, "AcqCam", "cam0.sock", 1, 8, 8, true);
    p.framesPerSecond = 0;
    p.frameInfo = true;
    seed_ = p.seed;
    model_ = sim::ProfileModel(p);
    frameInfo_ = true;
    PlugCamera(p);
    ASSERT_EQ(USBInitDevice(name_.c_str()), TAVCAM_INIT_OK);
    ClearLog();

    std::vector<uint8_t> info[3];
    void* infoPointers[3];
    for (int i = 0; i < 3; ++i) {
        info[i].assign(kW, 0xEE);
        infoPointers[i] = info[i].data();
    }
    sequence_.bSequence = 1;
    sequence_.nSequenceValue = 0x1234;
    sequence_.nSequenceFrames = 5;
    sequence_.bFrameInfo = 1;
    sequence_.ppFrameInfo = infoPointers;
    param_.nPictures = 2;
    param_.pSequence = &sequence_;
    ASSERT_EQ(Capture(), CAPEX_OK);

    const std::vector<config_test::Command> sent = {{8, 0x1A0, 0x1234, 5}};
    const std::vector<config_test::Command> commands = Commands();
    ASSERT_GE(commands.size(), 1u);
    EXPECT_EQ(commands.back(), sent[0]);
    for (uint32_t n = 0; n < 2; ++n) {
        std::vector<uint8_t> expected(buffers_[n].size(), 0x11);
        Apply(Expect::Copy8, RawFrame(2 + n, kW, 1), kW, kW, kH, 100, &expected);
        EXPECT_TRUE(buffers_[n] == expected) << "picture " << n;
        // The record: signature, count 2, the frame number and the seed.
        const std::vector<uint8_t> frame = RawFrame(2 + n, kW, 1);
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
    const FormatCase quazi = {"SequentialColour", Model::LongLayout, 255, 8, 24, Expect::Quazi};
    ASSERT_NO_FATAL_FAILURE(OpenCamera(quazi));
    for (uint32_t k = 0; k < 3; ++k) {
        buffers_[k].assign(3 * kW * kH, 0x11);
        ex_.pDirectBuffer[k] = buffers_[k].data();
    }
    param_.nPictures = 3;
    ASSERT_EQ(Capture(), CAPEX_OK);
    for (uint32_t n = 0; n < 3; ++n) {
        std::vector<uint8_t> expected(3 * kW * kH, 0x11);
        Apply(Expect::Quazi, RawFrame(n, kW, 1), kW, kW, kH, 100, &expected);
        EXPECT_TRUE(buffers_[n] == expected) << "picture " << n;
    }
    EXPECT_TRUE(traces_.Contains("Send QuaziColour Frame"));
}

// Direct mode: raw transfers go into the ring in order, nothing is converted
// or cleared, and pLastBuffer names the buffer of the last picture.
TEST_F(CaptureExTest, DirectModeFillsTheRingInOrder) {
    const FormatCase log12 = {"Log12", Model::TwoByteMarkers, 110, 16, 8, Expect::Log12};
    ASSERT_NO_FATAL_FAILURE(OpenCamera(log12, 64, 32));
    const uint64_t frameBytes = 64 * 2 * 36;
    const uint32_t T = (uint32_t)(65536 / frameBytes + 1);
    for (uint32_t k = 0; k < 3; ++k) buffers_[k].assign(T * frameBytes, 0x11);
    ex_.nBuffers = 3;
    param_.bDirectBuffer = 1;
    param_.nPictures = 4;
    ASSERT_EQ(Capture(), CAPEX_OK);
    // Transfers 0..3 went to buffers 0, 1, 2, 0.
    for (uint32_t t = 1; t < 4; ++t) {
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

// Every result, and a camera idle after each.
TEST_F(CaptureExTest, EveryResultLeavesTheCameraIdle) {
    ASSERT_NO_FATAL_FAILURE(OpenCamera(kMono8));
    void* readOnly = mmap(nullptr, kW * (kH + 4), PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    struct Ctx {
        sim::Server* server;
        int camera;
        CaptureSequence* seq;
        LiveVideoParamEx* ex;
        void* bad;
    };
    const Ctx ctx{server_, camera_, &sequence_, &ex_, readOnly};
    struct Case {
        const char* what;
        int32_t result;
        std::string requests;
        void (*set)(const Ctx&, CaptureFrameExParam*);
    } cases[] = {
        {"33 pictures", CAPEX_BAD_REQUEST, "",
         [](const Ctx&, CaptureFrameExParam* p) { p->nPictures = 33; }},
        {"a sequence of one frame", CAPEX_BAD_REQUEST, "",
         [](const Ctx& t, CaptureFrameExParam* p) {
             *t.seq = CaptureSequence{};
             t.seq->bSequence = 1;
             t.seq->nSequenceFrames = 1;
             p->pSequence = t.seq;
         }},
        {"a ring of no buffers", CAPEX_BAD_REQUEST, "",
         [](const Ctx& t, CaptureFrameExParam* p) {
             p->bDirectBuffer = 1;
             t.ex->nBuffers = 0;
         }},
        {"no LiveVideoParamEx", CAPEX_BAD_REQUEST, "",
         [](const Ctx&, CaptureFrameExParam* p) { p->pLiveVideoParamEx = nullptr; }},
        {"no colour table", CAPEX_NO_COLOUR_TABLE, "",
         [](const Ctx&, CaptureFrameExParam* p) { p->pColourTable = nullptr; }},
        {"a ring buffer too small", CAPEX_NO_BUFFER, "",
         [](const Ctx& t, CaptureFrameExParam* p) {
             p->bDirectBuffer = 1;
             t.ex->nBuffers = 2;
             t.ex->pDirectBuffer[1] = t.bad;
         }},
        {"window fails", CAPEX_WINDOW_FAILED, "",
         [](const Ctx& t, CaptureFrameExParam*) {
             sim::InjectFault(t.server, t.camera, sim::Fault::FailRequest,
                              tav::IOCTL_CAM_SEND_REQUEST, 1);
         }},
        {"the sequence command fails", CAPEX_START_FAILED, "",
         [](const Ctx& t, CaptureFrameExParam* p) {
             *t.seq = CaptureSequence{};
             t.seq->bSequence = 1;
             t.seq->nSequenceFrames = 2;
             p->pSequence = t.seq;
             // The four window writes pass; the 0x1A0 command after them fails.
             sim::InjectFault(t.server, t.camera, sim::Fault::FailRequest,
                              tav::IOCTL_CAM_SEND_REQUEST, 1, 4);
         }},
        {"FIFO reset fails", CAPEX_START_FAILED, "F1",
         [](const Ctx& t, CaptureFrameExParam*) {
             sim::InjectFault(t.server, t.camera, sim::Fault::FailRequest,
                              tav::IOCTL_CAM_SEND_REQUEST, 1, 4);
         }},
        {"stream start fails", CAPEX_START_FAILED, "F1S",
         [](const Ctx& t, CaptureFrameExParam*) {
             sim::InjectFault(t.server, t.camera, sim::Fault::FailRequest,
                              tav::IOCTL_CAM_START_STREAM, 1);
         }},
        {"read fails", CAPEX_READ_FAILED, "F1SRXF0",
         [](const Ctx& t, CaptureFrameExParam*) {
             sim::InjectFault(t.server, t.camera, sim::Fault::FailStreamRead,
                              tav::IOCTL_CAM_READ_STREAM, 1);
         }},
        {"only bad transfers", CAPEX_READ_FAILED, "F1S" + std::string(100, 'R') + "XF0",
         [](const Ctx& t, CaptureFrameExParam*) {
             sim::InjectFault(t.server, t.camera, sim::Fault::BadMarkers,
                              tav::IOCTL_CAM_READ_STREAM, 1000);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ClearLog();
        const CaptureFrameExParam saved = param_;
        c.set(ctx, &param_);
        param_.nWidth = 0xDEAD;
        EXPECT_EQ(Capture(), c.result);
        EXPECT_EQ(param_.nWidth, 0xDEADu);  // outputs only on success
        EXPECT_EQ(StreamRequests(), c.requests);
        EXPECT_TRUE(tav::CameraIdle(Slot().ReadParameters));
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
    ex_.pDirectBuffer[0] = readOnly;
    EXPECT_EQ(Capture(), CAPEX_OK);
    EXPECT_TRUE(traces_.Contains("Not enough memory for frame transfer"));
    EXPECT_EQ(StreamRequests(), "F1SRXF0");
    ex_.pDirectBuffer[0] = buffers_[0].data();
    munmap(readOnly, kW * (kH + 4));
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

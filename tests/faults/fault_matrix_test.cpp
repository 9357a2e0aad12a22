// The fault matrix: every exported call that talks to a camera, against every
// fault the simulator can inject, must give the result tavcam.h documents for
// it, within a bound, leak no handle, leave the camera idle, and leave the
// library usable: the same call without the fault then succeeds.
//
// One row per call, one column per fault (a few more faults share a column's
// results: Expected). The camera is a model-3 camera (it answers the busy
// query that USBInitDevice, USBSetFormat, USBSetScanArea and the live-video
// starts ask), initialised before every case, with transfers ready at once. A
// request that gets no answer fails after the platform's reply time-out,
// shortened here to kReplyTimeoutMs; a stream read has no time-out by design
// (a capture waits for its frame as long as the camera takes), so there the
// case checks that the call still waits and that unplugging the camera ends it.
#include <ctype.h>
#include <string.h>

#include <chrono>
#include <future>
#include <thread>

#include "config_fixture.h"
#include "platform/posix/devices/device_file.h"
#include "platform/posix/handle_table.h"

namespace {

using namespace std::chrono;

constexpr uint32_t kSend = tav::IOCTL_CAM_SEND_REQUEST;
constexpr uint32_t kReply = tav::IOCTL_CAM_READ_REPLY;
constexpr uint32_t kStart = tav::IOCTL_CAM_START_STREAM;
constexpr uint32_t kStop = tav::IOCTL_CAM_STOP_STREAM;
constexpr uint32_t kRead = tav::IOCTL_CAM_READ_STREAM;

constexpr uint32_t kReplyTimeoutMs = 1000;
// The longest a call may take: the protocol pauses cost nothing here, so this
// is one reply time-out with room for a loaded machine; a capture reads up to
// 100 transfers; a stop waits up to 6 s for a reader.
constexpr uint32_t kCallBoundMs = 4 * kReplyTimeoutMs;
constexpr uint32_t kCaptureBoundMs = 8000;
constexpr uint32_t kStopBoundMs = 8000;
constexpr uint32_t kEvery = 1000000;      // a fault count no call uses up
constexpr uint32_t kMiddle = 0xFFFFFFFF;  // the fault hits the row's middle request

// The faults. The first ten are the columns of a row's expected results; the
// ones after them give the results of a column before them (Expected).
// clang-format off
enum FaultKind {
    kRequestFails, kFetchFails, kShortReply, kBusy, kStartFails, kStopFails, kReadFails,
    kShortTransfer, kUnplug, kSilent, kTabled,
    kDropped = kTabled, kFlashWriteFails, kBadMarkers, kBadEndMarker, kTwoByteTransfer, kFaultCount
};
// clang-format on

// What a live-video start's reader does with each fault once the start
// returned 1: the start's own requests never meet the stream faults, its
// reader does.
enum class Reader : uint8_t {
    NotStarted,         // the start failed
    Runs,               // keeps reading good transfers
    RunsDropping,       // keeps reading, dropping every transfer for its size
    RunsDroppingMarks,  // keeps reading, dropping every transfer for its markers
    Ends,               // ends by itself (its stream start failed or went unanswered)
    EndsAfterRestarts,  // five failed reads: the first and four restarts
};

// How each fault is injected: the simulator's fault, the request it hits (0:
// any) and how many times (the busy status is set instead); and its reader.
// (A read of exactly 2 bytes passes the size check; the buffer it leaves then
// ends in a zero, not the end marker.)
struct Injection {
    const char* name;
    sim::Fault fault;
    uint32_t code, count;
    Reader reader;
};
const Injection kInjections[kFaultCount] = {
    // clang-format off
    {"request fails",      sim::Fault::FailRequest,       kSend,   kEvery, Reader::NotStarted},
    {"reply fetch fails",  sim::Fault::FailRequest,       kReply,  kEvery, Reader::NotStarted},
    {"short reply",        sim::Fault::ShortReply,        kReply,  kEvery, Reader::NotStarted},  // 2 of 64 bytes
    {"busy",               sim::Fault::FailRequest,       0,       0,      Reader::NotStarted},
    {"stream start fails", sim::Fault::FailRequest,       kStart,  kEvery, Reader::Ends},
    {"stream stop fails",  sim::Fault::FailRequest,       kStop,   kEvery, Reader::Runs},
    {"stream read fails",  sim::Fault::FailStreamRead,    kRead,   kEvery, Reader::EndsAfterRestarts},
    {"short transfer",     sim::Fault::WrongSizeTransfer, kRead,   kEvery, Reader::RunsDropping},  // a line short
    {"unplug",             sim::Fault::Unplug,            kMiddle, 1,      Reader::Ends},
    {"no answer",          sim::Fault::NoAnswer,          kMiddle, kEvery, Reader::Ends},
    {"connection dropped", sim::Fault::DropConnection,    kMiddle, 1,      Reader::Ends},  // closed unanswered
    {"flash write fails",  sim::Fault::FlashWriteError,   0,       kEvery, Reader::Runs},  // status bit 0x20
    {"bad markers",        sim::Fault::BadMarkers,        kRead,   kEvery, Reader::RunsDroppingMarks},
    {"bad end marker",     sim::Fault::BadEndMarker,      kRead,   kEvery, Reader::RunsDroppingMarks},
    {"two-byte transfers", sim::Fault::TwoByteTransfer,   kRead,   kEvery, Reader::RunsDroppingMarks},
    // clang-format on
};

// What a call works with; fresh for every case.
struct Work {
    const char* name;
    uint8_t buffer[4096];
    uint32_t a, b;
    uint8_t x, y;
    std::vector<std::vector<uint8_t>> pictures;
    std::vector<void*> pointers;
    uint32_t sat = 100;
    LiveVideoParamEx ex;
    CaptureFrameExParam exParam;
    CaptureParam param;
    LiveVideoParam window;
    LiveVideoRequest request;
    HANDLE frameEvent = nullptr;

    // The camera's pictures, 320 x 240 of up to 3 bytes a pixel; the block of
    // the event and callback starts: a picture and a colour table.
    void MakePictures(size_t count) {
        pictures.assign(count, std::vector<uint8_t>(320 * 240 * 3));
        pointers.clear();
        for (auto& p : pictures) pointers.push_back(p.data());
    }
    LiveVideoRequest* Request() {
        MakePictures(1);
        request = LiveVideoRequest{pointers[0], 0, buffer, nullptr, nullptr, nullptr};
        return &request;
    }
};

void WINAPI OnFrame(const char*, uint32_t*, uint32_t*, uint32_t, uintptr_t) {}

// USBGetSuppDeviceList gives no result: its row reports 100 x nCount + (1 when
// the camera's entry was written).
int32_t ListCameras(Work&) {
    CameraList list;
    memset(&list, 0xEE, sizeof list);
    USBGetSuppDeviceList(&list);
    return (int32_t)list.nCount * 100 + ((uint8_t)list.szNames[0][0] != 0xEE ? 1 : 0);
}
int32_t FlashWrite(Work& w) {
    memset(w.buffer, 0x5A, 102);
    return WriteDataToFlash(0, 2, 102, w.buffer);
}
int32_t Save(Work& w) {
    return USBSaveParams(w.name, 1);
}
int32_t Capture(Work& w) {
    w.MakePictures(2);
    w.param = CaptureParam{};
    w.param.nFrames = 2;
    w.param.pSatCoefficient = &w.sat;
    w.param.pColourTable = w.buffer;
    w.param.ppBuffers = w.pointers.data();
    return USBCaptureFrame(w.name, &w.param);
}
int32_t CaptureEx(Work& w) {
    w.MakePictures(2);
    memset(&w.ex, 0, sizeof w.ex);
    w.ex.nBuffers = 2;
    for (int k = 0; k < 2; ++k) w.ex.pDirectBuffer[k] = w.pointers[(size_t)k];
    w.exParam = CaptureFrameExParam{};
    w.exParam.nPictures = 2;
    w.exParam.pLiveVideoParamEx = &w.ex;
    w.exParam.pSatCoefficient = &w.sat;
    w.exParam.pColourTable = w.buffer;
    return USBCaptureFrameEx(w.name, &w.exParam);
}
int32_t LiveWindow(Work& w) {
    w.MakePictures(1);
    w.window = LiveVideoParam{};
    w.window.pImage = w.pointers[0];
    w.window.pColourTable = w.buffer;
    return USBLiveVideoStart(w.name, &w.window);
}
int32_t LiveEvent(Work& w) {
    LiveVideoRequest* request = w.Request();
    request->hFrameEvent = w.frameEvent;
    return USBLiveVideoStartEx(w.name, request);
}

enum class Before : uint8_t {
    Initialised,  // the camera initialised in this process
    Forgotten,    // a camera this process never initialised
    Changed,      // initialised, and its presets changed since (bChanged)
    Streaming,    // live video runs, its reader waiting for a transfer
};

// A row: the call, the camera before it, the request an unplug or a silence
// hits (a silent stream read: the call waits until the camera goes; a stream
// start: a live-video start, whose reader is checked too; a stream stop: the
// stop, which waits up to 6 s for a reader whose stream stop fails or gets no
// answer), the result without a fault and the result with each fault.
struct Row {
    const char* call;
    int32_t (*run)(Work&);
    Before before;
    uint32_t middle;
    int32_t ok;
    int32_t expected[kTabled];
    bool waitsForRead() const { return middle == kRead; }
    bool live() const { return middle == kStart; }
    uint32_t boundMs() const {
        return middle == kRead ? kCaptureBoundMs : middle == kStop ? kStopBoundMs : kCallBoundMs;
    }
};

// USBInitDevice of a camera new to the process asks no busy status: the model
// the cache holds decides, and it holds none yet. A live-video start returns 1
// whatever its reader then meets; the reader's part is checked apart.
const Row kRows[] = {
    // clang-format off
    //                                                                                      req fetch short busy start stop read shortT unplug silent
    {"USBGetSuppDeviceList", ListCameras, Before::Initialised, kReply, 101,                 {100, 100, 100, 101, 101, 101, 101, 101, 100, 100}},
    {"USBReset", [](Work& w) { return USBReset(w.name); }, Before::Initialised, kSend, 0,   {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    {"SendCommand", [](Work&) { return SendCommand(0, 8, 0x800, 5, 0); }, Before::Initialised, kSend, 1, {0, 1, 1, 1, 1, 1, 1, 1, 0, 0}},
    {"ReceiveStatus", [](Work& w) { return ReceiveStatus(0, 12, 0x1E08, &w.a, &w.b); }, Before::Initialised, kReply, 1, {0, 0, 0, 1, 1, 1, 1, 1, 0, 0}},
    {"GetCameraStatus", [](Work& w) -> int32_t { return GetCameraStatus(0, &w.a); }, Before::Initialised, kReply, 1, {0, 0, 0, 1, 1, 1, 1, 1, 0, 0}},
    {"ReadDataFromFlash", [](Work& w) { return ReadDataFromFlash(0, 0, TAVCAM_RECORD_BYTES, w.buffer); }, Before::Initialised, kReply, 1, {0, 0, 0, 1, 1, 1, 1, 1, 0, 0}},
    {"WriteDataToFlash", FlashWrite, Before::Initialised, kReply, 1,                         {0, 0, 0, 1, 1, 1, 1, 1, 0, 0}},
    {"SendI2C", [](Work&) { return SendI2C(0, 122, 0x10, 1, 2); }, Before::Initialised, kSend, 1, {0, 1, 1, 1, 1, 1, 1, 1, 0, 0}},
    {"ReceiveI2C", [](Work& w) { return ReceiveI2C(0, 122, 0x10, &w.x, &w.y); }, Before::Initialised, kReply, 1, {0, 0, 0, 1, 1, 1, 1, 1, 0, 0}},
    {"SendI2C_OneDataByte", [](Work&) { return SendI2C_OneDataByte(0, 122, 0x10, 7); }, Before::Initialised, kSend, 1, {0, 1, 1, 1, 1, 1, 1, 1, 0, 0}},
    {"SetRegister", [](Work& w) { return SetRegister(w.name, 0x10, 0x1234); }, Before::Initialised, kSend, 1, {0, 1, 1, 1, 1, 1, 1, 1, 0, 0}},
    {"USBGetCameraID", [](Work& w) { return USBGetCameraID(w.name, w.buffer); }, Before::Initialised, kReply, 1, {0, 0, 0, 1, 1, 1, 1, 1, 0, 0}},
    {"USBInitDevice", [](Work& w) { return USBInitDevice(w.name); }, Before::Forgotten, kReply, TAVCAM_INIT_OK, {0, 0, 0, 0x800, 0x800, 0x800, 0x800, 0x800, 0, 0}},
    {"USBInitDevice, presets changed", [](Work& w) { return USBInitDevice(w.name); }, Before::Changed, kReply, TAVCAM_INIT_OK, {0, 0, 0, 3, 0x800, 0x800, 0x800, 0x800, 0, 0}},
    {"USBSaveParams", Save, Before::Initialised, kReply, 1,                                  {0, 0, 0, 1, 1, 1, 1, 1, 0, 0}},
    {"USBLoadParams", [](Work& w) { return USBLoadParams(w.name, 1); }, Before::Initialised, kReply, 1, {0, 0, 0, 1, 1, 1, 1, 1, 0, 0}},
    {"USBSetFormat", [](Work& w) { return USBSetFormat(w.name, 1); }, Before::Initialised, kReply, 1, {0, 0, 0, 3, 1, 1, 1, 1, 0, 0}},
    {"USBSetScanArea", [](Work& w) { return USBSetScanArea(w.name, 0, 0, 64, 32); }, Before::Initialised, kReply, 1, {0, 0, 0, 3, 1, 1, 1, 1, 0, 0}},
    {"SetCameraWindow", [](Work&) { return SetCameraWindow(0, 0, 0, 64, 32, 1, 1, 1, 1); }, Before::Initialised, kSend, 1, {0, 1, 1, 1, 1, 1, 1, 1, 0, 0}},
    {"USBSetCameraFeature", [](Work& w) { return USBSetCameraFeature(w.name, FEATURE_BRIGHTNESS, 100); }, Before::Initialised, kSend, 1, {0, 1, 1, 1, 1, 1, 1, 1, 0, 0}},
    {"USBGetCameraFeature", [](Work& w) { return USBGetCameraFeature(w.name, 0x1E08, &w.a); }, Before::Initialised, kReply, 1, {0, 0, 0, 1, 1, 1, 1, 1, 0, 0}},
    {"USBSetOnOffFeature", [](Work& w) { return USBSetOnOffFeature(w.name, FEATURE_TRIGGER_MODE, 1); }, Before::Initialised, kSend, 1, {0, 1, 1, 1, 1, 1, 1, 1, 0, 0}},
    {"USBSetAutoFeature", [](Work& w) { return USBSetAutoFeature(w.name, FEATURE_AUTO_EXPOSURE, 1); }, Before::Initialised, kSend, 1, {0, 1, 1, 1, 1, 1, 1, 1, 0, 0}},
    {"USBSendTable", [](Work& w) { return USBSendTable(w.name, 3, 128, w.buffer); }, Before::Initialised, kSend, 1, {0, 1, 1, 1, 1, 1, 1, 1, 0, 0}},
    {"USBCaptureFrame", Capture, Before::Initialised, kRead, 1,                              {0, 1, 1, 1, 0, 1, 1, 1, 0, 0}},
    {"USBCaptureFrameEx", CaptureEx, Before::Initialised, kRead, CAPEX_OK,                   {CAPEX_WINDOW_FAILED, 0, 0, 0, CAPEX_START_FAILED, 0, CAPEX_READ_FAILED,
                                                                                              CAPEX_READ_FAILED, CAPEX_READ_FAILED, CAPEX_READ_FAILED}},
    {"USBLiveVideoStart", LiveWindow, Before::Initialised, kStart, 1,                        {0, 0, 0, 3, 1, 1, 1, 1, 1, 1}},
    {"USBLiveVideoStartEx", LiveEvent, Before::Initialised, kStart, 1,                       {0, 0, 0, 3, 1, 1, 1, 1, 1, 1}},
    {"USBVideoOnCallbackStart", [](Work& w) { return USBVideoOnCallbackStart(w.name, w.Request(), OnFrame, 0); }, Before::Initialised, kStart, 1, {0, 0, 0, 3, 1, 1, 1, 1, 1, 1}},
    {"USBLiveVideoStop", [](Work& w) { return USBLiveVideoStop(w.name); }, Before::Streaming, kStop, 1, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},
    // clang-format on
};

// A connection closed unanswered gives a row the results of an unplug;
// transfers with wrong markers or of two bytes those of short transfers; a
// flash write the camera reports failed fails the two calls that write flash
// and leaves the others alone.
int32_t Expected(const Row& row, FaultKind fault) {
    switch (fault) {
        case kDropped:
            return row.expected[kUnplug];
        case kBadMarkers:
        case kBadEndMarker:
        case kTwoByteTransfer:
            return row.expected[kShortTransfer];
        case kFlashWriteFails:
            return row.run == FlashWrite || row.run == Save ? 0 : row.ok;
        default:
            return row.expected[fault];
    }
}

// Waits until done() holds, at most ms.
template <typename Done>
bool WaitUntil(Done done, uint32_t ms) {
    const auto end = steady_clock::now() + milliseconds(ms);
    while (!done()) {
        if (steady_clock::now() > end) return false;
        std::this_thread::sleep_for(milliseconds(2));
    }
    return true;
}

class FaultMatrix : public config_test::ConfigTest, public ::testing::WithParamInterface<Row> {
  protected:
    void SetUp() override {
        ConfigTest::SetUp();
        savedTimeout_ = plat::posix::DeviceReplyTimeout();
        plat::posix::SetDeviceReplyTimeout(kReplyTimeoutMs);
        profile_ = sim::MakeProfile(sim::Model::Busy, "FaultCam", "cam0.sock");
        PlugCamera(profile_);
        sim::SetFramesPerSecond(server_, camera_, 0);
        work_.name = name_.c_str();
        work_.frameEvent = plat::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    }
    void TearDown() override {
        Recover();
        plat::CloseHandle(work_.frameEvent);
        plat::posix::SetDeviceReplyTimeout(savedTimeout_);
        ConfigTest::TearDown();
    }

    // The camera as the row needs it before the call.
    void Prepare(const Row& row) {
        memset(&Slot(), 0, sizeof Slot());
        tav::SetCameraChanged(0, false);
        if (row.before == Before::Forgotten) return;
        ASSERT_EQ(USBInitDevice(name_.c_str()), TAVCAM_INIT_OK);
        if (row.before == Before::Changed) tav::SetCameraChanged(0, true);
        if (row.before == Before::Streaming) {
            sim::GateTransfers(server_, camera_, true);
            ASSERT_EQ(LiveEvent(work_), 1);
            ASSERT_TRUE(sim::WaitForReadAtGate(server_, camera_, 5000));
        }
    }

    void Inject(FaultKind fault, const Row& row) {
        const Injection& i = kInjections[fault];
        if (fault == kBusy)
            sim::SetBusyStatus(server_, camera_, 1);
        else
            sim::InjectFault(server_, camera_, i.fault, i.code == kMiddle ? row.middle : i.code,
                             i.count);
    }

    // The camera back as it was: no fault, not busy, plugged, transfers free,
    // its flash as the profile has it, and no live video left running. A
    // reader that ended by itself keeps its thread handle recorded until the
    // next start closes it; the next case forgets the camera, so it is closed
    // here as that start would.
    void Recover() {
        sim::ClearFaults(server_, camera_);
        sim::SetBusyStatus(server_, camera_, 0);
        sim::PlugBack(server_, camera_);
        sim::GateTransfers(server_, camera_, false);
        sim::SetFlash(server_, camera_, 1, profile_.page1);
        tav::ReadParameters& rp = Slot().ReadParameters;
        HANDLE thread = tav::ReaderThreadOf(rp);
        if (!thread) return;
        const auto start = steady_clock::now();
        EXPECT_EQ(USBLiveVideoStop(name_.c_str()), 1);
        EXPECT_LT(steady_clock::now() - start, milliseconds(6500)) << "the stop took too long";
        EXPECT_TRUE(tav::CameraIdle(rp)) << "the camera is still held after the stop";
        if ((thread = tav::ReaderThreadOf(rp)) != nullptr) {
            EXPECT_EQ(plat::WaitForSingleObject(thread, 5000), (DWORD)WAIT_OBJECT_0);
            plat::CloseHandle(thread);
            tav::SetReaderThread(rp, nullptr);
        }
    }

    LiveVideoStatistics Statistics() {
        LiveVideoStatistics st;
        memset(&st, 0, sizeof st);
        EXPECT_EQ(USBGetLiveVideoStatistics(name_.c_str(), &st), 1);
        return st;
    }

    // What a started reader made of the fault: it keeps running (reading, or
    // dropping what it reads for the counted reason), or it ends.
    void CheckReader(FaultKind fault) {
        const tav::ReadParameters& rp = Slot().ReadParameters;
        auto idle = [&] { return tav::CameraIdle(rp); };
        const Reader reader = kInjections[fault].reader;
        uint32_t LiveVideoStatistics::*counted =
            reader == Reader::Runs           ? &LiveVideoStatistics::nTransfers
            : reader == Reader::RunsDropping ? &LiveVideoStatistics::nDroppedSize
                                             : &LiveVideoStatistics::nDroppedMarkers;
        if (reader == Reader::Runs || reader == Reader::RunsDropping ||
            reader == Reader::RunsDroppingMarks) {
            EXPECT_TRUE(WaitUntil([&] { return Statistics().*counted >= 3; }, kCallBoundMs))
                << "the reader read or dropped no transfers";
            if (reader != Reader::Runs) {
                EXPECT_EQ(Statistics().nTransfers, 0u);
            }
            EXPECT_FALSE(idle()) << "the reader ended";
        } else if (reader == Reader::Ends || reader == Reader::EndsAfterRestarts) {
            EXPECT_TRUE(WaitUntil(idle, kCallBoundMs)) << "the reader didn't end";
            const LiveVideoStatistics st = Statistics();
            if (reader == Reader::Ends) {
                EXPECT_EQ(st.nTransfers, 0u);
            } else {
                EXPECT_EQ(st.nReadFailures, 5u);
                EXPECT_EQ(st.nRestarts, 4u);
            }
        }
    }

    // Runs the call on a thread of its own, so a call that hangs fails the case
    // instead of the suite. Returns false when it didn't end within boundMs.
    bool RunBounded(const Row& row, uint32_t boundMs, std::future<int32_t>* result) {
        *result = std::async(std::launch::async, [&row, this] { return row.run(work_); });
        return result->wait_for(milliseconds(boundMs)) == std::future_status::ready;
    }

    sim::Profile profile_;
    Work work_;
    uint32_t savedTimeout_ = 0;
};

TEST_P(FaultMatrix, EachFaultGivesTheDocumentedResultAndLeavesTheLibraryUsable) {
    const Row& row = GetParam();
    // The call without a fault, which also sets the handles a call keeps
    // (an ended reader's thread stays recorded until the next start).
    Prepare(row);
    std::future<int32_t> result;
    ASSERT_TRUE(RunBounded(row, row.boundMs(), &result)) << row.call << " hangs without a fault";
    ASSERT_EQ(result.get(), row.ok) << row.call << " without a fault";
    Recover();
    const int handles = plat::posix::HandleCount();

    for (int f = 0; f < kFaultCount; ++f) {
        const FaultKind fault = (FaultKind)f;
        SCOPED_TRACE(std::string(row.call) + ", " + kInjections[f].name);
        Prepare(row);
        Inject(fault, row);
        const auto start = steady_clock::now();
        if (fault == kSilent && row.waitsForRead()) {
            // A capture waits for its frame as long as the camera takes: it
            // still waits, and it ends once the camera goes away.
            EXPECT_FALSE(RunBounded(row, 2 * kReplyTimeoutMs, &result)) << "didn't wait";
            sim::Unplug(server_, camera_);
            ASSERT_EQ(result.wait_for(milliseconds(row.boundMs())), std::future_status::ready)
                << "still waiting after the camera went";
        } else {
            bool ended = RunBounded(row, row.boundMs(), &result);
            if (!ended) sim::Unplug(server_, camera_);  // let it end before the next case
            ASSERT_TRUE(ended) << "took more than " << row.boundMs() << " ms";
        }
        const int32_t got = result.get();
        EXPECT_EQ(got, Expected(row, fault))
            << "after " << duration_cast<milliseconds>(steady_clock::now() - start).count()
            << " ms";
        if (row.live() && got == 1) CheckReader(fault);
        Recover();
        // A camera this process never initialised reads as held until an
        // initialisation succeeds; any other is given back.
        if (row.before != Before::Forgotten || got == row.ok) {
            EXPECT_TRUE(tav::CameraIdle(Slot().ReadParameters)) << "the camera is still held";
        }

        // Usable: the same call without the fault, then everything given back.
        Prepare(row);
        ASSERT_TRUE(RunBounded(row, row.boundMs(), &result)) << "hangs after the fault";
        EXPECT_EQ(result.get(), row.ok) << "fails after the fault";
        Recover();
        EXPECT_TRUE(tav::CameraIdle(Slot().ReadParameters)) << "the camera is still held";
        EXPECT_EQ(plat::posix::HandleCount(), handles) << "handles leaked";
    }
}

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.call;
}

INSTANTIATE_TEST_SUITE_P(EveryCall, FaultMatrix, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) {
                             std::string name;
                             for (const char* c = info.param.call; *c; ++c)
                                 if (isalnum((unsigned char)*c) || *c == '_')
                                     name += *c;
                                 else if (*c == ' ')
                                     name += '_';
                             return name;
                         });

}  // namespace

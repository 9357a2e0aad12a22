// The fault matrix: every exported call that talks to a camera, against every
// fault the simulator can inject, must give the result tavcam.h documents for
// it, within a bound, leak no handle, leave the camera idle, and leave the
// library usable: the same call without the fault then succeeds.
//
// One row per call (the table below), one column per fault (a few more faults
// share a column's results: Expected). The camera is a
// model-3 camera (it answers the busy query that USBInitDevice, USBSetFormat,
// USBSetScanArea and the live-video starts ask), initialised before every
// case, with transfers ready at once. A request that gets no answer fails
// after the platform's reply time-out, shortened here to kReplyTimeoutMs; a
// stream read has no time-out by design (a capture waits for its frame as long
// as the camera takes), so there the case checks that the call still waits and
// that unplugging the camera ends it.
#include <ctype.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <future>
#include <thread>

#include "config_fixture.h"
#include "platform/posix/devices/device_file.h"
#include "platform/posix/handle_table.h"

namespace {

using namespace std::chrono;
using config_test::ConfigTest;

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
constexpr uint32_t kEvery = 1000000;  // a fault count no call uses up

// The faults. The first ten are the columns of a row's expected results; the
// ones after them give the results of a column before them (Expected).
enum FaultKind {
    kRequestFails,   // every IOCTL_CAM_SEND_REQUEST fails
    kFetchFails,     // every reply fetch fails
    kShortReply,     // every reply fetch returns 2 of its 64 bytes
    kBusy,           // the busy query answers 1
    kStartFails,     // the stream start fails
    kStopFails,      // every stream stop fails
    kReadFails,      // every stream read fails
    kShortTransfer,  // every transfer is one line short
    kUnplug,         // the camera is unplugged during the row's middle request
    kSilent,         // the camera stops answering at the row's middle request
    kTabled,
    kDropped = kTabled,  // the row's middle request gets no answer and its connection closes
    kFlashWriteFails,    // every flash status poll reports a failed write (bit 0x20)
    kBadMarkers,         // every transfer has wrong start and end markers
    kBadEndMarker,       // every transfer has a wrong end marker
    kTwoByteTransfer,    // every transfer is 2 bytes
    kFaultCount
};
const char* const kFaultNames[kFaultCount] = {"request fails",
                                              "reply fetch fails",
                                              "short reply",
                                              "busy",
                                              "stream start fails",
                                              "stream stop fails",
                                              "stream read fails",
                                              "short transfer",
                                              "unplug",
                                              "no answer",
                                              "connection dropped",
                                              "flash write fails",
                                              "bad markers",
                                              "bad end marker",
                                              "two-byte transfers"};

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
};

void WINAPI OnFrame(const char*, uint32_t*, uint32_t*, uint32_t, uintptr_t) {}

// The camera's pictures: 320 x 240, up to 3 bytes a pixel.
void MakePictures(Work& w, size_t count) {
    w.pictures.assign(count, std::vector<uint8_t>(320 * 240 * 3));
    w.pointers.clear();
    for (auto& p : w.pictures) w.pointers.push_back(p.data());
}

int32_t ListCameras(Work&) {
    CameraList list;
    memset(&list, 0xEE, sizeof list);
    USBGetSuppDeviceList(&list);
    const int32_t entry = (uint8_t)list.szNames[0][0] != 0xEE ? 1 : 0;
    return (int32_t)list.nCount * 100 + entry;
}
int32_t Reset(Work& w) {
    return USBReset(w.name);
}
int32_t Command(Work&) {
    return SendCommand(0, 8, 0x800, 5, 0);
}
int32_t Status(Work& w) {
    return ReceiveStatus(0, 12, 0x1E08, &w.a, &w.b);
}
int32_t Busy(Work& w) {
    return GetCameraStatus(0, &w.a);
}
int32_t FlashRead(Work& w) {
    return ReadDataFromFlash(0, 0, TAVCAM_RECORD_BYTES, w.buffer);
}
int32_t FlashWrite(Work& w) {
    memset(w.buffer, 0x5A, 102);
    return WriteDataToFlash(0, 2, 102, w.buffer);
}
int32_t I2CWrite(Work&) {
    return SendI2C(0, 122, 0x10, 1, 2);
}
int32_t I2CRead(Work& w) {
    return ReceiveI2C(0, 122, 0x10, &w.x, &w.y);
}
int32_t I2CByte(Work&) {
    return SendI2C_OneDataByte(0, 122, 0x10, 7);
}
int32_t Register(Work& w) {
    return SetRegister(w.name, 0x10, 0x1234);
}
int32_t Identification(Work& w) {
    return USBGetCameraID(w.name, w.buffer);
}
int32_t InitNew(Work& w) {
    return USBInitDevice(w.name);
}
int32_t Save(Work& w) {
    return USBSaveParams(w.name, 1);
}
int32_t Load(Work& w) {
    return USBLoadParams(w.name, 1);
}
int32_t Format(Work& w) {
    return USBSetFormat(w.name, 1);
}
int32_t ScanArea(Work& w) {
    return USBSetScanArea(w.name, 0, 0, 64, 32);
}
int32_t Window(Work&) {
    return SetCameraWindow(0, 0, 0, 64, 32, 1, 1, 1, 1);
}
int32_t SetFeature(Work& w) {
    return USBSetCameraFeature(w.name, FEATURE_BRIGHTNESS, 100);
}
int32_t GetFeature(Work& w) {
    return USBGetCameraFeature(w.name, 0x1E08, &w.a);
}
int32_t OnOff(Work& w) {
    return USBSetOnOffFeature(w.name, FEATURE_TRIGGER_MODE, 1);
}
int32_t Auto(Work& w) {
    return USBSetAutoFeature(w.name, FEATURE_AUTO_EXPOSURE, 1);
}
int32_t Table(Work& w) {
    return USBSendTable(w.name, 3, 128, w.buffer);
}
int32_t Capture(Work& w) {
    MakePictures(w, 2);
    w.param = CaptureParam{};
    w.param.nFrames = 2;
    w.param.pSatCoefficient = &w.sat;
    w.param.pColourTable = w.buffer;
    w.param.ppBuffers = w.pointers.data();
    return USBCaptureFrame(w.name, &w.param);
}
int32_t CaptureEx(Work& w) {
    MakePictures(w, 2);
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
    MakePictures(w, 1);
    w.window = LiveVideoParam{};
    w.window.pImage = w.pointers[0];
    w.window.pColourTable = w.buffer;
    return USBLiveVideoStart(w.name, &w.window);
}
// The block of the event and callback starts: a picture and a colour table.
LiveVideoRequest* Request(Work& w) {
    MakePictures(w, 1);
    w.request = LiveVideoRequest{};
    w.request.pImage = w.pointers[0];
    w.request.pColourTable = w.buffer;
    return &w.request;
}
int32_t LiveEvent(Work& w) {
    LiveVideoRequest* request = Request(w);
    request->hFrameEvent = w.frameEvent;
    return USBLiveVideoStartEx(w.name, request);
}
int32_t LiveCallback(Work& w) {
    return USBVideoOnCallbackStart(w.name, Request(w), OnFrame, 0);
}
int32_t Stop(Work& w) {
    return USBLiveVideoStop(w.name);
}

enum class Before : uint8_t {
    Initialised,  // the camera initialised in this process
    Forgotten,    // a camera this process never initialised
    Changed,      // initialised, and its presets changed since (bChanged)
    Streaming,    // live video runs, its reader waiting for a transfer
};

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
// (A read of exactly 2 bytes passes the size check; the buffer it leaves then
// ends in a zero, not the end marker.)
const Reader kReaderAfter[kFaultCount] = {Reader::NotStarted,
                                          Reader::NotStarted,
                                          Reader::NotStarted,
                                          Reader::NotStarted,
                                          Reader::Ends,
                                          Reader::Runs,
                                          Reader::EndsAfterRestarts,
                                          Reader::RunsDropping,
                                          Reader::Ends,
                                          Reader::Ends,
                                          Reader::Ends,
                                          Reader::Runs,
                                          Reader::RunsDroppingMarks,
                                          Reader::RunsDroppingMarks,
                                          Reader::RunsDroppingMarks};

struct Row {
    const char* call;
    int32_t (*run)(Work&);
    Before before;
    uint32_t middle;    // the request an unplug or a silence hits
    bool waitsForRead;  // a silent stream read: the call waits until the camera goes
    uint32_t boundMs;   // the longest the call may take (faults that cost time-outs included)
    bool live;          // a live-video start: its reader is checked too (kReaderAfter)
    int32_t ok;         // the result without a fault
    int32_t expected[kTabled];
};

// USBGetSuppDeviceList gives no result: its row reports 100 x nCount + (1 when
// the camera's entry was written). USBInitDevice of a camera new to the
// process asks no busy status: the model the cache holds decides, and it holds
// none yet. A live-video start returns 1 whatever its reader then meets; the
// reader's part is checked apart (kReaderAfter). USBLiveVideoStop waits up
// to 6 s for a reader whose stream stop fails or gets no answer.
const Row kRows[] = {
    // clang-format off
    //                                                                   req fetch short busy start stop read shortT unplug silent
    {"USBGetSuppDeviceList", ListCameras, Before::Initialised, kReply, false, kCallBoundMs, false, 101,
                                                                       {100, 100, 100, 101, 101, 101, 101, 101, 100, 100}},
    {"USBReset",            Reset,       Before::Initialised, kSend,  false, kCallBoundMs, false, 0, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    {"SendCommand",         Command,     Before::Initialised, kSend,  false, kCallBoundMs, false, 1, {0, 1, 1, 1, 1, 1, 1, 1, 0, 0}},
    {"ReceiveStatus",       Status,      Before::Initialised, kReply, false, kCallBoundMs, false, 1, {0, 0, 0, 1, 1, 1, 1, 1, 0, 0}},
    {"GetCameraStatus",     Busy,        Before::Initialised, kReply, false, kCallBoundMs, false, 1, {0, 0, 0, 1, 1, 1, 1, 1, 0, 0}},
    {"ReadDataFromFlash",   FlashRead,   Before::Initialised, kReply, false, kCallBoundMs, false, 1, {0, 0, 0, 1, 1, 1, 1, 1, 0, 0}},
    {"WriteDataToFlash",    FlashWrite,  Before::Initialised, kReply, false, kCallBoundMs, false, 1, {0, 0, 0, 1, 1, 1, 1, 1, 0, 0}},
    {"SendI2C",             I2CWrite,    Before::Initialised, kSend,  false, kCallBoundMs, false, 1, {0, 1, 1, 1, 1, 1, 1, 1, 0, 0}},
    {"ReceiveI2C",          I2CRead,     Before::Initialised, kReply, false, kCallBoundMs, false, 1, {0, 0, 0, 1, 1, 1, 1, 1, 0, 0}},
    {"SendI2C_OneDataByte", I2CByte,     Before::Initialised, kSend,  false, kCallBoundMs, false, 1, {0, 1, 1, 1, 1, 1, 1, 1, 0, 0}},
    {"SetRegister",         Register,    Before::Initialised, kSend,  false, kCallBoundMs, false, 1, {0, 1, 1, 1, 1, 1, 1, 1, 0, 0}},
    {"USBGetCameraID",      Identification, Before::Initialised, kReply, false, kCallBoundMs, false, 1, {0, 0, 0, 1, 1, 1, 1, 1, 0, 0}},
    {"USBInitDevice",       InitNew,     Before::Forgotten,   kReply, false, kCallBoundMs, false, TAVCAM_INIT_OK,
                                                                       {0, 0, 0, 0x800, 0x800, 0x800, 0x800, 0x800, 0, 0}},
    {"USBInitDevice, presets changed", InitNew, Before::Changed, kReply, false, kCallBoundMs, false, TAVCAM_INIT_OK,
                                                                       {0, 0, 0, 3, 0x800, 0x800, 0x800, 0x800, 0, 0}},
    {"USBSaveParams",       Save,        Before::Initialised, kReply, false, kCallBoundMs, false, 1, {0, 0, 0, 1, 1, 1, 1, 1, 0, 0}},
    {"USBLoadParams",       Load,        Before::Initialised, kReply, false, kCallBoundMs, false, 1, {0, 0, 0, 1, 1, 1, 1, 1, 0, 0}},
    {"USBSetFormat",        Format,      Before::Initialised, kReply, false, kCallBoundMs, false, 1, {0, 0, 0, 3, 1, 1, 1, 1, 0, 0}},
    {"USBSetScanArea",      ScanArea,    Before::Initialised, kReply, false, kCallBoundMs, false, 1, {0, 0, 0, 3, 1, 1, 1, 1, 0, 0}},
    {"SetCameraWindow",     Window,      Before::Initialised, kSend,  false, kCallBoundMs, false, 1, {0, 1, 1, 1, 1, 1, 1, 1, 0, 0}},
    {"USBSetCameraFeature", SetFeature,  Before::Initialised, kSend,  false, kCallBoundMs, false, 1, {0, 1, 1, 1, 1, 1, 1, 1, 0, 0}},
    {"USBGetCameraFeature", GetFeature,  Before::Initialised, kReply, false, kCallBoundMs, false, 1, {0, 0, 0, 1, 1, 1, 1, 1, 0, 0}},
    {"USBSetOnOffFeature",  OnOff,       Before::Initialised, kSend,  false, kCallBoundMs, false, 1, {0, 1, 1, 1, 1, 1, 1, 1, 0, 0}},
    {"USBSetAutoFeature",   Auto,        Before::Initialised, kSend,  false, kCallBoundMs, false, 1, {0, 1, 1, 1, 1, 1, 1, 1, 0, 0}},
    {"USBSendTable",        Table,       Before::Initialised, kSend,  false, kCallBoundMs, false, 1, {0, 1, 1, 1, 1, 1, 1, 1, 0, 0}},
    {"USBCaptureFrame",     Capture,     Before::Initialised, kRead,  true, kCaptureBoundMs, false, 1, {0, 1, 1, 1, 0, 1, 1, 1, 0, 0}},
    {"USBCaptureFrameEx",   CaptureEx,   Before::Initialised, kRead,  true, kCaptureBoundMs, false, CAPEX_OK,
                                                                       {CAPEX_WINDOW_FAILED, 0, 0, 0, CAPEX_START_FAILED, 0,
                                                                        CAPEX_READ_FAILED, CAPEX_READ_FAILED, CAPEX_READ_FAILED,
                                                                        CAPEX_READ_FAILED}},
    {"USBLiveVideoStart",   LiveWindow,  Before::Initialised, kStart, false, kCallBoundMs, true, 1, {0, 0, 0, 3, 1, 1, 1, 1, 1, 1}},
    {"USBLiveVideoStartEx", LiveEvent,   Before::Initialised, kStart, false, kCallBoundMs, true, 1, {0, 0, 0, 3, 1, 1, 1, 1, 1, 1}},
    {"USBVideoOnCallbackStart", LiveCallback, Before::Initialised, kStart, false, kCallBoundMs, true, 1, {0, 0, 0, 3, 1, 1, 1, 1, 1, 1}},
    {"USBLiveVideoStop",    Stop,        Before::Streaming,   kStop,  false, kStopBoundMs, false, 1, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},
    // clang-format on
};

// How each fault is injected: the simulator's fault, the request it hits (0:
// any; kMiddle: the row's middle request) and how many times. The busy status
// is set instead (kBusy).
constexpr uint32_t kMiddle = 0xFFFFFFFF;
struct Injection {
    sim::Fault fault;
    uint32_t code;
    uint32_t count;
};
const Injection kInjections[kFaultCount] = {
    {sim::Fault::FailRequest, kSend, kEvery},
    {sim::Fault::FailRequest, kReply, kEvery},
    {sim::Fault::ShortReply, kReply, kEvery},
    {sim::Fault::FailRequest, 0, 0},  // kBusy: not a fault of a request
    {sim::Fault::FailRequest, kStart, kEvery},
    {sim::Fault::FailRequest, kStop, kEvery},
    {sim::Fault::FailStreamRead, kRead, kEvery},
    {sim::Fault::WrongSizeTransfer, kRead, kEvery},
    {sim::Fault::Unplug, kMiddle, 1},
    {sim::Fault::NoAnswer, kMiddle, kEvery},
    {sim::Fault::DropConnection, kMiddle, 1},
    {sim::Fault::FlashWriteError, 0, kEvery},
    {sim::Fault::BadMarkers, kRead, kEvery},
    {sim::Fault::BadEndMarker, kRead, kEvery},
    {sim::Fault::TwoByteTransfer, kRead, kEvery},
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

class FaultMatrix : public ConfigTest, public ::testing::WithParamInterface<Row> {
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
        if (fault == kBusy) {
            sim::SetBusyStatus(server_, camera_, 1);
            return;
        }
        const Injection& i = kInjections[fault];
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

    // What a started reader made of the fault.
    void CheckReader(FaultKind fault) {
        const tav::ReadParameters& rp = Slot().ReadParameters;
        auto idle = [&] { return tav::CameraIdle(rp); };
        switch (kReaderAfter[fault]) {
            case Reader::NotStarted:
                break;
            case Reader::Runs:
                EXPECT_TRUE(WaitUntil([&] { return Statistics().nTransfers >= 3; }, kCallBoundMs))
                    << "the reader read no transfers";
                EXPECT_FALSE(idle()) << "the reader ended";
                break;
            case Reader::RunsDropping:
                EXPECT_TRUE(WaitUntil([&] { return Statistics().nDroppedSize >= 3; }, kCallBoundMs))
                    << "the reader dropped no transfers";
                EXPECT_EQ(Statistics().nTransfers, 0u);
                EXPECT_FALSE(idle()) << "the reader ended";
                break;
            case Reader::RunsDroppingMarks:
                EXPECT_TRUE(
                    WaitUntil([&] { return Statistics().nDroppedMarkers >= 3; }, kCallBoundMs))
                    << "the reader dropped no transfers";
                EXPECT_EQ(Statistics().nTransfers, 0u);
                EXPECT_FALSE(idle()) << "the reader ended";
                break;
            case Reader::Ends:
                EXPECT_TRUE(WaitUntil(idle, kCallBoundMs)) << "the reader didn't end";
                EXPECT_EQ(Statistics().nTransfers, 0u);
                break;
            case Reader::EndsAfterRestarts: {
                EXPECT_TRUE(WaitUntil(idle, kCallBoundMs)) << "the reader didn't end";
                LiveVideoStatistics st = Statistics();
                EXPECT_EQ(st.nReadFailures, 5u);
                EXPECT_EQ(st.nRestarts, 4u);
                break;
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
    ASSERT_TRUE(RunBounded(row, row.boundMs, &result)) << row.call << " hangs without a fault";
    ASSERT_EQ(result.get(), row.ok) << row.call << " without a fault";
    Recover();
    const int handles = plat::posix::HandleCount();

    for (int f = 0; f < kFaultCount; ++f) {
        const FaultKind fault = (FaultKind)f;
        SCOPED_TRACE(std::string(row.call) + ", " + kFaultNames[f]);
        Prepare(row);
        Inject(fault, row);
        const auto start = steady_clock::now();
        if (fault == kSilent && row.waitsForRead) {
            // A capture waits for its frame as long as the camera takes: it
            // still waits, and it ends once the camera goes away.
            EXPECT_FALSE(RunBounded(row, 2 * kReplyTimeoutMs, &result)) << "didn't wait";
            sim::Unplug(server_, camera_);
            ASSERT_EQ(result.wait_for(milliseconds(row.boundMs)), std::future_status::ready)
                << "still waiting after the camera went";
        } else {
            bool ended = RunBounded(row, row.boundMs, &result);
            if (!ended) sim::Unplug(server_, camera_);  // let it end before the next case
            ASSERT_TRUE(ended) << "took more than " << row.boundMs << " ms";
        }
        const int32_t got = result.get();
        EXPECT_EQ(got, Expected(row, fault))
            << "after " << duration_cast<milliseconds>(steady_clock::now() - start).count()
            << " ms";
        if (row.live && got == 1) CheckReader(fault);
        Recover();
        // A camera this process never initialised reads as held until an
        // initialisation succeeds; any other is given back.
        if (row.before != Before::Forgotten || got == row.ok) {
            EXPECT_TRUE(tav::CameraIdle(Slot().ReadParameters)) << "the camera is still held";
        }

        // Usable: the same call without the fault, then everything given back.
        Prepare(row);
        ASSERT_TRUE(RunBounded(row, row.boundMs, &result)) << "hangs after the fault";
        EXPECT_EQ(result.get(), row.ok) << "fails after the fault";
        Recover();
        EXPECT_TRUE(tav::CameraIdle(Slot().ReadParameters)) << "the camera is still held";
        EXPECT_EQ(plat::posix::HandleCount(), handles) << "handles leaked";
    }
}

// Rows print as their call's name.
void PrintTo(const Row& row, std::ostream* out) {
    *out << row.call;
}

std::string RowName(const ::testing::TestParamInfo<Row>& info) {
    std::string name;
    for (const char* c = info.param.call; *c; ++c)
        if (isalnum((unsigned char)*c) || *c == '_')
            name += *c;
        else if (*c == ' ')
            name += '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(EveryCall, FaultMatrix, ::testing::ValuesIn(kRows), RowName);

}  // namespace
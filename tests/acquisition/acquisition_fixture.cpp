#include "acquisition_fixture.h"

#include <string.h>
#include <sys/mman.h>

#include "acquisition/convert/convert.h"
#include "device/device.h"

namespace acquisition_test {

const uint8_t* ColourTable() {
    // Entry B << 16 | G << 8 | R holds (R ^ 0x5A, B, G + 1): a table that is
    // neither the identity nor blind to any channel.
    static std::vector<uint8_t> table = [] {
        std::vector<uint8_t> t((size_t)3 << 24);
        for (uint32_t i = 0; i < (1u << 24); ++i) {
            t[3 * (size_t)i] = (uint8_t)((i & 0xFF) ^ 0x5A);
            t[3 * (size_t)i + 1] = (uint8_t)(i >> 16);
            t[3 * (size_t)i + 2] = (uint8_t)((i >> 8) + 1);
        }
        return t;
    }();
    return table.data();
}

void AcquisitionTest::TearDown() {
    // No reader may outlive the test's buffers.
    for (int i = 0; i < tav::kMaxCameras; ++i) {
        const tav::ReadParameters& rp = tav::g_DeviceTable[i].ReadParameters;
        if (tav::CameraIdle(rp) || !tav::ReaderThreadOf(rp)) continue;
        std::string name = "X-" + std::to_string(i);
        USBLiveVideoStop(name.c_str());
    }
    ConfigTest::TearDown();
}

void AcquisitionTest::OpenCamera(const FormatCase& format, uint32_t width, uint32_t height,
                                 uint32_t framesPerSecond, bool frameInfo) {
    sim::Profile p = sim::MakeFormatProfile(format.model, "AcqCam", "cam0.sock", format.code,
                                            format.rawBits, format.outBits, true);
    p.framesPerSecond = framesPerSecond;
    p.frameInfo = frameInfo_ = frameInfo;
    seed_ = p.seed;
    model_ = sim::ProfileModel(p);
    PlugCamera(p);
    ASSERT_EQ(USBInitDevice(name_.c_str()), TAVCAM_INIT_OK);
    if (width) {
        ASSERT_EQ(USBSetScanArea(name_.c_str(), 0, 0, width, height), 1);
    }
    ClearLog();
}

void AcquisitionTest::RestartSimulator() {
    sim::Stop(server_);
    server_ = sim::Start(dir_.path);
    ASSERT_NE(server_, nullptr);
    sim::SetClock(server_, plat::Now);
}

int32_t AcquisitionTest::CaptureInto(void** buffers, uint32_t frames, const char* name) {
    uint32_t sat = 100;
    CaptureParam param{};
    param.nFrames = frames;
    param.pSatCoefficient = &sat;
    param.pColourTable = (void*)ColourTable();
    param.ppBuffers = buffers;
    return USBCaptureFrame(name ? name : name_.c_str(), &param);
}

std::vector<uint8_t> AcquisitionTest::RawFrame(uint32_t number, uint32_t streamWidth,
                                               uint32_t bytesPerPixel) {
    sim::FrameSpec spec;
    spec.seed = seed_;
    spec.frameNumber = number;
    spec.width = streamWidth;
    spec.linesPlus4 = Slot().ImgHeight + 4;
    spec.bytesPerPixel = bytesPerPixel;
    spec.cameraModel = model_;
    spec.frameInfo = frameInfo_;
    return sim::MakeFrame(spec);
}

void AcquisitionTest::Apply(Expect expect, const std::vector<uint8_t>& frame, uint64_t lineBytes,
                            uint32_t w, uint32_t h, uint32_t sat, std::vector<uint8_t>* picture) {
    typedef void (*Routine)(const uint8_t*, uint8_t*, uint32_t, uint32_t);
    // By Expect; the colour table and sequential colour are applied apart.
    // clang-format off
    static const Routine kRoutines[] = {
        tav::BayerToBGR24, tav::UYVYToBGR24, nullptr, tav::MonoCopy8, tav::FieldMerge8,
        tav::Mono16To8Shift, tav::Mono10To8Log, tav::Mono12To8Log, tav::Mono12To8LogInterlaced,
        nullptr, nullptr};
    // clang-format on
    const uint8_t* src = frame.data() + 2 * lineBytes;
    if (expect == Expect::Bayer && sat != 100)
        tav::BayerToBGR24Table(src, picture->data(), w, h, ColourTable());
    else if (expect == Expect::Quazi)
        tav::QuaziColourInsert(src, picture->data(), w, h, frame[lineBytes + 21]);
    else if (kRoutines[(int)expect])
        kRoutines[(int)expect](src, picture->data(), w, h);
}

std::vector<uint8_t> AcquisitionTest::BayerPicture(uint32_t number, uint32_t sat) {
    std::vector<uint8_t> picture(kPictureBytes);
    Apply(Expect::Bayer, RawFrame(number, kW, 1), kW, kW, kH, sat, &picture);
    return picture;
}

std::vector<std::vector<uint32_t>> AcquisitionTest::StreamStarts() {
    std::vector<std::vector<uint32_t>> out;
    for (const sim::Request& r : Log()) {
        if (r.code != tav::IOCTL_CAM_START_STREAM || r.input.size() != 36) continue;
        std::vector<uint32_t> words(9);
        for (int i = 0; i < 9; ++i) memcpy(&words[i], r.input.data() + 4 * i, 4);
        out.push_back(words);
    }
    return out;
}

std::string AcquisitionTest::StreamRequests() {
    std::string out;
    for (const sim::Request& r : Log()) {
        switch (r.code) {
            case tav::IOCTL_CAM_SEND_REQUEST:
                if (r.input.size() >= 11 && r.input[9] == tav::CMD_FIFO_RESET)
                    out += r.input[10] ? "F1" : "F0";
                break;
            case tav::IOCTL_CAM_START_STREAM:
                out += 'S';
                break;
            case tav::IOCTL_CAM_READ_STREAM:
                out += 'R';
                break;
            case tav::IOCTL_CAM_STOP_STREAM:
                out += 'X';
                break;
        }
    }
    return out;
}

namespace {

LRESULT CALLBACK NoticeProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
    return plat::DefWindowProcA(hwnd, msg, w, l);
}

}  // namespace

NoticeWindow::NoticeWindow() {
    static bool registered = [] {
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = NoticeProc;
        wc.lpszClassName = "AcquisitionTestNotices";
        return plat::RegisterClassExA(&wc) != 0;
    }();
    if (registered)
        hwnd = plat::CreateWindowExA(0, "AcquisitionTestNotices", "notices", 0, 0, 0, 1, 1,
                                     HWND_MESSAGE, nullptr, nullptr, nullptr);
}

NoticeWindow::~NoticeWindow() {
    if (hwnd) plat::DestroyWindow(hwnd);
}

uint32_t NoticeWindow::Pump() {
    MSG msg;
    while (plat::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_LIVE_FRAME) ++frames;
        if (msg.message == WM_LIVE_ERROR && msg.lParam == LIVE_ERR_NO_ROOM) ++noRoom;
        if (msg.message == WM_LIVE_ERROR && msg.lParam == LIVE_ERR_SIZE) ++wrongSize;
    }
    return frames;
}

Protected::Protected(size_t bytes, int prot) : size(bytes) {
    data = (uint8_t*)mmap(nullptr, bytes, prot, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
}
Protected::~Protected() {
    munmap(data, size);
}
void Protected::Allow() {
    mprotect(data, size, PROT_READ | PROT_WRITE);
}

void WINAPI IgnoreFrame(const char*, uint32_t*, uint32_t*, uint32_t, uintptr_t) {}

int32_t StartLive(uint32_t mode, const char* name, LiveVideoRequest* request, HWND hwnd,
                  LiveVideoCallback callback, uintptr_t context) {
    if (mode == LIVE_MODE_EVENT) return USBLiveVideoStartEx(name, request);
    if (mode == LIVE_MODE_CALLBACK)
        return USBVideoOnCallbackStart(name, request, callback, context);
    LiveVideoParam param{};
    param.hWnd = hwnd;
    param.pImage = request->pImage;
    param.pColourTable = request->pColourTable;
    return USBLiveVideoStart(name, &param);
}

}  // namespace acquisition_test

// Fuzzes the camera's image stream: the transfers that USBCaptureFrame,
// USBCaptureFrameEx and the live-video reader read - their sizes, start and
// end markers, the sequential-colour channel bytes and the frame-information
// lines - on every format the loops convert.
//
// Input:
//   byte    format (modulo the formats below)
//   2 bytes scan area: width 32 + 4 (b % 16), height 16 + 2 (b % 16)
//   byte    call: capture, extended capture converting or into a ring of
//           direct buffers, live video in event mode or in callback mode
//           with direct buffers (modulo 5)
//   byte    pictures (1 + b % 4)
//   byte    flags: bit 0 saturation 100 (else 50: the colour table),
//           bit 1 a frame sequence, bit 2 frame information, bit 3 ppRawFrame
//   then, for every stream read, what the camera sends: the simulator's
//   transfer (frames of the format, exact size, right markers) changed by
//     byte  bit 2 the read fails; bits 0-1 the size: exact, 2 bytes, short
//           by 1 + the next byte, or long by 1 + the next byte (cut to the
//           capacity); bits 4-6 the number of patches that follow
//     patch byte frame (modulo the frames of a transfer), byte where
//           (0 first byte of the transfer, 1 its last byte, 2 the frame's
//           channel byte, 3 the frame's first byte, else byte (where - 4) % 32
//           of the frame's second line: the information record), byte value.
//   Past the end of the input every read fails, which ends every loop: the
//   captures at once, the reader after its restarts.
// Pictures and direct buffers are heap blocks of exactly the size the header
// asks the caller for, so a byte written outside them is a sanitizer report.
#include <mutex>

#include "config/device_table.h"
#include "fuzz/camera_fuzz.h"
#include "platform/platform.h"
#include "tavcam.h"

namespace {

using camera_fuzz::Finding;
using camera_fuzz::Input;

constexpr uint32_t kReadStream = 0x222082;

struct Format {
    int index;  // device index: 0 the long-layout camera, 1 the model-5 camera
    uint32_t code, rawBits, outBits;
};
const Format kFormats[] = {
    {0, 1, 8, 24},   {0, 10, 8, 24},  {0, 255, 8, 24},  {0, 7, 8, 24},    {0, 1, 8, 8},
    {0, 2, 8, 8},    {0, 3, 8, 8},    {0, 12, 16, 8},   {1, 12, 16, 8},   {1, 100, 16, 8},
    {1, 110, 16, 8}, {1, 115, 16, 8}, {1, 200, 16, 24}, {1, 210, 16, 24}, {1, 1, 8, 24},
};
constexpr size_t kFormatCount = sizeof kFormats / sizeof kFormats[0];
const char* const kNames[2] = {"FuzzLine-0", "FuzzTwo-1"};

// Transfers as the fuzzer sends them.
struct Stream {
    std::mutex mu;
    Input* in = nullptr;
    uint64_t frameBytes = 0;
    uint64_t lineBytes = 0;
};
Stream g_stream;

void Patch(std::vector<uint8_t>& t, Input& in, const Stream& s) {
    const uint64_t frames = s.frameBytes ? t.size() / s.frameBytes : 0;
    const uint8_t frame = in.Byte(), where = in.Byte(), value = in.Byte();
    if (t.empty()) return;
    if (where == 0) {
        t.front() = value;
        return;
    }
    if (where == 1 || frames == 0) {
        t.back() = value;
        return;
    }
    const uint64_t start = (frame % frames) * s.frameBytes;
    uint64_t at = where == 2   ? start + s.lineBytes + 21
                  : where == 3 ? start
                               : start + s.lineBytes + (where - 4) % 32;
    if (at < t.size()) t[at] = value;
}

void TransferFromInput(uint32_t code, const std::vector<uint8_t>&, sim::Answer* answer, void*) {
    if (code != kReadStream) return;
    std::lock_guard<std::mutex> guard(g_stream.mu);
    Input* in = g_stream.in;
    if (!in || in->Empty()) {
        answer->ok = false;
        answer->data.clear();
        return;
    }
    const uint8_t c = in->Byte();
    if (c & 4) {
        answer->ok = false;
        answer->data.clear();
        return;
    }
    std::vector<uint8_t>& t = answer->data;
    switch (c & 3) {
        case 1:
            t.resize(2);
            break;
        case 2: {
            size_t cut = 1 + in->Byte();
            t.resize(t.size() > cut ? t.size() - cut : 0);
            break;
        }
        case 3:
            t.resize(t.size() + 1 + in->Byte(), 0x33);
            break;
    }
    for (int n = (c >> 4) & 7; n > 0; --n) Patch(t, *in, g_stream);
}

void Expect(bool ok, const char* what) {
    if (!ok) Finding(what);
}

// Exact-size heap blocks, freed at the end of the iteration.
struct Blocks {
    std::vector<uint8_t*> all;
    uint8_t* Make(size_t bytes) {
        uint8_t* p = new uint8_t[bytes ? bytes : 1];
        memset(p, 0xC5, bytes ? bytes : 1);
        all.push_back(p);
        return p;
    }
    ~Blocks() {
        for (uint8_t* p : all) delete[] p;
    }
};

// The colour table a coefficient other than 100 reads: 2^24 entries of 3 bytes.
const uint8_t* ColourTable() {
    static uint8_t* table = [] {
        uint8_t* t = new uint8_t[(size_t)3 << 24];
        for (size_t i = 0; i < ((size_t)3 << 24); ++i) t[i] = (uint8_t)(i * 7);
        return t;
    }();
    return table;
}

void WINAPI OnFrame(const char*, uint32_t* code, uint32_t* value, uint32_t, uintptr_t) {
    if (*code != LIVE_CB_FRAME && *code != LIVE_CB_NO_ROOM) Finding("a callback with no code");
    if (*value != 0) Finding("a callback value that isn't 0");
}

struct Call {
    const Format* format;
    uint32_t width, height, pictures, flags;
    uint32_t sat;
};

// Picture bytes the header asks the caller for: 3 a pixel for colour, 1 for
// 8-bit output; a YUV 4:2:2 capture has half the line's pixels.
size_t PictureBytes(const Call& c, bool capture) {
    size_t pixels = (size_t)c.width * c.height;
    if (capture && c.format->code == 10) pixels /= 2;
    return pixels * (c.format->outBits == 24 ? 3 : 1);
}

void Capture(const Call& c, Blocks& blocks) {
    std::vector<void*> pictures(c.pictures);
    for (void*& p : pictures) p = blocks.Make(PictureBytes(c, true));
    CaptureParam param{};
    uint32_t sat = c.sat;
    param.nFrames = c.pictures;
    param.pSatCoefficient = &sat;
    param.pColourTable = (void*)ColourTable();
    param.ppBuffers = pictures.data();
    Expect(USBCaptureFrame(kNames[c.format->index], &param) <= 1, "USBCaptureFrame result");
}

// A capture's frames per transfer: as many raw frames as make more than 64 KiB.
uint64_t RawFrameBytes(const Call& c) {
    return (uint64_t)c.width * (c.format->rawBits / 8) * (c.height + 4);
}
uint64_t CaptureExTransferFrames(const Call& c) {
    return 65536 / RawFrameBytes(c) + 1;
}
uint64_t CaptureExTransferBytes(const Call& c) {
    return RawFrameBytes(c) * CaptureExTransferFrames(c);
}

void CaptureEx(const Call& c, bool direct, Blocks& blocks) {
    LiveVideoParamEx ex{};
    ex.nBuffers = (uint8_t)c.pictures;
    for (uint32_t k = 0; k < c.pictures; ++k)
        ex.pDirectBuffer[k] =
            blocks.Make(direct ? CaptureExTransferBytes(c) : PictureBytes(c, true));
    // One information buffer per handed-over frame: every frame of a transfer
    // is handed over, and a picture takes a transfer (one more for a sequence).
    std::vector<void*> info(CaptureExTransferFrames(c) * (c.pictures + 1));
    for (void*& p : info) p = blocks.Make((size_t)c.width * c.format->rawBits / 8);
    CaptureSequence seq{};
    seq.bSequence = c.flags & 2 ? 1 : 0;
    seq.nSequenceValue = 7;
    seq.nSequenceFrames = 2 + c.pictures;
    seq.bFrameInfo = c.flags & 4 ? 1 : 0;
    seq.ppFrameInfo = info.data();
    uint32_t sat = c.sat;
    CaptureFrameExParam param{};
    param.nPictures = c.pictures;
    param.bDirectBuffer = direct ? 1 : 0;
    param.pLiveVideoParamEx = &ex;
    param.pSatCoefficient = &sat;
    param.pColourTable = (void*)ColourTable();
    param.pSequence = &seq;
    int32_t r = USBCaptureFrameEx(kNames[c.format->index], &param);
    Expect(r <= CAPEX_BAD_REQUEST && r != 2, "USBCaptureFrameEx result");
}

void LiveVideo(const Call& c, bool callback, Blocks& blocks) {
    const char* name = kNames[c.format->index];
    if (USBSetCameraFeature(name, FEATURE_SAT_COEFFICIENT, c.sat) != 1)
        Finding("the saturation coefficient was refused");
    LiveVideoParamEx ex{};
    const uint64_t b = c.format->rawBits / 8;
    const uint64_t streamWidth = c.format->code == 10 ? 2ull * c.width : c.width;
    const uint64_t frames = 65536 / ((uint64_t)c.width * c.height * b) + 1;
    ex.nBuffers = (uint8_t)(1 + c.pictures % 3);
    for (uint32_t k = 0; k < ex.nBuffers; ++k)
        ex.pDirectBuffer[k] = blocks.Make(frames * streamWidth * b * (c.height + 4));
    void* rawFrame = nullptr;
    HANDLE frameEvent = plat::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    LiveVideoRequest request{};
    request.pImage = blocks.Make(PictureBytes(c, false));
    request.pColourTable = (void*)ColourTable();
    request.hFrameEvent = frameEvent;
    request.pLiveVideoParamEx = callback ? &ex : nullptr;
    request.ppRawFrame = c.flags & 8 ? &rawFrame : nullptr;
    int32_t r = callback ? USBVideoOnCallbackStart(name, &request, OnFrame, 7)
                         : USBLiveVideoStartEx(name, &request);
    Expect(r == 0 || r == 1, "live-video start result");
    // Past the input every read fails: the reader ends after its restarts.
    if (!camera_fuzz::WaitIdle(c.format->index, 10000)) Finding("the reader did not end");
    camera_fuzz::StopLiveVideo(name);
    plat::CloseHandle(frameEvent);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::vector<tav::DeviceSlot> initialised = [] {
        camera_fuzz::Bench& b = camera_fuzz::Setup(
            {sim::MakeProfile(sim::Model::LongLayout, "FuzzLine", "cam0.sock"),
             sim::MakeProfile(sim::Model::TwoByteMarkers, "FuzzTwo", "cam1.sock")});
        std::vector<tav::DeviceSlot> slots;
        for (const Format& f : kFormats) {
            sim::Model model = f.index ? sim::Model::TwoByteMarkers : sim::Model::LongLayout;
            sim::Profile p =
                sim::MakeFormatProfile(model, "x", "x", f.code, f.rawBits, f.outBits, true);
            camera_fuzz::SetPage(b, f.index, 0, p.page0);
            camera_fuzz::ForgetCamera(f.index);
            if (USBInitDevice(kNames[f.index]) != TAVCAM_INIT_OK)
                Finding("a camera did not initialise");
            slots.push_back(tav::g_DeviceTable[f.index]);
        }
        for (int i = 0; i < 2; ++i)
            sim::SetAnswerHook(b.server, b.cameras[(size_t)i], TransferFromInput, nullptr);
        return slots;
    }();
    Input in(data, size);
    const size_t pick = in.Byte() % kFormatCount;
    Call c;
    c.format = &kFormats[pick];
    c.width = 32 + 4 * (in.Byte() % 16);
    c.height = 16 + 2 * (in.Byte() % 16);
    const uint8_t call = in.Byte() % 5;
    c.pictures = 1 + in.Byte() % 4;
    c.flags = in.Byte();
    c.sat = c.flags & 1 ? 100 : 50;
    tav::g_DeviceTable[c.format->index] = initialised[pick];
    if (USBSetScanArea(kNames[c.format->index], 0, 0, c.width, c.height) != 1)
        Finding("the scan area was refused");

    const uint64_t b = c.format->rawBits / 8;
    const bool live = call >= 3;
    {
        std::lock_guard<std::mutex> guard(g_stream.mu);
        g_stream.in = &in;
        const uint64_t streamWidth = live && c.format->code == 10 ? 2ull * c.width : c.width;
        g_stream.lineBytes = streamWidth * b;
        g_stream.frameBytes = g_stream.lineBytes * (c.height + 4);
    }
    {
        Blocks blocks;
        switch (call) {
            case 0:
                Capture(c, blocks);
                break;
            case 1:
            case 2:
                CaptureEx(c, call == 2, blocks);
                break;
            default:
                LiveVideo(c, call == 4, blocks);
                break;
        }
        if (!tav::CameraIdle(tav::g_DeviceTable[c.format->index].ReadParameters))
            Finding("the camera is still held after the call");
    }
    {
        std::lock_guard<std::mutex> guard(g_stream.mu);
        g_stream.in = nullptr;
    }
    return 0;
}
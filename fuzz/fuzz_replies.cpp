// Fuzzes the replies of the command channel: every IOCTL_CAM_READ_REPLY the
// library fetches - the busy status, register reads, I2C reads, the
// identification block, flash pieces (the camera record and SaveData arrive
// this way too) and the flash write's status polls - answered with the
// fuzzer's bytes, through the calls that read them.
//
// Input: a script of up to kMaxSteps calls, one byte each (the call, modulo
// the number of calls) and its arguments (see RunStep). Whenever the library
// fetches a reply, the next input byte c says what the camera answers:
//   0xFF        the fetch fails;
//   0x80..0xFE  the camera's own answer (the simulator's firmware);
//   0..0x7F     min(c, 64) bytes taken from the input (a reply shorter than
//               the 64 bytes the library asks for when c < 64).
// Past the end of the input the camera answers for itself. Each iteration
// starts from the camera as USBInitDevice left it at start-up.
#include <mutex>

#include "config/device_table.h"
#include "fuzz/camera_fuzz.h"
#include "platform/platform.h"
#include "tavcam.h"

namespace {

using camera_fuzz::Finding;
using camera_fuzz::Input;

constexpr uint32_t kReadReply = 0x22204C;
constexpr int kMaxSteps = 12;
const char* const kName = "FuzzBusy-0";

struct Replies {
    std::mutex mu;
    Input* in = nullptr;
};
Replies g_replies;

void AnswerFromInput(uint32_t code, const std::vector<uint8_t>&, sim::Answer* answer, void*) {
    if (code != kReadReply) return;
    std::lock_guard<std::mutex> guard(g_replies.mu);
    Input* in = g_replies.in;
    if (!in || in->Empty()) return;
    const uint8_t c = in->Byte();
    if (c == 0xFF) {
        answer->ok = false;
        answer->data.clear();
        return;
    }
    if (c & 0x80) return;
    answer->ok = true;
    answer->data.assign(c < 64 ? c : 64, 0);
    in->Take(answer->data.data(), answer->data.size());
}

void Expect(bool ok, const char* what) {
    if (!ok) Finding(what);
}

bool Untouched(const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (p[i] != 0xEE) return false;
    return true;
}

void LiveVideo() {
    static uint8_t picture[320 * 240 * 3];
    HANDLE frameEvent = plat::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    LiveVideoRequest request{};
    request.pImage = picture;
    request.pColourTable = picture;
    request.hFrameEvent = frameEvent;
    // A camera whose initialisation failed since it was forgotten reads as
    // held: the start then starts nothing (1), and there is nothing to stop.
    const bool idle = tav::CameraIdle(tav::g_DeviceTable[0].ReadParameters);
    int32_t r = USBLiveVideoStartEx(kName, &request);
    Expect(r <= TAVCAM_BUSY, "USBLiveVideoStartEx result");
    if (idle) camera_fuzz::StopLiveVideo(kName);
    plat::CloseHandle(frameEvent);
}

void RunStep(Input& in) {
    uint8_t buffer[2100];
    uint32_t a = 0xEEEEEEEE, b = 0xEEEEEEEE;
    uint8_t x = 0xEE, y = 0xEE;
    switch (in.Byte() % 15) {
        case 0:
            Expect(GetCameraStatus(0, &a) <= 1, "GetCameraStatus result");
            break;
        case 1: {
            uint32_t reg = in.Word();
            Expect(ReceiveStatus(0, 12, reg, &a, &b) <= 1, "ReceiveStatus result");
            break;
        }
        case 2: {
            uint8_t address = in.Byte(), reg = in.Byte();
            Expect(ReceiveI2C(0, address, reg, &x, &y) <= 1, "ReceiveI2C result");
            break;
        }
        case 3: {
            memset(buffer, 0xEE, TAVCAM_CAMERA_ID_BYTES);
            int32_t r = USBGetCameraID(kName, buffer);
            Expect(r <= 1, "USBGetCameraID result");
            Expect(r == 1 || Untouched(buffer, TAVCAM_CAMERA_ID_BYTES),
                   "USBGetCameraID wrote a failed read");
            break;
        }
        case 4: {
            uint8_t page = in.Byte() % 4;
            uint32_t size = in.Word() % sizeof buffer;
            memset(buffer, 0xEE, sizeof buffer);
            int32_t r = ReadDataFromFlash(0, page, size, buffer);
            Expect(r <= 1, "ReadDataFromFlash result");
            Expect(r == 1 || Untouched(buffer, sizeof buffer), "ReadDataFromFlash wrote a failure");
            Expect(Untouched(buffer + size, sizeof buffer - size), "ReadDataFromFlash wrote past");
            break;
        }
        case 5: {
            uint32_t size = 1 + in.Word() % 300;
            memset(buffer, 0x5A, size);
            Expect(WriteDataToFlash(0, 2, size, buffer) <= 1, "WriteDataToFlash result");
            break;
        }
        case 6: {
            int32_t r = USBInitDevice(kName);
            Expect(r == 0 || r == TAVCAM_BUSY || r == TAVCAM_INIT_OK, "USBInitDevice result");
            break;
        }
        case 7: {
            // A camera new to the process: its record and presets come as replies.
            camera_fuzz::ForgetCamera(0);
            int32_t r = USBInitDevice(kName);
            Expect(r == 0 || r == TAVCAM_BUSY || r == TAVCAM_INIT_OK, "USBInitDevice result");
            break;
        }
        case 8: {
            int32_t r = USBSetFormat(kName, in.Byte() % 3);
            Expect(r == 0 || r == 1 || r == TAVCAM_BUSY, "USBSetFormat result");
            break;
        }
        case 9: {
            uint32_t w = 32 + 4 * (in.Byte() % 73), h = 16 + 2 * (in.Byte() % 113);
            int32_t r = USBSetScanArea(kName, 0, 0, w, h);
            Expect(r == 0 || r == 1 || r == TAVCAM_BUSY, "USBSetScanArea result");
            break;
        }
        case 10: {
            uint8_t pick = in.Byte();
            uint32_t id = pick < 4 ? 0x1E08u + pick : pick < 8 ? in.Word() : 0x1A0u;
            int32_t r = USBGetCameraFeature(kName, id, &a);
            Expect(r <= 1, "USBGetCameraFeature result");
            Expect(r == 1 || a == 0xEEEEEEEE, "USBGetCameraFeature wrote a failed query");
            break;
        }
        case 11:
            Expect(USBSaveParams(kName, in.Byte() % 4) <= 1, "USBSaveParams result");
            break;
        case 12:
            Expect(USBLoadParams(kName, in.Byte() % 4) <= 1, "USBLoadParams result");
            break;
        case 13: {
            CameraList list;
            memset(&list, 0xEE, sizeof list);
            USBGetSuppDeviceList(&list);
            Expect(list.nCount <= TAVCAM_MAX_CAMERAS, "USBGetSuppDeviceList counted more than 8");
            Expect(memchr(list.szNames[0], 0, TAVCAM_NAME_BYTES) != nullptr ||
                       Untouched((const uint8_t*)list.szNames[0], TAVCAM_NAME_BYTES),
                   "a listed name has no terminator");
            break;
        }
        case 14:
            LiveVideo();
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static camera_fuzz::Bench& bench = []() -> camera_fuzz::Bench& {
        camera_fuzz::Bench& b =
            camera_fuzz::Setup({sim::MakeProfile(sim::Model::Busy, "FuzzBusy", "cam0.sock")});
        if (USBInitDevice(kName) != TAVCAM_INIT_OK) Finding("the camera did not initialise");
        sim::SetAnswerHook(b.server, b.cameras[0], AnswerFromInput, nullptr);
        return b;
    }();
    static const tav::DeviceSlot initialised = tav::g_DeviceTable[0];
    (void)bench;
    tav::g_DeviceTable[0] = initialised;
    tav::SetCameraChanged(0, false);

    Input in(data, size);
    {
        std::lock_guard<std::mutex> guard(g_replies.mu);
        g_replies.in = &in;
    }
    for (int step = 0; step < kMaxSteps && !in.Empty(); ++step) RunStep(in);
    {
        std::lock_guard<std::mutex> guard(g_replies.mu);
        g_replies.in = nullptr;
    }
    return 0;
}
// Fuzzes the two flash pages a camera carries: the camera record (page 0) and
// SaveData (page 1, the short layout for CameraModel 1, the long one for any
// other model), as USBInitDevice reads them into the device table and every
// configuration call then works from them.
//
// Input: page 0 (2016 bytes), page 1 (202 bytes; the short layout uses the
// first 138), then a script of up to kMaxSteps calls, one byte each (the
// call, modulo the number of calls) and its arguments (see RunStep). Each
// iteration starts from a camera this process never initialised, with the
// pages in the camera's flash, and USBInitDevice. Every result must be one
// the header documents; a sanitizer report, a hang or a wrong result is a finding.
#include <string.h>

#include "config/device_table.h"
#include "fuzz/camera_fuzz.h"
#include "tavcam.h"

namespace {

using camera_fuzz::Finding;
using camera_fuzz::Input;

constexpr size_t kPage0Bytes = 2016;
constexpr size_t kPage1Bytes = 202;
constexpr int kMaxSteps = 16;
const char* const kName = "Fuzz-0";

// Identifiers the feature calls know, and the ones that ask the camera.
const uint32_t kFeatures[] = {
    0x614,  0x620,  0x624,  0x800,  0x804,  0x808,  0x80D,  0x80E,  0x80F,  0x810,  0x814,
    0x818,  0x81C,  0x820,  0x824,  0x830,  0x884,  0x888,  0x1C14, 0x1E00, 0x1E01, 0x1E02,
    0x1E03, 0x1E08, 0x1E09, 0x1E0A, 0x1E0B, 0x1E14, 0x1E50, 0x1E54, 0x3840, 0x1A0,  0x1FF,
};
constexpr size_t kFeatureCount = sizeof kFeatures / sizeof kFeatures[0];

uint32_t FeatureId(Input& in) {
    uint8_t pick = in.Byte();
    // A pick past the table is an identifier of the fuzzer's own.
    return pick < kFeatureCount ? kFeatures[pick] : in.Word();
}

void Expect(bool ok, const char* what) {
    if (!ok) Finding(what);
}

bool InitResult(int32_t r) {
    return r == 0 || r == TAVCAM_BUSY || r == TAVCAM_INIT_OK;
}

void CheckList() {
    CameraList list;
    memset(&list, 0xEE, sizeof list);
    USBGetSuppDeviceList(&list);
    Expect(list.nCount <= TAVCAM_MAX_CAMERAS, "USBGetSuppDeviceList counted more than 8");
    // The one camera's entry is a terminated text within its 255 bytes.
    Expect(memchr(list.szNames[0], 0, TAVCAM_NAME_BYTES) != nullptr,
           "a listed name has no terminator");
}

void RunStep(Input& in, camera_fuzz::Bench& bench) {
    uint32_t v = 0;
    switch (in.Byte() % 14) {
        case 0:
            Expect(InitResult(USBInitDevice(kName)), "USBInitDevice result");
            break;
        case 1: {
            CameraRecord record;
            Expect(USBReadDeviceParams(kName, &record) == 1, "USBReadDeviceParams result");
            Expect(record.CurrentPreset <= 3, "USBReadDeviceParams names no preset");
            break;
        }
        case 2:
            Expect(USBLoadParams(kName, in.Byte() % 5) <= 1, "USBLoadParams result");
            break;
        case 3:
            Expect(USBSaveParams(kName, in.Byte() % 5) <= 1, "USBSaveParams result");
            break;
        case 4: {
            int32_t r = USBSetFormat(kName, in.Byte() % 18);
            Expect(r == 0 || r == 1 || r == TAVCAM_BUSY, "USBSetFormat result");
            break;
        }
        case 5: {
            uint32_t l = in.Word(), t = in.Word(), w = in.Word(), h = in.Word();
            int32_t r = USBSetScanArea(kName, l, t, w, h);
            Expect(r == 0 || r == 1 || r == TAVCAM_BUSY, "USBSetScanArea result");
            break;
        }
        case 6: {
            uint32_t id = FeatureId(in);
            Expect(USBSetCameraFeature(kName, id, in.Word()) <= 1, "USBSetCameraFeature result");
            break;
        }
        case 7:
            Expect(USBGetCameraFeature(kName, FeatureId(in), &v) <= 1,
                   "USBGetCameraFeature result");
            break;
        case 8:
            Expect(USBSetOnOffFeature(kName, FEATURE_TRIGGER_MODE, in.Byte()) <= 1,
                   "USBSetOnOffFeature result");
            Expect(USBGetOnOffFeature(kName, FEATURE_TRIGGER_MODE, &v) == 1,
                   "USBGetOnOffFeature result");
            break;
        case 9:
            Expect(USBSetAutoFeature(kName, FeatureId(in), in.Byte()) <= 1,
                   "USBSetAutoFeature result");
            break;
        case 10: {
            static uint8_t table[512];
            uint8_t pick = in.Byte();
            uint32_t number = pick % 3 == 0 ? 3 : pick % 3 == 1 ? 100 : pick;
            Expect(USBSendTable(kName, number, in.Word() % sizeof table, table) <= 1,
                   "USBSendTable result");
            break;
        }
        case 11:
            CheckList();
            break;
        case 12: {
            int32_t l = (int16_t)in.Word(), t = (int16_t)in.Word();
            int32_t w = (int16_t)in.Word(), h = (int16_t)in.Word();
            Expect(SetCameraWindow(0, l, t, w, h, 1, 1, 1, 1) <= 1, "SetCameraWindow result");
            break;
        }
        case 13: {
            // Another process changed the presets: the next initialisation
            // reads page 1 again.
            std::vector<uint8_t> page1(kPage1Bytes);
            in.Take(page1.data(), page1.size());
            camera_fuzz::SetPage(bench, 0, 1, page1);
            tav::SetCameraChanged(0, true);
            Expect(InitResult(USBInitDevice(kName)), "USBInitDevice result after a change");
            break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    camera_fuzz::Bench& bench =
        camera_fuzz::Setup({sim::MakeProfile(sim::Model::LongLayout, "FuzzCam", "cam0.sock")});
    Input in(data, size);
    std::vector<uint8_t> page0(kPage0Bytes), page1(kPage1Bytes);
    in.Take(page0.data(), page0.size());
    in.Take(page1.data(), page1.size());
    camera_fuzz::SetPage(bench, 0, 0, page0);
    camera_fuzz::SetPage(bench, 0, 1, page1);
    camera_fuzz::ForgetCamera(0);
    Expect(InitResult(USBInitDevice(kName)), "USBInitDevice result");
    for (int step = 0; step < kMaxSteps && !in.Empty(); ++step) RunStep(in, bench);
    return 0;
}
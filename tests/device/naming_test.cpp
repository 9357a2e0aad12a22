// The name-taking entries that touch no camera or send nothing (the naming
// rules themselves: naming_rules_test.cpp).
#include "core/attach.h"
#include "device/device.h"
#include "device_fixture.h"
#include "tavcam.h"

namespace device_test {
namespace {

using NamingTest = DeviceTest;

void WINAPI IgnoreFrame(const char*, uint32_t*, uint32_t*, uint32_t, uintptr_t) {}

// Every call that takes a camera name refuses one without a device index,
// with the result its header gives, before it touches a camera; USBReset
// only opens and closes, even with a usable name.
TEST_F(NamingTest, InvalidNamesTouchNoCamera) {
    int camera = Plug(sim::Model::LongLayout, "LineScan", "cam0");
    ASSERT_EQ(Enumerate(), 1);
    ClearLog(camera);
    static uint8_t buffer[4096];
    static uint32_t value, sat = 100;
    static void* pictures[1] = {buffer};
    static CameraRecord record;
    static LiveVideoParamEx ex;
    static LiveVideoStatistics statistics;
    static CaptureParam capture;
    capture.nFrames = 1;
    capture.pSatCoefficient = &sat;
    capture.pColourTable = buffer;
    capture.ppBuffers = pictures;
    static CaptureFrameExParam captureEx;
    captureEx.pLiveVideoParamEx = &ex;
    captureEx.pSatCoefficient = &sat;
    captureEx.pColourTable = buffer;
    static LiveVideoParam window;
    window.pImage = buffer;
    window.pColourTable = buffer;
    static LiveVideoRequest request;
    request.pImage = buffer;
    request.pColourTable = buffer;
    request.hFrameEvent = (HANDLE)buffer;  // never used: the name is refused first
    const struct {
        const char* call;
        int32_t refused;
        int32_t (*run)(const char* name);
    } calls[] = {
        {"USBControlLink", 0, [](const char* n) { return USBControlLink(n); }},
        {"USBReset", 0, [](const char* n) { return USBReset(n); }},
        {"SetRegister", 0, [](const char* n) { return SetRegister(n, 0x10, 0x1234); }},
        {"USBGetCameraID", 0, [](const char* n) { return USBGetCameraID(n, buffer); }},
        {"USBReadDeviceParams", 0, [](const char* n) { return USBReadDeviceParams(n, &record); }},
        {"USBInitDevice", 0, [](const char* n) { return USBInitDevice(n); }},
        {"USBSaveParams", 0, [](const char* n) { return USBSaveParams(n, 1); }},
        {"USBLoadParams", 0, [](const char* n) { return USBLoadParams(n, 1); }},
        {"USBSetFormat", 0, [](const char* n) { return USBSetFormat(n, 1); }},
        {"USBSetScanArea", TAVCAM_BAD_NAME,
         [](const char* n) { return USBSetScanArea(n, 0, 0, 64, 32); }},
        {"USBSetCameraFeature", 0,
         [](const char* n) { return USBSetCameraFeature(n, FEATURE_BRIGHTNESS, 1); }},
        {"USBGetCameraFeature", 0,
         [](const char* n) { return USBGetCameraFeature(n, 0x1E08, &value); }},
        {"USBSetOnOffFeature", 0,
         [](const char* n) { return USBSetOnOffFeature(n, FEATURE_TRIGGER_MODE, 1); }},
        {"USBGetOnOffFeature", 0,
         [](const char* n) { return USBGetOnOffFeature(n, FEATURE_TRIGGER_MODE, &value); }},
        {"USBSetAutoFeature", 0, [](const char* n) { return USBSetAutoFeature(n, 0x804, 1); }},
        {"USBGetAutoFeature", 0, [](const char* n) { return USBGetAutoFeature(n, 0x804, &value); }},
        {"USBSendTable", 0, [](const char* n) { return USBSendTable(n, 3, 64, buffer); }},
        {"USBCaptureFrame", 0, [](const char* n) { return USBCaptureFrame(n, &capture); }},
        {"USBCaptureFrameEx", CAPEX_BAD_NAME,
         [](const char* n) { return USBCaptureFrameEx(n, &captureEx); }},
        {"USBGetUrgentInfo", TAVCAM_BAD_NAME,
         [](const char* n) { return USBGetUrgentInfo(n, &value); }},
        {"USBLiveVideoStart", TAVCAM_BAD_NAME,
         [](const char* n) { return USBLiveVideoStart(n, &window); }},
        {"USBLiveVideoStartEx", TAVCAM_BAD_NAME,
         [](const char* n) { return USBLiveVideoStartEx(n, &request); }},
        {"USBVideoOnCallbackStart", TAVCAM_BAD_NAME,
         [](const char* n) { return USBVideoOnCallbackStart(n, &request, IgnoreFrame, 0); }},
        {"USBLiveVideoStop", 0, [](const char* n) { return USBLiveVideoStop(n); }},
        {"USBGetLiveVideoStatistics", TAVCAM_BAD_NAME,
         [](const char* n) { return USBGetLiveVideoStatistics(n, &statistics); }},
    };
    for (const auto& c : calls) {
        for (const char* name :
             {"LineScan", "LineScan-8", "LineScan-x", "LineScan-", "Cam-A-0", (const char*)nullptr})
            EXPECT_EQ(c.run(name), c.refused) << c.call << " " << (name ? name : "(null)");
    }
    EXPECT_EQ(USBReset("LineScan-0"), 0);
    EXPECT_TRUE(Log(camera).empty());
    EXPECT_TRUE(Pauses().empty());
}

}  // namespace
}  // namespace device_test

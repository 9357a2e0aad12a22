// Capture and live video come with the acquisition work; until then each
// export returns its failure result.
#include "tavcam.h"

extern "C" {
TAVCAM_API int32_t WINAPI USBCaptureFrame(const char*, CaptureParam*) {
    return 0;
}
TAVCAM_API int32_t WINAPI USBCaptureFrameEx(const char*, CaptureFrameExParam*) {
    return CAPEX_BAD_NAME;
}
TAVCAM_API int32_t WINAPI USBGetUrgentInfo(const char*, uint32_t*) {
    return TAVCAM_BAD_NAME;
}
TAVCAM_API int32_t WINAPI USBGetData(void) {
    return 0;
}
TAVCAM_API int32_t WINAPI USBLiveVideoStart(const char*, LiveVideoParam*) {
    return 0;
}
TAVCAM_API int32_t WINAPI USBLiveVideoStartEx(const char*, LiveVideoRequest*) {
    return 0;
}
TAVCAM_API int32_t WINAPI USBVideoOnCallbackStart(const char*, LiveVideoRequest*, LiveVideoCallback,
                                                  uintptr_t) {
    return 0;
}
TAVCAM_API int32_t WINAPI USBLiveVideoStop(const char*) {
    return 0;
}
}

// Exports of this folder whose bodies are not written yet: each returns its
// failure result. Remove an entry when its real body lands.
#include "tavcam.h"

extern "C" {
TAVCAM_API int32_t WINAPI USBReadDeviceParams(const char*, CameraRecord*) { return 0; }
TAVCAM_API int32_t WINAPI USBInitDevice(const char*) { return 0; }
TAVCAM_API int32_t WINAPI USBSaveParams(const char*, uint32_t) { return 0; }
TAVCAM_API int32_t WINAPI USBLoadParams(const char*, uint32_t) { return 0; }
TAVCAM_API int32_t WINAPI USBSetFormat(const char*, uint32_t) { return 0; }
TAVCAM_API int32_t WINAPI USBSetScanArea(const char*, uint32_t, uint32_t, uint32_t, uint32_t) {
    return 0;
}
TAVCAM_API int32_t WINAPI SetCameraWindow(int32_t, int32_t, int32_t, int32_t, int32_t, uint32_t,
                                          uint32_t, uint32_t, uint32_t) {
    return 0;
}
TAVCAM_API int32_t WINAPI USBSetCameraFeature(const char*, uint32_t, uint32_t) { return 0; }
TAVCAM_API int32_t WINAPI USBGetCameraFeature(const char*, uint32_t, uint32_t*) { return 0; }
TAVCAM_API int32_t WINAPI USBSetOnOffFeature(const char*, uint32_t, uint32_t) { return 0; }
TAVCAM_API int32_t WINAPI USBGetOnOffFeature(const char*, uint32_t, uint32_t*) { return 0; }
TAVCAM_API int32_t WINAPI USBSetAutoFeature(const char*, uint32_t, uint32_t) { return 0; }
TAVCAM_API int32_t WINAPI USBGetAutoFeature(const char*, uint32_t, uint32_t* pValue) {
    if (pValue) *pValue = 0;
    return 0;
}
TAVCAM_API int32_t WINAPI USBSendTable(const char*, uint32_t, uint32_t, const void*) { return 0; }
}

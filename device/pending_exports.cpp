// Exports of this folder whose bodies are not written yet: each returns its
// failure result. Remove an entry when its real body lands.
#include "tavcam.h"

extern "C" {
TAVCAM_API void WINAPI USBGetSuppDeviceList(CameraList*) {}
TAVCAM_API int32_t WINAPI USBControlLink(const char*) { return 0; }
TAVCAM_API int32_t WINAPI USBReset(const char*) { return 0; }
TAVCAM_API int32_t WINAPI USBDeviceSWReset(void) { return 1; }
TAVCAM_API int32_t WINAPI SendCommand(int32_t, uint32_t, uint32_t, uint32_t, uint32_t) { return 0; }
TAVCAM_API int32_t WINAPI ReceiveStatus(int32_t, uint32_t, uint32_t, uint32_t*, uint32_t*) {
    return 0;
}
TAVCAM_API uint8_t WINAPI GetCameraStatus(int32_t, uint32_t*) { return 0; }
TAVCAM_API int32_t WINAPI ReadDataFromFlash(int32_t, uint32_t, uint32_t, void*) { return 0; }
TAVCAM_API int32_t WINAPI WriteDataToFlash(int32_t, uint32_t, uint32_t, const void*) { return 0; }
TAVCAM_API int32_t WINAPI SendI2C(int32_t, uint32_t, uint32_t, uint32_t, uint32_t) { return 0; }
TAVCAM_API int32_t WINAPI ReceiveI2C(int32_t, uint32_t, uint32_t, uint8_t*, uint8_t*) {
    return 0;
}
TAVCAM_API int32_t WINAPI SendI2C_OneDataByte(int32_t, uint32_t, uint32_t, uint32_t) { return 0; }
TAVCAM_API int32_t WINAPI SetRegister(const char*, uint32_t, uint32_t) { return 0; }
TAVCAM_API int32_t WINAPI USBGetCameraID(const char*, void*) { return 0; }
}

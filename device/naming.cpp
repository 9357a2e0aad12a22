// Camera names and device indexes. A camera name is the name stored in the
// camera's record followed by '-' and the device index digit; every
// name-taking operation derives the index from the character right after the
// first '-' and fails without touching a camera when that isn't '0'..'7'.
#include <string.h>

#include "core/attach.h"
#include "device/device.h"
#include "tavcam.h"

namespace tav {

bool DeviceIndexFromName(const char* name, int* index) {
    if (!name) return false;
    const char* dash = strchr(name, '-');
    if (!dash) return false;
    char digit = dash[1];
    if (digit < '0' || digit > '7') return false;
    if (index) *index = digit - '0';
    return true;
}

}  // namespace tav

using namespace tav;

extern "C" {

TAVCAM_API int32_t WINAPI USBControlLink(const char* pCameraName) {
    if (!LibraryUsable()) return 0;
    return DeviceIndexFromName(pCameraName, nullptr) ? 1 : 0;
}

// Opens the camera's driver handle and closes it again; sends nothing and
// reports 0 in every case.
TAVCAM_API int32_t WINAPI USBReset(const char* pCameraName) {
    if (!LibraryUsable()) return 0;
    int index = 0;
    if (!DeviceIndexFromName(pCameraName, &index)) return 0;
    HANDLE camera = OpenCamera(index);
    if (CameraOpened(camera)) plat::CloseHandle(camera);
    return 0;
}

// Does nothing and reports success; in a process where the library is inert
// it reports 0 like every other export.
TAVCAM_API int32_t WINAPI USBDeviceSWReset(void) {
    if (!LibraryUsable()) return 0;
    return 1;
}

}  // extern "C"

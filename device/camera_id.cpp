// The camera's identification block: 128 read-only bytes, read in two pieces
// of 64.
#include <string.h>

#include "core/attach.h"
#include "core/trace.h"
#include "device/device.h"
#include "device/request_block.h"
#include "tavcam.h"

namespace tav {
namespace {

constexpr uint32_t kIdPiece = 64;

// Reads `size` bytes of the identification block (raised to a multiple of 64)
// into `buffer`, which has room for the raised size. False on any failure.
bool ReadIdentification(int index, uint8_t* buffer, uint32_t size) {
    Trace("ReadData:  BusIndex=%d , DataSize=%d \r\n", index, (int)size);
    uint32_t rounded = (size + kIdPiece - 1) / kIdPiece * kIdPiece;
    HANDLE camera = OpenCamera(index);
    if (!CameraOpened(camera)) return false;
    bool ok = true;
    for (uint32_t offset = 0; ok && offset < rounded; offset += kIdPiece) {
        RequestBlock block;
        BeginRequest(&block, 5, 0, CMD_READ_ID);
        PutWord(&block, kParametersAt, offset);
        PutByte(&block, kParametersAt + 2, kIdPiece);
        ok = SendRequest(camera, block.bytes, 13);
        if (!ok) break;
        plat::Sleep(kIdentificationPauseMs);
        ok = FetchReply(camera, buffer + offset);
    }
    plat::CloseHandle(camera);
    return ok;
}

}  // namespace
}  // namespace tav

using namespace tav;

extern "C" TAVCAM_API int32_t WINAPI USBGetCameraID(const char* pCameraName, void* pDestination) {
    if (!LibraryUsable()) return 0;
    int index = 0;
    if (!DeviceIndexFromName(pCameraName, &index)) return 0;
    if (!pDestination || plat::IsBadWritePtr(pDestination, TAVCAM_CAMERA_ID_BYTES)) return 0;
    uint8_t buffer[TAVCAM_CAMERA_ID_BYTES] = {};
    if (!ReadIdentification(index, buffer, TAVCAM_CAMERA_ID_BYTES)) return 0;
    memcpy(pDestination, buffer, sizeof buffer);
    return 1;
}

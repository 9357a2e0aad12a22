// The command channel's driver requests and the three generic senders:
// SendCommand (a command without answer), ReceiveStatus (a register query) and
// GetCameraStatus (the camera's busy status).
#include <string.h>

#include "core/attach.h"
#include "device/device.h"
#include "device/request_block.h"
#include "tavcam.h"

namespace tav {

bool SendRequest(HANDLE camera, const void* block, uint32_t inputSize) {
    DWORD returned = 0;
    return plat::DeviceIoControl(camera, IOCTL_CAM_SEND_REQUEST, (LPVOID)block, inputSize, nullptr,
                                 0, &returned, nullptr) != 0;
}

bool FetchReply(HANDLE camera, uint8_t reply[64]) {
    RequestBlock header;
    BeginReplyFetch(&header);
    memset(reply, 0, kReplyBytes);
    DWORD returned = 0;
    bool ok = plat::DeviceIoControl(camera, IOCTL_CAM_READ_REPLY, header.bytes, kRequestHeaderBytes,
                                    reply, kReplyBytes, &returned, nullptr) != 0;
    // The driver hands over all 64 bytes of the answer. A reply cut short is
    // not the camera's answer: the bytes that didn't come would read as zeros,
    // a flash page or identification block with a hole in it, or a status
    // made up. It counts as a failed fetch.
    if (returned != kReplyBytes) ok = false;
    // A failed fetch leaves the answer zero, whatever the driver left behind.
    if (!ok) memset(reply, 0, kReplyBytes);
    return ok;
}

int32_t SendCommandRequest(int index, const RequestBlock& block, uint32_t inputSize) {
    HANDLE camera = OpenCamera(index);
    if (!CameraOpened(camera)) return 0;
    bool ok = SendRequest(camera, block.bytes, inputSize);
    plat::Sleep(kCommandPauseMs);  // the controller's time to act, also after a failure
    plat::CloseHandle(camera);
    return ok ? 1 : 0;
}

// Sends one query and fetches its 64-byte answer, with the command pause in
// between. False (reply untouched) when the camera can't be opened or the
// request fails; otherwise the fetch's result, the reply zero if it failed.
static bool Query(int index, const RequestBlock& block, uint32_t inputSize, uint8_t reply[64],
                  bool* sent) {
    *sent = false;
    HANDLE camera = OpenCamera(index);
    if (!CameraOpened(camera)) return false;
    if (!SendRequest(camera, block.bytes, inputSize)) {
        plat::CloseHandle(camera);
        return false;
    }
    *sent = true;
    plat::Sleep(kCommandPauseMs);
    bool ok = FetchReply(camera, reply);
    plat::CloseHandle(camera);
    return ok;
}

}  // namespace tav

using namespace tav;

extern "C" {

TAVCAM_API int32_t WINAPI SendCommand(int32_t nDevice, uint32_t nCode, uint32_t nWord1,
                                      uint32_t nWord2, uint32_t nWord3) {
    if (!LibraryUsable()) return 0;
    RequestBlock block;
    BeginRequest(&block, 8, 0, (uint8_t)nCode);
    PutWord(&block, kParametersAt, nWord1);
    PutWord(&block, kParametersAt + 2, nWord2);
    PutWord(&block, kParametersAt + 4, nWord3);
    return SendCommandRequest(DeviceIndexFromArgument(nDevice), block, 16);
}

TAVCAM_API int32_t WINAPI ReceiveStatus(int32_t nDevice, uint32_t nCode, uint32_t nWord,
                                        uint32_t* pResult1, uint32_t* pResult2) {
    if (!LibraryUsable()) return 0;
    // The header says 3 payload bytes although the register address makes it
    // four; the controller expects exactly this, with an input size of 12.
    RequestBlock block;
    BeginRequest(&block, 3, 0, (uint8_t)nCode);
    PutWord(&block, kParametersAt, nWord);
    uint8_t reply[kReplyBytes];
    bool sent = false;
    bool ok = Query(DeviceIndexFromArgument(nDevice), block, 12, reply, &sent);
    if (!sent) return 0;
    if (pResult1) *pResult1 = LittleEndian32(reply);
    if (pResult2) *pResult2 = LittleEndian32(reply + 4);
    return ok ? 1 : 0;
}

TAVCAM_API uint8_t WINAPI GetCameraStatus(int32_t nDevice, uint32_t* pStatus) {
    if (!LibraryUsable()) return 0;
    RequestBlock block;
    BeginRequest(&block, 2, 0, CMD_GET_STATUS);
    uint8_t reply[kReplyBytes];
    bool sent = false;
    bool ok = Query(DeviceIndexFromArgument(nDevice), block, 10, reply, &sent);
    if (!sent) return 0;
    if (pStatus) *pStatus = BigEndian32(reply);
    return ok ? 1 : 0;
}

}  // extern "C"

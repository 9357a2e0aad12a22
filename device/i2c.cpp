// I2C transfers through the camera's controller, and the register write at the
// controller's own I2C address 122. Two data bytes travel high byte first.
#include "core/attach.h"
#include "core/trace.h"
#include "device/device.h"
#include "device/request_block.h"
#include "tavcam.h"

using namespace tav;

extern "C" {

TAVCAM_API int32_t WINAPI SendI2C(int32_t nDevice, uint32_t nI2CAddress, uint32_t nRegister,
                                  uint32_t nDataHigh, uint32_t nDataLow) {
    if (!LibraryUsable()) return 0;
    RequestBlock block;
    BeginRequest(&block, 5, (uint8_t)nI2CAddress, CMD_I2C_WRITE);
    PutByte(&block, kParametersAt, nRegister);
    PutByte(&block, kParametersAt + 1, nDataHigh);
    PutByte(&block, kParametersAt + 2, nDataLow);
    return SendCommandRequest(DeviceIndexFromArgument(nDevice), block, 13);
}

TAVCAM_API int32_t WINAPI SendI2C_OneDataByte(int32_t nDevice, uint32_t nI2CAddress,
                                              uint32_t nRegister, uint32_t nData) {
    if (!LibraryUsable()) return 0;
    RequestBlock block;
    BeginRequest(&block, 4, (uint8_t)nI2CAddress, CMD_I2C_WRITE_BYTE);
    PutByte(&block, kParametersAt, nRegister);
    PutByte(&block, kParametersAt + 1, nData);
    return SendCommandRequest(DeviceIndexFromArgument(nDevice), block, 12);
}

TAVCAM_API int32_t WINAPI ReceiveI2C(int32_t nDevice, uint32_t nI2CAddress, uint32_t nRegister,
                                     uint8_t* pData1, uint8_t* pData2) {
    if (!LibraryUsable()) return 0;
    int index = DeviceIndexFromArgument(nDevice);
    HANDLE camera = OpenCamera(index);
    if (!CameraOpened(camera)) {
        Trace("Open USB Norvex camera %d fails", index);
        return 0;
    }
    Trace("Open USB Norvex camera %d successful", index);
    Trace("ReceiveI2C:  BusIndex=%d , uDevAddr=%d, uRegAddr=%d \r\n", index,
          (int)(nI2CAddress & 0xFF), (int)(nRegister & 0xFF));
    RequestBlock block;
    BeginRequest(&block, 3, (uint8_t)nI2CAddress, CMD_I2C_READ);
    PutByte(&block, kParametersAt, nRegister);
    if (!SendRequest(camera, block.bytes, 11)) {
        plat::CloseHandle(camera);
        return 0;
    }
    plat::Sleep(kCommandPauseMs);
    uint8_t reply[kReplyBytes];
    bool ok = FetchReply(camera, reply);
    if (pData1) *pData1 = reply[0];
    if (pData2) *pData2 = reply[1];
    plat::CloseHandle(camera);
    return ok ? 1 : 0;
}

TAVCAM_API int32_t WINAPI SetRegister(const char* pCameraName, uint32_t nRegister,
                                      uint32_t nValue) {
    if (!LibraryUsable()) return 0;
    int index = 0;
    if (!DeviceIndexFromName(pCameraName, &index)) return 0;
    return SendI2C(index, kProbeI2CAddress, nRegister, (nValue >> 8) & 0xFF, nValue & 0xFF);
}

}  // extern "C"

// The device layer's internal interface: what the rest of the library uses to
// reach a camera. The exported device functions (SendCommand, ReceiveStatus,
// GetCameraStatus, the flash, I2C and identification functions, the camera
// list) are declared in tavcam.h; these are the pieces under them.
#pragma once

#include <stdint.h>

#include "platform/platform.h"

namespace tav {

// Driver requests of the camera family's kernel driver (device type 0x22).
constexpr DWORD IOCTL_CAM_READ_REPLY = 0x22204C;
constexpr DWORD IOCTL_CAM_SEND_REQUEST = 0x222050;
constexpr DWORD IOCTL_CAM_START_STREAM = 0x222078;
constexpr DWORD IOCTL_CAM_STOP_STREAM = 0x22207C;
constexpr DWORD IOCTL_CAM_READ_STREAM = 0x222082;

// Vendor command codes.
enum VendorCommand : uint8_t {
    CMD_FLASH_STATUS = 0,
    CMD_FLASH_BEGIN = 1,
    CMD_FLASH_WRITE = 2,
    CMD_FLASH_READ = 3,
    CMD_FIFO_RESET = 5,
    CMD_LOAD_TABLE = 6,
    CMD_I2C_WRITE = 7,
    CMD_WRITE_REG = 8,
    CMD_I2C_READ = 9,
    CMD_I2C_WRITE_BYTE = 10,
    CMD_READ_ID = 11,
    CMD_READ_REG = 12,
    CMD_SET_ONOFF = 18,
    CMD_SET_AUTO = 28,
    CMD_GET_STATUS = 100,
};

constexpr uint8_t kProbeI2CAddress = 122;  // the camera controller's own I2C address

// Device index from a camera name: the digit right after the first '-',
// valid when it is '0'..'7'. False for a null name or any other character.
bool DeviceIndexFromName(const char* name, int* index);

// Device index argument of the device functions: only its low byte counts, as
// a signed value. -1 .. -128 and 8 .. 127 are not valid indexes.
inline int DeviceIndexFromArgument(int32_t nDevice) { return (int)(int8_t)(nDevice & 0xFF); }

// Enumerates the cameras' driver paths into this process's path table;
// returns the number of interfaces examined.
int EnumerateCameras();

// Opens the camera of a device index: a handle, or INVALID_HANDLE_VALUE when
// the index is not 0..7 or the path doesn't open. Callers treat a null handle
// as a failure too. Close with plat::CloseHandle.
HANDLE OpenCamera(int index);

// One IOCTL_CAM_SEND_REQUEST with inputSize bytes of block.
bool SendRequest(HANDLE camera, const void* block, uint32_t inputSize);
// One IOCTL_CAM_READ_REPLY: the 8-byte fetch header in, 64 reply bytes out
// (left zero when the fetch fails).
bool FetchReply(HANDLE camera, uint8_t reply[64]);

}  // namespace tav

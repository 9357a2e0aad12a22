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
inline int DeviceIndexFromArgument(int32_t nDevice) {
    return (int)(int8_t)(nDevice & 0xFF);
}

// The device interface class of the camera family's driver,
// {9567203D-AB53-47A1-BCF8-6E811C3F58A2}.
extern const GUID kCameraInterfaceGuid;

// The path table: one NUL-terminated driver path (at most 255 characters) per
// device index, empty until an enumeration fills the slot; a slot keeps its
// path until a later enumeration overwrites it. The table belongs to the
// process. CameraPath copies slot `index` into path (256 bytes); false when
// the index is not 0..7. SetCameraPath is the enumeration's writer (a path
// longer than 255 characters is refused and leaves the slot as it was).
constexpr int kPathBytes = 256;
bool CameraPath(int index, char path[kPathBytes]);
bool SetCameraPath(int index, const char* path);

// Enumerates the cameras' driver paths into this process's path table;
// returns the number of interfaces examined.
int EnumerateCameras();

// Opens the camera of a device index: a handle, or INVALID_HANDLE_VALUE when
// the index is not 0..7 or the path doesn't open. Callers treat a null handle
// as a failure too. Close with plat::CloseHandle.
HANDLE OpenCamera(int index);
inline bool CameraOpened(HANDLE camera) {
    return camera != nullptr && camera != INVALID_HANDLE_VALUE;
}

// The protocol pauses of the command channel, in milliseconds. They are part
// of the camera's protocol: its controller needs them to act on a request.
constexpr DWORD kCommandPauseMs = 100;        // after a command, before a reply fetch
constexpr DWORD kFlashReadPauseMs = 25;       // between a flash read request and its reply
constexpr DWORD kFlashBeginPauseMs = 30;      // after the begin of a flash write
constexpr DWORD kFlashWritePauseMs = 50;      // status poll, after each flash write request
constexpr DWORD kIdentificationPauseMs = 50;  // between an identification request and reply

// One IOCTL_CAM_SEND_REQUEST with inputSize bytes of block.
bool SendRequest(HANDLE camera, const void* block, uint32_t inputSize);
// One IOCTL_CAM_READ_REPLY: the 8-byte fetch header in, 64 reply bytes out
// (left zero when the fetch fails). A reply of fewer than 64 bytes fails.
bool FetchReply(HANDLE camera, uint8_t reply[64]);

}  // namespace tav

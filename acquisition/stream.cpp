// The stream's driver requests and sizes (see stream.h).
#include "acquisition/stream.h"

#include "device/device.h"
#include "device/request_block.h"

namespace tav {

StreamSizes SizesOf(uint32_t width, uint32_t lines, uint32_t bytesPerPixel,
                    uint32_t framesPerTransfer) {
    StreamSizes s;
    s.lineBytes = (uint64_t)width * bytesPerPixel;
    s.frameBytes = s.lineBytes * ((uint64_t)lines + 4);
    s.transferBytes = s.frameBytes * framesPerTransfer;
    return s;
}

bool SizesUsable(const StreamSizes& sizes, uint32_t framesPerTransfer) {
    return sizes.lineBytes != 0 && framesPerTransfer != 0 &&
           sizes.transferBytes <= kMaxTransferBytes;
}

Markers StreamMarkers(uint32_t cameraModel, uint32_t bytesPerPixel) {
    if (cameraModel > 4 && bytesPerPixel == 2) return Markers{0xFF, 0xFE};
    return Markers{0x01, 0x02};
}

bool ResetFifo(HANDLE camera, uint8_t flag) {
    // Direction 0, length 3: target 0, the command and its flag byte.
    RequestBlock block;
    BeginRequest(&block, 3, 0, CMD_FIFO_RESET);
    PutByte(&block, kParametersAt, flag);
    return SendRequest(camera, block.bytes, kRequestHeaderBytes + 3);
}

static void PutLittle32(uint8_t* p, uint32_t v) {
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
    p[2] = (uint8_t)(v >> 16);
    p[3] = (uint8_t)(v >> 24);
}

bool StartStream(HANDLE camera, uint32_t width, uint32_t linesPlus4, uint32_t bytesPerPixel,
                 uint32_t framesPerTransfer, uint32_t cameraModel) {
    const uint32_t words[9] = {3,           width, linesPlus4, bytesPerPixel, 0, framesPerTransfer,
                               cameraModel, 0,     0};
    uint8_t block[sizeof words];
    for (int i = 0; i < 9; ++i) PutLittle32(block + 4 * i, words[i]);
    DWORD returned = 0;
    return plat::DeviceIoControl(camera, IOCTL_CAM_START_STREAM, block, sizeof block, nullptr, 0,
                                 &returned, nullptr) != 0;
}

bool StopStream(HANDLE camera) {
    DWORD returned = 0;
    return plat::DeviceIoControl(camera, IOCTL_CAM_STOP_STREAM, nullptr, 0, nullptr, 0, &returned,
                                 nullptr) != 0;
}

bool ReadTransfer(HANDLE camera, void* buffer, uint32_t capacity, DWORD* returned) {
    *returned = 0;
    return plat::DeviceIoControl(camera, IOCTL_CAM_READ_STREAM, nullptr, 0, buffer, capacity,
                                 returned, nullptr) != 0;
}

}  // namespace tav

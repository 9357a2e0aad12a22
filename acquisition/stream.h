// The camera's image stream as capture and live video drive it: the stream's
// geometry, the markers that frame a transfer, and the four driver requests
// (FIFO reset, stream start, one bulk read, stream stop) sent on a handle
// that the capture or the reader holds for its whole run.
//
// A raw frame is (lines + 4) raw lines: two header lines, the image, two
// trailer lines. A transfer is one bulk read of framesPerTransfer raw frames
// back to back; only its first byte (the start marker) and its last byte (the
// end marker) are tested, never the markers of the frames inside it.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "platform/platform.h"

namespace tav {

// The largest transfer the library asks for: the driver's (and the camera
// server's) limit on one read's output. A scan area whose transfer would be
// larger is refused before the camera is claimed.
constexpr uint64_t kMaxTransferBytes = 268435456;

// The captures read a transfer of the wrong size or with wrong markers again,
// and so they do after a transfer whose every picture lacked room; this many
// such transfers in a row end the capture as a failed read would, so a camera
// that sends garbage can't keep the caller's thread forever.
constexpr uint32_t kMaxFruitlessTransfers = 100;

// Frames per transfer: small frames are gathered so that one bulk read moves
// more than 64 KiB. 65536 / bytes + 1 (integer division); bytes of 0 give 0,
// which every caller refuses.
inline uint32_t FramesPerTransfer(uint64_t bytes) {
    return bytes == 0 ? 0 : (uint32_t)(65536 / bytes + 1);
}

// Sizes of one stream, from the values its set-up block announces.
struct StreamSizes {
    uint64_t lineBytes;      // width x bytes per pixel
    uint64_t frameBytes;     // (lines + 4) raw lines
    uint64_t transferBytes;  // framesPerTransfer raw frames
};
StreamSizes SizesOf(uint32_t width, uint32_t lines, uint32_t bytesPerPixel,
                    uint32_t framesPerTransfer);

// True when a stream of these sizes can be asked for: nothing zero, a
// transfer within kMaxTransferBytes.
bool SizesUsable(const StreamSizes& sizes, uint32_t framesPerTransfer);

// Start and end markers: 0x01 / 0x02; cameras of model 5 and above mark
// frames of two-byte samples with 0xFF / 0xFE.
struct Markers {
    uint8_t start;
    uint8_t end;
};
Markers StreamMarkers(uint32_t cameraModel, uint32_t bytesPerPixel);

// The transfer's first byte is the start marker and its last the end marker.
// `bytes` is the full transfer size (the buffer's, whatever the read returned).
inline bool TransferMarked(const uint8_t* transfer, uint64_t bytes, Markers m) {
    return bytes > 0 && transfer[0] == m.start && transfer[bytes - 1] == m.end;
}

// CMD_FIFO_RESET with its parameter byte (1 before a stream starts, 0 when a
// capture ends), sent on the caller's handle with no pause after it.
bool ResetFifo(HANDLE camera, uint8_t flag);

// IOCTL_CAM_START_STREAM with the stream set-up block: [0] 3, [1] width,
// [2] lines + 4, [3] bytes per pixel, [4] 0, [5] frames per transfer,
// [6] camera model; [7] and [8] are not used and sent as 0.
bool StartStream(HANDLE camera, uint32_t width, uint32_t linesPlus4, uint32_t bytesPerPixel,
                 uint32_t framesPerTransfer, uint32_t cameraModel);

// IOCTL_CAM_STOP_STREAM, no buffers. Sent on another handle than the reader's,
// it also ends a bulk read that is waiting for a transfer.
bool StopStream(HANDLE camera);

// One IOCTL_CAM_READ_STREAM into buffer (capacity bytes). *returned gets the
// byte count the driver reported (0 on failure).
bool ReadTransfer(HANDLE camera, void* buffer, uint32_t capacity, DWORD* returned);

}  // namespace tav

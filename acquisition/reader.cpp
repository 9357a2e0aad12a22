// The live-video reader thread: reads transfers from the camera, converts
// each frame into the caller's picture and announces it.
//
// How a transfer of several frames is handed over: all frames of a transfer
// are taken from the buffer that received it. Each delivered frame is
// converted from there, announced with pLastBuffer naming that buffer, and
// the ring of direct buffers (or the pair of internal buffers) moves on once
// per transfer, after its last frame, when at least one of its frames was
// delivered (internal buffers alternate after every good transfer). So a
// notice always follows the complete writing of the picture, pLastBuffer
// always names a buffer holding a complete transfer, and the raw frame that
// *ppRawFrame names stays intact until the next transfer but one.
#include <string.h>

#include "acquisition/frame_rules.h"
#include "acquisition/live_statistics.h"
#include "acquisition/live_video.h"
#include "acquisition/stream.h"
#include "core/trace.h"
#include "device/device.h"

namespace tav {
namespace {

// What the reader keeps for its life: copies of the record's fields (the
// start call wrote them before the thread existed; only bStopRequest and
// nSatCoefficient change while it runs and are read afresh).
struct Reader {
    ReadParameters* rp;
    int index = 0;
    HANDLE camera = INVALID_HANDLE_VALUE;
    HANDLE readerEvent = nullptr;
    uint32_t mode = 0;
    HWND hWnd = nullptr;
    HANDLE frameEvent = nullptr;
    LiveVideoCallback callback = nullptr;
    uintptr_t context = 0;
    const char* cameraName = nullptr;
    void** ppRawFrame = nullptr;
    uint8_t* picture = nullptr;
    const uint8_t* colourTable = nullptr;
    int tableReadable = -1;  // checked when a frame first needs it
    uint32_t width = 0, height = 0, bytesPerPixel = 0, framesPerTransfer = 0;
    uint32_t format = 0, outBits = 0, cameraModel = 0;
    StreamSizes sizes{};
    uint64_t imageBytes = 0;
    Markers markers{};
    // Read buffers: the caller's ring or two internal buffers.
    LiveVideoParamEx* ring = nullptr;
    uint32_t ringSize = 0;
    uint32_t ringIndex = 0;
    uint8_t* internal[2] = {nullptr, nullptr};
    uint32_t internalIndex = 0;
    uint8_t* current = nullptr;
};

void Notify(const Reader& r, uint32_t code) {
    uint32_t value = code, zero = 0;
    r.callback(r.cameraName, &value, &zero, 0, r.context);
}

// The frame could not be delivered: the picture lacks room (or the colour
// table can't be read).
void ReportNoRoom(const Reader& r) {
    AddLiveCount(r.index, LiveCount::NoRoom);
    Trace("Not enough memory for frame transfer \r\n");
    if (r.mode == LIVE_MODE_CALLBACK && r.callback) Notify(r, LIVE_CB_NO_ROOM);
    if (r.mode == LIVE_MODE_WINDOW) plat::PostMessageA(r.hWnd, WM_LIVE_ERROR, 0, LIVE_ERR_NO_ROOM);
}

void Deliver(Reader& r, uint8_t* frame) {
    AddLiveCount(r.index, LiveCount::Delivered);
    if (r.ring) {
        // Two stretches of the delivered raw frame are cleared, so that a
        // buffer read again later can't pass for the frame already shown.
        memset(frame, 0, 2 * (size_t)r.width);
        memset(frame + r.imageBytes, 0, 2 * (size_t)r.width);
        __atomic_store_n(&r.ring->pLastBuffer, (void*)r.current, __ATOMIC_RELEASE);
    }
    if (r.mode == LIVE_MODE_CALLBACK && r.callback) Notify(r, LIVE_CB_FRAME);
    if (r.mode == LIVE_MODE_WINDOW) plat::PostMessageA(r.hWnd, WM_LIVE_FRAME, 0, 0);
    if (r.mode == LIVE_MODE_EVENT) plat::SetEvent(r.frameEvent);
}

// Converts one frame and announces it; true when it was delivered.
bool ProcessFrame(Reader& r, uint8_t* frame) {
    const FrameRule* rule = FindFrameRule(Loop::Reader, r.bytesPerPixel, r.outBits, r.format);
    if (!rule) return false;  // no conversion for this format: read and dropped
    const uint32_t sat = SatCoefficientOf(*r.rp);
    const uint64_t room = RoomNeeded(rule->room, r.imageBytes);
    if (!PictureHasRoom(rule->conversion, r.picture, room, sat, r.colourTable, &r.tableReadable)) {
        ReportNoRoom(r);
        return false;
    }
    FrameJob job{frame, r.sizes.lineBytes, r.picture, r.width, r.height, sat, r.colourTable, 0};
    if (rule->conversion == Conversion::QuaziColour) {
        job.channel = FrameChannel(frame, r.sizes.lineBytes, r.sizes.frameBytes);
        ConvertFrame(rule->conversion, job);
        Trace("Put frame part to the buffer, x= %d  \r\n", (int)job.channel);
        if (job.channel != 2) return false;  // the picture is complete with the red part
        Deliver(r, frame);
        return true;
    }
    ConvertFrame(rule->conversion, job);
    Deliver(r, frame);
    if (rule->conversion == Conversion::MonoCopy8 || rule->conversion == Conversion::FieldMerge8)
        Trace("Send a frame \r\n");
    return true;
}

// The next read buffer, after a good transfer.
void MoveOn(Reader& r, bool delivered) {
    if (r.ring) {
        if (!delivered) return;
        r.ringIndex = r.ringIndex + 1 >= r.ringSize ? 0 : r.ringIndex + 1;
        r.current = (uint8_t*)r.ring->pDirectBuffer[r.ringIndex];
    } else {
        r.internalIndex ^= 1;
        r.current = r.internal[r.internalIndex];
    }
}

DWORD End(Reader& r, DWORD code) {
    if (CameraOpened(r.camera)) plat::CloseHandle(r.camera);
    for (uint8_t*& b : r.internal) {
        if (b) plat::LocalFree(b);
        b = nullptr;
    }
    if (r.readerEvent) plat::SetEvent(r.readerEvent);
    // The very last step: from here a new start may reuse the record.
    ReleaseCamera(*r.rp);
    return code;
}

bool SetUpBuffers(Reader& r, DWORD* code) {
    if (r.ring) {
        r.ringIndex = 0;
        r.current = (uint8_t*)r.ring->pDirectBuffer[0];
        Trace("AttachReadThread: Get external buffers \r\n");
        return true;
    }
    for (int i = 0; i < 2; ++i) {
        r.internal[i] = (uint8_t*)plat::LocalAlloc(LPTR, (size_t)r.sizes.transferBytes);
        if (!r.internal[i]) {
            // Transfers are at most 256 MiB (refused at the start otherwise):
            // only a process out of memory gets here, which no test arranges.
            *code = i == 0 ? 5 : 6;
            return false;
        }
    }
    r.current = r.internal[0];
    Trace("AttachReadThread: Allocate internal buffers \r\n");
    return true;
}

}  // namespace

DWORD WINAPI AttachReadThread(LPVOID param) {
    Reader r;
    r.rp = static_cast<ReadParameters*>(param);
    const ReadParameters& rp = *r.rp;
    r.ppRawFrame = rp.ppRawFrame;
    r.callback = rp.pfnCallback;
    r.context = rp.pCallbackContext;
    r.cameraName = rp.pCameraName;
    r.hWnd = rp.hWnd;
    r.frameEvent = rp.hFrameEvent;
    r.readerEvent = rp.hReaderEvent;
    r.mode = rp.nDeliveryMode;
    r.picture = (uint8_t*)rp.pImage;
    r.colourTable = (const uint8_t*)rp.pColourTable;
    r.width = rp.nWidth;
    r.height = rp.nHeight;
    r.bytesPerPixel = rp.nBytesPerPixel;
    r.framesPerTransfer = rp.nFramesPerTransfer;
    r.format = rp.nFormat;
    r.outBits = rp.nOutBits;
    r.cameraModel = rp.nCameraModel;
    r.index = (int)rp.nDevice;
    if (rp.bDirectBuffer && rp.pLiveVideoParamEx) {
        r.ring = rp.pLiveVideoParamEx;
        // The start checked 1..32; a caller that changes the block later
        // can't lead the ring outside its 32 entries.
        r.ringSize = r.ring->nBuffers;
        if (r.ringSize < 1 || r.ringSize > TAVCAM_MAX_DIRECT_BUFFERS) r.ringSize = 1;
    }

    r.camera = OpenCamera((int)rp.nDevice);
    if (!CameraOpened(r.camera)) {
        // The camera left between the start's last request and this open:
        // a race no test can place an unplug in. The reader then ends as it
        // does when its stream start fails (the fault matrix's unplug case).
        Trace("AttachReadThread unable to get handle to the usb device \r\n");
        return End(r, 1);
    }
    r.sizes = SizesOf(r.width, r.height, r.bytesPerPixel, r.framesPerTransfer);
    r.imageBytes = (uint64_t)r.height * r.width * r.bytesPerPixel;
    if (r.format == 10) r.imageBytes /= 2;
    DWORD code = 0;
    if (!SetUpBuffers(r, &code)) return End(r, code);
    Trace("AttachReadThread:  Sat Coefficient= %d \r\n", (int)SatCoefficientOf(rp));
    r.markers = StreamMarkers(r.cameraModel, r.bytesPerPixel);
    const uint32_t transferBytes = (uint32_t)r.sizes.transferBytes;
    uint32_t restarts = 1;

    for (;;) {  // one pass per stream start
        uint32_t good = 0;
        if (!ResetFifo(r.camera, 1)) {
            Trace("AttachReadThread unable to reset the FIFO before stream's start  \r\n");
            return End(r, 7);
        }
        if (!StartStream(r.camera, r.width, r.height + 4, r.bytesPerPixel, r.framesPerTransfer,
                         r.cameraModel)) {
            Trace("AttachReadThread unable to start stream \r\n");
            return End(r, 8);
        }
        for (;;) {  // the read loop
            DWORD got = 0;
            if (!ReadTransfer(r.camera, r.current, transferBytes, &got)) break;
            if (StopRequested(rp)) {
                if (!StopStream(r.camera)) Trace("AttachReadThread unable to stop stream \r\n");
                return End(r, 0);
            }
            // A return of exactly 2 bytes passes; the markers are then read
            // from what the buffer holds.
            if (got != transferBytes && got != 2) {
                Trace("Received data's size is not equal for the request \r\n");
                AddLiveCount(r.index, LiveCount::DroppedSize);
                if (r.mode == LIVE_MODE_WINDOW)
                    plat::PostMessageA(r.hWnd, WM_LIVE_ERROR, 0, LIVE_ERR_SIZE);
                continue;
            }
            if (!TransferMarked(r.current, transferBytes, r.markers)) {
                Trace("Received Bad Frame - we don't show it \r\n");
                AddLiveCount(r.index, LiveCount::DroppedMarkers);
                continue;
            }
            AddLiveCount(r.index, LiveCount::Transfers);
            if (good > kGoodRunResetsRestarts) restarts = 0;
            ++good;
            bool delivered = false;
            for (uint32_t i = 0; i < r.framesPerTransfer; ++i) {
                uint8_t* frame = r.current + (uint64_t)i * r.sizes.frameBytes;
                if (r.ppRawFrame)
                    __atomic_store_n(r.ppRawFrame, (void*)(frame + r.sizes.lineBytes),
                                     __ATOMIC_RELEASE);
                delivered |= ProcessFrame(r, frame);
            }
            MoveOn(r, delivered);
        }
        // A failed read: stop the stream, then restart it while restarts last.
        AddLiveCount(r.index, LiveCount::ReadFailures);
        Trace("attempt to get frame: dwRet=%d, try to restart thread\r\n",
              (int)plat::GetLastError());
        if (!StopStream(r.camera)) {
            Trace("AttachReadThread unable to stop stream \r\n");
            return End(r, 9);
        }
        if (StopRequested(rp) || restarts >= kReaderRestarts) {
            if (!StopStream(r.camera)) Trace("AttachReadThread unable to stop stream \r\n");
            return End(r, 0);
        }
        ++restarts;
        AddLiveCount(r.index, LiveCount::Restarts);
    }
}

}  // namespace tav

// USBCaptureFrame: a given number of pictures, taken on the caller's thread.
//
// The capture writes the scan area into the camera window, claims the camera
// (so no live video or other capture starts on it), starts the stream, reads
// transfers until every picture is delivered and stops the stream. Picture n
// goes to ppBuffers[n]; the frames of one transfer fill successive pictures.
//
// Decisions taken for the user's safety (the header says them too):
// - The claim is an atomic test-and-set; a capture that fails gives it back.
// - Refused with 0 before the camera is claimed: a parameter block, a
//   coefficient or a buffer array that can't be read, a camera without a
//   current format, a sample size below one byte, a transfer above the
//   driver's limit.
// - Transfers of the wrong size or with wrong markers are read again, but not
//   forever: after kMaxFruitlessTransfers of them in a row (or transfers whose
//   pictures all lacked room) the capture ends as on a failed read.
#include "acquisition/frame_rules.h"
#include "acquisition/stream.h"
#include "config/device_table.h"
#include "core/attach.h"
#include "core/trace.h"
#include "device/device.h"
#include "tavcam.h"

namespace tav {
namespace {

// Room of the picture: three bytes a pixel for colour output, one for 8-bit
// output (of one-byte samples, or half the image bytes of two-byte samples).
uint64_t CaptureRoom(uint32_t b, uint32_t outBits, uint64_t imageBytes) {
    if (outBits == 24) return 3 * imageBytes;
    return b == 1 ? imageBytes : imageBytes / 2;
}

struct Capture {
    int index;
    ReadParameters* rp;
    HANDLE event;
    HANDLE camera = INVALID_HANDLE_VALUE;
    uint8_t* buffer = nullptr;
};

// Every exit after the camera was marked busy: the event is set and the
// camera given back.
int32_t Finish(Capture& c, int32_t result) {
    if (CameraOpened(c.camera)) plat::CloseHandle(c.camera);
    if (c.buffer) plat::LocalFree(c.buffer);
    if (c.event) plat::SetEvent(c.event);
    SetClaimKind(*c.rp, kClaimNone);
    ReleaseCamera(*c.rp);
    return result;
}

}  // namespace
}  // namespace tav

using namespace tav;

extern "C" TAVCAM_API int32_t WINAPI USBCaptureFrame(const char* pCameraName,
                                                     CaptureParam* pParam) {
    if (!LibraryUsable()) return 0;
    Trace("Enter the  USBCaptureFrame\r\n");
    int index = 0;
    if (!DeviceIndexFromName(pCameraName, &index)) return 0;
    if (!pParam || plat::IsBadReadPtr(pParam, sizeof *pParam) || !pParam->pSatCoefficient ||
        plat::IsBadReadPtr(pParam->pSatCoefficient, sizeof(uint32_t)))
        return 0;
    const uint32_t sat = *pParam->pSatCoefficient;
    const uint32_t nFrames = pParam->nFrames;
    void** buffers = pParam->ppBuffers;
    const uint64_t pictures = nFrames ? nFrames : 1;
    if (!buffers || plat::IsBadReadPtr(buffers, (UINT_PTR)(pictures * sizeof(void*)))) return 0;

    DeviceSlot& slot = g_DeviceTable[index];
    const FormatEntry* entry = CurrentFormatEntry(slot);
    if (!entry) return 0;
    const uint32_t W = slot.ImgWidth, L = slot.ImgHeight, b = entry->RawBits / 8;
    const uint32_t T = FramesPerTransfer((uint64_t)b * (L + 4ull) * W);
    const StreamSizes sizes = SizesOf(W, L, b, T);
    if (L == 0 || !SizesUsable(sizes, T)) return 0;

    ReadParameters& rp = slot.ReadParameters;
    if (!ClaimCamera(rp)) return 0;  // live video or another capture runs
    if (!SetCameraWindow(index, (int32_t)slot.ImgLeft, (int32_t)slot.ImgTop, (int32_t)W, (int32_t)L,
                         1, 1, 1, 1)) {
        Trace("USBCaptureFrame: SetCameraWindow failed  \r\n");
        ReleaseCamera(rp);
        return 0;
    }
    rp.nOutBits = entry->OutBits;
    rp.nFormat = entry->FormatCode;
    rp.nBytesPerPixel = b;
    rp.nWidth = W;
    rp.nHeight = L;
    rp.pColourTable = pParam->pColourTable;
    if (!pParam->pColourTable) {
        ReleaseCamera(rp);
        return 0;
    }
    rp.nFramesPerTransfer = T;
    rp.ppRawFrame = nullptr;
    SetStopRequest(rp, 0);
    rp.nDevice = (uint32_t)index;
    rp.nDeliveryMode = LIVE_MODE_WINDOW;
    rp.nCameraModel = slot.Record.CameraModel;
    SetClaimKind(rp, kClaimCapture);
    Capture c{index, &rp, ReaderEvent(index)};
    if (c.event) plat::ResetEvent(c.event);
    rp.hReaderEvent = c.event;

    // Neither of the next two fails in a test: the transfer is at most 256 MiB
    // (refused above otherwise), and the camera answered the window writes
    // just before, so only a process out of memory or a camera leaving in
    // between gets here. Both end as every failure after the claim does.
    c.buffer = (uint8_t*)plat::LocalAlloc(LPTR, (size_t)sizes.transferBytes);
    if (!c.buffer) return Finish(c, 0);
    c.camera = OpenCamera(index);
    if (!CameraOpened(c.camera)) return Finish(c, 0);
    if (!ResetFifo(c.camera, 1)) {
        Trace("USBCaptureFrame: unable to reset FIFO \r\n");
        return Finish(c, 0);
    }
    if (!StartStream(c.camera, W, L + 4, b, T, slot.Record.CameraModel)) {
        Trace("USBCaptureFrame: unable start stream \r\n");
        return Finish(c, 0);
    }

    const FrameRule* rule = FindFrameRule(Loop::Capture, b, entry->OutBits, entry->FormatCode);
    const Conversion conversion = rule ? rule->conversion : Conversion::None;
    const uint64_t room = CaptureRoom(b, entry->OutBits, (uint64_t)W * L * b);
    const Markers markers = StreamMarkers(slot.Record.CameraModel, b);
    const uint8_t* table = (const uint8_t*)pParam->pColourTable;
    int tableReadable = -1;
    uint32_t delivered = 0, fruitless = 0;
    uint8_t* picture = (uint8_t*)buffers[0];
    bool done = false, gaveUp = false;
    while (!done && !gaveUp) {
        DWORD got = 0;
        if (!ReadTransfer(c.camera, c.buffer, (uint32_t)sizes.transferBytes, &got)) {
            gaveUp = true;
            break;
        }
        bool converted = false;
        if (got != sizes.transferBytes) {
            Trace("USBCaptureFrame: Received data's size is not equal for the request \r\n");
        } else {
            Trace("USBCaptureFrame: Received data's size is equal for the request \r\n");
            if (!TransferMarked(c.buffer, sizes.transferBytes, markers)) {
                Trace("USBCaptureFrame: Received Bad Frame - we don't show it \r\n");
            } else {
                Trace("USBCaptureFrame: Received Good Frame \r\n");
                for (uint32_t k = 0; k < T && !done; ++k) {
                    const uint8_t* frame = c.buffer + (uint64_t)k * sizes.frameBytes;
                    if (!PictureHasRoom(conversion, picture, room, sat, table, &tableReadable)) {
                        Trace("USBCaptureFrame: Not enough memory for frame transfer \r\n");
                        continue;
                    }
                    converted = true;
                    FrameJob job{frame, sizes.lineBytes, picture, W, L, sat, table, 0};
                    bool counts = true;
                    if (conversion == Conversion::QuaziColour) {
                        job.channel = FrameChannel(frame, sizes.lineBytes, sizes.frameBytes);
                        Trace("USBCaptureFrame: Put frame part to the buffer, x= %d  \r\n",
                              (int)job.channel);
                        counts = job.channel == 2;  // the red part completes the picture
                    }
                    ConvertFrame(conversion, job);
                    if (counts) ++delivered;
                    Trace("USBCaptureFrame: Send a %d frame of %d frames \r\n", (int)delivered,
                          (int)nFrames);
                    if (delivered >= nFrames)
                        done = true;
                    else
                        picture = (uint8_t*)buffers[delivered];
                }
            }
        }
        if (converted) {
            fruitless = 0;
        } else if (++fruitless >= kMaxFruitlessTransfers) {
            Trace("USBCaptureFrame: no picture in %d transfers \r\n", (int)fruitless);
            gaveUp = true;
        }
    }
    // A failed read ends the capture with the pictures delivered so far, once
    // the stream stopped; the normal end then stops it a second time.
    if (gaveUp && !StopStream(c.camera)) {
        Trace("USBCaptureFrame unable to stop stream \r\n");
        return Finish(c, 0);
    }
    if (!StopStream(c.camera)) Trace("USBCaptureFrame: unable to stop stream \r\n");
    return Finish(c, 1);
}

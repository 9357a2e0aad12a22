// USBCaptureFrameEx: a series of pictures in one blocking call, converted into
// the caller's pictures or left raw in the caller's ring of buffers, with an
// optional frame sequence (register 0x1A0) and per-frame information records.
// Also USBGetUrgentInfo and USBGetData.
//
// Decisions taken for the user's safety (the header says them too):
// - Refused with CAPEX_BAD_REQUEST before the camera is claimed: a parameter
//   block or coefficient that can't be read, more than 32 pictures, a
//   LiveVideoParamEx block that can't be read, a direct-mode ring whose
//   nBuffers is not 1..32, a frame sequence of fewer than 2 frames.
// - The claim is an atomic test-and-set, given back on every failure.
// - Every buffer of a direct-mode ring must hold a transfer (not only the
//   first), else CAPEX_NO_BUFFER; so is a transfer above the driver's limit.
// - Frames of a transfer are handed over from the buffer that received it;
//   the ring moves on once per transfer (see reader.cpp for the same rule).
// - An information record is copied only as far as the one line checked in
//   the caller's buffer, and never from beyond its frame.
// - Wrong-sized or badly marked transfers are read again at most
//   kMaxFruitlessTransfers times in a row; then the capture ends as on a
//   failed read (CAPEX_READ_FAILED).
#include <string.h>

#include "acquisition/frame_rules.h"
#include "acquisition/stream.h"
#include "config/device_table.h"
#include "core/attach.h"
#include "core/trace.h"
#include "device/device.h"
#include "tavcam.h"

namespace tav {
namespace {

constexpr uint32_t kRegSequence = 0x1A0;
constexpr uint32_t kInfoSearchBytes = 16;  // the record starts in the line's first 16 bytes

struct CaptureEx {
    ReadParameters* rp;
    HANDLE camera = INVALID_HANDLE_VALUE;
    uint8_t* internal[2] = {nullptr, nullptr};
};

int32_t Release(CaptureEx& c, int32_t result) {
    if (CameraOpened(c.camera)) plat::CloseHandle(c.camera);
    for (uint8_t*& b : c.internal) {
        if (b) plat::LocalFree(b);
        b = nullptr;
    }
    SetClaimKind(*c.rp, kClaimNone);
    ReleaseCamera(*c.rp);
    return result;
}

// Stops the stream and resets the FIFO with 0, as both ends of a started
// capture do.
void EndStream(HANDLE camera, bool traceFifo) {
    if (!StopStream(camera)) Trace("CaptureFrameEx: unable to stop stream");
    const bool reset = ResetFifo(camera, 0);
    if (traceFifo && !reset) Trace("reset FIFO before exit thread returned %d\r\n", 0);
}

// Copies a frame's information record (signature 0x77 0x77 at one of the
// first 16 bytes of its second line, then a 16-bit count N; 4 N + 4 bytes)
// into info, at most `room` bytes and never from beyond the frame.
void CopyFrameInfo(const uint8_t* frame, uint64_t lineBytes, uint64_t frameBytes, uint8_t* info,
                   uint64_t room) {
    const uint8_t* line = frame + lineBytes;
    const uint64_t searchable = lineBytes < kInfoSearchBytes + 3 ? 0 : kInfoSearchBytes;
    for (uint64_t at = 0; at < searchable; ++at) {
        if (line[at] != 0x77 || line[at + 1] != 0x77) continue;
        uint64_t bytes = 4ull * (line[at + 2] | line[at + 3] << 8) + 4;
        const uint64_t available = frameBytes - lineBytes - at;
        if (bytes > room) bytes = room;
        if (bytes > available) bytes = available;
        memcpy(info, line + at, (size_t)bytes);
        return;
    }
}

// The caller's information buffer number k, or null when the array can't be
// read there or the buffer can't take one line.
uint8_t* InfoBuffer(void** array, uint32_t k, uint64_t lineBytes) {
    if (!array || plat::IsBadReadPtr(array + k, sizeof(void*))) return nullptr;
    uint8_t* info = (uint8_t*)array[k];
    return plat::IsBadWritePtr(info, (UINT_PTR)lineBytes) ? nullptr : info;
}

bool Readable(const void* p, size_t bytes) {
    return p && !plat::IsBadReadPtr(p, bytes);
}

}  // namespace
}  // namespace tav

using namespace tav;

extern "C" {

TAVCAM_API int32_t WINAPI USBCaptureFrameEx(const char* pCameraName, CaptureFrameExParam* pParam) {
    if (!LibraryUsable()) return CAPEX_BAD_NAME;
    Trace("Enter the  USBCaptureFrameEx\r\n");
    if (!Readable(pParam, sizeof *pParam) || !Readable(pParam->pSatCoefficient, sizeof(uint32_t)))
        return CAPEX_BAD_REQUEST;
    const uint32_t sat = *pParam->pSatCoefficient;
    int index = 0;
    if (!DeviceIndexFromName(pCameraName, &index)) return CAPEX_BAD_NAME;

    // The request, checked before anything is claimed or sent.
    const bool direct = pParam->bDirectBuffer != 0;
    const uint32_t nPictures = pParam->nPictures ? pParam->nPictures : 1;
    LiveVideoParamEx* ex = pParam->pLiveVideoParamEx;
    CaptureSequence* seq = pParam->pSequence;
    if (seq && plat::IsBadWritePtr(seq, sizeof *seq)) seq = nullptr;  // ignored, as if absent
    if (nPictures > TAVCAM_MAX_DIRECT_BUFFERS || !Readable(ex, sizeof *ex) ||
        (direct && (ex->nBuffers < 1 || ex->nBuffers > TAVCAM_MAX_DIRECT_BUFFERS)) ||
        (seq && seq->bSequence && seq->nSequenceFrames < 2)) {
        Trace("USBCaptureFrameEx: the request is refused \r\n");
        return CAPEX_BAD_REQUEST;
    }

    DeviceSlot& slot = g_DeviceTable[index];
    ReadParameters& rp = slot.ReadParameters;
    if (!ClaimCamera(rp)) return CAPEX_RUNNING;
    CaptureEx c{&rp};
    const uint32_t W = slot.ImgWidth, L = slot.ImgHeight;
    if (!SetCameraWindow(index, (int32_t)slot.ImgLeft, (int32_t)slot.ImgTop, (int32_t)W, (int32_t)L,
                         1, 1, 1, 1)) {
        Trace("USBCaptureFrame: SetCameraWindow failed  \r\n");
        return Release(c, CAPEX_WINDOW_FAILED);
    }
    const FormatEntry* entry = CurrentFormatEntry(slot);
    const FormatEntry none{};
    if (!entry) entry = &none;  // no format: refused below as a stream of 0 bytes a pixel
    rp.nOutBits = entry->OutBits;
    rp.nFormat = entry->FormatCode;
    rp.pColourTable = pParam->pColourTable;
    if (!pParam->pColourTable) return Release(c, CAPEX_NO_COLOUR_TABLE);
    SetStopRequest(rp, 0);
    SetClaimKind(rp, kClaimCapture);

    const uint32_t b = entry->RawBits / 8;
    const uint32_t T = FramesPerTransfer((uint64_t)(L + 4ull) * W * b);
    const StreamSizes sizes = SizesOf(W, L, b, T);
    const uint64_t imageBytes = (uint64_t)L * W * b;
    if (L == 0 || !SizesUsable(sizes, T)) {
        Trace("USBCaptureFrameEx: no stream of ImgWidth = %d, ImgHeight = %d, %d bytes a pixel\r\n",
              (int)W, (int)L, (int)b);
        return Release(c, CAPEX_NO_BUFFER);
    }
    uint8_t* current = nullptr;
    uint32_t ringIndex = 0, internalIndex = 0;
    const uint32_t ringSize = ex->nBuffers;  // read once: the ring can't grow under the call
    if (direct) {
        Trace("USBCaptureFrameEx: Get external buffers \r\n");
        for (uint32_t k = 0; k < ringSize; ++k)
            if (plat::IsBadWritePtr(ex->pDirectBuffer[k], (UINT_PTR)sizes.transferBytes))
                return Release(c, CAPEX_NO_BUFFER);
        current = (uint8_t*)ex->pDirectBuffer[0];
    } else {
        for (uint8_t*& buffer : c.internal) {
            buffer = (uint8_t*)plat::LocalAlloc(LPTR, (size_t)sizes.transferBytes);
            if (!buffer) return Release(c, CAPEX_NO_BUFFER);
        }
        current = c.internal[0];
    }

    const bool sequence = seq && seq->bSequence;
    const bool frameInfo = seq && seq->bFrameInfo;
    uint32_t frameLimit = 0, infoIndex = 0;
    void** infoArray = frameInfo ? seq->ppFrameInfo : nullptr;
    if (sequence) {
        if (!SendCommand(index, CMD_WRITE_REG, kRegSequence, seq->nSequenceValue,
                         seq->nSequenceFrames))
            return Release(c, CAPEX_START_FAILED);
        frameLimit = seq->nSequenceFrames - 2;
    }
    // The camera answered the window writes (and the sequence command) just
    // before: only one leaving in between fails this open, a race no test can
    // place an unplug in; as for the internal buffers above, which fail only
    // in a process out of memory.
    c.camera = OpenCamera(index);
    if (!CameraOpened(c.camera)) return Release(c, CAPEX_OPEN_FAILED);
    if (!ResetFifo(c.camera, 1) || !StartStream(c.camera, W, L + 4, b, T, slot.Record.CameraModel))
        return Release(c, CAPEX_START_FAILED);

    const FrameRule* rule =
        direct ? nullptr : FindFrameRule(Loop::CaptureEx, b, entry->OutBits, entry->FormatCode);
    const uint8_t* table = (const uint8_t*)pParam->pColourTable;
    int tableReadable = -1;
    const Markers markers = StreamMarkers(slot.Record.CameraModel, b);
    uint32_t frameCount = 0, pictureCount = 0, fruitless = 0;
    uint8_t* destination = (uint8_t*)ex->pDirectBuffer[0];
    for (;;) {
        DWORD got = 0;
        bool read = ReadTransfer(c.camera, current, (uint32_t)sizes.transferBytes, &got);
        if (read && (got != sizes.transferBytes || !TransferMarked(current, got, markers))) {
            if (++fruitless < kMaxFruitlessTransfers) continue;  // read again
            read = false;
        }
        if (!read) {
            Trace("bBulkReadRes=0x%x, dwRet=%d, stop thread \r\n", 0u, (int)got);
            EndStream(c.camera, false);
            return Release(c, CAPEX_READ_FAILED);
        }
        fruitless = 0;
        bool leftEarly = false, handedOver = false;
        for (uint32_t i = 0; i < T; ++i) {
            const uint8_t* frame = current + (uint64_t)i * sizes.frameBytes;
            if (rule && rule->conversion != Conversion::None) {
                const uint64_t room = RoomNeeded(rule->room, imageBytes);
                if (!PictureHasRoom(rule->conversion, destination, room, sat, table,
                                    &tableReadable)) {
                    Trace("Not enough memory for frame transfer \r\n");
                } else {
                    FrameJob job{frame, sizes.lineBytes, destination, W, L, sat, table, 0};
                    job.channel = FrameChannel(frame, sizes.lineBytes, sizes.frameBytes);
                    ConvertFrame(rule->conversion, job);
                    if (rule->conversion == Conversion::QuaziColour) {
                        Trace("Put frame part to the buffer, x= %d  \r\n", (int)job.channel);
                        if (job.channel == 2) Trace("Send QuaziColour Frame  \r\n");
                    }
                }
            }
            if (sequence && frameLimit > ++frameCount) {
                leftEarly = true;  // the camera's sequence isn't there yet
                break;
            }
            if (frameInfo) {
                if (uint8_t* info = InfoBuffer(infoArray, infoIndex, sizes.lineBytes))
                    CopyFrameInfo(frame, sizes.lineBytes, sizes.frameBytes, info, sizes.lineBytes);
                ++infoIndex;
            }
            if (direct) __atomic_store_n(&ex->pLastBuffer, (void*)current, __ATOMIC_RELEASE);
            handedOver = true;
        }
        if (handedOver) {  // the next transfer goes into the next buffer
            if (direct) {
                ringIndex = ringIndex + 1 >= ringSize ? 0 : ringIndex + 1;
                current = (uint8_t*)ex->pDirectBuffer[ringIndex];
            } else {
                internalIndex ^= 1;
                current = c.internal[internalIndex];
            }
        }
        if (leftEarly) continue;
        if (++pictureCount >= nPictures) break;
        destination = (uint8_t*)ex->pDirectBuffer[pictureCount];
    }

    pParam->nWidth = W;
    pParam->nLines = L + 4;
    pParam->nBits = b * 8;
    pParam->nFormat = entry->FormatCode;
    Trace("End of the thread \r\n");
    EndStream(c.camera, true);
    return Release(c, CAPEX_OK);
}

TAVCAM_API int32_t WINAPI USBGetUrgentInfo(const char* pCameraName, uint32_t* pCameraModel) {
    if (!LibraryUsable()) return 0;
    Trace("Enter the  USBGetUrgentInfo\r\n");
    int index = 0;
    if (!DeviceIndexFromName(pCameraName, &index)) return TAVCAM_BAD_NAME;
    if (!pCameraModel || plat::IsBadWritePtr(pCameraModel, sizeof *pCameraModel)) return 0;
    *pCameraModel = g_DeviceTable[index].Record.CameraModel;
    return TAVCAM_OK;
}

TAVCAM_API int32_t WINAPI USBGetData(void) {
    return 0;
}

}  // extern "C"

// The three live-video start calls and USBLiveVideoStop.
//
// Each start prepares the camera (busy status, camera window, shutter), fills
// the camera's ReadParameters and creates the reader thread. They differ in
// how frames are announced (window message, event, callback), in a few fields
// and results, and in their trace texts; one routine does the common work.
//
// Decisions taken for the user's safety (the header says them too):
// - The claim on the camera (bStopped) is taken with an atomic test-and-set
//   where a start first finds the camera idle; every later failure gives it
//   back, so a failed start, a reader thread that can't be created included,
//   leaves the camera idle and claimable.
// - The request block must be readable, and a ppRawFrame writable; a scan area
//   whose transfer would exceed the driver's limit is refused.
// - USBLiveVideoStop stops the camera's stream when the reader hasn't ended
//   by itself within kStopGraceMs, which ends a read waiting for a frame that
//   never comes; it returns once the reader has ended, at most after 6 s.
#include <string.h>

#include "acquisition/live_statistics.h"
#include "acquisition/live_video.h"
#include "acquisition/stream.h"
#include "config/records.h"
#include "core/attach.h"
#include "core/trace.h"
#include "device/device.h"
#include "tavcam.h"

namespace tav {
namespace {

constexpr uint32_t kRegShutter = 0x81C;

// What the caller's block and arguments give the start.
struct StartRequest {
    uint32_t mode;  // LIVE_MODE_*
    const char* name;
    void* pImage;
    void* pColourTable;
    HWND hWnd;
    HANDLE hFrameEvent;
    LiveVideoParamEx* pEx;
    void** ppRawFrame;
    LiveVideoCallback callback;
    uintptr_t context;
};

// The prefix of the start's traces; USBLiveVideoStart traces only its status.
const char* Who(uint32_t mode) {
    switch (mode) {
        case LIVE_MODE_WINDOW:
            return "USBLiveVideoStart";
        case LIVE_MODE_EVENT:
            return "USBLiveVideoStartEx";
        default:
            return "USBVideoOnCallback";
    }
}

// Sends the preset's shutter, no higher than the record's maximum (which
// follows the image height); a lowered value is kept in the preset.
bool SendShutter(int index, DeviceSlot& slot) {
    const int preset = CurrentPresetOf(slot);
    const uint32_t shutter = GetPresetField(slot, Copy::Working, preset, Field::Shutter);
    const uint32_t maximum = InqMaximum(slot.Record.FeatureInq[kInqShutter]);
    if (shutter <= maximum) return WriteRegister(index, kRegShutter, shutter);
    if (!WriteRegister(index, kRegShutter, maximum)) return false;
    SetPresetField(slot, Copy::Working, preset, Field::Shutter, maximum);
    return true;
}

// Checks the caller's ring of direct buffers: 1 when it is used, 0 when the
// stream runs without it, -1 when a buffer is too small (the start fails).
int CheckDirectBuffers(const StartRequest& q, int index, const DeviceSlot& slot,
                       uint64_t transferBytes) {
    const char* who = Who(q.mode);
    LiveVideoParamEx* ex = q.pEx;
    if (!ex || plat::IsBadReadPtr(ex, sizeof *ex) || ex->nBuffers < 1 ||
        ex->nBuffers > TAVCAM_MAX_DIRECT_BUFFERS) {
        Trace("%s: bDirectBuffer mode is not set  \r\n", who);
        return 0;
    }
    for (uint32_t k = 0; k < ex->nBuffers; ++k) {
        if (plat::IsBadWritePtr(ex->pDirectBuffer[k], (UINT_PTR)transferBytes)) {
            Trace(
                "%s: Device %d Not enough room for the ImgWidth = %d, ImgHeight = %d  at the "
                "pLiveVideoParamEx->pDirectBuffer[%d]\r\n",
                who, index, (int)slot.ImgWidth, (int)slot.ImgHeight, (int)k);
            return -1;
        }
    }
    Trace("%s: bDirectBuffer mode is set  \r\n", who);
    return 1;
}

// The camera's reader-finished event for this run: reset, or (callback mode)
// made anew. The event a callback start replaces belongs to an ended reader.
HANDLE PrepareReaderEvent(int index, uint32_t mode) {
    HANDLE event = ReaderEvent(index);
    if (mode == LIVE_MODE_CALLBACK) {
        HANDLE fresh = plat::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (fresh) {
            SetReaderEvent(index, fresh);
            if (event) plat::CloseHandle(event);
            return fresh;
        }
    }
    if (event) plat::ResetEvent(event);
    return event;
}

// The work after the claim. A result other than 1 gives the claim back.
int32_t StartClaimed(const StartRequest& q, int index, DeviceSlot& slot) {
    const char* who = Who(q.mode);
    ReadParameters& rp = slot.ReadParameters;
    if (q.mode == LIVE_MODE_EVENT && !q.hFrameEvent) return TAVCAM_BAD_NAME;
    if (q.mode != LIVE_MODE_WINDOW)
        Trace("%s: ImgWidth = %d, ImgHeight = %d  \r\n", who, (int)slot.ImgWidth,
              (int)slot.ImgHeight);
    if (!SetCameraWindow(index, (int32_t)slot.ImgLeft, (int32_t)slot.ImgTop, (int32_t)slot.ImgWidth,
                         (int32_t)slot.ImgHeight, 1, 1, 1, 1)) {
        if (q.mode != LIVE_MODE_WINDOW) Trace("%s: SetCameraWindow failed  \r\n", who);
        return 0;
    }
    if (!SendShutter(index, slot)) return 0;
    if (q.mode == LIVE_MODE_CALLBACK && !q.callback) return TAVCAM_BAD_NAME;

    const FormatEntry* entry = CurrentFormatEntry(slot);
    if (!entry) return 0;
    const uint32_t b = entry->RawBits / 8;
    rp.nOutBits = entry->OutBits;
    rp.nFormat = entry->FormatCode;
    rp.nBytesPerPixel = b;
    rp.nWidth = rp.nFormat == 10 ? 2 * slot.ImgWidth : slot.ImgWidth;
    rp.nHeight = slot.ImgHeight;

    rp.nDeliveryMode = q.mode;
    rp.pImage = q.pImage;
    rp.pColourTable = q.pColourTable;
    if (q.mode == LIVE_MODE_WINDOW) {
        rp.hWnd = q.hWnd;
        rp.bDirectBuffer = 0;
        rp.ppRawFrame = nullptr;
    } else {
        rp.hFrameEvent = q.mode == LIVE_MODE_EVENT ? q.hFrameEvent : nullptr;
        rp.pCameraName = q.name;
        rp.pfnCallback = q.mode == LIVE_MODE_CALLBACK ? q.callback : nullptr;
        rp.pCallbackContext = q.mode == LIVE_MODE_CALLBACK ? q.context : 0;
        rp.pLiveVideoParamEx = q.pEx;
        rp.ppRawFrame = q.ppRawFrame;
    }
    if (!q.pColourTable) return q.mode == LIVE_MODE_WINDOW ? TAVCAM_BAD_NAME : 0;

    // Window mode counts pixels (the doubled width of format 10 included),
    // the others bytes of the undoubled width.
    const uint64_t perFrame = q.mode == LIVE_MODE_WINDOW
                                  ? (uint64_t)rp.nWidth * rp.nHeight
                                  : (uint64_t)slot.ImgWidth * slot.ImgHeight * b;
    rp.nFramesPerTransfer = FramesPerTransfer(perFrame);
    const StreamSizes sizes = SizesOf(rp.nWidth, rp.nHeight, b, rp.nFramesPerTransfer);
    if (b == 0 || !SizesUsable(sizes, rp.nFramesPerTransfer)) {
        Trace("%s: Device %d can't stream ImgWidth = %d, ImgHeight = %d with %d bytes a pixel\r\n",
              who, index, (int)slot.ImgWidth, (int)slot.ImgHeight, (int)b);
        return 0;
    }
    if (q.mode != LIVE_MODE_WINDOW) {
        const int direct = CheckDirectBuffers(q, index, slot, sizes.transferBytes);
        if (direct < 0) return 0;
        rp.bDirectBuffer = (uint8_t)direct;
        if (q.ppRawFrame && plat::IsBadWritePtr(q.ppRawFrame, sizeof(void*))) {
            Trace("%s: ppRawFrame can't be written  \r\n", who);
            return 0;
        }
    }

    SetStopRequest(rp, 0);
    rp.nDevice = (uint32_t)index;
    rp.nCameraModel = slot.Record.CameraModel;
    SetSatCoefficient(
        rp, GetPresetField(slot, Copy::Working, CurrentPresetOf(slot), Field::SatCoefficient));
    rp.hReaderEvent = PrepareReaderEvent(index, q.mode);
    SetClaimKind(rp, kClaimReader);
    ResetLiveCounts(index);

    // The handle of a reader that ended by itself is still recorded.
    if (HANDLE old = ReaderThreadOf(rp)) plat::CloseHandle(old);
    SetReaderThread(rp, nullptr);
    DWORD threadId = 0;
    // A reader keeps the library loaded until it ends (see CreateLibraryThread).
    HANDLE thread = plat::CreateLibraryThread(AttachReadThread, &rp, &threadId);
    if (!thread) {
        // Only a process out of threads gets here: no test can make thread
        // creation fail at will. The claim goes back like every failed start's.
        Trace("%s: Device %d the reader thread could not be created  \r\n", who, index);
        SetClaimKind(rp, kClaimNone);
        return 0;
    }
    rp.dwThreadId = threadId;
    SetReaderThread(rp, thread);
    return TAVCAM_OK;
}

bool Readable(const void* block, size_t bytes) {
    return block && !plat::IsBadReadPtr(block, bytes);
}

// Reads the caller's block into the request: a LiveVideoParam in window mode,
// a LiveVideoRequest otherwise. False when it can't be read.
bool TakeBlock(const void* block, StartRequest* q) {
    if (q->mode == LIVE_MODE_WINDOW) {
        const LiveVideoParam* p = static_cast<const LiveVideoParam*>(block);
        if (!Readable(p, sizeof *p)) return false;
        q->hWnd = p->hWnd;
        q->pImage = p->pImage;
        q->pColourTable = p->pColourTable;
        return true;
    }
    const LiveVideoRequest* r = static_cast<const LiveVideoRequest*>(block);
    if (!Readable(r, sizeof *r)) return false;
    q->pImage = r->pImage;
    q->pColourTable = r->pColourTable;
    q->hFrameEvent = r->hFrameEvent;
    q->pEx = r->pLiveVideoParamEx;
    q->ppRawFrame = r->ppRawFrame;
    return true;
}

int32_t StartLiveVideo(StartRequest q, const void* block) {
    if (q.mode == LIVE_MODE_EVENT) Trace("Enter the  USBLiveVideoStartEx\r\n");
    if (q.mode == LIVE_MODE_CALLBACK) Trace("Enter the  USBVideoOnCallback\r\n");
    int index = 0;
    if (!DeviceIndexFromName(q.name, &index)) return TAVCAM_BAD_NAME;
    if (!TakeBlock(block, &q)) return 0;
    DeviceSlot& slot = g_DeviceTable[index];
    int32_t busy = 0;
    if (!PassesBusyCheck(index, (q.mode != LIVE_MODE_CALLBACK ? Who(q.mode) : nullptr), &busy))
        return busy;
    // A reader (or a capture) runs already: nothing changes.
    if (!ClaimCamera(slot.ReadParameters)) return TAVCAM_OK;
    const int32_t result = StartClaimed(q, index, slot);
    if (result != TAVCAM_OK) ReleaseCamera(slot.ReadParameters);
    return result;
}

// Ends a read that waits for a transfer: a stream stop from a handle of our
// own makes the camera answer the reader's read with a failure.
void StopCameraStream(int index) {
    HANDLE camera = OpenCamera(index);
    if (!CameraOpened(camera)) return;
    StopStream(camera);
    plat::CloseHandle(camera);
}

}  // namespace
}  // namespace tav

using namespace tav;

extern "C" {

TAVCAM_API int32_t WINAPI USBLiveVideoStart(const char* pCameraName, LiveVideoParam* pParam) {
    if (!LibraryUsable()) return 0;
    StartRequest q{};
    q.mode = LIVE_MODE_WINDOW;
    q.name = pCameraName;
    return StartLiveVideo(q, pParam);
}

TAVCAM_API int32_t WINAPI USBLiveVideoStartEx(const char* pCameraName, LiveVideoRequest* pRequest) {
    if (!LibraryUsable()) return 0;
    StartRequest q{};
    q.mode = LIVE_MODE_EVENT;
    q.name = pCameraName;
    return StartLiveVideo(q, pRequest);
}

TAVCAM_API int32_t WINAPI USBVideoOnCallbackStart(const char* pCameraName,
                                                  LiveVideoRequest* pRequest,
                                                  LiveVideoCallback pfnCallback,
                                                  uintptr_t context) {
    if (!LibraryUsable()) return 0;
    StartRequest q{};
    q.mode = LIVE_MODE_CALLBACK;
    q.name = pCameraName;
    q.callback = pfnCallback;
    q.context = context;
    return StartLiveVideo(q, pRequest);
}

TAVCAM_API int32_t WINAPI USBLiveVideoStop(const char* pCameraName) {
    if (!LibraryUsable()) return 0;
    Trace("Enter the  USBLiveVideoStop\r\n");
    int index = 0;
    if (!DeviceIndexFromName(pCameraName, &index)) return 0;
    ReadParameters& rp = g_DeviceTable[index].ReadParameters;
    if (CameraIdle(rp)) {
        Trace("USBLiveVideoStop: ReadParameters.bStopped=1 \r\n");
        return 1;
    }
    SetStopRequest(rp, 1);
    const DWORD start = plat::GetTickCount();
    auto left = [&]() -> DWORD {
        const DWORD spent = plat::GetTickCount() - start;  // right across the tick's wrap
        return spent >= kStopWaitMs ? 0 : kStopWaitMs - spent;
    };
    bool ended = false;
    if (HANDLE event = ReaderEvent(index)) {
        DWORD r = plat::WaitForSingleObject(event, kStopGraceMs);
        if (r == WAIT_TIMEOUT && ClaimKindOf(rp) == kClaimReader) {
            StopCameraStream(index);
            r = plat::WaitForSingleObject(event, left());
        } else if (r == WAIT_TIMEOUT) {
            r = plat::WaitForSingleObject(event, left());
        }
        Trace("USBLiveVideoStop: waiting for finishing thread return 0x%x\r\n", (unsigned)r);
        ended = r == WAIT_OBJECT_0;
    }
    // The reader sets its event just before it gives the camera back; waiting
    // for the thread itself makes the camera claimable when this returns. A
    // reader that hasn't ended keeps its handle recorded, so initialisation
    // can't hand the camera to a second reader while it runs.
    HANDLE thread = ReaderThreadOf(rp);
    if (thread && ended && plat::WaitForSingleObject(thread, left()) == WAIT_OBJECT_0) {
        plat::CloseHandle(thread);
        SetReaderThread(rp, nullptr);
    }
    return 1;
}

}  // extern "C"

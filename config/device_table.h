// The device table: this process's eight slots, one per device index 0..7.
//
// A slot caches the camera's two flash records (the camera record of page 0,
// SaveData of page 1 as a working copy and as the last page image), the scan
// area in force, and the state of live video and capture on the device. The
// table is process-local and all zero at load; USBInitDevice fills a slot.
// Only the SaveData pair of the camera's layout is used (CameraModel 1: the
// short one), the other pair is never read.
#pragma once

#include <stdint.h>

#include "config/records.h"
#include "core/shared_data.h"
#include "platform/platform.h"
#include "tavcam.h"

namespace tav {

// State of live video and of both captures on one device. All zero at load.
// A live-video start fills it before it creates the reader thread; while the
// reader runs it reads the record and is the only writer of bStopped.
//
// bStopped is the claim on the camera: 1 = idle, 0 = a reader or a capture
// runs. Claim it with ClaimCamera (an atomic test-and-set) and release it with
// ReleaseCamera, never with plain stores, so two threads can't both claim it.
// bStopRequest and nSatCoefficient are written by application threads while a
// reader runs: use the atomic helpers below for them too.
struct ReadParameters {
    uint32_t nWidth;              // pixels per streamed line (ImgWidth, doubled for nFormat 10)
    uint32_t nHeight;             // image lines (ImgHeight)
    uint32_t nFramesPerTransfer;  // raw frames per bulk transfer
    uint8_t bStopped;             // 1: no reader or capture runs on the camera
    uint8_t bStopRequest;         // 1: USBLiveVideoStop asks the reader to end
    uint32_t dwThreadId;          // the reader thread's id
    HANDLE hThread;               // the reader thread; 0 when none is recorded
    void* pColourTable;           // the caller's colour lookup table
    uint32_t nSatCoefficient;     // 100: plain Bayer reconstruction, else through the table
    uint32_t nFormat;             // FormatCode of the current format entry
    uint32_t nOutBits;            // OutBits of the current format entry: 8 or 24
    HANDLE hReaderEvent;          // this process's "reader ended" event of the camera
    HWND hWnd;                    // window of window mode
    void* pImage;                 // the caller's destination picture
    uint32_t nDevice;             // the device index
    HANDLE hFrameEvent;           // the caller's event of event mode
    uint8_t bDirectBuffer;        // 1: transfers go into the caller's direct buffers
    LiveVideoParamEx* pLiveVideoParamEx;  // the caller's direct buffers
    void** ppRawFrame;                    // optional: receives each raw frame's second line
    const char* pCameraName;              // the name given to the start call; callback argument
    LiveVideoCallback pfnCallback;        // the caller's function of callback mode
    uintptr_t pCallbackContext;           // the callback's fifth argument
    uint32_t nBytesPerPixel;              // RawBits / 8 of the current format: 1 or 2
    uint32_t nCameraModel;                // CameraModel of the camera record
    uint32_t nDeliveryMode;               // LIVE_MODE_WINDOW, LIVE_MODE_EVENT or LIVE_MODE_CALLBACK
    // Who holds the claim (ClaimKind): USBLiveVideoStop ends a reader's waiting
    // read by stopping the stream, and never does that to a capture.
    uint8_t nClaimKind;
};

enum ClaimKind : uint8_t { kClaimNone = 0, kClaimReader = 1, kClaimCapture = 2 };

struct DeviceSlot {
    CameraRecord Record;      // cached flash page 0
    SaveDataLong WorkLong;    // settings in force, long layout
    SaveDataLong FlashLong;   // last page-1 image read from or written to flash
    SaveDataShort WorkShort;  // the same, short layout (CameraModel 1)
    SaveDataShort FlashShort;
    uint32_t ImgLeft;    // scan area in force: left offset, pixels
    uint32_t ImgTop;     // top offset, lines
    uint32_t ImgWidth;   // pixels per line
    uint32_t ImgHeight;  // lines
    tav::ReadParameters ReadParameters;
};

// The table. Index it only with a device index already checked to be 0..7.
extern DeviceSlot g_DeviceTable[kMaxCameras];

inline bool IsShortLayout(const DeviceSlot& slot) {
    return slot.Record.CameraModel == 1;
}

// Bytes of the camera's SaveData page: 138 (short layout) or 202 (long).
inline uint32_t SaveDataSize(const DeviceSlot& slot) {
    return IsShortLayout(slot) ? (uint32_t)sizeof(SaveDataShort) : (uint32_t)sizeof(SaveDataLong);
}

// CurrentPreset of the working copy of the camera's layout. Initialisation
// refuses a page whose CurrentPreset is above 3 and loading and saving only
// store 0..3, so the mask never changes a value; it keeps every use of the
// number inside the four presets even if that ever stopped being true.
inline int CurrentPresetOf(const DeviceSlot& slot) {
    uint8_t p = IsShortLayout(slot) ? slot.WorkShort.CurrentPreset : slot.WorkLong.CurrentPreset;
    return p & (kPresetCount - 1);
}
inline int FlashPresetOf(const DeviceSlot& slot) {
    uint8_t p = IsShortLayout(slot) ? slot.FlashShort.CurrentPreset : slot.FlashLong.CurrentPreset;
    return p & (kPresetCount - 1);
}

// The format entry named by CurrentFormat, or null when CurrentFormat names no
// entry (16 or more: possible only while a freshly read page 0 has not yet
// been given a preset's format). Callers treat null as "no such format".
inline FormatEntry* CurrentFormatEntry(DeviceSlot& slot) {
    uint32_t f = slot.Record.CurrentFormat;
    return f < (uint32_t)kFormatSlots ? &slot.Record.Formats[f] : nullptr;
}
inline const FormatEntry* CurrentFormatEntry(const DeviceSlot& slot) {
    uint32_t f = slot.Record.CurrentFormat;
    return f < (uint32_t)kFormatSlots ? &slot.Record.Formats[f] : nullptr;
}

// ---- Preset fields by name -------------------------------------------------------------
//
// Features, initialisation and loading name preset fields generically; these
// read and write Preset[preset] of a SaveData image in the layout of the
// camera. A value stored into a one-byte field keeps its low 8 bits, into a
// two-byte field its low 16 bits. A field the layout lacks reads 0 and is not
// written.
enum class Field : uint8_t {
    Left,
    Top,
    Width,
    Height,
    Shutter,
    Brightness,
    Gain,
    Red,
    Green,
    Blue,
    Gamma,
    SatCoefficient,
    Bits,
    Format,
    TriggerMode,
    Reg1E54,
    Reg1E50,
    Info1C14,
    uiStateComplete,
    FrameExposure,
    Sharpness,
    AutoExposure,
    Iris,
    Reg884,
    Reg888,
    Count
};

enum class Copy : uint8_t { Working, Flash };

bool LayoutHasField(bool shortLayout, Field field);
uint32_t GetPresetField(const DeviceSlot& slot, Copy copy, int preset, Field field);
void SetPresetField(DeviceSlot& slot, Copy copy, int preset, Field field, uint32_t value);

// ---- The claim on a camera and the reader's flags ----------------------------------------

// Takes the camera for a reader or a capture: true when it was idle
// (bStopped 1) and is now taken (bStopped 0).
inline bool ClaimCamera(tav::ReadParameters& rp) {
    uint8_t idle = 1;
    return __atomic_compare_exchange_n(&rp.bStopped, &idle, (uint8_t)0, false, __ATOMIC_ACQ_REL,
                                       __ATOMIC_ACQUIRE);
}
inline void ReleaseCamera(tav::ReadParameters& rp) {
    __atomic_store_n(&rp.bStopped, (uint8_t)1, __ATOMIC_RELEASE);
}
inline bool CameraIdle(const tav::ReadParameters& rp) {
    return __atomic_load_n(&rp.bStopped, __ATOMIC_ACQUIRE) != 0;
}
inline void SetStopRequest(tav::ReadParameters& rp, uint8_t value) {
    __atomic_store_n(&rp.bStopRequest, value, __ATOMIC_RELEASE);
}
inline bool StopRequested(const tav::ReadParameters& rp) {
    return __atomic_load_n(&rp.bStopRequest, __ATOMIC_ACQUIRE) != 0;
}
inline void SetSatCoefficient(tav::ReadParameters& rp, uint32_t value) {
    __atomic_store_n(&rp.nSatCoefficient, value, __ATOMIC_RELAXED);
}
inline uint32_t SatCoefficientOf(const tav::ReadParameters& rp) {
    return __atomic_load_n(&rp.nSatCoefficient, __ATOMIC_RELAXED);
}
inline void SetClaimKind(tav::ReadParameters& rp, uint8_t kind) {
    __atomic_store_n(&rp.nClaimKind, kind, __ATOMIC_RELEASE);
}
inline uint8_t ClaimKindOf(const tav::ReadParameters& rp) {
    return __atomic_load_n(&rp.nClaimKind, __ATOMIC_ACQUIRE);
}
// hThread tells USBInitDevice whether a reader exists; record and clear it
// with these.
inline HANDLE ReaderThreadOf(const tav::ReadParameters& rp) {
    return __atomic_load_n(&rp.hThread, __ATOMIC_ACQUIRE);
}
inline void SetReaderThread(tav::ReadParameters& rp, HANDLE thread) {
    __atomic_store_n(&rp.hThread, thread, __ATOMIC_RELEASE);
}

// ---- The shared per-camera flag bChanged ------------------------------------------------

// bChanged of the shared block: set, the next initialisation of an unchanged
// camera re-reads SaveData. Read and written atomically; another process may
// write it at any time. Without a shared block (a library that could not map
// it never gets this far) it reads as 0 and writes go nowhere.
bool CameraChanged(int index);
void SetCameraChanged(int index, bool changed);

// ---- Small shared steps ------------------------------------------------------------------

// The busy check of USBInitDevice, USBSetFormat, USBSetScanArea and the
// live-video starts: GetCameraStatus is asked only when the cached
// CameraModel is above 2. True when the call may go on; otherwise false with
// *result set: 0 when the query failed, TAVCAM_BUSY (3) when the camera
// answered a nonzero status. An answered status is traced as
// "<who>: Camera-<index> Status <status>" unless who is null.
bool PassesBusyCheck(int index, const char* who, int32_t* result);

// One CMD_WRITE_REG of a 16-bit value to a camera register (third word 0).
bool WriteRegister(int index, uint32_t reg, uint32_t value);

// The camera name for traces when it may be null.
inline const char* NameForTrace(const char* name) {
    return name ? name : "(null)";
}

}  // namespace tav

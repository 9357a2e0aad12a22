// SharedData: the block of named shared memory that every process using the
// library maps ("TavcamAPISharedDataMap", 4784 bytes).
//
// Its layout is the same on every target: handles and window handles are kept
// as 32-bit values (plat::HandleToField / FieldToHandle), and siMonitor is the
// 68-byte start-up information of the 32-bit system, kept as bytes. Several
// processes read and write it at once; fields that more than one process or
// thread touches are read and written with SharedLoad / SharedStore (atomic,
// relaxed), so concurrent access is well defined without changing the layout.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace tav {

constexpr const char* kSharedDataName = "TavcamAPISharedDataMap";
constexpr uint32_t kSharedDataSize = 4784;
constexpr int kMaxProcesses = 4;  // the monitor and at most three clients
constexpr int kMaxClients = 100;
constexpr int kMaxCameras = 8;
constexpr uint32_t kStartupInfoSize = 68;

struct SharedData {
    uint32_t g_hInstance;                     //    0: module handle in the creating process
    uint32_t g_hWnd;                          //    4: the monitor window; 0 until created
    uint32_t hEditWnd;                        //    8: the monitor window's edit control
    uint32_t nAttachedProcess;                //   12: 0..4, the monitor included
    uint8_t siMonitor[kStartupInfoSize];      //   16: start-up information (cb = 68)
    uint32_t piMonitor[4];                    //   84: process, thread handle; process, thread id
    uint32_t nClients;                        //  100: entries in hClients
    uint32_t hClients[kMaxClients];           //  104: client windows, in order of registration
    uint32_t bPresence[kMaxCameras];          //  504: 1 = camera present
    uint32_t bChanged[kMaxCameras];           //  536: 1 = read the camera afresh at next init
    uint32_t hReaderEvent[kMaxCameras];       //  568: manual-reset "reader ended" events
    uint32_t dwProcessIds[kMaxProcesses];     //  600: process ids by attach slot
    uint32_t hPnPEvents[kMaxProcesses];       //  616: plug-and-play event per attach slot
    uint32_t bQuit;                           //  632: 1 = the monitor found itself alone
    uint32_t uTimerId;                        //  636: the monitor window's timer, 0 if none
    uint8_t reserved[kSharedDataSize - 640];  // 640: unused, stays zero
};

static_assert(sizeof(SharedData) == kSharedDataSize, "SharedData is 4784 bytes");
static_assert(offsetof(SharedData, g_hWnd) == 4, "g_hWnd");
static_assert(offsetof(SharedData, hEditWnd) == 8, "hEditWnd");
static_assert(offsetof(SharedData, nAttachedProcess) == 12, "nAttachedProcess");
static_assert(offsetof(SharedData, siMonitor) == 16, "siMonitor");
static_assert(offsetof(SharedData, piMonitor) == 84, "piMonitor");
static_assert(offsetof(SharedData, nClients) == 100, "nClients");
static_assert(offsetof(SharedData, hClients) == 104, "hClients");
static_assert(offsetof(SharedData, bPresence) == 504, "bPresence");
static_assert(offsetof(SharedData, bChanged) == 536, "bChanged");
static_assert(offsetof(SharedData, hReaderEvent) == 568, "hReaderEvent");
static_assert(offsetof(SharedData, dwProcessIds) == 600, "dwProcessIds");
static_assert(offsetof(SharedData, hPnPEvents) == 616, "hPnPEvents");
static_assert(offsetof(SharedData, bQuit) == 632, "bQuit");
static_assert(offsetof(SharedData, uTimerId) == 636, "uTimerId");

inline uint32_t SharedLoad(const uint32_t& field) {
    return __atomic_load_n(&field, __ATOMIC_RELAXED);
}
inline void SharedStore(uint32_t& field, uint32_t value) {
    __atomic_store_n(&field, value, __ATOMIC_RELAXED);
}

// This process's view of the block; null when the block could not be mapped
// (the library then stays inert, see core/attach.h).
SharedData* Shared();

}  // namespace tav

// The library's attach and detach in each process.
//
// Every process that loads the library maps SharedData and takes one of four
// attach slots; the first one creates the block and starts the device monitor
// process, which attaches like any other and takes a slot of its own. When the
// last client leaves, the count falls to 1 and the client tells the monitor
// window to end; the monitor's own detach then closes what must be closed.
//
// Decisions taken here for the user's safety:
// - Attach and detach are serialised across processes by the named mutex
//   "TavcamAPIAttachMutex" (the block itself has no lock). The wait for it is
//   bounded (kAttachLockWaitMs); a mutex left by a process that died while
//   holding it is taken over (the system releases it as abandoned). Should the
//   bound pass, the attach goes on unserialised rather than hang the loader.
// - Reader events: the hReaderEvent handles in SharedData belong to the
//   process that created the block, so every process creates eight events of
//   its own at attach and the library uses those (ReaderEvent()); the creating
//   process also stores its events in the block, as the layout says.
// - A process whose mapping or view failed stays inert (LibraryUsable() is
//   false) instead of touching a null block.
// - Handles recorded in the block are closed only by the process that created
//   them: a handle value is meaningless, or names another object, elsewhere.
// - A fifth process is refused: on Windows its load fails; on POSIX, where a
//   library can't refuse to load, it stays loaded but inert. It keeps no view
//   of the block.
// - A monitor process joins only the block whose creator started it (its
//   process id is the one in piMonitor). A monitor that comes up after its
//   client already left finds no block, or another client's new block with
//   a monitor of its own; it then stays inert, its DLL_Thread returns at
//   once and the process ends. Without this it would create a block and
//   start a monitor of its own, and the two would keep each other alive.
// - Stale process ids in the slots: the monitor's liveness check counts a
//   slot only when its process still runs (a zombie counts as ended), so the
//   id of a process that died without detaching keeps nothing alive.
#include "core/attach.h"

#include <string.h>

#include <atomic>
#include <string>

#include "core/monitor_start.h"
#include "core/trace.h"
#include "pnp/pnp.h"

namespace tav {
namespace {

constexpr const char* kAttachMutexName = "TavcamAPIAttachMutex";
constexpr DWORD kAttachLockWaitMs = 10000;

enum class State { Detached, Attached, Refused, NoSharedState, Private };

std::atomic<State> g_state{State::Detached};
SharedData* g_shared = nullptr;
HANDLE g_sharedMap = nullptr;
HMODULE g_module = nullptr;
uint32_t g_processId = 0;
HANDLE g_readerEvents[kMaxCameras];
bool g_createdBlock = false;  // this process created the block (and its events)
SharedData g_private;

// Holds the attach mutex for one scope.
struct AttachLock {
    HANDLE mutex = nullptr;
    bool owned = false;
    AttachLock() {
        mutex = plat::CreateMutexA(nullptr, FALSE, kAttachMutexName);
        if (!mutex) return;
        DWORD r = plat::WaitForSingleObject(mutex, kAttachLockWaitMs);
        owned = (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED);
        if (!owned) Trace("DLLMain: attach lock not taken (%lu)\r\n", (unsigned long)r);
    }
    ~AttachLock() {
        if (owned) plat::ReleaseMutex(mutex);
        if (mutex) plat::CloseHandle(mutex);
    }
};

void CreateOwnReaderEvents() {
    for (int i = 0; i < kMaxCameras; ++i)
        g_readerEvents[i] = plat::CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

void CloseOwnReaderEvents() {
    for (int i = 0; i < kMaxCameras; ++i) {
        if (g_readerEvents[i]) plat::CloseHandle(g_readerEvents[i]);
        g_readerEvents[i] = nullptr;
    }
}

void InitialiseBlock(SharedData* d) {
    memset(d, 0, sizeof *d);
    d->g_hInstance = (uint32_t)(uintptr_t)g_module;
    d->bQuit = 0;
    d->uTimerId = 0;
    d->hEditWnd = 0;
    d->bPresence[0] = d->bPresence[1] = 0;
    d->bChanged[0] = d->bChanged[1] = 1;
    uint32_t cb = kStartupInfoSize;
    memcpy(d->siMonitor, &cb, sizeof cb);
}

void ReleaseView() {
    if (g_shared) plat::UnmapViewOfFile(g_shared);
    g_shared = nullptr;
    if (g_sharedMap) plat::CloseHandle(g_sharedMap);
    g_sharedMap = nullptr;
}

// What the last process (or the monitor that found itself alone) closes: only
// the handles this process created itself.
void CloseSharedHandles(SharedData* d) {
    uint32_t timer = SharedLoad(d->uTimerId);
    HWND monitor = plat::FieldToWindow(SharedLoad(d->g_hWnd));
    if (timer && monitor) plat::KillTimer(monitor, timer);
    if (IsMonitorProcess()) {
        for (int slot = 0; slot < kMaxProcesses; ++slot) {
            uint32_t h = SharedLoad(d->hPnPEvents[slot]);
            if (h) plat::CloseHandle(plat::FieldToHandle(h));
            SharedStore(d->hPnPEvents[slot], 0);
        }
    }
    if (g_createdBlock) {
        // Our own reader events are the ones recorded in the block; they are
        // closed below with the rest of this process's events.
        for (int i = 0; i < kMaxCameras; ++i) SharedStore(d->hReaderEvent[i], 0);
        ClosePiMonitorHandles(d);
    }
}

// True in a process started as the monitor: the system's DLL host running
// our monitor entry.
bool StartedAsMonitor() {
    return plat::OwnCommandLine().find(",DLL_Thread") != std::string::npos;
}

}  // namespace

SharedData* Shared() {
    return g_shared;
}

bool LibraryUsable() {
    State s = g_state.load(std::memory_order_relaxed);
    return s != State::Refused && s != State::NoSharedState;
}

HANDLE ReaderEvent(int camera) {
    return camera >= 0 && camera < kMaxCameras ? g_readerEvents[camera] : nullptr;
}

void SetReaderEvent(int camera, HANDLE event) {
    if (camera >= 0 && camera < kMaxCameras) g_readerEvents[camera] = event;
}

uint32_t OwnProcessId() {
    return g_processId;
}

HMODULE OwnModule() {
    return g_module;
}

bool ProcessAttach(HMODULE module) {
    // A process attaches once: should the entry run again in the same process
    // (it must not, but a loader that initialises the library twice would do
    // it), the process keeps its one slot instead of taking a second.
    State before = g_state.load();
    if (before == State::Attached) return true;
    if (before == State::Refused) return false;
    g_module = module;
    g_processId = plat::GetCurrentProcessId();
    AttachLock lock;

    HANDLE map = plat::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                          kSharedDataSize, kSharedDataName);
    bool existed = plat::GetLastError() == ERROR_ALREADY_EXISTS;
    if (!map) {
        Trace("CreateFileMapping failed = 0x%x\r\n", (unsigned)plat::GetLastError());
        g_state = State::NoSharedState;
        return true;
    }
    auto* d = (SharedData*)plat::MapViewOfFile(map, FILE_MAP_ALL_ACCESS, 0, 0, kSharedDataSize);
    if (!d) {
        Trace("Error mapping SharedData = 0x%x\r\n", (unsigned)plat::GetLastError());
        plat::CloseHandle(map);
        g_state = State::NoSharedState;
        return true;
    }
    g_sharedMap = map;
    g_shared = d;

    if (StartedAsMonitor() && (!existed || SharedLoad(d->piMonitor[2]) != g_processId)) {
        Trace("DLL_PROCESS_ATTACH : not the monitor of this block \r\n");
        ReleaseView();
        g_state = State::NoSharedState;
        return true;
    }
    if (!existed) {
        g_createdBlock = true;
        InitialiseBlock(d);
        StartMonitorProcess(d, module);
        CreateOwnReaderEvents();
        for (int i = 0; i < kMaxCameras; ++i)
            SharedStore(d->hReaderEvent[i], plat::HandleToField(g_readerEvents[i]));
    }

    uint32_t n = SharedLoad(d->nAttachedProcess);
    if (n >= (uint32_t)kMaxProcesses) {
        Trace("DLL_PROCESS_ATTACH : Can't include new process \r\n");
        g_state = State::Refused;
        ReleaseView();
        return false;
    }
    if (!g_createdBlock) CreateOwnReaderEvents();
    SharedStore(d->dwProcessIds[n], g_processId);
    SharedStore(d->nAttachedProcess, n + 1);
    g_state = State::Attached;
    Trace("DLL_PROCESS_ATTACH :  nAttachedProcess=%d  \r\n", (int)(n + 1));
    return true;
}

void ProcessDetach() {
    State state = g_state.load();
    if (state != State::Attached) {
        // A refused process holds nothing of the block; a process without
        // shared state has nothing to give back.
        ReleaseView();
        if (state == State::Refused || state == State::NoSharedState) g_state = State::Detached;
        return;
    }
    SharedData* d = g_shared;
    HWND monitor = plat::FieldToWindow(SharedLoad(d->g_hWnd));
    StopNotificationThread();

    uint32_t n;
    {
        AttachLock lock;
        uint32_t count = SharedLoad(d->nAttachedProcess);
        n = count > 0 ? count - 1 : 0;
        SharedStore(d->nAttachedProcess, n);
    }
    if (n == 1) {
        Trace("DLLMain: DLL_TWAIN_PROCESS_DETACH: All requests removed\n");
        if (monitor) plat::SendMessageA(monitor, WM_DESTROY, 0, 0);
    }
    if (n == 0 || SharedLoad(d->bQuit) != 0) {
        Trace("DLLMain: DLL_PROCESS_DETACH: close all handles and quit \n");
        CloseSharedHandles(d);
    }
    CloseOwnReaderEvents();
    ReleaseView();
    g_state = State::Detached;
}

void UsePrivateSharedData() {
    InitialiseBlock(&g_private);
    g_shared = &g_private;
    g_processId = plat::GetCurrentProcessId();
    if (!g_readerEvents[0]) CreateOwnReaderEvents();
    g_state = State::Private;
}

}  // namespace tav

// The library's attach and detach in each process.
//
// Every process that loads the library maps SharedData and takes one of four
// attach slots; the first one creates the block and starts the device monitor
// process, which attaches like any other and takes a slot of its own. When the
// last client leaves, the count falls to 1 and the client tells the monitor
// window to end; the monitor's own detach then closes what must be closed.
//
// Decisions taken here for the user's safety:
// - Attach and detach are serialised across processes by the attach lock
//   (core/attach_lock.h), with a bounded wait.
// - Slots (core/process_slots.h): a process takes a free slot or the slot of
//   a process that is gone, never the slot of a live one; only live processes
//   count against the limit of four, and nAttachedProcess is the number of
//   live slots. A detaching process frees its slot.
// - An ending block is never joined. bQuit marks a block whose monitor is
//   alone: the monitor's timer sets it when its clients died, and the last
//   client sets it when its detach leaves only the monitor (before telling
//   the monitor window to end). A process that finds bQuit set lets go of the
//   block, waits for it to disappear (checking every 10 ms) and creates it
//   afresh with a monitor of its own. The wait is bounded
//   (kEndingBlockWaitMs); should a monitor hang on its way out beyond it, the
//   library stays inert in the new process (every export fails) rather than
//   leave it without a monitor.
// - The last client tells the monitor window to end with a send that waits at
//   most kDetachSendWaitMs for the answer (on Windows the detach runs under
//   the loader lock). When that runs out the detach goes on: the monitor still
//   receives WM_DESTROY when its thread is free again, and its timer finds
//   itself alone within a second of this process's end in any case.
//
// Why the detach can't deadlock on the Windows loader lock. DllMain's detach
// runs holding that lock, and any thread that starts, ends or loads a
// library needs it; Wine doesn't model it, so this is kept by design:
// - It never waits for a thread. Every thread of the library (live-video
//   readers, the notification thread, the monitor's device watch) holds a
//   reference to the module until its last act (plat::CreateLibraryThread),
//   so FreeLibrary's detach can't come while one runs; at the process's exit
//   the system has ended them before the detach. The notification thread is
//   told to stop (StopNotificationThread(false)) without a wait.
// - Its waits are on other processes, each bounded: the attach lock (a named
//   mutex that a dead holder leaves abandoned, taken over; kAttachLockWaitMs)
//   and the WM_DESTROY to the monitor (kDetachSendWaitMs, SMTO_BLOCK: the
//   waiting thread runs no window procedure of its own meanwhile). The
//   monitor's thread handles WM_DESTROY by posting a quit message and needs
//   nothing of this process.
// - It takes no lock of this process that another thread could hold while it
//   waits for the loader (the registration lock is skipped under the loader
//   lock).
// - A forked copy of an attached process (POSIX) attached nothing itself: its
//   exit detaches nothing and leaves the parent's slot and monitor alone.
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
#include "core/attach.h"

#include <string.h>

#include <atomic>
#include <string>

#include "core/attach_lock.h"
#include "core/monitor_start.h"
#include "core/process_slots.h"
#include "core/trace.h"
#include "pnp/pnp.h"

namespace tav {
namespace {

// How long an attaching process waits for an ending block to disappear.
constexpr DWORD kEndingBlockWaitMs = 5000;
constexpr DWORD kEndingBlockPollMs = 10;
// How long the last client's detach waits for the monitor to take WM_DESTROY.
constexpr UINT kDetachSendWaitMs = 3000;

// Detaching: the detach has begun; the exports refuse from then on, so that
// nothing (a plug-and-play function registering again, say) starts anew in a
// process on its way out.
enum class State { Detached, Attached, Detaching, Refused, NoSharedState, Private };

std::atomic<State> g_state{State::Detached};
SharedData* g_shared = nullptr;
HANDLE g_sharedMap = nullptr;
HMODULE g_module = nullptr;
uint32_t g_processId = 0;
int g_slot = -1;  // this process's slot in dwProcessIds while attached
HANDLE g_readerEvents[kMaxCameras];
bool g_createdBlock = false;  // this process created the block (and its events)
SharedData g_private;

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

// Maps the block (creating it when missing): the view, and whether the block
// existed before. Null when the mapping or the view failed (traced).
SharedData* MapBlock(bool* existed) {
    HANDLE map = plat::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                          kSharedDataSize, kSharedDataName);
    *existed = plat::GetLastError() == ERROR_ALREADY_EXISTS;
    if (!map) {
        Trace("CreateFileMapping failed = 0x%x\r\n", (unsigned)plat::GetLastError());
        return nullptr;
    }
    auto* d = (SharedData*)plat::MapViewOfFile(map, FILE_MAP_ALL_ACCESS, 0, 0, kSharedDataSize);
    if (!d) {
        Trace("Error mapping SharedData = 0x%x\r\n", (unsigned)plat::GetLastError());
        plat::CloseHandle(map);
        return nullptr;
    }
    g_sharedMap = map;
    g_shared = d;
    return d;
}

// What the last process (or the monitor that found itself alone) closes: only
// the handles this process created itself.
void CloseSharedHandles(SharedData* d) {
    uint32_t timer = SharedLoad(d->uTimerId);
    HWND monitor = plat::FieldToWindow(SharedLoad(d->g_hWnd));
    if (timer && monitor) plat::KillTimer(monitor, timer);
    if (IsMonitorProcess()) {
        for (int slot = 0; slot < kMaxProcesses; ++slot) ForgetPnPEvent(d, slot);
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

enum class AttachStep { Attached, Refused, Inert, BlockEnding };

// One attempt of the attach, under the attach lock.
AttachStep TryAttach(bool asMonitor) {
    AttachLock lock;
    bool existed = false;
    SharedData* d = MapBlock(&existed);
    if (!d) {
        g_state = State::NoSharedState;
        return AttachStep::Inert;
    }
    if (asMonitor && (!existed || SharedLoad(d->piMonitor[2]) != g_processId)) {
        Trace("DLL_PROCESS_ATTACH : not the monitor of this block \r\n");
        ReleaseView();
        g_state = State::NoSharedState;
        return AttachStep::Inert;
    }
    if (existed && !asMonitor && SharedLoad(d->bQuit) != 0) {
        // The block is ending: its monitor is alone and on its way out. Let go
        // of it, so that it can disappear, and look again.
        ReleaseView();
        return AttachStep::BlockEnding;
    }
    if (!existed) {
        g_createdBlock = true;
        InitialiseBlock(d);
        StartMonitorProcess(d, g_module);
        CreateOwnReaderEvents();
        for (int i = 0; i < kMaxCameras; ++i)
            SharedStore(d->hReaderEvent[i], plat::HandleToField(g_readerEvents[i]));
    }
    int slot = FreeSlot(d, g_processId);
    if (slot < 0) {
        Trace("DLL_PROCESS_ATTACH : Can't include new process \r\n");
        g_state = State::Refused;
        ReleaseView();
        return AttachStep::Refused;
    }
    if (!g_createdBlock) CreateOwnReaderEvents();
    SharedStore(d->dwProcessIds[slot], g_processId);
    uint32_t n = (uint32_t)LiveSlots(d, g_processId) + 1;
    SharedStore(d->nAttachedProcess, n);
    g_slot = slot;
    g_state = State::Attached;
    Trace("DLL_PROCESS_ATTACH :  nAttachedProcess=%d  \r\n", (int)n);
    return AttachStep::Attached;
}

}  // namespace

SharedData* Shared() {
    return g_shared;
}

bool LibraryUsable() {
    State s = g_state.load(std::memory_order_relaxed);
    return s != State::Refused && s != State::NoSharedState && s != State::Detaching;
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
    const bool asMonitor = StartedAsMonitor();
    const DWORD firstLook = plat::GetTickCount();
    for (;;) {
        switch (TryAttach(asMonitor)) {
            case AttachStep::Attached:
                return true;
            case AttachStep::Refused:
                return false;
            case AttachStep::Inert:
                return true;
            case AttachStep::BlockEnding:
                break;
        }
        if (plat::GetTickCount() - firstLook >= kEndingBlockWaitMs) {
            Trace("DLL_PROCESS_ATTACH : the shared block did not end in time \r\n");
            g_state = State::NoSharedState;
            return true;
        }
        plat::RealSleep(kEndingBlockPollMs);
    }
}

void ProcessDetach(bool underLoaderLock) {
    State state = g_state.load();
    if (state != State::Attached) {
        // A refused process holds nothing of the block; a process without
        // shared state has nothing to give back.
        ReleaseView();
        if (state == State::Refused || state == State::NoSharedState) g_state = State::Detached;
        return;
    }
    if (plat::GetCurrentProcessId() != g_processId) {
        // A forked copy of the attached process: its slot, its monitor and its
        // notification thread are the parent's. It leaves them alone.
        g_state = State::Detached;
        return;
    }
    g_state = State::Detaching;
    SharedData* d = g_shared;
    StopNotificationThread(!underLoaderLock);

    uint32_t n;
    bool quitting;
    HWND monitor = nullptr;
    {
        AttachLock lock;
        quitting = SharedLoad(d->bQuit) != 0;
        if (g_slot >= 0 && SharedLoad(d->dwProcessIds[g_slot]) == g_processId)
            SharedStore(d->dwProcessIds[g_slot], 0);
        uint32_t other = 0;
        n = (uint32_t)LiveSlots(d, g_processId, &other);
        SharedStore(d->nAttachedProcess, n);
        // Only the monitor is left: the block ends. Marked before the monitor
        // is told, so that nobody joins it meanwhile.
        uint32_t monitorPid = SharedLoad(d->piMonitor[2]);
        if (n == 1 && !IsMonitorProcess() && monitorPid && other == monitorPid) {
            SharedStore(d->bQuit, 1);
            monitor = plat::FieldToWindow(SharedLoad(d->g_hWnd));
        }
    }
    g_slot = -1;
    if (n == 1) {
        Trace("DLLMain: DLL_TWAIN_PROCESS_DETACH: All requests removed\n");
        DWORD_PTR answer = 0;
        // SMTO_BLOCK: while it waits, the thread answers no message sent to
        // it; inside the loader lock none of the application's window
        // procedures may run.
        if (monitor)
            plat::SendMessageTimeoutA(monitor, WM_DESTROY, 0, 0, SMTO_BLOCK | SMTO_ABORTIFHUNG,
                                      kDetachSendWaitMs, &answer);
    }
    if (n == 0 || quitting) {
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

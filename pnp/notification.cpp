// The client side of plug-and-play functions: USBRegisterPNPFunction,
// PNPFunctionThreadStop and this process's notification thread.
//
// The first registration makes the process's context and starts the thread;
// the thread asks the monitor for the process's named event
// (WM_REGISTER_CALLBACK), opens it and calls the client function each time
// the monitor signals it. Later registrations hand a new function and user
// value over through the update flag; the thread takes them when woken.
//
// Decisions taken for the user's safety (documented in tavcam.h):
// - The context is shared by the process (its registrations) and the running
//   thread, each holding a reference; whoever lets go last frees it and
//   closes its event. So a stop that stops waiting for a thread still busy in
//   the client function never frees what that thread uses, and the event the
//   stop signals is never closed under it.
// - Stopping waits for the thread at most kThreadStopWaitMs, and not at all
//   when called from the thread itself (from within the client function).
// - The library's unload never blocks on anything the ending thread needs.
//   On POSIX the unload runs at the process's exit (a library that started a
//   thread stays loaded until then), outside the loader's locks: it signals
//   the thread and waits for it, bounded. On Windows the unload runs under
//   the loader lock, which a thread needs to end; so the thread holds a
//   reference to the library's module from its start and lets go of it as
//   its last act (plat::CreateLibraryThread). An unload (FreeLibrary) can then
//   only happen once the thread is gone, or on the thread's own way out, and
//   at the process's exit the system has ended the thread already: the
//   unload sets the stop request, signals the event and never waits.
// - The thread's wait for its event is cut into slices of
//   kNotificationWaitSliceMs, between which it looks at the stop request.
// - The context remembers the process that made it: a forked copy of the
//   process has no thread, and neither registers through nor stops the
//   parent's.
#include <atomic>
#include <mutex>
#include <new>

#include "core/attach.h"
#include "core/trace.h"
#include "pnp/pnp.h"
#include "tavcam.h"

namespace tav {
namespace {

struct PNPFunctionContext {
    // The registered function and its user value, and the thread's state.
    std::atomic<PNPFunction> pfnFunction{nullptr};
    std::atomic<uintptr_t> userValue{0};
    std::atomic<uint32_t> bRunning{0};
    std::atomic<uint32_t> bUpdate{0};
    std::atomic<uint32_t> bStop{0};
    std::atomic<HANDLE> hEvent{nullptr};
    HANDLE hThread = nullptr;
    // Ours: set by the thread once its event is open (or could not be).
    HANDLE hReady = nullptr;
    DWORD dwThreadId = 0;
    // Ours: the references (the process's and the running thread's), the
    // process that made it, and the lock that makes a function and its user
    // value change together.
    std::atomic<int> refs{1};
    uint32_t ownerPid = 0;
    std::mutex handoff;
};

// The process's context; registrations and explicit stops take g_registerLock.
std::atomic<PNPFunctionContext*> g_context{nullptr};
std::mutex g_registerLock;

void Unref(PNPFunctionContext* c) {
    if (c->refs.fetch_sub(1) != 1) return;
    HANDLE event = c->hEvent.exchange(nullptr);
    if (event) plat::CloseHandle(event);
    if (c->hReady) plat::CloseHandle(c->hReady);
    delete c;
}

PNPFunctionContext* OwnContext() {
    PNPFunctionContext* c = g_context.load();
    return c && c->ownerPid == plat::GetCurrentProcessId() ? c : nullptr;
}

void TakeFunction(PNPFunctionContext* c, PNPFunction* function, uintptr_t* value) {
    std::lock_guard<std::mutex> guard(c->handoff);
    *function = c->pfnFunction.load();
    *value = c->userValue.load();
}

// The thread's work; its exit code.
DWORD RunNotifications(PNPFunctionContext* c) {
    PNPFunction function = nullptr;
    uintptr_t value = 0;
    TakeFunction(c, &function, &value);
    // When the send returns the monitor has created this process's event.
    SharedData* d = Shared();
    HWND monitor = d ? plat::FieldToWindow(SharedLoad(d->g_hWnd)) : nullptr;
    if (monitor) SendToMonitor(monitor, WM_REGISTER_CALLBACK, (LPARAM)OwnProcessId());
    char name[kPnPEventNameBytes];
    PnPEventName(OwnProcessId(), name);
    Trace("PNPFunctionThread: szEventName = %s\n", name);
    HANDLE event = plat::OpenEventA(EVENT_ALL_ACCESS, FALSE, name);
    if (!event) {
        Trace("PNPFunctionThread:OpenEvent failed = 0x%x\r\n", (unsigned)plat::GetLastError());
        if (c->hReady) plat::SetEvent(c->hReady);
        return 1;
    }
    c->hEvent.store(event);
    if (c->hReady) plat::SetEvent(c->hReady);  // the registration may return
    for (;;) {
        // The stop request is looked at after the event is published, and the
        // stop looks at the event after raising the request: one of the two
        // sees the other, so no stop is missed.
        if (c->bStop.load()) return 0;
        DWORD r = plat::WaitForSingleObject(event, kNotificationWaitSliceMs);
        if (r == WAIT_TIMEOUT) continue;
        if (r != WAIT_OBJECT_0) {
            Trace("PNPFunctionThread: WaitForSingleObject ERROR !!!\r\n");
            return 1;
        }
        if (c->bStop.load()) return 0;
        Trace("PNPFunctionThread: Device Change!!!\r\n");
        if (c->bUpdate.exchange(0)) TakeFunction(c, &function, &value);
        if (function) {
            uint32_t code = PNP_CODE_DEVICE_CHANGE;
            function(&code, 0, 0, value);
        }
        // Signals that came while the function ran wake nobody.
        plat::ResetEvent(event);
    }
}

DWORD WINAPI PNPFunctionThread(LPVOID parameter) {
    auto* c = (PNPFunctionContext*)parameter;
    Trace("Enter PNPFunctionThread\r\n");
    DWORD code = RunNotifications(c);
    Trace("Exit PNPFunctionThread\r\n");
    Unref(c);
    return code;
}

// Starts the thread for a context with its function stored; false on failure.
bool StartThread(PNPFunctionContext* c) {
    c->refs.fetch_add(1);  // the thread's
    c->hThread = plat::CreateLibraryThread(PNPFunctionThread, c, &c->dwThreadId);
    Trace("USBRegisterPNPFunction: hThread = %x\r\n", (unsigned)plat::HandleToField(c->hThread));
    if (c->hThread) return true;
    c->refs.fetch_sub(1);
    return false;
}

}  // namespace

void StopNotificationThread(bool mayWait) {
    Trace("Enter PNPFunctionThreadStop\r\n");
    PNPFunctionContext* c = nullptr;
    {
        // Taken only to keep out a registration running at the same moment,
        // and let go before any wait: the thread, running the client
        // function, may register too. Under the loader lock nothing of the
        // kind runs, and a lock a terminated thread held would never come.
        std::unique_lock<std::mutex> guard(g_registerLock, std::defer_lock);
        if (mayWait) guard.lock();
        c = OwnContext();
        if (c && !g_context.compare_exchange_strong(c, nullptr)) c = nullptr;
        if (c) {
            c->bStop.store(1);
            HANDLE event = c->hEvent.load();
            if (event) plat::SetEvent(event);
        }
    }
    if (c) {
        if (c->hThread) {
            Trace("PNPFunctionThreadStop: hThread = %x\r\n",
                  (unsigned)plat::HandleToField(c->hThread));
            if (mayWait && plat::GetCurrentThreadId() != c->dwThreadId)
                plat::WaitForSingleObject(c->hThread, kThreadStopWaitMs);
            plat::CloseHandle(c->hThread);
        }
        Unref(c);
    }
    Trace("Exit PNPFunctionThreadStop\r\n");
}

}  // namespace tav

using namespace tav;

extern "C" {

TAVCAM_API int32_t WINAPI USBRegisterPNPFunction(PNPFunction pfnFunction, uintptr_t userValue) {
    if (!LibraryUsable()) return 0;
    if (!WaitForMonitorWindow(1000)) return 0;
    std::lock_guard<std::mutex> guard(g_registerLock);
    PNPFunctionContext* c = OwnContext();
    if (!pfnFunction) {
        if (c) {
            std::lock_guard<std::mutex> handoff(c->handoff);
            c->pfnFunction.store(nullptr);
            c->bUpdate.store(1);
        }
        return 1;
    }
    if (!c) {
        c = new (std::nothrow) PNPFunctionContext();
        if (!c) return 0;
        c->ownerPid = plat::GetCurrentProcessId();
        g_context.store(c);
    }
    {
        std::lock_guard<std::mutex> handoff(c->handoff);
        c->pfnFunction.store(pfnFunction);
        c->userValue.store(userValue);
    }
    if (c->bRunning.load()) {
        c->bUpdate.store(1);
        return 1;
    }
    c->bUpdate.store(0);
    if (!c->hReady) c->hReady = plat::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!StartThread(c)) return 0;
    c->bRunning.store(1);
    // The monitor signals only events it has made: wait (bounded) until the
    // thread has asked for its event, so that no change after this return
    // goes unreported. The thread needs none of the locks held here.
    if (c->hReady) plat::WaitForSingleObject(c->hReady, kRegisterReadyWaitMs);
    return 1;
}

TAVCAM_API int32_t WINAPI PNPFunctionThreadStop(void) {
    StopNotificationThread(true);
    return 1;
}

}  // extern "C"

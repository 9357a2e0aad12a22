// Events and WaitForSingleObject.
//
// An event is a futex word: 1 signalled, 0 not. An unnamed event lives in this
// process; a named one lives in a named shared object (internal.h), so it can
// be opened by name from other processes and goes away with its last holder.
// Nothing in an event is ever locked, so a process killed in the middle of a
// wait or a SetEvent leaves no lock behind.
#include <new>

#include "handle_table.h"
#include "internal.h"

namespace plat::posix {
namespace {

struct Event {
    EventState* state;
    SharedObject* shared;  // null for an unnamed event
    EventState local;
};

void ReleaseEvent(void* object) {
    Event* e = (Event*)object;
    if (e->shared) SharedRelease(e->shared);
    delete e;
}

struct EventInit {
    BOOL manual;
    BOOL initial;
};

void InitShared(void* user, void* context) {
    EventInit* init = (EventInit*)context;
    EventState* state = new (user) EventState;
    state->manual = init->manual ? 1 : 0;
    state->signaled.store(init->initial ? 1 : 0);
}

HANDLE Insert(Event* e) {
    HANDLE h = HandleInsert(ObjectKind::Event, e, ReleaseEvent);
    if (!h) ReleaseEvent(e);
    return h;
}

EventState* AcquireState(HANDLE h) {
    Event* e = (Event*)HandleAcquire(h, ObjectKind::Event);
    return e ? e->state : nullptr;
}

}  // namespace

DWORD EventWait(void* object, DWORD ms) {
    return EventStateWait(((Event*)object)->state, ms);
}

}  // namespace plat::posix

using namespace plat::posix;

extern "C" {

TAVCAM_POSIX_API HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES, BOOL bManualReset,
                                            BOOL bInitialState, LPCSTR lpName) {
    Event* e = new (std::nothrow) Event{};
    if (!e) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    bool existed = false;
    if (lpName && *lpName) {
        EventInit init{bManualReset, bInitialState};
        e->shared =
            SharedOpen("event", lpName, sizeof(EventState), true, InitShared, &init, &existed);
        if (!e->shared) {
            delete e;
            return nullptr;
        }
        e->state = (EventState*)SharedUser(e->shared);
    } else {
        e->local.manual = bManualReset ? 1 : 0;
        e->local.signaled.store(bInitialState ? 1 : 0);
        e->state = &e->local;
    }
    HANDLE h = Insert(e);
    // An existing event keeps its own type and state, as on Windows.
    if (h) ::SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return h;
}

TAVCAM_POSIX_API HANDLE WINAPI OpenEventA(DWORD, BOOL, LPCSTR lpName) {
    if (!lpName || !*lpName) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    Event* e = new (std::nothrow) Event{};
    if (!e) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    e->shared = SharedOpen("event", lpName, sizeof(EventState), false, nullptr, nullptr, nullptr);
    if (!e->shared) {
        delete e;
        return nullptr;  // ERROR_FILE_NOT_FOUND
    }
    e->state = (EventState*)SharedUser(e->shared);
    return Insert(e);
}

TAVCAM_POSIX_API BOOL WINAPI SetEvent(HANDLE hEvent) {
    EventState* state = AcquireState(hEvent);
    if (!state) return FALSE;
    EventStateSet(state);
    HandleRelease(hEvent);
    return TRUE;
}

TAVCAM_POSIX_API BOOL WINAPI ResetEvent(HANDLE hEvent) {
    EventState* state = AcquireState(hEvent);
    if (!state) return FALSE;
    state->signaled.store(0, std::memory_order_release);
    HandleRelease(hEvent);
    return TRUE;
}

TAVCAM_POSIX_API DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    ObjectKind kind;
    void* object = HandleAcquireAny(hHandle, &kind);
    if (!object) return WAIT_FAILED;  // ERROR_INVALID_HANDLE
    DWORD result = WAIT_FAILED;
    switch (kind) {
        case ObjectKind::Event:
            result = EventWait(object, dwMilliseconds);
            break;
        case ObjectKind::Mutex:
            result = MutexWait(object, dwMilliseconds);
            break;
        case ObjectKind::Thread:
            result = ThreadWait(object, dwMilliseconds);
            break;
        case ObjectKind::Process:
            result = ProcessWait(object, dwMilliseconds);
            break;
        default:
            ::SetLastError(ERROR_INVALID_HANDLE);
            break;
    }
    HandleRelease(hHandle);
    return result;
}

}  // extern "C"

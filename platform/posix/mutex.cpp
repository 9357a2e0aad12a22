// Named mutexes (the library serialises attach and detach across processes
// with one). A mutex is a robust, recursive, process-shared pthread mutex in a
// named shared object: when its owner dies the kernel hands it to the next
// waiter, whose wait then returns WAIT_ABANDONED, as on Windows. Ownership
// and recursion are kept beside it (owner thread id, depth), so a release by
// a thread that doesn't own the mutex is refused without touching it.
#include <errno.h>
#include <time.h>
#include <unistd.h>

#include <new>

#include "handle_table.h"
#include "internal.h"

namespace plat::posix {
namespace {

struct MutexState {
    pthread_mutex_t mutex;
    std::atomic<uint32_t> owner;  // kernel thread id of the owner, 0 when free
    uint32_t depth;               // written by the owner only
};

struct Mutex {
    MutexState* state;
    SharedObject* shared;  // null for an unnamed mutex
    MutexState local;
};

void ReleaseMutexObject(void* object) {
    Mutex* m = (Mutex*)object;
    if (m->shared) {
        SharedRelease(m->shared);
    } else {
        pthread_mutex_destroy(&m->local.mutex);
    }
    delete m;
}

void Init(MutexState* state) {
    RobustInit(&state->mutex, false);
    state->owner.store(0);
    state->depth = 0;
}

void InitShared(void* user, void*) {
    Init(new (user) MutexState);
}

DWORD Lock(MutexState* state, DWORD ms) {
    uint32_t self = (uint32_t)::GetCurrentThreadId();
    if (state->owner.load() == self) {
        ++state->depth;
        return WAIT_OBJECT_0;
    }
    pthread_mutex_t* mutex = &state->mutex;
    int rc;
    if (ms == INFINITE) {
        rc = pthread_mutex_lock(mutex);
    } else {
        // A bounded wait polls with trylock (1 to 10 ms apart): unlike a timed
        // lock, it reports an owner that died the same way on every C library
        // and sanitizer. The mutex guards attach and detach, which are rare.
        uint64_t deadline = MonotonicMs() + ms;
        useconds_t pause = 1000;
        while ((rc = pthread_mutex_trylock(mutex)) == EBUSY) {
            if (MonotonicMs() >= deadline) {
                rc = ETIMEDOUT;
                break;
            }
            usleep(pause);
            if (pause < 10000) pause *= 2;
        }
    }
    if (rc == 0 || rc == EOWNERDEAD) {
        if (rc == EOWNERDEAD) pthread_mutex_consistent(mutex);
        state->owner.store(self);
        state->depth = 1;
        return rc == 0 ? WAIT_OBJECT_0 : WAIT_ABANDONED;
    }
    if (rc == ETIMEDOUT) return WAIT_TIMEOUT;
    ::SetLastError(ERROR_GEN_FAILURE);
    return WAIT_FAILED;
}

}  // namespace

DWORD MutexWait(void* object, DWORD ms) {
    return Lock(((Mutex*)object)->state, ms);
}

}  // namespace plat::posix

using namespace plat::posix;

extern "C" {

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL bInitialOwner, LPCSTR lpName) {
    Mutex* m = new (std::nothrow) Mutex{};
    if (!m) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    bool existed = false;
    if (lpName && *lpName) {
        m->shared =
            SharedOpen("mutex", lpName, sizeof(MutexState), true, InitShared, nullptr, &existed);
        if (!m->shared) {
            delete m;
            return nullptr;
        }
        m->state = (MutexState*)SharedUser(m->shared);
    } else {
        Init(&m->local);
        m->state = &m->local;
    }
    HANDLE h = HandleInsert(ObjectKind::Mutex, m, ReleaseMutexObject);
    if (!h) {
        ReleaseMutexObject(m);
        return nullptr;
    }
    // Windows gives the initial ownership only to the creator of the mutex.
    if (bInitialOwner && !existed) Lock(m->state, INFINITE);
    ::SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return h;
}

BOOL WINAPI ReleaseMutex(HANDLE hMutex) {
    Mutex* m = (Mutex*)HandleAcquire(hMutex, ObjectKind::Mutex);
    if (!m) return FALSE;
    MutexState* state = m->state;
    BOOL ok = FALSE;
    if (state->owner.load() != (uint32_t)::GetCurrentThreadId()) {
        ::SetLastError(ERROR_NOT_OWNER);
    } else {
        if (--state->depth == 0) {
            state->owner.store(0);
            pthread_mutex_unlock(&state->mutex);
        }
        ok = TRUE;
    }
    HandleRelease(hMutex);
    return ok;
}

}  // extern "C"

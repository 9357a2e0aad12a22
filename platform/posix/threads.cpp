// CreateThread, thread ids and exit codes, and waits on threads.
//
// A thread object is shared by its handle and the running thread and freed
// when both let go; the pthread itself is detached, so nothing needs to join
// it. The object's "ended" event is set after the start routine returned.
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <new>

#include "handle_table.h"
#include "internal.h"

namespace plat::posix {
namespace {

struct Thread {
    std::atomic<int> refs;
    LPTHREAD_START_ROUTINE start;
    LPVOID parameter;
    std::atomic<uint32_t> id;  // 0 until the thread has published it
    std::atomic<uint32_t> exitCode;
    EventState ended;
};

void Unref(Thread* t) {
    if (t->refs.fetch_sub(1) == 1) delete t;
}

void ReleaseThread(void* object) {
    Unref((Thread*)object);
}

void* Run(void* arg) {
    Thread* t = (Thread*)arg;
    t->id.store((uint32_t)::GetCurrentThreadId());
    FutexWakeAll(&t->id);
    DWORD code = t->start(t->parameter);
    t->exitCode.store(code);
    EventStateSet(&t->ended);
    Unref(t);
    return nullptr;
}

}  // namespace

DWORD ThreadWait(void* object, DWORD ms) {
    return EventStateWait(&((Thread*)object)->ended, ms);
}

}  // namespace plat::posix

using namespace plat::posix;

extern "C" {

DWORD WINAPI GetCurrentThreadId(void) {
    return (DWORD)syscall(SYS_gettid);
}

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, size_t dwStackSize,
                           LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter, DWORD,
                           DWORD* lpThreadId) {
    if (!lpStartAddress) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    Thread* t = new (std::nothrow) Thread;
    if (!t) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    t->refs.store(2);  // the handle and the running thread
    t->start = lpStartAddress;
    t->parameter = lpParameter;
    t->id.store(0);
    t->exitCode.store(STILL_ACTIVE);
    t->ended.manual = 1;
    t->ended.signaled.store(0);
    HANDLE h = HandleInsert(ObjectKind::Thread, t, ReleaseThread);
    if (!h) {
        delete t;
        return nullptr;
    }
    // The thread runs this library's code to its very end (after the start
    // routine returns, Run's bookkeeping); the library stays loaded while it
    // may: it is pinned from its load on (see processes.cpp).
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    if (dwStackSize) pthread_attr_setstacksize(&attr, dwStackSize < 65536 ? 65536 : dwStackSize);
    pthread_t thread;
    int rc = pthread_create(&thread, &attr, Run, t);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        t->refs.store(1);
        ::CloseHandle(h);
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    // The id is the kernel's thread id, known once the thread runs; waiting
    // for it is bounded by the thread's first instructions.
    while (t->id.load() == 0) FutexWait(&t->id, 0, 10);
    if (lpThreadId) *lpThreadId = t->id.load();
    return h;
}

BOOL WINAPI GetExitCodeThread(HANDLE hThread, DWORD* lpExitCode) {
    Thread* t = (Thread*)HandleAcquire(hThread, ObjectKind::Thread);
    if (!t) return FALSE;
    if (lpExitCode) *lpExitCode = t->exitCode.load();
    HandleRelease(hThread);
    return TRUE;
}

}  // extern "C"

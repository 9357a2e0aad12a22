// Futex waits on a 32-bit word, process-local or in shared memory, and the
// monotonic clock that bounds them.
#include <linux/futex.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <climits>

#include "internal.h"

namespace plat::posix {

uint64_t MonotonicMs() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint64_t)ts.tv_sec * 1000u + (uint64_t)ts.tv_nsec / 1000000u;
}

void FutexWait(std::atomic<uint32_t>* word, uint32_t expected, DWORD ms) {
    static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t), "futex word");
    struct timespec ts;
    struct timespec* timeout = nullptr;
    if (ms != INFINITE) {
        ts.tv_sec = ms / 1000;
        ts.tv_nsec = (long)(ms % 1000) * 1000000L;
        timeout = &ts;
    }
    // Not FUTEX_PRIVATE: the word may be shared with other processes.
    syscall(SYS_futex, (uint32_t*)word, FUTEX_WAIT, expected, timeout, nullptr, 0);
}

void FutexWakeAll(std::atomic<uint32_t>* word) {
    syscall(SYS_futex, (uint32_t*)word, FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
}

void EventStateSet(EventState* state) {
    state->signaled.store(1, std::memory_order_release);
    FutexWakeAll(&state->signaled);
}

DWORD EventStateWait(EventState* state, DWORD ms) {
    uint64_t deadline = ms == INFINITE ? 0 : MonotonicMs() + ms;
    for (;;) {
        if (state->manual) {
            if (state->signaled.load(std::memory_order_acquire)) return WAIT_OBJECT_0;
        } else {
            // An auto-reset event lets exactly one wait through per signal.
            uint32_t one = 1;
            if (state->signaled.compare_exchange_strong(one, 0, std::memory_order_acq_rel))
                return WAIT_OBJECT_0;
        }
        DWORD left = INFINITE;
        if (ms != INFINITE) {
            uint64_t now = MonotonicMs();
            if (now >= deadline) return WAIT_TIMEOUT;
            left = (DWORD)(deadline - now);
        }
        FutexWait(&state->signaled, 0, left);
    }
}

}  // namespace plat::posix

extern "C" {

void WINAPI Sleep(DWORD dwMilliseconds) {
    struct timespec ts;
    ts.tv_sec = dwMilliseconds / 1000;
    ts.tv_nsec = (long)(dwMilliseconds % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0) {
    }
}

DWORD WINAPI GetTickCount(void) {
    return (DWORD)plat::posix::MonotonicMs();
}

}  // extern "C"

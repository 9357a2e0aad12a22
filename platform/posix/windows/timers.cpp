// SetTimer / KillTimer. A timer belongs to the queue of the thread that owns
// its window; GetMessageA produces WM_TIMER (wParam the id, lParam the timer
// procedure) when one is due and nothing else is waiting. Like Windows, a
// timer that falls behind produces one WM_TIMER, not one per missed period,
// and periods below 10 ms are raised to 10 ms.
#include "../internal.h"
#include "windows_internal.h"

namespace plat::posix::win {
namespace {

constexpr UINT kMinimumPeriod = 10;
constexpr UINT_PTR kFirstThreadTimerId = 0x7FFF0000;  // ids of timers without window

bool OwnedByCaller(HWND hWnd) {
    uint32_t tid = 0;
    return LocalWindow((uint32_t)(uintptr_t)hWnd, nullptr, &tid) &&
           tid == (uint32_t)::GetCurrentThreadId();
}

}  // namespace

bool TakeDueTimerLocked(Timer* timers, uint32_t filter, bool remove, MSG* out, uint64_t* next) {
    uint64_t now = MonotonicMs();
    Timer* due = nullptr;
    for (int i = 0; i < kTimersPerQueue; ++i) {
        Timer& t = timers[i];
        if (!t.used || !WindowMatches(t.hwnd, filter)) continue;
        if (t.due <= now) {
            if (!due || t.due < due->due) due = &t;
        } else if (t.due < *next) {
            *next = t.due;
        }
    }
    if (!due) return false;
    *out = MSG{(HWND)(uintptr_t)due->hwnd, WM_TIMER,         (WPARAM)due->id,
               (LPARAM)due->proc,          ::GetTickCount(), POINT{0, 0}};
    if (remove) due->due = now + due->period;
    return true;
}

void DropWindowTimersLocked(Queue* q, uint32_t hwnd) {
    Timer* timers = QueueTimersLocked(q);
    for (int i = 0; i < kTimersPerQueue; ++i)
        if (timers[i].used && timers[i].hwnd == hwnd) timers[i] = Timer{};
}

}  // namespace plat::posix::win

using namespace plat::posix;
using namespace plat::posix::win;

extern "C" {

UINT_PTR WINAPI SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc) {
    if (hWnd && !OwnedByCaller(hWnd)) {
        ::SetLastError(hWnd && ::IsWindow(hWnd) ? ERROR_ACCESS_DENIED
                                                : ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    Queue* q = CurrentQueue();
    if (!q) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    uint32_t hwnd = (uint32_t)(uintptr_t)hWnd;
    UINT period = uElapse < kMinimumPeriod ? kMinimumPeriod : uElapse;
    UINT_PTR result = 0;
    pthread_mutex_lock(&g_msgLock);
    Timer* timers = QueueTimersLocked(q);
    Timer* slot = nullptr;
    if (hwnd) {
        // Setting an existing timer again restarts it.
        for (int i = 0; i < kTimersPerQueue && !slot; ++i)
            if (timers[i].used && timers[i].hwnd == hwnd && timers[i].id == nIDEvent)
                slot = &timers[i];
    } else {
        // Without a window the system picks an id unused in this queue.
        static UINT_PTR nextId = kFirstThreadTimerId;
        nIDEvent = nextId++;
    }
    for (int i = 0; i < kTimersPerQueue && !slot; ++i)
        if (!timers[i].used) slot = &timers[i];
    if (slot) {
        *slot = Timer{hwnd, nIDEvent, period, MonotonicMs() + period, lpTimerFunc, true};
        WakeQueueLocked(q);
        // Windows returns a nonzero value; the library stores it as the id.
        result = nIDEvent ? nIDEvent : 1;
    }
    pthread_mutex_unlock(&g_msgLock);
    if (!result) ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return result;
}

BOOL WINAPI KillTimer(HWND hWnd, UINT_PTR uIDEvent) {
    Queue* q = CurrentQueue();
    bool found = false;
    if (q) {
        uint32_t hwnd = (uint32_t)(uintptr_t)hWnd;
        pthread_mutex_lock(&g_msgLock);
        Timer* timers = QueueTimersLocked(q);
        for (int i = 0; i < kTimersPerQueue; ++i) {
            if (timers[i].used && timers[i].hwnd == hwnd && timers[i].id == uIDEvent) {
                timers[i] = Timer{};
                found = true;
            }
        }
        pthread_mutex_unlock(&g_msgLock);
    }
    if (!found) ::SetLastError(ERROR_INVALID_PARAMETER);
    return found ? TRUE : FALSE;
}

}  // extern "C"

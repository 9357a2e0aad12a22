// Message queues: one per thread that has windows or waits for messages.
//
// A queue holds posted messages (in order), sent messages waiting for the
// thread to take them (they are handled before any posted message, and also
// while the thread itself waits in SendMessageA), the WM_QUIT request and the
// thread's timers. Sends to a window of another thread, in this process or
// another, are answered through the same queues: the answer comes back
// (locally, or as a reply datagram) and completes the sender's pending send.
//
// Bounds: SendMessageA waits at most 60 s for an answer (SendMessageTimeoutA
// at most its time-out), and gives up at once when the window's process is
// found dead (checked every 100 ms) or its thread ended. A send whose time
// ran out is still handled by the window later, as on Windows; its answer
// then goes nowhere; GetMessageA waits without a bound, as a message loop is
// meant to; a queue holds at most 512 posted messages (PostMessageA then
// fails with ERROR_NOT_ENOUGH_QUOTA, as Windows does at its own limit).
#include <errno.h>
#include <time.h>
#include <unistd.h>

#include "../internal.h"
#include "windows_internal.h"

namespace plat::posix::win {

pthread_mutex_t g_msgLock = PTHREAD_MUTEX_INITIALIZER;

namespace {

constexpr int kQueues = 64;
constexpr int kPosted = 512;
constexpr int kSends = 64;
constexpr int kPending = 128;
constexpr uint64_t kSendLimitMs = 60000;
constexpr uint64_t kLivenessMs = 100;

struct Posted {
    uint32_t hwnd;
    UINT msg;
    WPARAM w;
    LPARAM l;
    DWORD time;
};

struct Incoming {
    uint32_t hwnd;
    UINT msg;
    WPARAM w;
    LPARAM l;
    uint32_t fromPid;
    uint64_t id;
};

struct Pending {
    bool used;
    bool done;
    uint64_t id;
    LRESULT result;
    DWORD error;
    Queue* waiter;
};

}  // namespace

struct Queue {
    bool used;
    bool condReady;
    uint32_t tid;
    pthread_cond_t cond;
    int postedCount;
    int sendCount;
    bool quit;
    int quitCode;
    Posted posted[kPosted];
    Incoming sends[kSends];
    Timer timers[kTimersPerQueue];
};

namespace {

Queue g_queues[kQueues];
Pending g_pending[kPending];
uint64_t g_nextSendId = 1;
pthread_key_t g_queueKey;
pthread_once_t g_keyOnce = PTHREAD_ONCE_INIT;

uint32_t H(HWND hwnd) {
    return (uint32_t)(uintptr_t)hwnd;
}
HWND W(uint32_t hwnd) {
    return (HWND)(uintptr_t)hwnd;
}

Queue* FindQueueLocked(uint32_t tid) {
    for (Queue& q : g_queues)
        if (q.used && q.tid == tid) return &q;
    return nullptr;
}

void Reply(uint32_t toPid, uint64_t id, LRESULT result, DWORD error) {
    if (toPid == (uint32_t)getpid()) {
        CompleteSend(id, result, error);
        return;
    }
    Packet p{};
    p.kind = PacketKind::Reply;
    p.id = id;
    p.result = result;
    p.error = error;
    TransportSend(toPid, p);  // a sender that died needs no answer
}

void HandleIncoming(const Incoming& in) {
    WNDPROC proc = nullptr;
    if (!LocalWindow(in.hwnd, &proc, nullptr)) {
        Reply(in.fromPid, in.id, 0, ERROR_INVALID_WINDOW_HANDLE);
        return;
    }
    Reply(in.fromPid, in.id, proc(W(in.hwnd), in.msg, in.w, in.l), 0);
}

// With the lock held: takes the oldest incoming send, if any.
bool PopIncomingLocked(Queue* q, Incoming* out) {
    if (q->sendCount == 0) return false;
    *out = q->sends[0];
    --q->sendCount;
    for (int i = 0; i < q->sendCount; ++i) q->sends[i] = q->sends[i + 1];
    return true;
}

// With the lock held: answers the oldest incoming send, if any, with the
// lock released meanwhile (the window procedure may send or post in turn).
bool HandleOneIncomingLocked(Queue* q) {
    Incoming in;
    if (!PopIncomingLocked(q, &in)) return false;
    pthread_mutex_unlock(&g_msgLock);
    HandleIncoming(in);
    pthread_mutex_lock(&g_msgLock);
    return true;
}

// When a thread with a queue ends: its windows go, sends waiting for it fail.
void ThreadEnded(void* arg) {
    Queue* q = (Queue*)arg;
    Incoming waiting[kSends];
    int n = 0;
    pthread_mutex_lock(&g_msgLock);
    uint32_t tid = q->tid;
    while (PopIncomingLocked(q, &waiting[n])) ++n;
    // The slot is free again; its condition variable stays initialised.
    q->used = false;
    q->tid = 0;
    q->postedCount = 0;
    q->quit = false;
    q->quitCode = 0;
    for (Timer& t : q->timers) t = Timer{};
    pthread_mutex_unlock(&g_msgLock);
    for (int i = 0; i < n; ++i)
        Reply(waiting[i].fromPid, waiting[i].id, 0, ERROR_INVALID_WINDOW_HANDLE);
    DropThreadWindows(tid);
}

void MakeKey() {
    pthread_key_create(&g_queueKey, ThreadEnded);
}

void WaitLocked(Queue* q, uint64_t ms) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    ts.tv_sec += (time_t)(ms / 1000);
    ts.tv_nsec += (long)(ms % 1000) * 1000000L;
    if (ts.tv_nsec >= 1000000000L) {
        ts.tv_sec += 1;
        ts.tv_nsec -= 1000000000L;
    }
    pthread_cond_timedwait(&q->cond, &g_msgLock, &ts);
}

bool InRange(UINT msg, UINT min, UINT max) {
    return (min == 0 && max == 0) || (msg >= min && msg <= max);
}

// The next message for the calling thread: incoming sends are handled on the
// way; then posted messages in order, WM_QUIT, timers. Waits when wait is set.
bool NextMessage(MSG* out, uint32_t filter, UINT min, UINT max, bool wait, bool remove) {
    Queue* q = CurrentQueue();
    if (!q) return false;
    pthread_mutex_lock(&g_msgLock);
    for (;;) {
        if (HandleOneIncomingLocked(q)) continue;
        for (int i = 0; i < q->postedCount; ++i) {
            Posted& p = q->posted[i];
            if (!WindowMatches(p.hwnd, filter) || !InRange(p.msg, min, max)) continue;
            *out = MSG{W(p.hwnd), p.msg, p.w, p.l, p.time, POINT{0, 0}};
            if (remove) {
                --q->postedCount;
                for (int j = i; j < q->postedCount; ++j) q->posted[j] = q->posted[j + 1];
            }
            pthread_mutex_unlock(&g_msgLock);
            return true;
        }
        if (q->quit) {
            *out = MSG{nullptr, WM_QUIT, (WPARAM)q->quitCode, 0, ::GetTickCount(), POINT{0, 0}};
            if (remove) q->quit = false;
            pthread_mutex_unlock(&g_msgLock);
            return true;
        }
        uint64_t next = UINT64_MAX;
        if (InRange(WM_TIMER, min, max) &&
            TakeDueTimerLocked(q->timers, filter, remove, out, &next)) {
            pthread_mutex_unlock(&g_msgLock);
            return true;
        }
        if (!wait) break;
        uint64_t now = MonotonicMs();
        uint64_t ms = next == UINT64_MAX ? 1000 : next > now ? next - now : 0;
        WaitLocked(q, ms < 1000 ? ms + 1 : 1000);
    }
    pthread_mutex_unlock(&g_msgLock);
    return false;
}

}  // namespace

void WakeQueueLocked(Queue* q) {
    pthread_cond_broadcast(&q->cond);
}

Timer* QueueTimersLocked(Queue* q) {
    return q->timers;
}

Queue* CurrentQueue() {
    pthread_once(&g_keyOnce, MakeKey);
    Queue* q = (Queue*)pthread_getspecific(g_queueKey);
    if (q) return q;
    uint32_t tid = (uint32_t)::GetCurrentThreadId();
    pthread_mutex_lock(&g_msgLock);
    q = FindQueueLocked(tid);
    for (int i = 0; i < kQueues && !q; ++i) {
        Queue& slot = g_queues[i];
        if (slot.used) continue;
        if (!slot.condReady) {
            pthread_condattr_t attr;
            pthread_condattr_init(&attr);
            pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
            pthread_cond_init(&slot.cond, &attr);
            pthread_condattr_destroy(&attr);
            slot.condReady = true;
        }
        slot.used = true;
        slot.tid = tid;
        q = &slot;
    }
    pthread_mutex_unlock(&g_msgLock);
    if (q) pthread_setspecific(g_queueKey, q);
    return q;
}

bool QueuePost(uint32_t tid, uint32_t hwnd, UINT msg, WPARAM w, LPARAM l, bool coalesce) {
    bool ok = false;
    pthread_mutex_lock(&g_msgLock);
    Queue* q = FindQueueLocked(tid);
    if (q) {
        bool duplicate = false;
        for (int i = 0; coalesce && i < q->postedCount && !duplicate; ++i) {
            const Posted& p = q->posted[i];
            duplicate = p.hwnd == hwnd && p.msg == msg && p.w == w && p.l == l;
        }
        if (duplicate) {
            ok = true;
        } else if (q->postedCount < kPosted) {
            q->posted[q->postedCount++] = Posted{hwnd, msg, w, l, ::GetTickCount()};
            WakeQueueLocked(q);
            ok = true;
        }
    }
    pthread_mutex_unlock(&g_msgLock);
    if (!ok) ::SetLastError(q ? ERROR_NOT_ENOUGH_QUOTA : ERROR_INVALID_WINDOW_HANDLE);
    return ok;
}

bool QueueIncomingSend(uint32_t tid, uint32_t hwnd, UINT msg, WPARAM w, LPARAM l, uint32_t fromPid,
                       uint64_t id) {
    bool ok = false;
    pthread_mutex_lock(&g_msgLock);
    Queue* q = FindQueueLocked(tid);
    if (q && q->sendCount < kSends) {
        q->sends[q->sendCount++] = Incoming{hwnd, msg, w, l, fromPid, id};
        WakeQueueLocked(q);
        ok = true;
    }
    pthread_mutex_unlock(&g_msgLock);
    return ok;
}

void CompleteSend(uint64_t id, LRESULT result, DWORD error) {
    pthread_mutex_lock(&g_msgLock);
    for (Pending& p : g_pending) {
        if (p.used && p.id == id && !p.done) {
            p.done = true;
            p.result = result;
            p.error = error;
            WakeQueueLocked(p.waiter);
        }
    }
    pthread_mutex_unlock(&g_msgLock);
}

// A posted or sent message as it travels to another process.
Packet MessagePacket(PacketKind kind, uint32_t hwnd, UINT msg, WPARAM w, LPARAM l) {
    Packet p{};
    p.kind = kind;
    p.hwnd = hwnd;
    p.msg = msg;
    p.wParam = w;
    p.lParam = l;
    return p;
}

// A send that waits at most limitMs for the answer; false (with the last
// error set) when it failed or the time ran out.
bool SendWithin(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam, uint64_t limitMs,
                LRESULT* answer) {
    WindowRecord rec;
    if (!RegistryFind(H(hWnd), &rec)) {
        ::SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    uint32_t pid = (uint32_t)getpid();
    uint32_t self = (uint32_t)::GetCurrentThreadId();
    if (rec.pid == pid && rec.tid == self) {
        WNDPROC proc = nullptr;
        if (!LocalWindow(rec.hwnd, &proc, nullptr)) {
            ::SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return false;
        }
        *answer = proc(hWnd, Msg, wParam, lParam);
        return true;
    }
    bool remote = rec.pid != pid;
    Queue* q = CurrentQueue();
    if (!q || (remote && !TransportStart())) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }

    pthread_mutex_lock(&g_msgLock);
    Pending* pending = nullptr;
    for (Pending& p : g_pending) {
        if (!p.used) {
            p = Pending{true, false, g_nextSendId++, 0, 0, q};
            pending = &p;
            break;
        }
    }
    pthread_mutex_unlock(&g_msgLock);
    if (!pending) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    bool delivered;
    if (remote) {
        Packet p = MessagePacket(PacketKind::Send, rec.hwnd, Msg, wParam, lParam);
        p.id = pending->id;
        delivered = TransportSend(rec.pid, p);
    } else {
        delivered = QueueIncomingSend(rec.tid, rec.hwnd, Msg, wParam, lParam, pid, pending->id);
    }

    uint64_t start = MonotonicMs();
    uint64_t lastCheck = start;
    pthread_mutex_lock(&g_msgLock);
    if (!delivered) {
        pending->done = true;
        pending->error = ERROR_INVALID_WINDOW_HANDLE;
    }
    while (!pending->done) {
        // While waiting, the thread answers what others send to it.
        if (HandleOneIncomingLocked(q)) continue;
        uint64_t now = MonotonicMs();
        if (now - start >= limitMs) {
            pending->error = ERROR_TIMEOUT;
            break;
        }
        if (remote && now - lastCheck >= kLivenessMs) {
            lastCheck = now;
            pthread_mutex_unlock(&g_msgLock);
            bool alive = ProcessAlive((pid_t)rec.pid, rec.start);
            pthread_mutex_lock(&g_msgLock);
            if (!alive && !pending->done) {
                pending->error = ERROR_INVALID_WINDOW_HANDLE;
                break;
            }
            continue;
        }
        uint64_t left = limitMs - (now - start);
        WaitLocked(q, left < kLivenessMs ? left : kLivenessMs);
    }
    LRESULT result = pending->done ? pending->result : 0;
    DWORD error = pending->error;
    *pending = Pending{};
    pthread_mutex_unlock(&g_msgLock);
    if (error) {
        ::SetLastError(error);
        return false;
    }
    *answer = result;
    return true;
}

}  // namespace plat::posix::win

using namespace plat::posix;
using namespace plat::posix::win;

extern "C" {

TAVCAM_POSIX_API BOOL WINAPI GetMessageA(MSG* lpMsg, HWND hWnd, UINT wMsgFilterMin,
                                         UINT wMsgFilterMax) {
    if (!lpMsg || (hWnd && hWnd != (HWND)INVALID_HANDLE_VALUE && !IsWindow(hWnd))) {
        ::SetLastError(lpMsg ? ERROR_INVALID_WINDOW_HANDLE : ERROR_INVALID_PARAMETER);
        return -1;
    }
    if (!NextMessage(lpMsg, H(hWnd), wMsgFilterMin, wMsgFilterMax, true, true)) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);  // no queue could be made
        return -1;
    }
    return lpMsg->message == WM_QUIT ? 0 : 1;
}

TAVCAM_POSIX_API BOOL WINAPI PeekMessageA(MSG* lpMsg, HWND hWnd, UINT wMsgFilterMin,
                                          UINT wMsgFilterMax, UINT wRemoveMsg) {
    if (!lpMsg) return FALSE;
    return NextMessage(lpMsg, H(hWnd), wMsgFilterMin, wMsgFilterMax, false,
                       (wRemoveMsg & PM_REMOVE) != 0)
               ? TRUE
               : FALSE;
}

TAVCAM_POSIX_API void WINAPI PostQuitMessage(int nExitCode) {
    Queue* q = CurrentQueue();
    if (!q) return;
    pthread_mutex_lock(&g_msgLock);
    q->quit = true;
    q->quitCode = nExitCode;
    WakeQueueLocked(q);
    pthread_mutex_unlock(&g_msgLock);
}

TAVCAM_POSIX_API BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (!hWnd) {  // a message to the calling thread itself
        if (!CurrentQueue()) return FALSE;
        return QueuePost((uint32_t)::GetCurrentThreadId(), 0, Msg, wParam, lParam, false);
    }
    WindowRecord rec;
    if (!RegistryFind(H(hWnd), &rec)) {
        ::SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (rec.pid == (uint32_t)getpid())
        return QueuePost(rec.tid, rec.hwnd, Msg, wParam, lParam, false);
    Packet p = MessagePacket(PacketKind::Post, rec.hwnd, Msg, wParam, lParam);
    if (!TransportStart() || !TransportSend(rec.pid, p)) {
        ::SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return TRUE;
}

TAVCAM_POSIX_API LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    return SendWithin(hWnd, Msg, wParam, lParam, kSendLimitMs, &result) ? result : 0;
}

LRESULT WINAPI SendMessageTimeoutA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam, UINT,
                                   UINT uTimeout, DWORD_PTR* lpdwResult) {
    LRESULT result = 0;
    if (!SendWithin(hWnd, Msg, wParam, lParam, uTimeout, &result)) return 0;
    if (lpdwResult) *lpdwResult = (DWORD_PTR)result;
    return 1;
}

}  // extern "C"

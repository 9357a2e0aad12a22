// The message system of the POSIX stand-in: the pieces its files share.
//
//   registry.cpp         every window of every process: a named shared table
//                        of window handle -> owning process and thread
//   window.cpp           classes and this process's windows (procedures,
//                        parents, sizes); CreateWindowExA, DestroyWindow, ...
//   queue.cpp            one message queue per thread with windows: posted
//                        messages, incoming sends, WM_QUIT; GetMessageA,
//                        PeekMessageA, PostMessageA, SendMessageA
//   timers.cpp           SetTimer / KillTimer, WM_TIMER from the queue
//   transport.cpp        one Unix datagram socket per process and the thread
//                        that receives on it (posts, sends, replies)
//   device_broadcast.cpp WM_DEVICECHANGE when the device directory changes
//
// All process-local state is guarded by one lock, g_msgLock; window
// procedures are always called without it.
#pragma once

#include <pthread.h>
#include <stdint.h>

#include "../winapi.h"

namespace plat::posix::win {

extern pthread_mutex_t g_msgLock;

// ---- registry.cpp -----------------------------------------------------------------
struct WindowRecord {
    uint32_t hwnd;
    uint32_t pid;
    uint32_t tid;
    uint32_t flags;
    uint64_t start;  // start time of the owning process
};
constexpr uint32_t kTopLevel = 1;  // no parent, not message-only: gets broadcasts

// A new handle for a window of this process's thread tid; 0 when full.
uint32_t RegistryAdd(uint32_t tid, uint32_t flags);
void RegistryRemove(uint32_t hwnd);
// Finds a live window; windows of processes that died are dropped on the way.
bool RegistryFind(uint32_t hwnd, WindowRecord* out);

// ---- window.cpp ---------------------------------------------------------------------
// The procedure and owning thread of a window of this process.
bool LocalWindow(uint32_t hwnd, WNDPROC* proc, uint32_t* tid);
// Whether hwnd is filter or a descendant of it (for message filters).
bool WindowMatches(uint32_t hwnd, uint32_t filter);
// This process's top-level windows and their threads; returns the count.
int LocalTopLevel(uint32_t* hwnds, uint32_t* tids, int max);
// Forgets every window of a thread that ended (no messages are sent).
void DropThreadWindows(uint32_t tid);

// ---- queue.cpp ----------------------------------------------------------------------
struct Packet;
// Puts a posted message into the queue of this process's thread tid. With
// coalesce, an identical message still waiting is not queued again.
bool QueuePost(uint32_t tid, uint32_t hwnd, UINT msg, WPARAM w, LPARAM l, bool coalesce);
// Hands a sent message to the queue of thread tid; the answer goes to
// process fromPid under id. False when the thread has no queue.
bool QueueIncomingSend(uint32_t tid, uint32_t hwnd, UINT msg, WPARAM w, LPARAM l, uint32_t fromPid,
                       uint64_t id);
// The answer of a send of this process arrived.
void CompleteSend(uint64_t id, LRESULT result, DWORD error);
// The calling thread's queue is created (and its timers live there).
struct Queue;
Queue* CurrentQueue();
void WakeQueueLocked(Queue* q);

// ---- timers.cpp ---------------------------------------------------------------------
struct Timer {
    uint32_t hwnd;
    UINT_PTR id;
    UINT period;
    uint64_t due;
    TIMERPROC proc;
    bool used;
};
constexpr int kTimersPerQueue = 32;
// With g_msgLock held: the first due timer of the array matching the filter
// (and rearms it when remove); the time of the next due timer in *next.
bool TakeDueTimerLocked(Timer* timers, uint32_t filter, bool remove, MSG* out, uint64_t* next);
Timer* QueueTimersLocked(Queue* q);
void DropWindowTimersLocked(Queue* q, uint32_t hwnd);

// ---- transport.cpp ------------------------------------------------------------------
enum class PacketKind : uint32_t { Post = 1, Send = 2, Reply = 3 };
struct Packet {
    uint32_t magic;
    PacketKind kind;
    uint32_t hwnd;
    uint32_t msg;
    uint64_t wParam;
    int64_t lParam;
    uint64_t id;  // of a send, echoed by its reply
    int64_t result;
    uint32_t fromPid;
    uint32_t error;  // of a reply: 0, or why the send failed
};
static_assert(sizeof(Packet) == 56, "one datagram");
static_assert(offsetof(Packet, wParam) == 16 && offsetof(Packet, id) == 32, "packet layout");

// Starts this process's socket and receiver thread (once per process).
bool TransportStart();
// Sends a packet to process pid; false when it has no socket (it ended, or
// never had windows) or the datagram couldn't be delivered within 1 s.
bool TransportSend(uint32_t pid, const Packet& packet);

// ---- device_broadcast.cpp -------------------------------------------------------------
// The receiver thread's part: a file descriptor to poll (or -1), and the work
// to do when it is readable or when a second passed. The first call (the
// first look at the directory) is made by TransportStart before the receiver
// thread starts; after that only the receiver thread calls these.
int DeviceWatchFd();
void DeviceWatchReadable();
void DeviceWatchTick();
// How long after the last tick the next one is due: short while the
// directory is missing (it is looked for at each tick).
int DeviceWatchPeriodMs();

}  // namespace plat::posix::win

// The window registry: one named shared table, for all processes of the
// user, of window handle -> owning process (id and start time) and thread.
// A window handle is (generation << 10 | slot): 32 bits, positive, and not
// reused soon after its window is gone. Windows of a process that died are
// dropped when someone looks them up or needs their slot.
//
// Who holds the registry (named objects go with their last holder): a
// process that has created a window holds it until the process ends; a
// process without windows (a client sending to the monitor) opens it for one
// look-up and lets go at once. At exit a holder lets go (shared_object.cpp),
// so the last process to end removes the registry instead of leaving it
// behind; threads still running then keep using the mapped memory.
#include <unistd.h>

#include <new>

#include "../internal.h"
#include "windows_internal.h"

namespace plat::posix::win {

// The registry held by a process with windows (reachable for leak checkers).
SharedObject* g_registryObject = nullptr;

namespace {

constexpr int kSlotBits = 10;
constexpr uint32_t kSlots = 1u << kSlotBits;  // windows of all processes at once
constexpr uint32_t kGenerations = (1u << (31 - kSlotBits)) - 1;

struct Registry {
    pthread_mutex_t lock;
    uint32_t generation;
    WindowRecord slots[kSlots];
};

pthread_mutex_t g_openLock = PTHREAD_MUTEX_INITIALIZER;
pid_t g_registryPid = 0;  // the process that holds g_registryObject (not a forked copy)

void Init(void* user, void*) {
    Registry* r = new (user) Registry{};
    RobustInit(&r->lock, false);
    r->generation = 1;
}

SharedObject* OpenObject() {
    return SharedOpen("windows", "registry", sizeof(Registry), true, Init, nullptr, nullptr);
}

// One use of the registry: the held one, or one opened for this use.
struct Use {
    explicit Use(bool hold) {
        pthread_mutex_lock(&g_openLock);
        bool held = g_registryObject && g_registryPid == getpid();
        if (!held && hold && !SharedExiting()) {
            g_registryObject = OpenObject();
            g_registryPid = getpid();
            held = g_registryObject != nullptr;
        }
        object = held ? g_registryObject : nullptr;
        pthread_mutex_unlock(&g_openLock);
        if (!object) {
            object = OpenObject();
            temporary = object != nullptr;
        }
        registry = object ? (Registry*)SharedUser(object) : nullptr;
    }
    ~Use() {
        if (temporary) SharedRelease(object);
    }
    SharedObject* object = nullptr;
    Registry* registry = nullptr;
    bool temporary = false;
};

uint64_t SelfStart() {
    static std::atomic<uint64_t> start{0};
    static std::atomic<pid_t> pid{0};
    if (pid.load() != getpid()) {
        start.store(ProcessStartTime(getpid()));
        pid.store(getpid());
    }
    return start.load();
}

bool LiveLocked(WindowRecord& rec) {
    if (rec.hwnd == 0) return false;
    if (rec.pid == (uint32_t)getpid() && rec.start == SelfStart()) return true;
    if (ProcessAlive((pid_t)rec.pid, rec.start)) return true;
    rec = WindowRecord{};
    return false;
}

}  // namespace

uint32_t RegistryAdd(uint32_t tid, uint32_t flags) {
    Use use(true);
    Registry* r = use.registry;
    if (!r) return 0;
    uint32_t hwnd = 0;
    RobustLock(&r->lock);
    for (uint32_t i = 0; i < kSlots && !hwnd; ++i) {
        WindowRecord& rec = r->slots[i];
        if (LiveLocked(rec)) continue;
        // A damaged counter must not make a handle of more than 31 bits.
        uint32_t gen = r->generation;
        if (gen == 0 || gen > kGenerations) gen = 1;
        r->generation = gen >= kGenerations ? 1 : gen + 1;
        hwnd = (gen << kSlotBits) | i;
        rec = WindowRecord{hwnd, (uint32_t)getpid(), tid, flags, SelfStart()};
    }
    pthread_mutex_unlock(&r->lock);
    return hwnd;
}

void RegistryRemove(uint32_t hwnd) {
    Use use(false);
    Registry* r = use.registry;
    if (!r) return;
    RobustLock(&r->lock);
    WindowRecord& rec = r->slots[hwnd & (kSlots - 1)];
    if (rec.hwnd == hwnd && rec.pid == (uint32_t)getpid()) rec = WindowRecord{};
    pthread_mutex_unlock(&r->lock);
}

bool RegistryFind(uint32_t hwnd, WindowRecord* out) {
    if (hwnd == 0) return false;
    Use use(false);
    Registry* r = use.registry;
    if (!r) return false;
    RobustLock(&r->lock);
    WindowRecord& rec = r->slots[hwnd & (kSlots - 1)];
    bool found = rec.hwnd == hwnd && LiveLocked(rec);
    if (found) *out = rec;
    pthread_mutex_unlock(&r->lock);
    return found;
}

}  // namespace plat::posix::win

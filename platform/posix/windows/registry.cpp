// The window registry: one named shared table, for all processes of the
// user, of window handle -> owning process (id and start time) and thread.
// A window handle is (generation << 10 | slot): 32 bits, positive, and not
// reused soon after its window is gone. Windows of a process that died are
// dropped when someone looks them up or needs their slot.
#include <unistd.h>

#include <new>

#include "../internal.h"
#include "windows_internal.h"

namespace plat::posix::win {

// The registry object, held until the process ends.
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
Registry* g_registry = nullptr;
pid_t g_registryPid = 0;

void Init(void* user, void*) {
    Registry* r = new (user) Registry{};
    RobustInit(&r->lock, false);
    r->generation = 1;
}

// The registry, opened once per process and held until it ends.
Registry* Open() {
    pthread_mutex_lock(&g_openLock);
    if (!g_registry || g_registryPid != getpid()) {
        g_registryObject =
            SharedOpen("windows", "registry", sizeof(Registry), true, Init, nullptr, nullptr);
        g_registry = g_registryObject ? (Registry*)SharedUser(g_registryObject) : nullptr;
        g_registryPid = getpid();
    }
    Registry* r = g_registry;
    pthread_mutex_unlock(&g_openLock);
    return r;
}

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

// At exit the process stops holding the registry, so the last process to end
// removes it instead of leaving it to the next one. Its windows are gone with
// it; threads still running keep the memory mapped.
__attribute__((destructor)) void LetGoOfRegistry() {
    pthread_mutex_lock(&g_openLock);
    if (g_registryObject && g_registryPid == getpid()) SharedLetGoAtExit(g_registryObject);
    pthread_mutex_unlock(&g_openLock);
}

}  // namespace

uint32_t RegistryAdd(uint32_t tid, uint32_t flags) {
    Registry* r = Open();
    if (!r) return 0;
    uint32_t hwnd = 0;
    RobustLock(&r->lock);
    for (uint32_t i = 0; i < kSlots && !hwnd; ++i) {
        WindowRecord& rec = r->slots[i];
        if (LiveLocked(rec)) continue;
        uint32_t gen = r->generation;
        r->generation = gen >= kGenerations ? 1 : gen + 1;
        hwnd = (gen << kSlotBits) | i;
        rec = WindowRecord{hwnd, (uint32_t)getpid(), tid, flags, SelfStart()};
    }
    pthread_mutex_unlock(&r->lock);
    return hwnd;
}

void RegistryRemove(uint32_t hwnd) {
    Registry* r = Open();
    if (!r) return;
    RobustLock(&r->lock);
    WindowRecord& rec = r->slots[hwnd & (kSlots - 1)];
    if (rec.hwnd == hwnd && rec.pid == (uint32_t)getpid()) rec = WindowRecord{};
    pthread_mutex_unlock(&r->lock);
}

bool RegistryFind(uint32_t hwnd, WindowRecord* out) {
    if (hwnd == 0) return false;
    Registry* r = Open();
    if (!r) return false;
    RobustLock(&r->lock);
    WindowRecord& rec = r->slots[hwnd & (kSlots - 1)];
    bool found = rec.hwnd == hwnd && LiveLocked(rec);
    if (found) *out = rec;
    pthread_mutex_unlock(&r->lock);
    return found;
}

}  // namespace plat::posix::win

// plat::Sleep and plat::Now: the clock of the protocol pauses.
#include <atomic>
#include <chrono>
#include <thread>

#include "platform.h"

namespace plat {
namespace {

struct VirtualClock {
    SleepHook onSleep;
    void* context;
};

std::atomic<const VirtualClock*> g_clock{nullptr};
VirtualClock g_clocks[2];  // alternated so a reader never sees a half-written clock
std::atomic<int> g_which{0};
std::atomic<uint64_t> g_virtualNow{0};

uint64_t RealNow() {
    using namespace std::chrono;
    return (uint64_t)duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

void SetVirtualClock(SleepHook onSleep, void* context) {
    if (!onSleep) {
        g_clock.store(nullptr);
        return;
    }
    int w = g_which.fetch_add(1) & 1;
    g_clocks[w] = VirtualClock{onSleep, context};
    g_clock.store(&g_clocks[w]);
}

bool VirtualClockActive() {
    return g_clock.load() != nullptr;
}

void Sleep(DWORD ms) {
    const VirtualClock* clock = g_clock.load();
    if (clock) {
        g_virtualNow.fetch_add(ms);
        clock->onSleep(ms, clock->context);
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

uint64_t Now() {
    return VirtualClockActive() ? g_virtualNow.load() : RealNow();
}

}  // namespace plat

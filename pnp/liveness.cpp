// The monitor's timer tick: are the processes that use the library still
// alive? Decided under the attach lock, so that a process attaching at the
// same moment is either counted here or finds the block marked as ending
// (bQuit) and waits for it to go; it is never attached to a monitor that has
// just decided to end.
#include "core/attach_lock.h"
#include "core/process_slots.h"
#include "core/trace.h"
#include "pnp/pnp.h"

namespace tav {
namespace {

// A busy lock is not waited for long: the monitor's thread also answers its
// clients, and the next tick comes a second later.
constexpr DWORD kTickLockWaitMs = 200;

}  // namespace

int LivenessCheck(SharedData* d) {
    AttachLock lock(kTickLockWaitMs);
    if (lock.mutex && !lock.owned) return -1;
    int alive = 0;
    for (int slot = 0; slot < kMaxProcesses; ++slot) {
        uint32_t pid = SharedLoad(d->dwProcessIds[slot]);
        if (!pid) continue;
        if (ProcessStillRuns(pid)) {
            ++alive;
        } else {
            // Gone without a detach (killed): its slot is free again.
            SharedStore(d->dwProcessIds[slot], 0);
            ForgetPnPEvent(d, slot);
        }
    }
    SharedStore(d->nAttachedProcess, (uint32_t)alive);
    if (alive == 1) {
        SharedStore(d->bQuit, 1);
        plat::PostQuitMessage(0);
    }
    return alive;
}

}  // namespace tav

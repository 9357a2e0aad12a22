#include "pnp/pnp.h"

namespace tav {
namespace {

// The number of entries, never past the end of the list even if damaged.
uint32_t Entries(const SharedData* d) {
    uint32_t n = SharedLoad(d->nClients);
    return n > (uint32_t)kMaxClients ? (uint32_t)kMaxClients : n;
}

}  // namespace

bool ClientListContains(const SharedData* d, uint32_t window) {
    uint32_t n = Entries(d);
    for (uint32_t i = 0; i < n; ++i)
        if (SharedLoad(d->hClients[i]) == window) return true;
    return false;
}

void ClientListAdd(SharedData* d, uint32_t window) {
    if (!window || ClientListContains(d, window)) return;
    uint32_t n = SharedLoad(d->nClients);
    if (n >= (uint32_t)kMaxClients) return;
    SharedStore(d->hClients[n], window);
    SharedStore(d->nClients, n + 1);
}

void ClientListRemove(SharedData* d, uint32_t window) {
    if (!window) return;
    uint32_t n = Entries(d);
    for (uint32_t i = 0; i < n; ++i) {
        if (SharedLoad(d->hClients[i]) != window) continue;
        for (uint32_t j = i; j + 1 < n; ++j)
            SharedStore(d->hClients[j], SharedLoad(d->hClients[j + 1]));
        SharedStore(d->hClients[n - 1], 0);
        SharedStore(d->nClients, n - 1);
        return;
    }
}

}  // namespace tav

#include "pnp/pnp.h"

namespace tav {

void ClientListAdd(SharedData* d, uint32_t window) {
    if (!window) return;
    uint32_t n = SharedLoad(d->nClients);
    if (n > (uint32_t)kMaxClients) n = kMaxClients;  // a damaged count never indexes past the list
    for (uint32_t i = 0; i < n; ++i)
        if (SharedLoad(d->hClients[i]) == window) return;
    if (n >= (uint32_t)kMaxClients) return;
    SharedStore(d->hClients[n], window);
    SharedStore(d->nClients, n + 1);
}

void ClientListRemove(SharedData* d, uint32_t window) {
    if (!window) return;
    uint32_t n = SharedLoad(d->nClients);
    if (n > (uint32_t)kMaxClients) n = kMaxClients;
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

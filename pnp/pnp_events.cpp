// The monitor's side of the client functions: one named auto-reset event per
// process that registered a function, created by the monitor when that
// process's notification thread asks for it (WM_REGISTER_CALLBACK) and kept in
// the process's slot of hPnPEvents. The handles are the monitor's own.
#include <stdio.h>

#include "core/trace.h"
#include "pnp/pnp.h"

namespace tav {

void PnPEventName(uint32_t pid, char (&name)[kPnPEventNameBytes]) {
    snprintf(name, sizeof name, "PNPFunctionUSBEvent_Process-%u_", (unsigned)pid);
}

void ForgetPnPEvent(SharedData* d, int slot) {
    uint32_t event = SharedLoad(d->hPnPEvents[slot]);
    SharedStore(d->hPnPEvents[slot], 0);
    if (event) plat::CloseHandle(plat::FieldToHandle(event));
}

void InternalRegisterCallBack(SharedData* d, uint32_t pid) {
    Trace("Enter InternalRegisterCallBack \r\n");
    for (int slot = 0; slot < kMaxProcesses; ++slot) {
        if (!pid || SharedLoad(d->dwProcessIds[slot]) != pid) continue;
        char name[kPnPEventNameBytes];
        PnPEventName(pid, name);
        Trace("InternalRegisterCallBack: szEventName = %s\n", name);
        // A process that registers again (after stopping its thread) gets its
        // event anew; the slot's earlier handle, maybe of a process that is
        // gone, is closed first.
        ForgetPnPEvent(d, slot);
        HANDLE event = plat::CreateEventA(nullptr, FALSE, FALSE, name);
        SharedStore(d->hPnPEvents[slot], plat::HandleToField(event));
        if (!event) {
            Trace("InternalRegisterCallBack:CreateEvent failed\n");
            continue;
        }
        plat::ResetEvent(event);
    }
}

}  // namespace tav

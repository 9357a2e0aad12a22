// The monitor's presence poll and the fan-out of its news.
//
// On every device-change broadcast the monitor lets the system settle for
// 500 ms, enumerates the cameras into its own path table and asks each of the
// eight device indexes for register 1 of the camera controller (I2C address
// 122); a camera that answers is present. Each camera whose presence changed
// is marked (bPresence, and bChanged so that the next initialisation in any
// process reads its saved settings again) and every client is told at once,
// so one poll notifies once per changed camera, in index order.
#include "core/trace.h"
#include "device/device.h"
#include "pnp/pnp.h"
#include "tavcam.h"

namespace tav {

void NotifyClients(SharedData* d) {
    // The windows are taken from a copy of the list: while a send waits, the
    // monitor answers registrations, which change the list. A window
    // deregistered meanwhile is skipped.
    uint32_t windows[kMaxClients];
    uint32_t n = SharedLoad(d->nClients);
    if (n > (uint32_t)kMaxClients) n = kMaxClients;
    for (uint32_t i = 0; i < n; ++i) windows[i] = SharedLoad(d->hClients[i]);
    for (uint32_t i = 0; i < n; ++i) {
        if (!ClientListContains(d, windows[i])) continue;
        Trace("Notify Device Change to hWND = %d \r\n", (int)windows[i]);
        // A window whose process died fails at once; one whose thread does
        // not answer holds the monitor for kClientSendWaitMs at most.
        DWORD_PTR answer = 0;
        plat::SendMessageTimeoutA(plat::FieldToWindow(windows[i]), WM_CAMERA_CHANGE, 0, 0,
                                  SMTO_NORMAL | SMTO_ABORTIFHUNG, kClientSendWaitMs, &answer);
    }
    for (int slot = 0; slot < kMaxProcesses; ++slot) {
        uint32_t event = SharedLoad(d->hPnPEvents[slot]);
        if (!event) continue;
        Trace("NotifyClients set PnP Event, Process = %d\r\n",
              (int)SharedLoad(d->dwProcessIds[slot]));
        plat::SetEvent(plat::FieldToHandle(event));
    }
}

void PresencePoll(SharedData* d) {
    Trace("DBT_DEVNODES_CHANGED\r\n");
    plat::Sleep(kSettlePauseMs);
    EnumerateCameras();
    for (int i = 0; i < kMaxCameras; ++i) {
        uint8_t high = 0, low = 0;  // the answer's bytes are not used
        if (ReceiveI2C(i, kProbeI2CAddress, kProbeRegister, &high, &low)) {
            Trace("USB Camera has arrived \r\n");
            if (SharedLoad(d->bPresence[i]) == 1) continue;
            SharedStore(d->bChanged[i], 1);
            SharedStore(d->bPresence[i], 1);
        } else {
            Trace("USB Camera has switched off \r\n");
            Trace("SharedData->bPresence[%d] = %d \r\n", i, (int)SharedLoad(d->bPresence[i]));
            if (SharedLoad(d->bPresence[i]) != 1) continue;
            SharedStore(d->bChanged[i], 1);
            SharedStore(d->bPresence[i], 0);
        }
        Trace("Notify Device Change \r\n");
        NotifyClients(d);
    }
}

}  // namespace tav

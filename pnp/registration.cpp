// Client windows: USBRegisterClient and USBDeRegisterClient, and the waits
// and sends of a client towards the monitor window.
//
// Decisions taken for the user's safety (documented in tavcam.h): the wait for
// the monitor window is bounded (kMonitorWindowWaitMs) and a registration
// fails with 0 when the monitor window never appears or can't be reached;
// every send to the monitor waits for its answer at most kMonitorSendWaitMs
// (the monitor may be busy with a presence poll, which takes a second or two).
#include "core/attach.h"
#include "core/trace.h"
#include "pnp/pnp.h"
#include "tavcam.h"

namespace tav {

HWND WaitForMonitorWindow(DWORD pollMs) {
    SharedData* d = Shared();
    if (!d) return nullptr;
    const DWORD start = plat::GetTickCount();
    for (;;) {
        uint32_t window = SharedLoad(d->g_hWnd);
        if (window) return plat::FieldToWindow(window);
        if (plat::GetTickCount() - start >= kMonitorWindowWaitMs) return nullptr;
        plat::RealSleep(pollMs);
    }
}

bool SendToMonitor(HWND monitor, UINT message, LPARAM lParam) {
    DWORD_PTR answer = 0;
    if (plat::SendMessageTimeoutA(monitor, message, 0, lParam, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                                  kMonitorSendWaitMs, &answer))
        return true;
    return plat::GetLastError() == ERROR_TIMEOUT;
}

}  // namespace tav

using namespace tav;

extern "C" {

TAVCAM_API int32_t WINAPI USBRegisterClient(HWND hWnd) {
    if (!LibraryUsable()) return 0;
    HWND monitor = WaitForMonitorWindow(100);
    if (!monitor) return 0;
    if (!hWnd) return 1;
    Trace("Send  WM_REGISTER_CLIENT about hWnd=0x%x\r\n", (unsigned)plat::WindowToField(hWnd));
    return SendToMonitor(monitor, WM_REGISTER_CLIENT, (LPARAM)hWnd) ? 1 : 0;
}

TAVCAM_API int32_t WINAPI USBDeRegisterClient(HWND hWnd) {
    if (!LibraryUsable()) return 0;
    SharedData* d = Shared();
    // At once, without waiting for the monitor window: none yet, nothing sent.
    HWND monitor = d ? plat::FieldToWindow(SharedLoad(d->g_hWnd)) : nullptr;
    if (monitor) SendToMonitor(monitor, WM_DEREGISTER_CLIENT, (LPARAM)hWnd);
    return 1;
}

}  // extern "C"

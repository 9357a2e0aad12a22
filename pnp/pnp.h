// Plug-and-play coordination: the device monitor and client notification.
#pragma once

#include <stdint.h>

#include "core/shared_data.h"
#include "platform/platform.h"

namespace tav {

constexpr const char* kMonitorClassName = "TAVCAM_Class";
constexpr const char* kMonitorWindowTitle = "TAVCAM DLL";
constexpr UINT_PTR kMonitorTimerId = 1;
constexpr UINT kMonitorTimerPeriodMs = 1000;

// The system's time to settle before a presence poll looks at the cameras.
constexpr DWORD kSettlePauseMs = 500;
// The register the presence poll reads from each camera's controller.
constexpr uint32_t kProbeRegister = 1;

// How long a client waits for the monitor window to appear before a
// registration fails (checking every 100 ms for windows, every 1000 ms for
// functions).
constexpr DWORD kMonitorWindowWaitMs = 10000;
// How long a send to the monitor window (a registration) or from the monitor
// to a client window (WM_CAMERA_CHANGE) waits for the answer. When it runs
// out the sender goes on; the window still handles the message later.
constexpr UINT kMonitorSendWaitMs = 10000;
constexpr UINT kClientSendWaitMs = 5000;
// How long stopping the notification thread waits for it to end (it may be
// running the client function).
constexpr DWORD kThreadStopWaitMs = 5000;
// USBRegisterPNPFunction returns once the new notification thread has had
// its event made by the monitor (or failed to), at most after this long: a
// camera change right after the registration returns is then reported.
constexpr DWORD kRegisterReadyWaitMs = 5000;
// The notification thread's wait for its event, in slices between which it
// looks at the stop request.
constexpr DWORD kNotificationWaitSliceMs = 1000;

// True in the device monitor process, once DLL_Thread has been entered.
bool IsMonitorProcess();

// The monitor window's procedure.
LRESULT CALLBACK MonitorWindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

// The client list of SharedData, changed only on the monitor's thread.
// Add: a null window, one already listed, or a full list are ignored.
void ClientListAdd(SharedData* d, uint32_t window);
// Remove: a null or unlisted window is ignored; later entries move down.
void ClientListRemove(SharedData* d, uint32_t window);
bool ClientListContains(const SharedData* d, uint32_t window);

// The monitor's timer tick, under the attach lock: frees the slots of
// processes that are gone (and closes their plug-and-play events), sets the
// attach count to the live slots and, when only one process is alive (the
// monitor itself), sets bQuit and ends the loop. Returns the number of live
// slots, or -1 when the attach lock was busy (the next tick decides).
int LivenessCheck(SharedData* d);

// The presence poll on DBT_DEVNODES_CHANGED: settles, enumerates, probes the
// eight device indexes in order and notifies the clients once per camera
// whose presence changed.
void PresencePoll(SharedData* d);

// Monitor side: sends WM_CAMERA_CHANGE to every registered client window, in
// list order, then signals every plug-and-play event, in slot order.
void NotifyClients(SharedData* d);

// Monitor side: creates the plug-and-play event of process `pid` in each slot
// holding that id (replacing an earlier one of the slot).
void InternalRegisterCallBack(SharedData* d, uint32_t pid);
// Monitor side: closes the plug-and-play event of a slot, if any.
void ForgetPnPEvent(SharedData* d, int slot);

// The name of a process's plug-and-play event:
// "PNPFunctionUSBEvent_Process-<id>_".
constexpr size_t kPnPEventNameBytes = 64;
void PnPEventName(uint32_t pid, char (&name)[kPnPEventNameBytes]);

// Client side: the monitor window, waiting for it (bounded by
// kMonitorWindowWaitMs, checking every pollMs); null when it never appeared.
HWND WaitForMonitorWindow(DWORD pollMs);
// A bounded send to the monitor window: true when it was answered or is still
// to be handled (its time ran out), false when it could not be delivered.
bool SendToMonitor(HWND monitor, UINT message, LPARAM lParam);

// Stops this process's plug-and-play notification thread, if it has one, and
// frees its context. mayWait: wait (bounded) for the thread to end; the
// detach under the loader lock passes false, and never waits on anything.
void StopNotificationThread(bool mayWait);

}  // namespace tav

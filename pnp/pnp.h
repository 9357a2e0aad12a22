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

// True in the device monitor process, once DLL_Thread has been entered.
bool IsMonitorProcess();

// The monitor window's procedure.
LRESULT CALLBACK MonitorWindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

// The client list of SharedData, changed only on the monitor's thread.
// Add: a null window, one already listed, or a full list are ignored.
void ClientListAdd(SharedData* d, uint32_t window);
// Remove: a null or unlisted window is ignored; later entries move down.
void ClientListRemove(SharedData* d, uint32_t window);

// The monitor's timer tick: counts the attach slots whose process still runs;
// when only one does (the monitor itself), sets bQuit and ends the loop.
// Returns the number of live slots.
int LivenessCheck(SharedData* d);

// Stops this process's plug-and-play notification thread, if it has one,
// without waiting on anything the ending thread needs.
void StopNotificationThread();

}  // namespace tav

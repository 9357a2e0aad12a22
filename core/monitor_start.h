// Starting the device monitor process, and closing its process handles.
#pragma once

#include "core/shared_data.h"
#include "platform/platform.h"

namespace tav {

// Starts the monitor: the system's DLL host running the library's DLL_Thread
// entry, detached, with the caller's environment and current directory. The
// process information goes to piMonitor; a failure is traced and the library
// goes on without plug-and-play watching.
void StartMonitorProcess(SharedData* d, HMODULE module);

// Closes the thread handle, then the process handle, of piMonitor (nonzero
// ones), and clears them.
void ClosePiMonitorHandles(SharedData* d);

}  // namespace tav

// The library's life in a process: process attach and detach, the shared
// block, and whether the library may be used at all in this process.
#pragma once

#include <stdint.h>

#include "core/shared_data.h"
#include "platform/platform.h"

namespace tav {

// Process attach: maps SharedData (creating it and starting the device monitor
// when this is the first process), creates this process's reader events and
// takes an attach slot. False when four processes are attached already: on
// Windows the load then fails; on POSIX the library stays loaded but inert.
bool ProcessAttach(HMODULE module);

// Process detach: stops the notification thread, gives up the slot, ends the
// monitor with the last client, closes what the last process must close.
// underLoaderLock: the detach runs inside the system loader's lock (Windows
// DllMain), where it must not wait for any thread of the process to end.
void ProcessDetach(bool underLoaderLock);

// False only in a process whose attach was refused (a fifth process). Every
// export starts with this test and returns its failure result when it fails.
bool LibraryUsable();

// This process's event for "the reader of camera i has ended". The handles in
// SharedData.hReaderEvent are valid only in the process that created them, so
// every process creates eight events of its own at attach and the library uses
// these; SharedData keeps the creating process's values, as its layout says.
HANDLE ReaderEvent(int camera);
void SetReaderEvent(int camera, HANDLE event);

// This process's id, taken at attach.
uint32_t OwnProcessId();

// The library's module in this process (the instance of the monitor's windows).
HMODULE OwnModule();

// Unit tests of the camera logic run without attaching: this gives the process
// a private, freshly initialised SharedData (no mapping, no monitor) so the
// logic's reads and writes of bPresence and bChanged have somewhere to go.
void UsePrivateSharedData();

}  // namespace tav

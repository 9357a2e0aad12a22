// The four process slots of SharedData (dwProcessIds): which processes have
// the library attached. Read and changed under the attach lock.
//
// A slot is free when it holds 0 or the id of a process that no longer runs
// (it was killed, or left without a detach). A process attaching takes a
// free slot and never the slot of a live process; only live processes count
// against the limit of four; a detaching process frees its own slot; the
// monitor's timer frees the slots of processes that are gone. So the count of
// attached processes is the count of live slots, and a process that died
// keeps nothing alive and ends nothing early.
#pragma once

#include <stdint.h>

#include "core/shared_data.h"

namespace tav {

// True while the process with this id runs (a process that ended, even one
// not yet reaped by its parent, does not).
bool ProcessStillRuns(uint32_t pid);

// The number of slots holding a running process other than `self`; the id
// of one of those processes in *someone (0 if none).
int LiveSlots(const SharedData* d, uint32_t self, uint32_t* someone = nullptr);

// The slot for `self` to take: the first that is free (0, a process that is
// gone, or `self`'s own id left over from an earlier process with that id);
// -1 when four running processes hold them all.
int FreeSlot(const SharedData* d, uint32_t self);

}  // namespace tav

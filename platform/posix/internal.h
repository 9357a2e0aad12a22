// Pieces shared by the files of the POSIX stand-in: named shared objects,
// futex waits, process liveness and the clock of the waits.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <pthread.h>
#include <sys/types.h>

#include <atomic>

#include "winapi.h"

namespace plat::posix {

// ---- Named shared objects ---------------------------------------------------------
//
// A named object (mapping, event, mutex, window registry) is a POSIX shared
// memory object "/tavcam-UID-KIND-NAME": a 4096-byte header, then the user
// area. The header lists the processes holding the object (pid, start time,
// number of local holders). The object lives while one of them is alive: the
// last one to let go unlinks it, and a process that opens an object whose
// holders all died (killed, say) treats it as gone and creates it anew. So a
// named object disappears with its last holder, as on Windows.
//
// Creation race: the creator makes the object with O_EXCL and publishes the
// header's ready mark only after the header and the user area are
// initialised; an opener waits for that mark (at most 2 s, then it takes the
// object for the remains of a creator that died half-way and replaces it).
struct SharedObject;

constexpr size_t kSharedHeaderSize = 4096;

// Runs in the creating process before anyone else can use the object.
typedef void (*SharedInit)(void* user, void* context);

// Opens (create true: creates when missing) the object KIND/NAME with a user
// area of size bytes. *existed tells whether it existed. On failure returns
// null with the last error set (ERROR_FILE_NOT_FOUND when create is false
// and there is no such object).
SharedObject* SharedOpen(const char* kind, const char* name, size_t size, bool create,
                         SharedInit init, void* context, bool* existed);
// Local references: the handle and each view hold one; the last Release lets
// go of the object for this process.
void SharedAddRef(SharedObject* object);
void SharedRelease(SharedObject* object);
void* SharedUser(SharedObject* object);
// At process exit this process stops holding every object (each is unlinked
// when nobody else holds it); the memory stays mapped for threads still
// running. True once that has happened.
bool SharedExiting();
size_t SharedSize(SharedObject* object);
int SharedFd(SharedObject* object);
// The full path of the object in /dev/shm-style naming, for tests.
bool SharedExists(const char* kind, const char* name);

// Locks a process-shared robust mutex; recovers it when its owner died.
// Returns true when the previous owner died holding it.
bool RobustLock(pthread_mutex_t* mutex);
void RobustInit(pthread_mutex_t* mutex, bool recursive);

// ---- Waits ----------------------------------------------------------------------------

// Monotonic milliseconds.
uint64_t MonotonicMs();

// Waits while *word == expected, at most ms milliseconds (INFINITE: no
// limit); spurious returns are possible. Works across processes when the
// word is in shared memory.
void FutexWait(std::atomic<uint32_t>* word, uint32_t expected, DWORD ms);
void FutexWakeAll(std::atomic<uint32_t>* word);

// ---- Events (used by threads and processes for their "ended" state) ----------------

struct EventState {
    std::atomic<uint32_t> signaled;
    uint32_t manual;
};
void EventStateSet(EventState* state);
// WAIT_OBJECT_0 or WAIT_TIMEOUT.
DWORD EventStateWait(EventState* state, DWORD ms);

// ---- Processes ------------------------------------------------------------------------

// Start time of a process (clock ticks since boot, from /proc/PID/stat), 0
// when it doesn't exist or is a zombie (it has exited, only not been reaped).
uint64_t ProcessStartTime(pid_t pid);
// True while pid runs and (when start is nonzero) is the process that had that
// start time, not a later one that reuses the id.
bool ProcessAlive(pid_t pid, uint64_t start);

// ---- Memory --------------------------------------------------------------------------

// The two readings of the memory map behind the pointer tests: per mapping
// from the kernel (1: [begin, end) allowed, 0: not, -1: the kernel does not
// answer that request) and from the map's text. `need` is 'r' or 'w'.
int RangeAllowedByQuery(uintptr_t begin, uintptr_t end, char need);
bool RangeAllowedByText(uintptr_t begin, uintptr_t end, char need);

// Object-specific waits, called by WaitForSingleObject.
DWORD MutexWait(void* object, DWORD ms);
DWORD ThreadWait(void* object, DWORD ms);
DWORD ProcessWait(void* object, DWORD ms);
DWORD EventWait(void* object, DWORD ms);

}  // namespace plat::posix

// The process-wide handle table of the POSIX stand-in.
//
// A handle is a small integer (a multiple of 4, as on Windows, never 0 and
// never INVALID_HANDLE_VALUE) that fits in 32 bits, so the shared block can
// keep handles in 32-bit fields. Each entry holds one object of a known kind
// and the function that releases it. Lookups take a reference, so an object
// stays alive while another thread is inside a call on it even if its handle
// is closed meanwhile; the object is released when the last reference goes.
#pragma once

#include <stdint.h>

#include "winapi.h"

namespace plat::posix {

enum class ObjectKind : uint8_t {
    Event,
    Mutex,
    Thread,
    Process,
    Mapping,
    File,
    DevInfo,
};

// Releases the object when its handle is closed and no call still uses it.
typedef void (*ObjectRelease)(void* object);

// Puts an object into the table; returns its handle, or null (last error
// ERROR_NOT_ENOUGH_MEMORY) when the table is full.
HANDLE HandleInsert(ObjectKind kind, void* object, ObjectRelease release);

// The object behind a handle of the given kind, with a reference taken; null
// (last error ERROR_INVALID_HANDLE) when the handle is not open or of another
// kind. Every successful HandleAcquire is paired with HandleRelease.
void* HandleAcquire(HANDLE h, ObjectKind kind);
// Any kind: also reports the kind.
void* HandleAcquireAny(HANDLE h, ObjectKind* kind);
void HandleRelease(HANDLE h);

// Closes the handle: the entry is freed and the object released once its last
// reference is gone. False (ERROR_INVALID_HANDLE) for a handle that isn't open.
bool HandleClose(HANDLE h);

// Number of open handles (tests check for leaks).
int HandleCount();

}  // namespace plat::posix

// The lock that serialises attach and detach across processes: the named
// mutex "TavcamAPIAttachMutex" (the shared block itself has no lock). Every
// change of the attach count and the process slots, and the monitor's
// decision that it is alone, is made while holding it.
#pragma once

#include "platform/platform.h"

namespace tav {

// How long an attach or detach waits for the lock. A mutex left by a process
// that died while holding it is taken over (the system releases it as
// abandoned); should the bound pass, the caller goes on unserialised rather
// than hang the process's loader.
constexpr DWORD kAttachLockWaitMs = 10000;

// Holds the lock for one scope; `owned` tells whether it was obtained within
// the bound.
struct AttachLock {
    explicit AttachLock(DWORD waitMs = kAttachLockWaitMs);
    ~AttachLock();
    AttachLock(const AttachLock&) = delete;
    AttachLock& operator=(const AttachLock&) = delete;
    HANDLE mutex = nullptr;
    bool owned = false;
};

}  // namespace tav

#include "core/attach_lock.h"

#include "core/trace.h"

namespace tav {
namespace {

constexpr const char* kAttachMutexName = "TavcamAPIAttachMutex";

}  // namespace

AttachLock::AttachLock(DWORD waitMs) {
    mutex = plat::CreateMutexA(nullptr, FALSE, kAttachMutexName);
    if (!mutex) return;
    DWORD r = plat::WaitForSingleObject(mutex, waitMs);
    owned = (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED);
    if (!owned) Trace("DLLMain: attach lock not taken (%lu)\r\n", (unsigned long)r);
}

AttachLock::~AttachLock() {
    if (owned) plat::ReleaseMutex(mutex);
    if (mutex) plat::CloseHandle(mutex);
}

}  // namespace tav

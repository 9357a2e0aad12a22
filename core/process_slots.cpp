#include "core/process_slots.h"

#include "platform/platform.h"

namespace tav {

bool ProcessStillRuns(uint32_t pid) {
    if (!pid) return false;
    HANDLE process = plat::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
    if (!process) return false;
    DWORD code = 0;
    bool runs = plat::GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    plat::CloseHandle(process);
    return runs;
}

int LiveSlots(const SharedData* d, uint32_t self, uint32_t* someone) {
    int live = 0;
    if (someone) *someone = 0;
    for (int slot = 0; slot < kMaxProcesses; ++slot) {
        uint32_t pid = SharedLoad(d->dwProcessIds[slot]);
        if (!pid || pid == self || !ProcessStillRuns(pid)) continue;
        ++live;
        if (someone) *someone = pid;
    }
    return live;
}

int FreeSlot(const SharedData* d, uint32_t self) {
    for (int slot = 0; slot < kMaxProcesses; ++slot) {
        uint32_t pid = SharedLoad(d->dwProcessIds[slot]);
        if (!pid || pid == self || !ProcessStillRuns(pid)) return slot;
    }
    return -1;
}

}  // namespace tav

#include "core/trace.h"
#include "pnp/pnp.h"

namespace tav {

int LivenessCheck(SharedData* d) {
    int alive = 0;
    for (int slot = 0; slot < kMaxProcesses; ++slot) {
        DWORD pid = SharedLoad(d->dwProcessIds[slot]);
        if (!pid) continue;
        HANDLE process = plat::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
        if (!process) continue;
        DWORD code = 0;
        if (plat::GetExitCodeProcess(process, &code) && code == STILL_ACTIVE) ++alive;
        plat::CloseHandle(process);
    }
    if (alive == 1) {
        SharedStore(d->bQuit, 1);
        plat::PostQuitMessage(0);
    }
    return alive;
}

}  // namespace tav

// tavcam status: the cameras the library sees, and the state of the shared
// block that all processes using the library map.
#include <stdio.h>
#include <string.h>

#include "core/shared_data.h"
#include "tavcam.h"
#include "tools/tavcam/commands.h"
#include "tools/tavcam/shared_block.h"

namespace {

void PrintWords(const char* label, const uint32_t* v, int n) {
    printf("  %-18s", label);
    for (int i = 0; i < n; ++i) printf(" %u", v[i]);
    printf("\n");
}

}  // namespace

int CmdStatus(int argc, char** argv) {
    CmdList(argc, argv);

    static tav::SharedData d;
    if (!CopySharedBlock(&d)) {
        printf("shared block: not available in this process\n");
        return 1;
    }
    printf("shared block:\n");
    printf("  %-18s %u\n", "attached processes", d.nAttachedProcess);
    PrintWords("process ids", d.dwProcessIds, tav::kMaxProcesses);
    printf("  %-18s pid %u, window 0x%x, timer %u%s\n", "monitor", d.piMonitor[2], d.g_hWnd,
           d.uTimerId, d.bQuit ? ", quitting" : "");
    PrintWords("present", d.bPresence, tav::kMaxCameras);
    PrintWords("changed", d.bChanged, tav::kMaxCameras);
    uint32_t clients = d.nClients > (uint32_t)tav::kMaxClients ? tav::kMaxClients : d.nClients;
    printf("  %-18s %u\n", "client windows", clients);
    return 0;
}

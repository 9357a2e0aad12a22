// tavcam-test-client: a client process of the library for the process tests.
//
// It loads libtavcam like any application (so its attach and detach run) and
// answers commands read line by line from standard input, one line each:
//   state               the shared block as this process sees it
//   usable              1 when the library works in this process, 0 when inert
//   send MSG LPARAM     SendMessageA(monitor window, MSG, 0, LPARAM); the result
//   exit                leaves main normally (the library's detach runs)
// Started with --exit-at-once it leaves at once instead.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "core/shared_data.h"
#include "tavcam.h"

namespace {

std::string Join(const uint32_t* v, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += (i ? "," : "") + std::to_string(v[i]);
    return s;
}

void PrintState() {
    tav::SharedData d;
    if (!TavcamCopySharedData(&d, sizeof d)) {
        printf("nostate\n");
        return;
    }
    printf(
        "count=%u hwnd=%u edit=%u quit=%u timer=%u monitor=%u presence=%s changed=%s pids=%s "
        "clients=%s\n",
        d.nAttachedProcess, d.g_hWnd, d.hEditWnd, d.bQuit, d.uTimerId, d.piMonitor[2],
        Join(d.bPresence, 8).c_str(), Join(d.bChanged, 8).c_str(), Join(d.dwProcessIds, 4).c_str(),
        Join(d.hClients, d.nClients > 100 ? 100 : (int)d.nClients).c_str());
}

}  // namespace

int main(int argc, char** argv) {
    // --exit-at-once: leave as soon as the library has attached, before its
    // monitor has had time to come up.
    if (argc > 1 && !strcmp(argv[1], "--exit-at-once")) return 0;
    setvbuf(stdout, nullptr, _IOLBF, 0);
    char line[256];
    while (fgets(line, sizeof line, stdin)) {
        if (!strncmp(line, "state", 5)) {
            PrintState();
        } else if (!strncmp(line, "usable", 6)) {
            printf("%d\n", USBControlLink("Probe-0") == 1 ? 1 : 0);
        } else if (!strncmp(line, "send ", 5)) {
            unsigned msg = 0;
            long long lparam = 0;
            sscanf(line + 5, "%u %lld", &msg, &lparam);
            tav::SharedData d;
            HWND monitor = nullptr;
            if (TavcamCopySharedData(&d, sizeof d)) monitor = (HWND)(uintptr_t)d.g_hWnd;
            printf("%ld\n", (long)SendMessageA(monitor, msg, 0, (LPARAM)lparam));
        } else if (!strncmp(line, "exit", 4)) {
            return 0;
        } else {
            printf("?\n");
        }
    }
    return 0;
}

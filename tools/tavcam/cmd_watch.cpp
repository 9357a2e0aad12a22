// tavcam watch: prints each camera's arrival and departure as the device
// monitor reports it, with the camera's name and index, until interrupted.
//
// It registers a plug-and-play function. The monitor has it called (on the
// library's notification thread) once for each camera whose presence
// changed; the function compares the presence flags of the shared block with
// those it saw last and prints the difference. Notices that come while the
// function runs are merged into that call (the event is reset after it), so
// a second camera arriving in the same poll may bring no call of its own:
// the main thread therefore also compares the flags once a second. Names
// come from the camera list, read again when a camera has arrived; a camera
// that leaves is named as it was when it arrived.
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include "tavcam.h"
#include "tools/tavcam/cli_support.h"
#include "tools/tavcam/commands.h"
#include "tools/tavcam/shared_block.h"

namespace {

std::atomic<bool> g_interrupted{false};
std::mutex g_lock;                        // the function may run while main starts up
uint32_t g_present[TAVCAM_MAX_CAMERAS];   // as last seen
std::string g_names[TAVCAM_MAX_CAMERAS];  // name of each index when it arrived

void OnInterrupt(int) {
    g_interrupted.store(true);
}

std::string Clock() {
    time_t now = time(nullptr);
    char text[16] = "";
#if defined(_WIN32)
    const struct tm* local = localtime(&now);  // the C library's per-thread result
#else
    struct tm storage;
    const struct tm* local = localtime_r(&now, &storage);
#endif
    if (local) strftime(text, sizeof text, "%H:%M:%S", local);
    return text;
}

// Prints what changed since the last look; with g_lock held.
void ReportChanges() {
    tav::SharedData d;
    if (!CopySharedBlock(&d)) return;
    bool arrived = false;
    for (int i = 0; i < TAVCAM_MAX_CAMERAS; ++i) arrived |= d.bPresence[i] && !g_present[i];
    std::string names[TAVCAM_MAX_CAMERAS];
    // Reading the names takes a while (each camera's record): the flags are
    // looked at again after it, to report what the monitor found meanwhile.
    if (arrived) {
        CameraNamesByIndex(names);
        if (!CopySharedBlock(&d)) return;
    }
    for (int i = 0; i < TAVCAM_MAX_CAMERAS; ++i) {
        uint32_t present = d.bPresence[i] ? 1 : 0;
        if (present == g_present[i]) continue;
        g_present[i] = present;
        if (present) {
            g_names[i] = names[i].empty() ? "camera" : names[i];
            printf("%s arrived: %s (index %d)\n", Clock().c_str(), g_names[i].c_str(), i);
        } else {
            printf("%s left: %s (index %d)\n", Clock().c_str(),
                   g_names[i].empty() ? "camera" : g_names[i].c_str(), i);
        }
    }
    fflush(stdout);
}

void WINAPI OnDeviceChange(uint32_t* code, uint32_t, uint32_t, uintptr_t) {
    if (!code || *code != PNP_CODE_DEVICE_CHANGE) return;
    std::lock_guard<std::mutex> guard(g_lock);
    ReportChanges();
}

}  // namespace

int CmdWatch(int, char**) {
    signal(SIGINT, OnInterrupt);
    signal(SIGTERM, OnInterrupt);
    {
        std::lock_guard<std::mutex> guard(g_lock);
        // Listing the cameras also marks those present in the shared block.
        std::string names[TAVCAM_MAX_CAMERAS];
        CameraNamesByIndex(names);
        tav::SharedData d;
        bool block = CopySharedBlock(&d);
        printf("watching cameras arrive and leave (Ctrl-C ends)\n");
        for (int i = 0; i < TAVCAM_MAX_CAMERAS; ++i) {
            if (names[i].empty()) continue;
            g_names[i] = names[i];
            g_present[i] = block ? (d.bPresence[i] ? 1 : 0) : 1;
            printf("%s present: %s (index %d)\n", Clock().c_str(), names[i].c_str(), i);
        }
        fflush(stdout);
    }
    if (!USBRegisterPNPFunction(OnDeviceChange, 0)) {
        fprintf(stderr, "tavcam: the device monitor does not answer\n");
        return 1;
    }
    for (int tick = 1; !g_interrupted.load(); ++tick) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (tick % 10) continue;
        std::lock_guard<std::mutex> guard(g_lock);
        ReportChanges();
    }
    PNPFunctionThreadStop();
    printf("%s stopped watching\n", Clock().c_str());
    return 0;
}

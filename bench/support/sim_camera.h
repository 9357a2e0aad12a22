// One simulated camera served in the benchmark's own process, on a virtual
// clock of the caller's, found by the library's enumeration.
#pragma once

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "core/attach.h"
#include "device/device.h"
#include "platform/platform.h"
#include "sim/sim.h"

namespace bench_support {

// Enumerates with standard output silenced: the enumeration prints a line
// per camera, which would land in the middle of the report.
inline int QuietEnumerate() {
    fflush(stdout);
    int saved = dup(STDOUT_FILENO);
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, STDOUT_FILENO);
    int count = tav::EnumerateCameras();
    fflush(stdout);
    if (saved >= 0) dup2(saved, STDOUT_FILENO);
    if (null >= 0) close(null);
    if (saved >= 0) close(saved);
    return count;
}

struct SimCamera {
    SimCamera(sim::Model model, const char* name, plat::SleepHook onPause) {
        char pattern[] = "/tmp/tavcam-bench-XXXXXX";
        const char* made = mkdtemp(pattern);
        dir = made ? made : "";
        setenv("TAVCAM_DEVICE_DIR", dir.c_str(), 1);
        tav::UsePrivateSharedData();
        server = sim::Start(dir);
        if (server) sim::Plug(server, sim::MakeProfile(model, name, "cam0.sock"));
        plat::SetVirtualClock(onPause, nullptr);
        ready = server && QuietEnumerate() == 1;
    }
    ~SimCamera() {
        plat::SetVirtualClock(nullptr, nullptr);
        if (server) sim::Stop(server);
        std::error_code ignored;
        if (!dir.empty()) std::filesystem::remove_all(dir, ignored);
    }
    std::string dir;
    sim::Server* server = nullptr;
    bool ready = false;
};

}  // namespace bench_support

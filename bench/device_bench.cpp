// The device layer's own cost per request, on top of the protocol pauses.
//
// The pauses run on a virtual clock (they are recorded, not waited), and the
// camera is the simulator served in this process, so what is measured is the
// library's work for each request — building the block, opening the camera,
// the driver request over the camera socket, the reply fetch, closing — plus
// the simulator's answer. The requests per iteration are given as items, so
// the report shows the time per driver request too.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/attach.h"
#include "device/device.h"
#include "platform/platform.h"
#include "sim/sim.h"
#include "tavcam.h"

namespace {

void IgnorePause(DWORD, void*) {}

// Enumerates with standard output silenced: the enumeration prints a line
// per camera, which would land in the middle of the report.
int QuietEnumerate() {
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

// One simulator with one camera for the whole program.
struct Camera {
    Camera() {
        char pattern[] = "/tmp/tavcam-bench-XXXXXX";
        const char* made = mkdtemp(pattern);
        dir = made ? made : "";
        setenv("TAVCAM_DEVICE_DIR", dir.c_str(), 1);
        tav::UsePrivateSharedData();
        server = sim::Start(dir);
        if (server) sim::Plug(server, sim::MakeProfile(sim::Model::Busy, "Bench", "cam0.sock"));
        plat::SetVirtualClock(IgnorePause, nullptr);
        ready = server && QuietEnumerate() == 1;
    }
    ~Camera() {
        plat::SetVirtualClock(nullptr, nullptr);
        if (server) sim::Stop(server);
        std::error_code ignored;
        if (!dir.empty()) std::filesystem::remove_all(dir, ignored);
    }
    std::string dir;
    sim::Server* server = nullptr;
    bool ready = false;
};

Camera& TheCamera() {
    static Camera camera;
    return camera;
}

// Drains the simulator's request log now and then so it doesn't grow without end.
void DrainLog(benchmark::State& state) {
    if (state.iterations() % 512 == 0) sim::ClearLog(TheCamera().server, 0);
}

void BM_SendCommand(benchmark::State& state) {
    if (!TheCamera().ready) return state.SkipWithError("no simulated camera");
    for (auto _ : state) {
        benchmark::DoNotOptimize(SendCommand(0, tav::CMD_WRITE_REG, 0x800, 0x40, 0));
        DrainLog(state);
    }
    state.SetItemsProcessed(state.iterations());  // one driver request each
}
BENCHMARK(BM_SendCommand);

void BM_GetCameraStatus(benchmark::State& state) {
    if (!TheCamera().ready) return state.SkipWithError("no simulated camera");
    uint32_t status = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(GetCameraStatus(0, &status));
        DrainLog(state);
    }
    state.SetItemsProcessed(2 * state.iterations());  // request and reply fetch
}
BENCHMARK(BM_GetCameraStatus);

void BM_ReadCameraRecord(benchmark::State& state) {
    if (!TheCamera().ready) return state.SkipWithError("no simulated camera");
    std::vector<uint8_t> record(TAVCAM_RECORD_BYTES);
    for (auto _ : state) {
        benchmark::DoNotOptimize(ReadDataFromFlash(0, 0, TAVCAM_RECORD_BYTES, record.data()));
        sim::ClearLog(TheCamera().server, 0);
    }
    state.SetItemsProcessed(64 * state.iterations());  // 32 requests and 32 fetches
}
BENCHMARK(BM_ReadCameraRecord)->Unit(benchmark::kMillisecond);

void BM_WriteSaveData(benchmark::State& state) {
    if (!TheCamera().ready) return state.SkipWithError("no simulated camera");
    std::vector<uint8_t> data(202, 0x5A);
    for (auto _ : state) {
        benchmark::DoNotOptimize(WriteDataToFlash(0, 1, 202, data.data()));
        sim::ClearLog(TheCamera().server, 0);
    }
}
BENCHMARK(BM_WriteSaveData)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

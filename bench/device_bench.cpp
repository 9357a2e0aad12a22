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
#include "support/sim_camera.h"
#include "tavcam.h"

namespace {

void IgnorePause(DWORD, void*) {}

bench_support::SimCamera& TheCamera() {
    static bench_support::SimCamera camera(sim::Model::Busy, "Bench", IgnorePause);
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

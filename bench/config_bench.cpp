// The cost of USBInitDevice beyond the camera protocol.
//
// BM_InitUnchanged: a repeated initialisation of a camera this process knows
// and nobody changed. It must send nothing; the target is under 10 us.
//
// BM_InitFull: a full initialisation (both flash pages read, eighteen
// registers written). Its protocol pauses run on a virtual clock, so the wall
// time measured is the library's work and the camera socket round trips; the
// pauses it would have waited are reported as the counter pause_ms.
//
// The camera is the simulator served in this process.
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>

#include "config/device_table.h"
#include "core/attach.h"
#include "device/device.h"
#include "platform/platform.h"
#include "sim/sim.h"
#include "support/sim_camera.h"
#include "tavcam.h"

namespace {

std::atomic<uint64_t> g_pausedMs{0};
void RecordPause(DWORD ms, void*) {
    g_pausedMs += ms;
}

const char kName[] = "BenchCam-0";

bench_support::SimCamera& TheCamera() {
    static bench_support::SimCamera camera(sim::Model::LongLayout, "BenchCam", RecordPause);
    return camera;
}

void BM_InitUnchanged(benchmark::State& state) {
    bench_support::SimCamera& cam = TheCamera();
    if (!cam.ready || USBInitDevice(kName) != TAVCAM_INIT_OK) {
        state.SkipWithError("no simulated camera");
        return;
    }
    sim::ClearLog(cam.server, 0);
    for (auto _ : state) benchmark::DoNotOptimize(USBInitDevice(kName));
    state.counters["requests"] = (double)sim::Log(cam.server, 0).size();
}
BENCHMARK(BM_InitUnchanged);

void BM_InitFull(benchmark::State& state) {
    bench_support::SimCamera& cam = TheCamera();
    if (!cam.ready) {
        state.SkipWithError("no simulated camera");
        return;
    }
    uint64_t pauses = 0, requests = 0;
    for (auto _ : state) {
        // Forget the camera: the next call reads both pages again.
        tav::g_DeviceTable[0].Record.CameraName[0] = 0;
        uint64_t before = g_pausedMs;
        if (USBInitDevice(kName) != TAVCAM_INIT_OK) state.SkipWithError("initialisation failed");
        pauses += g_pausedMs - before;
        state.PauseTiming();
        requests += sim::Log(cam.server, 0).size();
        sim::ClearLog(cam.server, 0);
        state.ResumeTiming();
    }
    state.counters["pause_ms"] =
        benchmark::Counter((double)pauses, benchmark::Counter::kAvgIterations);
    state.counters["requests"] =
        benchmark::Counter((double)requests, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_InitFull)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

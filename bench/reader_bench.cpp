// Whether the live-video reader keeps up with the camera.
//
// The camera is the simulator, served in this process on threads of its own,
// streaming Bayer frames (8-bit mosaic, 24-bit pictures); the reader runs in
// callback mode, and the callback (on the reader thread) counts frames and
// reads the reader thread's own CPU clock. Each run reports:
//   fps            frames delivered per second of the run
//   lost           frames the camera's rate promised but the reader didn't deliver
//   user_us/frame  the reader thread's user CPU time per frame: the library's
//                  own work (checks, conversion, hand-over, notice)
//   sys_us/frame   its system time per frame: the kernel copying each transfer
//                  out of the camera socket, which the POSIX transport adds
//                  (a driver writes the transfer into the buffer itself)
//   convert_us     BayerToBGR24 alone on the same frame size, timed in this run
//                  (for a paced run, at the same pace: see PacedConvertMicroseconds)
//   user/convert   the reader's own time over the conversion's
//   cpu/convert    the reader's user and system time over the conversion's
// The split of a thread's time into user and system is sampled at the
// kernel's tick; their sum is exact. A paced reader runs well under a tick
// per frame, so there only the sum (cpu/convert) means much.
//   outside_ring   (direct mode) raw frames the caller was shown outside the
//                  buffer the read filled: 0 means no raw frame was copied
//
//   reader_bench [--seconds=S] [--soak-minutes=M] [Google Benchmark flags]
// --seconds sets the length of the paced run (default 30); the runs at the
// simulator's full speed last a third of it. --soak-minutes runs live video
// for M minutes instead and prints the resident size at its start and end.
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "acquisition/convert/convert.h"
#include "core/trace.h"
#include "config/device_table.h"
#include "support/sim_camera.h"
#include "tavcam.h"

namespace {

double g_seconds = 30;

void IgnorePause(DWORD, void*) {}

// The calling thread's CPU time so far: user (the library's own work) and
// system (the kernel's, the bulk read's copy out of the socket above all).
void ThreadCpuSeconds(double* user, double* system) {
    struct rusage u;
    getrusage(RUSAGE_THREAD, &u);
    *user = u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6;
    *system = u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6;
}

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A camera with one fixed Bayer format of width x height, plugged into a
// fresh simulator; the library's table initialised for it.
struct BayerCamera {
    BayerCamera(uint32_t width, uint32_t height, uint32_t fps)
        : sim(sim::Model::LongLayout, "Spare", IgnorePause) {
        sim::Profile p =
            sim::MakeFormatProfile(sim::Model::LongLayout, "Reader", "cam1.sock", 1, 8, 24, false);
        const bool sized = sim::SetImageSize(&p, width, height);
        p.framesPerSecond = fps;
        p.repeatImages = 8;  // rendered once, so the camera isn't what limits the rate
        // A fresh camera in a fresh table: nothing of an earlier run's camera stays.
        memset(tav::g_DeviceTable, 0, sizeof tav::g_DeviceTable);
        ok = sized && sim.ready && sim::Plug(sim.server, p) == 1 &&
             bench_support::QuietEnumerate() == 2 && USBInitDevice("Reader-1") == TAVCAM_INIT_OK;
    }
    bench_support::SimCamera sim;
    bool ok = false;
};

struct Run {
    std::atomic<uint32_t> frames{0};
    std::atomic<uint32_t> outsideRing{0};
    double userFirst = 0, userLast = 0, systemFirst = 0, systemLast = 0;
    double timeFirst = 0, timeLast = 0;
    uint32_t cpuFrames = 0;
    void** rawFrame = nullptr;
    LiveVideoParamEx* ring = nullptr;
    size_t transferBytes = 0;
};

void WINAPI OnFrame(const char*, uint32_t* code, uint32_t*, uint32_t, uintptr_t context) {
    Run* run = reinterpret_cast<Run*>(context);
    if (*code != LIVE_CB_FRAME) return;
    const uint32_t n = ++run->frames;
    // The reader's CPU clocks and the wall clock from the first frame to the last.
    double user = 0, system = 0;
    ThreadCpuSeconds(&user, &system);
    const double now = Now();
    if (n == 1) {
        run->userFirst = user;
        run->systemFirst = system;
        run->timeFirst = now;
    }
    run->userLast = user;
    run->systemLast = system;
    run->timeLast = now;
    run->cpuFrames = n;
    if (run->ring) {
        // The raw frame shown to the caller must lie in the buffer named as
        // holding it: the one the bulk read filled.
        const uint8_t* raw = (const uint8_t*)*run->rawFrame;
        const uint8_t* holder = (const uint8_t*)run->ring->pLastBuffer;
        if (raw < holder || raw >= holder + run->transferBytes) ++run->outsideRing;
    }
}

// BayerToBGR24 alone at the run's pace: once every 1/fps seconds, timed on
// the thread's CPU clock. A conversion that runs every 5 ms finds its
// buffers and code evicted by whatever else the machine did meanwhile, and on
// a shared machine costs two to three times its back-to-back figure; this is
// what the paced reader's figure compares with.
double PacedConvertMicroseconds(uint32_t width, uint32_t height, uint32_t fps) {
    std::vector<uint8_t> src((size_t)width * height), dst(3 * (size_t)width * height);
    for (size_t i = 0; i < src.size(); ++i) src[i] = (uint8_t)(i * 2654435761u >> 24);
    double total = 0;
    const int samples = (int)fps;  // one second's worth
    for (int i = 0; i < samples; ++i) {
        std::this_thread::sleep_for(std::chrono::microseconds(1000000 / fps));
        struct timespec a, b;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &a);
        tav::BayerToBGR24(src.data(), dst.data(), width, height);
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &b);
        total += (b.tv_sec - a.tv_sec) * 1e6 + (b.tv_nsec - a.tv_nsec) / 1e3;
    }
    benchmark::DoNotOptimize(dst.data());
    return total / samples;
}

double ConvertMicroseconds(uint32_t width, uint32_t height) {
    std::vector<uint8_t> src((size_t)width * height, 0x5A), dst(3 * (size_t)width * height);
    for (size_t i = 0; i < src.size(); ++i) src[i] = (uint8_t)(i * 2654435761u >> 24);
    tav::BayerToBGR24(src.data(), dst.data(), width, height);
    const int rounds = width * height > 1000000 ? 20 : 200;
    double best = 1e9;
    for (int r = 0; r < 5; ++r) {
        auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < rounds; ++i) tav::BayerToBGR24(src.data(), dst.data(), width, height);
        benchmark::DoNotOptimize(dst.data());
        double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0)
                        .count() /
                    rounds;
        if (us < best) best = us;
    }
    return best;
}

// One live run of `seconds`: width x height at fps (0: as fast as the
// simulator goes), with `direct` direct buffers (0: the reader's own).
void LiveRun(benchmark::State& state, uint32_t width, uint32_t height, uint32_t fps,
             uint32_t direct, double seconds) {
    BayerCamera camera(width, height, fps);
    if (!camera.ok) {
        state.SkipWithError("no simulated camera");
        return;
    }
    const size_t transfer = (size_t)width * (height + 4) * (65536 / ((size_t)width * height) + 1);
    std::vector<uint8_t> picture(3 * (size_t)width * height);
    std::vector<std::vector<uint8_t>> buffers(direct, std::vector<uint8_t>(transfer));
    LiveVideoParamEx ex{};
    ex.nBuffers = (uint8_t)direct;
    for (uint32_t k = 0; k < direct; ++k) ex.pDirectBuffer[k] = buffers[k].data();
    void* rawFrame = nullptr;
    uint8_t table[3] = {0, 0, 0};  // not read: the coefficient is 100
    LiveVideoRequest request{picture.data(), 0, table, nullptr, direct ? &ex : nullptr, &rawFrame};
    for (auto _ : state) {
        Run run;
        run.rawFrame = &rawFrame;
        run.ring = direct ? &ex : nullptr;
        run.transferBytes = transfer;
        auto t0 = std::chrono::steady_clock::now();
        if (getenv("READER_BENCH_TRACE"))
            tav::SetTraceCapture([](const char* t, void*) { fputs(t, stderr); }, nullptr);
        if (USBVideoOnCallbackStart("Reader-1", &request, OnFrame, (uintptr_t)&run) != 1) {
            state.SkipWithError("live video did not start");
            return;
        }
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        USBLiveVideoStop("Reader-1");
        state.SetIterationTime(elapsed);
        const double frames = run.frames.load();
        const double spans = run.cpuFrames > 1 ? run.cpuFrames - 1 : 1;
        const double span = run.timeLast - run.timeFirst;
        state.counters["frames"] = frames;
        state.counters["fps"] = span > 0 ? spans / span : 0;
        // Frames the camera's rate gave from the first delivered to the last,
        // less those delivered.
        if (fps) {
            const double missing = span * fps + 1 - frames;
            state.counters["lost"] = missing >= 1 ? (double)(long)missing : 0;
        }
        const double user = (run.userLast - run.userFirst) / spans * 1e6;
        const double system = (run.systemLast - run.systemFirst) / spans * 1e6;
        const double convert =
            fps ? PacedConvertMicroseconds(width, height, fps) : ConvertMicroseconds(width, height);
        state.counters["user_us/frame"] = user;
        state.counters["sys_us/frame"] = system;
        state.counters["convert_us"] = convert;
        state.counters["user/convert"] = convert > 0 ? user / convert : 0;
        state.counters["cpu/convert"] = convert > 0 ? (user + system) / convert : 0;
        if (direct) state.counters["outside_ring"] = run.outsideRing.load();
    }
}

void BM_Paced640x480At200(benchmark::State& state) {
    LiveRun(state, 640, 480, 200, 0, g_seconds);
}
void BM_Paced640x480At200Direct(benchmark::State& state) {
    LiveRun(state, 640, 480, 200, 4, g_seconds / 3);
}
void BM_FullSpeed640x480(benchmark::State& state) {
    LiveRun(state, 640, 480, 0, 0, g_seconds / 3);
}
void BM_FullSpeed4096x3072(benchmark::State& state) {
    LiveRun(state, 4096, 3072, 0, 0, g_seconds / 3);
}
void BM_FullSpeed4096x3072Direct(benchmark::State& state) {
    LiveRun(state, 4096, 3072, 0, 3, g_seconds / 3);
}

long ResidentKiB() {
    FILE* f = fopen("/proc/self/statm", "r");
    long pages = 0, resident = 0;
    if (f) {
        if (fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Live video for `minutes` at 640 x 480 and 200 frames a second; the resident
// size after the first ten seconds and at the end.
int Soak(double minutes) {
    BayerCamera camera(640, 480, 200);
    if (!camera.ok) return 1;
    std::vector<uint8_t> picture(3 * 640 * 480);
    uint8_t table[3] = {0, 0, 0};
    LiveVideoRequest request{picture.data(), 0, table, nullptr, nullptr, nullptr};
    Run run;
    if (USBVideoOnCallbackStart("Reader-1", &request, OnFrame, (uintptr_t)&run) != 1) return 1;
    std::this_thread::sleep_for(std::chrono::seconds(10));
    sim::ClearLog(camera.sim.server, 1);
    const long start = ResidentKiB();
    const uint32_t startFrames = run.frames.load();
    printf("soak: resident %ld KiB after 10 s (%u frames)\n", start, startFrames);
    fflush(stdout);
    const auto until =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(minutes * 60);
    while (std::chrono::steady_clock::now() < until) {
        // The simulator in this process logs every request (up to 200000 of
        // them): drained now and then, so what is measured is the library.
        for (int i = 0; i < 6; ++i) {
            std::this_thread::sleep_for(std::chrono::seconds(10));
            sim::ClearLog(camera.sim.server, 1);
        }
        printf("soak: resident %ld KiB, %u frames\n", ResidentKiB(), run.frames.load());
        fflush(stdout);
    }
    const long end = ResidentKiB();
    USBLiveVideoStop("Reader-1");
    printf("soak: %.0f minutes, %u frames; resident %ld KiB at the start, %ld KiB at the end\n",
           minutes, run.frames.load(), start, end);
    return 0;
}

}  // namespace

BENCHMARK(BM_Paced640x480At200)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_Paced640x480At200Direct)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_FullSpeed640x480)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_FullSpeed4096x3072)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_FullSpeed4096x3072Direct)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

int main(int argc, char** argv) {
    double soakMinutes = 0;
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (!strncmp(argv[i], "--seconds=", 10))
            g_seconds = atof(argv[i] + 10);
        else if (!strncmp(argv[i], "--soak-minutes=", 15))
            soakMinutes = atof(argv[i] + 15);
        else
            rest.push_back(argv[i]);
    }
    if (soakMinutes > 0) return Soak(soakMinutes);
    int count = (int)rest.size();
    benchmark::Initialize(&count, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

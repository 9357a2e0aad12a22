#include "fuzz/camera_fuzz.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "config/device_table.h"
#include "core/attach.h"
#include "core/trace.h"
#include "device/device.h"
#include "platform/platform.h"
#include "tavcam.h"

namespace camera_fuzz {
namespace {

// Every pause is recorded nowhere: the virtual clock only advances.
void IgnorePause(DWORD, void*) {}

// Traces are formatted (their arguments are part of what is fuzzed) and dropped.
void IgnoreTrace(const char*, void*) {}

// The bench's device directory and server, removed when the fuzzer exits.
std::string g_dir;
sim::Server* g_server = nullptr;

void RemoveBench() {
    if (g_server) sim::Stop(g_server);  // the cameras' sockets go with it
    g_server = nullptr;
    if (!g_dir.empty()) rmdir(g_dir.c_str());
}

std::string MakeDeviceDir() {
    char pattern[] = "/tmp/tavcam-fuzz-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (!made) Finding("no private device directory");
    return made;
}

}  // namespace

Bench& Setup(const std::vector<sim::Profile>& profiles) {
    static Bench* bench = nullptr;
    if (bench) return *bench;
    bench = new Bench;
    const std::string dir = MakeDeviceDir();
    setenv("TAVCAM_DEVICE_DIR", dir.c_str(), 1);
    tav::UsePrivateSharedData();
    plat::SetVirtualClock(IgnorePause, nullptr);
    tav::SetTraceCapture(IgnoreTrace, nullptr);
    bench->server = sim::Start(dir);
    if (!bench->server) Finding("the simulator did not start");
    g_dir = dir;
    g_server = bench->server;
    atexit(RemoveBench);
    sim::SetClock(bench->server, plat::Now);
    for (const sim::Profile& p : profiles) {
        int camera = sim::Plug(bench->server, p);
        if (camera < 0) Finding("a camera did not plug in");
        sim::SetFramesPerSecond(bench->server, camera, 0);  // transfers ready at once
        bench->cameras.push_back(camera);
    }
    // The enumeration prints each path it opens; once is enough to see.
    if ((size_t)tav::EnumerateCameras() != profiles.size())
        Finding("the cameras did not enumerate");
    return *bench;
}

void ForgetCamera(int index) {
    memset(&tav::g_DeviceTable[index], 0, sizeof tav::g_DeviceTable[index]);
    tav::SetCameraChanged(index, false);
}

void SetPage(Bench& bench, int index, int page, const std::vector<uint8_t>& bytes) {
    sim::SetFlash(bench.server, bench.cameras[(size_t)index], page, bytes);
}

void StopLiveVideo(const char* name) {
    int index = 0;
    if (!tav::DeviceIndexFromName(name, &index)) return;
    const auto start = std::chrono::steady_clock::now();
    if (USBLiveVideoStop(name) != 1) Finding("USBLiveVideoStop did not return 1");
    // The stop returns once the reader ended (at most 6 s); then the camera is idle.
    tav::ReadParameters& rp = tav::g_DeviceTable[index].ReadParameters;
    if (!tav::CameraIdle(rp)) Finding("the camera is still held after USBLiveVideoStop");
    if (std::chrono::steady_clock::now() - start > std::chrono::seconds(7))
        Finding("USBLiveVideoStop took longer than its bound");
    // A reader that ended by itself keeps its thread handle recorded until the
    // next start closes it; an iteration that starts afresh closes it here.
    if (HANDLE thread = tav::ReaderThreadOf(rp)) {
        if (plat::WaitForSingleObject(thread, 7000) != WAIT_OBJECT_0)
            Finding("an ended reader's thread did not end");
        plat::CloseHandle(thread);
        tav::SetReaderThread(rp, nullptr);
    }
}

bool WaitIdle(int index, uint32_t timeoutMs) {
    const auto start = std::chrono::steady_clock::now();
    while (!tav::CameraIdle(tav::g_DeviceTable[index].ReadParameters)) {
        if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(timeoutMs))
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

void Finding(const char* what) {
    fprintf(stderr, "finding: %s\n", what);
    fflush(stderr);
    __builtin_trap();
}

}  // namespace camera_fuzz
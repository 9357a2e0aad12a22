// How long a camera's arrival takes to reach every registered window and
// function, with eight cameras present.
//
// The benchmark process is a client of the library like any application: it
// loads libtavcam (which starts the monitor process), makes three top-level
// windows on a thread with a message loop, registers them and a
// plug-and-play function, and serves eight simulated cameras itself in a
// private device directory. Each iteration unplugs the eighth camera, waits
// for that news, then plugs it back and measures the time from its socket
// appearing to the last of the four notices. The monitor's pauses are real:
// the poll settles for 500 ms and reads each camera present for 100 ms.
// Counters: the time to the device-change broadcast (as this process's own
// top-level window receives it; the monitor's arrives alike), to the last
// window and to the function.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "sim/sim.h"
#include "support/exe_dir.h"
#include "tavcam.h"

namespace {

constexpr int kCameras = 8;
constexpr int kWindows = 3;

// The library's exports this benchmark uses, looked up in the loaded library
// (the one copy of the library in this process).
struct Library {
    decltype(&USBRegisterClient) registerClient;
    decltype(&USBRegisterPNPFunction) registerFunction;
    decltype(&PNPFunctionThreadStop) stopFunction;
    decltype(&RegisterClassExA) registerClass;
    decltype(&CreateWindowExA) createWindow;
    decltype(&GetMessageA) getMessage;
    decltype(&DispatchMessageA) dispatchMessage;
    decltype(&DefWindowProcA) defWindowProc;
    decltype(&PostMessageA) postMessage;
    decltype(&PostQuitMessage) postQuit;
    decltype(&TavcamCopySharedData) copyShared;
};
Library g_lib;

uint64_t NowUs() {
    using namespace std::chrono;
    return (uint64_t)duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

std::atomic<uint64_t> g_broadcastUs{0};
std::atomic<int> g_windowNotices[kWindows];
std::atomic<uint64_t> g_windowUs[kWindows];
std::atomic<int> g_functionCalls{0};
std::atomic<uint64_t> g_functionUs{0};
HWND g_windows[kWindows];

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
    for (int i = 0; i < kWindows; ++i) {
        if (hwnd != g_windows[i]) continue;
        if (msg == WM_CAMERA_CHANGE) {
            g_windowUs[i].store(NowUs());
            g_windowNotices[i].fetch_add(1);
            return 0;
        }
        if (msg == WM_DEVICECHANGE && w == DBT_DEVNODES_CHANGED && i == 0) {
            uint64_t zero = 0;
            g_broadcastUs.compare_exchange_strong(zero, NowUs());
        }
    }
    if (msg == WM_DESTROY) g_lib.postQuit(0);
    return g_lib.defWindowProc(hwnd, msg, w, l);
}

void WINAPI OnDeviceChange(uint32_t*, uint32_t, uint32_t, uintptr_t) {
    g_functionUs.store(NowUs());
    g_functionCalls.fetch_add(1);
}

void WindowThread(std::atomic<bool>* ready) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProc;
    wc.lpszClassName = "PnpBenchWindow";
    g_lib.registerClass(&wc);
    for (HWND& w : g_windows)
        w = g_lib.createWindow(0, "PnpBenchWindow", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                               nullptr);
    ready->store(true);
    MSG msg;
    while (g_lib.getMessage(&msg, nullptr, 0, 0) > 0) g_lib.dispatchMessage(&msg);
}

template <typename F>
bool WaitFor(F cond, int ms) {
    for (int waited = 0; waited < ms; ++waited) {
        if (cond()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return cond();
}

// Every window and the function have had `n` notices.
bool AllNoticed(int n) {
    if (g_functionCalls.load() < n) return false;
    for (auto& count : g_windowNotices)
        if (count.load() < n) return false;
    return true;
}

template <typename T>
bool Find(void* module, const char* name, T* out) {
    *out = (T)dlsym(module, name);
    return *out != nullptr;
}

void BM_ArrivalToEveryWindowAndFunction(benchmark::State& state) {
    char pattern[] = "/tmp/tavcam-bench-XXXXXX";
    std::string root = mkdtemp(pattern);
    std::string devices = root + "/devices";
    std::filesystem::create_directory(devices);
    setenv("TAVCAM_RUNTIME_DIR", root.c_str(), 1);
    setenv("TAVCAM_DEVICE_DIR", devices.c_str(), 1);
    sim::Server* server = sim::Start(devices);
    int cameras[kCameras];
    for (int k = 0; k < kCameras; ++k)
        cameras[k] = sim::Plug(server, sim::MakeProfile(sim::Model::LongLayout, "Cam",
                                                        "cam" + std::to_string(k) + ".sock"));

    void* module =
        dlopen((bench_support::ExeDir() + "/libtavcam.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    bool found = module && Find(module, "USBRegisterClient", &g_lib.registerClient) &&
                 Find(module, "USBRegisterPNPFunction", &g_lib.registerFunction) &&
                 Find(module, "PNPFunctionThreadStop", &g_lib.stopFunction) &&
                 Find(module, "RegisterClassExA", &g_lib.registerClass) &&
                 Find(module, "CreateWindowExA", &g_lib.createWindow) &&
                 Find(module, "GetMessageA", &g_lib.getMessage) &&
                 Find(module, "DispatchMessageA", &g_lib.dispatchMessage) &&
                 Find(module, "DefWindowProcA", &g_lib.defWindowProc) &&
                 Find(module, "PostMessageA", &g_lib.postMessage) &&
                 Find(module, "PostQuitMessage", &g_lib.postQuit) &&
                 Find(module, "TavcamCopySharedData", &g_lib.copyShared);
    if (!found) {
        state.SkipWithError(module ? "an export is missing" : dlerror());
        return;
    }
    std::atomic<bool> ready{false};
    std::thread windows(WindowThread, &ready);
    WaitFor([&] { return ready.load(); }, 5000);
    bool registered = g_lib.registerFunction(OnDeviceChange, 0) == 1;
    for (HWND w : g_windows) registered = registered && g_lib.registerClient(w) == 1;
    // A first poll finds the eight cameras: one notice each.
    std::string marker = devices + "/start.txt";
    close(open(marker.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
    if (!registered || !WaitFor([] { return AllNoticed(kCameras); }, 30000))
        state.SkipWithError("the monitor did not notify");

    double toBroadcast = 0, toLastWindow = 0, toFunction = 0;
    int notices = kCameras;
    for (auto _ : state) {
        if (!AllNoticed(notices)) break;
        sim::Unplug(server, cameras[kCameras - 1]);
        if (!WaitFor([&] { return AllNoticed(notices + 1); }, 30000)) {
            state.SkipWithError("no notice of the departure");
            break;
        }
        notices += 1;
        g_broadcastUs.store(0);
        uint64_t start = NowUs();
        sim::PlugBack(server, cameras[kCameras - 1]);
        if (!WaitFor([&] { return AllNoticed(notices + 1); }, 30000)) {
            state.SkipWithError("no notice of the arrival");
            break;
        }
        notices += 1;
        uint64_t lastWindow = 0;
        for (auto& us : g_windowUs) lastWindow = std::max(lastWindow, us.load());
        uint64_t end = std::max(lastWindow, g_functionUs.load());
        state.SetIterationTime((double)(end - start) / 1e6);
        toBroadcast += (double)(g_broadcastUs.load() - start) / 1e3;
        toLastWindow += (double)(lastWindow - start) / 1e3;
        toFunction += (double)(g_functionUs.load() - start) / 1e3;
    }
    double n = (double)state.iterations();
    if (n > 0) {
        state.counters["to_broadcast_ms"] = toBroadcast / n;
        state.counters["to_last_window_ms"] = toLastWindow / n;
        state.counters["to_function_ms"] = toFunction / n;
    }

    g_lib.stopFunction();
    g_lib.postMessage(g_windows[0], WM_DESTROY, 0, 0);
    windows.join();
    sim::Stop(server);
    std::filesystem::remove_all(root);
    // The library stays loaded (it started threads of its own); its detach
    // runs when this process exits, and the monitor then ends.
}
BENCHMARK(BM_ArrivalToEveryWindowAndFunction)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(5);

}  // namespace

BENCHMARK_MAIN();

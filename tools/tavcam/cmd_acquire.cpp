// tavcam capture / live: take pictures, or stream live video with a running
// display of the stream's health, and write pictures to image files.
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

#include "tavcam.h"
#include "tools/tavcam/cli_support.h"
#include "tools/tavcam/commands.h"
#include "tools/tavcam/image_file.h"
#include "tools/tavcam/stream_setup.h"

namespace {

bool Save(const std::string& path, const uint8_t* data, uint32_t width, const Geometry& g) {
    std::string error;
    Picture picture{data, width, g.height, g.outBits};
    if (!WritePicture(path, picture, &error)) {
        fprintf(stderr, "tavcam: %s\n", error.c_str());
        return false;
    }
    printf("wrote %s (%u x %u, %u-bit)\n", path.c_str(), width, g.height, g.outBits);
    return true;
}

std::atomic<bool> g_interrupted{false};
void OnInterrupt(int) {
    g_interrupted = true;
}

std::atomic<uint32_t> g_callbackFrames{0};
void WINAPI OnFrame(const char*, uint32_t* code, uint32_t*, uint32_t, uintptr_t) {
    if (*code == LIVE_CB_FRAME) ++g_callbackFrames;
}

LRESULT CALLBACK NoticeProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
    return DefWindowProcA(hwnd, msg, w, l);
}

HWND NoticeWindow() {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = NoticeProc;
    wc.lpszClassName = "TavcamLiveNotices";
    RegisterClassExA(&wc);
    return CreateWindowExA(0, "TavcamLiveNotices", "tavcam live", 0, 0, 0, 1, 1, HWND_MESSAGE,
                           nullptr, nullptr, nullptr);
}

void PrintProgress(const LiveVideoStatistics& s, double fps, bool tty) {
    printf("%sframes %u  %.1f fps  dropped: %u size, %u markers  no room %u  restarts %u%s",
           tty ? "\r" : "", s.nFramesDelivered, fps, s.nDroppedSize, s.nDroppedMarkers, s.nNoRoom,
           s.nRestarts, tty ? "   " : "\n");
    fflush(stdout);
}

}  // namespace

int CmdCapture(int argc, char** argv) {
    const char* usage = "capture NAME -o FILE [-n N]";
    if (argc < 2) return Usage(usage);
    const char* name = argv[1];
    std::string output;
    uint32_t count = 1;
    for (int i = 2; i < argc; ++i) {
        if (!strcmp(argv[i], "-o") && i + 1 < argc)
            output = argv[++i];
        else if (!strcmp(argv[i], "-n") && i + 1 < argc && ParseNumber(argv[i + 1], &count) &&
                 count >= 1 && count <= 1000)
            ++i;
        else
            return Usage(usage);
    }
    if (output.empty()) return Usage(usage);
    if (!Initialise(name)) return 1;
    Geometry g;
    if (!ReadGeometry(name, &g)) return Failed("reading the format", name, 0);
    // The single-frame capture makes pictures of half the line's bytes from YUV 4:2:2.
    const uint32_t width = g.format == 10 ? g.width / 2 : g.width;
    const size_t bytes = PictureBytes(g);
    std::vector<std::vector<uint8_t>> pictures(count, std::vector<uint8_t>(bytes));
    std::vector<void*> pointers;
    for (auto& p : pictures) pointers.push_back(p.data());
    std::vector<uint8_t> table = ColourTableFor(g);
    CaptureParam param{};
    param.nFrames = count;
    param.pSatCoefficient = &g.sat;
    param.pColourTable = table.data();
    param.ppBuffers = pointers.data();
    int32_t result = USBCaptureFrame(name, &param);
    if (result != TAVCAM_OK) return Failed("capturing", name, result);
    for (uint32_t n = 0; n < count; ++n)
        if (!Save(NumberedPath(output, n, count), pictures[n].data(), width, g)) return 1;
    return 0;
}

int CmdLive(int argc, char** argv) {
    const char* usage =
        "live NAME [--seconds S] [--mode window|event|callback] [--direct N] [-o FILE]";
    if (argc < 2) return Usage(usage);
    const char* name = argv[1];
    uint32_t seconds = 5, direct = 0;
    std::string mode = "event", output;
    for (int i = 2; i < argc; ++i) {
        const bool more = i + 1 < argc;
        if (!strcmp(argv[i], "--seconds") && more && ParseNumber(argv[i + 1], &seconds))
            ++i;
        else if (!strcmp(argv[i], "--mode") && more)
            mode = argv[++i];
        else if (!strcmp(argv[i], "--direct") && more && ParseNumber(argv[i + 1], &direct) &&
                 direct <= TAVCAM_MAX_DIRECT_BUFFERS)
            ++i;
        else if (!strcmp(argv[i], "-o") && more)
            output = argv[++i];
        else
            return Usage(usage);
    }
    if (mode != "window" && mode != "event" && mode != "callback") return Usage(usage);
    if (mode == "window" && direct) {
        fprintf(stderr, "tavcam: window mode has no direct buffers\n");
        return 2;
    }
    if (!Initialise(name)) return 1;
    Geometry g;
    if (!ReadGeometry(name, &g)) return Failed("reading the format", name, 0);
    std::vector<uint8_t> picture(PictureBytes(g));
    std::vector<uint8_t> table = ColourTableFor(g);

    // Direct buffers hold one transfer each: whole raw frames of the streamed
    // width (doubled for YUV 4:2:2), gathered beyond 64 KiB.
    const uint64_t streamed = (uint64_t)(g.format == 10 ? 2 * g.width : g.width) * g.rawBytes;
    const uint64_t frame = streamed * (g.height + 4);
    const uint64_t perTransfer = 65536 / ((uint64_t)g.width * g.height * g.rawBytes) + 1;
    std::vector<std::vector<uint8_t>> ring(direct, std::vector<uint8_t>(perTransfer * frame));
    LiveVideoParamEx ex{};
    ex.nBuffers = (uint8_t)direct;
    for (uint32_t k = 0; k < direct; ++k) ex.pDirectBuffer[k] = ring[k].data();

    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HWND window = mode == "window" ? NoticeWindow() : nullptr;
    LiveVideoRequest request{};
    request.pImage = picture.data();
    request.pColourTable = table.data();
    request.hFrameEvent = event;
    request.pLiveVideoParamEx = direct ? &ex : nullptr;
    int32_t result;
    if (mode == "window") {
        LiveVideoParam param{};
        param.hWnd = window;
        param.pImage = picture.data();
        param.pColourTable = table.data();
        result = USBLiveVideoStart(name, &param);
    } else if (mode == "event") {
        result = USBLiveVideoStartEx(name, &request);
    } else {
        result = USBVideoOnCallbackStart(name, &request, OnFrame, 0);
    }
    if (result != TAVCAM_OK) {
        CloseHandle(event);
        return Failed("starting live video", name, result);
    }
    printf("streaming %s for %u s, %s mode%s\n", name, seconds, mode.c_str(),
           direct ? (", " + std::to_string(direct) + " direct buffers").c_str() : "");
    signal(SIGINT, OnInterrupt);
    const bool tty = isatty(fileno(stdout)) != 0;
    const auto start = std::chrono::steady_clock::now();
    auto lastShown = start;
    uint32_t lastFrames = 0;
    LiveVideoStatistics stats{};
    bool vanished = false;
    while (!g_interrupted) {
        // Take the notices as they come: messages, the event, or nothing (callbacks).
        if (window) {
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        } else if (mode == "event") {
            WaitForSingleObject(event, 50);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        const auto now = std::chrono::steady_clock::now();
        USBGetLiveVideoStatistics(name, &stats);
        if (!stats.bRunning) {
            vanished = true;  // the reader ended by itself: the camera went away
            break;
        }
        const double since = std::chrono::duration<double>(now - lastShown).count();
        if (since >= (tty ? 0.25 : 1.0)) {
            PrintProgress(stats, (stats.nFramesDelivered - lastFrames) / since, tty);
            lastFrames = stats.nFramesDelivered;
            lastShown = now;
        }
        if (now - start >= std::chrono::seconds(seconds)) break;
    }
    USBLiveVideoStop(name);
    USBGetLiveVideoStatistics(name, &stats);
    const double total =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (tty) printf("\r");
    printf(
        "%s: %u frames in %.1f s (%.1f fps), dropped %u for size and %u for markers, %u frames "
        "without room, %u restarts%s\n",
        name, stats.nFramesDelivered, total, total > 0 ? stats.nFramesDelivered / total : 0.0,
        stats.nDroppedSize, stats.nDroppedMarkers, stats.nNoRoom, stats.nRestarts,
        vanished ? "; the stream ended by itself (camera gone?)" : "");
    if (window) DestroyWindow(window);
    CloseHandle(event);
    if (!output.empty() && stats.nFramesDelivered && !Save(output, picture.data(), g.width, g))
        return 1;
    return vanished ? 1 : 0;
}

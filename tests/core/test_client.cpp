// tavcam-test-client: a client process of the library for the process tests
// (linked against tavcam.dll, also those of the Windows build under Wine).
// It loads the library like any application, so its attach and detach run,
// and answers each command line read from standard input with one line:
//   state                the shared block as this process sees it
//   usable               1 when the library works in this process, 0 when inert
//   send MSG LPARAM      SendMessageA(monitor window, MSG, 0, LPARAM)
//   fork-exit            a forked child leaves with exit(), running every exit
//                        handler of the copy; "forked" once it ended (POSIX only)
//   window               a top-level window with its own thread and message
//                        loop (made once); its handle
//   register-window, register-null-window, deregister-window
//                        USBRegisterClient(that window or null), USBDeRegisterClient
//   register-fn A|B|C|D V  USBRegisterPNPFunction(function A to D, user value V)
//   register-null        USBRegisterPNPFunction(null, 0)
//   stop                 PNPFunctionThreadStop()
//   notices              "window=N a=N b=N c=N cdone=N d=N value=V code=C bad=N"
//   list                 the camera names, separated by spaces
//   init NAME            USBInitDevice(NAME)
//   exit                 leaves main normally (the library's detach runs)
// Started with --exit-at-once it leaves at once instead.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#if !defined(_WIN32)
#include <sys/wait.h>
#endif
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "core/shared_data.h"
#include "tavcam.h"

namespace {

std::atomic<int> g_windowNotices{0};
std::atomic<int> g_calls[4];  // of functions A, B, C and D
std::atomic<int> g_doneC{0};
std::atomic<int> g_badCalls{0};  // wrong arguments
std::atomic<uintptr_t> g_lastValue{0};
std::atomic<uint32_t> g_lastCode{0};
std::atomic<HWND> g_window{nullptr};
std::atomic<bool> g_exiting{false};  // main has returned: the library is detaching

std::string Join(const uint32_t* v, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += (i ? "," : "") + std::to_string(v[i]);
    return s;
}

#if defined(_WIN32)
// The DLL exports no copy of the block; any process may read its mapping.
bool CopyBlock(tav::SharedData* out) {
    HANDLE map = OpenFileMappingA(FILE_MAP_READ, FALSE, tav::kSharedDataName);
    if (!map) return false;
    const void* view = MapViewOfFile(map, FILE_MAP_READ, 0, 0, sizeof *out);
    if (view) memcpy(out, view, sizeof *out);
    if (view) UnmapViewOfFile(view);
    CloseHandle(map);
    return view != nullptr;
}
const char* kNullDevice = "NUL";
#else
bool CopyBlock(tav::SharedData* out) {
    return TavcamCopySharedData(out, sizeof *out) == 1;
}
const char* kNullDevice = "/dev/null";
#endif

void PauseMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void PrintState() {
    tav::SharedData d;
    if (!CopyBlock(&d)) {
        printf("nostate\n");
        return;
    }
    printf(
        "count=%u hwnd=%u edit=%u quit=%u timer=%u monitor=%u presence=%s changed=%s pids=%s "
        "clients=%s events=%s\n",
        d.nAttachedProcess, d.g_hWnd, d.hEditWnd, d.bQuit, d.uTimerId, d.piMonitor[2],
        Join(d.bPresence, 8).c_str(), Join(d.bChanged, 8).c_str(), Join(d.dwProcessIds, 4).c_str(),
        Join(d.hClients, d.nClients > 100 ? 100 : (int)d.nClients).c_str(),
        Join(d.hPnPEvents, 4).c_str());
}

// Function I records its call; C then takes a second and registers itself
// again from inside, D stops its own notification thread.
template <int I>
void WINAPI Function(uint32_t* code, uint32_t zero1, uint32_t zero2, uintptr_t value) {
    if (!code || zero1 != 0 || zero2 != 0) g_badCalls.fetch_add(1);
    g_lastCode.store(code ? *code : 0);
    g_lastValue.store(value);
    g_calls[I].fetch_add(1);
    if (I == 2) {
        PauseMs(1000);
        if (USBRegisterPNPFunction(Function<2>, value) != 1 && !g_exiting.load())
            g_badCalls.fetch_add(1);
        g_doneC.fetch_add(1);
    }
    if (I == 3 && PNPFunctionThreadStop() != 1) g_badCalls.fetch_add(1);
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
    if (msg == WM_CAMERA_CHANGE) {
        if (w != 0 || l != 0) g_badCalls.fetch_add(1);
        g_windowNotices.fetch_add(1);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, w, l);
}

// The window lives on a thread of its own that runs its message loop, as an
// application's user-interface thread would, while the main thread reads
// commands.
HWND Window() {
    if (g_window.load()) return g_window.load();
    std::thread([] {
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = WindowProc;
        wc.lpszClassName = "TestClientWindow";
        RegisterClassExA(&wc);
        HWND hwnd = CreateWindowExA(0, "TestClientWindow", "test client", 0, 0, 0, 100, 100,
                                    nullptr, nullptr, nullptr, nullptr);
        g_window.store(hwnd);
        MSG msg;
        while (hwnd && GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    }).detach();
    for (int i = 0; i < 5000 && !g_window.load(); ++i) PauseMs(1);
    return g_window.load();
}

// The enumeration prints a line per camera on standard output, which is this
// program's answer channel: silence it for the call.
void QuietList(CameraList* list) {
    fflush(stdout);
    int saved = dup(1);
    int null = open(kNullDevice, O_WRONLY);
    dup2(null, 1);
    USBGetSuppDeviceList(list);
    fflush(stdout);
    dup2(saved, 1);
    close(null);
    close(saved);
}

void ForkExit() {
#if !defined(_WIN32)
    pid_t child = fork();
    if (child == 0) exit(0);
    int status = 0;
    if (child > 0) waitpid(child, &status, 0);
#endif
    printf("forked\n");
}

}  // namespace

int main(int argc, char** argv) {
    // --exit-at-once: leave as soon as the library has attached, before its
    // monitor has had time to come up.
    if (argc > 1 && !strcmp(argv[1], "--exit-at-once")) return 0;
#if defined(_WIN32)
    setvbuf(stdout, nullptr, _IONBF, 0);  // the C runtime there has no line buffering
#else
    setvbuf(stdout, nullptr, _IOLBF, 0);
#endif
    char line[300];
    while (fgets(line, sizeof line, stdin)) {
        line[strcspn(line, "\r\n")] = 0;
        if (!strcmp(line, "state")) {
            PrintState();
        } else if (!strcmp(line, "usable")) {
            printf("%d\n", USBControlLink("Probe-0") == 1 ? 1 : 0);
        } else if (!strncmp(line, "send ", 5)) {
            unsigned msg = 0;
            long long lparam = 0;
            sscanf(line + 5, "%u %lld", &msg, &lparam);
            tav::SharedData d;
            HWND monitor = nullptr;
            if (CopyBlock(&d)) monitor = (HWND)(uintptr_t)d.g_hWnd;
            printf("%ld\n", (long)SendMessageA(monitor, msg, 0, (LPARAM)lparam));
        } else if (!strcmp(line, "fork-exit")) {
            ForkExit();
        } else if (!strcmp(line, "window")) {
            printf("%u\n", (unsigned)(uintptr_t)Window());
        } else if (!strcmp(line, "register-window")) {
            printf("%d\n", (int)USBRegisterClient(Window()));
        } else if (!strcmp(line, "register-null-window")) {
            printf("%d\n", (int)USBRegisterClient(nullptr));
        } else if (!strcmp(line, "deregister-window")) {
            printf("%d\n", (int)USBDeRegisterClient(Window()));
        } else if (!strncmp(line, "register-fn ", 12) && line[12] >= 'A' && line[12] <= 'D') {
            const PNPFunction functions[] = {Function<0>, Function<1>, Function<2>, Function<3>};
            uintptr_t value = (uintptr_t)strtoull(line + 13, nullptr, 10);
            printf("%d\n", (int)USBRegisterPNPFunction(functions[line[12] - 'A'], value));
        } else if (!strcmp(line, "register-null")) {
            printf("%d\n", (int)USBRegisterPNPFunction(nullptr, 0));
        } else if (!strcmp(line, "stop")) {
            printf("%d\n", (int)PNPFunctionThreadStop());
        } else if (!strcmp(line, "notices")) {
            printf("window=%d a=%d b=%d c=%d cdone=%d d=%d value=%llu code=%u bad=%d\n",
                   g_windowNotices.load(), g_calls[0].load(), g_calls[1].load(), g_calls[2].load(),
                   g_doneC.load(), g_calls[3].load(), (unsigned long long)g_lastValue.load(),
                   g_lastCode.load(), g_badCalls.load());
        } else if (!strcmp(line, "list")) {
            CameraList list{};
            QuietList(&list);
            std::string names;
            for (uint32_t k = 0; k < list.nCount && k < TAVCAM_MAX_CAMERAS; ++k)
                if (list.szNames[k][0])
                    names += (names.empty() ? "" : " ") + std::string(list.szNames[k]);
            printf("%s\n", names.c_str());
        } else if (!strncmp(line, "init ", 5)) {
            printf("%d\n", (int)USBInitDevice(line + 5));
        } else if (!strcmp(line, "exit")) {
            g_exiting.store(true);
            return 0;
        } else {
            printf("?\n");
        }
    }
    return 0;
}

// The device monitor: one hidden top-level window on the monitor process's
// only thread. Its procedure keeps the client list, creates the clients'
// plug-and-play events, watches that the processes using the library still
// live, and answers the system's device-change broadcasts with a presence
// poll (pnp/presence_poll.cpp).
#include "core/attach.h"
#include "core/trace.h"
#include "pnp/pnp.h"
#include "tavcam.h"

namespace tav {
namespace {

bool g_isMonitor = false;

constexpr UINT kClassStyle = 0x6008;        // global class, byte-aligned window, double clicks
constexpr DWORD kWindowExStyle = 0x110;     // window edge, accept files
constexpr DWORD kWindowStyle = 0x02CF0000;  // overlapped window, clip children; not visible
constexpr DWORD kEditStyle = 0x50A018C4;    // child, visible, border, scroll, read-only...

void OnCreate(HWND hWnd) {
    HWND edit = plat::CreateWindowExA(0, "edit", nullptr, kEditStyle, 0, 0, 0, 0, hWnd, nullptr,
                                      (HINSTANCE)OwnModule(), nullptr);
    if (SharedData* d = Shared()) SharedStore(d->hEditWnd, plat::WindowToField(edit));
}

void OnSize(LPARAM lParam) {
    SharedData* d = Shared();
    if (!d) return;
    HWND edit = plat::FieldToWindow(SharedLoad(d->hEditWnd));
    int width = (int)(lParam & 0xFFFF);
    int height = (int)((lParam >> 16) & 0xFFFF);
    if (edit) plat::MoveWindow(edit, 0, 0, width, height, TRUE);
}

void OnDeviceChange(SharedData* d, WPARAM event) {
    if (event == DBT_DEVNODES_CHANGED && d) PresencePoll(d);
    if (event == DBT_DEVICEARRIVAL) Trace("DBT_DEVICEARRIVAL\r\n");
    if (event == DBT_DEVICEREMOVECOMPLETE) Trace("DBT_DEVICEREMOVECOMPLETE\r\n");
}

void RunMessageLoop() {
    MSG msg;
    for (;;) {
        BOOL r = plat::GetMessageA(&msg, nullptr, 0, 0);
        if (r == 0) break;
        if (r == -1) {
            Trace("Failed GetMessage() = 0x%x\r\n", (unsigned)plat::GetLastError());
            continue;
        }
        plat::TranslateMessage(&msg);
        plat::DispatchMessageA(&msg);
    }
}

}  // namespace

bool IsMonitorProcess() {
    return g_isMonitor;
}

LRESULT CALLBACK MonitorWindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    SharedData* d = Shared();
    switch (message) {
        case WM_CREATE:
            OnCreate(hWnd);
            break;
        case WM_DESTROY:
            plat::PostQuitMessage(0);
            break;
        case WM_SIZE:
            OnSize(lParam);
            break;
        case WM_TIMER:
            if (d) LivenessCheck(d);
            break;
        case WM_DEVICECHANGE:
            OnDeviceChange(d, wParam);
            break;
        case WM_REGISTER_CALLBACK:
            Trace("WM_REGISTER_CALLBACK ProcessID = 0x%x\r\n", (unsigned)lParam);
            if (d) InternalRegisterCallBack(d, (uint32_t)lParam);
            break;
        case WM_REGISTER_CLIENT:
            if (d) ClientListAdd(d, plat::WindowToField((HWND)lParam));
            break;
        case WM_DEREGISTER_CLIENT:
            if (d) ClientListRemove(d, plat::WindowToField((HWND)lParam));
            break;
        default:
            break;
    }
    return plat::DefWindowProcA(hWnd, message, wParam, lParam);
}

}  // namespace tav

// The monitor entry, run by the system's DLL host in the monitor process. The
// host's four arguments are not used. Returns 0 when the loop has ended or
// could not start.
extern "C" TAVCAM_API int32_t WINAPI DLL_Thread(HWND, HINSTANCE, char*, int32_t) {
    using namespace tav;
    SharedData* d = Shared();
    if (!LibraryUsable() || !d) return 0;
    g_isMonitor = true;
    // The class and windows take this process's own module handle: the one
    // recorded in the block is the creating process's and means nothing here.
    HINSTANCE instance = (HINSTANCE)OwnModule();

    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.style = kClassStyle;
    wc.lpfnWndProc = MonitorWindowProc;
    wc.hInstance = instance;
    wc.lpszMenuName = "AppMenu";
    wc.lpszClassName = kMonitorClassName;
    if (!plat::RegisterClassExA(&wc)) {
        Trace("RegisterClassEx Failed = %d\r\n", (int)plat::GetLastError());
        Trace("Exit DLLThread\r\n");
        return 0;
    }
    HWND hWnd =
        plat::CreateWindowExA(kWindowExStyle, kMonitorClassName, kMonitorWindowTitle, kWindowStyle,
                              0, 0, 600, 200, nullptr, nullptr, instance, nullptr);
    SharedStore(d->g_hWnd, plat::WindowToField(hWnd));
    Trace("SharedData->g_hWnd = 0x%x\r\n", (unsigned)plat::WindowToField(hWnd));
    if (!hWnd) {
        Trace("Exit DLLThread\r\n");
        return 0;
    }
    UINT_PTR timer = plat::SetTimer(hWnd, kMonitorTimerId, kMonitorTimerPeriodMs, nullptr);
    SharedStore(d->uTimerId, (uint32_t)timer);
    if (!timer) {
        Trace("Failed to create Timer = 0x%x\r\n", (unsigned)plat::GetLastError());
        Trace("Exit DLLThread\r\n");
        return 0;
    }
    // A block whose last client left while this monitor was starting is
    // already marked as ending: no loop then.
    if (SharedLoad(d->bQuit) == 0) {
        plat::StartDeviceWatch();
        RunMessageLoop();
        plat::StopDeviceWatch();
    }
    plat::KillTimer(hWnd, timer);
    SharedStore(d->uTimerId, 0);
    Trace("Exit DLLThread\r\n");
    return 0;
}

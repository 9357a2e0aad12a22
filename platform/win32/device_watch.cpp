// Device-change broadcasts for the loopback-TCP cameras under test: Windows
// tells top-level windows of devices coming and going, but under Wine no
// driver's device ever comes or goes. While the transport is on, a thread
// watches the device directory's camera files and, when the set of them
// changes, posts WM_DEVICECHANGE with DBT_DEVNODES_CHANGED (7) and lParam 0
// to every top-level window of this process, within a second of the change.
//
// It looks at the directory every kWatchPollMs, and at once when the system
// reports a change of the directory's file names. A burst of changes between
// two looks gives one notice; the presence poll that follows sees them all.
#include "platform/win32/tcp_cameras.h"

namespace plat {
namespace {

constexpr DWORD kWatchPollMs = 250;
constexpr DWORD kWatchStopWaitMs = 2000;

HANDLE g_stop = nullptr;
HANDLE g_thread = nullptr;

BOOL CALLBACK PostToOwnWindow(HWND window, LPARAM) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    if (pid == ::GetCurrentProcessId())
        ::PostMessageA(window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
    return TRUE;
}

DWORD WINAPI Watch(LPVOID parameter) {
    const std::string dir = *(std::string*)parameter;
    delete (std::string*)parameter;
    std::vector<std::string> seen = tcp::ListCameraFiles(dir);
    HANDLE change =
        ::FindFirstChangeNotificationA(dir.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
    for (;;) {
        HANDLE waits[2] = {g_stop, change};
        DWORD n = change != INVALID_HANDLE_VALUE ? 2 : 1;
        DWORD r = ::WaitForMultipleObjects(n, waits, FALSE, kWatchPollMs);
        if (r == WAIT_OBJECT_0) break;
        if (r == WAIT_OBJECT_0 + 1) ::FindNextChangeNotification(change);
        std::vector<std::string> now = tcp::ListCameraFiles(dir);
        if (now == seen) continue;
        seen.swap(now);
        ::EnumWindows(PostToOwnWindow, 0);
    }
    if (change != INVALID_HANDLE_VALUE) ::FindCloseChangeNotification(change);
    return 0;
}

}  // namespace

void StartDeviceWatch() {
    std::string dir = tcp::DeviceDirectory();
    if (dir.empty() || g_thread) return;
    g_stop = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!g_stop) return;
    auto* watched = new std::string(dir);  // the thread's from its start
    g_thread = CreateLibraryThread(Watch, watched, nullptr);
    if (!g_thread) {
        delete watched;
        ::CloseHandle(g_stop);
        g_stop = nullptr;
    }
}

void StopDeviceWatch() {
    if (!g_thread) return;
    ::SetEvent(g_stop);
    ::WaitForSingleObject(g_thread, kWatchStopWaitMs);
    ::CloseHandle(g_thread);
    ::CloseHandle(g_stop);
    g_thread = g_stop = nullptr;
}

}  // namespace plat

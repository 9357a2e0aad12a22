// WM_DEVICECHANGE when the device directory changes.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <string>

#include "child.h"

namespace platform_test {
namespace {

HANDLE g_got = nullptr;
int g_bad = 0;

LRESULT CALLBACK WatchProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
    if (msg == WM_DEVICECHANGE) {
        if (w == DBT_DEVNODES_CHANGED && l == 0)
            plat::SetEvent(g_got);
        else
            ++g_bad;
    }
    return plat::DefWindowProcA(hwnd, msg, w, l);
}

LRESULT CALLBACK MessageOnlyProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
    if (msg == WM_DEVICECHANGE) ++g_bad;  // message-only windows get no broadcast
    return plat::DefWindowProcA(hwnd, msg, w, l);
}

}  // namespace

// READY GOT: a top-level window and a message-only one; GOT is set for each
// WM_DEVICECHANGE (7, 0) the top-level window receives.
int RoleWatchDevices(const Args& args) {
    g_got = plat::OpenEventA(EVENT_ALL_ACCESS, FALSE, args.at(1).c_str());
    if (!g_got) return 2;
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WatchProc;
    wc.lpszClassName = "Watch";
    WNDCLASSEXA mc = wc;
    mc.lpfnWndProc = MessageOnlyProc;
    mc.lpszClassName = "MessageOnly";
    if (!plat::RegisterClassExA(&wc) || !plat::RegisterClassExA(&mc)) return 3;
    if (!plat::CreateWindowExA(0, "Watch", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr) ||
        !plat::CreateWindowExA(0, "MessageOnly", "", 0, 0, 0, 1, 1, HWND_MESSAGE, nullptr, nullptr,
                               nullptr))
        return 4;
    HANDLE ready = plat::OpenEventA(EVENT_ALL_ACCESS, FALSE, args.at(0).c_str());
    if (!ready || !plat::SetEvent(ready)) return 5;
    MSG msg;
    while (plat::GetMessageA(&msg, nullptr, 0, 0) > 0) plat::DispatchMessageA(&msg);
    return 0;
}

namespace {

// A private device directory, removed with its contents at the end.
struct DeviceDir {
    DeviceDir() {
        char tmpl[] = "/tmp/tavcam-platform-XXXXXX";
        if (mkdtemp(tmpl)) path = tmpl;
    }
    ~DeviceDir() {
        if (path.empty()) return;
        unlink((path + "/cam0.sock").c_str());
        unlink((path + "/devices/cam1.sock").c_str());
        rmdir((path + "/devices").c_str());
        rmdir(path.c_str());
    }
    std::string path;
};

// Binds a Unix stream socket at path, as a camera server does; -1 on failure.
int BindSocket(const std::string& path) {
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    if (fd >= 0 && bind(fd, (sockaddr*)&addr, sizeof addr) == 0) return fd;
    if (fd >= 0) close(fd);
    return -1;
}

TEST(DeviceChange, TopLevelWindowsHearOfSocketsAppearingAndGoing) {
    DeviceDir dir;
    ASSERT_FALSE(dir.path.empty());
    std::string devices = dir.path;
    ReadySignal ready("ready");
    ReadySignal got("got");
    // The child inherits the environment at its start.
    const char* old = getenv("TAVCAM_DEVICE_DIR");
    std::string saved = old ? old : "";
    setenv("TAVCAM_DEVICE_DIR", devices.c_str(), 1);
    Child watcher({"watch-devices", ready.name, got.name});
    if (old)
        setenv("TAVCAM_DEVICE_DIR", saved.c_str(), 1);
    else
        unsetenv("TAVCAM_DEVICE_DIR");
    ASSERT_TRUE(watcher.started());
    ASSERT_TRUE(ready.Wait());
    EXPECT_FALSE(got.Wait(300)) << "nothing changed yet";

    // A camera's socket appears.
    std::string path = devices + "/cam0.sock";
    int fd = BindSocket(path);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(got.Wait(1000));

    // And goes.
    plat::ResetEvent(got.event);
    close(fd);
    unlink(path.c_str());
    EXPECT_TRUE(got.Wait(1000));

    // The window got nothing else, and the message-only window nothing.
    plat::ResetEvent(got.event);
    EXPECT_FALSE(got.Wait(200));
    watcher.Kill();
    DWORD code = ~0u;
    plat::GetExitCodeProcess(watcher.info.hProcess, &code);
    EXPECT_NE(code, STILL_ACTIVE);
}

TEST(DeviceChange, ADirectoryCreatedLaterIsWatchedFromThen) {
    DeviceDir dir;
    ASSERT_FALSE(dir.path.empty());
    std::string devices = dir.path + "/devices";  // not there yet
    ReadySignal ready("ready");
    ReadySignal got("got");
    Child watcher({"watch-devices", ready.name, got.name}, {"TAVCAM_DEVICE_DIR=" + devices});
    ASSERT_TRUE(watcher.started());
    ASSERT_TRUE(ready.Wait());
    ASSERT_EQ(mkdir(devices.c_str(), 0700), 0);
    // The directory is looked for a few times a second; its appearance is a
    // change, reported within one second like any other.
    EXPECT_TRUE(got.Wait(1000));
    plat::ResetEvent(got.event);
    int fd = BindSocket(devices + "/cam1.sock");
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(got.Wait(1000));
    close(fd);
}

}  // namespace
}  // namespace platform_test

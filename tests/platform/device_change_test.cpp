// WM_DEVICECHANGE when the device directory changes.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <string>

#include "child.h"
#include "support/testing.h"

namespace platform_test {
namespace {

HANDLE g_got = nullptr;
HWND g_top = nullptr;

LRESULT CALLBACK WatchProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
    // Anything but (7, 0) to the top-level window, and any broadcast to the
    // message-only one, leaves GOT unset for the rest of the child's life.
    if (msg == WM_DEVICECHANGE && g_got) {
        if (w == DBT_DEVNODES_CHANGED && l == 0 && hwnd == g_top)
            plat::SetEvent(g_got);
        else
            g_got = nullptr;
    }
    return plat::DefWindowProcA(hwnd, msg, w, l);
}

}  // namespace

// READY GOT: a top-level window and a message-only one; GOT is set for each
// WM_DEVICECHANGE (7, 0) the top-level window receives.
int RoleWatchDevices(const Args& args) {
    g_got = plat::OpenEventA(EVENT_ALL_ACCESS, FALSE, args.at(1).c_str());
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WatchProc;
    wc.lpszClassName = "Watch";
    if (!g_got || !plat::RegisterClassExA(&wc)) return 3;
    g_top =
        plat::CreateWindowExA(0, "Watch", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    if (!g_top || !plat::CreateWindowExA(0, "Watch", "", 0, 0, 0, 1, 1, HWND_MESSAGE, nullptr,
                                         nullptr, nullptr))
        return 4;
    if (!SetNamedEvent(args.at(0))) return 5;
    MSG msg;
    while (plat::GetMessageA(&msg, nullptr, 0, 0) > 0) plat::DispatchMessageA(&msg);
    return 0;
}

namespace {

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

// The device directory does not exist when the watcher starts: it is looked
// for a few times a second, and its appearance is a change reported within
// one second like any other; then sockets appearing and going are.
TEST(DeviceChange, ADirectoryCreatedLaterIsWatchedFromThen) {
    testing_support::TempDir dir;
    std::string devices = dir.path + "/devices";
    ReadySignal ready("ready"), got("got");
    Child watcher({"watch-devices", ready.name, got.name}, {"TAVCAM_DEVICE_DIR=" + devices});
    ASSERT_TRUE(ready.Wait());
    EXPECT_FALSE(got.Wait(300)) << "nothing changed yet";
    ASSERT_EQ(mkdir(devices.c_str(), 0700), 0);
    EXPECT_TRUE(got.Wait(1000)) << "the directory appears";

    plat::ResetEvent(got.event);
    std::string path = devices + "/cam0.sock";
    int fd = BindSocket(path);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(got.Wait(1000)) << "a camera's socket appears";

    plat::ResetEvent(got.event);
    close(fd);
    unlink(path.c_str());
    EXPECT_TRUE(got.Wait(1000)) << "and goes";

    // Nothing else came, to the top-level window nor to the message-only one.
    plat::ResetEvent(got.event);
    EXPECT_FALSE(got.Wait(200));
    EXPECT_EQ(watcher.Wait(0), ~0u) << "the watcher still runs";
}

}  // namespace
}  // namespace platform_test

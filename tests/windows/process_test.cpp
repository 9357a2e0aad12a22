// The library's life across real processes on Windows (under Wine): the
// system's loader running DllMain, RUNDLL32 hosting the monitor, named
// mappings and events, cross-process sends and timers. A fake camera file
// appearing in the device directory stands for a camera plugged in.
#include <gtest/gtest.h>

#include <deque>

#include "fake_camera.h"
#include "tavcam.h"
#include "win_clients.h"

// After <windows.h>, which it needs.
#include <psapi.h>

namespace windows_tests {
namespace {

class LibraryProcesses : public ::testing::Test {
  protected:
    testing_support::TempDir devices;
    std::deque<Client> clients;

    void SetUp() override {
        ASSERT_FALSE(devices.path.empty());
        // The clients inherit it, and the monitor from the first of them.
        SetEnvironmentVariableA("TAVCAM_DEVICE_DIR", devices.path.c_str());
        ASSERT_TRUE(BlockGone()) << "a block of an earlier test is still there";
    }

    void TearDown() override {
        for (Client& c : clients) Kill(c);
        // Every test leaves no block behind: the next one starts afresh.
        EXPECT_TRUE(BlockGone());
        SetEnvironmentVariableA("TAVCAM_DEVICE_DIR", nullptr);
    }

    static bool BlockGone() {
        tav::SharedData d;
        return WaitFor([&] { return !ReadBlock(&d); }, 10000);
    }

    Client& Start() {
        clients.emplace_back();
        EXPECT_TRUE(StartClient(&clients.back()));
        return clients.back();
    }

    std::map<std::string, std::string> State(Client& c) { return Fields(Ask(c, "state")); }

    // Waits until the block counts n processes with the monitor's window
    // and timer up.
    bool WaitForCount(Client& c, const std::string& n) {
        return WaitFor(
            [&] {
                auto s = State(c);
                return s["count"] == n && s["hwnd"] != "0" && s["timer"] != "0";
            },
            15000);
    }

    DWORD MonitorOf(Client& c) { return (DWORD)std::stoul(State(c)["monitor"]); }

    static bool Ends(DWORD pid, DWORD ms) {
        return WaitFor([&] { return !ProcessRuns(pid); }, ms);
    }
};

std::string Lower(std::string s) {
    for (char& ch : s) ch = (char)tolower((unsigned char)ch);
    return s;
}

std::string ImageName(DWORD pid) {
    HANDLE p = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!p) return "";
    char name[MAX_PATH];
    DWORD n = sizeof name;
    std::string image = QueryFullProcessImageNameA(p, 0, name, &n) ? std::string(name, n) : "";
    CloseHandle(p);
    return Lower(image);
}

// The path of the tavcam.dll that process pid has loaded; "" if none.
std::string LoadedDll(DWORD pid) {
    HANDLE p = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (!p) return "";
    HMODULE modules[256];
    DWORD bytes = 0;
    std::string found;
    if (K32EnumProcessModules(p, modules, sizeof modules, &bytes)) {
        for (DWORD i = 0; i < bytes / sizeof(HMODULE) && i < 256; ++i) {
            char name[MAX_PATH];
            DWORD n = K32GetModuleFileNameExA(p, modules[i], name, sizeof name);
            std::string path = Lower(std::string(name, n));
            if (path.size() >= 10 && path.compare(path.size() - 10, 10, "tavcam.dll") == 0)
                found = path;
        }
    }
    CloseHandle(p);
    return found;
}

TEST_F(LibraryProcesses, FourAttachAFifthLoadFailsAndTheLastDetachEndsTheMonitor) {
    Client& first = Start();
    ASSERT_TRUE(WaitForCount(first, "2")) << Ask(first, "state");
    const DWORD monitor = MonitorOf(first);
    EXPECT_TRUE(ProcessRuns(monitor));
    const std::string image = ImageName(monitor);
    EXPECT_EQ(image.substr(image.size() >= 12 ? image.size() - 12 : 0), "rundll32.exe") << image;
    // Given the DLL's full path, RUNDLL32 loaded this very file, wherever it
    // was started.
    EXPECT_EQ(LoadedDll(monitor), Lower(testing_support::BinDir() + "\\tavcam.dll"));
    Client& second = Start();
    Client& third = Start();
    ASSERT_TRUE(WaitForCount(third, "4")) << Ask(third, "state");
    // This test process is the fifth: the loader refuses the DLL.
    std::string dll = testing_support::BinDir() + "\\tavcam.dll";
    HMODULE fifth = LoadLibraryA(dll.c_str());
    DWORD error = GetLastError();
    EXPECT_EQ(fifth, nullptr);
    EXPECT_EQ(error, (DWORD)ERROR_DLL_INIT_FAILED);
    if (fifth) FreeLibrary(fifth);
    EXPECT_EQ(State(first)["count"], "4");
    EXPECT_TRUE(Exit(third));
    EXPECT_TRUE(Exit(second));
    EXPECT_TRUE(WaitForCount(first, "2"));
    EXPECT_TRUE(ProcessRuns(monitor));  // a client is left
    EXPECT_TRUE(Exit(first));
    EXPECT_TRUE(Ends(monitor, 5000)) << "the last client's detach ends the monitor";
}

// A killed client runs no detach: the monitor's timer notices it is gone.
TEST_F(LibraryProcesses, ClientWindowsAreRegisteredThroughTheMonitorAndAKilledClientIsNoticed) {
    Client& c = Start();
    ASSERT_TRUE(WaitForCount(c, "2"));
    const std::string window = Ask(c, "window");
    ASSERT_NE(window, "0");
    EXPECT_EQ(Ask(c, "register-window"), "1");
    EXPECT_EQ(Ask(c, "register-window"), "1");
    EXPECT_EQ(State(c)["clients"], window);  // once
    EXPECT_EQ(Ask(c, "register-null-window"), "1");
    EXPECT_EQ(Ask(c, "deregister-window"), "1");
    EXPECT_EQ(State(c)["clients"], "");
    const DWORD monitor = MonitorOf(c);
    Kill(c);
    EXPECT_TRUE(Ends(monitor, 5000));
}

void WINAPI IgnoreChange(uint32_t*, uint32_t, uint32_t, uintptr_t) {}

// The notification thread holds a reference to the DLL until its last act:
// FreeLibrary leaves the DLL loaded under it, and once the thread is stopped
// the last FreeLibrary unloads it (its detach, under the loader lock, then
// waits for no thread).
TEST_F(LibraryProcesses, ALibraryThreadKeepsTheDllLoadedUntilItEnds) {
    const std::string dll = testing_support::BinDir() + "\\tavcam.dll";
    HMODULE m = LoadLibraryA(dll.c_str());
    ASSERT_NE(m, nullptr) << GetLastError();
    auto reg =
        (decltype(&USBRegisterPNPFunction))(void*)GetProcAddress(m, "USBRegisterPNPFunction");
    ASSERT_NE(reg, nullptr);
    ASSERT_EQ(reg(IgnoreChange, 5), 1);
    FreeLibrary(m);
    EXPECT_EQ(GetModuleHandleA("tavcam.dll"), m) << "the notification thread holds it";
    HMODULE again = LoadLibraryA(dll.c_str());  // the same module, no second attach
    ASSERT_EQ(again, m);
    auto stop =
        (decltype(&PNPFunctionThreadStop))(void*)GetProcAddress(again, "PNPFunctionThreadStop");
    ASSERT_NE(stop, nullptr);
    EXPECT_EQ(stop(), 1);
    FreeLibrary(again);
    EXPECT_EQ(GetModuleHandleA("tavcam.dll"), nullptr) << "unloaded once the thread let go";
}

TEST_F(LibraryProcesses, ACameraArrivingAndLeavingReachesWindowsAndFunctions) {
    FakeCamera camera;
    ASSERT_NE(camera.Port(), 0);
    Client& c = Start();
    ASSERT_TRUE(WaitForCount(c, "2"));
    ASSERT_EQ(Ask(c, "register-window"), "1");
    ASSERT_EQ(Ask(c, "register-fn A 77"), "1");
    // The monitor made this process's named event, and the notification
    // thread opened it.
    const std::string name = "PNPFunctionUSBEvent_Process-" + std::to_string(c.pid) + "_";
    EXPECT_TRUE(WaitFor(
        [&] {
            HANDLE e = OpenEventA(SYNCHRONIZE, FALSE, name.c_str());
            if (e) CloseHandle(e);
            return e != nullptr && State(c)["events"] != "0,0,0,0";
        },
        5000))
        << name;
    // Each change: one notice to the window, one call of the function with
    // code 3 and its user value.
    const std::string notices = "window=N a=N b=0 c=0 cdone=0 d=0 value=77 code=3 bad=0";
    const struct {
        const char* presence;
        char count;
    } changes[] = {{"1,0,0,0,0,0,0,0", '1'}, {"0,0,0,0,0,0,0,0", '2'}};
    for (const auto& change : changes) {
        if (change.count == '1')
            ASSERT_TRUE(WriteCameraFile(devices.path, "cam0.tcp",
                                        "127.0.0.1:" + std::to_string(camera.Port()) + "\n"));
        else
            ASSERT_TRUE(DeleteFileA((devices.path + "\\cam0.tcp").c_str()));
        std::string expected = notices;
        expected[7] = expected[11] = change.count;
        EXPECT_TRUE(WaitFor([&] { return Ask(c, "notices") == expected; }, 5000))
            << Ask(c, "notices");
        EXPECT_EQ(State(c)["presence"], change.presence);
    }
    EXPECT_TRUE(Exit(c));
}

}  // namespace
}  // namespace windows_tests

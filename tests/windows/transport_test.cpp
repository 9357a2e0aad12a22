// The Windows platform layer's loopback-TCP cameras, in-process against a
// fake camera: which files open, the enumeration's order, the request bytes
// on the wire, failures and broken connections, a stream read ended by a
// close, the device-change notice, and that nothing of it happens without
// TAVCAM_DEVICE_DIR.
#include <gtest/gtest.h>

#include <thread>

#include "device/device.h"
#include "fake_camera.h"
#include "platform/platform.h"
#include "support/testing.h"

namespace windows_tests {
namespace {

constexpr DWORD kSendRequest = 0x222050;
constexpr DWORD kReadStream = 0x222082;

class TcpCameras : public ::testing::Test {
  protected:
    testing_support::TempDir dir;
    FakeCamera camera;

    void SetUp() override {
        ASSERT_FALSE(dir.path.empty());
        ASSERT_NE(camera.Port(), 0);
        SetEnvironmentVariableA("TAVCAM_DEVICE_DIR", dir.path.c_str());
    }
    void TearDown() override { SetEnvironmentVariableA("TAVCAM_DEVICE_DIR", nullptr); }

    std::string Line() const { return "127.0.0.1:" + std::to_string(camera.Port()) + "\n"; }
    std::string Path(const std::string& name) const { return dir.path + "\\" + name; }

    bool WaitForConnections(int n) {
        for (DWORD start = GetTickCount(); GetTickCount() - start <= 2000; Sleep(10))
            if (camera.Connections() == n) return true;
        return camera.Connections() == n;
    }

    HANDLE Open(const std::string& name) {
        return plat::CreateFileA(Path(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    }
};

TEST_F(TcpCameras, OnlyALoopbackLineOpens) {
    struct Case {
        std::string contents;
        bool opens;
    };
    const std::string port = std::to_string(camera.Port());
    const Case cases[] = {
        {"127.0.0.1:" + port + "\n", true},
        {"127.0.0.1:" + port, true},
        {"127.0.0.1:" + port + "\r\n", true},
        {"10.0.0.1:" + port + "\n", false},  // never off the machine
        {"localhost:" + port + "\n", false},
        {"127.0.0.1:0\n", false},
        {"127.0.0.1:" + port + " more\n", false},
        {"", false},
    };
    int connections = 0;
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteCameraFile(dir.path, "cam0.tcp", c.contents));
        HANDLE h = Open("cam0.tcp");
        EXPECT_EQ(h != INVALID_HANDLE_VALUE, c.opens) << c.contents;
        if (c.opens) ++connections;
        if (h != INVALID_HANDLE_VALUE)
            EXPECT_TRUE(plat::CloseHandle(h));
        else
            EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND) << c.contents;
        EXPECT_TRUE(WaitForConnections(connections)) << c.contents;
    }
}

TEST_F(TcpCameras, EnumerationListsTheCameraFilesInByteOrder) {
    for (const char* name : {"b.tcp", "a2.tcp", "a.tcp", "note.txt", "c.tcp.old"})
        ASSERT_TRUE(WriteCameraFile(dir.path, name, Line()));
    ASSERT_TRUE(CreateDirectoryA(Path("d.tcp").c_str(), nullptr));
    const GUID any = {};
    HDEVINFO set =
        plat::SetupDiGetClassDevsA(&any, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    std::vector<std::string> paths;
    for (DWORD i = 0;; ++i) {
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        if (!plat::SetupDiEnumDeviceInterfaces(set, nullptr, &any, i, &data)) {
            EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_MORE_ITEMS);
            break;
        }
        DWORD need = 0;
        plat::SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &need, nullptr);
        std::vector<char> bytes(need);
        auto* detail = (PSP_DEVICE_INTERFACE_DETAIL_DATA_A)bytes.data();
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        ASSERT_TRUE(
            plat::SetupDiGetDeviceInterfaceDetailA(set, &data, detail, need, nullptr, nullptr));
        paths.push_back(detail->DevicePath);
    }
    EXPECT_TRUE(plat::SetupDiDestroyDeviceInfoList(set));
    EXPECT_EQ(paths, (std::vector<std::string>{Path("a.tcp"), Path("a2.tcp"), Path("b.tcp")}));
    // The library's enumeration takes them into its path table in that order.
    EXPECT_EQ(tav::EnumerateCameras(), 3);
    char path[tav::kPathBytes];
    ASSERT_TRUE(tav::CameraPath(1, path));
    EXPECT_EQ(std::string(path), Path("a2.tcp"));
}

TEST_F(TcpCameras, ARequestIsOneProtocolMessageAndItsAnswerComesBack) {
    ASSERT_TRUE(WriteCameraFile(dir.path, "cam0.tcp", Line()));
    HANDLE h = Open("cam0.tcp");
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    uint8_t in[3] = {0x11, 0x22, 0x33};
    uint8_t out[64] = {};
    DWORD got = 0;
    ASSERT_TRUE(plat::DeviceIoControl(h, kSendRequest, in, 3, out, 64, &got, nullptr));
    EXPECT_EQ(got, 64u);
    EXPECT_EQ(out[0], 0xA5);
    EXPECT_EQ(out[63], 0xA5);
    auto requests = camera.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0], (std::vector<uint8_t>{0x50, 0x20, 0x22, 0, 3, 0, 0, 0, 64, 0, 0, 0, 0x11,
                                                 0x22, 0x33}));
    // A failure answer: the server's error number; the handle stays usable.
    camera.FailNext(31);
    EXPECT_FALSE(plat::DeviceIoControl(h, kSendRequest, in, 3, nullptr, 0, &got, nullptr));
    EXPECT_EQ(GetLastError(), 31u);
    EXPECT_TRUE(plat::DeviceIoControl(h, kSendRequest, in, 3, nullptr, 0, &got, nullptr));
    // Refused before anything is sent.
    EXPECT_FALSE(plat::DeviceIoControl(h, kSendRequest, in, 65537, nullptr, 0, &got, nullptr));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
    EXPECT_EQ(camera.Requests().size(), 3u);
    // A connection the server dropped stays broken: nothing more is sent.
    camera.DropNext();
    EXPECT_FALSE(plat::DeviceIoControl(h, kSendRequest, in, 3, nullptr, 0, &got, nullptr));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_FALSE(plat::DeviceIoControl(h, kSendRequest, in, 3, nullptr, 0, &got, nullptr));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(camera.Requests().size(), 4u);
    EXPECT_TRUE(plat::CloseHandle(h));
}

TEST_F(TcpCameras, ClosingTheHandleEndsAWaitingStreamRead) {
    ASSERT_TRUE(WriteCameraFile(dir.path, "cam0.tcp", Line()));
    HANDLE h = Open("cam0.tcp");
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    camera.HoldStreamReads(true);
    std::atomic<int> result{-1};
    std::atomic<DWORD> error{0};
    std::thread reader([&] {
        std::vector<uint8_t> buffer(1 << 16);
        DWORD got = 0;
        BOOL ok = plat::DeviceIoControl(h, kReadStream, nullptr, 0, buffer.data(),
                                        (DWORD)buffer.size(), &got, nullptr);
        error.store(GetLastError());
        result.store(ok ? 1 : 0);
    });
    Sleep(300);
    EXPECT_EQ(result.load(), -1);  // it waits, as the driver's read does
    EXPECT_TRUE(plat::CloseHandle(h));
    DWORD start = GetTickCount();
    while (result.load() < 0 && GetTickCount() - start < 5000) Sleep(10);
    EXPECT_EQ(result.load(), 0);
    EXPECT_EQ(error.load(), (DWORD)ERROR_DEVICE_NOT_CONNECTED);
    camera.HoldStreamReads(false);
    reader.join();
}

// The monitor's window gets WM_DEVICECHANGE (7, 0) when camera files come and go.
TEST_F(TcpCameras, CameraFilesComingAndGoingReachTopLevelWindows) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "TcpCamerasWatch";
    RegisterClassExA(&wc);
    HWND window = CreateWindowExA(0, wc.lpszClassName, "watch", 0, 0, 0, 10, 10, nullptr, nullptr,
                                  nullptr, nullptr);
    ASSERT_NE(window, nullptr) << "top-level windows need a display (xvfb-run)";
    plat::StartDeviceWatch();
    auto noticeWithin = [&](DWORD ms) {
        for (DWORD start = GetTickCount(); GetTickCount() - start <= ms; Sleep(10)) {
            MSG msg;
            while (PeekMessageA(&msg, window, WM_DEVICECHANGE, WM_DEVICECHANGE, PM_REMOVE))
                if (msg.wParam == DBT_DEVNODES_CHANGED && msg.lParam == 0) return true;
        }
        return false;
    };
    Sleep(300);  // the watch has taken its first look
    ASSERT_TRUE(WriteCameraFile(dir.path, "cam0.tcp", Line()));
    EXPECT_TRUE(noticeWithin(1000)) << "arrival";
    ASSERT_TRUE(WriteCameraFile(dir.path, "note.txt", Line()));
    EXPECT_FALSE(noticeWithin(600)) << "not a camera file";
    ASSERT_TRUE(DeleteFileA(Path("cam0.tcp").c_str()));
    EXPECT_TRUE(noticeWithin(1000)) << "departure";
    plat::StopDeviceWatch();
    DestroyWindow(window);
}

// What a Windows user gets: without the variable every call is the system's.
TEST(TcpCamerasOff, WithoutTheVariableTheSystemAnswers) {
    testing_support::TempDir dir;
    FakeCamera camera;
    SetEnvironmentVariableA("TAVCAM_DEVICE_DIR", nullptr);
    ASSERT_TRUE(
        WriteCameraFile(dir.path, "cam0.tcp", "127.0.0.1:" + std::to_string(camera.Port())));
    // The system opens the file as a file, and it is no device.
    HANDLE h = plat::CreateFileA((dir.path + "\\cam0.tcp").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD got = 0;
    uint8_t in[3] = {};
    EXPECT_FALSE(plat::DeviceIoControl(h, kSendRequest, in, 3, nullptr, 0, &got, nullptr));
    EXPECT_TRUE(plat::CloseHandle(h));
    // The driver's interface class has no member here: the enumeration ends at once.
    EXPECT_EQ(tav::EnumerateCameras(), 0);
    EXPECT_EQ(camera.Connections(), 0);
}

}  // namespace
}  // namespace windows_tests

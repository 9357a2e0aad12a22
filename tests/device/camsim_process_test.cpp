// End to end with real pauses: the library against the tavcam-camsim program
// running as a process of its own, as an application meets a camera server;
// the program's options, hot-plug signals, clean exit and state file.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "core/attach.h"
#include "device/device.h"
#include "device_fixture.h"
#include "tavcam.h"

extern char** environ;

namespace device_test {
namespace {

uint64_t MsSince(std::chrono::steady_clock::time_point since) {
    return (uint64_t)std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now() - since)
        .count();
}

TEST(CamsimProcessTest, TheLibraryMeetsTheProgramWithRealPausesUntilItEnds) {
    const std::string program = testing_support::BinDir() + "/tavcam-camsim";
    if (access(program.c_str(), X_OK) != 0) GTEST_SKIP() << "no " << program;
    testing_support::TempDir dir;
    const std::string devices = dir.path + "/devices", state = dir.path + "/flash.state";
    tav::UsePrivateSharedData();
    setenv("TAVCAM_DEVICE_DIR", devices.c_str(), 1);
    std::vector<std::string> args = {
        program,         "--dir",    devices,
        "--state",       state,      "--camera",
        "long:LineScan", "--camera", "twobyte:AreaCam:format=110,fixed"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    struct Ender {  // the program ends with the test, also when it stops early
        pid_t& pid;
        ~Ender() {
            if (pid > 0) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
            unsetenv("TAVCAM_DEVICE_DIR");
        }
    } ender{pid};
    const std::string cam1 = devices + "/cam1.sock";
    auto present = [&](bool wanted) {  // waits at most 5 s for cam1 to come or go
        for (int i = 0; i < 500 && (access(cam1.c_str(), F_OK) == 0) != wanted; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return (access(cam1.c_str(), F_OK) == 0) == wanted;
    };
    ASSERT_TRUE(present(true));

    // Two records of 32 reads each, 25 ms between request and reply.
    CameraList list{};
    auto start = std::chrono::steady_clock::now();
    ::testing::internal::CaptureStdout();
    USBGetSuppDeviceList(&list);
    ::testing::internal::GetCapturedStdout();
    EXPECT_GE(MsSince(start), 2u * 32 * 25);
    EXPECT_EQ(list.nCount, 2u);
    EXPECT_STREQ(list.szNames[0], "LineScan-0");
    EXPECT_STREQ(list.szNames[1], "AreaCam-1");
    // The options reach the record: model 5, the first format's code 110.
    std::vector<uint8_t> record(2016);
    ASSERT_EQ(ReadDataFromFlash(1, 0, 2016, record.data()), 1);
    EXPECT_EQ(record[1420], 5);
    EXPECT_EQ(record[76], 110);

    // Begin 30, at least one poll 50, two pieces of 51 and the final one 50 each.
    std::vector<uint8_t> data(138), back(138);
    for (size_t i = 0; i < data.size(); ++i) data[i] = (uint8_t)(i ^ 0x5C);
    start = std::chrono::steady_clock::now();
    ASSERT_EQ(WriteDataToFlash(1, 1, 138, data.data()), 1);
    EXPECT_GE(MsSince(start), 30u + 50 + 3 * 50);
    ASSERT_EQ(ReadDataFromFlash(1, 1, 138, back.data()), 1);
    EXPECT_EQ(back, data);
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(SetRegister("LineScan-0", 0x31, 0x1234), 1);
    uint8_t high = 0, low = 0;
    EXPECT_EQ(ReceiveI2C(0, tav::kProbeI2CAddress, 0, &high, &low), 1);
    EXPECT_GE(MsSince(start), 200u);

    // Hot-plug by signal: unplugged, the camera is gone; plugged back, the
    // library reaches it again.
    kill(pid, SIGUSR1);
    EXPECT_TRUE(present(false));
    EXPECT_EQ(SendCommand(1, tav::CMD_WRITE_REG, 0x800, 1, 0), 0);
    kill(pid, SIGUSR2);
    EXPECT_TRUE(present(true));
    EXPECT_EQ(SendCommand(1, tav::CMD_WRITE_REG, 0x800, 1, 0), 1);

    // A clean exit removes the sockets; the state file the program wrote
    // brings the camera back as it was.
    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    pid = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_NE(access(cam1.c_str(), F_OK), 0);
    EXPECT_NE(access((devices + "/cam0.sock").c_str(), F_OK), 0);
    sim::Server* s = sim::Start(devices, state);
    ASSERT_NE(s, nullptr);
    int b = sim::Plug(s, sim::MakeProfile(sim::Model::TwoByteMarkers, "AreaCam", "cam1.sock"));
    std::vector<uint8_t> page = sim::Flash(s, b, 1);
    page.resize(138);
    EXPECT_EQ(page, data);
    sim::Stop(s);
}

}  // namespace
}  // namespace device_test

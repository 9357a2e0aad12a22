// End to end with real pauses: the library against the tavcam-camsim program
// running as a process of its own, as an application meets a camera server.
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "core/attach.h"
#include "device/device.h"
#include "device_fixture.h"
#include "platform/platform.h"
#include "tavcam.h"

extern char** environ;

namespace device_test {
namespace {

class CamsimProcessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string program = testing_support::BinDir() + "/tavcam-camsim";
        if (access(program.c_str(), X_OK) != 0) GTEST_SKIP() << "no " << program;
        tav::UsePrivateSharedData();
        setenv("TAVCAM_DEVICE_DIR", dir_.path.c_str(), 1);
        std::vector<std::string> args = {program,         "--dir",    dir_.path,      "--camera",
                                         "long:LineScan", "--camera", "short:AreaCam"};
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        ASSERT_EQ(posix_spawn(&server_, program.c_str(), nullptr, nullptr, argv.data(), environ),
                  0);
        // Wait (bounded) for both camera sockets to appear.
        for (int i = 0; i < 500 && !Ready(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(Ready());
    }
    void TearDown() override {
        if (server_ > 0) {
            kill(server_, SIGTERM);
            int status = 0;
            waitpid(server_, &status, 0);
        }
        unsetenv("TAVCAM_DEVICE_DIR");
    }
    bool Ready() const {
        return std::filesystem::exists(dir_.path + "/cam0.sock") &&
               std::filesystem::exists(dir_.path + "/cam1.sock");
    }
    static uint64_t ElapsedMs(std::chrono::steady_clock::time_point since) {
        return (uint64_t)std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - since)
            .count();
    }

    testing_support::TempDir dir_;
    pid_t server_ = -1;
};

// The camera list reads both records, 32 reads each with 25 ms between
// request and reply; a SaveData write (begin 30, at least one poll 50, two
// pieces of 51 and the final one 50 each) reads back; commands take their
// 100 ms.
TEST_F(CamsimProcessTest, TheLibraryMeetsTheProgramWithRealPauses) {
    CameraList list{};
    auto start = std::chrono::steady_clock::now();
    ::testing::internal::CaptureStdout();
    USBGetSuppDeviceList(&list);
    ::testing::internal::GetCapturedStdout();
    EXPECT_GE(ElapsedMs(start), 2u * 32 * 25);
    EXPECT_EQ(list.nCount, 2u);
    EXPECT_STREQ(list.szNames[0], "LineScan-0");
    EXPECT_STREQ(list.szNames[1], "AreaCam-1");

    std::vector<uint8_t> data(138), back(138);
    for (size_t i = 0; i < data.size(); ++i) data[i] = (uint8_t)(i ^ 0x5C);
    start = std::chrono::steady_clock::now();
    ASSERT_EQ(WriteDataToFlash(1, 1, 138, data.data()), 1);
    EXPECT_GE(ElapsedMs(start), 30u + 50 + 3 * 50);
    ASSERT_EQ(ReadDataFromFlash(1, 1, 138, back.data()), 1);
    EXPECT_EQ(back, data);

    start = std::chrono::steady_clock::now();
    EXPECT_EQ(SetRegister("LineScan-0", 0x31, 0x1234), 1);
    uint8_t high = 0, low = 0;
    EXPECT_EQ(ReceiveI2C(0, tav::kProbeI2CAddress, 0, &high, &low), 1);
    EXPECT_GE(ElapsedMs(start), 200u);
}

}  // namespace
}  // namespace device_test

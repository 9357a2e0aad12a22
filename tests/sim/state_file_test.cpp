// Flash that survives a restart of the simulator through its state file, the
// state file's resistance to torn writes, and the tavcam-camsim program.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "sim_client.h"

extern char** environ;

namespace simtest {
namespace {

class StateFileTest : public ::testing::Test {
  protected:
    sim::Server* Restart(sim::Server* old) {
        sim::Stop(old);
        return sim::Start(devices_, state_);
    }
    HANDLE Open(sim::Server* s, int cam) { return Open(sim::SocketPath(s, cam)); }
    HANDLE Open(const std::string& path) {
        return plat::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    }
    testing_support::TempDir dir_;
    std::string devices_ = dir_.path + "/devices";
    std::string state_ = dir_.path + "/flash.state";
    sim::Profile a_ = sim::MakeProfile(sim::Model::LongLayout, "LineScan", "a.sock");
    sim::Profile b_ = sim::MakeProfile(sim::Model::ShortLayout, "AreaCam", "b.sock");
};

TEST_F(StateFileTest, FlashSurvivesARestartForEveryCameraOfTheFile) {
    sim::Server* s = sim::Start(devices_, state_);
    int a = sim::Plug(s, a_);
    HANDLE h = Open(s, a);
    WriteFlash(h, 1, Pattern(202, 1), true);
    plat::CloseHandle(h);

    // Second run: only b is plugged; its write must keep a's pages in the file.
    s = Restart(s);
    int b = sim::Plug(s, b_);
    h = Open(s, b);
    WriteFlash(h, 2, Pattern(51, 2), true);
    plat::CloseHandle(h);

    s = Restart(s);
    a = sim::Plug(s, a_);
    b = sim::Plug(s, b_);
    Bytes pa = sim::Flash(s, a, 1);
    EXPECT_EQ(Bytes(pa.begin(), pa.begin() + 202), Pattern(202, 1));
    EXPECT_EQ(pa[202], 0xFF);
    Bytes pb = sim::Flash(s, b, 2);
    EXPECT_EQ(Bytes(pb.begin(), pb.begin() + 51), Pattern(51, 2));
    EXPECT_TRUE(std::equal(b_.page1.begin(), b_.page1.end(), sim::Flash(s, b, 1).begin()));
    // SetFlash is kept too.
    sim::SetFlash(s, a, 0, Pattern(2016, 3));
    s = Restart(s);
    a = sim::Plug(s, a_);
    Bytes p0 = sim::Flash(s, a, 0);
    EXPECT_EQ(Bytes(p0.begin(), p0.begin() + 2016), Pattern(2016, 3));
    sim::Stop(s);
}

TEST_F(StateFileTest, TornWritesNeverReachTheFile) {
    sim::Server* s = sim::Start(devices_, state_);
    int a = sim::Plug(s, a_);
    HANDLE h = Open(s, a);
    WriteFlash(h, 1, Pattern(102, 4), true);
    // A second sequence that never completes: the server goes away before its final write.
    WriteFlash(h, 1, Pattern(202, 5), false);
    plat::CloseHandle(h);
    s = Restart(s);
    a = sim::Plug(s, a_);
    Bytes page = sim::Flash(s, a, 1);
    EXPECT_EQ(Bytes(page.begin(), page.begin() + 102), Pattern(102, 4));
    sim::Stop(s);

    // A temporary file left by a server killed while writing is ignored.
    {
        std::ofstream junk(state_ + ".tmp", std::ios::binary);
        junk << "half a state file";
    }
    s = sim::Start(devices_, state_);
    a = sim::Plug(s, a_);
    page = sim::Flash(s, a, 1);
    EXPECT_EQ(Bytes(page.begin(), page.begin() + 102), Pattern(102, 4));
    sim::Stop(s);

    // A damaged file is not trusted: the cameras start from their profiles.
    struct stat st;
    ASSERT_EQ(stat(state_.c_str(), &st), 0);
    ASSERT_EQ(truncate(state_.c_str(), st.st_size - 1), 0);
    s = sim::Start(devices_, state_);
    a = sim::Plug(s, a_);
    page = sim::Flash(s, a, 1);
    EXPECT_TRUE(std::equal(a_.page1.begin(), a_.page1.end(), page.begin()));
    sim::Stop(s);
}

TEST_F(StateFileTest, TheProgramServesItsCamerasUntilTerminated) {
    const std::string program = testing_support::BinDir() + "/tavcam-camsim";
    if (access(program.c_str(), X_OK) != 0) GTEST_SKIP() << "no " << program;
    std::vector<std::string> args = {
        program,         "--dir",    devices_,
        "--state",       state_,     "--camera",
        "long:LineScan", "--camera", "twobyte:AreaCam:format=110,fixed"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    const std::string cam1 = devices_ + "/cam1.sock";
    auto waitFor = [&](bool present) {  // at most 2 s
        for (int i = 0; i < 2000 && (access(cam1.c_str(), F_OK) == 0) != present; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return (access(cam1.c_str(), F_OK) == 0) == present;
    };
    ASSERT_TRUE(waitFor(true));
    HANDLE h = Open(cam1);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    // The record of the second camera: model 5, format code 110 at offset 8 + 68.
    ASSERT_TRUE(Send(h, Block(0, 3, {0x05, 0x80, 64, 0, 0, 0})));  // offset 1408
    Bytes a = Fetch(h);
    EXPECT_EQ(a[12], 5);  // CameraModel at 1420
    EXPECT_EQ(std::string((const char*)&a[16]), "AreaCam");
    ASSERT_TRUE(Send(h, Block(0, 3, {0x00, 0x40, 64, 0, 0, 0})));  // offset 64
    EXPECT_EQ(Fetch(h)[76 - 64], 110);
    WriteFlash(h, 1, Pattern(60, 7), true);
    plat::CloseHandle(h);

    // Hot-plug by signal: unplugged, the camera is gone; plugged back, it opens again.
    kill(pid, SIGUSR1);
    EXPECT_TRUE(waitFor(false));
    kill(pid, SIGUSR2);
    EXPECT_TRUE(waitFor(true));
    h = Open(cam1);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    plat::CloseHandle(h);

    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_NE(access(cam1.c_str(), F_OK), 0) << "sockets are removed on exit";
    EXPECT_NE(access((devices_ + "/cam0.sock").c_str(), F_OK), 0);

    // The state file the program wrote brings the camera back as it was.
    sim::Server* s = sim::Start(devices_, state_);
    int b = sim::Plug(s, sim::MakeProfile(sim::Model::TwoByteMarkers, "AreaCam", "cam1.sock"));
    Bytes page = sim::Flash(s, b, 1);
    EXPECT_EQ(Bytes(page.begin(), page.begin() + 60), Pattern(60, 7));
    sim::Stop(s);
}

}  // namespace
}  // namespace simtest

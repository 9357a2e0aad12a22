// Flash that survives a restart of the simulator through its state file, and
// the state file's resistance to torn writes. (The tavcam-camsim program and
// the state file it writes: device_tests' CamsimProcessTest.)
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "sim_client.h"

namespace simtest {
namespace {

class StateFileTest : public ::testing::Test {
  protected:
    sim::Server* Restart(sim::Server* old) {
        sim::Stop(old);
        return sim::Start(devices_, state_);
    }
    HANDLE Open(sim::Server* s, int cam) {
        return plat::CreateFileA(sim::SocketPath(s, cam).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
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

}  // namespace
}  // namespace simtest

// The simulator's answers that fuzzing and the fault matrix rely on: a reply
// cut short, a camera that stops answering, a camera unplugged while it serves
// a request, and the hook through which outside bytes become the camera's answer.
#include <sys/stat.h>

#include <chrono>

#include "platform/posix/devices/device_file.h"
#include "sim_client.h"

namespace simtest {
namespace {

using Clock = std::chrono::steady_clock;

bool SocketExists(sim::Server* server, int camera) {
    struct stat st;
    return stat(sim::SocketPath(server, camera).c_str(), &st) == 0;
}

TEST_F(SimTest, ShortReplyReturnsTwoBytesOfTheAnswerOnce) {
    int cam = PlugCamera(sim::Model::Busy, "Busy", "cam0.sock");
    sim::SetBusyStatus(server_, cam, 0x01020304);
    sim::InjectFault(server_, cam, sim::Fault::ShortReply, 0, 1);
    HANDLE h = Open(cam);
    ASSERT_TRUE(Send(h, Block(0, 100, {}, 2)));
    Result first = Ioctl(h, kReadReply, Bytes{1, 0, 0, 0, 64, 0, 0, 0}, 64);
    EXPECT_TRUE(first.ok);
    EXPECT_EQ(first.returned, 2u);
    EXPECT_EQ(Bytes(first.out.begin(), first.out.begin() + 2), (Bytes{0x01, 0x02}));
    EXPECT_EQ(Fetch(h).size(), 64u);  // the fault was for one fetch
    plat::CloseHandle(h);
}

TEST_F(SimTest, ACameraThatStopsAnsweringHoldsTheRequestUntilTheClientGivesUp) {
    int cam = PlugCamera(sim::Model::LongLayout, "Long", "cam0.sock");
    sim::InjectFault(server_, cam, sim::Fault::NoAnswer, kSendRequest, 1);
    const uint32_t saved = plat::posix::DeviceReplyTimeout();
    plat::posix::SetDeviceReplyTimeout(300);
    HANDLE h = Open(cam);
    const auto start = Clock::now();
    Result r = Ioctl(h, kSendRequest, Block(0, 8, {0x08, 0x00, 0, 1, 0, 0}), 0);
    const auto waited = Clock::now() - start;
    plat::posix::SetDeviceReplyTimeout(saved);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, (DWORD)ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_GE(waited, std::chrono::milliseconds(250));
    plat::CloseHandle(h);
    // The silence was one request's: the camera answers a new handle.
    HANDLE again = Open(cam);
    EXPECT_TRUE(Send(again, Block(0, 8, {0x08, 0x00, 0, 1, 0, 0})));
    plat::CloseHandle(again);
    std::vector<sim::Request> log = sim::Log(server_, cam);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_FALSE(log[0].ok);
}

TEST_F(SimTest, AnUnplugDuringARequestBreaksEveryConnectionAndPlugBackRestoresTheCamera) {
    int cam = PlugCamera(sim::Model::LongLayout, "Long", "cam0.sock");
    HANDLE bystander = Open(cam);
    HANDLE h = Open(cam);
    sim::InjectFault(server_, cam, sim::Fault::Unplug, kReadReply, 1);
    ASSERT_TRUE(Send(h, Block(0, 9, {0x10}, 3)));
    Result r = Ioctl(h, kReadReply, Bytes{1, 0, 0, 0, 64, 0, 0, 0}, 64);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, (DWORD)ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_FALSE(SocketExists(server_, cam));
    EXPECT_FALSE(Send(bystander, Block(0, 9, {0x10}, 3)));
    plat::CloseHandle(h);
    plat::CloseHandle(bystander);

    sim::PlugBack(server_, cam);
    EXPECT_TRUE(SocketExists(server_, cam));
    HANDLE back = Open(cam);
    EXPECT_TRUE(Send(back, Block(0, 9, {0x10}, 3)));
    EXPECT_EQ(Fetch(back).size(), 64u);
    plat::CloseHandle(back);
}

// The hook of one test: counts what it saw and rewrites reply fetches and
// stream reads.
struct Rewrite {
    int replies = 0;
    int reads = 0;
};

void RewriteAnswer(uint32_t code, const std::vector<uint8_t>& input, sim::Answer* answer,
                   void* context) {
    auto* w = static_cast<Rewrite*>(context);
    if (code == kReadReply) {
        ++w->replies;
        EXPECT_EQ(input.size(), 8u);
        answer->data.assign(64, 0xAB);
    }
    if (code == kReadStream) {
        ++w->reads;
        answer->data.resize(answer->data.size() + 100, 0xCD);  // longer than asked for
        if (w->reads == 2) answer->ok = false;
    }
}

TEST_F(SimTest, TheAnswerHookReplacesRepliesAndTransfersCutToTheCapacity) {
    int cam = PlugCamera(sim::Model::LongLayout, "Long", "cam0.sock");
    sim::SetFramesPerSecond(server_, cam, 0);
    Rewrite w;
    sim::SetAnswerHook(server_, cam, RewriteAnswer, &w);
    HANDLE h = Open(cam);
    ASSERT_TRUE(Send(h, Block(0, 9, {0x10}, 3)));
    EXPECT_EQ(Fetch(h), Bytes(64, 0xAB));

    const uint32_t transfer = 64 * 20;
    ASSERT_TRUE(Ioctl(h, kStartStream, SetupBlock(64, 20, 1, 1, 2), 0).ok);
    Result first = Ioctl(h, kReadStream, {}, transfer);
    EXPECT_TRUE(first.ok);
    EXPECT_EQ(first.returned, transfer);
    Result second = Ioctl(h, kReadStream, {}, transfer);
    EXPECT_FALSE(second.ok);
    EXPECT_EQ(w.replies, 1);
    EXPECT_EQ(w.reads, 2);

    sim::SetAnswerHook(server_, cam, nullptr, nullptr);
    ASSERT_TRUE(Send(h, Block(0, 9, {0x10}, 3)));
    EXPECT_EQ(Fetch(h), Bytes(64, 0));
    plat::CloseHandle(h);
}

}  // namespace
}  // namespace simtest
// The simulated camera's firmware where the library's tests rely on its
// strictness: a flash page changes only through the whole write sequence, a
// table upload ends at the first request of another length, each handle
// gets the answer to its own question; and the hook through which the fuzz
// harnesses' bytes become the camera's answers. (What the firmware answers,
// and its injected faults, are checked through the library's own tests: the
// flash, acquisition and fault-matrix tests fail without them.)
#include <string.h>

#include <algorithm>

#include "include/tavcam.h"
#include "sim_client.h"

namespace simtest {
namespace {

uint16_t Status(HANDLE h, uint8_t page) {
    EXPECT_TRUE(Send(h, FlashBlock(page, 0)));
    Bytes a = Fetch(h);
    return a.size() == 64 ? (uint16_t)(a[0] << 8 | a[1]) : 0xFFFF;
}

TEST_F(SimTest, FlashChangesOnlyThroughTheWholeWriteSequence) {
    sim::Profile p = sim::MakeProfile(sim::Model::LongLayout, "LineScan", "a.sock");
    p.flashBusyPolls = 2;
    int cam = sim::Plug(server_, p);
    HANDLE h = Open(cam);
    const Bytes original = sim::Flash(server_, cam, 1);
    ASSERT_EQ(original.size(), sim::kFlashPageBytes);

    // No write without a begin, and none before the status said ready.
    EXPECT_FALSE(Send(h, WritePiece(1, 0, Bytes(10, 1), 10)));
    ASSERT_TRUE(Send(h, FlashBlock(1, 1)));
    EXPECT_FALSE(Send(h, WritePiece(1, 0, Bytes(51, 1), 51)));
    EXPECT_EQ(Status(h, 1), 0x0080);  // busy twice, as the profile says
    EXPECT_EQ(Status(h, 1), 0x0080);
    EXPECT_EQ(Status(h, 1), 0x0001);  // ready: the page number
    // Nothing is committed before the final, shorter piece.
    const Bytes data = Pattern(202, 5);
    for (uint16_t k = 0; k < 153; k += 51) {
        ASSERT_TRUE(Send(h, WritePiece(1, k, data, 51)));
        EXPECT_EQ(sim::Flash(server_, cam, 1), original) << "committed at " << k;
    }
    ASSERT_TRUE(Send(h, WritePiece(1, 153, data, 49)));
    Bytes page = sim::Flash(server_, cam, 1);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), page.begin()));
    EXPECT_EQ(std::count(page.begin() + 202, page.end(), 0xFF), (long)(page.size() - 202));
    EXPECT_FALSE(Send(h, FlashBlock(3, 1)));  // no page 3

    // A failed status abandons the sequence; a sequence cut short before its
    // final piece leaves the page as it was.
    sim::InjectFault(server_, cam, sim::Fault::FlashWriteError, 0, 1);
    ASSERT_TRUE(Send(h, FlashBlock(1, 1)));
    EXPECT_EQ(Status(h, 1), 0x0020);
    EXPECT_FALSE(Send(h, WritePiece(1, 0, Bytes(3, 0), 3)));
    WriteFlash(h, 1, Pattern(202, 1), false);
    plat::CloseHandle(h);
    EXPECT_EQ(sim::Flash(server_, cam, 1), page);
}

TEST_F(SimTest, TablesEndAtAnotherRequestAndAnswersGoToTheirHandle) {
    sim::Profile p = sim::MakeProfile(sim::Model::LongLayout, "AreaCam", "a.sock");
    int cam = sim::Plug(server_, p);
    HANDLE h = Open(cam);
    // A table: the announcement, data requests of length 64, ended by the
    // first request of another length.
    ASSERT_TRUE(Send(h, Block(7, 6, {7, 0xFF, 0xFF})));
    Bytes piece(8, 0), data = Pattern(64, 1);
    piece[4] = 64;
    piece.insert(piece.end(), data.begin(), data.end());
    ASSERT_TRUE(Send(h, piece));
    ASSERT_TRUE(Send(h, Block(122, 7, {0x05, 0x56, 0x34})));  // ends the upload
    EXPECT_EQ(sim::Table(server_, cam, 7), data);
    Send(h, piece);  // now taken as a command again, not table data
    EXPECT_EQ(sim::Table(server_, cam, 7), data);

    // Answers belong to the handle that asked.
    HANDLE other = Open(cam);
    ASSERT_TRUE(Send(h, Block(0, 3, {0, 0, 64, 0, 0, 0})));
    ASSERT_TRUE(Send(other, Block(122, 9, {0x05})));
    EXPECT_EQ(Fetch(h), Bytes(p.page0.begin(), p.page0.begin() + 64));
    EXPECT_EQ(Fetch(other)[0], 0x56);
    plat::CloseHandle(other);
    plat::CloseHandle(h);
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

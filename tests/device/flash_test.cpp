// Flash pages: reads in pieces of 64, writes in pieces of 51 after the begin
// and the status poll, with their pauses; refusals send nothing.
#include <algorithm>

#include "device/device.h"
#include "device_fixture.h"
#include "tavcam.h"

namespace device_test {
namespace {

class FlashTest : public DeviceTest {
  protected:
    void SetUp() override {
        DeviceTest::SetUp();
        camera_ = Plug(sim::Model::LongLayout, "LineScan", "cam0");
        ASSERT_EQ(Enumerate(), 1);
        ClearLog(camera_);
    }
    std::vector<sim::Request> Sends() {
        std::vector<sim::Request> sends;
        for (const sim::Request& r : Log(camera_))
            if (r.code == tav::IOCTL_CAM_SEND_REQUEST) sends.push_back(r);
        return sends;
    }
    int camera_ = -1;
};

std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = (uint8_t)(i * 31 + seed);
    return bytes;
}

const std::vector<uint8_t> kBegin = Request(8, {1, 1, 0, 0, 0, 0, 0, 0});
const std::vector<uint8_t> kPoll = Request(8, {1, 0, 0, 0, 0, 0, 0, 0});

// The flash write request of one piece: page 1, code 2, offset high byte
// first, count, then the count data bytes from the offset.
std::vector<uint8_t> WritePiece(const std::vector<uint8_t>& data, uint32_t offset, uint32_t count) {
    // Sized once: a vector grown from a five-byte initialiser draws a false
    // -Warray-bounds report from gcc 12 at -O3.
    std::vector<uint8_t> payload(5 + count);
    payload[0] = 1;
    payload[1] = 2;
    payload[2] = (uint8_t)(offset >> 8);
    payload[3] = (uint8_t)offset;
    payload[4] = (uint8_t)count;
    std::copy(data.begin() + offset, data.begin() + offset + count, payload.begin() + 5);
    return Request(count + 5, payload);
}

// Each read asks for pieces of 64 from offset 0 (the last one whole, even
// past the size), fetches each reply 25 ms later, and copies only the size
// asked for: the record (2016 bytes), the short SaveData (138, three
// pieces), and the largest transfer, 16834 bytes of page 2 (264 pieces).
TEST_F(FlashTest, ReadsAreMadeInPiecesOf64WithTheirPauses) {
    sim::SetFlash(server_, camera_, 1, Pattern(192, 5));
    const struct {
        uint8_t page;
        uint32_t size, pieces;
    } cases[] = {{0, 2016, 32}, {1, 138, 3}, {2, 16834, 264}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        ClearLog(camera_);
        const std::vector<uint8_t> page = sim::Flash(server_, camera_, c.page);
        std::vector<uint8_t> data(c.size + 16, 0xEE);  // a guard after the data
        EXPECT_EQ(ReadDataFromFlash(0, c.page, c.size, data.data()), 1);
        if (page.size() >= c.size) {
            EXPECT_TRUE(std::equal(data.begin(), data.begin() + c.size, page.begin()));
        }
        EXPECT_EQ(std::vector<uint8_t>(data.begin() + c.size, data.end()),
                  std::vector<uint8_t>(16, 0xEE));
        std::vector<sim::Request> log = Log(camera_);
        ASSERT_EQ(log.size(), 2 * c.pieces);
        for (uint32_t k = 0; k < c.pieces; ++k) {
            const uint32_t offset = 64 * k;
            const sim::Request &request = log[2 * k], &fetch = log[2 * k + 1];
            EXPECT_EQ(request.code, tav::IOCTL_CAM_SEND_REQUEST);
            EXPECT_EQ(request.input,
                      Request(8, {c.page, 3, (uint8_t)(offset >> 8), (uint8_t)offset, 64, 0, 0, 0}))
                << Hex(request.input);
            EXPECT_EQ(fetch.code, tav::IOCTL_CAM_READ_REPLY);
            EXPECT_EQ(fetch.input, ReplyFetch());
            EXPECT_EQ(fetch.timeMs - request.timeMs, 25u) << "piece " << k;
        }
        EXPECT_EQ(Pauses(), std::vector<uint32_t>(c.pieces, 25));
    }
}

// A fetch that fails, and one whose reply is cut short (2 of its 64 bytes,
// the rest of the piece would read as zeros), end the read alike.
TEST_F(FlashTest, FailedOrShortFetchEndsTheReadWithoutCopying) {
    for (sim::Fault fault : {sim::Fault::FailRequest, sim::Fault::ShortReply}) {
        ClearLog(camera_);
        sim::InjectFault(server_, camera_, fault, tav::IOCTL_CAM_READ_REPLY, 1);
        std::vector<uint8_t> data(2016, 0xEE);
        EXPECT_EQ(ReadDataFromFlash(0, 0, 2016, data.data()), 0) << (int)fault;
        EXPECT_EQ(data, std::vector<uint8_t>(2016, 0xEE)) << (int)fault;
        EXPECT_EQ(Sends().size(), 1u) << (int)fault;
    }
}

// The begin (30 ms), status polls until ready (50 ms each), then pieces of 51
// (50 ms after each), the last one the rest: 49 bytes of 202, or a piece of
// count 0 (input size 13) when the size is a multiple of 51.
TEST_F(FlashTest, WritesAreMadeInPiecesOf51AfterTheBeginAndThePoll) {
    for (uint32_t size : {202u, 102u}) {
        SCOPED_TRACE(size);
        ClearLog(camera_);
        const std::vector<uint8_t> data = Pattern(size, (uint8_t)size);
        testing_support::TraceLog traces;
        EXPECT_EQ(WriteDataToFlash(0, 1, size, data.data()), 1);
        EXPECT_TRUE(traces.Contains("Enter the WriteDataToFlash \r\n"));
        std::vector<sim::Request> sends = Sends();
        ASSERT_GE(sends.size(), 2u);
        EXPECT_EQ(sends[0].input, kBegin);
        size_t polls = 0;
        while (1 + polls < sends.size() && sends[1 + polls].input == kPoll) ++polls;
        ASSERT_GE(polls, 1u);
        const size_t pieces = size / 51 + 1;
        ASSERT_EQ(sends.size(), 1 + polls + pieces);
        for (uint32_t k = 0; k < pieces; ++k)
            EXPECT_EQ(sends[1 + polls + k].input,
                      WritePiece(data, 51 * k, std::min(51u, size - 51 * k)))
                << "piece " << k << ": " << Hex(sends[1 + polls + k].input);
        std::vector<uint32_t> pauses = {30};
        pauses.insert(pauses.end(), polls + pieces, 50);
        EXPECT_EQ(Pauses(), pauses);
        EXPECT_TRUE(std::equal(data.begin(), data.end(), sim::Flash(server_, camera_, 1).begin()));
    }
}

// The write's bounds on a camera that lets it down: a failed status ends it
// before any data; a camera never ready is given up after 100 status polls;
// a piece that fails ends the write before the next one.
TEST_F(FlashTest, ANeverReadyCameraOrAFailedPieceEndsTheWrite) {
    const std::vector<uint8_t> before = sim::Flash(server_, camera_, 1), data = Pattern(202, 7);
    sim::InjectFault(server_, camera_, sim::Fault::FlashWriteError, 0, 1);
    EXPECT_EQ(WriteDataToFlash(0, 1, 202, data.data()), 0);
    ASSERT_EQ(Sends().size(), 2u);
    EXPECT_EQ(Sends()[0].input, kBegin);
    EXPECT_EQ(Sends()[1].input, kPoll);
    EXPECT_EQ(Pauses(), std::vector<uint32_t>({30, 50}));
    EXPECT_EQ(sim::Flash(server_, camera_, 1), before);

    ClearLog(camera_);
    sim::InjectFault(server_, camera_, sim::Fault::FailRequest, tav::IOCTL_CAM_SEND_REQUEST, 1, 2);
    EXPECT_EQ(WriteDataToFlash(0, 1, 202, data.data()), 0);
    EXPECT_EQ(Sends().size(), 3u);  // begin, poll, the failed first piece
    EXPECT_EQ(sim::Flash(server_, camera_, 1), before);

    sim::Profile slow = sim::MakeProfile(sim::Model::LongLayout, "Slow", "cam1.sock");
    slow.flashBusyPolls = 1000;
    const int slowCamera = Plug(slow);
    ASSERT_EQ(Enumerate(), 2);
    ClearLog(slowCamera);
    EXPECT_EQ(WriteDataToFlash(1, 1, 202, data.data()), 0);
    size_t polls = 0;
    for (const sim::Request& r : Log(slowCamera)) polls += r.input == kPoll;
    EXPECT_EQ(polls, 100u);
}

TEST_F(FlashTest, RefusedTransfersSendNothing) {
    std::vector<uint8_t> data(16900, 0);
    const struct {
        int32_t index, page;
        uint32_t size;
        uint8_t* buffer;
    } cases[] = {{0, 3, 64, data.data()},
                 {0, 0, 0, data.data()},
                 {0, 0, 16835, data.data()},
                 {0, 0, 64, nullptr},
                 {8, 0, 64, data.data()}};
    for (const auto& c : cases) {
        EXPECT_EQ(ReadDataFromFlash(c.index, c.page, c.size, c.buffer), 0) << c.page << c.size;
        EXPECT_EQ(WriteDataToFlash(c.index, c.page ? c.page : 1, c.size, c.buffer), 0);
    }
    EXPECT_TRUE(Log(camera_).empty());
    EXPECT_TRUE(Pauses().empty());
}

}  // namespace
}  // namespace device_test

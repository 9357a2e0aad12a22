// Flash pages: reads in pieces of 64, writes in pieces of 51 after the begin
// and the status poll, with their pauses; refusals send nothing.
#include <string.h>

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

// The flash write request of one piece: page 1, code 2, offset high byte
// first, count, then the count data bytes from the offset.
std::vector<uint8_t> WritePiece(const std::vector<uint8_t>& data, uint32_t offset, uint32_t count) {
    std::vector<uint8_t> payload(5 + count);
    payload[0] = 1;
    payload[1] = 2;
    payload[2] = (uint8_t)(offset >> 8);
    payload[3] = (uint8_t)offset;
    payload[4] = (uint8_t)count;
    std::copy(data.begin() + offset, data.begin() + offset + count, payload.begin() + 5);
    return Request(count + 5, payload);
}

TEST_F(FlashTest, RecordIsRead64BytesAtATime) {
    std::vector<uint8_t> page0 = sim::Flash(server_, camera_, 0);
    ASSERT_GE(page0.size(), 2016u);
    std::vector<uint8_t> record(2016 + 16, 0xEE);  // a guard after the record
    EXPECT_EQ(ReadDataFromFlash(0, 0, 2016, record.data()), 1);
    EXPECT_TRUE(std::equal(record.begin(), record.begin() + 2016, page0.begin()));
    for (size_t i = 2016; i < record.size(); ++i) ASSERT_EQ(record[i], 0xEE) << i;

    std::vector<sim::Request> log = Log(camera_);
    ASSERT_EQ(log.size(), 64u);
    for (uint32_t k = 0; k < 32; ++k) {
        uint32_t offset = 64 * k;
        const sim::Request& request = log[2 * k];
        const sim::Request& fetch = log[2 * k + 1];
        EXPECT_EQ(request.code, tav::IOCTL_CAM_SEND_REQUEST);
        EXPECT_EQ(request.input,
                  Request(8, {0, 3, (uint8_t)(offset >> 8), (uint8_t)offset, 64, 0, 0, 0}))
            << Hex(request.input);
        EXPECT_EQ(fetch.code, tav::IOCTL_CAM_READ_REPLY);
        EXPECT_EQ(fetch.input, ReplyFetch());
        EXPECT_EQ(fetch.timeMs - request.timeMs, 25u) << "piece " << k;
    }
    EXPECT_EQ(Pauses(), std::vector<uint32_t>(32, 25));
}

TEST_F(FlashTest, ShortSaveDataTakesThreeReadsAndCopiesOnlyItsSize) {
    std::vector<uint8_t> page1 = Pattern(192, 5);
    sim::SetFlash(server_, camera_, 1, page1);
    ClearLog(camera_);
    std::vector<uint8_t> data(192, 0xEE);
    EXPECT_EQ(ReadDataFromFlash(0, 1, 138, data.data()), 1);
    EXPECT_TRUE(std::equal(data.begin(), data.begin() + 138, page1.begin()));
    for (size_t i = 138; i < data.size(); ++i) ASSERT_EQ(data[i], 0xEE) << i;
    std::vector<sim::Request> sends = Sends();
    ASSERT_EQ(sends.size(), 3u);
    EXPECT_EQ(sends[0].input, Request(8, {1, 3, 0, 0, 64, 0, 0, 0}));
    EXPECT_EQ(sends[1].input, Request(8, {1, 3, 0, 64, 64, 0, 0, 0}));
    EXPECT_EQ(sends[2].input, Request(8, {1, 3, 0, 128, 64, 0, 0, 0}));
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

// The write's two bounds on a camera that lets it down: a camera never ready
// is given up after 100 status polls; a piece that fails ends the write
// before the next one (the begin and one poll pass, the first piece fails).
TEST_F(FlashTest, ANeverReadyCameraOrAFailedPieceEndsTheWrite) {
    sim::Profile slow = sim::MakeProfile(sim::Model::LongLayout, "Slow", "cam1.sock");
    slow.flashBusyPolls = 1000;
    const int slowCamera = Plug(slow);
    ASSERT_EQ(Enumerate(), 2);
    const std::vector<uint8_t> data = Pattern(202, 7);
    ClearLog(slowCamera);
    EXPECT_EQ(WriteDataToFlash(1, 1, 202, data.data()), 0);
    size_t polls = 0;
    for (const sim::Request& r : Log(slowCamera))
        polls += r.code == tav::IOCTL_CAM_SEND_REQUEST && r.input[9] == tav::CMD_FLASH_STATUS;
    EXPECT_EQ(polls, 100u);

    ClearLog(camera_);
    sim::InjectFault(server_, camera_, sim::Fault::FailRequest, tav::IOCTL_CAM_SEND_REQUEST, 1, 2);
    EXPECT_EQ(WriteDataToFlash(0, 1, 202, data.data()), 0);
    EXPECT_EQ(Sends().size(), 3u);  // begin, poll, the failed first piece
    EXPECT_NE(sim::Flash(server_, camera_, 1)[0], data[0]);
}

TEST_F(FlashTest, SaveDataIsWrittenIn51BytePiecesAfterBeginAndPoll) {
    std::vector<uint8_t> data = Pattern(202, 9);
    testing_support::TraceLog traces;
    EXPECT_EQ(WriteDataToFlash(0, 1, 202, data.data()), 1);
    EXPECT_TRUE(traces.Contains("Enter the WriteDataToFlash \r\n"));

    std::vector<sim::Request> sends = Sends();
    ASSERT_GE(sends.size(), 6u);
    EXPECT_EQ(sends[0].input, Request(8, {1, 1, 0, 0, 0, 0, 0, 0}));  // begin
    size_t polls = 0;
    while (1 + polls < sends.size() &&
           sends[1 + polls].input == Request(8, {1, 0, 0, 0, 0, 0, 0, 0}))
        ++polls;
    ASSERT_GE(polls, 1u);
    ASSERT_EQ(sends.size(), 1 + polls + 4);
    const uint32_t offsets[] = {0, 51, 102, 153};
    const uint32_t counts[] = {51, 51, 51, 49};
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(sends[1 + polls + k].input, WritePiece(data, offsets[k], counts[k]))
            << "piece " << k << ": " << Hex(sends[1 + polls + k].input);
    // 30 after the begin, 50 in each poll, 50 after each piece.
    std::vector<uint32_t> pauses = {30};
    pauses.insert(pauses.end(), polls + 4, 50);
    EXPECT_EQ(Pauses(), pauses);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), sim::Flash(server_, camera_, 1).begin()));
}

TEST_F(FlashTest, SizeMultipleOf51EndsWithACountZeroPiece) {
    std::vector<uint8_t> data = Pattern(102, 1);
    EXPECT_EQ(WriteDataToFlash(0, 1, 102, data.data()), 1);
    std::vector<sim::Request> sends = Sends();
    ASSERT_GE(sends.size(), 3u);
    EXPECT_EQ(sends[sends.size() - 3].input, WritePiece(data, 0, 51));
    EXPECT_EQ(sends[sends.size() - 2].input, WritePiece(data, 51, 51));
    EXPECT_EQ(sends[sends.size() - 1].input, WritePiece(data, 102, 0));  // input size 13
}

TEST_F(FlashTest, FailedStatusEndsTheWriteBeforeAnyData) {
    std::vector<uint8_t> before = sim::Flash(server_, camera_, 1);
    sim::InjectFault(server_, camera_, sim::Fault::FlashWriteError, 0, 1);
    std::vector<uint8_t> data = Pattern(202, 3);
    EXPECT_EQ(WriteDataToFlash(0, 1, 202, data.data()), 0);
    std::vector<sim::Request> sends = Sends();
    ASSERT_EQ(sends.size(), 2u);
    EXPECT_EQ(sends[0].input, Request(8, {1, 1, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(sends[1].input, Request(8, {1, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Pauses(), std::vector<uint32_t>({30, 50}));
    EXPECT_EQ(sim::Flash(server_, camera_, 1), before);
}

TEST_F(FlashTest, RefusedTransfersSendNothing) {
    std::vector<uint8_t> data(16900, 0);
    EXPECT_EQ(ReadDataFromFlash(0, 3, 64, data.data()), 0);
    EXPECT_EQ(ReadDataFromFlash(0, 0, 0, data.data()), 0);
    EXPECT_EQ(ReadDataFromFlash(0, 0, 16835, data.data()), 0);
    EXPECT_EQ(ReadDataFromFlash(0, 0, 64, nullptr), 0);
    EXPECT_EQ(ReadDataFromFlash(8, 0, 64, data.data()), 0);
    EXPECT_EQ(WriteDataToFlash(0, 3, 64, data.data()), 0);
    EXPECT_EQ(WriteDataToFlash(0, 1, 0, data.data()), 0);
    EXPECT_EQ(WriteDataToFlash(0, 1, 16835, data.data()), 0);
    EXPECT_EQ(WriteDataToFlash(0, 1, 64, nullptr), 0);
    EXPECT_EQ(WriteDataToFlash(8, 1, 64, data.data()), 0);
    EXPECT_TRUE(Log(camera_).empty());
    EXPECT_TRUE(Pauses().empty());
}

TEST_F(FlashTest, LargestTransferIs16834Bytes) {
    std::vector<uint8_t> data(16834, 0);
    // Page 2 is accepted; the read is raised to 16896 bytes, 264 pieces.
    EXPECT_EQ(ReadDataFromFlash(0, 2, 16834, data.data()), 1);
    std::vector<sim::Request> sends = Sends();
    ASSERT_EQ(sends.size(), 264u);
    EXPECT_EQ(sends.back().input, Request(8, {2, 3, 0x41, 0xC0, 64, 0, 0, 0}));
}

}  // namespace
}  // namespace device_test

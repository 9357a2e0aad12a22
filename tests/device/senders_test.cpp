// The generic senders and the I2C, register and identification requests:
// exact request blocks and input sizes, reply fetches, and the pauses; and
// threads sending at once.
#include <functional>
#include <thread>

#include "core/attach.h"
#include "device/device.h"
#include "device_fixture.h"
#include "tavcam.h"

namespace device_test {
namespace {

class SendersTest : public DeviceTest {
  protected:
    void SetUp() override {
        DeviceTest::SetUp();
        sim::Profile profile = sim::MakeProfile(sim::Model::Busy, "LineScan", "cam0.sock");
        for (size_t i = 0; i < profile.identification.size(); ++i)
            profile.identification[i] = (uint8_t)(i * 7 + 3);
        identification_ = profile.identification;
        camera_ = Plug(profile);
        ASSERT_EQ(Enumerate(), 1);
        ClearLog(camera_);
    }
    // Checks that the log holds exactly the given requests, each with its
    // control code, input bytes and output capacity.
    void ExpectLog(const std::vector<std::pair<uint32_t, std::vector<uint8_t>>>& expected) {
        std::vector<sim::Request> log = Log(camera_);
        ASSERT_EQ(log.size(), expected.size());
        for (size_t i = 0; i < log.size(); ++i) {
            EXPECT_EQ(log[i].code, expected[i].first) << "request " << i;
            EXPECT_EQ(log[i].input, expected[i].second)
                << "request " << i << ": " << Hex(log[i].input);
            EXPECT_EQ(log[i].outCapacity, log[i].code == tav::IOCTL_CAM_READ_REPLY ? 64u : 0u);
        }
    }
    int camera_ = -1;
    std::vector<uint8_t> identification_;
};

// Each sender's exact requests (control code, input bytes high byte first,
// the odd lengths and input sizes included) and the pauses after them: the
// command pause, or the data pause before each fetch of the camera's
// identification, read in two pieces of 64.
TEST_F(SendersTest, EachSenderSendsItsExactRequestsThenPauses) {
    const uint32_t kSend = tav::IOCTL_CAM_SEND_REQUEST, kFetch = tav::IOCTL_CAM_READ_REPLY;
    uint32_t first = 0, second = 0;
    uint8_t high = 0x55, low = 0x55, id[TAVCAM_CAMERA_ID_BYTES] = {};
    sim::SetBusyStatus(server_, camera_, 258);  // answered as 00 00 01 02
    struct Case {
        const char* what;
        std::function<int32_t()> call;
        std::vector<std::pair<uint32_t, std::vector<uint8_t>>> log;
        std::vector<uint32_t> pauses = {100};
        std::vector<const char*> traces = {};
    };
    const Case cases[] = {
        {"SendCommand",
         [] { return SendCommand(0, tav::CMD_WRITE_REG, 0x81C, 0x1234, 0xABCDE); },
         {{kSend, Request(8, {0, 8, 0x08, 0x1C, 0x12, 0x34, 0xBC, 0xDE})}}},
        {"SendCommand, index by its low byte",
         [] { return SendCommand(0x100, tav::CMD_SET_ONOFF, 0x830, 1, 0); },
         {{kSend, Request(8, {0, 18, 0x08, 0x30, 0, 1, 0, 0})}}},
        {"ReceiveStatus: length 3, input size 12",
         [&] { return ReceiveStatus(0, tav::CMD_READ_REG, 0x1E08, &first, &second); },
         {{kSend, Request(3, {0, 12, 0x1E, 0x08})}, {kFetch, ReplyFetch()}}},
        {"GetCameraStatus",
         [&] { return (int32_t)GetCameraStatus(0, &first); },
         {{kSend, Request(2, {0, 100})}, {kFetch, ReplyFetch()}}},
        {"SendI2C",
         [] { return SendI2C(0, 0x48, 0x21, 0x0A, 0x0B); },
         {{kSend, Request(5, {0x48, 7, 0x21, 0x0A, 0x0B})}}},
        {"SendI2C_OneDataByte",
         [] { return SendI2C_OneDataByte(0, 0x48, 0x22, 0x0C); },
         {{kSend, Request(4, {0x48, 10, 0x22, 0x0C})}}},
        {"ReceiveI2C",
         [&] { return ReceiveI2C(0, 0x48, 0x23, &high, &low); },
         {{kSend, Request(3, {0x48, 9, 0x23})}, {kFetch, ReplyFetch()}},
         {100},
         {"Open USB Norvex camera 0 successful",
          "ReceiveI2C:  BusIndex=0 , uDevAddr=72, uRegAddr=35 \r\n"}},
        {"SetRegister, at the controller's address",
         [] { return SetRegister("LineScan-0", 0x31, 0x1234); },
         {{kSend, Request(5, {122, 7, 0x31, 0x12, 0x34})}}},
        {"USBGetCameraID",
         [&] { return USBGetCameraID("LineScan-0", id); },
         {{kSend, Request(5, {0, 11, 0, 0, 64})},
          {kFetch, ReplyFetch()},
          {kSend, Request(5, {0, 11, 0, 64, 64})},
          {kFetch, ReplyFetch()}},
         {50, 50},
         {"ReadData:  BusIndex=0 , DataSize=128 \r\n"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ClearLog(camera_);
        testing_support::TraceLog traces;
        EXPECT_EQ(c.call(), 1);
        ExpectLog(c.log);
        EXPECT_EQ(Pauses(), c.pauses);
        std::vector<sim::Request> log = Log(camera_);
        if (log.size() >= 2) {
            EXPECT_EQ(log[1].timeMs - log[0].timeMs, c.pauses[0]);  // the pause before the fetch
        }
        for (const char* t : c.traces) EXPECT_TRUE(traces.Contains(t)) << t;
    }
    EXPECT_EQ(first, 258u);  // the status, read high byte first
    EXPECT_EQ(std::vector<uint8_t>(id, id + sizeof id), identification_);
    EXPECT_EQ(USBGetCameraID("LineScan-0", nullptr), 0);
}

// A failed request leaves the caller's results untouched and waits for no
// reply (a failed command still takes its pause); a failed fetch stores
// zeros; an index that is out of range or was never enumerated sends nothing.
TEST_F(SendersTest, FailuresAndUnusableIndexes) {
    sim::SetBusyStatus(server_, camera_, 258);
    sim::InjectFault(server_, camera_, sim::Fault::FailRequest, tav::IOCTL_CAM_SEND_REQUEST, 2);
    uint32_t first = 7, second = 9, status = 11;
    EXPECT_EQ(ReceiveStatus(0, tav::CMD_READ_REG, 0x800, &first, &second), 0);
    EXPECT_EQ(GetCameraStatus(0, &status), 0);
    EXPECT_EQ(std::vector<uint32_t>({first, second, status}), std::vector<uint32_t>({7, 9, 11}));
    EXPECT_TRUE(Pauses().empty());
    sim::InjectFault(server_, camera_, sim::Fault::FailRequest, tav::IOCTL_CAM_SEND_REQUEST, 1);
    EXPECT_EQ(SendCommand(0, tav::CMD_WRITE_REG, 0x800, 1, 0), 0);
    EXPECT_EQ(Pauses(), std::vector<uint32_t>({100}));
    sim::InjectFault(server_, camera_, sim::Fault::FailRequest, tav::IOCTL_CAM_READ_REPLY, 1);
    EXPECT_EQ(GetCameraStatus(0, &status), 0);
    EXPECT_EQ(status, 0u);

    ClearLog(camera_);
    uint8_t x = 0, y = 0;
    for (int32_t index : {8, -1, 0xFF, 5 /* never enumerated: empty slot */}) {
        EXPECT_EQ(SendCommand(index, tav::CMD_WRITE_REG, 1, 2, 3), 0) << index;
        EXPECT_EQ(ReceiveStatus(index, tav::CMD_READ_REG, 1, &first, &second), 0) << index;
        EXPECT_EQ(GetCameraStatus(index, &first), 0) << index;
        EXPECT_EQ(SendI2C(index, 122, 1, 2, 3), 0) << index;
        EXPECT_EQ(ReceiveI2C(index, 122, 1, &x, &y), 0) << index;
    }
    EXPECT_TRUE(Log(camera_).empty());
    EXPECT_TRUE(Pauses().empty());
    testing_support::TraceLog traces;
    EXPECT_EQ(ReceiveI2C(6, 122, 0, &x, &y), 0);
    EXPECT_TRUE(traces.Contains("Open USB Norvex camera 6 fails"));
}

// Two application threads using cameras at the same time: every request the
// cameras receive is one whole request of one thread, never a mixture.
TEST_F(SendersTest, ThreadsNeverMixTheirRequestBytes) {
    constexpr int kRounds = 40;
    auto commands = [] {
        for (int i = 0; i < kRounds; ++i)
            SendCommand(0, tav::CMD_WRITE_REG, 0x1111, 0x2222, 0x3333);
    };
    auto i2c = [] {
        for (int i = 0; i < kRounds; ++i) SendI2C(0, 0x44, 0x55, 0x66, 0x77);
    };
    auto reader = [] {
        std::vector<uint8_t> record(2016);
        for (int i = 0; i < 4; ++i) ReadDataFromFlash(0, 0, 2016, record.data());
    };
    std::thread a(commands), b(i2c), c(reader);
    a.join();
    b.join();
    c.join();
    std::vector<uint8_t> command = Request(8, {0, 8, 0x11, 0x11, 0x22, 0x22, 0x33, 0x33});
    std::vector<uint8_t> write = Request(5, {0x44, 7, 0x55, 0x66, 0x77});
    int commandsSeen = 0, writesSeen = 0, readsSeen = 0;
    for (const sim::Request& r : Log(camera_)) {
        if (r.code != tav::IOCTL_CAM_SEND_REQUEST) continue;
        if (r.input == command) {
            ++commandsSeen;
        } else if (r.input == write) {
            ++writesSeen;
        } else {
            ASSERT_EQ(r.input.size(), 16u) << Hex(r.input);
            ASSERT_EQ(r.input[9], tav::CMD_FLASH_READ) << Hex(r.input);
            ++readsSeen;
        }
    }
    EXPECT_EQ(commandsSeen, kRounds);
    EXPECT_EQ(writesSeen, kRounds);
    EXPECT_EQ(readsSeen, 4 * 32);
}

}  // namespace
}  // namespace device_test

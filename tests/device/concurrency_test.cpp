// Two application threads using cameras at the same time: every request the
// cameras receive is one whole request of one thread, never a mixture.
#include <thread>

#include "device/device.h"
#include "device_fixture.h"
#include "tavcam.h"

namespace device_test {
namespace {

using ConcurrencyTest = DeviceTest;

TEST_F(ConcurrencyTest, ThreadsNeverMixTheirRequestBytes) {
    int camera = Plug(sim::Model::LongLayout, "LineScan", "cam0");
    ASSERT_EQ(Enumerate(), 1);
    ClearLog(camera);
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
    for (const sim::Request& r : Log(camera)) {
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

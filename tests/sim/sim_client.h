// A bare client of the camera socket protocol for the simulator's tests: it
// talks to a camera through the platform layer's device files and builds
// request blocks by hand, so the tests see the simulator's answers byte for byte.
#pragma once

#include <gtest/gtest.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "sim/sim.h"
#include "support/testing.h"

namespace simtest {

using Bytes = std::vector<uint8_t>;

constexpr DWORD kReadReply = 0x22204C;
constexpr DWORD kSendRequest = 0x222050;
constexpr DWORD kStartStream = 0x222078;
constexpr DWORD kStopStream = 0x22207C;
constexpr DWORD kReadStream = 0x222082;

// A request block: header (direction 0, length = payload size unless given),
// then target, code and parameters.
Bytes Block(uint8_t target, uint8_t code, const Bytes& params, int length = -1);

struct Result {
    bool ok = false;
    DWORD error = 0;
    DWORD returned = 0;
    Bytes out;
};

Result Ioctl(HANDLE h, DWORD code, const Bytes& in, DWORD outSize);
// IOCTL_CAM_SEND_REQUEST with the block.
bool Send(HANDLE h, const Bytes& block);
// IOCTL_CAM_READ_REPLY: the 64 answer bytes (empty on failure).
Bytes Fetch(HANDLE h);
// A flash request without data: code 0 the status, 1 the begin of a write.
Bytes FlashBlock(uint8_t page, uint8_t code);
// The flash write request of count bytes of data from offset.
Bytes WritePiece(uint8_t page, size_t offset, const Bytes& data, size_t count);
// n bytes of a pattern that differs with the salt.
Bytes Pattern(size_t n, uint8_t salt);
// Writes data to a flash page as the library does: begin, status polls until
// the page is ready, pieces of 51 bytes, and the final piece of the rest
// (count 0 for a multiple of 51), which commits the page; stops before the
// final piece when `final` is false.
void WriteFlash(HANDLE h, uint8_t page, const Bytes& data, bool final = true);
// The stream set-up block.
Bytes SetupBlock(uint32_t width, uint32_t linesPlus4, uint32_t bytesPerPixel, uint32_t frames,
                 uint32_t model);

// A server on a private device directory that the platform layer enumerates.
class SimTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    int PlugCamera(sim::Model model, const std::string& name, const std::string& socket);
    HANDLE Open(int camera);

    testing_support::TempDir dir_;
    std::string devices_;
    sim::Server* server_ = nullptr;
};

}  // namespace simtest

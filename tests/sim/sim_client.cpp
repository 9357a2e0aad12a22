#include "sim_client.h"

#include <stdlib.h>

#include <algorithm>

namespace simtest {

Bytes Block(uint8_t target, uint8_t code, const Bytes& params, int length) {
    Bytes b(8, 0);
    uint32_t len = length >= 0 ? (uint32_t)length : (uint32_t)(2 + params.size());
    b[4] = (uint8_t)len;
    b[5] = (uint8_t)(len >> 8);
    b.push_back(target);
    b.push_back(code);
    b.insert(b.end(), params.begin(), params.end());
    return b;
}

Result Ioctl(HANDLE h, DWORD code, const Bytes& in, DWORD outSize) {
    Result r;
    r.out.assign(outSize, 0xCC);
    DWORD returned = 0xDEAD;
    Bytes input = in;
    plat::SetLastError(0);
    r.ok =
        plat::DeviceIoControl(h, code, input.empty() ? nullptr : input.data(), (DWORD)input.size(),
                              outSize ? r.out.data() : nullptr, outSize, &returned, nullptr) != 0;
    r.error = plat::GetLastError();
    r.returned = returned;
    return r;
}

bool Send(HANDLE h, const Bytes& block) {
    return Ioctl(h, kSendRequest, block, 0).ok;
}

Bytes Fetch(HANDLE h) {
    Bytes header = {1, 0, 0, 0, 64, 0, 0, 0};
    Result r = Ioctl(h, kReadReply, header, 64);
    if (!r.ok || r.returned != 64) return {};
    return r.out;
}

Bytes Pattern(size_t n, uint8_t salt) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = (uint8_t)(i * 31 + salt);
    return b;
}

Bytes FlashBlock(uint8_t page, uint8_t code) {
    return Block(page, code, {0, 0, 0, 0, 0, 0});
}

Bytes WritePiece(uint8_t page, size_t offset, const Bytes& data, size_t count) {
    Bytes params(3 + count);
    params[0] = (uint8_t)(offset >> 8);
    params[1] = (uint8_t)offset;
    params[2] = (uint8_t)count;
    std::copy(data.begin() + (long)offset, data.begin() + (long)(offset + count),
              params.begin() + 3);
    return Block(page, 2, params);
}

void WriteFlash(HANDLE h, uint8_t page, const Bytes& data, bool final) {
    ASSERT_TRUE(Send(h, FlashBlock(page, 1)));
    for (int polls = 0;; ++polls) {
        ASSERT_LT(polls, 10);
        ASSERT_TRUE(Send(h, FlashBlock(page, 0)));
        Bytes status = Fetch(h);
        if (status.size() == 64 && status[0] == 0 && status[1] == page) break;
    }
    size_t k = 0;
    for (; k + 51 <= data.size(); k += 51) ASSERT_TRUE(Send(h, WritePiece(page, k, data, 51)));
    if (!final) return;
    ASSERT_TRUE(Send(h, WritePiece(page, k, data, data.size() - k)));
}

Bytes SetupBlock(uint32_t width, uint32_t linesPlus4, uint32_t bytesPerPixel, uint32_t frames,
                 uint32_t model) {
    uint32_t words[9] = {3, width, linesPlus4, bytesPerPixel, 0, frames, model, 0, 0};
    Bytes b(36);
    for (int i = 0; i < 9; ++i)
        for (int k = 0; k < 4; ++k) b[(size_t)(4 * i + k)] = (uint8_t)(words[i] >> (8 * k));
    return b;
}

void SimTest::SetUp() {
    ASSERT_FALSE(dir_.path.empty());
    devices_ = dir_.path + "/devices";
    setenv("TAVCAM_DEVICE_DIR", devices_.c_str(), 1);
    server_ = sim::Start(devices_);
    ASSERT_NE(server_, nullptr);
}

void SimTest::TearDown() {
    sim::Stop(server_);
    unsetenv("TAVCAM_DEVICE_DIR");
}

int SimTest::PlugCamera(sim::Model model, const std::string& name, const std::string& socket) {
    return sim::Plug(server_, sim::MakeProfile(model, name, socket));
}

HANDLE SimTest::Open(int camera) {
    return plat::CreateFileA(sim::SocketPath(server_, camera).c_str(), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                             nullptr);
}

}  // namespace simtest

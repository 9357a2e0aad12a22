#include "fake_camera.h"

#include <windows.h>

#include <string.h>

namespace windows_tests {
namespace {

uint32_t U32(const uint8_t* p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = (uint8_t)(v >> (8 * i));
}

bool RecvAll(SOCKET s, uint8_t* p, size_t n) {
    while (n > 0) {
        int got = recv(s, (char*)p, (int)n, 0);
        if (got <= 0) return false;
        p += got;
        n -= (size_t)got;
    }
    return true;
}

}  // namespace

FakeCamera::FakeCamera() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    listen_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr;
    memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof addr;
    if (bind(listen_, (sockaddr*)&addr, sizeof addr) != 0 || listen(listen_, 16) != 0 ||
        getsockname(listen_, (sockaddr*)&addr, &length) != 0)
        return;
    port_ = ntohs(addr.sin_port);
    acceptThread_ = std::thread([this] { Accept(); });
}

FakeCamera::~FakeCamera() {
    stopping_.store(true);
    closesocket(listen_);
    if (acceptThread_.joinable()) acceptThread_.join();
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (SOCKET s : sockets_) shutdown(s, SD_BOTH);
    }
    for (std::thread& t : servers_) t.join();
    for (SOCKET s : sockets_) closesocket(s);
}

std::vector<std::vector<uint8_t>> FakeCamera::Requests() {
    std::lock_guard<std::mutex> guard(lock_);
    return requests_;
}

void FakeCamera::Accept() {
    for (;;) {
        SOCKET s = accept(listen_, nullptr, nullptr);
        if (s == INVALID_SOCKET) return;
        std::lock_guard<std::mutex> guard(lock_);
        if (stopping_.load()) {
            closesocket(s);
            return;
        }
        connections_.fetch_add(1);
        sockets_.push_back(s);
        servers_.emplace_back([this, s] { Serve(s); });
    }
}

void FakeCamera::Serve(SOCKET s) {
    for (;;) {
        uint8_t header[12];
        if (!RecvAll(s, header, sizeof header)) break;
        const uint32_t code = U32(header), n = U32(header + 4), m = U32(header + 8);
        if (n > 65536) break;
        std::vector<uint8_t> request(header, header + 12);
        request.resize(12 + n);
        if (n && !RecvAll(s, request.data() + 12, n)) break;
        {
            std::lock_guard<std::mutex> guard(lock_);
            requests_.push_back(request);
        }
        if (dropNext_.exchange(false)) break;
        if (code == 0x222082) {
            while (holdStream_.load() && !stopping_.load()) Sleep(10);
        }
        const uint32_t error = failNext_.exchange(0);
        const uint32_t r = error ? 0 : (m < 4096 ? m : 4096);
        std::vector<uint8_t> answer(12 + r, 0xA5);
        PutU32(answer.data(), error ? 0 : 1);
        PutU32(answer.data() + 4, r);
        PutU32(answer.data() + 8, error);
        if (send(s, (const char*)answer.data(), (int)answer.size(), 0) != (int)answer.size()) break;
    }
    shutdown(s, SD_BOTH);
}

bool WriteCameraFile(const std::string& dir, const std::string& name, const std::string& contents) {
    const std::string temp = dir + "\\." + name + ".tmp";
    HANDLE f = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(f, contents.data(), (DWORD)contents.size(), &written, nullptr);
    CloseHandle(f);
    return ok && MoveFileExA(temp.c_str(), (dir + "\\" + name).c_str(), MOVEFILE_REPLACE_EXISTING);
}

}  // namespace windows_tests

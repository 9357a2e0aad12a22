// The POSIX device layer (SetupDi* enumeration, CreateFileA, DeviceIoControl)
// against the simulator and against servers that are not camera servers.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stddef.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "platform/posix/devices/device_file.h"
#include "platform/posix/handle_table.h"
#include "sim_client.h"

namespace simtest {
namespace {

const GUID kCameraClass = {
    0x9567203D, 0xAB53, 0x47A1, {0xBC, 0xF8, 0x6E, 0x81, 0x1C, 0x3F, 0x58, 0xA2}};

// Enumerates the set the way the library does; returns the paths and the
// last error of the call that ended it.
std::vector<std::string> EnumeratePaths(HDEVINFO set, DWORD* endError) {
    std::vector<std::string> paths;
    for (DWORD i = 0;; ++i) {
        SP_DEVICE_INTERFACE_DATA data;
        memset(&data, 0, sizeof(data));
        data.cbSize = sizeof(data);
        if (!plat::SetupDiEnumDeviceInterfaces(set, nullptr, &kCameraClass, i, &data)) {
            *endError = plat::GetLastError();
            return paths;
        }
        DWORD required = 0;
        EXPECT_FALSE(
            plat::SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr));
        EXPECT_EQ(plat::GetLastError(), ERROR_INSUFFICIENT_BUFFER);
        std::vector<char> buf(required);
        auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buf.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        EXPECT_TRUE(
            plat::SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, nullptr));
        EXPECT_EQ(required, offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) +
                                strlen(detail->DevicePath) + 1);
        paths.emplace_back(detail->DevicePath);
    }
}

HDEVINFO ClassDevices() {
    return plat::SetupDiGetClassDevsA(&kCameraClass, nullptr, nullptr,
                                      DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
}

HANDLE OpenPath(const std::string& path) {
    return plat::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             0, nullptr);
}

// A socket bound at path, listening; paths longer than sockaddr_un allows are
// bound through the directory's descriptor.
int ListenAt(const std::string& path) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_un addr;
    memset(&addr, 0, sizeof(addr));
    addr.sun_family = AF_UNIX;
    std::string target = path;
    int dirFd = -1;
    if (path.size() >= sizeof(addr.sun_path)) {
        size_t slash = path.rfind('/');
        dirFd = open(path.substr(0, slash).c_str(), O_PATH | O_DIRECTORY);
        target = "/proc/self/fd/" + std::to_string(dirFd) + path.substr(slash);
    }
    if (target.size() >= sizeof(addr.sun_path)) {
        ADD_FAILURE() << "socket name too long: " << path;
        return fd;
    }
    memcpy(addr.sun_path, target.c_str(), target.size() + 1);
    EXPECT_EQ(bind(fd, (struct sockaddr*)&addr, sizeof(addr)), 0) << path;
    EXPECT_EQ(listen(fd, 8), 0);
    if (dirFd >= 0) close(dirFd);
    return fd;
}

TEST_F(SimTest, EnumerationListsSocketsInByteOrderAndRefusesBadArguments) {
    PlugCamera(sim::Model::LongLayout, "B", "b.sock");
    PlugCamera(sim::Model::LongLayout, "A", "a.sock");
    PlugCamera(sim::Model::LongLayout, "Z", "Z.sock");  // 'Z' sorts before 'a'
    // Not cameras: a regular file named *.sock, a socket of another name, and
    // a socket whose path is longer than 255 bytes.
    close(open((devices_ + "/file.sock").c_str(), O_CREAT | O_WRONLY, 0600));
    int other = ListenAt(devices_ + "/c.sock.old");
    const int before = plat::posix::HandleCount();

    HDEVINFO set = ClassDevices();
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    // The snapshot is taken now: a camera unplugged afterwards keeps its place.
    sim::Unplug(server_, 1);
    DWORD end = 0;
    std::vector<std::string> paths = EnumeratePaths(set, &end);
    EXPECT_EQ(end, ERROR_NO_MORE_ITEMS);
    ASSERT_EQ(paths.size(), 3u);
    EXPECT_EQ(paths[0], devices_ + "/Z.sock");
    EXPECT_EQ(paths[1], devices_ + "/a.sock");
    EXPECT_EQ(paths[2], devices_ + "/b.sock");
    EXPECT_TRUE(plat::SetupDiDestroyDeviceInfoList(set));
    EXPECT_EQ(plat::posix::HandleCount(), before);
    close(other);

    // In a device directory with a long path, a socket whose full path is over
    // 255 bytes is skipped, and one within the limit is listed and opens,
    // though its path is too long for a socket address.
    const std::string longDir = devices_ + "/" + std::string(230 - devices_.size(), 'd');
    ASSERT_EQ(mkdir(longDir.c_str(), 0700), 0);
    const std::string within = longDir + "/" + std::string(255 - longDir.size() - 6, 'w') + ".sock";
    const std::string over = longDir + "/" + std::string(255 - longDir.size() - 5, 'v') + ".sock";
    ASSERT_EQ(within.size(), 255u);
    ASSERT_EQ(over.size(), 256u);
    int a = ListenAt(within);
    int b = ListenAt(over);
    setenv("TAVCAM_DEVICE_DIR", longDir.c_str(), 1);
    set = ClassDevices();
    paths = EnumeratePaths(set, &end);
    plat::SetupDiDestroyDeviceInfoList(set);
    ASSERT_EQ(paths.size(), 1u);
    EXPECT_EQ(paths[0], within);
    HANDLE h = OpenPath(within);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    plat::CloseHandle(h);
    close(a);
    close(b);

    // A missing directory holds no camera; arguments of the wrong size are refused.
    setenv("TAVCAM_DEVICE_DIR", (dir_.path + "/nowhere").c_str(), 1);
    set = ClassDevices();
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof(data);
    EXPECT_FALSE(plat::SetupDiEnumDeviceInterfaces(set, nullptr, &kCameraClass, 0, &data));
    EXPECT_EQ(plat::GetLastError(), ERROR_NO_MORE_ITEMS);
    plat::SetupDiDestroyDeviceInfoList(set);

    setenv("TAVCAM_DEVICE_DIR", devices_.c_str(), 1);
    set = ClassDevices();
    EXPECT_TRUE(plat::SetupDiEnumDeviceInterfaces(set, nullptr, &kCameraClass, 0, &data));
    DWORD required = 0;
    plat::SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr);
    std::vector<char> buf(required + 16);
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buf.data());
    detail->cbSize = 5;  // the 32-bit Windows size is not the size of this struct
    EXPECT_FALSE(
        plat::SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, nullptr));
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    EXPECT_FALSE(
        plat::SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required - 1, nullptr, nullptr));
    EXPECT_EQ(plat::GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    data.cbSize = 4;
    EXPECT_FALSE(plat::SetupDiEnumDeviceInterfaces(set, nullptr, &kCameraClass, 0, &data));
    plat::SetupDiDestroyDeviceInfoList(set);
    EXPECT_FALSE(plat::SetupDiEnumDeviceInterfaces(set, nullptr, &kCameraClass, 0, &data));
    EXPECT_EQ(plat::GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(SimTest, RequestRoundTripAndExactBytesInTheLog) {
    int cam = PlugCamera(sim::Model::LongLayout, "A", "a.sock");
    HANDLE h = Open(cam);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    Bytes write = Block(0, 8, {0x08, 0x1C, 0x01, 0x23, 0x00, 0x07});
    ASSERT_TRUE(Send(h, write));
    Bytes query = Block(0, 12, {0x08, 0x1C, 0x00, 0x00}, 3);  // length 3, input 12
    ASSERT_TRUE(Send(h, query));
    Bytes answer = Fetch(h);
    ASSERT_EQ(answer.size(), 64u);
    EXPECT_EQ(answer[0], 0x23);
    EXPECT_EQ(answer[1], 0x01);
    EXPECT_EQ(answer[4], 0x07);  // the third word of the write
    uint16_t value = 0;
    EXPECT_TRUE(sim::Register(server_, cam, 0x81C, &value));
    EXPECT_EQ(value, 0x0123);

    std::vector<sim::Request> log = sim::Log(server_, cam);
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].code, kSendRequest);
    EXPECT_EQ(log[0].input, write);
    EXPECT_EQ(log[0].outCapacity, 0u);
    EXPECT_EQ(log[1].input, query);
    EXPECT_EQ(log[2].code, kReadReply);
    EXPECT_EQ(log[2].outCapacity, 64u);
    EXPECT_EQ(log[2].bytesReturned, 64u);
    EXPECT_TRUE(log[2].ok);

    // An unknown control code: result 0, ERROR_INVALID_FUNCTION; the connection lives on.
    Result r = Ioctl(h, 0x222000, {}, 0);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, ERROR_INVALID_FUNCTION);
    EXPECT_TRUE(Send(h, write));
    // Arguments past the protocol's limits are refused before anything is sent.
    Bytes huge(65537);
    EXPECT_FALSE(Ioctl(h, kSendRequest, huge, 0).ok);
    EXPECT_EQ(plat::GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(sim::Log(server_, cam).size(), 5u);  // the refused request never left
    plat::CloseHandle(h);
}

TEST_F(SimTest, BrokenConnectionsFailWithDeviceNotConnected) {
    int cam = PlugCamera(sim::Model::LongLayout, "A", "a.sock");
    HANDLE h = Open(cam);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    sim::Unplug(server_, cam);
    Result r = Ioctl(h, kSendRequest, Block(0, 100, {}), 0);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, ERROR_DEVICE_NOT_CONNECTED);
    // It stays broken, even once the camera is back: handles never reconnect.
    sim::PlugBack(server_, cam);
    EXPECT_EQ(Ioctl(h, kSendRequest, Block(0, 100, {}), 0).error, ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_TRUE(plat::CloseHandle(h));
    h = Open(cam);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(Send(h, Block(0, 100, {})));
    plat::CloseHandle(h);

    // The injected drop closes the connection without an answer.
    sim::InjectFault(server_, cam, sim::Fault::DropConnection, kSendRequest, 1);
    h = Open(cam);
    EXPECT_EQ(Ioctl(h, kSendRequest, Block(0, 100, {}), 0).error, ERROR_DEVICE_NOT_CONNECTED);
    plat::CloseHandle(h);

    sim::Unplug(server_, cam);
    EXPECT_EQ(Open(cam), INVALID_HANDLE_VALUE);
    EXPECT_EQ(plat::GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(plat::CreateFileA("", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);

    // An unplug while a stream read waits in the server fails the read.
    sim::PlugBack(server_, cam);
    sim::ClearLog(server_, cam);
    sim::SetFramesPerSecond(server_, cam, 1);  // the read would wait a whole second
    h = Open(cam);
    ASSERT_TRUE(Ioctl(h, kStartStream, SetupBlock(32, 20, 1, 60, 2), 0).ok);
    Result read;
    std::thread reader([&] { read = Ioctl(h, kReadStream, {}, 32 * 20 * 60); });
    // Wait until the read is in the server, then pull the camera out.
    for (int i = 0; i < 500 && sim::Log(server_, cam).size() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    sim::Unplug(server_, cam);
    reader.join();
    EXPECT_FALSE(read.ok);
    EXPECT_EQ(read.error, ERROR_DEVICE_NOT_CONNECTED);
    plat::CloseHandle(h);
}

void OnSignal(int) {}

TEST_F(SimTest, SignalsDuringAWaitDoNotFailTheRequest) {
    int cam = PlugCamera(sim::Model::LongLayout, "A", "a.sock");
    sim::SetFramesPerSecond(server_, cam, 10);
    struct sigaction sa, old;
    memset(&sa, 0, sizeof(sa));
    sa.sa_handler = OnSignal;  // no SA_RESTART: waits see EINTR
    sigaction(SIGUSR1, &sa, &old);
    HANDLE h = Open(cam);
    ASSERT_TRUE(Ioctl(h, kStartStream, SetupBlock(32, 20, 1, 3, 2), 0).ok);
    std::atomic<bool> done{false};
    Result read;
    std::thread reader([&] {
        read = Ioctl(h, kReadStream, {}, 32 * 20 * 3);
        done = true;
    });
    pthread_t id = reader.native_handle();
    while (!done) {  // the transfer takes 300 ms; interrupt the wait all along
        pthread_kill(id, SIGUSR1);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    reader.join();
    sigaction(SIGUSR1, &old, nullptr);
    EXPECT_TRUE(read.ok);
    EXPECT_EQ(read.returned, 32u * 20 * 3);
    plat::CloseHandle(h);
}

// A server that is not a camera server: it reads one request and answers as
// told, or not at all.
struct RogueServer {
    explicit RogueServer(const std::string& path, std::function<void(int)> answer)
        : fd((unlink(path.c_str()), ListenAt(path))), thread([this, answer] {
              int c = accept(fd, nullptr, nullptr);
              if (c < 0) return;
              uint8_t header[12];
              ssize_t got = 0;
              while (got < 12) {
                  ssize_t n = recv(c, header + got, (size_t)(12 - got), 0);
                  if (n <= 0) break;
                  got += n;
              }
              answer(c);
              while (!quit) std::this_thread::sleep_for(std::chrono::milliseconds(1));
              close(c);
          }) {}
    ~RogueServer() {
        quit = true;
        shutdown(fd, SHUT_RDWR);
        thread.join();
        close(fd);
    }
    int fd;
    std::atomic<bool> quit{false};
    std::thread thread;
};

void SendBytes(int c, const Bytes& b) {
    for (uint8_t byte : b) send(c, &byte, 1, MSG_NOSIGNAL);  // one byte at a time
}

Bytes Answer(uint32_t result, uint32_t returned, uint32_t error) {
    Bytes a(12);
    for (int k = 0; k < 4; ++k) {
        a[(size_t)k] = (uint8_t)(result >> (8 * k));
        a[(size_t)(4 + k)] = (uint8_t)(returned >> (8 * k));
        a[(size_t)(8 + k)] = (uint8_t)(error >> (8 * k));
    }
    return a;
}

TEST_F(SimTest, ServersThatAreNotCameraServers) {
    const std::string path = devices_ + "/rogue.sock";
    mkdir(devices_.c_str(), 0700);
    {  // An answer that trickles in byte by byte is put together.
        RogueServer s(path, [](int c) {
            Bytes a = Answer(0, 3, 1784);
            a.insert(a.end(), {9, 8, 7});
            SendBytes(c, a);
        });
        HANDLE h = OpenPath(path);
        Result r = Ioctl(h, kReadReply, {1, 0, 0, 0, 64, 0, 0, 0}, 64);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, 1784u);
        EXPECT_EQ(r.returned, 3u);
        EXPECT_EQ(r.out[2], 7);
        plat::CloseHandle(h);
    }
    {  // More bytes returned than the output can hold: the connection is given up.
        RogueServer s(path, [](int c) { SendBytes(c, Answer(1, 65, 0)); });
        HANDLE h = OpenPath(path);
        Result r = Ioctl(h, kReadReply, {1, 0, 0, 0, 64, 0, 0, 0}, 64);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, ERROR_DEVICE_NOT_CONNECTED);
        EXPECT_EQ(r.out[0], 0xCC);  // nothing written past what was promised
        EXPECT_EQ(Ioctl(h, kStopStream, {}, 0).error, ERROR_DEVICE_NOT_CONNECTED);
        plat::CloseHandle(h);
    }
    {  // A server that closes in the middle of its answer.
        RogueServer s(path, [](int c) {
            SendBytes(c, {1, 0, 0});
            shutdown(c, SHUT_RDWR);
        });
        HANDLE h = OpenPath(path);
        EXPECT_EQ(Ioctl(h, kStopStream, {}, 0).error, ERROR_DEVICE_NOT_CONNECTED);
        plat::CloseHandle(h);
    }
    {  // A server that never answers: the bounded wait gives up.
        RogueServer s(path, [](int) {});
        plat::posix::SetDeviceReplyTimeout(100);
        HANDLE h = OpenPath(path);
        EXPECT_EQ(Ioctl(h, kStopStream, {}, 0).error, ERROR_DEVICE_NOT_CONNECTED);
        plat::posix::SetDeviceReplyTimeout(plat::posix::kDefaultDeviceReplyTimeoutMs);
        plat::CloseHandle(h);
    }
    unlink(path.c_str());
    // A socket file nobody listens on does not open.
    int dead = ListenAt(path);
    close(dead);
    EXPECT_EQ(OpenPath(path), INVALID_HANDLE_VALUE);
    EXPECT_EQ(plat::GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(SimTest, RequestsFromTwoThreadsOnOneHandleDoNotInterleave) {
    int cam = PlugCamera(sim::Model::LongLayout, "A", "a.sock");
    HANDLE h = Open(cam);
    constexpr int kEach = 150;
    auto worker = [&](uint8_t tag) {
        // Large inputs need several writes, so interleaving would show.
        Bytes block = Block(0, 8, {0x10, tag, 0, tag, 0, 0});
        block.resize(60000, tag);
        for (int i = 0; i < kEach; ++i) EXPECT_TRUE(Send(h, block));
    };
    std::thread a(worker, 0xA1), b(worker, 0xB2);
    a.join();
    b.join();
    std::vector<sim::Request> log = sim::Log(server_, cam);
    ASSERT_EQ(log.size(), 2u * kEach);
    for (const sim::Request& r : log) {
        ASSERT_EQ(r.input.size(), 60000u);
        uint8_t tag = r.input[11];
        for (size_t i = 16; i < r.input.size(); i += 997) ASSERT_EQ(r.input[i], tag);
    }
    plat::CloseHandle(h);
}

}  // namespace
}  // namespace simtest

// The simulator's loopback-TCP transport, which the Windows build's tests
// reach under Wine: where its file appears and what it holds, a request
// answered byte for byte as on the Unix socket, and the file and connection
// gone when the camera leaves.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdio.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "sim/sim.h"
#include "support/testing.h"

namespace {

bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// The port a camera file names; 0 unless it holds exactly "127.0.0.1:PORT\n".
unsigned Port(const std::string& file) {
    std::ifstream in(file);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    unsigned port = 0;
    char end = 0;
    if (sscanf(all.c_str(), "127.0.0.1:%u%c", &port, &end) != 2 || end != '\n') return 0;
    return all == "127.0.0.1:" + std::to_string(port) + "\n" ? port : 0;
}

int Connect(unsigned port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons((uint16_t)port);
    if (fd >= 0 && connect(fd, (sockaddr*)&addr, sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// One request with no input, and the 12 bytes of its answer's header.
std::vector<uint8_t> Exchange(int fd, uint32_t code, uint32_t capacity) {
    uint8_t request[12];
    for (int i = 0; i < 4; ++i) {
        request[i] = (uint8_t)(code >> (8 * i));
        request[4 + i] = 0;
        request[8 + i] = (uint8_t)(capacity >> (8 * i));
    }
    if (send(fd, request, sizeof request, MSG_NOSIGNAL) != (ssize_t)sizeof request) return {};
    std::vector<uint8_t> answer(12);
    size_t got = 0;
    while (got < answer.size()) {
        ssize_t n = recv(fd, answer.data() + got, answer.size() - got, 0);
        if (n <= 0) return {};
        got += (size_t)n;
    }
    return answer;
}

TEST(SimTcpTransport, ACameraIsAFileNamingItsLoopbackPortUntilItLeaves) {
    testing_support::TempDir dir;
    sim::Server* server = sim::Start(dir.path);
    ASSERT_NE(server, nullptr);
    sim::UseLoopbackTcp(server);
    int camera =
        sim::Plug(server, sim::MakeProfile(sim::Model::LongLayout, "LineScan", "cam0.sock"));
    ASSERT_EQ(camera, 0);
    const std::string file = dir.path + "/cam0.tcp";
    EXPECT_EQ(sim::SocketPath(server, camera), file);
    EXPECT_FALSE(Exists(dir.path + "/cam0.sock"));
    const unsigned port = Port(file);
    ASSERT_NE(port, 0u);

    int fd = Connect(port);
    ASSERT_GE(fd, 0);
    // A code the driver doesn't know: failure, nothing returned, ERROR_INVALID_FUNCTION.
    EXPECT_EQ(Exchange(fd, 0x1234, 64), (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0}));
    auto log = sim::Log(server, camera);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].code, 0x1234u);
    EXPECT_EQ(log[0].outCapacity, 64u);

    // Leaving: the file goes and the connection breaks.
    sim::Unplug(server, camera);
    EXPECT_FALSE(Exists(file));
    EXPECT_TRUE(Exchange(fd, 0x1234, 64).empty());
    close(fd);
    EXPECT_LT(Connect(port), 0);

    // Back again: a file, and a connection that is served.
    sim::PlugBack(server, camera);
    const unsigned again = Port(file);
    ASSERT_NE(again, 0u);
    fd = Connect(again);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Exchange(fd, 0x1234, 0).size(), 12u);
    close(fd);
    sim::Stop(server);
    EXPECT_FALSE(Exists(file));
}

}  // namespace

// Loopback TCP for the cameras of a server that serves the Windows build under
// test (which has no Unix sockets to reach): each camera listens on
// 127.0.0.1 at a port the system chooses, and its device file NAME.tcp holds
// one line, "127.0.0.1:PORT". The file appears only once the camera listens
// (written under a hidden name and renamed into place), and goes when the
// camera leaves, as a socket file does. The requests and answers on a
// connection are those of the Unix socket, byte for byte.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "sim/internal.h"

namespace sim {

std::string TcpFileName(const std::string& socketName) {
    const std::string suffix = ".sock";
    if (socketName.size() > suffix.size() &&
        socketName.compare(socketName.size() - suffix.size(), suffix.size(), suffix) == 0)
        return socketName.substr(0, socketName.size() - suffix.size()) + ".tcp";
    return socketName;
}

int ListenLoopbackTcp(const std::string& dir, const std::string& fileName) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    struct sockaddr_in addr;
    memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t length = sizeof addr;
    if (bind(fd, (struct sockaddr*)&addr, sizeof addr) != 0 || listen(fd, 64) != 0 ||
        getsockname(fd, (struct sockaddr*)&addr, &length) != 0) {
        close(fd);
        return -1;
    }
    const std::string temp = dir + "/." + fileName + ".tmp";
    const std::string path = dir + "/" + fileName;
    FILE* f = fopen(temp.c_str(), "w");
    bool written = f && fprintf(f, "127.0.0.1:%u\n", (unsigned)ntohs(addr.sin_port)) > 0;
    if (f && fclose(f) != 0) written = false;
    if (!written || rename(temp.c_str(), path.c_str()) != 0) {
        unlink(temp.c_str());
        close(fd);
        return -1;
    }
    return fd;
}

void TuneTcpConnection(int fd) {
    // A request goes out as a header and its input: without this, the
    // second write waits for the answer to the first one's segment.
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

}  // namespace sim

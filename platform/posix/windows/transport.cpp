// The cross-process transport of the message system: each process that has
// windows (or sends to windows of others) binds one Unix datagram socket in
// the abstract namespace, named after the object namespace and its process
// id, and runs one receiver thread on it. Abstract names vanish with their
// process, so a datagram to a process that died fails at once
// (ECONNREFUSED) instead of waiting.
//
// The receiver thread puts posted messages into the owning thread's queue,
// hands sent messages to it (or answers at once that the window is gone) and
// completes this process's sends when their replies arrive. It also watches
// the device directory (device_broadcast.cpp). It runs until the process ends.
#include <errno.h>
#include <poll.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "../device_dir.h"
#include "../internal.h"
#include "windows_internal.h"

namespace plat::posix::win {
namespace {

constexpr uint32_t kMagic = 0x54414D53;  // "TAMS"
// A receiver that doesn't drain its socket for this long is taken as gone.
constexpr uint64_t kSendRetryMs = 1000;

pthread_mutex_t g_startLock = PTHREAD_MUTEX_INITIALIZER;
std::atomic<int> g_socket{-1};
std::atomic<pid_t> g_socketPid{0};

socklen_t Address(uint32_t pid, sockaddr_un* addr) {
    memset(addr, 0, sizeof *addr);
    addr->sun_family = AF_UNIX;
    // sun_path[0] = 0: the abstract namespace.
    int n = snprintf(addr->sun_path + 1, sizeof addr->sun_path - 1, "tavcam-%s-msg-%u",
                     ObjectNamespace().c_str(), pid);
    return (socklen_t)(offsetof(sockaddr_un, sun_path) + 1 + (size_t)n);
}

void Receive(const Packet& p, uint32_t fromPid) {
    switch (p.kind) {
        case PacketKind::Post: {
            uint32_t tid = 0;
            // A post to a window that is gone, or a full queue, is dropped.
            if (LocalWindow(p.hwnd, nullptr, &tid))
                QueuePost(tid, p.hwnd, p.msg, (WPARAM)p.wParam, (LPARAM)p.lParam, false);
            break;
        }
        case PacketKind::Send: {
            uint32_t tid = 0;
            if (!LocalWindow(p.hwnd, nullptr, &tid) ||
                !QueueIncomingSend(tid, p.hwnd, p.msg, (WPARAM)p.wParam, (LPARAM)p.lParam, fromPid,
                                   p.id)) {
                Packet r{};
                r.kind = PacketKind::Reply;
                r.id = p.id;
                r.error = ERROR_INVALID_WINDOW_HANDLE;
                TransportSend(fromPid, r);
            }
            break;
        }
        case PacketKind::Reply:
            CompleteSend(p.id, (LRESULT)p.result, p.error);
            break;
    }
}

void* ReceiverThread(void* arg) {
    int fd = (int)(intptr_t)arg;
    uint64_t lastTick = MonotonicMs();
    for (;;) {
        // Wake for the device directory's tick.
        uint64_t period = (uint64_t)DeviceWatchPeriodMs();
        uint64_t sinceTick = MonotonicMs() - lastTick;
        int timeout = sinceTick >= period ? 0 : (int)(period - sinceTick);
        pollfd fds[2] = {{fd, POLLIN, 0}, {DeviceWatchFd(), POLLIN, 0}};
        int n = poll(fds, fds[1].fd >= 0 ? 2 : 1, timeout);
        if (n > 0 && (fds[0].revents & POLLIN)) {
            Packet p;
            ucred cred{};
            char control[CMSG_SPACE(sizeof(ucred))];
            iovec iov{&p, sizeof p};
            msghdr msg{};
            msg.msg_iov = &iov;
            msg.msg_iovlen = 1;
            msg.msg_control = control;
            msg.msg_controllen = sizeof control;
            ssize_t got = recvmsg(fd, &msg, MSG_DONTWAIT);
            for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
                if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS)
                    memcpy(&cred, CMSG_DATA(c), sizeof cred);
            }
            // The sender's process id comes from the kernel, not the packet.
            if (got == (ssize_t)sizeof p && p.magic == kMagic && cred.pid > 0)
                Receive(p, (uint32_t)cred.pid);
        }
        if (n > 0 && fds[1].fd >= 0 && (fds[1].revents & POLLIN)) DeviceWatchReadable();
        uint64_t now = MonotonicMs();
        if (now - lastTick >= period) {
            lastTick = now;
            DeviceWatchTick();
        }
    }
    return nullptr;
}

}  // namespace

bool TransportStart() {
    if (g_socketPid.load() == getpid()) return true;
    pthread_mutex_lock(&g_startLock);
    bool ok = g_socketPid.load() == getpid();
    if (!ok) {
        int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr;
        socklen_t len = Address((uint32_t)getpid(), &addr);
        int on = 1;
        if (fd >= 0 && bind(fd, (sockaddr*)&addr, len) == 0 &&
            setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) == 0) {
            pthread_attr_t attr;
            pthread_attr_init(&attr);
            pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
            // The first look at the device directory happens now, before any
            // window of this process exists: what changes after it is news.
            DeviceWatchFd();
            pthread_t thread;
            ok = pthread_create(&thread, &attr, ReceiverThread, (void*)(intptr_t)fd) == 0;
            pthread_attr_destroy(&attr);
        }
        if (ok) {
            g_socket.store(fd);
            g_socketPid.store(getpid());
        } else if (fd >= 0) {
            close(fd);
        }
    }
    pthread_mutex_unlock(&g_startLock);
    return ok;
}

bool TransportSend(uint32_t pid, const Packet& packet) {
    int fd = g_socket.load();
    if (fd < 0) return false;
    Packet p = packet;
    p.magic = kMagic;
    p.fromPid = (uint32_t)getpid();
    sockaddr_un addr;
    socklen_t len = Address(pid, &addr);
    uint64_t deadline = MonotonicMs() + kSendRetryMs;
    for (;;) {
        if (sendto(fd, &p, sizeof p, MSG_DONTWAIT | MSG_NOSIGNAL, (sockaddr*)&addr, len) ==
            (ssize_t)sizeof p)
            return true;
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
        if (MonotonicMs() >= deadline) return false;
        usleep(1000);
    }
}

}  // namespace plat::posix::win

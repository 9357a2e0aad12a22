// CreateFileA, DeviceIoControl and CloseHandle of the Windows build: the
// system's own, except for the camera files of the loopback-TCP cameras
// under test (platform/win32/tcp_cameras.h). Their handles are kernel event
// handles made for the purpose, so that a handle value is never shared with
// another object and fits the 32-bit fields handles are kept in; a small
// table maps each to its connection.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <string.h>

#include <atomic>
#include <memory>
#include <mutex>

#include "platform/camera_protocol.h"
#include "platform/win32/tcp_cameras.h"

namespace plat::tcp {
namespace {

// Camera handles open at once in a process: a reader per camera, a capture,
// the commands of several threads.
constexpr int kMaxOpenCameras = 64;
// A wait without bound is cut into slices, between which it looks whether
// the handle was closed (a shutdown alone does not wake a waiting select
// everywhere).
constexpr DWORD kWaitSliceMs = 100;

struct Connection {
    SOCKET socket = INVALID_SOCKET;
    std::mutex lock;  // one request (message out, answer in) at a time
    bool broken = false;
    std::atomic<bool> closed{false};  // its handle was closed
    ~Connection() {
        if (socket != INVALID_SOCKET) ::closesocket(socket);
    }
};

struct Slot {
    HANDLE handle = nullptr;
    std::shared_ptr<Connection> connection;
};

std::mutex g_tableLock;
Slot g_table[kMaxOpenCameras];

bool StartWinsock() {
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

std::shared_ptr<Connection> Find(HANDLE h) {
    if (!h || h == INVALID_HANDLE_VALUE) return nullptr;
    std::lock_guard<std::mutex> guard(g_tableLock);
    for (Slot& s : g_table)
        if (s.handle == h) return s.connection;
    return nullptr;
}

// Waits until the socket can be read (or written), at most ms (INFINITE: no bound).
bool WaitReady(SOCKET s, bool forWrite, DWORD ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv = {(long)(ms / 1000), (long)(ms % 1000) * 1000};
    int n = ::select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, nullptr,
                     ms == INFINITE ? nullptr : &tv);
    return n > 0;
}

SOCKET Connect(unsigned short port) {
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return s;
    sockaddr_in addr;
    memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    u_long nonBlocking = 1;
    ::ioctlsocket(s, FIONBIO, &nonBlocking);
    bool connected = ::connect(s, (sockaddr*)&addr, sizeof addr) == 0;
    if (!connected && ::WSAGetLastError() == WSAEWOULDBLOCK &&
        WaitReady(s, true, kTcpConnectWaitMs)) {
        int error = 0;
        int length = sizeof error;
        connected = ::getsockopt(s, SOL_SOCKET, SO_ERROR, (char*)&error, &length) == 0 && !error;
    }
    if (!connected) {
        ::closesocket(s);
        return INVALID_SOCKET;
    }
    u_long blocking = 0;
    ::ioctlsocket(s, FIONBIO, &blocking);
    // A request is small and its answer awaited: send it at once.
    BOOL on = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, (const char*)&on, sizeof on);
    return s;
}

bool SendAll(SOCKET s, const uint8_t* p, size_t size) {
    while (size > 0) {
        int chunk = size > 1 << 20 ? 1 << 20 : (int)size;
        int n = ::send(s, (const char*)p, chunk, 0);
        if (n <= 0) return false;
        p += n;
        size -= (size_t)n;
    }
    return true;
}

// Waits until the connection has bytes to read: at most waitMs, or without
// bound (INFINITE) until they come or the handle is closed.
bool WaitReadable(Connection* c, DWORD waitMs) {
    if (waitMs != INFINITE) return WaitReady(c->socket, false, waitMs);
    while (!c->closed.load())
        if (WaitReady(c->socket, false, kWaitSliceMs)) return true;
    return false;
}

// Receives exactly size bytes, waiting as WaitReadable for each piece.
bool RecvAll(Connection* c, uint8_t* p, size_t size, DWORD waitMs) {
    while (size > 0) {
        if (!WaitReadable(c, waitMs)) return false;
        int chunk = size > 1 << 20 ? 1 << 20 : (int)size;
        int n = ::recv(c->socket, (char*)p, chunk, 0);
        if (n <= 0) return false;
        p += n;
        size -= (size_t)n;
    }
    return true;
}

BOOL Broken(Connection* c) {
    c->broken = true;
    ::shutdown(c->socket, SD_BOTH);
    ::SetLastError(ERROR_DEVICE_NOT_CONNECTED);
    return FALSE;
}

// One request and its answer, with the connection's lock held.
BOOL Exchange(Connection* c, DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
              DWORD* bytesReturned) {
    if (c->broken) {
        ::SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return FALSE;
    }
    // Header and input in one message.
    std::unique_ptr<uint8_t[]> message(new (std::nothrow) uint8_t[protocol::kHeaderBytes + inSize]);
    if (!message) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    uint8_t header[protocol::kHeaderBytes];
    protocol::PutRequestHeader(header, code, inSize, outSize);
    memcpy(message.get(), header, sizeof header);
    if (inSize) memcpy(message.get() + sizeof header, in, inSize);
    if (!SendAll(c->socket, message.get(), sizeof header + inSize)) return Broken(c);
    uint8_t answer[protocol::kHeaderBytes];
    const DWORD wait = code == protocol::kReadStreamCode ? INFINITE : kTcpReplyWaitMs;
    protocol::Answer parsed;
    if (!RecvAll(c, answer, sizeof answer, wait) ||
        !protocol::ParseAnswer(answer, outSize, &parsed))
        return Broken(c);
    if (parsed.returned && !RecvAll(c, (uint8_t*)out, parsed.returned, kTcpReplyWaitMs))
        return Broken(c);
    if (bytesReturned) *bytesReturned = parsed.returned;
    if (parsed.result == 0) {
        ::SetLastError(parsed.error ? parsed.error : ERROR_GEN_FAILURE);
        return FALSE;
    }
    ::SetLastError(ERROR_SUCCESS);
    return TRUE;
}

HANDLE Open(const char* path) {
    unsigned short port = CameraPort(path);
    if (!port || !StartWinsock()) {
        ::SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    auto c = std::make_shared<Connection>();
    c->socket = Connect(port);
    if (c->socket == INVALID_SOCKET) {
        ::SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE h = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!h) return INVALID_HANDLE_VALUE;
    std::lock_guard<std::mutex> guard(g_tableLock);
    for (Slot& s : g_table) {
        if (s.handle) continue;
        s.handle = h;
        s.connection = std::move(c);
        ::SetLastError(ERROR_SUCCESS);
        return h;
    }
    ::CloseHandle(h);
    ::SetLastError(ERROR_TOO_MANY_OPEN_FILES);
    return INVALID_HANDLE_VALUE;
}

// Takes a camera handle out of the table: true when it was one.
bool Forget(HANDLE h) {
    std::shared_ptr<Connection> c;
    {
        std::lock_guard<std::mutex> guard(g_tableLock);
        for (Slot& s : g_table) {
            if (s.handle != h || !h) continue;
            s.handle = nullptr;
            c.swap(s.connection);
            break;
        }
    }
    if (!c) return false;
    // Ends a stream read waiting on it in another thread; the socket itself
    // is closed by whoever lets go of the connection last.
    c->closed.store(true);
    ::shutdown(c->socket, SD_BOTH);
    return true;
}

}  // namespace
}  // namespace plat::tcp

namespace plat {

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags, HANDLE templateFile) {
    if (tcp::IsCameraFile(path) && disposition == OPEN_EXISTING) return tcp::Open(path);
    return ::CreateFileA(path, access, share, security, disposition, flags, templateFile);
}

BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                     LPDWORD bytesReturned, LPOVERLAPPED overlapped) {
    std::shared_ptr<tcp::Connection> c = tcp::Find(device);
    if (!c)
        return ::DeviceIoControl(device, code, in, inSize, out, outSize, bytesReturned, overlapped);
    if (bytesReturned) *bytesReturned = 0;
    if (overlapped || inSize > protocol::kMaxInputBytes || outSize > protocol::kMaxOutputBytes ||
        (inSize && !in) || (outSize && !out)) {
        ::SetLastError(ERROR_INVALID_PARAMETER);  // nothing is sent
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(c->lock);
    return tcp::Exchange(c.get(), code, in, inSize, out, outSize, bytesReturned);
}

BOOL CloseHandle(HANDLE h) {
    tcp::Forget(h);
    return ::CloseHandle(h);
}

}  // namespace plat

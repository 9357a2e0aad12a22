// CreateFileA and DeviceIoControl over the camera socket protocol (see
// device_file.h for the choices made here).
#include "platform/posix/devices/device_file.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <new>
#include <string>

#include "platform/camera_protocol.h"
#include "platform/posix/handle_table.h"

namespace plat::posix {
namespace {

using protocol::kMaxInputBytes;
using protocol::kMaxOutputBytes;
using protocol::kReadStreamCode;
// A server whose listen queue is full makes connect fail with EAGAIN; we retry
// for this long before the open fails.
constexpr int kConnectRetryMs = 2000;

std::atomic<uint32_t> g_replyTimeoutMs{kDefaultDeviceReplyTimeoutMs};

struct DeviceFile {
    int fd = -1;
    std::mutex lock;  // one request (message out, answer in) at a time
    bool broken = false;
};

void ReleaseFile(void* object) {
    DeviceFile* file = static_cast<DeviceFile*>(object);
    if (file->fd >= 0) close(file->fd);
    delete file;
}

int64_t MonotonicMs() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

// Waits until fd is ready for events or the deadline passes (deadline < 0:
// no bound). True when ready (or in an error state the next call will show).
bool WaitReady(int fd, short events, int64_t deadline) {
    for (;;) {
        int timeout = -1;
        if (deadline >= 0) {
            int64_t left = deadline - MonotonicMs();
            if (left <= 0) return false;
            timeout = left > 60000 ? 60000 : (int)left;
        }
        struct pollfd p = {fd, events, 0};
        int n = poll(&p, 1, timeout);
        if (n > 0) return true;
        if (n < 0 && errno != EINTR) return false;
        // timeout slice or EINTR: check the deadline again
    }
}

int64_t DeadlineFrom(int64_t boundMs) {
    return boundMs < 0 ? -1 : MonotonicMs() + boundMs;
}

// Sends all bytes; each wait for room is bounded by boundMs (< 0: unbounded).
bool SendAll(int fd, const void* data, size_t size, int64_t boundMs) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        ssize_t n = send(fd, p, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            p += n;
            size -= (size_t)n;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!WaitReady(fd, POLLOUT, DeadlineFrom(boundMs))) return false;
            continue;
        }
        return false;
    }
    return true;
}

// Receives exactly size bytes; end of stream or an error fails.
bool RecvAll(int fd, void* data, size_t size, int64_t boundMs) {
    uint8_t* p = static_cast<uint8_t*>(data);
    while (size > 0) {
        ssize_t n = recv(fd, p, size, MSG_DONTWAIT);
        if (n > 0) {
            p += n;
            size -= (size_t)n;
            continue;
        }
        if (n == 0) return false;  // the server closed the connection
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!WaitReady(fd, POLLIN, DeadlineFrom(boundMs))) return false;
            continue;
        }
        return false;
    }
    return true;
}

DWORD ConnectError(int err) {
    switch (err) {
        case ENOENT:
        case ENOTDIR:
        case ECONNREFUSED:  // a socket file nobody listens on: no camera there
        case ENOTSOCK:
        case EPROTOTYPE:
            return ERROR_FILE_NOT_FOUND;
        case EACCES:
        case EPERM:
            return ERROR_ACCESS_DENIED;
        case ENOMEM:
        case ENOBUFS:
            return ERROR_NOT_ENOUGH_MEMORY;
        default:
            return ERROR_GEN_FAILURE;
    }
}

// Connects a non-blocking stream socket to the socket file at path; -1 with
// errno set on failure. A path too long for sockaddr_un is reached through
// the directory's descriptor in /proc/self/fd.
int ConnectPath(const char* path) {
    std::string target = path;
    int dirFd = -1;
    struct sockaddr_un addr;
    memset(&addr, 0, sizeof(addr));
    addr.sun_family = AF_UNIX;
    if (target.size() >= sizeof(addr.sun_path)) {
        size_t slash = target.rfind('/');
        std::string dir = slash == std::string::npos ? "." : target.substr(0, slash + 1);
        std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
        dirFd = open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (dirFd < 0) return -1;
        target = "/proc/self/fd/" + std::to_string(dirFd) + "/" + name;
        if (target.size() >= sizeof(addr.sun_path)) {
            close(dirFd);
            errno = ENAMETOOLONG;
            return -1;
        }
    }
    memcpy(addr.sun_path, target.c_str(), target.size() + 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        int err = errno;
        if (dirFd >= 0) close(dirFd);
        errno = err;
        return -1;
    }
    int64_t deadline = MonotonicMs() + kConnectRetryMs;
    int rc;
    for (;;) {
        rc = connect(fd, (struct sockaddr*)&addr, sizeof(addr));
        if (rc == 0) break;
        if (errno == EINTR) continue;
        if (errno == EAGAIN && MonotonicMs() < deadline) {
            struct timespec pause = {0, 10 * 1000 * 1000};
            nanosleep(&pause, nullptr);
            continue;
        }
        if (errno == EINPROGRESS) {
            if (WaitReady(fd, POLLOUT, deadline)) {
                int soError = 0;
                socklen_t len = sizeof(soError);
                getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len);
                if (soError == 0) {
                    rc = 0;
                    break;
                }
                errno = soError;
            } else {
                errno = ETIMEDOUT;
            }
        }
        break;
    }
    int err = errno;
    if (dirFd >= 0) close(dirFd);
    if (rc != 0) {
        close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

// Marks the connection dead and tells the server so.
void Break(DeviceFile* file) {
    file->broken = true;
    shutdown(file->fd, SHUT_RDWR);
}

// One request and its answer, with the file's lock held. Returns the result
// field of the answer (or false with the last error set).
BOOL Exchange(DeviceFile* file, DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
              DWORD* bytesReturned) {
    if (file->broken) {
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return FALSE;
    }
    const int64_t bound = g_replyTimeoutMs.load();
    uint8_t header[protocol::kHeaderBytes];
    protocol::PutRequestHeader(header, code, inSize, outSize);
    if (!SendAll(file->fd, header, sizeof(header), bound) ||
        (inSize > 0 && !SendAll(file->fd, in, inSize, bound))) {
        Break(file);
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return FALSE;
    }
    uint8_t answer[protocol::kHeaderBytes];
    const int64_t answerBound = code == kReadStreamCode ? -1 : bound;
    if (!RecvAll(file->fd, answer, sizeof(answer), answerBound)) {
        Break(file);
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return FALSE;
    }
    protocol::Answer parsed;
    if (!protocol::ParseAnswer(answer, outSize, &parsed)) {
        Break(file);  // the server doesn't speak the protocol: we can't stay in step with it
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return FALSE;
    }
    const uint32_t result = parsed.result;
    const uint32_t returned = parsed.returned;
    const uint32_t error = parsed.error;
    if (returned > 0 && !RecvAll(file->fd, out, returned, bound)) {
        Break(file);
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return FALSE;
    }
    if (bytesReturned) *bytesReturned = returned;
    if (result == 0) {
        SetLastError(error != 0 ? error : ERROR_GEN_FAILURE);
        return FALSE;
    }
    return TRUE;
}

}  // namespace

void SetDeviceReplyTimeout(uint32_t ms) {
    g_replyTimeoutMs.store(ms);
}
uint32_t DeviceReplyTimeout() {
    return g_replyTimeoutMs.load();
}

}  // namespace plat::posix

using namespace plat::posix;

extern "C" {

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
    (void)dwDesiredAccess;
    (void)dwShareMode;
    (void)lpSecurityAttributes;
    (void)dwFlagsAndAttributes;
    (void)hTemplateFile;
    if (!lpFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (*lpFileName == '\0' || dwCreationDisposition != OPEN_EXISTING) {
        // Device files exist or they don't: nothing is ever created here.
        SetLastError(*lpFileName == '\0' ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    int fd = ConnectPath(lpFileName);
    if (fd < 0) {
        SetLastError(ConnectError(errno));
        return INVALID_HANDLE_VALUE;
    }
    DeviceFile* file = new (std::nothrow) DeviceFile;
    if (!file) {
        close(fd);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    file->fd = fd;
    HANDLE h = HandleInsert(ObjectKind::File, file, ReleaseFile);
    if (!h) {
        ReleaseFile(file);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    return h;
}

BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer,
                            DWORD nInBufferSize, LPVOID lpOutBuffer, DWORD nOutBufferSize,
                            DWORD* lpBytesReturned, LPOVERLAPPED lpOverlapped) {
    DeviceFile* file = static_cast<DeviceFile*>(HandleAcquire(hDevice, ObjectKind::File));
    if (!file) return FALSE;  // ERROR_INVALID_HANDLE set by the table
    BOOL ok = FALSE;
    if (lpBytesReturned) *lpBytesReturned = 0;
    if (lpOverlapped) {
        SetLastError(ERROR_INVALID_PARAMETER);  // device files here are synchronous only
    } else if (nInBufferSize > kMaxInputBytes || nOutBufferSize > kMaxOutputBytes ||
               (nInBufferSize > 0 && !lpInBuffer) || (nOutBufferSize > 0 && !lpOutBuffer)) {
        SetLastError(ERROR_INVALID_PARAMETER);  // nothing is sent
    } else {
        std::lock_guard<std::mutex> guard(file->lock);
        ok = Exchange(file, dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer, nOutBufferSize,
                      lpBytesReturned);
    }
    HandleRelease(hDevice);
    return ok;
}

}  // extern "C"

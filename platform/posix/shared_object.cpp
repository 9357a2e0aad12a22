// Named shared objects: POSIX shared memory with a header of holders, so an
// object disappears when the last process holding it lets go or dies.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>

#include "device_dir.h"
#include "internal.h"

namespace plat::posix {
namespace {

constexpr uint32_t kReady = 0x54534f31;  // "TSO1"
// More processes than ever hold one object (four library processes, a few tools).
constexpr int kHolders = 64;
constexpr int kCreateAttempts = 8;
// How long an opener waits for the creator to publish the header.
constexpr uint64_t kCreatorWaitMs = 2000;

struct Holder {
    uint32_t pid;
    uint32_t count;
    uint64_t start;
};

struct SharedHeader {
    std::atomic<uint32_t> ready;
    uint32_t dead;  // unlinked: openers that still reached it must start over
    uint64_t userSize;
    pthread_mutex_t lock;
    Holder holders[kHolders];
};
static_assert(sizeof(SharedHeader) <= kSharedHeaderSize, "header fits its page");

}  // namespace

struct SharedObject {
    std::atomic<int> refs;
    bool letGo;  // this process stopped holding it at exit
    int fd;
    char path[256];
    SharedHeader* header;
    size_t userSize;
};

namespace {

// Every object this process holds, so that exit can let go of them all, as
// Windows closes a process's handles when it ends.
constexpr int kLiveObjects = 4096;
pthread_mutex_t g_liveLock = PTHREAD_MUTEX_INITIALIZER;
SharedObject* g_live[kLiveObjects];
bool g_exiting = false;

void Track(SharedObject* o, bool add) {
    pthread_mutex_lock(&g_liveLock);
    for (SharedObject*& slot : g_live) {
        if (add ? slot == nullptr : slot == o) {
            slot = add ? o : nullptr;
            break;
        }
    }
    pthread_mutex_unlock(&g_liveLock);
}

void MakePath(const char* kind, const char* name, char* out, size_t size) {
    // The namespace keeps each user's (and each test run's) objects apart.
    int n = snprintf(out, size, "/tavcam-%s-%s-", ObjectNamespace().c_str(), kind);
    size_t at = n > 0 ? (size_t)n : 0;
    // Names may hold any character but '\\' on Windows; '/' can't be in a
    // shared memory name, so it and unusual bytes are escaped.
    for (const char* p = name; *p && at + 4 < size; ++p) {
        unsigned char c = (unsigned char)*p;
        if (c == '/' || c == '%' || c < 0x21 || c > 0x7e) {
            at += (size_t)snprintf(out + at, size - at, "%%%02X", c);
        } else {
            out[at++] = (char)c;
        }
    }
    out[at] = 0;
}

uint64_t SelfStart() {
    static std::atomic<uint64_t> cached{0};
    static std::atomic<uint32_t> cachedPid{0};
    uint32_t pid = (uint32_t)getpid();
    if (cachedPid.load() != pid) {
        cached.store(ProcessStartTime((pid_t)pid));
        cachedPid.store(pid);
    }
    return cached.load();
}

// Drops holders whose process is gone; returns how many holders remain.
int PruneLocked(SharedHeader* h) {
    int live = 0;
    for (Holder& holder : h->holders) {
        if (holder.count == 0) continue;
        if (holder.pid != (uint32_t)getpid() && !ProcessAlive((pid_t)holder.pid, holder.start)) {
            holder = Holder{};
            continue;
        }
        ++live;
    }
    return live;
}

bool AddSelfLocked(SharedHeader* h) {
    uint32_t pid = (uint32_t)getpid();
    uint64_t start = SelfStart();
    for (Holder& holder : h->holders) {
        if (holder.count != 0 && holder.pid == pid && holder.start == start) {
            ++holder.count;
            return true;
        }
    }
    for (Holder& holder : h->holders) {
        if (holder.count == 0) {
            holder = Holder{pid, 1, start};
            return true;
        }
    }
    return false;
}

void RemoveSelfLocked(SharedHeader* h) {
    uint32_t pid = (uint32_t)getpid();
    for (Holder& holder : h->holders) {
        if (holder.count != 0 && holder.pid == pid) {
            if (--holder.count == 0) holder = Holder{};
            return;
        }
    }
}

SharedObject* Wrap(int fd, const char* path, SharedHeader* header, size_t userSize) {
    SharedObject* o = new (std::nothrow) SharedObject;
    if (!o) return nullptr;
    o->refs.store(1);
    o->letGo = false;
    o->fd = fd;
    snprintf(o->path, sizeof o->path, "%s", path);
    o->header = header;
    o->userSize = userSize;
    Track(o, true);
    return o;
}

SharedObject* Create(int fd, const char* path, size_t size, SharedInit init, void* context) {
    size_t total = kSharedHeaderSize + size;
    if (ftruncate(fd, (off_t)total) != 0) return nullptr;
    void* base = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (base == MAP_FAILED) return nullptr;
    SharedHeader* h = (SharedHeader*)base;  // the file is zero-filled
    h->userSize = size;
    RobustInit(&h->lock, false);
    h->holders[0] = Holder{(uint32_t)getpid(), 1, SelfStart()};
    if (init) init((char*)base + kSharedHeaderSize, context);
    h->ready.store(kReady, std::memory_order_release);
    SharedObject* o = Wrap(fd, path, h, size);
    if (!o) munmap(base, total);
    return o;
}

enum class OpenResult { Ok, Retry, Fail };

OpenResult OpenExisting(int fd, const char* path, size_t size, bool create, SharedObject** out) {
    // Wait for the creator to size the object and publish its header.
    uint64_t until = MonotonicMs() + kCreatorWaitMs;
    struct stat st;
    SharedHeader* h = nullptr;
    for (;;) {
        if (fstat(fd, &st) != 0) return OpenResult::Fail;
        if ((size_t)st.st_size >= kSharedHeaderSize && !h) {
            void* p = mmap(nullptr, kSharedHeaderSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            if (p == MAP_FAILED) return OpenResult::Fail;
            h = (SharedHeader*)p;
        }
        if (h && h->ready.load(std::memory_order_acquire) == kReady) break;
        if (MonotonicMs() >= until) {
            // The creator died before finishing: the object is debris.
            if (h) munmap(h, kSharedHeaderSize);
            shm_unlink(path);
            return OpenResult::Retry;
        }
        usleep(1000);
    }
    size_t userSize = (size_t)h->userSize;
    munmap(h, kSharedHeaderSize);
    if (userSize < size) {
        ::SetLastError(ERROR_INVALID_PARAMETER);  // smaller than the caller needs
        return OpenResult::Fail;
    }
    size_t total = kSharedHeaderSize + userSize;
    void* base = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (base == MAP_FAILED) return OpenResult::Fail;
    h = (SharedHeader*)base;
    RobustLock(&h->lock);
    if (h->dead) {
        pthread_mutex_unlock(&h->lock);
        munmap(base, total);
        return OpenResult::Retry;
    }
    if (PruneLocked(h) == 0) {
        // Every holder died without letting go: the object is gone, as on
        // Windows; a creating open makes it anew, a plain open finds nothing.
        h->dead = 1;
        shm_unlink(path);
        pthread_mutex_unlock(&h->lock);
        munmap(base, total);
        if (!create) ::SetLastError(ERROR_FILE_NOT_FOUND);
        return create ? OpenResult::Retry : OpenResult::Fail;
    }
    bool added = AddSelfLocked(h);
    pthread_mutex_unlock(&h->lock);
    if (!added) {
        munmap(base, total);
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return OpenResult::Fail;
    }
    *out = Wrap(fd, path, h, userSize);
    if (!*out) {
        munmap(base, total);
        return OpenResult::Fail;
    }
    return OpenResult::Ok;
}

// Stops holding the object: this process leaves its holders, and the object's
// name goes with its last holder.
void LetGo(SharedObject* object) {
    SharedHeader* h = object->header;
    RobustLock(&h->lock);
    RemoveSelfLocked(h);
    if (PruneLocked(h) == 0 && !h->dead) {
        h->dead = 1;
        shm_unlink(object->path);
    }
    pthread_mutex_unlock(&h->lock);
}

}  // namespace

void RobustInit(pthread_mutex_t* mutex, bool recursive) {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
    if (recursive) pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(mutex, &attr);
    pthread_mutexattr_destroy(&attr);
}

bool RobustLock(pthread_mutex_t* mutex) {
    int rc = pthread_mutex_lock(mutex);
    if (rc == EOWNERDEAD) {
        pthread_mutex_consistent(mutex);
        return true;
    }
    return false;
}

SharedObject* SharedOpen(const char* kind, const char* name, size_t size, bool create,
                         SharedInit init, void* context, bool* existed) {
    char path[256];
    MakePath(kind, name, path, sizeof path);
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        if (create) {
            int fd = shm_open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (fd >= 0) {
                SharedObject* o = Create(fd, path, size, init, context);
                if (!o) {
                    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
                    shm_unlink(path);
                    close(fd);
                    return nullptr;
                }
                if (existed) *existed = false;
                return o;
            }
            if (errno != EEXIST) {
                ::SetLastError(errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_GEN_FAILURE);
                return nullptr;
            }
        }
        int fd = shm_open(path, O_RDWR | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == ENOENT && create) continue;  // its last holder let go meanwhile
            ::SetLastError(errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
            return nullptr;
        }
        SharedObject* o = nullptr;
        OpenResult r = OpenExisting(fd, path, size, create, &o);
        if (r == OpenResult::Ok) {
            if (existed) *existed = true;
            return o;
        }
        close(fd);
        if (r == OpenResult::Fail) return nullptr;
        if (!create) {
            ::SetLastError(ERROR_FILE_NOT_FOUND);
            return nullptr;
        }
    }
    ::SetLastError(ERROR_GEN_FAILURE);
    return nullptr;
}

void SharedAddRef(SharedObject* object) {
    object->refs.fetch_add(1);
}

void SharedRelease(SharedObject* object) {
    if (object->refs.fetch_sub(1) != 1) return;
    Track(object, false);
    SharedHeader* h = object->header;
    pthread_mutex_lock(&g_liveLock);
    bool holding = !object->letGo;
    pthread_mutex_unlock(&g_liveLock);
    if (holding) LetGo(object);
    munmap(h, kSharedHeaderSize + object->userSize);
    close(object->fd);
    delete object;
}

namespace {

// At exit the process stops holding its named objects, as Windows closes the
// handles of a process that ends: the last process to end removes them. The
// memory stays mapped, since other threads may still run for a moment; a
// handle closed after this only unmaps.
__attribute__((destructor)) void LetGoOfAllAtExit() {
    pthread_mutex_lock(&g_liveLock);
    g_exiting = true;
    for (SharedObject* o : g_live) {
        if (o && !o->letGo) {
            LetGo(o);
            o->letGo = true;
        }
    }
    pthread_mutex_unlock(&g_liveLock);
}

}  // namespace

bool SharedExiting() {
    pthread_mutex_lock(&g_liveLock);
    bool exiting = g_exiting;
    pthread_mutex_unlock(&g_liveLock);
    return exiting;
}

void* SharedUser(SharedObject* object) {
    return (char*)object->header + kSharedHeaderSize;
}
size_t SharedSize(SharedObject* object) {
    return object->userSize;
}
int SharedFd(SharedObject* object) {
    return object->fd;
}

bool SharedExists(const char* kind, const char* name) {
    char path[256];
    MakePath(kind, name, path, sizeof path);
    int fd = shm_open(path, O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0) return false;
    close(fd);
    return true;
}

}  // namespace plat::posix

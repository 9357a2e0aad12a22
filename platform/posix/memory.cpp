// LocalAlloc / LocalFree, and the pointer-validity tests.
//
// IsBadReadPtr and IsBadWritePtr ask the kernel for the process's memory map
// and check that every page of the range lies in mappings with the needed
// permission; they never touch the memory itself, so they can't fault and
// don't disturb guard pages.
//
// The map is asked mapping by mapping through the PROCMAP_QUERY request on
// /proc/self/maps (Linux 6.11 and later): about 1.3 us per mapping, where
// reading the map as text costs 15-20 us, a fifth of converting a 640x480
// picture. The descriptor for it is opened once and kept (close-on-exec); a
// forked child drops its parent's, which describes the parent's memory, and
// opens its own; an application that closes it just makes us open another.
// Older kernels refuse the request, and the text is read.
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

#include "internal.h"

namespace plat::posix {
namespace {

// Parses one hex number, advancing *p.
uintptr_t Hex(const char** p, const char* end) {
    uintptr_t v = 0;
    while (*p < end) {
        char c = **p;
        int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (d < 0) break;
        v = v * 16 + (uintptr_t)d;
        ++*p;
    }
    return v;
}

}  // namespace

bool RangeAllowedByText(uintptr_t begin, uintptr_t end, char need) {
    int fd = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buf[8192];
    size_t have = 0;
    uintptr_t covered = begin;  // everything below is known to be allowed
    bool done = false, ok = false;
    while (!done) {
        ssize_t n = read(fd, buf + have, sizeof buf - have);
        if (n <= 0) break;
        have += (size_t)n;
        size_t used = 0;
        for (;;) {
            char* nl = (char*)memchr(buf + used, '\n', have - used);
            if (!nl) break;
            const char* p = buf + used;
            const char* lineEnd = nl;
            used = (size_t)(nl - buf) + 1;
            // "start-end perms offset dev inode path", sorted by address.
            uintptr_t lo = Hex(&p, lineEnd);
            if (p < lineEnd && *p == '-') ++p;
            uintptr_t hi = Hex(&p, lineEnd);
            if (p + 3 >= lineEnd) continue;
            ++p;
            bool allowed = need == 'r' ? p[0] == 'r' : p[1] == 'w';
            if (hi <= covered) continue;
            if (lo > covered || !allowed) {
                done = true;  // a hole, or a page without the permission
                break;
            }
            covered = hi;
            if (covered >= end) {
                ok = true;
                done = true;
                break;
            }
        }
        memmove(buf, buf + used, have - used);
        have -= used;
        if (have == sizeof buf) break;  // a line longer than the buffer: give up
    }
    close(fd);
    return ok;
}

namespace {

// The kernel's description of one mapping, as the PROCMAP_QUERY request
// takes and fills it (linux/fs.h of 6.11; the build's headers may be older).
struct ProcmapQuery {
    uint64_t size;
    uint64_t queryFlags;
    uint64_t queryAddr;
    uint64_t vmaStart;
    uint64_t vmaEnd;
    uint64_t vmaFlags;
    uint64_t vmaPageSize;
    uint64_t vmaOffset;
    uint64_t inode;
    uint32_t devMajor;
    uint32_t devMinor;
    uint32_t vmaNameSize;
    uint32_t buildIdSize;
    uint64_t vmaNameAddr;
    uint64_t buildIdAddr;
};
static_assert(sizeof(ProcmapQuery) == 104, "the kernel's struct procmap_query");
static_assert(offsetof(ProcmapQuery, vmaFlags) == 40 && offsetof(ProcmapQuery, vmaNameAddr) == 88,
              "the kernel's struct procmap_query");
const unsigned long kProcmapQuery = _IOWR('f', 17, ProcmapQuery);
const uint64_t kVmaReadable = 1, kVmaWritable = 2;

// The kept descriptor of /proc/self/maps with the inode of the file it was
// opened on: inode << 32 | descriptor, 0 before the first use. The process's
// descriptors are the application's too: one that closes ours and reuses its
// number must not have its file queried, or closed by a forked child, so each
// use first checks that the descriptor still names the file we opened.
std::atomic<uint64_t> g_maps{0};

int KeptFd(uint64_t kept) {
    if (kept == 0) return -1;
    int fd = (int)(uint32_t)kept;
    struct stat st;
    if (fstat(fd, &st) != 0 || (uint32_t)st.st_ino != (uint32_t)(kept >> 32)) return -1;
    return fd;
}

void DropParentsMaps() {
    int fd = KeptFd(g_maps.exchange(0));
    if (fd >= 0) close(fd);
}

int MapsFd() {
    uint64_t kept = g_maps.load(std::memory_order_acquire);
    int fd = KeptFd(kept);
    if (fd >= 0) return fd;
    static pthread_once_t once = PTHREAD_ONCE_INIT;
    pthread_once(&once, [] { pthread_atfork(nullptr, nullptr, DropParentsMaps); });
    int opened = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (opened < 0) return -1;
    struct stat st;
    if (fstat(opened, &st) != 0) {
        close(opened);
        return -1;
    }
    // A stale entry is replaced, not closed: its number may be someone else's now.
    uint64_t mine = (uint64_t)(uint32_t)st.st_ino << 32 | (uint32_t)opened;
    if (g_maps.compare_exchange_strong(kept, mine)) return opened;
    close(opened);  // another thread was first
    return KeptFd(kept);
}

}  // namespace

int RangeAllowedByQuery(uintptr_t begin, uintptr_t end, char need) {
    int fd = MapsFd();
    if (fd < 0) return -1;
    uint64_t wanted = need == 'r' ? kVmaReadable : kVmaWritable;
    for (uintptr_t at = begin; at < end;) {
        ProcmapQuery q;
        memset(&q, 0, sizeof q);
        q.size = sizeof q;
        q.queryAddr = at;  // no flags: the mapping that covers the address
        if (ioctl(fd, kProcmapQuery, &q) != 0) return errno == ENOENT ? 0 : -1;
        if (!(q.vmaFlags & wanted) || q.vmaEnd <= at) return 0;
        at = (uintptr_t)q.vmaEnd;
    }
    return 1;
}

namespace {

bool RangeAllowed(uintptr_t begin, uintptr_t end, char need) {
    int answer = RangeAllowedByQuery(begin, end, need);
    return answer < 0 ? RangeAllowedByText(begin, end, need) : answer == 1;
}

BOOL Bad(const void* lp, UINT_PTR ucb, char need) {
    if (ucb == 0) return FALSE;  // nothing to access, whatever the pointer
    uintptr_t begin = (uintptr_t)lp;
    if (begin == 0 || begin + ucb < begin) return TRUE;
    return RangeAllowed(begin, begin + ucb, need) ? FALSE : TRUE;
}

}  // namespace
}  // namespace plat::posix

extern "C" {

HLOCAL WINAPI LocalAlloc(UINT uFlags, size_t uBytes) {
    void* p =
        (uFlags & LMEM_ZEROINIT) ? calloc(1, uBytes ? uBytes : 1) : malloc(uBytes ? uBytes : 1);
    if (!p) ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return p;
}

HLOCAL WINAPI LocalFree(HLOCAL hMem) {
    free(hMem);
    return nullptr;
}

BOOL WINAPI IsBadReadPtr(const void* lp, UINT_PTR ucb) {
    return plat::posix::Bad(lp, ucb, 'r');
}

BOOL WINAPI IsBadWritePtr(LPVOID lp, UINT_PTR ucb) {
    return plat::posix::Bad(lp, ucb, 'w');
}

}  // extern "C"

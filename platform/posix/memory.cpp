// LocalAlloc / LocalFree, and the pointer-validity tests.
//
// IsBadReadPtr and IsBadWritePtr read the process's memory map
// (/proc/self/maps) and check that every page of the range lies in mappings
// with the needed permission; they never touch the memory itself, so they
// can't fault and don't disturb guard pages.
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

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

// True when [begin, end) is covered by mappings that allow `need` ('r' or 'w').
bool RangeAllowed(uintptr_t begin, uintptr_t end, char need) {
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

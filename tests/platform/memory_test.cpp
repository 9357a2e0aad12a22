// Zero-filled allocation and the pointer-validity tests.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix/internal.h"

namespace {

TEST(Memory, LocalAllocZeroFills) {
    unsigned char* p = (unsigned char*)plat::LocalAlloc(LPTR, 100000);
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 100000; ++i) ASSERT_EQ(p[i], 0);
    EXPECT_EQ(plat::LocalFree(p), nullptr);
}

TEST(Memory, PointerTestsFollowThePagePermissions) {
    size_t page = (size_t)sysconf(_SC_PAGESIZE);
    // Four pages: read-write, read-only, no access, unmapped.
    char* base =
        (char*)mmap(nullptr, 4 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(base, MAP_FAILED);
    char* rw = base;
    char* ro = base + page;
    char* none = base + 2 * page;
    char* gone = base + 3 * page;
    ASSERT_EQ(mprotect(ro, page, PROT_READ), 0);
    ASSERT_EQ(mprotect(none, page, PROT_NONE), 0);
    ASSERT_EQ(munmap(gone, page), 0);

    EXPECT_FALSE(plat::IsBadReadPtr(rw, page));
    EXPECT_FALSE(plat::IsBadWritePtr(rw, page));
    EXPECT_FALSE(plat::IsBadReadPtr(ro, page));
    EXPECT_TRUE(plat::IsBadWritePtr(ro, page));
    EXPECT_TRUE(plat::IsBadReadPtr(none, 1));
    EXPECT_TRUE(plat::IsBadWritePtr(none, 1));
    EXPECT_TRUE(plat::IsBadReadPtr(gone, 1));
    EXPECT_TRUE(plat::IsBadWritePtr(gone, 1));
    // Ranges: readable across the first two pages, not writable; one byte into
    // the next page is enough to make a range bad.
    EXPECT_FALSE(plat::IsBadReadPtr(rw + 10, page));
    EXPECT_TRUE(plat::IsBadWritePtr(rw + 10, page));
    EXPECT_TRUE(plat::IsBadReadPtr(ro, page + 1));
    EXPECT_FALSE(plat::IsBadReadPtr(ro, page));
    // Null and sizes, as on Windows.
    EXPECT_FALSE(plat::IsBadReadPtr(nullptr, 0));
    EXPECT_FALSE(plat::IsBadWritePtr(nullptr, 0));
    EXPECT_FALSE(plat::IsBadWritePtr(none, 0));
    EXPECT_TRUE(plat::IsBadReadPtr(nullptr, 1));
    EXPECT_TRUE(plat::IsBadWritePtr(nullptr, 1));
    EXPECT_TRUE(plat::IsBadReadPtr(rw, ~(UINT_PTR)0));  // wraps around

    // Both readings of the map agree (the kernel's where it answers; the text
    // is what older kernels fall back to).
    struct Case {
        const char* p;
        size_t n;
        char need;
        bool allowed;
    } cases[] = {{rw, page, 'w', true},       {ro, page, 'r', true},     {ro, page, 'w', false},
                 {none, 1, 'r', false},       {gone, 1, 'r', false},     {rw + 10, page, 'r', true},
                 {rw + 10, page, 'w', false}, {ro, page + 1, 'r', false}};
    for (const Case& c : cases) {
        uintptr_t b = (uintptr_t)c.p;
        EXPECT_EQ(plat::posix::RangeAllowedByText(b, b + c.n, c.need), c.allowed);
        int query = plat::posix::RangeAllowedByQuery(b, b + c.n, c.need);
        if (query >= 0) {
            EXPECT_EQ(query == 1, c.allowed);
        }
    }

    int local = 0;
    EXPECT_FALSE(plat::IsBadWritePtr(&local, sizeof local));
    void* heap = plat::LocalAlloc(LPTR, 3 * page);
    EXPECT_FALSE(plat::IsBadWritePtr(heap, 3 * page));
    plat::LocalFree(heap);
    EXPECT_FALSE(plat::IsBadReadPtr((const void*)&plat::IsBadReadPtr, 16)) << "code is readable";
    munmap(base, 3 * page);
}

TEST(Memory, AForkedChildTestsItsOwnMemory) {
    // The parent's answers come through a descriptor kept open; a child must
    // not be answered about its parent's memory through it.
    size_t page = (size_t)sysconf(_SC_PAGESIZE);
    char* shared =
        (char*)mmap(nullptr, page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(shared, MAP_FAILED);
    ASSERT_FALSE(plat::IsBadWritePtr(shared, page));
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Mapped here only, and unmapped here only (in that order, so that
        // the new mapping can't take the old one's place).
        char* own =
            (char*)mmap(nullptr, page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        munmap(shared, page);
        bool right =
            own != MAP_FAILED && plat::IsBadWritePtr(shared, 1) && !plat::IsBadWritePtr(own, page);
        _exit(right ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_FALSE(plat::IsBadWritePtr(shared, page));
    munmap(shared, page);
}

TEST(Memory, AnApplicationThatClosesTheKeptDescriptorKeepsItsOwnFile) {
    // The pointer tests keep /proc/self/maps open. An application may close
    // every descriptor it doesn't know and reuse the numbers: its file must
    // then be left alone, and the tests still answer right.
    int local = 0;
    ASSERT_FALSE(plat::IsBadWritePtr(&local, sizeof local));
    int kept = -1;
    DIR* dir = opendir("/proc/self/fd");
    ASSERT_NE(dir, nullptr);
    while (dirent* e = readdir(dir)) {
        char path[300], target[256];
        snprintf(path, sizeof path, "/proc/self/fd/%s", e->d_name);
        ssize_t n = readlink(path, target, sizeof target - 1);
        if (n <= 0) continue;
        target[n] = 0;
        if (strstr(target, "/maps") && atoi(e->d_name) != dirfd(dir)) kept = atoi(e->d_name);
    }
    closedir(dir);
    ASSERT_GE(kept, 0) << "the maps descriptor";
    int mine = open("/dev/null", O_RDWR);
    ASSERT_GE(mine, 0);
    ASSERT_EQ(dup2(mine, kept), kept);  // closes ours, the number is the application's now
    close(mine);
    EXPECT_FALSE(plat::IsBadWritePtr(&local, sizeof local));
    EXPECT_TRUE(plat::IsBadWritePtr(nullptr, 1));
    char target[256];
    char path[64];
    snprintf(path, sizeof path, "/proc/self/fd/%d", kept);
    ssize_t n = readlink(path, target, sizeof target - 1);
    ASSERT_GT(n, 0);
    target[n] = 0;
    EXPECT_STREQ(target, "/dev/null");
    // Nor does a forked child close it on the way.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(fcntl(kept, F_GETFD) != -1 ? 0 : 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    close(kept);
}

}  // namespace

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

#include <string>

#include "platform/platform.h"
#include "platform/posix/internal.h"

namespace {

// Runs f in a forked child; true when it returned true there.
template <typename F>
bool InForkedChild(F f) {
    pid_t child = fork();
    if (child == 0) _exit(f() ? 0 : 1);
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

std::string FdTarget(int fd) {
    char target[256];
    ssize_t n = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target);
    return n > 0 ? std::string(target, (size_t)n) : "";
}

TEST(Memory, PointerTestsFollowThePagePermissions) {
    unsigned char* zeroed = (unsigned char*)plat::LocalAlloc(LPTR, 100000);
    ASSERT_NE(zeroed, nullptr);
    for (int i = 0; i < 100000; ++i) ASSERT_EQ(zeroed[i], 0);
    EXPECT_EQ(plat::LocalFree(zeroed), nullptr);

    size_t page = (size_t)sysconf(_SC_PAGESIZE);
    // Four pages: read-write, read-only, no access, unmapped.
    char* rw =
        (char*)mmap(nullptr, 4 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(rw, MAP_FAILED);
    char *ro = rw + page, *none = rw + 2 * page, *gone = rw + 3 * page;
    ASSERT_EQ(mprotect(ro, page, PROT_READ), 0);
    ASSERT_EQ(mprotect(none, page, PROT_NONE), 0);
    ASSERT_EQ(munmap(gone, page), 0);
    // Ranges: readable across the first two pages, not writable; one byte
    // into the next page is enough to make a range bad. Both readings of the
    // map agree (the kernel's where it answers; the text is what older
    // kernels fall back to).
    const struct {
        const char* p;
        size_t n;
        char need;
        bool allowed;
    } cases[] = {{rw, page, 'r', true},       {rw, page, 'w', true},     {ro, page, 'r', true},
                 {ro, page, 'w', false},      {none, 1, 'r', false},     {none, 1, 'w', false},
                 {gone, 1, 'r', false},       {gone, 1, 'w', false},     {rw + 10, page, 'r', true},
                 {rw + 10, page, 'w', false}, {ro, page + 1, 'r', false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << (c.p - rw) << "+" << c.n << " " << c.need);
        bool bad =
            c.need == 'r' ? plat::IsBadReadPtr(c.p, c.n) : plat::IsBadWritePtr((void*)c.p, c.n);
        EXPECT_EQ(bad, !c.allowed);
        uintptr_t b = (uintptr_t)c.p;
        EXPECT_EQ(plat::posix::RangeAllowedByText(b, b + c.n, c.need), c.allowed);
        int query = plat::posix::RangeAllowedByQuery(b, b + c.n, c.need);
        if (query >= 0) {
            EXPECT_EQ(query == 1, c.allowed);
        }
    }
    // Null and sizes, as on Windows.
    EXPECT_FALSE(plat::IsBadReadPtr(nullptr, 0));
    EXPECT_FALSE(plat::IsBadWritePtr(nullptr, 0));
    EXPECT_FALSE(plat::IsBadWritePtr(none, 0));
    EXPECT_TRUE(plat::IsBadReadPtr(nullptr, 1));
    EXPECT_TRUE(plat::IsBadWritePtr(nullptr, 1));
    EXPECT_TRUE(plat::IsBadReadPtr(rw, ~(UINT_PTR)0));  // wraps around

    int local = 0;
    EXPECT_FALSE(plat::IsBadWritePtr(&local, sizeof local));
    void* heap = plat::LocalAlloc(LPTR, 3 * page);
    EXPECT_FALSE(plat::IsBadWritePtr(heap, 3 * page));
    plat::LocalFree(heap);
    EXPECT_FALSE(plat::IsBadReadPtr((const void*)&plat::IsBadReadPtr, 16)) << "code is readable";
    munmap(rw, 3 * page);
}

TEST(Memory, AForkedChildTestsItsOwnMemory) {
    // The parent's answers come through a descriptor kept open; a child must
    // not be answered about its parent's memory through it.
    size_t page = (size_t)sysconf(_SC_PAGESIZE);
    char* shared =
        (char*)mmap(nullptr, page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(shared, MAP_FAILED);
    ASSERT_FALSE(plat::IsBadWritePtr(shared, page));
    EXPECT_TRUE(InForkedChild([&] {
        // Mapped here only, and unmapped here only (in that order, so that
        // the new mapping can't take the old one's place).
        char* own =
            (char*)mmap(nullptr, page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        munmap(shared, page);
        return own != MAP_FAILED && plat::IsBadWritePtr(shared, 1) &&
               !plat::IsBadWritePtr(own, page);
    }));
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
    while (dirent* e = readdir(dir))
        if (FdTarget(atoi(e->d_name)).find("/maps") != std::string::npos &&
            atoi(e->d_name) != dirfd(dir))
            kept = atoi(e->d_name);
    closedir(dir);
    ASSERT_GE(kept, 0) << "the maps descriptor";
    int mine = open("/dev/null", O_RDWR);
    ASSERT_EQ(dup2(mine, kept), kept);  // closes ours, the number is the application's now
    close(mine);
    EXPECT_FALSE(plat::IsBadWritePtr(&local, sizeof local));
    EXPECT_TRUE(plat::IsBadWritePtr(nullptr, 1));
    EXPECT_EQ(FdTarget(kept), "/dev/null");
    EXPECT_TRUE(InForkedChild([&] { return fcntl(kept, F_GETFD) != -1; }))
        << "nor does a forked child close it on the way";
    close(kept);
}

}  // namespace

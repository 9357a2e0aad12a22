// Starting processes, their exit codes and liveness, and module file names.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "child.h"

namespace platform_test {
namespace {

bool ProcEntryExists(DWORD pid) {
    struct stat st;
    return stat(("/proc/" + std::to_string(pid)).c_str(), &st) == 0;
}

// A shell script's exit code tells what the child saw.
TEST(Process, CommandLineEnvironmentDirectoryAndDetachingAreTheChilds) {
    char block[] = "FOO=bar baz\0ONE=1\0";  // the literal adds the final empty string
    // Field 6 of /proc/PID/stat is the session id; sh's own pid is $$.
    const char* session = "/bin/sh -c \"[ $(cut -d' ' -f6 /proc/self/stat) = $$ ]\"";
    // Each of the three streams is /dev/null in a detached process, ours otherwise.
    const char* streams =
        "/bin/sh -c \"for f in 0 1 2; do [ $(readlink /proc/$$/fd/$f) = /dev/null ] || exit "
        "1; done\"";
    const struct {
        const char* what;
        const char* line;
        DWORD flags;
        char* environment;
        const char* directory;
        DWORD code;
    } cases[] = {
        // sh -c SCRIPT NAME ARGS: $# counts the arguments after NAME.
        {"split like Windows, with quotes", "/bin/sh -c \"exit $#\" name \"b  c\" d", 0, nullptr,
         nullptr, 2},
        {"found on PATH; \\\" escapes", "sh -c \"[ \\\"$1\\\" = 'x y' ]\" name \"x y\"", 0, nullptr,
         nullptr, 0},
        {"EnvironmentBlockAndDirectoryAreTheChilds: environment",
         "/bin/sh -c \"[ \\\"$FOO\\\" = 'bar baz' ] && [ $ONE = 1 ] && [ -z \\\"$HOME\\\" ]\"", 0,
         block, nullptr, 0},
        {"EnvironmentBlockAndDirectoryAreTheChilds: directory", "/bin/sh -c \"[ $(pwd) = /proc ]\"",
         0, nullptr, "/proc", 0},
        {"detached: a session of its own", session, DETACHED_PROCESS, nullptr, nullptr, 0},
        {"not detached: our session", session, 0, nullptr, nullptr, 1},
        {"DetachedProcessHasNoneOfItsCreatorsStandardStreams", streams, DETACHED_PROCESS, nullptr,
         nullptr, 0},
        {"DetachedProcessHasNoneOfItsCreatorsStandardStreams: not detached", streams, 0, nullptr,
         nullptr, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // Our standard output is a pipe while the child starts, so that "ours"
        // is no /dev/null.
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        int saved = dup(1);
        dup2(fds[1], 1);
        Child p(c.line, c.flags, c.environment, c.directory);
        dup2(saved, 1);
        for (int fd : {saved, fds[0], fds[1]}) close(fd);
        ASSERT_TRUE(p.started());
        EXPECT_EQ(p.Wait(), c.code);
    }
    EXPECT_FALSE(Child("/nonexistent/program arg").started());
    EXPECT_EQ(plat::GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(Process, ExitCodeIsStillActiveWhileRunningAndTheChildIsReaped) {
    Child p("/bin/sh -c \"sleep 10; exit 7\"");
    DWORD code = 0;
    EXPECT_TRUE(plat::GetExitCodeProcess(p.info.hProcess, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(plat::WaitForSingleObject(p.info.hProcess, 20), WAIT_TIMEOUT);
    EXPECT_TRUE(plat::TerminateProcess(p.info.hProcess, 42));
    EXPECT_EQ(p.Wait(), 42u);

    Child q("/bin/sh -c \"exit 7\"");
    EXPECT_EQ(q.Wait(), 7u);
    // No zombie: the child is gone from the process table once it ended.
    for (int i = 0; i < 200 && ProcEntryExists(q.info.dwProcessId); ++i) usleep(10000);
    EXPECT_FALSE(ProcEntryExists(q.info.dwProcessId));
    EXPECT_EQ(plat::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, q.info.dwProcessId), nullptr);
}

TEST(Process, ModuleFileNames) {
    char path[PATH_MAX], self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 0);
    self[n] = 0;
    EXPECT_EQ(plat::GetModuleFileNameA(nullptr, path, sizeof path), (DWORD)n);
    EXPECT_STREQ(path, self);

    // A shared object, by the base address dladdr reports for it.
    Dl_info info;
    ASSERT_TRUE(dladdr((void*)&getpid, &info));
    char expected[PATH_MAX];
    ASSERT_NE(realpath(info.dli_fname, expected), nullptr);
    EXPECT_EQ(plat::GetModuleFileNameA((HMODULE)info.dli_fbase, path, sizeof path),
              strlen(expected));
    EXPECT_STREQ(path, expected);

    char small[8];
    EXPECT_EQ(plat::GetModuleFileNameA(nullptr, small, sizeof small), 8u);
    EXPECT_EQ(plat::GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(strlen(small), 7u);
    EXPECT_EQ(memcmp(small, self, 7), 0);
}

}  // namespace
}  // namespace platform_test

// Starting processes, their exit codes and liveness, and module file names.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "child.h"

namespace {

// Starts a command line; the handles are closed (and the process killed)
// when the test ends, whatever happens.
struct Started {
    explicit Started(std::string line, DWORD flags = 0, char* environment = nullptr,
                     const char* directory = nullptr) {
        STARTUPINFOA si{};
        si.cb = sizeof si;
        ok = plat::CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, flags, environment,
                                  directory, &si, &pi);
    }
    ~Started() {
        if (!ok) return;
        plat::TerminateProcess(pi.hProcess, 1);
        plat::WaitForSingleObject(pi.hProcess, 5000);
        plat::CloseHandle(pi.hThread);
        plat::CloseHandle(pi.hProcess);
    }
    DWORD ExitCode(DWORD waitMs = 5000) {
        if (plat::WaitForSingleObject(pi.hProcess, waitMs) != WAIT_OBJECT_0) return ~0u;
        DWORD code = ~0u;
        plat::GetExitCodeProcess(pi.hProcess, &code);
        return code;
    }
    BOOL ok = FALSE;
    PROCESS_INFORMATION pi{};
};

bool ProcEntryExists(DWORD pid) {
    struct stat st;
    return stat(("/proc/" + std::to_string(pid)).c_str(), &st) == 0;
}

TEST(Process, CommandLineIsSplitLikeWindowsWithQuotes) {
    // sh -c SCRIPT NAME ARGS: $# counts the arguments after NAME.
    Started p("/bin/sh -c \"exit $#\" name \"b  c\" d");
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.ExitCode(), 2u);
    Started q("sh -c \"[ \\\"$1\\\" = 'x y' ]\" name \"x y\"");  // found on PATH; \" escapes
    ASSERT_TRUE(q.ok);
    EXPECT_EQ(q.ExitCode(), 0u);
}

TEST(Process, ExitCodeIsStillActiveWhileRunningAndTheChildIsReaped) {
    Started p("/bin/sh -c \"sleep 10; exit 7\"");
    ASSERT_TRUE(p.ok);
    DWORD code = 0;
    EXPECT_TRUE(plat::GetExitCodeProcess(p.pi.hProcess, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(plat::WaitForSingleObject(p.pi.hProcess, 20), WAIT_TIMEOUT);
    EXPECT_TRUE(plat::TerminateProcess(p.pi.hProcess, 42));
    EXPECT_EQ(p.ExitCode(), 42u);

    Started q("/bin/sh -c \"exit 7\"");
    ASSERT_TRUE(q.ok);
    EXPECT_EQ(q.ExitCode(), 7u);
    // No zombie: the child is gone from the process table once it ended.
    for (int i = 0; i < 200 && ProcEntryExists(q.pi.dwProcessId); ++i) usleep(10000);
    EXPECT_FALSE(ProcEntryExists(q.pi.dwProcessId));
    EXPECT_EQ(plat::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, q.pi.dwProcessId), nullptr);
}

TEST(Process, EnvironmentBlockAndDirectoryAreTheChilds) {
    char block[] = "FOO=bar baz\0ONE=1\0";  // the literal adds the final empty string
    Started p("/bin/sh -c \"[ \\\"$FOO\\\" = 'bar baz' ] && [ $ONE = 1 ] && [ -z \\\"$HOME\\\" ]\"",
              0, block);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.ExitCode(), 0u);
    Started q("/bin/sh -c \"[ $(pwd) = /proc ]\"", 0, nullptr, "/proc");
    ASSERT_TRUE(q.ok);
    EXPECT_EQ(q.ExitCode(), 0u) << "started in the directory given";
}

TEST(Process, MissingProgramFails) {
    Started p("/nonexistent/program arg");
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(plat::GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(Process, DetachedProcessLeadsASessionOfItsOwn) {
    // Field 6 of /proc/PID/stat is the session id; sh's own pid is $$.
    Started p("/bin/sh -c \"[ $(cut -d' ' -f6 /proc/self/stat) = $$ ]\"", DETACHED_PROCESS);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.ExitCode(), 0u);
    Started q("/bin/sh -c \"[ $(cut -d' ' -f6 /proc/self/stat) = $$ ]\"");
    ASSERT_TRUE(q.ok);
    EXPECT_EQ(q.ExitCode(), 1u) << "not detached: our session";
}

TEST(Process, DetachedProcessHasNoneOfItsCreatorsStandardStreams) {
    // Each of the three streams is /dev/null in a detached process, ours otherwise.
    const char* script =
        "/bin/sh -c \"for f in 0 1 2; do [ $(readlink /proc/$$/fd/$f) = /dev/null ] || exit "
        "1; done\"";
    Started detached(script, DETACHED_PROCESS);
    ASSERT_TRUE(detached.ok);
    EXPECT_EQ(detached.ExitCode(), 0u);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    int saved = dup(1);
    dup2(fds[1], 1);  // our standard output is a pipe while the child starts
    Started attached(script);
    dup2(saved, 1);
    close(saved);
    close(fds[0]);
    close(fds[1]);
    ASSERT_TRUE(attached.ok);
    EXPECT_EQ(attached.ExitCode(), 1u) << "not detached: our streams";
}

TEST(Process, OpenProcessTellsLiveFromDeadAndZombie) {
    HANDLE self = plat::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, plat::GetCurrentProcessId());
    ASSERT_NE(self, nullptr);
    DWORD code = 0;
    EXPECT_TRUE(plat::GetExitCodeProcess(self, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(plat::WaitForSingleObject(self, 20), WAIT_TIMEOUT);
    plat::CloseHandle(self);

    // A child that exited but was not reaped is a zombie: it counts as ended.
    pid_t zombie = fork();
    if (zombie == 0) _exit(0);
    ASSERT_GT(zombie, 0);
    HANDLE live = nullptr;
    for (int i = 0; i < 200; ++i) {
        live = plat::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, (DWORD)zombie);
        if (!live) break;
        plat::CloseHandle(live);
        usleep(10000);
    }
    EXPECT_EQ(live, nullptr);
    EXPECT_EQ(plat::GetLastError(), ERROR_INVALID_PARAMETER);
    waitpid(zombie, nullptr, 0);
    EXPECT_EQ(plat::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, (DWORD)zombie), nullptr);

    // A process opened while alive reports its end.
    Started p("sleep 10");
    ASSERT_TRUE(p.ok);
    HANDLE h = plat::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, p.pi.dwProcessId);
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(plat::TerminateProcess(p.pi.hProcess, 1));
    EXPECT_EQ(plat::WaitForSingleObject(h, 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(plat::GetExitCodeProcess(h, &code));
    EXPECT_NE(code, STILL_ACTIVE);
    plat::CloseHandle(h);
}

TEST(Process, ModuleFileNames) {
    char path[PATH_MAX];
    char self[PATH_MAX];
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
    DWORD len = plat::GetModuleFileNameA((HMODULE)info.dli_fbase, path, sizeof path);
    EXPECT_EQ(len, strlen(expected));
    EXPECT_STREQ(path, expected);
    EXPECT_STRNE(path, self);

    char small[8];
    EXPECT_EQ(plat::GetModuleFileNameA(nullptr, small, sizeof small), 8u);
    EXPECT_EQ(plat::GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(strlen(small), 7u);
    EXPECT_EQ(memcmp(small, self, 7), 0);
}

}  // namespace

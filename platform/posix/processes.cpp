// Processes: CreateProcessA (posix_spawn), OpenProcess, exit codes, waits,
// liveness and module file names.
//
// Children the library starts never stay zombies: each child gets a small
// reaper thread that waits for it (waitpid) as soon as it is started, keeps
// its exit code and sets the process object's "ended" event. The reaper is
// detached and owns a reference to the process object, so closing the
// handles early changes nothing. (A host application that reaps every child
// itself, waitpid(-1), may take the status first: the reaper then sees ECHILD
// and records exit code 0.)
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <new>

#include "handle_table.h"
#include "internal.h"

extern char** environ;

namespace plat::posix {
namespace {

struct Process {
    std::atomic<int> refs;
    pid_t pid;
    uint64_t start;  // start time, to tell the process from a later one with its id
    bool child;      // started by us: the reaper knows its exit code
    std::atomic<uint32_t> exitCode;
    EventState ended;  // set by the reaper (children only)
};

void Unref(Process* p) {
    if (p->refs.fetch_sub(1) == 1) delete p;
}

void ReleaseProcess(void* object) {
    Unref((Process*)object);
}

void* Reap(void* arg) {
    Process* p = (Process*)arg;
    int status = 0;
    pid_t r;
    do {
        r = waitpid(p->pid, &status, 0);
    } while (r < 0 && errno == EINTR);
    uint32_t code = 0;
    if (r == p->pid) {
        if (WIFEXITED(status))
            code = (uint32_t)WEXITSTATUS(status);
        else if (WIFSIGNALED(status))
            code = (uint32_t)WTERMSIG(status);
    }
    // TerminateProcess may have stored the caller's exit code already.
    uint32_t active = STILL_ACTIVE;
    p->exitCode.compare_exchange_strong(active, code);
    EventStateSet(&p->ended);
    Unref(p);
    return nullptr;
}

bool Alive(Process* p) {
    if (p->child) return p->ended.signaled.load() == 0;
    return ProcessAlive(p->pid, p->start);
}

// Splits a Windows command line: arguments separated by blanks, double quotes
// group blanks into one argument, a backslash before a quote escapes it.
int SplitCommandLine(const char* line, char* storage, size_t storageSize, char** argv,
                     int maxArgs) {
    int argc = 0;
    size_t at = 0;
    const char* p = line;
    while (*p) {
        while (*p == ' ' || *p == '\t') ++p;
        if (!*p) break;
        if (argc + 1 >= maxArgs) return -1;
        argv[argc++] = storage + at;
        bool quoted = false;
        while (*p && (quoted || (*p != ' ' && *p != '\t'))) {
            if (*p == '\\' && p[1] == '"') {
                p += 1;
            } else if (*p == '"') {
                quoted = !quoted;
                ++p;
                continue;
            }
            if (at + 1 >= storageSize) return -1;
            storage[at++] = *p++;
        }
        if (at + 1 >= storageSize) return -1;
        storage[at++] = 0;
    }
    argv[argc] = nullptr;
    return argc;
}

HANDLE InsertProcess(Process* p) {
    HANDLE h = HandleInsert(ObjectKind::Process, p, ReleaseProcess);
    if (!h) Unref(p);
    return h;
}

}  // namespace

uint64_t ProcessStartTime(pid_t pid) {
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/stat", (int)pid);
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    char buf[1024];
    ssize_t n = read(fd, buf, sizeof buf - 1);
    close(fd);
    if (n <= 0) return 0;
    buf[n] = 0;
    // The command name (field 2) is in parentheses and may hold anything.
    char* p = strrchr(buf, ')');
    if (!p || p[1] != ' ') return 0;
    char state = p[2];
    if (state == 'Z' || state == 'X' || state == 'x') return 0;  // exited, not yet reaped
    // Field 22, starttime, is the 20th field after the state.
    p += 2;
    for (int field = 3; field < 22 && p; ++field) {
        p = strchr(p, ' ');
        if (p) ++p;
    }
    if (!p) return 0;
    unsigned long long start = strtoull(p, nullptr, 10);
    return start ? start : 1;
}

// Keeps the module holding this code loaded until the process ends: threads
// of ours (message receiver, child reapers) run its code to the end, even
// after the application has unloaded the library. The pin is taken while the
// module is being loaded, never later: at exit the loader marks each module
// as not initialised before running its destructors, and a dlopen of the
// module from there (a last client starting its message transport to send
// the monitor WM_DESTROY) made the loader run the module's constructors a
// second time - under AddressSanitizer, a report of its globals registered
// twice.
__attribute__((constructor)) static void PinModule() {
    Dl_info info;
    if (dladdr((void*)&PinModule, &info) && info.dli_fname) {
        // The main program has no file name to open again; it is never unloaded.
        void* self = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
        (void)self;  // pinned: never closed
    }
}

bool ProcessAlive(pid_t pid, uint64_t start) {
    if (pid <= 0) return false;
    if (kill(pid, 0) != 0 && errno != EPERM) return false;
    uint64_t now = ProcessStartTime(pid);
    if (now == 0) return false;
    return start == 0 || now == start;
}

DWORD ProcessWait(void* object, DWORD ms) {
    Process* p = (Process*)object;
    if (p->child) return EventStateWait(&p->ended, ms);
    // Another process's end can't be waited for directly; poll every 10 ms.
    uint64_t deadline = ms == INFINITE ? 0 : MonotonicMs() + ms;
    for (;;) {
        if (!Alive(p)) return WAIT_OBJECT_0;
        if (ms != INFINITE && MonotonicMs() >= deadline) return WAIT_TIMEOUT;
        usleep(10000);
    }
}

}  // namespace plat::posix

using namespace plat::posix;

extern "C" {

DWORD WINAPI GetCurrentProcessId(void) {
    return (DWORD)getpid();
}

BOOL WINAPI CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine, LPSECURITY_ATTRIBUTES,
                           LPSECURITY_ATTRIBUTES, BOOL, DWORD dwCreationFlags, LPVOID lpEnvironment,
                           LPCSTR lpCurrentDirectory, LPSTARTUPINFOA,
                           LPPROCESS_INFORMATION lpProcessInformation) {
    const char* line = lpCommandLine ? lpCommandLine : lpApplicationName;
    if (!line || !lpProcessInformation) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    constexpr int kMaxArgs = 64;
    char storage[4096];
    char* argv[kMaxArgs];
    int argc = SplitCommandLine(line, storage, sizeof storage, argv, kMaxArgs);
    if (argc <= 0) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const char* program = lpApplicationName ? lpApplicationName : argv[0];

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    // A detached process has no console: a session of its own, without a
    // controlling terminal, and no standard streams of its creator (they go
    // to /dev/null). A long-lived detached child would otherwise keep its
    // creator's pipes open: "app | tee log" would not end with app.
    bool detached = (dwCreationFlags & DETACHED_PROCESS) != 0;
    if (detached) flags |= POSIX_SPAWN_SETSID;
    posix_spawnattr_setflags(&attr, flags);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Handles are not inherited: only the three standard streams go along
    // (not even those for a detached process), so a long-lived child holds no
    // pipe or socket of its parent open.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    if (detached) {
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    if (lpCurrentDirectory) posix_spawn_file_actions_addchdir_np(&actions, lpCurrentDirectory);

    pid_t pid = 0;
    // An environment block is "NAME=value\0" strings ending with an empty one.
    constexpr int kMaxEnv = 512;
    char* envp[kMaxEnv];
    char** env = environ;
    if (lpEnvironment) {
        int n = 0;
        for (char* e = (char*)lpEnvironment; *e && n + 1 < kMaxEnv; e += strlen(e) + 1)
            envp[n++] = e;
        envp[n] = nullptr;
        env = envp;
    }
    int rc = strchr(program, '/') ? posix_spawn(&pid, program, &actions, &attr, argv, env)
                                  : posix_spawnp(&pid, program, &actions, &attr, argv, env);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        ::SetLastError(rc == ENOENT   ? ERROR_FILE_NOT_FOUND
                       : rc == EACCES ? ERROR_ACCESS_DENIED
                                      : ERROR_GEN_FAILURE);
        return FALSE;
    }

    Process* p = new (std::nothrow) Process;
    if (!p) {
        // Without an object nobody could reap it: wait for it here instead.
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    p->pid = pid;
    p->start = ProcessStartTime(pid);
    p->child = true;
    p->exitCode.store(STILL_ACTIVE);
    p->ended.manual = 1;
    p->ended.signaled.store(0);
    // References: the reaper, the process handle and the thread handle.
    p->refs.store(3);
    pthread_attr_t tattr;
    pthread_attr_init(&tattr);
    pthread_attr_setdetachstate(&tattr, PTHREAD_CREATE_DETACHED);
    pthread_attr_setstacksize(&tattr, 65536);
    pthread_t reaper;
    if (pthread_create(&reaper, &tattr, Reap, p) != 0) {
        // No reaper thread: reap synchronously after stopping the child.
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        pthread_attr_destroy(&tattr);
        delete p;
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    pthread_attr_destroy(&tattr);
    // The "thread handle" of the new process stands for its main thread; it
    // waits like the process.
    HANDLE hProcess = InsertProcess(p);
    HANDLE hThread = InsertProcess(p);
    lpProcessInformation->hProcess = hProcess;
    lpProcessInformation->hThread = hThread;
    lpProcessInformation->dwProcessId = (DWORD)pid;
    lpProcessInformation->dwThreadId = (DWORD)pid;
    return TRUE;
}

HANDLE WINAPI OpenProcess(DWORD, BOOL, DWORD dwProcessId) {
    pid_t pid = (pid_t)dwProcessId;
    uint64_t start = ProcessStartTime(pid);
    if (dwProcessId == 0 || start == 0 || !ProcessAlive(pid, start)) {
        ::SetLastError(ERROR_INVALID_PARAMETER);  // what Windows says for no such process
        return nullptr;
    }
    Process* p = new (std::nothrow) Process;
    if (!p) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    p->refs.store(1);
    p->pid = pid;
    p->start = start;
    p->child = false;
    p->exitCode.store(STILL_ACTIVE);
    p->ended.manual = 1;
    p->ended.signaled.store(0);
    return InsertProcess(p);
}

BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, DWORD* lpExitCode) {
    Process* p = (Process*)HandleAcquire(hProcess, ObjectKind::Process);
    if (!p) return FALSE;
    DWORD code = p->exitCode.load();
    // Of a process we did not start only "running or not" is known.
    if (!p->child && !Alive(p)) code = 0;
    if (lpExitCode) *lpExitCode = code;
    HandleRelease(hProcess);
    return TRUE;
}

BOOL WINAPI TerminateProcess(HANDLE hProcess, UINT uExitCode) {
    Process* p = (Process*)HandleAcquire(hProcess, ObjectKind::Process);
    if (!p) return FALSE;
    BOOL ok = TRUE;
    if (Alive(p)) {
        if (p->child) {
            uint32_t active = STILL_ACTIVE;
            p->exitCode.compare_exchange_strong(active, uExitCode);
        }
        if (kill(p->pid, SIGKILL) != 0 && errno != ESRCH) {
            ::SetLastError(ERROR_ACCESS_DENIED);
            ok = FALSE;
        }
    }
    HandleRelease(hProcess);
    return ok;
}

DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
    char path[PATH_MAX];
    if (!hModule) {
        ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
        if (n <= 0) {
            ::SetLastError(ERROR_GEN_FAILURE);
            return 0;
        }
        path[n] = 0;
    } else {
        // A module handle is the base address of a loaded object (dladdr's
        // dli_fbase), which lies inside that object.
        Dl_info info;
        if (!dladdr((const void*)hModule, &info) || !info.dli_fname) {
            ::SetLastError(ERROR_INVALID_HANDLE);
            return 0;
        }
        if (!realpath(info.dli_fname, path)) snprintf(path, sizeof path, "%s", info.dli_fname);
    }
    if (!lpFilename || nSize == 0) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    size_t len = strlen(path);
    if (len >= nSize) {
        memcpy(lpFilename, path, nSize - 1);
        lpFilename[nSize - 1] = 0;
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    memcpy(lpFilename, path, len + 1);
    return (DWORD)len;
}

}  // extern "C"

#include "child.h"

#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <atomic>

extern char** environ;

namespace platform_test {
namespace {

const struct {
    const char* name;
    int (*run)(const Args& args);
} kRoles[] = {
    {"hold-mapping", RoleHoldMapping},
    {"own-mutex", RoleOwnMutex},
    {"set-event", RoleSetEvent},
    {"create-and-exit", RoleCreateAndExit},
    {"window-server", RoleWindowServer},
    {"watch-devices", RoleWatchDevices},
    {"window-and-exit", RoleWindowAndExit},
};

// Before main: a child plays its role and exits without starting the tests.
// The roles use only the platform layer, whose state needs no constructors.
__attribute__((constructor)) void RunChildRole() {
    Args args;
    int fd = open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
    std::string all;
    char buf[4096];
    ssize_t n;
    while (fd >= 0 && (n = read(fd, buf, sizeof buf)) > 0) all.append(buf, (size_t)n);
    if (fd >= 0) close(fd);
    for (size_t at = 0; at < all.size(); at += args.back().size() + 1)
        args.push_back(std::string(all.c_str() + at));
    if (args.size() < 3 || args[1] != "--child") return;
    for (const auto& role : kRoles)
        if (args[2] == role.name) _exit(role.run(Args(args.begin() + 3, args.end())));
    fprintf(stderr, "unknown child role %s\n", args[2].c_str());
    _exit(99);
}

std::string RoleLine(const Args& args) {
    char self[4096];
    DWORD n = plat::GetModuleFileNameA(nullptr, self, sizeof self);
    std::string line = std::string("\"") + (n < sizeof self ? self : "") + "\" --child";
    for (const std::string& a : args) line += " \"" + a + "\"";
    return line;
}

// Our environment with the extra entries in place of ours of the same names
// (setenv would race with the threads of this process that read it).
std::string EnvironmentBlock(const Args& extra) {
    std::string block;
    for (char** e = environ; *e; ++e) {
        bool replaced = false;
        for (const std::string& x : extra)
            replaced = replaced || strncmp(*e, x.c_str(), x.find('=') + 1) == 0;
        if (!replaced) block.append(*e).push_back('\0');
    }
    for (const std::string& x : extra) block.append(x).push_back('\0');
    return block + '\0';
}

}  // namespace

std::string UniqueName(const char* what) {
    static std::atomic<int> serial{0};
    return std::string("tavcam-test-") + what + "-" + std::to_string(getpid()) + "-" +
           std::to_string(serial.fetch_add(1));
}

Child::Child(std::string line, DWORD flags, char* environment, const char* directory) {
    STARTUPINFOA si{};
    si.cb = sizeof si;
    if (!plat::CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, flags, environment,
                              directory, &si, &info))
        info = PROCESS_INFORMATION{};
}

Child::Child(const Args& args, const Args& env)
    : Child(RoleLine(args), 0, &EnvironmentBlock(env)[0]) {}

Child::~Child() {
    if (!info.hProcess) return;
    Kill();
    plat::CloseHandle(info.hThread);
    plat::CloseHandle(info.hProcess);
}

void Child::Kill() {
    if (!info.hProcess) return;
    plat::TerminateProcess(info.hProcess, 1);
    plat::WaitForSingleObject(info.hProcess, 5000);
}

DWORD Child::Wait(DWORD ms) {
    DWORD code = ~0u;
    if (plat::WaitForSingleObject(info.hProcess, ms) == WAIT_OBJECT_0)
        plat::GetExitCodeProcess(info.hProcess, &code);
    return code;
}

ReadySignal::ReadySignal(const char* what)
    : name(UniqueName(what)), event(plat::CreateEventA(nullptr, TRUE, FALSE, name.c_str())) {}

bool SetNamedEvent(const std::string& name) {
    HANDLE e = plat::OpenEventA(EVENT_ALL_ACCESS, FALSE, name.c_str());
    return e && plat::SetEvent(e);
}

}  // namespace platform_test

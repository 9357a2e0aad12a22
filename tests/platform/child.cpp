#include "child.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <atomic>

extern char** environ;

namespace platform_test {
namespace {

struct Role {
    const char* name;
    int (*run)(const Args& args);
};
const Role kRoles[] = {
    {"hold-mapping", RoleHoldMapping},
    {"own-mutex", RoleOwnMutex},
    {"set-event", RoleSetEvent},
    {"create-and-exit", RoleCreateAndExit},
    {"window-server", RoleWindowServer},
    {"watch-devices", RoleWatchDevices},
    {"window-and-exit", RoleWindowAndExit},
};

Args CommandLine() {
    Args args;
    int fd = open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return args;
    std::string all;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) all.append(buf, (size_t)n);
    close(fd);
    size_t at = 0;
    while (at < all.size()) {
        size_t end = all.find('\0', at);
        if (end == std::string::npos) end = all.size();
        args.push_back(all.substr(at, end - at));
        at = end + 1;
    }
    return args;
}

// Before main: a child plays its role and exits without starting the tests.
// The roles use only the platform layer, whose state needs no constructors.
__attribute__((constructor)) void RunChildRole() {
    Args args = CommandLine();
    if (args.size() < 3 || args[1] != "--child") return;
    Args rest(args.begin() + 3, args.end());
    for (const Role& role : kRoles) {
        if (args[2] == role.name) _exit(role.run(rest));
    }
    fprintf(stderr, "unknown child role %s\n", args[2].c_str());
    _exit(99);
}

}  // namespace

std::string UniqueName(const char* what) {
    static std::atomic<int> serial{0};
    return std::string("tavcam-test-") + what + "-" + std::to_string(getpid()) + "-" +
           std::to_string(serial.fetch_add(1));
}

Child::Child(const std::vector<std::string>& args, const std::vector<std::string>& env) {
    char self[4096];
    DWORD n = plat::GetModuleFileNameA(nullptr, self, sizeof self);
    if (n == 0 || n >= sizeof self) return;
    std::string line = std::string("\"") + self + "\" --child";
    for (const std::string& a : args) line += " \"" + a + "\"";
    // The environment block: ours, then the extra entries (setenv would race
    // with the threads of this process that read the environment).
    std::string block;
    for (char** e = environ; *e; ++e) {
        bool replaced = false;
        for (const std::string& extra : env) {
            std::string name = extra.substr(0, extra.find('=') + 1);
            replaced = replaced || strncmp(*e, name.c_str(), name.size()) == 0;
        }
        if (!replaced) block.append(*e).push_back('\0');
    }
    for (const std::string& e : env) block.append(e).push_back('\0');
    block.push_back('\0');
    STARTUPINFOA si{};
    si.cb = sizeof si;
    if (!plat::CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, &block[0], nullptr,
                              &si, &info))
        info = PROCESS_INFORMATION{};
}

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
    if (plat::WaitForSingleObject(info.hProcess, ms) != WAIT_OBJECT_0) return ~0u;
    DWORD code = ~0u;
    plat::GetExitCodeProcess(info.hProcess, &code);
    return code;
}

ReadySignal::ReadySignal(const char* what) : name(UniqueName(what)) {
    event = plat::CreateEventA(nullptr, TRUE, FALSE, name.c_str());
}

ReadySignal::~ReadySignal() {
    if (event) plat::CloseHandle(event);
}

bool ReadySignal::Wait(DWORD ms) {
    return plat::WaitForSingleObject(event, ms) == WAIT_OBJECT_0;
}

}  // namespace platform_test

#include "process_fixture.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <fstream>

#include "platform/posix/device_dir.h"
#include "platform/posix/internal.h"

namespace process_tests {

// Objects of the run's namespace are "/dev/shm/tavcam-NAMESPACE-KIND-NAME".
static std::string ObjectPrefix(const std::string& runtimeDir) {
    const char* old = getenv("TAVCAM_RUNTIME_DIR");
    std::string saved = old ? old : "";
    setenv("TAVCAM_RUNTIME_DIR", runtimeDir.c_str(), 1);
    std::string prefix = "tavcam-" + plat::posix::ObjectNamespace() + "-";
    if (old)
        setenv("TAVCAM_RUNTIME_DIR", saved.c_str(), 1);
    else
        unsetenv("TAVCAM_RUNTIME_DIR");
    return prefix;
}

std::vector<std::string> LibraryProcesses::NamedObjectsLeft() {
    std::string prefix = ObjectPrefix(runtime.path);
    std::vector<std::string> left;
    if (DIR* dir = opendir("/dev/shm")) {
        while (dirent* e = readdir(dir))
            if (std::string(e->d_name).rfind(prefix, 0) == 0) left.push_back(e->d_name);
        closedir(dir);
    }
    return left;
}

bool LibraryProcesses::ReadBlock(tav::SharedData* out) {
    // Its user area follows a header (platform/posix/internal.h).
    std::string path = "/dev/shm/" + ObjectPrefix(runtime.path) + "map-" + tav::kSharedDataName;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    ssize_t n = pread(fd, out, sizeof *out, (off_t)plat::posix::kSharedHeaderSize);
    close(fd);
    return n == (ssize_t)sizeof *out;
}

std::vector<int> LibraryProcesses::ProcessesOfRun() {
    std::vector<int> found;
    const std::string wanted = "TAVCAM_RUNTIME_DIR=" + runtime.path;
    DIR* proc = opendir("/proc");
    while (dirent* e = proc ? readdir(proc) : nullptr) {
        int pid = atoi(e->d_name);
        if (pid <= 0 || !ProcessRuns(pid)) continue;
        std::ifstream env("/proc/" + std::string(e->d_name) + "/environ", std::ios::binary);
        std::string entry;
        while (std::getline(env, entry, '\0'))
            if (entry == wanted) {
                found.push_back(pid);
                break;
            }
    }
    if (proc) closedir(proc);
    return found;
}

void LibraryProcesses::TearDown() {
    for (Client& c : clients) Kill(c);
    for (pid_t m : monitors)
        if (ProcessRuns(m)) kill(m, SIGKILL);
    for (pid_t m : monitors) WaitFor([&] { return !ProcessRuns(m); }, 2000);
    // Every process of the run has ended: clients, monitors, and any
    // monitor a monitor might have started.
    EXPECT_TRUE(WaitFor([&] { return ProcessesOfRun().empty(); }, 3000))
        << ::testing::PrintToString(ProcessesOfRun());
    for (int pid : ProcessesOfRun()) kill(pid, SIGKILL);
    // Processes killed here could not let go of their named objects; nobody
    // will open this run's namespace again, so what they held goes now.
    WaitFor([&] { return ProcessesOfRun().empty(); }, 3000);
    for (const std::string& name : NamedObjectsLeft()) shm_unlink(("/" + name).c_str());
}

bool LibraryProcesses::WaitForCount(Client& c, const std::string& n) {
    return WaitFor(
        [&] {
            auto s = State(c);
            return s["count"] == n && s["hwnd"] != "0" && s["timer"] != "0";
        },
        10000);
}

pid_t LibraryProcesses::MonitorOf(Client& c) {
    std::string line = Ask(c, "state");
    auto fields = Fields(line);
    EXPECT_TRUE(fields.count("monitor")) << line;
    pid_t m = fields.count("monitor") ? (pid_t)std::stoul(fields["monitor"]) : 0;
    if (m > 0) monitors.push_back(m);
    return m;
}

bool LibraryProcesses::HasLiveMonitor(Client& c, pid_t notThis, int ms) {
    return WaitFor(
        [&] {
            auto s = State(c);
            if (!s.count("monitor") || s["hwnd"] == "0" || s["quit"] != "0") return false;
            pid_t m = (pid_t)std::stoul(s["monitor"]);
            return m > 0 && m != notThis && ProcessRuns(m) &&
                   ("," + s["pids"] + ",").find("," + s["monitor"] + ",") != std::string::npos;
        },
        ms);
}

void LibraryProcesses::ExpectNothingLeft(int ms) {
    EXPECT_TRUE(WaitFor([&] { return ProcessesOfRun().empty(); }, ms))
        << "left running: " << ::testing::PrintToString(ProcessesOfRun());
    EXPECT_TRUE(WaitFor([&] { return NamedObjectsLeft().empty(); }, 3000))
        << "left behind: " << ::testing::PrintToString(NamedObjectsLeft());
}

}  // namespace process_tests

#include "process_fixture.h"

#include <dirent.h>
#include <sys/mman.h>

#include "platform/posix/device_dir.h"

namespace process_tests {

std::vector<std::string> LibraryProcesses::NamedObjectsLeft() {
    setenv("TAVCAM_RUNTIME_DIR", runtime.path.c_str(), 1);
    std::string prefix = "tavcam-" + plat::posix::ObjectNamespace() + "-";
    unsetenv("TAVCAM_RUNTIME_DIR");
    std::vector<std::string> left;
    if (DIR* dir = opendir("/dev/shm")) {
        while (dirent* e = readdir(dir))
            if (std::string(e->d_name).rfind(prefix, 0) == 0) left.push_back(e->d_name);
        closedir(dir);
    }
    return left;
}

void LibraryProcesses::TearDown() {
    for (Client& c : clients) Kill(c);
    for (pid_t m : monitors)
        if (ProcessRuns(m)) kill(m, SIGKILL);
    for (pid_t m : monitors) WaitFor([&] { return !ProcessRuns(m); }, 2000);
    // Every process of the run has ended: clients, monitors, and any
    // monitor a monitor might have started.
    EXPECT_TRUE(WaitFor([&] { return ProcessesOfRun(runtime.path).empty(); }, 3000))
        << ::testing::PrintToString(ProcessesOfRun(runtime.path));
    for (int pid : ProcessesOfRun(runtime.path)) kill(pid, SIGKILL);
    // Processes killed here could not let go of their named objects; nobody
    // will open this run's namespace again, so what they held goes now.
    WaitFor([&] { return ProcessesOfRun(runtime.path).empty(); }, 3000);
    for (const std::string& name : NamedObjectsLeft()) shm_unlink(("/" + name).c_str());
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
            if (m <= 0 || m == notThis || !ProcessRuns(m)) return false;
            // The monitor is attached to this very block: it holds a slot.
            return ("," + s["pids"] + ",").find("," + s["monitor"] + ",") != std::string::npos;
        },
        ms);
}

}  // namespace process_tests

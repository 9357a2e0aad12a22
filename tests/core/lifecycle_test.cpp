// The shared block's life in the orders that used to strand a client: a
// client arriving while the monitor ends, slots taken by position, killed
// clients still counted, a forked child detaching its parent, the monitor
// holding a client's standard streams, a detach waiting on a monitor that
// does not answer, and an unload by dlclose.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "process_fixture.h"

using namespace process_tests;

namespace {

bool HasPid(const std::string& pids, pid_t pid) {
    return ("," + pids + ",").find("," + std::to_string(pid) + ",") != std::string::npos;
}

// Writes "exit" without waiting for the process to end.
void BeginExit(Client& c) {
    (void)!write(c.in, "exit\n", 5);
}

// Reaps a client that was told to leave; true when it ended by itself in time.
bool Reaped(Client& c, int ms) {
    int status = 0;
    bool ended = WaitFor([&] { return waitpid(c.pid, &status, WNOHANG) == c.pid; }, ms);
    if (ended) {
        c.pid = -1;
        Kill(c);  // closes its pipes
    }
    return ended;
}

std::string Link(pid_t pid, int fd) {
    char target[256] = {};
    std::string path = "/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd);
    ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
    return n > 0 ? std::string(target, (size_t)n) : "";
}

// The last client leaves while a newcomer attaches: the newcomer must not
// join the ending block (whose monitor is on its way out) but wait for it to
// go and create the block afresh with a monitor of its own. The monitor is
// held stopped so that the newcomer surely arrives while the block ends.
TEST_F(LibraryProcesses, ClientArrivingWhileTheMonitorEndsGetsAMonitorOfItsOwn) {
    Client& a = StartCounted("2");
    pid_t monitor = MonitorOf(a);
    ASSERT_EQ(kill(monitor, SIGSTOP), 0);
    BeginExit(a);  // count falls to 1: the monitor is told to end
    tav::SharedData d;
    ASSERT_TRUE(
        WaitFor([&] { return ReadBlock(runtime.path, &d) && d.nAttachedProcess == 1; }, 10000));

    Client& b = Start();
    // While the old monitor is held, the newcomer waits for the block to go
    // (it does not answer) or, as it did, joins it at once; either way it is
    // given a moment to get there before the old monitor may end.
    std::string early = Ask(b, "state", 1500);
    kill(monitor, SIGCONT);
    EXPECT_TRUE(MonitorEnds(monitor));
    EXPECT_TRUE(HasLiveMonitor(b, monitor))
        << "joined early: " << early << "\nnow: " << Ask(b, "state");
    EXPECT_EQ(State(b)["count"], "2");
    EXPECT_TRUE(Reaped(a, 10000));
    MonitorOf(b);
}

// A newcomer takes a free slot, or the slot of a process that is gone, never
// the slot of a live client; so killing the newcomer leaves the monitor to
// the client still running.
TEST_F(LibraryProcesses, NewcomerNeverTakesTheSlotOfALiveClient) {
    Client& a = StartCounted("2");
    pid_t monitor = MonitorOf(a);
    Client& b = StartCounted("3");
    ASSERT_TRUE(Exit(a));  // a's slot (0) is free again; b holds slot 2
    Client& c = StartCounted("3");
    auto s = State(c);
    EXPECT_TRUE(HasPid(s["pids"], b.pid)) << s["pids"];
    EXPECT_TRUE(HasPid(s["pids"], c.pid)) << s["pids"];
    EXPECT_TRUE(HasPid(s["pids"], monitor)) << s["pids"];

    Kill(c);
    // Two ticks of the monitor's timer: it must keep running for b.
    EXPECT_FALSE(WaitFor([&] { return !ProcessRuns(monitor); }, 2500));
    EXPECT_TRUE(HasLiveMonitor(b));
    EXPECT_EQ(State(b)["count"], "2");
}

// Killed clients give their places back: only live processes count against
// the limit of four.
TEST_F(LibraryProcesses, KilledClientsDoNotCountAgainstTheLimit) {
    Client& a = StartCounted("2");
    pid_t monitor = MonitorOf(a);
    Client& b = StartCounted("3");
    Client& c = StartCounted("4");
    Kill(b);
    Kill(c);
    Client& d = Start();
    EXPECT_EQ(Ask(d, "usable"), "1");
    Client& e = Start();
    EXPECT_EQ(Ask(e, "usable"), "1");
    auto s = State(e);
    EXPECT_EQ(s["count"], "4");
    for (pid_t pid : {a.pid, d.pid, e.pid, monitor}) EXPECT_TRUE(HasPid(s["pids"], pid)) << pid;
    Client& f = Start();
    EXPECT_EQ(Ask(f, "usable"), "0") << "four live processes: a fifth is refused";
}

// A child forked by a client that leaves with exit() runs the library's
// exit handlers in its copy of the process: it must not give back its
// parent's place nor end the monitor.
TEST_F(LibraryProcesses, ForkedChildLeavingDoesNotDetachItsParent) {
    Client& a = StartCounted("2");
    pid_t monitor = MonitorOf(a);
    ASSERT_EQ(Ask(a, "fork-exit"), "forked");
    auto s = State(a);
    EXPECT_EQ(s["count"], "2");
    EXPECT_EQ(s["quit"], "0");
    EXPECT_TRUE(ProcessRuns(monitor));
    EXPECT_TRUE(HasLiveMonitor(a));
    ASSERT_TRUE(Exit(a));
    EXPECT_TRUE(MonitorEnds(monitor)) << "the parent's own exit still ends it";
}

// The monitor must not keep a client's standard streams: "app | tee log"
// ends when app ends, even while another client keeps the monitor running.
TEST_F(LibraryProcesses, MonitorHoldsNoneOfItsFirstClientsStandardStreams) {
    Client& a = StartCounted("2");
    pid_t monitor = MonitorOf(a);
    for (int fd = 0; fd <= 2; ++fd) EXPECT_EQ(Link(monitor, fd), "/dev/null") << "fd " << fd;
    StartCounted("3");  // b keeps the monitor running

    int out = a.out;
    a.out = -1;  // kept: a's standard output, read here
    BeginExit(a);
    struct pollfd p = {out, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 5000), 1) << "a's output stays open";
    char c;
    EXPECT_EQ(read(out, &c, 1), 0) << "end of a's output once a has ended";
    close(out);
    EXPECT_TRUE(Reaped(a, 5000));
    EXPECT_TRUE(ProcessRuns(monitor));
}

// The last client tells the monitor to end with a send whose wait is bounded:
// a monitor that does not answer (here: stopped) delays the client's exit by
// that bound, not by minutes. The monitor still ends once it runs again.
TEST_F(LibraryProcesses, LastClientsDetachDoesNotWaitLongForAMonitorThatDoesNotAnswer) {
    Client& a = StartCounted("2");
    pid_t monitor = MonitorOf(a);
    ASSERT_EQ(kill(monitor, SIGSTOP), 0);
    BeginExit(a);
    bool ended = Reaped(a, 8000);
    kill(monitor, SIGCONT);
    EXPECT_TRUE(ended);
    EXPECT_TRUE(MonitorEnds(monitor));
    EXPECT_TRUE(WaitFor([&] { return NamedObjectsLeft().empty(); }, 3000))
        << ::testing::PrintToString(NamedObjectsLeft());
}

// dlclose in the process that created the block does not detach it: the
// library stays loaded until the process ends, as tavcam.h says. The process's exit then detaches it, and the monitor ends.
TEST_F(LibraryProcesses, DlcloseInTheCreatingProcessDetachesOnlyAtExit) {
    std::string library = testing_support::BinDir() + "/libtavcam.so";
    Client& a = Start(library.c_str(), "tavcam-test-dlopen");
    ASSERT_EQ(Ask(a, "open"), "1");
    tav::SharedData d;
    ASSERT_TRUE(WaitFor(
        [&] { return ReadBlock(runtime.path, &d) && d.nAttachedProcess == 2 && d.g_hWnd != 0; },
        10000));
    pid_t monitor = (pid_t)d.piMonitor[2];
    monitors.push_back(monitor);
    EXPECT_EQ(Ask(a, "close"), "loaded");
    ASSERT_TRUE(ReadBlock(runtime.path, &d));
    EXPECT_EQ(d.nAttachedProcess, 2u);
    EXPECT_TRUE(
        HasPid(std::to_string(d.dwProcessIds[0]) + "," + std::to_string(d.dwProcessIds[1]), a.pid));
    EXPECT_TRUE(ProcessRuns(monitor));
    ASSERT_TRUE(Exit(a));
    EXPECT_TRUE(MonitorEnds(monitor));
}

}  // namespace

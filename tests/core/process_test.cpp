// The library's life across real processes: the shared block, the attach
// slots, the monitor process and its end, in the orders that used to strand
// a client.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include "process_fixture.h"

using namespace process_tests;

namespace {

bool HasPid(const std::string& pids, pid_t pid) {
    return ("," + pids + ",").find("," + std::to_string(pid) + ",") != std::string::npos;
}

std::string Pids(std::initializer_list<pid_t> pids) {
    std::string s;
    for (pid_t p : pids) s += (s.empty() ? "" : ",") + std::to_string(p);
    return s;
}

// The first client creates the block and starts the monitor, which keeps one
// entry per client window; the last client ends it and the next starts afresh.
TEST_F(LibraryProcesses, LastClientEndsMonitorAndNextClientStartsAfresh) {
    Client& a = StartCounted("2");
    pid_t monitor = MonitorOf(a);
    ASSERT_GT(monitor, 0);
    auto s = State(a);
    EXPECT_EQ(s["changed"], "1,1,0,0,0,0,0,0");
    EXPECT_EQ(s["presence"], "0,0,0,0,0,0,0,0");
    EXPECT_EQ(s["quit"], "0");
    EXPECT_NE(s["edit"], "0") << "the monitor window creates its edit control";
    // Slot 0 is the first client, slot 1 the monitor that attached next.
    EXPECT_EQ(s["pids"], Pids({a.pid, monitor, 0, 0}));
    // Registrations in order, without duplicates or null; the monitor
    // answers its private messages with the default answer, 0.
    EXPECT_EQ(Ask(a, "send 1528 1001"), "0");
    for (const char* lParam : {"1002", "1001", "0", "1003"})
        Ask(a, std::string("send 1528 ") + lParam);
    EXPECT_EQ(State(a)["clients"], "1001,1002,1003");
    Ask(a, "send 1529 1002");
    Ask(a, "send 1529 4242");
    EXPECT_EQ(State(a)["clients"], "1001,1003");

    // A detach that leaves two processes closes nothing of the others'.
    Client& b = StartCounted("3");
    ASSERT_TRUE(Exit(a));
    EXPECT_EQ(State(b)["count"], "2");
    EXPECT_TRUE(ProcessRuns(monitor));
    // The last client, which has sent no message before, sends the monitor
    // WM_DESTROY from its detach at exit and starts its message transport
    // there; that must not make the loader run the library's constructors a
    // second time (under AddressSanitizer: its globals registered twice, and
    // the client aborts).
    ASSERT_TRUE(Exit(b));
    EXPECT_TRUE(MonitorEnds(monitor));
    ExpectNothingLeft();

    Client& e = StartCounted("2");
    EXPECT_NE(MonitorOf(e), monitor);
    s = State(e);
    EXPECT_EQ(s["changed"], "1,1,0,0,0,0,0,0") << "a new block starts zero-filled";
    EXPECT_EQ(s["clients"], "");
}

TEST_F(LibraryProcesses, KilledClientIsNoticedByTheMonitorTimer) {
    Client& a = StartCounted("2");
    pid_t monitor = MonitorOf(a);
    Kill(a);  // no detach runs
    EXPECT_TRUE(MonitorEnds(monitor));
    ExpectNothingLeft();
}

// The monitor comes up after its client has gone: it must not create a
// block (and a monitor of its own) but end by itself.
TEST_F(LibraryProcesses, ClientLeavingBeforeItsMonitorAttachedLeavesNoMonitor) {
    for (int round = 0; round < 5; ++round) ASSERT_TRUE(Exit(Start({"--exit-at-once"})));
    ExpectNothingLeft();
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
    ASSERT_TRUE(WaitFor([&] { return ReadBlock(&d) && d.nAttachedProcess == 1; }, 10000));

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
    for (pid_t pid : {b.pid, c.pid, monitor}) EXPECT_TRUE(HasPid(s["pids"], pid)) << s["pids"];
    Kill(c);
    // Two ticks of the monitor's timer: it must keep running for b.
    EXPECT_FALSE(WaitFor([&] { return !ProcessRuns(monitor); }, 2500));
    EXPECT_TRUE(HasLiveMonitor(b));
    EXPECT_EQ(State(b)["count"], "2");
}

// Only live processes count against the limit of four: killed clients give
// their places back. A fifth live process gets an inert library, and its
// exit gives back no slot.
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
    EXPECT_EQ(Ask(f, "state"), "nostate");
    EXPECT_TRUE(Exit(f));
    EXPECT_EQ(State(a)["count"], "4") << "the refused process's exit gives back no slot";
    EXPECT_EQ(Ask(a, "usable"), "1");
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
    EXPECT_TRUE(HasLiveMonitor(a));
    ASSERT_TRUE(Exit(a));
    EXPECT_TRUE(MonitorEnds(monitor)) << "the parent's own exit still ends it";
}

// The monitor must not keep a client's standard streams: "app | tee log"
// ends when app ends, even while another client keeps the monitor running.
TEST_F(LibraryProcesses, MonitorHoldsNoneOfItsFirstClientsStandardStreams) {
    Client& a = StartCounted("2");
    pid_t monitor = MonitorOf(a);
    for (int fd = 0; fd <= 2; ++fd) {
        char target[256] = {};
        std::string path = "/proc/" + std::to_string(monitor) + "/fd/" + std::to_string(fd);
        EXPECT_GT(readlink(path.c_str(), target, sizeof target - 1), 0);
        EXPECT_STREQ(target, "/dev/null") << "fd " << fd;
    }
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
    ExpectNothingLeft();
}

// dlclose in the process that created the block does not detach it: the
// library stays loaded until the process ends, as tavcam.h says. The
// process's exit then detaches it, and the monitor ends.
TEST_F(LibraryProcesses, DlcloseInTheCreatingProcessDetachesOnlyAtExit) {
    Client& a = Start({testing_support::BinDir() + "/libtavcam.so"}, "tavcam-test-dlopen");
    ASSERT_EQ(Ask(a, "open"), "1");
    tav::SharedData d;
    ASSERT_TRUE(
        WaitFor([&] { return ReadBlock(&d) && d.nAttachedProcess == 2 && d.g_hWnd; }, 10000));
    pid_t monitor = (pid_t)d.piMonitor[2];
    monitors.push_back(monitor);
    EXPECT_EQ(Ask(a, "close"), "loaded");
    ASSERT_TRUE(ReadBlock(&d));
    EXPECT_EQ(d.nAttachedProcess, 2u);
    EXPECT_TRUE(HasPid(Pids({(pid_t)d.dwProcessIds[0], (pid_t)d.dwProcessIds[1]}), a.pid));
    EXPECT_TRUE(ProcessRuns(monitor));
    ASSERT_TRUE(Exit(a));
    EXPECT_TRUE(MonitorEnds(monitor));
}

}  // namespace

// The library's life across real processes: the shared block, the attach
// slots, the monitor process and its end. Every test runs its processes in a
// private namespace of named objects and ends them all, even when it fails.
#include <gtest/gtest.h>

#include "process_fixture.h"

using namespace process_tests;

namespace {

TEST_F(LibraryProcesses, FirstClientCreatesBlockAndStartsMonitor) {
    Client& a = Start();
    ASSERT_TRUE(WaitForCount(a, "2")) << Ask(a, "state");
    auto s = State(a);
    EXPECT_EQ(s["changed"], "1,1,0,0,0,0,0,0");
    EXPECT_EQ(s["presence"], "0,0,0,0,0,0,0,0");
    EXPECT_EQ(s["quit"], "0");
    EXPECT_NE(s["edit"], "0") << "the monitor window creates its edit control";
    pid_t monitor = MonitorOf(a);
    ASSERT_GT(monitor, 0);
    EXPECT_TRUE(ProcessRuns(monitor));
    // Slot 0 is the first client, slot 1 the monitor that attached next.
    EXPECT_EQ(s["pids"], std::to_string(a.pid) + "," + std::to_string(monitor) + ",0,0");
}

TEST_F(LibraryProcesses, FifthProcessGetsAnInertLibrary) {
    Client& a = Start();
    ASSERT_TRUE(WaitForCount(a, "2"));
    Client& b = Start();
    ASSERT_TRUE(WaitForCount(b, "3"));
    Client& c = Start();
    ASSERT_TRUE(WaitForCount(c, "4"));
    MonitorOf(a);

    Client& d = Start();
    EXPECT_EQ(Ask(d, "usable"), "0");
    EXPECT_EQ(Ask(d, "state"), "nostate");
    EXPECT_EQ(State(a)["count"], "4");
    EXPECT_EQ(Ask(a, "usable"), "1");
    EXPECT_TRUE(Exit(d));
    EXPECT_EQ(State(a)["count"], "4") << "the refused process's exit gives back no slot";
}

TEST_F(LibraryProcesses, LastClientEndsMonitorAndNextClientStartsAfresh) {
    Client& a = Start();
    ASSERT_TRUE(WaitForCount(a, "2"));
    Client& b = Start();
    ASSERT_TRUE(WaitForCount(b, "3"));
    pid_t monitor = MonitorOf(a);

    // A detach that leaves two processes closes nothing of the others'.
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
    EXPECT_TRUE(WaitFor([&] { return NamedObjectsLeft().empty(); }, 2000))
        << "left behind: " << ::testing::PrintToString(NamedObjectsLeft());

    Client& e = Start();
    ASSERT_TRUE(WaitForCount(e, "2"));
    pid_t second = MonitorOf(e);
    EXPECT_NE(second, monitor);
    auto s = State(e);
    EXPECT_EQ(s["changed"], "1,1,0,0,0,0,0,0") << "a new block starts zero-filled";
    EXPECT_EQ(s["clients"], "");
}

TEST_F(LibraryProcesses, KilledClientIsNoticedByTheMonitorTimer) {
    Client& a = Start();
    ASSERT_TRUE(WaitForCount(a, "2"));
    pid_t monitor = MonitorOf(a);
    Kill(a);  // no detach runs
    EXPECT_TRUE(MonitorEnds(monitor));
    EXPECT_TRUE(WaitFor([&] { return NamedObjectsLeft().empty(); }, 2000))
        << "left behind: " << ::testing::PrintToString(NamedObjectsLeft());

    // Nothing is left behind: the next client creates the block afresh.
    Client& b = Start();
    ASSERT_TRUE(WaitForCount(b, "2"));
    EXPECT_EQ(State(b)["quit"], "0");
    EXPECT_NE(MonitorOf(b), monitor);
}

TEST_F(LibraryProcesses, ClientLeavingBeforeItsMonitorAttachedLeavesNoMonitor) {
    // The monitor comes up after its client has gone: it must not create a
    // block (and a monitor of its own) but end by itself.
    for (int round = 0; round < 5; ++round) {
        Client& a = Start("--exit-at-once");
        ASSERT_TRUE(Exit(a));
    }
    EXPECT_TRUE(WaitFor([&] { return ProcessesOfRun(runtime.path).empty(); }, 5000))
        << ::testing::PrintToString(ProcessesOfRun(runtime.path));
    EXPECT_TRUE(WaitFor([&] { return NamedObjectsLeft().empty(); }, 2000))
        << ::testing::PrintToString(NamedObjectsLeft());
}

TEST_F(LibraryProcesses, MonitorKeepsOneEntryPerClientWindowInOrder) {
    Client& a = Start();
    ASSERT_TRUE(WaitForCount(a, "2"));
    MonitorOf(a);
    // The monitor answers its private messages with the default answer, 0.
    EXPECT_EQ(Ask(a, "send 1528 1001"), "0");
    Ask(a, "send 1528 1002");
    Ask(a, "send 1528 1001");
    Ask(a, "send 1528 0");
    Ask(a, "send 1528 1003");
    EXPECT_EQ(State(a)["clients"], "1001,1002,1003");
    Ask(a, "send 1529 1002");
    Ask(a, "send 1529 4242");
    EXPECT_EQ(State(a)["clients"], "1001,1003");
}

}  // namespace

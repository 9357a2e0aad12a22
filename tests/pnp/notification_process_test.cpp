// Plug-and-play with real processes: client processes registering windows
// and functions, the monitor process they started, and cameras of the
// simulator (served by this process) plugged and unplugged under them. The
// monitor's pauses are real: a poll takes half a second plus 100 ms per
// camera present.
#include "pnp_process_fixture.h"

#include <chrono>
#include <vector>

namespace pnp_tests {
namespace {

// Two clients with a window and a function each, cameras plugged one by one:
// each arrival marks its camera present and changed, every window gets one
// notice, every function one call with code 3 and its own user value. Then a
// broadcast that changes nothing (a file that is no camera) notifies nobody,
// unplugging notifies once, and two cameras going in one poll send two
// notices to each window (each function is called once or twice: signals
// that come while it runs are merged).
TEST_F(Notifications, EachChangeReachesEveryWindowAndFunctionOnce) {
    Client& a = Start();
    Client& b = Start();
    ASSERT_TRUE(RegisterBoth(a, 1111));
    ASSERT_TRUE(RegisterBoth(b, 2222));
    ASSERT_EQ(Ask(a, "register-null-window"), "1");
    std::string before = State(a)["clients"];
    EXPECT_EQ(std::count(before.begin(), before.end(), ','), 1) << "two windows: " << before;
    MonitorOf(a);
    for (int k = 0; k < 3; ++k) {
        SCOPED_TRACE("camera " + std::to_string(k));
        PlugCamera(k);
        for (Client* c : {&a, &b}) ASSERT_TRUE(WaitForNotices(*c, k + 1, k + 1, 0));
        auto s = State(a);
        EXPECT_EQ(Flag(s["presence"], k), "1");
        EXPECT_EQ(Flag(s["changed"], k), "1");
    }
    Settle(2);  // one more poll: any late or double notice would show now
    EXPECT_EQ(Ask(a, "notices"), "window=3 a=3 b=0 c=0 cdone=0 d=0 value=1111 code=3 bad=0");
    EXPECT_EQ(Ask(b, "notices"), "window=3 a=3 b=0 c=0 cdone=0 d=0 value=2222 code=3 bad=0");
    EXPECT_EQ(State(a)["presence"], "1,1,1,0,0,0,0,0");
    Settle(2);  // a broadcast, a poll, nothing new
    EXPECT_EQ(Ask(a, "notices"), "window=3 a=3 b=0 c=0 cdone=0 d=0 value=1111 code=3 bad=0");

    sim::Unplug(server_, cameras_[2]);
    ASSERT_TRUE(WaitForNotices(a, 4, 4, 0));
    Settle(1);
    EXPECT_EQ(Ask(a, "notices"), "window=4 a=4 b=0 c=0 cdone=0 d=0 value=1111 code=3 bad=0");
    auto s = State(a);
    EXPECT_EQ(s["presence"], "1,1,0,0,0,0,0,0");
    EXPECT_EQ(Flag(s["changed"], 2), "1");
    int calls = 4;

    // Cameras 1 and 0 go together, well within the next poll's settling time:
    // that poll sees both and gives two notices.
    sim::Unplug(server_, cameras_[1]);
    sim::Unplug(server_, cameras_[0]);
    ASSERT_TRUE(WaitForNotices(a, 6, calls + 1, 0));
    PlugCamera(3);  // the only camera now, at index 0: a poll to watch the others by
    ASSERT_TRUE(WaitForNotices(a, 7, calls + 2, 0));
    Settle(3);
    auto n = Notices(a);
    EXPECT_EQ(n["window"], "7");
    int twoChanges = std::stoi(n["a"]) - calls - 1;
    EXPECT_GE(twoChanges, 1);
    EXPECT_LE(twoChanges, 2);
}

// Deregistered windows get nothing; a new function takes over from the next
// notice, with its own user value; a null function stops the calls; stopping
// the thread twice is harmless, and then nothing is called any more.
TEST_F(Notifications, DeregisterReplaceNullAndStopTwice) {
    Client& a = Start();
    Client& watcher = Start();  // a window that sees every notice
    ASSERT_TRUE(RegisterBoth(a, 5));
    ASSERT_EQ(Ask(watcher, "register-window"), "1");
    MonitorOf(a);
    // After each change, once the poll after its notice has run, what the
    // client has received: its window deregistered after the first notice,
    // function B in A's place after it, then a null function, then A again
    // with the thread stopped twice.
    const struct {
        std::vector<const char*> before;  // commands, each answered 1
        const char* notices;
    } steps[] = {
        {{}, "window=1 a=1 b=0 c=0 cdone=0 d=0 value=5 code=3 bad=0"},
        {{"deregister-window", "register-fn B 6"},
         "window=1 a=1 b=1 c=0 cdone=0 d=0 value=6 code=3 bad=0"},
        {{"register-null"}, "window=1 a=1 b=1 c=0 cdone=0 d=0 value=6 code=3 bad=0"},
        {{"register-fn A 8", "stop", "stop"},
         "window=1 a=1 b=1 c=0 cdone=0 d=0 value=6 code=3 bad=0"},
    };
    for (int k = 0; k < 4; ++k) {
        SCOPED_TRACE("camera " + std::to_string(k));
        for (const char* command : steps[k].before) EXPECT_EQ(Ask(a, command), "1") << command;
        PlugCamera(k);
        ASSERT_TRUE(WaitForNotices(watcher, k + 1, 0, 0));
        Settle(k);
        EXPECT_EQ(Ask(a, "notices"), steps[k].notices);
    }
    EXPECT_EQ(Ask(a, "usable"), "1");
}

// When the registration returns, the monitor has made the process's event:
// a camera that changes at once is reported. (The thread asks for its event
// on its own; a registration that didn't wait for it left a moment in which
// the monitor signalled nobody.)
TEST_F(Notifications, ARegisteredFunctionHearsOfAChangeRightAfterItsRegistration) {
    Client& a = Start();
    MonitorOf(a);
    ASSERT_EQ(Ask(a, "register-fn A 3"), "1");
    tav::SharedData d;
    ASSERT_TRUE(ReadBlock(&d));
    bool eventMade = false;
    for (int i = 0; i < tav::kMaxProcesses; ++i)
        if (d.dwProcessIds[i] == (uint32_t)a.pid) eventMade = d.hPnPEvents[i] != 0;
    EXPECT_TRUE(eventMade);
    PlugCamera(0);
    ASSERT_TRUE(WaitForNotices(a, 0, 1, 0));
    EXPECT_EQ(Notices(a)["value"], "3");
}

// The function may stop its own thread from inside: no wait on itself, and
// no call after. A process that ends while its function runs (and registers
// itself again from inside) ends cleanly: the unload signals the thread and
// waits for it without holding anything the function needs.
TEST_F(Notifications, FunctionStoppingItsOwnThreadAndExitWhileAFunctionRuns) {
    Client& a = Start();
    Client& b = Start();
    Client& watcher = Start();
    ASSERT_EQ(Ask(a, "register-fn D 1"), "1");
    ASSERT_EQ(Ask(b, "register-fn C 2"), "1");
    ASSERT_EQ(Ask(watcher, "register-window"), "1");
    MonitorOf(a);
    PlugCamera(0);
    ASSERT_TRUE(WaitFor([&] { return Notices(a)["d"] == "1"; }, 15000));
    ASSERT_TRUE(WaitFor([&] { return Notices(b)["c"] == "1"; }, 15000));
    EXPECT_EQ(Notices(b)["cdone"], "0") << "still running";
    EXPECT_TRUE(Exit(b)) << "b's exit while its function ran";

    PlugCamera(1);
    ASSERT_TRUE(WaitForNotices(watcher, 2, 0, 0));
    Settle(1);
    EXPECT_EQ(Ask(a, "notices"), "window=0 a=0 b=0 c=0 cdone=0 d=1 value=1 code=3 bad=0");
    EXPECT_EQ(Ask(a, "stop"), "1");
}

// A client that registered a window and a function and was then killed does
// not hold up the others: its window is gone, so the send to it fails at
// once instead of waiting out the monitor's bound on a send (5 s).
TEST_F(Notifications, KilledClientDoesNotHoldUpTheOthers) {
    Client& a = Start();
    Client& killed = Start();
    ASSERT_TRUE(RegisterBoth(killed, 1));
    ASSERT_TRUE(RegisterBoth(a, 2));  // after the killed one in the list
    MonitorOf(a);
    Kill(killed);
    auto start = std::chrono::steady_clock::now();
    PlugCamera(0);
    ASSERT_TRUE(WaitForNotices(a, 1, 1, 0));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4500))
        << "the notice came after the bound on the dead window";
    EXPECT_TRUE(HasLiveMonitor(a));
}

// After a camera came back, whichever process initialises it next reads its
// saved settings again (and only those) and applies them; the flag is then
// clear for every process.
TEST_F(Notifications, CameraThatCameBackIsReadAfreshByTheNextInitialisationAnywhere) {
    Client& a = Start();
    Client& b = Start();
    ASSERT_TRUE(RegisterBoth(a, 1));
    MonitorOf(a);
    PlugCamera(0);
    ASSERT_TRUE(WaitForNotices(a, 1, 1, 0));
    for (Client* c : {&a, &b}) {
        ASSERT_EQ(Ask(*c, "list"), "Cam-0");
        ASSERT_EQ(Ask(*c, "init Cam-0", 30000), "2048");
    }
    EXPECT_EQ(Flag(State(a)["changed"], 0), "0");

    sim::Unplug(server_, cameras_[0]);
    ASSERT_TRUE(WaitForNotices(a, 2, 2, 0));
    // While it is away the camera's saved settings change: preset 0's gain.
    std::vector<uint8_t> saved = sim::Flash(server_, cameras_[0], 1);
    saved.resize(202);
    ASSERT_EQ(saved[14], 16);
    saved[14] = 42;
    sim::SetFlash(server_, cameras_[0], 1, saved);
    sim::PlugBack(server_, cameras_[0]);
    ASSERT_TRUE(WaitForNotices(a, 3, 3, 0));
    EXPECT_EQ(Flag(State(a)["changed"], 0), "1");

    sim::ClearLog(server_, cameras_[0]);
    ASSERT_EQ(Ask(b, "init Cam-0", 30000), "2048");
    EXPECT_EQ(Requests(0, 0), 0);
    EXPECT_GT(Requests(0, 1), 0);
    uint16_t gain = 0;
    EXPECT_TRUE(sim::Register(server_, cameras_[0], 0x820, &gain));
    EXPECT_EQ(gain, 42);
    EXPECT_EQ(Flag(State(a)["changed"], 0), "0");

    sim::ClearLog(server_, cameras_[0]);
    ASSERT_EQ(Ask(a, "init Cam-0", 30000), "2048");
    EXPECT_TRUE(sim::Log(server_, cameras_[0]).empty()) << "cleared for every process";
}

}  // namespace
}  // namespace pnp_tests

// tavcam watch, run as a process of its own against the simulator.
#include <signal.h>
#include <sys/wait.h>

#include <regex>

#include "pnp_process_fixture.h"

namespace pnp_tests {
namespace {

// The next line of the watch's output that is not empty, and whether it
// reads "HH:MM:SS <rest>".
bool Printed(Client& w, const std::string& rest, std::string* line) {
    *line = ReadLine(w, 15000);
    return std::regex_match(*line, std::regex("[0-9]{2}:[0-9]{2}:[0-9]{2} " + rest));
}

TEST_F(Notifications, WatchPrintsArrivalsAndDeparturesUntilInterrupted) {
    PlugCamera(0);
    Client& w = Start({"watch"}, "tavcam");
    std::string line;
    ASSERT_EQ(ReadLine(w, 15000), "watching cameras arrive and leave (Ctrl-C ends)");
    EXPECT_TRUE(Printed(w, "present: Cam-0 \\(index 0\\)", &line)) << line;
    // Registered once the monitor answers: a second client sees its process
    // in the block with an event of its own.
    Client& other = Start();
    ASSERT_TRUE(WaitFor(
        [&] {
            auto s = State(other);
            return s["events"] != "" && s["events"] != "0,0,0,0";
        },
        15000));

    // Two cameras in one poll: the second notice comes while the function
    // still handles the first, and is merged into it; both are printed.
    PlugCamera(1);
    PlugCamera(2);
    EXPECT_TRUE(Printed(w, "arrived: Cam-1 \\(index 1\\)", &line)) << line;
    EXPECT_TRUE(Printed(w, "arrived: Cam-2 \\(index 2\\)", &line)) << line;
    sim::Unplug(server_, cameras_[2]);
    EXPECT_TRUE(Printed(w, "left: Cam-2 \\(index 2\\)", &line)) << line;

    kill(w.pid, SIGINT);
    EXPECT_TRUE(Printed(w, "stopped watching", &line)) << line;
    int status = 0;
    ASSERT_TRUE(WaitFor([&] { return waitpid(w.pid, &status, WNOHANG) == w.pid; }, 10000));
    w.pid = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
}  // namespace pnp_tests

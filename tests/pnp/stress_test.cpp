// Seeded random lives of client processes: they start, register windows and
// functions, leave or are killed in any order, often a newcomer just as the
// last client goes. After every step each live client has a running monitor
// attached to its block; a monitor left without clients ends within its
// timer's tick (plus the time to exit); nothing is left in /dev/shm at the
// end. TAVCAM_STRESS_SEED and TAVCAM_STRESS_ROUNDS change the run.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "process_fixture.h"

using namespace process_tests;

namespace {

int FromEnvironment(const char* name, int fallback) {
    const char* value = getenv(name);
    return value && *value ? atoi(value) : fallback;
}

class LivesOfClients : public LibraryProcesses {
  protected:
    std::vector<Client*> live;     // started, not told to leave
    std::vector<Client*> leaving;  // told to leave, not yet reaped

    // Reaps the leaving clients that have ended (waiting for each, with
    // wait); each must have ended by itself with exit code 0.
    void Reap(bool wait) {
        for (auto it = leaving.begin(); it != leaving.end();) {
            EXPECT_TRUE(Reaped(**it, wait ? 10000 : 0) || (*it)->pid > 0) << "a client's exit";
            it = (*it)->pid > 0 ? it + 1 : leaving.erase(it);
        }
    }
    Client* Take(std::mt19937& rng) {
        size_t i = rng() % live.size();
        Client* c = live[i];
        live.erase(live.begin() + (long)i);
        return c;
    }
};

TEST_F(LivesOfClients, NeverAClientWithoutAMonitorNorAMonitorWithoutAClient) {
    const unsigned seed = (unsigned)FromEnvironment("TAVCAM_STRESS_SEED", 20240611);
    const int rounds = FromEnvironment("TAVCAM_STRESS_ROUNDS", 300);
    std::mt19937 rng(seed);
    SCOPED_TRACE("seed " + std::to_string(seed));
    for (int round = 0; round < rounds && !HasFailure(); ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        int action = (int)(rng() % 10);
        // Clients on their way out still hold their places until they have
        // ended: a newcomer that made a fifth process would be refused.
        bool room = live.size() + leaving.size() < 3;
        if ((live.empty() && room) || (action < 4 && room)) {
            live.push_back(&Start());
        } else if (live.empty()) {
            Reap(true);
        } else if (action < 6) {
            // The newcomer starts just as a client leaves: when that was the
            // last one, it races the monitor's end.
            Client* c = Take(rng);
            BeginExit(*c);
            leaving.push_back(c);
            if (rng() % 2 && live.size() + leaving.size() < 3) live.push_back(&Start());
        } else if (action < 7) {
            Kill(*Take(rng));
        } else {
            Client* c = live[rng() % live.size()];
            const char* what = rng() % 2 ? "register-window" : "register-fn A 3";
            EXPECT_EQ(Ask(*c, what, 20000), "1") << what;
        }
        Reap(false);
        for (Client* c : live)
            ASSERT_TRUE(HasLiveMonitor(*c)) << "client " << c->pid << ": " << Ask(*c, "state");
        if (live.empty()) {
            // Every client has gone: the monitor ends at once when the last
            // one left, within a tick of its timer when it was killed.
            Reap(true);
            ASSERT_TRUE(WaitFor([&] { return ProcessesOfRun().empty(); }, 5000))
                << "left running: " << ::testing::PrintToString(ProcessesOfRun());
        }
    }
    for (Client* c : live) {
        BeginExit(*c);
        leaving.push_back(c);
    }
    live.clear();
    Reap(true);
    ExpectNothingLeft();
}

}  // namespace

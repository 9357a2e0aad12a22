// The monitor's bookkeeping on a block of its own, without processes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

#include "core/shared_data.h"
#include "pnp/pnp.h"

namespace {

std::vector<uint32_t> Clients(const tav::SharedData& d) {
    return std::vector<uint32_t>(d.hClients, d.hClients + d.nClients);
}

TEST(MonitorClientList, KeepsOrderIgnoresDuplicatesNullAndOverflow) {
    static tav::SharedData d{};
    tav::ClientListAdd(&d, 7);
    tav::ClientListAdd(&d, 0);
    tav::ClientListAdd(&d, 9);
    tav::ClientListAdd(&d, 7);
    EXPECT_EQ(Clients(d), (std::vector<uint32_t>{7, 9}));
    for (uint32_t w = 100; w < 300; ++w) tav::ClientListAdd(&d, w);
    EXPECT_EQ(d.nClients, 100u);
    EXPECT_EQ(d.hClients[99], 197u) << "registrations beyond 100 windows are ignored";

    tav::ClientListRemove(&d, 9);
    EXPECT_EQ(d.nClients, 99u);
    EXPECT_EQ(d.hClients[0], 7u);
    EXPECT_EQ(d.hClients[1], 100u);
    EXPECT_EQ(d.hClients[98], 197u);
    EXPECT_EQ(d.hClients[99], 0u) << "the freed last entry is cleared";
    tav::ClientListRemove(&d, 0);
    tav::ClientListRemove(&d, 5555);
    EXPECT_EQ(d.nClients, 99u);

    // A damaged count never reaches past the list.
    d.nClients = 0xFFFFFFFF;
    tav::ClientListAdd(&d, 1);  // full: ignored
    tav::ClientListRemove(&d, 12345);
    EXPECT_EQ(d.nClients, 0xFFFFFFFFu);
}

TEST(MonitorLiveness, CountsOnlyRunningProcessesFreesTheOthersAndQuitsWhenAlone) {
    static tav::SharedData d{};
    pid_t child = fork();
    if (child == 0) _exit(0);
    ASSERT_GT(child, 0);
    int status;
    waitpid(child, &status, 0);  // an id that no longer runs

    pid_t zombie = fork();
    if (zombie == 0) _exit(0);
    // Once it has exited, left unreaped: a zombie counts as ended.
    siginfo_t info{};
    ASSERT_EQ(waitid(P_PID, (id_t)zombie, &info, WEXITED | WNOWAIT), 0);

    d.dwProcessIds[0] = (uint32_t)getpid();
    d.dwProcessIds[1] = (uint32_t)child;
    d.dwProcessIds[2] = (uint32_t)zombie;
    d.dwProcessIds[3] = (uint32_t)getpid();
    EXPECT_EQ(tav::LivenessCheck(&d), 2);
    EXPECT_EQ(d.bQuit, 0u);
    // The slots of processes that are gone are free again, and the count is
    // the count of live processes.
    EXPECT_EQ(d.dwProcessIds[1], 0u);
    EXPECT_EQ(d.dwProcessIds[2], 0u);
    EXPECT_EQ(d.dwProcessIds[0], (uint32_t)getpid());
    EXPECT_EQ(d.nAttachedProcess, 2u);

    d.dwProcessIds[3] = 0;
    EXPECT_EQ(tav::LivenessCheck(&d), 1);
    EXPECT_EQ(d.bQuit, 1u);
    waitpid(zombie, &status, 0);
}

}  // namespace

// bChanged across real processes: an application keeps a camera initialised
// while another process loads a preset; the application's next
// initialisation reads SaveData again, and only SaveData.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "config_fixture.h"

extern char** environ;

namespace config_test {
namespace {

struct Child {
    pid_t pid = -1;
    int in = -1, out = -1;
};

bool Spawn(const std::vector<std::string>& args, Child* child, bool piped) {
    int toChild[2] = {-1, -1}, fromChild[2] = {-1, -1};
    if (piped && (pipe(toChild) != 0 || pipe(fromChild) != 0)) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (piped) {
        posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
        posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
        posix_spawn_file_actions_addclose(&actions, toChild[1]);
        posix_spawn_file_actions_addclose(&actions, fromChild[0]);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    }
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int rc = posix_spawn(&child->pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (piped) {
        close(toChild[0]);
        close(fromChild[1]);
        child->in = toChild[1];
        child->out = fromChild[0];
    }
    return rc == 0;
}

// Waits (bounded) for the child to end; its exit code, or -1.
int Wait(Child& child, int ms) {
    int status = 0;
    for (int waited = 0; waited < ms; waited += 20) {
        if (waitpid(child.pid, &status, WNOHANG) == child.pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        usleep(20 * 1000);
    }
    kill(child.pid, SIGKILL);
    waitpid(child.pid, &status, 0);
    return -1;
}

// Sends "init NAME" and returns the number of the "result N" line that
// answers it; -1 after 20 s.
int Init(Child& client, const std::string& name) {
    std::string command = "init " + name + "\n";
    if (write(client.in, command.data(), command.size()) != (ssize_t)command.size()) return -1;
    std::string text;
    for (int waited = 0; waited < 20000; waited += 100) {
        struct pollfd p = {client.out, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char buffer[256];
        ssize_t n = read(client.out, buffer, sizeof buffer);
        if (n <= 0) return -1;
        text.append(buffer, (size_t)n);
        size_t at = text.find("result ");
        if (at != std::string::npos && text.find('\n', at) != std::string::npos)
            return atoi(text.c_str() + at + 7);
    }
    return -1;
}

TEST_F(ConfigTest, PresetLoadedInAnotherProcessMakesTheNextInitRereadSaveData) {
    testing_support::TempDir runtime;
    setenv("TAVCAM_RUNTIME_DIR", runtime.path.c_str(), 1);
    PlugCamera(Long());
    const std::string bin = testing_support::BinDir();

    Child client;
    ASSERT_TRUE(Spawn({bin + "/tavcam-config-client"}, &client, true));
    EXPECT_EQ(Init(client, name_), TAVCAM_INIT_OK);
    ClearLog();
    EXPECT_EQ(Init(client, name_), TAVCAM_INIT_OK);  // nobody changed anything
    EXPECT_TRUE(Log().empty());

    Child loader;
    ASSERT_TRUE(Spawn({bin + "/tavcam", "preset", "load", name_, "1"}, &loader, false));
    EXPECT_EQ(Wait(loader, 30000), 0);
    ClearLog();
    EXPECT_EQ(Init(client, name_), TAVCAM_INIT_OK);
    EXPECT_EQ(FlashReads(0), 0);
    EXPECT_EQ(FlashReads(1), 4);
    // Flash still marks preset 0 current: its settings are applied again.
    ASSERT_EQ(Commands().size(), 18u);
    EXPECT_EQ(Commands()[0], WriteReg(0x820, 16));

    ClearLog();
    EXPECT_EQ(Init(client, name_), TAVCAM_INIT_OK);  // the flag was cleared for everyone
    EXPECT_TRUE(Log().empty());

    close(client.in);
    EXPECT_EQ(Wait(client, 10000), 0);
    close(client.out);
    unsetenv("TAVCAM_RUNTIME_DIR");
}

}  // namespace
}  // namespace config_test

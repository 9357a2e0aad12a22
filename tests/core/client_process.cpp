#include "client_process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <vector>

#include "platform/posix/device_dir.h"
#include "platform/posix/internal.h"
#include "support/testing.h"

extern char** environ;

namespace process_tests {

bool StartClient(const std::string& runtimeDir, Client* client, const char* argument,
                 const std::string& deviceDir, const std::string& programName) {
    std::vector<std::string> arguments;
    if (argument) arguments.push_back(argument);
    return StartClient(runtimeDir, client, arguments, deviceDir, programName);
}

bool StartClient(const std::string& runtimeDir, Client* client,
                 const std::vector<std::string>& arguments, const std::string& deviceDir,
                 const std::string& programName) {
    // A client that has ended (one told to exit at once, say) closes its end
    // of the pipe: writing to it must fail, not end the test with SIGPIPE.
    signal(SIGPIPE, SIG_IGN);
    int toChild[2], fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0) return false;
    if (pipe2(fromChild, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);

    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (strncmp(*e, "TAVCAM_RUNTIME_DIR=", 19) != 0 &&
            strncmp(*e, "TAVCAM_DEVICE_DIR=", 18) != 0)
            env.push_back(*e);
    env.push_back("TAVCAM_RUNTIME_DIR=" + runtimeDir);
    env.push_back("TAVCAM_DEVICE_DIR=" +
                  (deviceDir.empty() ? runtimeDir + "/no-devices" : deviceDir));
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(&e[0]);
    envp.push_back(nullptr);

    std::string program =
        programName[0] == '/' ? programName : testing_support::BinDir() + "/" + programName;
    std::vector<std::string> args = arguments;
    std::vector<char*> argv = {&program[0]};
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(toChild[0]);
    close(fromChild[1]);
    if (rc != 0) {
        close(toChild[1]);
        close(fromChild[0]);
        return false;
    }
    client->pid = pid;
    client->in = toChild[1];
    client->out = fromChild[0];
    return true;
}

std::string Ask(Client& client, const std::string& command, int ms) {
    if (client.pid <= 0) return "";
    std::string line = command + "\n";
    if (write(client.in, line.data(), line.size()) != (ssize_t)line.size()) return "";
    return ReadLine(client, ms);
}

std::string ReadLine(Client& client, int ms) {
    std::string answer;
    for (;;) {
        struct pollfd p = {client.out, POLLIN, 0};
        if (poll(&p, 1, ms) <= 0) return "";
        char c;
        if (read(client.out, &c, 1) != 1) return "";
        if (c == '\n') return answer;
        answer += c;
    }
}

static void CloseFds(Client& client) {
    if (client.in >= 0) close(client.in);
    if (client.out >= 0) close(client.out);
    client.in = client.out = -1;
}

bool Exit(Client& client) {
    if (client.pid <= 0) return true;
    std::string line = "exit\n";
    (void)!write(client.in, line.data(), line.size());
    bool ended = false;
    for (int waited = 0; waited < 10000 && !ended; waited += 10) {
        int status;
        if (waitpid(client.pid, &status, WNOHANG) == client.pid) {
            // A clean exit only: a sanitizer's report ends the process with
            // another code.
            ended = WIFEXITED(status) && WEXITSTATUS(status) == 0;
            if (!ended) fprintf(stderr, "client %d ended with status 0x%x\n", client.pid, status);
            client.pid = -1;
            break;
        }
        usleep(10000);
    }
    if (client.pid > 0) Kill(client);
    CloseFds(client);
    client.pid = -1;
    return ended;
}

void Kill(Client& client) {
    if (client.pid <= 0) return;
    kill(client.pid, SIGKILL);
    int status;
    waitpid(client.pid, &status, 0);
    client.pid = -1;
    CloseFds(client);
}

bool ReadBlock(const std::string& runtimeDir, tav::SharedData* out) {
    // The object is "/dev/shm/tavcam-NAMESPACE-map-NAME", its user area after
    // a 4096-byte header (platform/posix/internal.h).
    const char* old = getenv("TAVCAM_RUNTIME_DIR");
    std::string saved = old ? old : "";
    setenv("TAVCAM_RUNTIME_DIR", runtimeDir.c_str(), 1);
    std::string path =
        "/dev/shm/tavcam-" + plat::posix::ObjectNamespace() + "-map-" + tav::kSharedDataName;
    if (old)
        setenv("TAVCAM_RUNTIME_DIR", saved.c_str(), 1);
    else
        unsetenv("TAVCAM_RUNTIME_DIR");
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    ssize_t n = pread(fd, out, sizeof *out, (off_t)plat::posix::kSharedHeaderSize);
    close(fd);
    return n == (ssize_t)sizeof *out;
}

std::vector<int> ProcessesOfRun(const std::string& runtimeDir) {
    std::vector<int> found;
    const std::string wanted = "TAVCAM_RUNTIME_DIR=" + runtimeDir;
    DIR* proc = opendir("/proc");
    if (!proc) return found;
    while (dirent* e = readdir(proc)) {
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
    closedir(proc);
    return found;
}

bool ProcessRuns(pid_t pid) {
    if (pid <= 0 || kill(pid, 0) != 0) return false;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string all;
    std::getline(stat, all);
    size_t paren = all.rfind(')');
    if (paren == std::string::npos || paren + 2 >= all.size()) return false;
    char state = all[paren + 2];
    return state != 'Z' && state != 'X';
}

}  // namespace process_tests

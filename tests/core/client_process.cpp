#include "client_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

extern char** environ;

namespace process_tests {

std::string Ask(Client& client, const std::string& command, int ms) {
    std::string line = command + "\n";
    if (client.pid <= 0 || write(client.in, line.data(), line.size()) != (ssize_t)line.size())
        return "";
    return ReadLine(client, ms);
}

std::string ReadLine(Client& client, int ms) {
    std::string answer;
    char c;
    for (struct pollfd p = {client.out, POLLIN, 0}; poll(&p, 1, ms) > 0;) {
        if (read(client.out, &c, 1) != 1) return "";
        if (c == '\n') return answer;
        answer += c;
    }
    return "";
}

void BeginExit(Client& client) {
    (void)!write(client.in, "exit\n", 5);
}

bool Reaped(Client& client, int ms) {
    int status = 0;
    if (client.pid <= 0 ||
        !WaitFor([&] { return waitpid(client.pid, &status, WNOHANG) == client.pid; }, ms))
        return client.pid <= 0;
    // A clean exit only: a sanitizer's report ends the process with another code.
    bool clean = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!clean) fprintf(stderr, "client %d ended with status 0x%x\n", client.pid, status);
    client.pid = -1;
    Kill(client);  // closes its pipes
    return clean;
}

bool Exit(Client& client) {
    BeginExit(client);
    bool clean = Reaped(client, 10000);
    Kill(client);
    return clean;
}

void Kill(Client& client) {
    if (client.pid > 0) {
        kill(client.pid, SIGKILL);
        waitpid(client.pid, nullptr, 0);
    }
    client.pid = -1;
    for (int* fd : {&client.in, &client.out}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
}

bool ProcessRuns(pid_t pid) {
    if (pid <= 0 || kill(pid, 0) != 0) return false;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string all;
    std::getline(stat, all);
    size_t paren = all.rfind(')');
    return paren != std::string::npos && paren + 2 < all.size() && all[paren + 2] != 'Z' &&
           all[paren + 2] != 'X';
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
    std::string program =
        programName[0] == '/' ? programName : testing_support::BinDir() + "/" + programName;
    std::vector<std::string> args = arguments;
    args.insert(args.begin(), program);
    std::vector<char*> argv, envp;
    for (std::string& a : args) argv.push_back(&a[0]);
    for (std::string& e : env) envp.push_back(&e[0]);
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    int rc =
        posix_spawn(&client->pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(toChild[0]);
    close(fromChild[1]);
    client->in = toChild[1];
    client->out = fromChild[0];
    if (rc != 0) Kill(*client);
    return rc == 0;
}

}  // namespace process_tests

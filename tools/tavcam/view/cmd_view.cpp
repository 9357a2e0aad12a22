// tavcam view [NAME] [--port N] [--bind ADDR]: the live picture and the
// settings of the cameras in a web browser, until interrupted.
//
// The server listens on the loopback address unless told otherwise: whoever
// reaches it can watch every camera and change its settings, and there is no
// password, so opening it to other machines is a choice made on the command
// line, and said aloud when the program starts.
#include <signal.h>
#include <stdio.h>
#include <string.h>

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "tools/tavcam/cli_support.h"
#include "tools/tavcam/commands.h"
#include "tools/tavcam/view/camera_hub.h"
#include "tools/tavcam/view/http_routes.h"

namespace {

constexpr uint32_t kDefaultPort = 8080;

std::atomic<bool> g_interrupted{false};
void OnInterrupt(int) {
    g_interrupted.store(true);
}

bool IsLoopback(const std::string& address) {
    return address.rfind("127.", 0) == 0 || address == "::1" || address == "localhost";
}

std::string Url(const std::string& address, int port) {
    const bool v6 = address.find(':') != std::string::npos;
    return "http://" + (v6 ? "[" + address + "]" : address) + ":" + std::to_string(port) + "/";
}

void PrintCameras(view::Hub& hub) {
    std::string names;
    {
        std::lock_guard<std::mutex> hold(hub.lock);
        for (const view::CameraSlot& slot : hub.slots)
            if (!slot.name.empty()) names += (names.empty() ? "" : ", ") + slot.name;
    }
    printf("cameras: %s\n", names.empty() ? "none yet" : names.c_str());
}

}  // namespace

int CmdView(int argc, char** argv) {
    const char* usage = "view [NAME] [--port N] [--bind ADDR]";
    std::string initial, address = "127.0.0.1";
    uint32_t port = kDefaultPort;
    for (int i = 1; i < argc; ++i) {
        const bool more = i + 1 < argc;
        if (!strcmp(argv[i], "--port") && more && ParseNumber(argv[i + 1], &port) && port <= 65535)
            ++i;
        else if (!strcmp(argv[i], "--bind") && more && *argv[i + 1])
            address = argv[++i];
        else if (argv[i][0] != '-' && initial.empty())
            initial = argv[i];
        else
            return Usage(usage);
    }
    signal(SIGPIPE, SIG_IGN);  // a viewer gone mid-write is an error of that write alone
    signal(SIGINT, OnInterrupt);
    signal(SIGTERM, OnInterrupt);

    // Never freed: a live-video reader that would not stop may call into it
    // until the program ends.
    static view::Hub& hub = *new view::Hub;
    view::StartHub(hub);
    PrintCameras(hub);
    if (!hub.plugAndPlay)
        printf("the device monitor does not answer: cameras coming and going will not show\n");
    if (!initial.empty() && view::FindCamera(hub, initial) < 0)
        printf("no camera named %s yet: the page shows it when it comes\n", initial.c_str());

    httplib::Server server;
    server.new_task_queue = [] { return new httplib::ThreadPool(view::kServerThreads); };
    view::AddRoutes(server, hub, initial);
    const int bound = port == 0 ? server.bind_to_any_port(address)
                                : (server.bind_to_port(address, (int)port) ? (int)port : -1);
    if (bound <= 0) {
        fprintf(stderr, "tavcam view: cannot listen on %s port %u\n", address.c_str(), port);
        view::StopHub(hub);
        return 1;
    }
    printf("serving %s\n", Url(address, bound).c_str());
    if (IsLoopback(address))
        printf(
            "on the loopback address: only this machine can connect (--bind ADDR to open it "
            "to others)\n");
    else
        printf(
            "open to other machines through %s: whoever reaches it can watch and change the "
            "cameras, without a password\n",
            address.c_str());
    printf("Ctrl-C ends\n");
    fflush(stdout);

    view::RunHub(hub);
    std::atomic<bool> listening{true};
    std::thread listener([&server, &listening] {
        server.listen_after_bind();
        listening.store(false);
    });
    while (!g_interrupted.load() && listening.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    server.stop();
    listener.join();
    view::StopHub(hub);
    printf("stopped\n");
    return 0;
}

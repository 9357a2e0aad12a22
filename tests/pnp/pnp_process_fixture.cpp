#include "pnp_process_fixture.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

namespace pnp_tests {

void Notifications::SetUp() {
    deviceDir = devices_.path;
    server_ = sim::Start(devices_.path);
    ASSERT_NE(server_, nullptr);
}

void Notifications::TearDown() {
    LibraryProcesses::TearDown();
    if (server_) sim::Stop(server_);
}

void Notifications::PlugCamera(int k) {
    std::string socket = "cam" + std::to_string(k) + ".sock";
    cameras_[k] = sim::Plug(server_, sim::MakeProfile(sim::Model::LongLayout, "Cam", socket));
    ASSERT_GE(cameras_[k], 0);
}

bool Notifications::RegisterBoth(Client& c, int value) {
    return Ask(c, "register-window", 20000) == "1" &&
           Ask(c, "register-fn A " + std::to_string(value), 20000) == "1";
}

bool Notifications::WaitForNotices(Client& c, int window, int a, int b) {
    return WaitFor(
        [&] {
            auto n = Notices(c);
            return n.count("window") && std::stoi(n["window"]) >= window &&
                   std::stoi(n["a"]) >= a && std::stoi(n["b"]) >= b;
        },
        15000);
}

void Notifications::Settle(int k) {
    int before = Probes(k);
    std::string path = devices_.path + "/settle-" + std::to_string(++settles_) + ".txt";
    int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    close(fd);
    ASSERT_TRUE(WaitFor([&] { return Probes(k) > before; }, 15000)) << "no poll read camera " << k;
}

int Notifications::Probes(int k) {
    int n = 0;
    for (const sim::Request& r : sim::Log(server_, cameras_[k]))
        if (r.code == 0x222050 && r.input.size() >= 11 && r.input[8] == 122 && r.input[9] == 9) ++n;
    return n;
}

int Notifications::FlashReads(int page) {
    int n = 0;
    for (const sim::Request& r : sim::Log(server_, cameras_[0]))
        if (r.code == 0x222050 && r.input.size() >= 10 && r.input[8] == page && r.input[9] == 3)
            ++n;
    return n;
}

uint64_t Notifications::NowMs() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint64_t)ts.tv_sec * 1000 + (uint64_t)ts.tv_nsec / 1000000;
}

std::string Notifications::Flag(const std::string& list, int i) {
    size_t at = 0;
    for (int j = 0; j < i && at != std::string::npos; ++j) {
        at = list.find(',', at);
        if (at != std::string::npos) ++at;
    }
    if (at == std::string::npos) return "";
    return list.substr(at, list.find(',', at) - at);
}

}  // namespace pnp_tests

#include "pnp_process_fixture.h"

#include <fcntl.h>
#include <unistd.h>

#include <sstream>

namespace pnp_tests {

void Notifications::PlugCamera(int k) {
    std::string socket = "cam" + std::to_string(k) + ".sock";
    cameras_[k] = sim::Plug(server_, sim::MakeProfile(sim::Model::LongLayout, "Cam", socket));
    ASSERT_GE(cameras_[k], 0);
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
    int before = Requests(k);
    std::string path = devices_.path + "/settle-" + std::to_string(++settles_) + ".txt";
    int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    close(fd);
    ASSERT_TRUE(WaitFor([&] { return Requests(k) > before; }, 15000))
        << "no poll read camera " << k;
}

int Notifications::Requests(int k, int page) {
    int n = 0;
    for (const sim::Request& r : sim::Log(server_, cameras_[k]))
        if (r.code == 0x222050 && r.input.size() >= 10 &&
            (page < 0 ? r.input[8] == 122 && r.input[9] == 9
                      : r.input[8] == page && r.input[9] == 3))
            ++n;
    return n;
}

std::string Notifications::Flag(const std::string& list, int i) {
    std::stringstream in(list);
    std::string entry;
    for (int j = 0; j <= i; ++j)
        if (!std::getline(in, entry, ',')) return "";
    return entry;
}

}  // namespace pnp_tests

// How much processor time tavcam view takes for the live picture: the
// program runs as a process of its own against a 640 x 480 camera at 30
// frames a second, served by the simulator in this process, and one viewer
// (a plain socket here) reads its multipart JPEG stream. Over the measured
// seconds the program's user and system time (from /proc) is divided by the
// pictures the viewer received. The program's time holds everything it does
// for the picture: the library's reader (the read from the camera and the
// conversion), the hand-over, the JPEG encoding and the sending.
//
//   view_bench [--seconds=N]   (default 10 s per run, after 1 s of warming up)
//
// Counters: fps (pictures the viewer received a second), camera_fps (frames
// the camera sent a second), cpu_ms_per_picture, user_ms and sys_ms of it,
// cores (processor time over wall time: below 1, less than one core).
#include <arpa/inet.h>
#include <fcntl.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/sim.h"
#include "support/exe_dir.h"
#include "tavcam.h"

extern char** environ;

namespace {

double g_seconds = 10;

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string TempDir() {
    char pattern[] = "/tmp/tavcam-bench-XXXXXX";
    const char* made = mkdtemp(pattern);
    return made ? made : "";
}

// A long-layout camera named Cam of 640 x 480 at 30 frames a second; its
// presets choose format 0 (grey) or 1 (colour).
sim::Profile Camera(bool colour) {
    sim::Profile p = sim::MakeProfile(sim::Model::LongLayout, "Cam", "cam0.sock");
    CameraRecord record;
    memcpy(&record, p.page0.data(), sizeof record);
    for (int k = 0; k < 2; ++k) {
        FormatEntry& f = record.Formats[k];
        f.Width = 640;
        f.Height = 480;
        f.MaxSize = 640u << 16 | 480u;
        if (!f.PartialScan) f.UnitSize = f.MaxSize;
    }
    record.FeatureInq[7] = 0x80000000u | 1u << 12 | 480u;  // shutter 1..480
    memcpy(p.page0.data(), &record, sizeof record);
    for (int preset = 0; preset < 4; ++preset) {
        uint8_t* q = p.page1.data() + 2 + 50 * preset;
        q[4] = 640 & 0xFF;
        q[5] = 640 >> 8;
        q[6] = 480 & 0xFF;
        q[7] = 480 >> 8;
        q[19] = colour ? 1 : 0;  // the preset's format
    }
    p.framesPerSecond = 30;
    p.repeatImages = 8;  // rendered once: this process's work stays small
    return p;
}

struct ViewProcess {
    pid_t pid = -1;
    int out = -1;
    int port = 0;
};

bool ReadLine(int fd, std::string* line, int ms) {
    line->clear();
    for (;;) {
        pollfd p = {fd, POLLIN, 0};
        char c;
        if (poll(&p, 1, ms) <= 0 || read(fd, &c, 1) != 1) return false;
        if (c == '\n') return true;
        *line += c;
    }
}

bool StartView(const std::string& devices, const std::string& runtime, ViewProcess* v) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (strncmp(*e, "TAVCAM_", 7) != 0) env.push_back(*e);
    env.push_back("TAVCAM_DEVICE_DIR=" + devices);
    env.push_back("TAVCAM_RUNTIME_DIR=" + runtime);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(&e[0]);
    envp.push_back(nullptr);
    std::string program = bench_support::ExeDir() + "/tavcam";
    char view[] = "view", portFlag[] = "--port", zero[] = "0";
    char* argv[] = {&program[0], view, portFlag, zero, nullptr};
    const int rc = posix_spawn(&v->pid, program.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    v->out = pipeFds[0];
    if (rc != 0) return false;
    std::string line;
    while (ReadLine(v->out, &line, 30000))
        if (sscanf(line.c_str(), "serving http://127.0.0.1:%d/", &v->port) == 1) return true;
    return false;
}

void StopView(ViewProcess* v) {
    if (v->pid > 0) {
        kill(v->pid, SIGINT);
        int status;
        for (int i = 0; i < 100 && waitpid(v->pid, &status, WNOHANG) != v->pid; ++i) usleep(100000);
        if (kill(v->pid, 0) == 0) {
            kill(v->pid, SIGKILL);
            waitpid(v->pid, &status, 0);
        }
    }
    if (v->out >= 0) close(v->out);
}

// User and system time of a process, in seconds.
bool ProcessTimes(pid_t pid, double* user, double* system) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return false;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {  // fields 14 and 15: utime, stime
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    const double tick = (double)sysconf(_SC_CLK_TCK);
    *user = utime / tick;
    *system = stime / tick;
    return true;
}

// A viewer of the stream on a plain socket: counts the parts that come.
struct Viewer {
    int fd = -1;
    uint64_t parts = 0;
    std::string tail;  // the end of what came, for a boundary cut in two
    bool Open(int port) {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons((uint16_t)port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const std::string request = "GET /stream?camera=Cam-0 HTTP/1.1\r\nHost: bench\r\n\r\n";
        return fd >= 0 && connect(fd, (sockaddr*)&a, sizeof a) == 0 &&
               send(fd, request.data(), request.size(), MSG_NOSIGNAL) == (ssize_t)request.size();
    }
    // Reads until `until` (seconds on Now()); false when the stream ends.
    bool ReadUntil(double until) {
        static const std::string boundary = "--tavcamframe";
        char chunk[1 << 16];
        while (Now() < until) {
            pollfd p = {fd, POLLIN, 0};
            if (poll(&p, 1, 100) < 0) return false;
            if (!(p.revents & POLLIN)) continue;
            const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0) return false;
            std::string text = tail + std::string(chunk, (size_t)n);
            for (size_t at = text.find(boundary); at != std::string::npos;
                 at = text.find(boundary, at + boundary.size()))
                ++parts;
            const size_t keep = boundary.size() - 1;
            tail = text.size() > keep ? text.substr(text.size() - keep) : text;
        }
        return true;
    }
    ~Viewer() {
        if (fd >= 0) close(fd);
    }
};

void ViewRun(benchmark::State& state, bool colour) {
    const std::string devices = TempDir(), runtime = TempDir();
    sim::Server* server = sim::Start(devices);
    const int camera = server ? sim::Plug(server, Camera(colour)) : -1;
    ViewProcess view;
    if (camera < 0 || !StartView(devices, runtime, &view)) {
        state.SkipWithError("tavcam view did not start (built without it?)");
    } else {
        for (auto _ : state) {
            Viewer viewer;
            if (!viewer.Open(view.port) || !viewer.ReadUntil(Now() + 4)) {  // start, then warm up
                state.SkipWithError("no stream");
                break;
            }
            double user0, sys0, user1, sys1;
            uint64_t camera0 = 0, camera1 = 0;
            ProcessTimes(view.pid, &user0, &sys0);
            sim::Streaming(server, camera, &camera0);
            const uint64_t parts0 = viewer.parts;
            const double t0 = Now();
            if (!viewer.ReadUntil(t0 + g_seconds)) state.SkipWithError("the stream ended");
            const double t1 = Now();
            ProcessTimes(view.pid, &user1, &sys1);
            sim::Streaming(server, camera, &camera1);
            const double pictures = (double)(viewer.parts - parts0);
            const double cpu = (user1 - user0) + (sys1 - sys0);
            state.SetIterationTime(t1 - t0);
            state.counters["fps"] = pictures / (t1 - t0);
            state.counters["camera_fps"] = (double)(camera1 - camera0) / (t1 - t0);
            state.counters["cpu_ms_per_picture"] = pictures ? 1000 * cpu / pictures : 0;
            state.counters["user_ms"] = pictures ? 1000 * (user1 - user0) / pictures : 0;
            state.counters["sys_ms"] = pictures ? 1000 * (sys1 - sys0) / pictures : 0;
            state.counters["cores"] = cpu / (t1 - t0);
        }
    }
    StopView(&view);
    if (server) sim::Stop(server);
    std::error_code ignored;
    std::filesystem::remove_all(devices, ignored);
    std::filesystem::remove_all(runtime, ignored);
}

void BM_View640x480Grey(benchmark::State& state) {
    ViewRun(state, false);
}
void BM_View640x480Colour(benchmark::State& state) {
    ViewRun(state, true);
}

BENCHMARK(BM_View640x480Grey)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_View640x480Colour)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (strncmp(argv[i], "--seconds=", 10) == 0) g_seconds = atof(argv[i] + 10);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

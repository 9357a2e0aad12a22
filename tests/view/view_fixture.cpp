#include "view_fixture.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <chrono>
#include <regex>

#include "acquisition/convert/convert.h"

// ThreadSanitizer builds: the tests' HTTP client is cpp-httplib from
// Debian's package, built without the sanitizer, as the program's server is
// (see tools/tavcam/view/tsan_suppressions.cpp). Its client also keeps its
// regular expressions in static objects, made by the first thread that asks
// and read by the others after a check the sanitizer does not see.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VIEW_TESTS_THREAD_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_THREAD__) || defined(VIEW_TESTS_THREAD_SANITIZER)
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libcpp-httplib.so\nrace:std::__detail::_BracketMatcher\n";
}
#endif

namespace view_tests {

using process_tests::Client;

bool DecodeJpeg(const std::string& jpeg, Decoded* out) {
    tjhandle h = tjInitDecompress();
    if (!h) return false;
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    const auto* bytes = reinterpret_cast<const unsigned char*>(jpeg.data());
    bool ok = tjDecompressHeader3(h, bytes, jpeg.size(), &width, &height, &subsampling,
                                  &colourspace) == 0;
    if (ok) {
        out->width = width;
        out->height = height;
        out->channels = colourspace == TJCS_GRAY ? 1 : 3;
        out->pixels.assign((size_t)width * height * out->channels, 0);
        ok = tjDecompress2(h, bytes, jpeg.size(), out->pixels.data(), width, 0, height,
                           out->channels == 1 ? TJPF_GRAY : TJPF_BGR, TJFLAG_BOTTOMUP) == 0;
    }
    tjDestroy(h);
    return ok;
}

double MeanDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) return 1e9;
    uint64_t sum = 0;
    for (size_t i = 0; i < a.size(); ++i) sum += (uint64_t)std::abs((int)a[i] - (int)b[i]);
    return (double)sum / (double)a.size();
}

std::vector<uint8_t> UpsideDown(const std::vector<uint8_t>& picture, size_t lines) {
    std::vector<uint8_t> flipped(picture.size());
    const size_t line = picture.size() / lines;
    for (size_t y = 0; y < lines; ++y)
        std::copy_n(picture.begin() + (lines - 1 - y) * line, line, flipped.begin() + y * line);
    return flipped;
}

// ---- StreamViewer

StreamViewer::StreamViewer(int port, const std::string& camera)
    : thread_(&StreamViewer::Run, this, port, camera) {}

StreamViewer::~StreamViewer() {
    Leave();
    thread_.join();
}

void StreamViewer::Run(int port, std::string camera) {
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(5, 0);
    client.set_read_timeout(10, 0);
    client.Get(("/stream?camera=" + camera).c_str(), httplib::Headers{},
               [this](const httplib::Response& r) {
                   std::lock_guard<std::mutex> hold(lock_);
                   status_ = r.status;
                   changed_.notify_all();
                   return true;
               },
               [this](const char* data, size_t n) {
                   std::lock_guard<std::mutex> hold(lock_);
                   if (leave_) return false;
                   buffer_.append(data, n);
                   for (;;) {  // the parts that came whole
                       const size_t head = buffer_.find("Content-Length: ");
                       const size_t end = buffer_.find("\r\n\r\n", head);
                       if (head == std::string::npos || end == std::string::npos) break;
                       const size_t size = std::stoul(buffer_.substr(head + 16, end - head - 16));
                       if (buffer_.size() < end + 4 + size) break;
                       last_ = buffer_.substr(end + 4, size);
                       buffer_.erase(0, end + 4 + size);
                       ++parts_;
                   }
                   changed_.notify_all();
                   return true;
               });
    std::lock_guard<std::mutex> hold(lock_);
    ended_ = true;
    changed_.notify_all();
}

bool StreamViewer::WaitParts(int n, int ms) {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, std::chrono::milliseconds(ms), [&] {
        return parts_ >= n || ended_;
    }) && parts_ >= n;
}

int StreamViewer::Parts() {
    std::lock_guard<std::mutex> hold(lock_);
    return parts_;
}

std::string StreamViewer::LastJpeg() {
    std::lock_guard<std::mutex> hold(lock_);
    return last_;
}

void StreamViewer::Leave() {
    std::lock_guard<std::mutex> hold(lock_);
    leave_ = true;
}

bool StreamViewer::WaitEnded(int ms) {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, std::chrono::milliseconds(ms), [&] { return ended_; });
}

int StreamViewer::Status() {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait_for(hold, std::chrono::seconds(30), [&] { return status_ != 0 || ended_; });
    return status_;
}

// ---- ViewTest

void ViewTest::SetUp() {
    if (access((testing_support::BinDir() + "/tavcam").c_str(), X_OK) != 0)
        GTEST_SKIP() << "no tavcam program";
    deviceDir = devices_.path;
    server_ = sim::Start(devices_.path);
    ASSERT_NE(server_, nullptr);
}

void ViewTest::TearDown() {
    LibraryProcesses::TearDown();
    if (server_) sim::Stop(server_);
}

void ViewTest::PlugCamera(int k) {
    sim::Profile p =
        sim::MakeProfile(sim::Model::LongLayout, "Cam", "cam" + std::to_string(k) + ".sock");
    p.repeatImages = 1;
    seeds_[k] = p.seed;
    cameras_[k] = sim::Plug(server_, p);
    ASSERT_GE(cameras_[k], 0);
}

void ViewTest::StartView(const std::vector<std::string>& extra) {
    std::vector<std::string> args = {"view", "--port", "0"};
    args.insert(args.end(), extra.begin(), extra.end());
    clients.emplace_back();
    view_ = &clients.back();
    ASSERT_TRUE(process_tests::StartClient(runtime.path, view_, args, deviceDir, "tavcam"));
    const std::regex serving("^serving http://127\\.0\\.0\\.1:([0-9]+)/$");
    for (int i = 0; i < 10 && !port_; ++i) {
        std::string line = process_tests::ReadLine(*view_, 30000);
        if (line.empty()) break;
        startLines_.push_back(line);
        std::smatch m;
        if (std::regex_match(line, m, serving)) port_ = std::stoi(m[1]);
    }
    ASSERT_GT(port_, 0) << ::testing::PrintToString(startLines_);
}

static Answer ToAnswer(const httplib::Result& r) {
    Answer a;
    if (!r) return a;
    a.status = r->status;
    a.body = r->body;
    a.type = r->get_header_value("Content-Type");
    a.disposition = r->get_header_value("Content-Disposition");
    return a;
}

Answer ViewTest::Get(const std::string& path) {
    httplib::Client c("127.0.0.1", port_);
    c.set_read_timeout(40, 0);
    return ToAnswer(c.Get(path.c_str()));
}

Answer ViewTest::Post(const std::string& path, const std::string& body) {
    httplib::Client c("127.0.0.1", port_);
    c.set_read_timeout(40, 0);
    return ToAnswer(c.Post(path.c_str(), body, "application/x-www-form-urlencoded"));
}

std::string ViewTest::RawRequest(const std::string& bytes) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons((uint16_t)port_);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string line;
    if (fd >= 0 && connect(fd, (sockaddr*)&a, sizeof a) == 0 &&
        send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == (ssize_t)bytes.size()) {
        for (;;) {
            pollfd p = {fd, POLLIN, 0};
            char c;
            if (poll(&p, 1, 5000) <= 0 || recv(fd, &c, 1, 0) != 1 || c == '\r') break;
            line += c;
        }
    }
    if (fd >= 0) close(fd);
    return line;
}

std::vector<uint8_t> ViewTest::ExpectedPicture(int k, bool colour) {
    const uint32_t width = 320, height = 240;
    sim::FrameSpec spec;
    spec.seed = seeds_[k];
    spec.frameNumber = 0;
    spec.width = width;
    spec.linesPlus4 = height + 4;
    spec.bytesPerPixel = 1;
    spec.cameraModel = 2;
    const std::vector<uint8_t> frame = sim::MakeFrame(spec);
    std::vector<uint8_t> picture((size_t)width * height * (colour ? 3 : 1));
    if (colour)
        tav::BayerToBGR24(frame.data() + 2 * width, picture.data(), width, height);
    else
        tav::MonoCopy8(frame.data() + 2 * width, picture.data(), width, height);
    return picture;
}

bool ViewTest::Streaming(int k) {
    uint64_t frames = 0;
    return sim::Streaming(server_, cameras_[k], &frames);
}

long long ViewTest::Field(const std::string& json, const std::string& key) {
    std::smatch m;
    if (!std::regex_search(json, m, std::regex("\"" + key + "\":(-?[0-9]+)"))) return -1;
    return std::stoll(m[1]);
}

}  // namespace view_tests

// The fixture of the view tests: simulated cameras served from this process
// on a private device directory, `tavcam view --port 0` started against them
// in a private namespace of the library's objects, and HTTP clients of it.
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "process_fixture.h"
#include "sim/sim.h"

namespace view_tests {

// An answer of the view.
struct Answer {
    int status = 0;  // 0: no answer
    std::string body;
    std::string type;
    std::string disposition;
};

// A picture decoded from a JPEG, bottom-up like the library's pictures.
struct Decoded {
    int width = 0, height = 0, channels = 0;  // 1 grey, 3 blue-green-red
    std::vector<uint8_t> pixels;
};
bool DecodeJpeg(const std::string& jpeg, Decoded* out);

// Mean absolute difference of two pictures of the same size, per byte.
double MeanDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);
// The picture with its lines in the other order.
std::vector<uint8_t> UpsideDown(const std::vector<uint8_t>& picture, size_t lines);

// A viewer of one camera's live stream, reading parts on a thread of its own.
class StreamViewer {
  public:
    StreamViewer(int port, const std::string& camera);
    ~StreamViewer();
    // Waits until at least n parts have come; false after ms.
    bool WaitParts(int n, int ms);
    int Parts();
    std::string LastJpeg();
    // Goes away mid-stream: the connection is closed at the next bytes that come.
    void Leave();
    // Waits until the response has ended; false after ms.
    bool WaitEnded(int ms);
    int Status();  // of the response, once its head has come

  private:
    void Run(int port, std::string camera);
    std::mutex lock_;
    std::condition_variable changed_;
    std::string buffer_, last_;
    int parts_ = 0, status_ = 0;
    bool leave_ = false, ended_ = false;
    std::thread thread_;
};

class ViewTest : public process_tests::LibraryProcesses {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Plugs camera k ("camK.sock", a long-layout camera named Cam whose first
    // format is 8-bit grey and partial, the second colour and fixed); every
    // frame shows the same image, that of frame 0.
    void PlugCamera(int k);

    // Starts tavcam view --port 0 with the extra arguments, and reads its
    // first lines up to the address it serves.
    void StartView(const std::vector<std::string>& extra = {});

    Answer Get(const std::string& path);
    Answer Post(const std::string& path, const std::string& body = "");
    // What a raw request over a connection of its own gets back (its first line).
    std::string RawRequest(const std::string& bytes);

    // The picture camera k sends, as the library delivers it in format 0
    // (grey) or format 1 (colour), for comparison with the live picture.
    std::vector<uint8_t> ExpectedPicture(int k, bool colour);

    bool Streaming(int k);
    // A number field of a JSON answer; -1 when missing.
    static long long Field(const std::string& json, const std::string& key);

    testing_support::TempDir devices_;
    sim::Server* server_ = nullptr;
    int cameras_[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
    uint32_t seeds_[8] = {};
    process_tests::Client* view_ = nullptr;
    std::vector<std::string> startLines_;  // what the view printed before serving
    int port_ = 0;
};

}  // namespace view_tests

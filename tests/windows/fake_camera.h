// A camera server for the Windows tests, on loopback TCP inside the test
// process: it speaks the camera socket protocol, logs every request's bytes
// exactly as received and answers each with success and the output capacity
// asked for (at most 4096 bytes) of 0xA5, unless told otherwise. Enough for
// the library's enumeration, its presence probe and the transport's rules;
// the camera's behaviour itself is tested against the simulator on POSIX and
// end to end under Wine against tavcam-camsim.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace windows_tests {

class FakeCamera {
  public:
    FakeCamera();
    ~FakeCamera();
    unsigned short Port() const { return port_; }
    // Every request received so far, header and input as they came.
    std::vector<std::vector<uint8_t>> Requests();
    int Connections() const { return connections_.load(); }
    // The next request answers failure with this error.
    void FailNext(uint32_t error) { failNext_.store(error); }
    // The next request closes its connection unanswered.
    void DropNext() { dropNext_.store(true); }
    // Stream reads (0x222082) are never answered while this holds.
    void HoldStreamReads(bool hold) { holdStream_.store(hold); }

  private:
    void Accept();
    void Serve(SOCKET s);
    SOCKET listen_ = INVALID_SOCKET;
    unsigned short port_ = 0;
    std::thread acceptThread_;
    std::mutex lock_;
    std::vector<std::thread> servers_;
    std::vector<SOCKET> sockets_;
    std::vector<std::vector<uint8_t>> requests_;
    std::atomic<int> connections_{0};
    std::atomic<uint32_t> failNext_{0};
    std::atomic<bool> dropNext_{false};
    std::atomic<bool> holdStream_{false};
    std::atomic<bool> stopping_{false};
};

// Writes dir\name holding `contents`, through a temporary name, so that a
// watcher never sees it half written.
bool WriteCameraFile(const std::string& dir, const std::string& name, const std::string& contents);

}  // namespace windows_tests

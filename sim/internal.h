// The simulator's inner pieces, shared by its source files.
#pragma once

#include <stdint.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/sim.h"

namespace sim {

// Driver requests and their codes.
constexpr uint32_t kReadReply = 0x22204C;
constexpr uint32_t kSendRequest = 0x222050;
constexpr uint32_t kStartStream = 0x222078;
constexpr uint32_t kStopStream = 0x22207C;
constexpr uint32_t kReadStream = 0x222082;

// Protocol limits of one request message.
constexpr uint32_t kMaxInput = 65536;
constexpr uint32_t kMaxOutput = 268435456;

// Windows error numbers the camera server answers with.
constexpr uint32_t kErrInvalidFunction = 1;
constexpr uint32_t kErrGenFailure = 31;
constexpr uint32_t kErrInvalidParameter = 87;
constexpr uint32_t kErrInsufficientBuffer = 122;
constexpr uint32_t kErrOperationAborted = 995;

constexpr uint32_t kReplyBytes = 64;
constexpr int kPages = 3;

inline uint32_t GetLE32(const uint8_t* p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}
inline void PutLE32(uint8_t* p, uint32_t v) {
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
    p[2] = (uint8_t)(v >> 16);
    p[3] = (uint8_t)(v >> 24);
}
inline uint16_t GetBE16(const uint8_t* p) {
    return (uint16_t)(p[0] << 8 | p[1]);
}

// What one request gets back.
struct Reply {
    bool ok = false;
    uint32_t error = 0;
    std::vector<uint8_t> data;
    bool drop = false;    // close the connection without an answer
    bool silent = false;  // no answer; the connection stays open until the client hangs up
};

inline Reply Fail(uint32_t error) {
    Reply r;
    r.error = error;
    return r;
}

// State the driver keeps per open handle.
struct ConnectionState {
    uint8_t reply[kReplyBytes] = {};  // answer to this handle's last query
    int tableLoading = -1;            // table number being uploaded, or -1
};

struct Connection {
    int fd = -1;
    std::thread thread;
    std::atomic<bool> done{false};
    ConnectionState state;
};

struct RegValue {
    uint16_t value = 0;
    uint16_t third = 0;
};

struct FlashSession {
    bool active = false;
    bool ready = false;  // a status poll answered the page number
    uint8_t page = 0;
    uint32_t busyPollsLeft = 0;
    std::vector<uint8_t> pending;  // the page being written, erased at begin
};

struct StreamGeometry {
    uint32_t width = 0;
    uint32_t linesPlus4 = 0;
    uint32_t bytesPerPixel = 1;
    uint32_t framesPerTransfer = 1;
    size_t FrameBytes() const { return (size_t)width * linesPlus4 * bytesPerPixel; }
    size_t TransferBytes() const { return FrameBytes() * framesPerTransfer; }
};

struct StreamState {
    bool running = false;
    uint64_t generation = 0;  // changes at every start and stop
    StreamGeometry geometry;
    uint64_t nextFrame = 0;  // number of the next frame to deliver
    int64_t nextDueUs = 0;   // steady-clock time the next transfer is ready
    bool gated = false;      // transfers wait for an allowance (GateTransfers)
    uint32_t allowance = 0;
    uint32_t readsAtGate = 0;  // stream reads waiting for an allowance
};

struct FaultEntry {
    Fault fault;
    uint32_t code;
    uint32_t remaining;
    uint32_t skip;  // matching requests still to let pass
};

struct Server;

struct Camera {
    Server* server = nullptr;
    int number = 0;
    Profile profile;
    uint32_t model = 0;
    std::string path;

    std::mutex mu;  // everything below
    std::condition_variable streamWake;
    bool plugged = false;
    std::vector<uint8_t> pages[kPages];
    std::map<uint16_t, RegValue> registers;
    std::map<uint16_t, uint16_t> onOff;
    std::map<uint16_t, uint16_t> autoFeature;
    std::map<uint16_t, uint16_t> i2c;  // address << 8 | register
    std::map<uint8_t, std::vector<uint8_t>> tables;
    uint32_t fifoResets[2] = {0, 0};
    uint32_t busyStatus = 0;
    uint32_t framesPerSecond = 30;
    FlashSession flash;
    StreamState stream;
    // Rendered frames of a profile with repeatImages, for one geometry; used
    // by the stream read after it let go of mu, under cacheMu.
    std::mutex cacheMu;
    StreamGeometry cacheGeometry;
    std::vector<std::vector<uint8_t>> frameCache;
    std::vector<FaultEntry> faults;
    AnswerHook answerHook = nullptr;  // SetAnswerHook
    void* answerContext = nullptr;
    std::vector<Request> log;
    std::vector<uint64_t> logIds;  // log[i] is request logIds[i]
    uint64_t nextLogId = 0;

    // Listening and connections (the socket side).
    int listenFd = -1;
    int wakePipe[2] = {-1, -1};
    std::thread acceptThread;
    std::vector<std::unique_ptr<Connection>> connections;  // under mu
    // Connections of an unplug that happened on a connection thread (the
    // Unplug fault), joined by the next Unplug, PlugBack or Stop. Under mu.
    std::vector<std::unique_ptr<Connection>> retired;
};

struct Server {
    std::string dir;
    std::string stateFile;
    bool tcp = false;  // cameras plugged from now on are served over loopback TCP
    std::atomic<uint64_t (*)()> clock{nullptr};
    std::mutex camerasMu;
    std::vector<std::unique_ptr<Camera>> cameras;

    // Flash pages as kept in the state file, by socket name (cameras of
    // earlier runs that aren't plugged now are kept too). Lock order:
    // Camera::mu before stateMu.
    std::mutex stateMu;
    std::map<std::string, std::vector<std::vector<uint8_t>>> persisted;
};

// firmware.cpp: one request of a connection to a camera.
Reply HandleRequest(Camera* cam, ConnectionState* conn, uint32_t code,
                    const std::vector<uint8_t>& input, uint32_t outCapacity);
// Consumes one count of a matching fault; true when one applied.
bool TakeFault(Camera* cam, Fault fault, uint32_t code);
// The faults that leave a request without an answer (Unplug, DropConnection,
// NoAnswer), cam->mu held: true when one applied and *reply says which.
bool TakeAnswerAway(Camera* cam, uint32_t code, Reply* reply);
// Power-up state of a camera's controller (flash and log excepted).
void ResetController(Camera* cam);

// stream.cpp
Reply StartStream(Camera* cam, const std::vector<uint8_t>& input);
Reply StopStream(Camera* cam);
Reply ReadStream(Camera* cam, uint32_t outCapacity);  // may block

// state_file.cpp
bool LoadState(const std::string& file,
               std::map<std::string, std::vector<std::vector<uint8_t>>>* out);
bool SaveState(const std::string& file,
               const std::map<std::string, std::vector<std::vector<uint8_t>>>& pages);
// Records a camera's pages and rewrites the state file (cam->mu held).
void PersistPages(Camera* cam);

// server.cpp
uint64_t NowMs(Server* server);
// Unplugs the camera without waiting for its threads (cam->mu held): the
// socket file goes and every connection breaks. Safe on a connection thread.
void DisconnectLocked(Camera* cam);

// tcp_transport.cpp: the loopback-TCP transport (UseLoopbackTcp).
// "cam0.sock" -> "cam0.tcp"; a name without ".sock" stays as it is.
std::string TcpFileName(const std::string& socketName);
// Listens on 127.0.0.1 at a port of the system's choice and then writes
// dir/fileName holding "127.0.0.1:PORT"; the listening descriptor, or -1.
int ListenLoopbackTcp(const std::string& dir, const std::string& fileName);
// Options of an accepted connection (no delay for small writes).
void TuneTcpConnection(int fd);

}  // namespace sim

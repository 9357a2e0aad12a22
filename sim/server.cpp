// The camera server: one listening Unix socket per plugged camera, one thread
// per camera accepting connections and one thread per connection serving its
// requests in order; the request log; the calls tests use to look at and
// change a camera.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "sim/internal.h"

namespace sim {
namespace {

// The log keeps this many requests per camera; past it the older half goes
// (a long-running tavcam-camsim streaming for hours stays bounded).
constexpr size_t kLogLimit = 200000;

bool ReadFull(int fd, void* data, size_t size) {
    uint8_t* p = static_cast<uint8_t*>(data);
    while (size > 0) {
        ssize_t n = recv(fd, p, size, 0);
        if (n > 0) {
            p += n;
            size -= (size_t)n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}

bool WriteFull(int fd, const void* data, size_t size) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        ssize_t n = send(fd, p, size, MSG_NOSIGNAL);
        if (n > 0) {
            p += n;
            size -= (size_t)n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}

void MakeDirs(const std::string& dir) {
    for (size_t i = 1; i <= dir.size(); ++i) {
        if (i == dir.size() || dir[i] == '/') mkdir(dir.substr(0, i).c_str(), 0700);
    }
}

Camera* Find(Server* server, int camera) {
    if (!server) return nullptr;
    std::lock_guard<std::mutex> guard(server->camerasMu);
    if (camera < 0 || (size_t)camera >= server->cameras.size()) return nullptr;
    return server->cameras[(size_t)camera].get();
}

uint64_t AppendLog(Camera* cam, uint32_t code, const std::vector<uint8_t>& in, uint32_t m) {
    Request r;
    r.timeMs = NowMs(cam->server);
    r.code = code;
    r.input = in;
    r.outCapacity = m;
    r.ok = false;
    r.bytesReturned = 0;
    std::lock_guard<std::mutex> guard(cam->mu);
    if (cam->log.size() >= kLogLimit) {
        cam->log.erase(cam->log.begin(), cam->log.begin() + kLogLimit / 2);
        cam->logIds.erase(cam->logIds.begin(), cam->logIds.begin() + kLogLimit / 2);
    }
    uint64_t id = cam->nextLogId++;
    cam->log.push_back(std::move(r));
    cam->logIds.push_back(id);
    return id;
}

void CompleteLog(Camera* cam, uint64_t id, const Reply& reply) {
    std::lock_guard<std::mutex> guard(cam->mu);
    for (size_t i = cam->logIds.size(); i-- > 0;) {
        if (cam->logIds[i] == id) {
            cam->log[i].ok = reply.ok && !reply.drop;
            cam->log[i].bytesReturned = reply.drop ? 0 : (uint32_t)reply.data.size();
            return;
        }
        if (cam->logIds[i] < id) return;  // cleared meanwhile
    }
}

// A request the camera doesn't answer: the connection stays silent until the
// client hangs up (its time-out) or the camera is unplugged (which shuts the
// connection down). Either ends the connection.
void StaySilent(Camera* cam, Connection* conn) {
    for (;;) {
        struct pollfd p = {conn->fd, POLLIN | POLLRDHUP, 0};
        int n = poll(&p, 1, 100);
        if (n < 0 && errno != EINTR) return;
        if (n > 0) return;  // hung up, shut down, or (against the protocol) more bytes
        std::lock_guard<std::mutex> guard(cam->mu);
        if (!cam->plugged) return;
    }
}

// The answer hook's view of a reply, and back.
void ApplyAnswerHook(Camera* cam, uint32_t code, const std::vector<uint8_t>& input, Reply* reply) {
    AnswerHook hook;
    void* context;
    {
        std::lock_guard<std::mutex> guard(cam->mu);
        hook = cam->answerHook;
        context = cam->answerContext;
    }
    if (!hook) return;
    Answer answer{reply->ok, std::move(reply->data)};
    hook(code, input, &answer, context);
    reply->ok = answer.ok;
    reply->data = std::move(answer.data);
    if (!reply->ok && reply->error == 0) reply->error = kErrGenFailure;
    if (reply->ok) reply->error = 0;
}

void Serve(Camera* cam, Connection* conn) {
    for (;;) {
        uint8_t header[12];
        if (!ReadFull(conn->fd, header, sizeof(header))) break;
        const uint32_t code = GetLE32(header);
        const uint32_t n = GetLE32(header + 4);
        const uint32_t m = GetLE32(header + 8);
        if (n > kMaxInput || m > kMaxOutput) break;  // breaks the protocol: close
        std::vector<uint8_t> input(n);
        if (n > 0 && !ReadFull(conn->fd, input.data(), n)) break;
        const uint64_t id = AppendLog(cam, code, input, m);
        Reply reply = HandleRequest(cam, &conn->state, code, input, m);
        if (!reply.drop && !reply.silent) ApplyAnswerHook(cam, code, input, &reply);
        if (reply.data.size() > m) reply.data.resize(m);
        CompleteLog(cam, id, reply);
        if (reply.silent) StaySilent(cam, conn);
        if (reply.drop || reply.silent) break;
        uint8_t answer[12];
        PutLE32(answer, reply.ok ? 1 : 0);
        PutLE32(answer + 4, (uint32_t)reply.data.size());
        PutLE32(answer + 8, reply.ok ? 0 : reply.error);
        if (!WriteFull(conn->fd, answer, sizeof(answer))) break;
        if (!reply.data.empty() && !WriteFull(conn->fd, reply.data.data(), reply.data.size()))
            break;
    }
    // The fd is closed by whoever joins this thread, so an Unplug racing with
    // the end of the connection never shuts down a reused descriptor.
    shutdown(conn->fd, SHUT_RDWR);
    conn->done = true;
}

void JoinConnections(std::vector<std::unique_ptr<Connection>>& list) {
    for (auto& c : list) {
        if (c->thread.joinable()) c->thread.join();
        if (c->fd >= 0) close(c->fd);
    }
    list.clear();
}

void AcceptLoop(Camera* cam) {
    for (;;) {
        struct pollfd p[2] = {{cam->listenFd, POLLIN, 0}, {cam->wakePipe[0], POLLIN, 0}};
        int n = poll(p, 2, -1);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (p[1].revents) return;  // unplugged
        if (!(p[0].revents & POLLIN)) continue;
        int fd = accept4(cam->listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        if (cam->server->tcp) TuneTcpConnection(fd);
        std::vector<std::unique_ptr<Connection>> finished;
        std::lock_guard<std::mutex> guard(cam->mu);
        if (!cam->plugged) {
            close(fd);
            return;
        }
        // Finished connections are joined as new ones come, so the list stays short.
        for (size_t i = 0; i < cam->connections.size();) {
            if (cam->connections[i]->done) {
                finished.push_back(std::move(cam->connections[i]));
                cam->connections.erase(cam->connections.begin() + (long)i);
            } else {
                ++i;
            }
        }
        auto conn = std::make_unique<Connection>();
        conn->fd = fd;
        Connection* raw = conn.get();
        cam->connections.push_back(std::move(conn));
        raw->thread = std::thread(Serve, cam, raw);
        JoinConnections(finished);  // done threads: returns at once
    }
}

// Makes the camera's socket file appear, listening, in one step: the socket
// is bound under a hidden temporary name and renamed into place.
int ListenUnixSocket(Camera* cam) {
    struct sockaddr_un addr;
    const std::string dir = cam->server->dir;
    const std::string temp = dir + "/." + cam->profile.socketName + ".tmp";
    if (temp.size() >= sizeof(addr.sun_path) || cam->path.size() >= sizeof(addr.sun_path))
        return -1;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    memset(&addr, 0, sizeof(addr));
    addr.sun_family = AF_UNIX;
    memcpy(addr.sun_path, temp.c_str(), temp.size() + 1);
    unlink(temp.c_str());
    if (bind(fd, (struct sockaddr*)&addr, sizeof(addr)) != 0 || listen(fd, 64) != 0 ||
        rename(temp.c_str(), cam->path.c_str()) != 0) {
        unlink(temp.c_str());
        close(fd);
        return -1;
    }
    return fd;
}

bool OpenSocket(Camera* cam) {
    int fd = cam->server->tcp
                 ? ListenLoopbackTcp(cam->server->dir, TcpFileName(cam->profile.socketName))
                 : ListenUnixSocket(cam);
    if (fd < 0) return false;
    if (pipe2(cam->wakePipe, O_CLOEXEC) != 0) {
        unlink(cam->path.c_str());
        close(fd);
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(cam->mu);
        cam->listenFd = fd;
        cam->plugged = true;
    }
    cam->acceptThread = std::thread(AcceptLoop, cam);
    return true;
}

// Joins what an unplug left behind: the accept thread, the connections'
// threads, the listening socket and the wake pipe. Not on the camera's own
// threads; the camera is unplugged.
void Reap(Camera* cam) {
    std::vector<std::unique_ptr<Connection>> conns;
    {
        std::lock_guard<std::mutex> guard(cam->mu);
        conns.swap(cam->retired);
    }
    if (cam->acceptThread.joinable()) cam->acceptThread.join();
    JoinConnections(conns);
    for (int* fd : {&cam->listenFd, &cam->wakePipe[0], &cam->wakePipe[1]}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
}

void CloseSocket(Camera* cam) {
    {
        std::lock_guard<std::mutex> guard(cam->mu);
        DisconnectLocked(cam);
    }
    Reap(cam);
}

std::vector<uint8_t> PageImage(const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> page(kFlashPageBytes, 0xFF);
    std::copy(bytes.begin(), bytes.begin() + (long)std::min(bytes.size(), page.size()),
              page.begin());
    return page;
}

}  // namespace

void DisconnectLocked(Camera* cam) {
    if (!cam->plugged) return;
    cam->plugged = false;
    unlink(cam->path.c_str());  // the camera leaves
    char wake = 1;
    ssize_t ignored = write(cam->wakePipe[1], &wake, 1);
    (void)ignored;
    for (auto& c : cam->connections) shutdown(c->fd, SHUT_RDWR);
    for (auto& c : cam->connections) cam->retired.push_back(std::move(c));
    cam->connections.clear();
    cam->stream.running = false;
    ++cam->stream.generation;
    cam->streamWake.notify_all();
}

uint64_t NowMs(Server* server) {
    uint64_t (*clock)() = server->clock.load();
    if (clock) return clock();
    return (uint64_t)std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

Server* Start(const std::string& deviceDir, const std::string& stateFile) {
    if (deviceDir.empty()) return nullptr;
    MakeDirs(deviceDir);
    struct stat st;
    if (stat(deviceDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return nullptr;
    Server* server = new Server;
    server->dir = deviceDir;
    while (server->dir.size() > 1 && server->dir.back() == '/') server->dir.pop_back();
    server->stateFile = stateFile;
    // A missing or damaged state file leaves every camera with its profile's flash.
    if (!stateFile.empty()) LoadState(stateFile, &server->persisted);
    return server;
}

void Stop(Server* server) {
    if (!server) return;
    std::vector<Camera*> cams;
    {
        std::lock_guard<std::mutex> guard(server->camerasMu);
        for (auto& c : server->cameras) cams.push_back(c.get());
    }
    for (Camera* cam : cams) CloseSocket(cam);
    delete server;
}

void UseLoopbackTcp(Server* server) {
    if (server) server->tcp = true;
}

int Plug(Server* server, const Profile& profile) {
    if (!server || profile.socketName.empty() || profile.socketName.find('/') != std::string::npos)
        return -1;
    auto cam = std::make_unique<Camera>();
    cam->server = server;
    cam->profile = profile;
    cam->model = ProfileModel(profile);
    cam->path =
        server->dir + "/" + (server->tcp ? TcpFileName(profile.socketName) : profile.socketName);
    cam->busyStatus = profile.busyStatus;
    cam->framesPerSecond = profile.framesPerSecond;
    {
        std::lock_guard<std::mutex> guard(server->stateMu);
        auto it = server->persisted.find(profile.socketName);
        if (it != server->persisted.end()) {
            for (int p = 0; p < kPages; ++p) cam->pages[p] = it->second[(size_t)p];
        } else {
            cam->pages[0] = PageImage(profile.page0);
            cam->pages[1] = PageImage(profile.page1);
            cam->pages[2] = PageImage({});
        }
    }
    Camera* raw = cam.get();
    {
        std::lock_guard<std::mutex> guard(server->camerasMu);
        for (auto& other : server->cameras) {
            std::lock_guard<std::mutex> g(other->mu);
            if (other->plugged && other->path == raw->path) return -1;
        }
        raw->number = (int)server->cameras.size();
        server->cameras.push_back(std::move(cam));
    }
    if (!OpenSocket(raw)) return -1;  // the camera stays in the list, unplugged
    return raw->number;
}

void Unplug(Server* server, int camera) {
    if (Camera* cam = Find(server, camera)) CloseSocket(cam);
}

void PlugBack(Server* server, int camera) {
    Camera* cam = Find(server, camera);
    if (!cam) return;
    {
        // Another camera plugged meanwhile under the same socket name keeps it.
        std::lock_guard<std::mutex> guard(server->camerasMu);
        for (auto& other : server->cameras) {
            if (other.get() == cam) continue;
            std::lock_guard<std::mutex> g(other->mu);
            if (other->plugged && other->path == cam->path) return;
        }
    }
    {
        std::lock_guard<std::mutex> guard(cam->mu);
        if (cam->plugged) return;
        ResetController(cam);  // powered up afresh; the flash keeps its pages
    }
    Reap(cam);  // an unplug on a connection thread left its threads to join
    OpenSocket(cam);
}

std::string SocketPath(Server* server, int camera) {
    Camera* cam = Find(server, camera);
    return cam ? cam->path : std::string();
}

std::vector<Request> Log(Server* server, int camera) {
    Camera* cam = Find(server, camera);
    if (!cam) return {};
    std::lock_guard<std::mutex> guard(cam->mu);
    return cam->log;
}

void ClearLog(Server* server, int camera) {
    Camera* cam = Find(server, camera);
    if (!cam) return;
    std::lock_guard<std::mutex> guard(cam->mu);
    cam->log.clear();
    cam->logIds.clear();
}

void SetClock(Server* server, uint64_t (*nowMs)()) {
    if (server) server->clock.store(nowMs);
}

std::vector<uint8_t> Flash(Server* server, int camera, int page) {
    Camera* cam = Find(server, camera);
    if (!cam || page < 0 || page >= kPages) return {};
    std::lock_guard<std::mutex> guard(cam->mu);
    return cam->pages[page];
}

void SetFlash(Server* server, int camera, int page, const std::vector<uint8_t>& bytes) {
    Camera* cam = Find(server, camera);
    if (!cam || page < 0 || page >= kPages) return;
    std::lock_guard<std::mutex> guard(cam->mu);
    cam->pages[page] = PageImage(bytes);
    PersistPages(cam);
}

bool Register(Server* server, int camera, uint16_t address, uint16_t* value) {
    Camera* cam = Find(server, camera);
    if (!cam) return false;
    std::lock_guard<std::mutex> guard(cam->mu);
    auto it = cam->registers.find(address);
    if (it == cam->registers.end()) return false;
    if (value) *value = it->second.value;
    return true;
}

void SetRegister(Server* server, int camera, uint16_t address, uint16_t value) {
    Camera* cam = Find(server, camera);
    if (!cam) return;
    std::lock_guard<std::mutex> guard(cam->mu);
    cam->registers[address] = {value, 0};
}

static bool Lookup(Server* server, int camera, std::map<uint16_t, uint16_t> Camera::*field,
                   uint16_t key, uint16_t* value) {
    Camera* cam = Find(server, camera);
    if (!cam) return false;
    std::lock_guard<std::mutex> guard(cam->mu);
    auto& map = cam->*field;
    auto it = map.find(key);
    if (it == map.end()) return false;
    if (value) *value = it->second;
    return true;
}

bool OnOffFeature(Server* server, int camera, uint16_t feature, uint16_t* value) {
    return Lookup(server, camera, &Camera::onOff, feature, value);
}

bool AutoFeature(Server* server, int camera, uint16_t feature, uint16_t* value) {
    return Lookup(server, camera, &Camera::autoFeature, feature, value);
}

bool I2CRegister(Server* server, int camera, uint8_t address, uint8_t reg, uint16_t* value) {
    return Lookup(server, camera, &Camera::i2c, (uint16_t)(address << 8 | reg), value);
}

std::vector<uint8_t> Table(Server* server, int camera, uint8_t number) {
    Camera* cam = Find(server, camera);
    if (!cam) return {};
    std::lock_guard<std::mutex> guard(cam->mu);
    auto it = cam->tables.find(number);
    return it == cam->tables.end() ? std::vector<uint8_t>() : it->second;
}

uint32_t FifoResets(Server* server, int camera, uint8_t flag) {
    Camera* cam = Find(server, camera);
    if (!cam) return 0;
    std::lock_guard<std::mutex> guard(cam->mu);
    return cam->fifoResets[flag ? 1 : 0];
}

bool Streaming(Server* server, int camera, uint64_t* framesDelivered) {
    Camera* cam = Find(server, camera);
    if (!cam) return false;
    std::lock_guard<std::mutex> guard(cam->mu);
    if (framesDelivered) *framesDelivered = cam->stream.nextFrame;
    return cam->stream.running;
}

void SetFramesPerSecond(Server* server, int camera, uint32_t framesPerSecond) {
    Camera* cam = Find(server, camera);
    if (!cam) return;
    std::lock_guard<std::mutex> guard(cam->mu);
    cam->framesPerSecond = framesPerSecond;
    cam->streamWake.notify_all();
}

void GateTransfers(Server* server, int camera, bool gated) {
    Camera* cam = Find(server, camera);
    if (!cam) return;
    std::lock_guard<std::mutex> guard(cam->mu);
    cam->stream.gated = gated;
    cam->stream.allowance = 0;
    cam->streamWake.notify_all();
}

void AllowTransfers(Server* server, int camera, uint32_t count) {
    Camera* cam = Find(server, camera);
    if (!cam) return;
    std::lock_guard<std::mutex> guard(cam->mu);
    cam->stream.allowance += count;
    cam->streamWake.notify_all();
}

bool WaitForReadAtGate(Server* server, int camera, uint32_t timeoutMs) {
    Camera* cam = Find(server, camera);
    if (!cam) return false;
    std::unique_lock<std::mutex> lock(cam->mu);
    return cam->streamWake.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return cam->stream.readsAtGate > 0 && cam->stream.allowance == 0;
    });
}

void SetBusyStatus(Server* server, int camera, uint32_t status) {
    Camera* cam = Find(server, camera);
    if (!cam) return;
    std::lock_guard<std::mutex> guard(cam->mu);
    cam->busyStatus = status;
}

void InjectFault(Server* server, int camera, Fault fault, uint32_t code, uint32_t count,
                 uint32_t after) {
    Camera* cam = Find(server, camera);
    if (!cam || count == 0) return;
    std::lock_guard<std::mutex> guard(cam->mu);
    cam->faults.push_back({fault, code, count, after});
}

void SetAnswerHook(Server* server, int camera, AnswerHook hook, void* context) {
    Camera* cam = Find(server, camera);
    if (!cam) return;
    std::lock_guard<std::mutex> guard(cam->mu);
    cam->answerHook = hook;
    cam->answerContext = context;
}

void ClearFaults(Server* server, int camera) {
    Camera* cam = Find(server, camera);
    if (!cam) return;
    std::lock_guard<std::mutex> guard(cam->mu);
    cam->faults.clear();
}

}  // namespace sim

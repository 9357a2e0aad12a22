// The library thread and the life of each camera's stream (see camera_hub.h).
#include "tools/tavcam/view/camera_hub.h"

#include <chrono>
#include <future>

#include "tools/tavcam/cli_support.h"
#include "tools/tavcam/view/json_writer.h"

namespace view {
namespace {

// How often the library thread looks at the running streams when nothing
// else wakes it: a stream that ended by itself is noticed within this time.
constexpr int kLookEveryMs = 250;

void WINAPI OnDeviceChange(uint32_t* code, uint32_t, uint32_t, uintptr_t context) {
    Hub* hub = reinterpret_cast<Hub*>(context);
    if (!hub || !code || *code != PNP_CODE_DEVICE_CHANGE) return;
    {
        std::lock_guard<std::mutex> hold(hub->lock);
        hub->refreshWanted = true;
    }
    hub->wake.notify_one();
}

void SetState(Hub& hub, CameraSlot& slot, StreamState state, const std::string& failure) {
    {
        std::lock_guard<std::mutex> hold(hub.lock);
        slot.state = state;
        slot.failure = failure;
        if (state != StreamState::Running) slot.framesPerSecond = 0;
    }
    hub.stateChange.notify_all();
}

// Reads the camera list; a name that changed at an index raises the generation.
void RefreshCameras(Hub& hub) {
    std::string names[TAVCAM_MAX_CAMERAS];
    CameraNamesByIndex(names);
    std::lock_guard<std::mutex> hold(hub.lock);
    bool changed = false;
    for (int k = 0; k < TAVCAM_MAX_CAMERAS; ++k) {
        if (hub.slots[k].name == names[k]) continue;
        hub.slots[k].name = names[k];
        hub.slots[k].initialised = false;
        changed = true;
    }
    if (changed) ++hub.generation;
}

// Initialises the camera when it is new at its index; otherwise why not,
// with the HTTP status that says it.
bool Initialise(CameraSlot& slot, const std::string& name, int* status, std::string* why) {
    if (slot.initialised) return true;
    const int32_t init = USBInitDevice(name.c_str());
    slot.initialised = init == TAVCAM_INIT_OK;
    *status = init == TAVCAM_BUSY ? 409 : 502;
    *why = init == TAVCAM_BUSY ? "the camera reports itself busy"
                               : "the camera could not be initialised";
    return slot.initialised;
}

bool StartStream(Hub& hub, CameraSlot& slot, const std::string& name, std::string* why) {
    if (slot.stuck) {
        *why = "the camera's last stream did not stop; start tavcam view again";
        return false;
    }
    int status;
    if (!Initialise(slot, name, &status, why)) return false;
    Geometry g;
    if (!ReadGeometry(name.c_str(), &g) || (g.outBits != 8 && g.outBits != 24)) {
        *why = "the camera's format gives no picture to show";
        return false;
    }
    slot.geometry = g;
    slot.image.assign(PictureBytes(g), 0);
    // Colour formats get the identity table, so a saturation coefficient
    // other than 100 (set before or while streaming) still gives a picture.
    if (g.outBits == 24 && hub.identityTable.empty()) hub.identityTable = IdentityColourTable();
    slot.request = LiveVideoRequest{};
    slot.request.pImage = slot.image.data();
    slot.request.pColourTable =
        g.outBits == 24 ? hub.identityTable.data() : (void*)hub.smallTable.data();
    slot.streamName = name;  // the library keeps this pointer while the reader runs
    OpenStream(slot.frames, slot.image.data(), g.width, g.height, g.outBits);
    const int32_t r = USBVideoOnCallbackStart(slot.streamName.c_str(), &slot.request, OnLiveFrame,
                                              reinterpret_cast<uintptr_t>(&slot.frames));
    if (r != TAVCAM_OK) {
        CloseStream(slot.frames);
        *why = r == TAVCAM_BUSY
                   ? "the camera reports itself busy"
                   : "the camera refused to start live video (result " + std::to_string(r) + ")";
        return false;
    }
    slot.streaming = true;
    return true;
}

void StopStream(CameraSlot& slot) {
    if (!slot.streaming) return;
    slot.streaming = false;
    USBLiveVideoStop(slot.streamName.c_str());
    LiveVideoStatistics stats{};
    USBGetLiveVideoStatistics(slot.streamName.c_str(), &stats);
    if (stats.bRunning) {
        // The stop gave up waiting (6 s): the reader may still write into the
        // picture and call back, so the name, picture, request and colour
        // table it was given stay as they are (the hub is never freed).
        slot.stuck = true;
        return;
    }
    CloseStream(slot.frames);
}

void Fail(Hub& hub, CameraSlot& slot, const std::string& why) {
    SetState(hub, slot, StreamState::Failed, why);
    EndViewers(slot.frames);
}

// The stream's frame rate, measured over a second at least.
void MeasureRate(Hub& hub, CameraSlot& slot, const LiveVideoStatistics& stats) {
    const auto now = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(now - slot.rateSince).count();
    if (seconds < 1) return;
    if (stats.nFramesDelivered >= slot.rateFrames && seconds < 5) {
        std::lock_guard<std::mutex> hold(hub.lock);
        slot.framesPerSecond = (stats.nFramesDelivered - slot.rateFrames) / seconds;
    }
    slot.rateFrames = stats.nFramesDelivered;
    slot.rateSince = now;
}

// Brings each camera's stream in line with its viewers and its presence.
void Reconcile(Hub& hub) {
    for (CameraSlot& slot : hub.slots) {
        std::string name;
        int viewers;
        StreamState state;
        {
            std::lock_guard<std::mutex> hold(hub.lock);
            name = slot.name;
            viewers = slot.viewers;
            state = slot.state;
        }
        if (slot.streaming) {
            LiveVideoStatistics stats{};
            USBGetLiveVideoStatistics(slot.streamName.c_str(), &stats);
            if (name != slot.streamName) {
                StopStream(slot);
                Fail(hub, slot, "the camera left");
            } else if (!stats.bRunning) {
                StopStream(slot);
                Fail(hub, slot, "the stream ended by itself (the camera went away?)");
            } else if (viewers == 0) {
                StopStream(slot);
                SetState(hub, slot, StreamState::Idle, "");
            } else {
                MeasureRate(hub, slot, stats);
            }
            continue;
        }
        if (viewers > 0 && state == StreamState::Idle) {
            std::string why = "the camera left";
            if (!name.empty() && StartStream(hub, slot, name, &why))
                SetState(hub, slot, StreamState::Running, "");
            else
                Fail(hub, slot, why);
        } else if (viewers == 0 && state != StreamState::Idle) {
            SetState(hub, slot, StreamState::Idle, "");
        }
    }
}

void LibraryThread(Hub* hub) {
    for (;;) {
        std::function<void()> call;
        bool refresh = false;
        {
            std::unique_lock<std::mutex> hold(hub->lock);
            hub->wake.wait_for(hold, std::chrono::milliseconds(kLookEveryMs), [&] {
                return hub->stopping || !hub->calls.empty() || hub->refreshWanted ||
                       hub->reconcileWanted;
            });
            if (hub->stopping) break;
            refresh = hub->refreshWanted;
            hub->refreshWanted = hub->reconcileWanted = false;
            if (!hub->calls.empty()) {
                call = std::move(hub->calls.front());
                hub->calls.pop_front();
            }
        }
        if (refresh) RefreshCameras(*hub);
        if (call) call();
        Reconcile(*hub);
    }
}

}  // namespace

Reply Refusal(int status, const std::string& message) {
    Reply r;
    r.status = status;
    r.body = ErrorJson(message);
    return r;
}

void StartHub(Hub& hub) {
    hub.smallTable.assign(3, 0);
    // The library thread does not run yet: these calls are the only ones.
    RefreshCameras(hub);
    const bool registered =
        USBRegisterPNPFunction(OnDeviceChange, reinterpret_cast<uintptr_t>(&hub)) == 1;
    // A camera may have come or gone while the monitor started.
    if (registered) RefreshCameras(hub);
    std::lock_guard<std::mutex> hold(hub.lock);
    hub.plugAndPlay = registered;
}

void RunHub(Hub& hub) {
    hub.thread = std::thread(LibraryThread, &hub);
}

void StopHub(Hub& hub) {
    {
        std::lock_guard<std::mutex> hold(hub.lock);
        hub.stopping = true;
        hub.calls.clear();
    }
    hub.wake.notify_all();
    hub.stateChange.notify_all();
    if (hub.thread.joinable()) hub.thread.join();
    // The library thread has ended: the calls below are the only ones.
    PNPFunctionThreadStop();
    for (CameraSlot& slot : hub.slots) {
        StopStream(slot);
        EndViewers(slot.frames);
    }
}

Reply CallLibrary(Hub& hub, std::function<Reply()> call) {
    auto task = std::make_shared<std::packaged_task<Reply()>>(std::move(call));
    std::future<Reply> result = task->get_future();
    {
        std::lock_guard<std::mutex> hold(hub.lock);
        if (hub.stopping) return Refusal(503, "tavcam view is stopping");
        if (hub.calls.size() >= kMaxPendingCalls)
            return Refusal(503, "too many requests are waiting for the cameras; try again");
        hub.calls.push_back([task] { (*task)(); });
    }
    hub.wake.notify_one();
    if (result.wait_for(std::chrono::milliseconds(kCallTimeoutMs)) != std::future_status::ready)
        return Refusal(504, "the camera did not answer in time");
    try {
        return result.get();
    } catch (...) {  // dropped at the stop, or out of memory
        return Refusal(503, "the request could not be carried out");
    }
}

int FindCamera(Hub& hub, const std::string& name) {
    if (name.empty()) return -1;
    std::lock_guard<std::mutex> hold(hub.lock);
    for (int k = 0; k < TAVCAM_MAX_CAMERAS; ++k)
        if (hub.slots[k].name == name) return k;
    return -1;
}

bool JoinStream(Hub& hub, int index, const std::string& name, uint64_t* epoch, Reply* refusal) {
    CameraSlot& slot = hub.slots[index];
    std::unique_lock<std::mutex> hold(hub.lock);
    if (hub.stopping) {
        *refusal = Refusal(503, "tavcam view is stopping");
        return false;
    }
    if (slot.name != name) {
        *refusal = Refusal(404, "no camera named " + name);
        return false;
    }
    if (hub.viewers >= kMaxViewers) {
        *refusal = Refusal(
            503, "already " + std::to_string(kMaxViewers) + " viewers: close one and try again");
        return false;
    }
    ++hub.viewers;
    ++slot.viewers;
    if (slot.state == StreamState::Failed) slot.state = StreamState::Idle;  // try again
    hub.reconcileWanted = true;
    hub.wake.notify_one();
    const bool settled =
        hub.stateChange.wait_for(hold, std::chrono::milliseconds(kStartTimeoutMs),
                                 [&] { return hub.stopping || slot.state != StreamState::Idle; });
    if (!hub.stopping && slot.state == StreamState::Running) {
        std::lock_guard<std::mutex> frames(slot.frames.lock);
        *epoch = slot.frames.epoch;
        return true;
    }
    *refusal = Refusal(503, hub.stopping ? "tavcam view is stopping"
                            : !settled   ? "the stream did not start in time"
                                         : "no live picture: " + slot.failure);
    --hub.viewers;
    --slot.viewers;
    hub.reconcileWanted = true;
    hub.wake.notify_one();
    return false;
}

void LeaveStream(Hub& hub, int index) {
    {
        std::lock_guard<std::mutex> hold(hub.lock);
        --hub.viewers;
        --hub.slots[index].viewers;
        hub.reconcileWanted = true;
    }
    hub.wake.notify_one();
}

CameraSlot* CameraForCall(Hub& hub, int index, const std::string& name, Reply* refusal) {
    {
        std::lock_guard<std::mutex> hold(hub.lock);
        if (index < 0 || index >= TAVCAM_MAX_CAMERAS || hub.slots[index].name != name) {
            *refusal = Refusal(404, "no camera named " + name);
            return nullptr;
        }
    }
    int status;
    std::string why;
    if (Initialise(hub.slots[index], name, &status, &why)) return &hub.slots[index];
    *refusal = Refusal(status, why);
    return nullptr;
}

void PauseStream(Hub&, CameraSlot& slot) {
    StopStream(slot);
}

void ResumeStream(Hub& hub, CameraSlot& slot) {
    std::string name;
    int viewers;
    {
        std::lock_guard<std::mutex> hold(hub.lock);
        name = slot.name;
        viewers = slot.viewers;
    }
    if (slot.streaming) return;
    if (viewers == 0) {
        SetState(hub, slot, StreamState::Idle, "");
        return;
    }
    std::string why;
    if (StartStream(hub, slot, name, &why))
        SetState(hub, slot, StreamState::Running, "");
    else
        Fail(hub, slot, why);
}

}  // namespace view

// The viewer's side of the library: every call to the library, but for
// USBGetLiveVideoStatistics (which any thread may make at any time) and the
// live-video callback, runs on one thread of its own, the library thread.
// The library wants the calls for one camera from one thread at a time, and
// listing the cameras rewrites the process's table of every camera's driver
// path; one thread for all of them keeps both true without a lock around the
// library, and the HTTP threads only ever wait for it, with a bound.
//
// The library thread also keeps each camera's live stream running exactly
// while it has viewers: a viewer asks for the stream and waits (bounded) for
// it to start; when the last viewer has gone, the stream stops. It notices a
// stream that ended by itself (the camera went away) and sends its viewers
// away, and it reads the camera list afresh whenever the device monitor
// reports a camera arriving or leaving.
#pragma once

#include <stdint.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tavcam.h"
#include "tools/tavcam/stream_setup.h"
#include "tools/tavcam/view/frame_stream.h"

namespace view {

// An HTTP answer made away from the HTTP layer.
struct Reply {
    int status = 200;
    std::string body;
    std::string type = "application/json";
    std::string filename;  // set: the body is a file to download under this name
};
Reply Refusal(int status, const std::string& message);

// Bounds of the server.
constexpr int kMaxViewers = 16;          // live streams served at once, all cameras together
constexpr size_t kMaxPendingCalls = 32;  // requests queued for the library thread
constexpr int kCallTimeoutMs = 30000;    // a request waits this long for the library thread
constexpr int kStartTimeoutMs = 20000;   // a viewer waits this long for its stream to start

enum class StreamState : uint8_t {
    Idle,     // no reader
    Running,  // the reader runs and hands pictures over
    Failed,   // could not start, or ended by itself; `failure` says why
};

// A device index and what the viewer knows of the camera there.
struct CameraSlot {
    // Guarded by Hub::lock.
    std::string name;  // as listed; empty when no camera is at this index
    int viewers = 0;
    StreamState state = StreamState::Idle;
    std::string failure;
    double framesPerSecond = 0;  // over the last second of the stream

    // The library thread's own.
    std::string streamName;  // the name the running reader was started with
    bool streaming = false;
    // The camera was initialised once. Only a camera new at its index is
    // initialised again: after a preset load the library would bring the
    // preset flash marks current back at the next initialisation.
    bool initialised = false;
    Geometry geometry;
    std::vector<uint8_t> image;  // the library writes each picture here
    LiveVideoRequest request{};
    bool stuck = false;  // a reader that did not end when stopped: its buffers stay as they are
    uint32_t rateFrames = 0;  // frames delivered at rateSince
    std::chrono::steady_clock::time_point rateSince;

    FrameStream frames;
};

struct Hub {
    std::mutex lock;
    std::condition_variable wake;         // the library thread: a call, a refresh, a viewer
    std::condition_variable stateChange;  // viewers waiting for their stream
    std::deque<std::function<void()>> calls;
    bool refreshWanted = false;    // the device monitor reported a change
    bool reconcileWanted = false;  // a viewer came or went
    bool stopping = false;
    uint64_t generation = 0;  // raised by every change of the camera list
    int viewers = 0;
    bool plugAndPlay = false;  // the device monitor's notices arrive
    CameraSlot slots[TAVCAM_MAX_CAMERAS];
    std::thread thread;
    std::vector<uint8_t> smallTable;     // the colour table of 8-bit formats (never read)
    std::vector<uint8_t> identityTable;  // that of colour formats, made at their first stream
};

// Lists the cameras and registers for the monitor's notices (waiting for it
// at most the library's 10 s), on the calling thread.
void StartHub(Hub& hub);
// Starts the library thread: from here on the library is called there alone.
// (Listing the cameras silences the standard output for a moment; the
// program prints what it has to say before this.)
void RunHub(Hub& hub);
// Stops every stream and the library thread.
void StopHub(Hub& hub);

// Runs `call` on the library thread and returns its reply: 503 when too many
// requests wait already, 504 when it did not run within kCallTimeoutMs.
Reply CallLibrary(Hub& hub, std::function<Reply()> call);

// The device index of a listed camera name; -1 when no camera has it.
int FindCamera(Hub& hub, const std::string& name);

// A viewer of camera `index` named `name` arrives: waits (bounded) until its
// stream runs. On success the viewer counts until LeaveStream and *epoch is
// the stream's epoch; otherwise the refusal.
bool JoinStream(Hub& hub, int index, const std::string& name, uint64_t* epoch, Reply* refusal);
void LeaveStream(Hub& hub, int index);

// On the library thread, for the camera calls: the slot of `name` when it is
// still listed at that index, initialised; otherwise the refusal.
CameraSlot* CameraForCall(Hub& hub, int index, const std::string& name, Reply* refusal);

// On the library thread: stops the camera's stream for a change of format,
// scan area or preset, and starts it again after (when it still has viewers).
void PauseStream(Hub& hub, CameraSlot& slot);
void ResumeStream(Hub& hub, CameraSlot& slot);

}  // namespace view

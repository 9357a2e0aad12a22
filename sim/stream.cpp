// Streaming: the set-up block decides the transfer geometry; each stream read
// waits for the next transfer time at the camera's frame rate and returns
// whole frames whose content a test can regenerate (sim.h).
//
// Choices of this simulated camera:
// - The markers follow the camera's own model (its profile's record), not the
//   model word of the set-up block: a library that sends a wrong model then
//   gets transfers it rejects, as it would from a real camera.
// - Frames are numbered from 0 at each stream start. A transfer of F frames
//   is ready F frame periods after the previous one (the first F periods after
//   the start); a reader that falls more than a second behind loses the
//   backlog, as a full FIFO would, but frame numbers stay consecutive.
// - A stream read without a running stream fails at once; a read blocked
//   while the stream is stopped (from any handle) or restarted fails with
//   ERROR_OPERATION_ABORTED; a read blocked while the camera is unplugged gets
//   no answer (its connection closes).
// - Output capacity below the transfer size fails the read (ERROR_INSUFFICIENT_BUFFER).
#include <string.h>

#include <chrono>

#include "sim/internal.h"

namespace sim {
namespace {

constexpr uint32_t kMaxLineBytes = 1u << 16;

int64_t SteadyUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

uint32_t Mix(uint32_t h) {
    h ^= h >> 16;
    h *= 0x7FEB352Du;
    h ^= h >> 15;
    h *= 0x846CA68Bu;
    h ^= h >> 16;
    return h;
}

}  // namespace

uint8_t StartMarker(uint32_t cameraModel, uint32_t bytesPerPixel) {
    return cameraModel >= 5 && bytesPerPixel == 2 ? 0xFF : 0x01;
}

uint8_t EndMarker(uint32_t cameraModel, uint32_t bytesPerPixel) {
    return cameraModel >= 5 && bytesPerPixel == 2 ? 0xFE : 0x02;
}

namespace {

// The key of one image line of one frame.
uint32_t LineKey(uint32_t seed, uint32_t frameNumber, uint32_t y) {
    return Mix(Mix(seed * 0x9E3779B1u ^ Mix(frameNumber + 0x632BE5ABu)) ^ (y * 0x85EBCA77u));
}

// A sample from the line key and x: two multiply-xorshift rounds, which the
// compiler turns into vector code for a whole line.
inline uint32_t PixelHash(uint32_t key, uint32_t x) {
    uint32_t h = key + x * 0x9E3779B1u;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    return h ^ (h >> 15);
}

}  // namespace

uint16_t ImageSample(uint32_t seed, uint32_t frameNumber, uint32_t x, uint32_t y,
                     uint32_t bytesPerPixel) {
    const uint32_t h = PixelHash(LineKey(seed, frameNumber, y), x);
    return bytesPerPixel == 2 ? (uint16_t)(h & 0x0FFF) : (uint16_t)(h & 0xFF);
}

void FillFrame(const FrameSpec& spec, uint8_t* out) {
    const size_t line = (size_t)spec.width * spec.bytesPerPixel;
    const size_t frameBytes = line * spec.linesPlus4;
    if (frameBytes == 0) return;
    const uint8_t start = StartMarker(spec.cameraModel, spec.bytesPerPixel);
    const uint8_t end = EndMarker(spec.cameraModel, spec.bytesPerPixel);
    // Header lines and trailer lines are zero but for what follows.
    memset(out, 0, line * (spec.linesPlus4 >= 2 ? 2 : spec.linesPlus4));
    if (spec.linesPlus4 >= 4) memset(out + line * (spec.linesPlus4 - 2), 0, 2 * line);
    // Header line 0: marker and frame number.
    out[0] = start;
    if (line >= 8) PutLE32(out + 4, spec.frameNumber);
    // Header line 1: the frame information record and the colour channel.
    if (spec.linesPlus4 >= 2) {
        uint8_t* second = out + line;
        if (spec.frameInfo && line >= 14) {
            second[2] = 0x77;
            second[3] = 0x77;
            second[4] = 2;  // N = 2 words: record of 4 * 2 + 4 bytes
            second[5] = 0;
            PutLE32(second + 6, spec.frameNumber);
            PutLE32(second + 10, spec.seed);
        }
        if (line > 21) second[21] = (uint8_t)(spec.frameNumber % 3);
    }
    // The image.
    const uint32_t lines = spec.linesPlus4 >= 4 ? spec.linesPlus4 - 4 : 0;
    for (uint32_t y = 0; y < lines; ++y) {
        uint8_t* row = out + line * (2 + y);
        const uint32_t key = LineKey(spec.seed, spec.frameNumber, y);
        if (spec.bytesPerPixel == 2) {
            for (uint32_t x = 0; x < spec.width; ++x) {
                const uint32_t v = PixelHash(key, x) & 0x0FFF;
                row[2 * x] = (uint8_t)v;
                row[2 * x + 1] = (uint8_t)(v >> 8);
            }
        } else {
            for (uint32_t x = 0; x < spec.width; ++x) row[x] = (uint8_t)PixelHash(key, x);
        }
    }
    out[frameBytes - 1] = end;
}

std::vector<uint8_t> MakeFrame(const FrameSpec& spec) {
    std::vector<uint8_t> frame((size_t)spec.width * spec.bytesPerPixel * spec.linesPlus4);
    FillFrame(spec, frame.data());
    return frame;
}

Reply StartStream(Camera* cam, const std::vector<uint8_t>& in) {
    if (in.size() != 36) return Fail(kErrInvalidParameter);
    StreamGeometry g;
    const uint32_t kind = GetLE32(in.data());
    g.width = GetLE32(in.data() + 4);
    g.linesPlus4 = GetLE32(in.data() + 8);
    g.bytesPerPixel = GetLE32(in.data() + 12);
    g.framesPerTransfer = GetLE32(in.data() + 20);
    const uint64_t line = (uint64_t)g.width * g.bytesPerPixel;
    if (kind != 3 || g.width == 0 || g.linesPlus4 < 5 ||
        (g.bytesPerPixel != 1 && g.bytesPerPixel != 2) || g.framesPerTransfer == 0 ||
        line > kMaxLineBytes || line * g.linesPlus4 * g.framesPerTransfer > (uint64_t)kMaxOutput) {
        return Fail(kErrInvalidParameter);
    }
    StreamState& s = cam->stream;
    s.running = true;
    ++s.generation;
    s.geometry = g;
    s.nextFrame = 0;
    const uint32_t fps = cam->framesPerSecond;
    s.nextDueUs = SteadyUs() + (fps ? (int64_t)g.framesPerTransfer * 1000000 / fps : 0);
    cam->streamWake.notify_all();
    Reply r;
    r.ok = true;
    return r;
}

Reply StopStream(Camera* cam) {
    cam->stream.running = false;
    ++cam->stream.generation;
    cam->streamWake.notify_all();
    Reply r;
    r.ok = true;
    return r;
}

// Frame spec.frameNumber from the frames rendered once (frame n shows the
// image of frame n % repeat), its header stamped with its own number.
static void CopyRenderedFrame(Camera* cam, FrameSpec spec, const StreamGeometry& g, uint32_t repeat,
                              uint8_t* out) {
    const uint32_t number = spec.frameNumber;
    std::lock_guard<std::mutex> guard(cam->cacheMu);
    const StreamGeometry& c = cam->cacheGeometry;
    if (c.width != g.width || c.linesPlus4 != g.linesPlus4 || c.bytesPerPixel != g.bytesPerPixel ||
        cam->frameCache.size() != repeat) {
        cam->frameCache.assign(repeat, std::vector<uint8_t>(g.FrameBytes()));
        for (uint32_t k = 0; k < repeat; ++k) {
            spec.frameNumber = k;
            FillFrame(spec, cam->frameCache[k].data());
        }
        cam->cacheGeometry = g;
    }
    memcpy(out, cam->frameCache[number % repeat].data(), g.FrameBytes());
    const size_t line = (size_t)g.width * g.bytesPerPixel;
    if (line >= 8) PutLE32(out + 4, number);
    if (line > 21) out[line + 21] = (uint8_t)(number % 3);
    if (spec.frameInfo && line >= 14) PutLE32(out + line + 6, number);
}

Reply ReadStream(Camera* cam, uint32_t outCapacity) {
    std::unique_lock<std::mutex> lock(cam->mu);
    Reply none;
    if (TakeAnswerAway(cam, kReadStream, &none)) return none;
    if (TakeFault(cam, Fault::FailRequest, kReadStream)) return Fail(kErrGenFailure);
    StreamState& s = cam->stream;
    if (!s.running) return Fail(kErrGenFailure);
    const StreamGeometry g = s.geometry;
    if (outCapacity < g.TransferBytes()) return Fail(kErrInsufficientBuffer);
    const uint64_t generation = s.generation;
    // Wait for the transfer's time (and, while gated, for an allowance); a
    // stop, a restart or an unplug ends the wait.
    bool atGate = false;
    auto leaveGate = [&]() {
        if (atGate) --s.readsAtGate;
        atGate = false;
    };
    for (;;) {
        if (!cam->plugged) {
            leaveGate();
            Reply r;
            r.drop = true;
            return r;
        }
        if (s.generation != generation) {
            leaveGate();
            return Fail(kErrOperationAborted);
        }
        if (s.gated && s.allowance == 0) {
            if (!atGate) ++s.readsAtGate;
            atGate = true;
            cam->streamWake.notify_all();  // a test may wait for this read
            cam->streamWake.wait(lock);
            continue;
        }
        leaveGate();
        const int64_t now = SteadyUs();
        if (now >= s.nextDueUs) break;
        cam->streamWake.wait_for(lock, std::chrono::microseconds(s.nextDueUs - now));
    }
    if (s.gated) --s.allowance;
    // A failing read fails when its transfer was due, and costs no frames.
    if (TakeFault(cam, Fault::FailStreamRead, kReadStream)) return Fail(kErrGenFailure);
    const uint32_t fps = cam->framesPerSecond;
    const int64_t period = fps ? (int64_t)g.framesPerTransfer * 1000000 / fps : 0;
    const int64_t now = SteadyUs();
    s.nextDueUs = (now - s.nextDueUs > 1000000 ? now : s.nextDueUs) + period;
    const uint64_t first = s.nextFrame;
    s.nextFrame += g.framesPerTransfer;
    const bool twoBytes = TakeFault(cam, Fault::TwoByteTransfer, kReadStream);
    const bool shortTransfer = !twoBytes && TakeFault(cam, Fault::WrongSizeTransfer, kReadStream);
    const bool badMarkers = TakeFault(cam, Fault::BadMarkers, kReadStream);
    const bool badEnd = !badMarkers && TakeFault(cam, Fault::BadEndMarker, kReadStream);
    FrameSpec spec;
    spec.seed = cam->profile.seed;
    spec.width = g.width;
    spec.linesPlus4 = g.linesPlus4;
    spec.bytesPerPixel = g.bytesPerPixel;
    spec.cameraModel = cam->model;
    spec.frameInfo = cam->profile.frameInfo;
    lock.unlock();

    Reply r;
    r.ok = true;
    r.data.resize(g.TransferBytes());
    const uint32_t repeat = cam->profile.repeatImages;
    for (uint32_t i = 0; i < g.framesPerTransfer; ++i) {
        spec.frameNumber = (uint32_t)(first + i);
        uint8_t* out = r.data.data() + i * g.FrameBytes();
        if (repeat)
            CopyRenderedFrame(cam, spec, g, repeat, out);
        else
            FillFrame(spec, out);
    }
    if (badMarkers) {
        r.data.front() = (uint8_t)~r.data.front();
        r.data.back() = (uint8_t)~r.data.back();
    } else if (badEnd) {
        r.data.back() = (uint8_t)~r.data.back();
    }
    if (twoBytes) {
        r.data.resize(2);
    } else if (shortTransfer) {
        r.data.resize(r.data.size() - g.width * g.bytesPerPixel);  // one line short
    }
    return r;
}

}  // namespace sim

// A simulated camera initialised for capture and live video, and what the
// tests need to predict a delivered picture: the raw frames regenerated from
// the simulator's seed, converted by the routine a format calls for.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "config_fixture.h"

namespace acquisition_test {

// What a format's frames must become.
enum class Expect {
    Bayer,        // BayerToBGR24, or through the colour table unless the coefficient is 100
    Uyvy,         // UYVYToBGR24
    Quazi,        // one channel per frame, the picture complete with channel 2
    Copy8,        // MonoCopy8
    Merge8,       // FieldMerge8
    Shift16,      // Mono16To8Shift
    Log10,        // Mono10To8Log
    Log12,        // Mono12To8Log
    Log12Fields,  // Mono12To8LogInterlaced
    Untouched,    // announced, the picture not written
    Dropped,      // read and dropped: no notice
};

struct FormatCase {
    const char* label;
    sim::Model model;
    uint32_t code, rawBits, outBits;
    Expect expect;
};

const FormatCase kBayer = {"Bayer", sim::Model::LongLayout, 1, 8, 24, Expect::Bayer};
constexpr uint32_t kW = 320, kH = 240;  // the profiles' full area
constexpr uint32_t kPictureBytes = 3 * kW * kH;

// A colour table whose entries are not the identity: 2^24 entries of 3 bytes.
const uint8_t* ColourTable();

// Memory the platform's pointer tests see as not writable (PROT_READ) or not
// readable either (PROT_NONE), until Allow().
struct Protected {
    Protected(size_t bytes, int prot);
    ~Protected();
    void Allow();
    uint8_t* data;
    size_t size;
};

void WINAPI IgnoreFrame(const char*, uint32_t*, uint32_t*, uint32_t, uintptr_t);

// Starts live video in a delivery mode: window mode takes the request's
// picture and colour table and notifies hwnd; callback mode calls callback.
int32_t StartLive(uint32_t mode, const char* name, LiveVideoRequest* request, HWND hwnd,
                  LiveVideoCallback callback = IgnoreFrame, uintptr_t context = 0);

class AcquisitionTest : public config_test::ConfigTest {
  protected:
    void TearDown() override;

    // Plugs a camera whose one (partial) format is the case's, initialises it
    // and, when width is not 0, sets that scan area at the origin.
    void OpenCamera(const FormatCase& format, uint32_t width = 0, uint32_t height = 0,
                    uint32_t framesPerSecond = 0, bool frameInfo = false);
    // The simulator afresh, with no camera plugged.
    void RestartSimulator();

    // USBCaptureFrame of frames pictures into buffers, at coefficient 100.
    int32_t CaptureInto(void** buffers, uint32_t frames = 1, const char* name = nullptr);

    // Raw frame `number` of the stream as the simulator sent it.
    std::vector<uint8_t> RawFrame(uint32_t number, uint32_t streamWidth, uint32_t bytesPerPixel);
    // Applies one frame to an expected picture as the format's routine does
    // (width: pixels of the picture's line; for YUV 4:2:2 the raw line holds 2 x width bytes).
    void Apply(Expect expect, const std::vector<uint8_t>& frame, uint64_t lineBytes, uint32_t width,
               uint32_t height, uint32_t sat, std::vector<uint8_t>* picture);
    // The full-area Bayer picture of frame `number`.
    std::vector<uint8_t> BayerPicture(uint32_t number, uint32_t sat = 100);

    // The stream set-up blocks the camera received, as 9 words each.
    std::vector<std::vector<uint32_t>> StreamStarts();
    // Control codes of the stream requests and FIFO resets in order: 'F' FIFO
    // reset (with its flag), 'S' start, 'R' read, 'X' stop.
    std::string StreamRequests();
    // "F1S", then reads reads, then the given ending.
    static std::string Reads(uint32_t reads, const std::string& end = "") {
        return "F1S" + std::string(reads, 'R') + end;
    }
    bool Idle() { return tav::CameraIdle(Slot().ReadParameters); }

    uint32_t Model() const { return model_; }

    uint32_t seed_ = 0;
    uint32_t model_ = 0;
    bool frameInfo_ = false;  // the camera puts an information record in each frame
};

// A message-only window of the calling thread that counts live-video notices.
struct NoticeWindow {
    NoticeWindow();
    ~NoticeWindow();
    // Takes the messages that arrived; returns the WM_LIVE_FRAME count so far.
    uint32_t Pump();
    HWND hwnd = nullptr;
    uint32_t frames = 0;
    uint32_t noRoom = 0;
    uint32_t wrongSize = 0;
};

}  // namespace acquisition_test

// One camera's pictures on their way to the viewers.
//
// The library's reader thread calls OnLiveFrame after each picture it wrote
// into the stream's image buffer; the call copies the picture (the reader
// writes the next one into the same buffer as soon as the call returns) and
// wakes the stream's encoder thread, nothing more: the reader never waits
// for an encoder or a viewer. The encoder takes the newest picture (pictures
// that came while it encoded are skipped), makes it a JPEG and publishes it;
// every viewer waits for a JPEG newer than the one it sent last. A slow
// viewer thus skips pictures instead of holding anything up.
#pragma once

#include <stdint.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tavcam.h"
#include "tools/tavcam/image_file.h"

namespace view {

// A published JPEG and the number of the picture it shows.
struct JpegFrame {
    std::string bytes;
    uint64_t number = 0;
};

struct FrameStream {
    std::mutex lock;
    std::condition_variable pictureReady;  // the encoder waits for it
    std::condition_variable jpegReady;     // viewers wait for it
    const uint8_t* image = nullptr;        // the library's picture while a stream is open
    uint32_t width = 0, height = 0, bits = 0;
    std::vector<uint8_t> newest;  // copy of the newest picture handed over
    bool haveNewest = false;      // newest holds a picture of the size above
    uint64_t handedOver = 0;      // pictures handed over, across every stream of the camera
    std::shared_ptr<const JpegFrame> jpeg;  // the newest JPEG
    // Raised whenever the viewers must leave (the camera went away, the
    // stream could not go on, the program ends): a viewer that sees it change
    // ends its response.
    uint64_t epoch = 0;
    bool quit = false;  // the encoder thread is to end
    std::thread encoder;
};

// Opens the stream for pictures of this size written by the library into
// image (which stays valid until CloseStream) and starts its encoder.
void OpenStream(FrameStream& s, const uint8_t* image, uint32_t width, uint32_t height,
                uint32_t bits);
// After the reader has ended: no more pictures are taken from image; the
// encoder ends. The newest picture and JPEG stay for a download.
void CloseStream(FrameStream& s);

// The live-video callback; context is the FrameStream.
void WINAPI OnLiveFrame(const char* name, uint32_t* code, uint32_t* value, uint32_t zero,
                        uintptr_t context);

// Sends every viewer away (see epoch).
void EndViewers(FrameStream& s);

// Waits, at most timeoutMs, for a JPEG newer than picture `after`; null on
// time-out or when the epoch is no longer `epoch` (then *ended is set).
std::shared_ptr<const JpegFrame> WaitForJpeg(FrameStream& s, uint64_t after, uint64_t epoch,
                                             int timeoutMs, bool* ended);

// A copy of the newest picture handed over; false when there is none yet.
bool CopyNewestPicture(FrameStream& s, std::vector<uint8_t>* pixels, Picture* picture);

}  // namespace view

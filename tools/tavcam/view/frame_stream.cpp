// The hand-over of pictures from the reader to the viewers (see frame_stream.h).
#include "tools/tavcam/view/frame_stream.h"

#include <string.h>

#include <chrono>

#include "tools/tavcam/view/jpeg_encoder.h"

namespace view {
namespace {

size_t Bytes(uint32_t width, uint32_t height, uint32_t bits) {
    return (size_t)width * height * (bits / 8);
}

void EncodeLoop(FrameStream* s) {
    JpegEncoder encoder;
    std::vector<uint8_t> pixels;
    uint64_t encoded = 0;
    std::unique_lock<std::mutex> hold(s->lock);
    encoded = s->handedOver;
    for (;;) {
        s->pictureReady.wait(hold, [&] { return s->quit || s->handedOver != encoded; });
        if (s->quit) return;
        encoded = s->handedOver;
        pixels.assign(s->newest.begin(), s->newest.end());
        const Picture picture{pixels.data(), s->width, s->height, s->bits};
        hold.unlock();
        auto frame = std::make_shared<JpegFrame>();
        frame->number = encoded;
        const bool ok = EncodeJpeg(encoder, picture, &frame->bytes);
        hold.lock();
        if (ok) {
            s->jpeg = std::move(frame);
            s->jpegReady.notify_all();
        }
    }
}

}  // namespace

void OpenStream(FrameStream& s, const uint8_t* image, uint32_t width, uint32_t height,
                uint32_t bits) {
    CloseStream(s);
    std::lock_guard<std::mutex> hold(s.lock);
    s.image = image;
    s.width = width;
    s.height = height;
    s.bits = bits;
    s.newest.assign(Bytes(width, height, bits), 0);
    s.haveNewest = false;
    s.quit = false;
    s.encoder = std::thread(EncodeLoop, &s);
}

void CloseStream(FrameStream& s) {
    {
        std::lock_guard<std::mutex> hold(s.lock);
        s.image = nullptr;
        s.quit = true;
    }
    s.pictureReady.notify_all();
    if (s.encoder.joinable()) s.encoder.join();
}

void WINAPI OnLiveFrame(const char*, uint32_t* code, uint32_t*, uint32_t, uintptr_t context) {
    FrameStream* s = reinterpret_cast<FrameStream*>(context);
    if (!s || !code || *code != LIVE_CB_FRAME) return;
    {
        std::lock_guard<std::mutex> hold(s->lock);
        if (!s->image) return;
        memcpy(s->newest.data(), s->image, s->newest.size());
        s->haveNewest = true;
        ++s->handedOver;
    }
    s->pictureReady.notify_one();
}

void EndViewers(FrameStream& s) {
    {
        std::lock_guard<std::mutex> hold(s.lock);
        ++s.epoch;
    }
    s.jpegReady.notify_all();
}

std::shared_ptr<const JpegFrame> WaitForJpeg(FrameStream& s, uint64_t after, uint64_t epoch,
                                             int timeoutMs, bool* ended) {
    std::unique_lock<std::mutex> hold(s.lock);
    s.jpegReady.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                         [&] { return s.epoch != epoch || (s.jpeg && s.jpeg->number > after); });
    *ended = s.epoch != epoch;
    if (*ended || !s.jpeg || s.jpeg->number <= after) return nullptr;
    return s.jpeg;
}

bool CopyNewestPicture(FrameStream& s, std::vector<uint8_t>* pixels, Picture* picture) {
    std::lock_guard<std::mutex> hold(s.lock);
    if (!s.haveNewest) return false;
    *pixels = s.newest;
    *picture = Picture{pixels->data(), s.width, s.height, s.bits};
    return true;
}

}  // namespace view

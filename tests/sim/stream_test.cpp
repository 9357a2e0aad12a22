// Streaming from the simulated camera: transfer geometry, markers, frame
// content a test can regenerate, the colour channel, the frame rate and
// stopping. (The frame information record and the stream faults are checked
// through the library's acquisition tests, which fail without them.)
#include <string.h>

#include <chrono>
#include <thread>

#include "sim_client.h"

namespace simtest {
namespace {

struct Geometry {
    uint32_t width, linesPlus4, bpp, frames;
    size_t Frame() const { return (size_t)width * linesPlus4 * bpp; }
    size_t Transfer() const { return Frame() * frames; }
};

class StreamTest : public SimTest {
  protected:
    int PlugStreaming(sim::Profile p) {
        p.framesPerSecond = 0;  // transfers are ready at once unless a test sets a rate
        profile_ = p;
        return sim::Plug(server_, p);
    }
    Result Start(HANDLE h, const Geometry& g, uint32_t model) {
        return Ioctl(h, kStartStream, SetupBlock(g.width, g.linesPlus4, g.bpp, g.frames, model), 0);
    }
    sim::FrameSpec Spec(const Geometry& g, uint32_t frame) {
        sim::FrameSpec s;
        s.seed = profile_.seed;
        s.frameNumber = frame;
        s.width = g.width;
        s.linesPlus4 = g.linesPlus4;
        s.bytesPerPixel = g.bpp;
        s.cameraModel = sim::ProfileModel(profile_);
        s.frameInfo = profile_.frameInfo;
        return s;
    }
    sim::Profile profile_;
};

TEST_F(StreamTest, TransfersHoldWholeFramesWithTheMarkersOfModelAndSampleSize) {
    struct Case {
        sim::Model model;
        uint32_t bpp;
        uint8_t start, end;
    } cases[] = {{sim::Model::LongLayout, 1, 0x01, 0x02},
                 {sim::Model::LongLayout, 2, 0x01, 0x02},
                 {sim::Model::TwoByteMarkers, 1, 0x01, 0x02},
                 {sim::Model::TwoByteMarkers, 2, 0xFF, 0xFE}};
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(n);
        int cam =
            PlugStreaming(sim::MakeProfile(c.model, "S", "s" + std::to_string(n++) + ".sock"));
        HANDLE h = Open(cam);
        const Geometry g{40, 20, c.bpp, 3};
        ASSERT_TRUE(Start(h, g, sim::ProfileModel(profile_)).ok);
        for (uint32_t t = 0; t < 2; ++t) {
            Result r = Ioctl(h, kReadStream, {}, (DWORD)g.Transfer() + 100);
            ASSERT_TRUE(r.ok);
            ASSERT_EQ(r.returned, g.Transfer());
            EXPECT_EQ(r.out[0], c.start);
            EXPECT_EQ(r.out[g.Transfer() - 1], c.end);
            for (uint32_t i = 0; i < g.frames; ++i) {
                const uint32_t frame = t * g.frames + i;
                Bytes expected = sim::MakeFrame(Spec(g, frame));
                ASSERT_TRUE(std::equal(expected.begin(), expected.end(),
                                       r.out.begin() + (long)(i * g.Frame())))
                    << "frame " << frame;
                const uint8_t* f = r.out.data() + i * g.Frame();
                EXPECT_EQ(f[g.width * g.bpp + 21], frame % 3) << "colour channel";
                EXPECT_EQ(f[4], frame);
                // The image regenerates from seed, frame and position.
                const uint8_t* px = f + 2 * g.width * g.bpp + 3 * g.width * g.bpp + 7 * g.bpp;
                uint16_t sample = g.bpp == 2 ? (uint16_t)(px[0] | px[1] << 8) : px[0];
                EXPECT_EQ(sample, sim::ImageSample(profile_.seed, frame, 7, 3, g.bpp));
            }
        }
        // A new start numbers frames from 0 again.
        ASSERT_TRUE(Start(h, g, 2).ok);
        Result r = Ioctl(h, kReadStream, {}, (DWORD)g.Transfer());
        EXPECT_EQ(r.out[4], 0);
        plat::CloseHandle(h);
    }
}

TEST_F(StreamTest, BadSetUpsAndReadsOutsideAStreamFail) {
    int cam = PlugStreaming(sim::MakeProfile(sim::Model::LongLayout, "S", "s.sock"));
    HANDLE h = Open(cam);
    EXPECT_FALSE(Ioctl(h, kReadStream, {}, 4096).ok);  // no stream runs
    EXPECT_FALSE(Start(h, {32, 20, 3, 1}, 2).ok);      // three bytes per pixel
    EXPECT_FALSE(Start(h, {0, 20, 1, 1}, 2).ok);
    EXPECT_FALSE(Start(h, {32, 20, 1, 0}, 2).ok);
    EXPECT_FALSE(Ioctl(h, kStartStream, Bytes(32, 0), 0).ok);  // not 36 bytes
    const Geometry g{32, 20, 1, 1};
    ASSERT_TRUE(Start(h, g, 2).ok);
    Result r = Ioctl(h, kReadStream, {}, (DWORD)g.Transfer() - 1);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, ERROR_INSUFFICIENT_BUFFER);
    EXPECT_TRUE(Ioctl(h, kStopStream, {}, 0).ok);
    EXPECT_FALSE(Ioctl(h, kReadStream, {}, (DWORD)g.Transfer()).ok);
    plat::CloseHandle(h);
}

TEST_F(StreamTest, ReadsWaitForTheFrameTimeAndAStopFromAnotherHandleEndsTheWait) {
    int cam = PlugStreaming(sim::MakeProfile(sim::Model::LongLayout, "S", "s.sock"));
    sim::SetFramesPerSecond(server_, cam, 50);
    HANDLE h = Open(cam);
    const Geometry g{32, 20, 1, 1};
    ASSERT_TRUE(Start(h, g, 2).ok);
    auto begin = std::chrono::steady_clock::now();
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(Ioctl(h, kReadStream, {}, (DWORD)g.Transfer()).ok);
    auto took = std::chrono::steady_clock::now() - begin;
    EXPECT_GE(took, std::chrono::milliseconds(90));  // five frames at 50 per second

    // At one frame per second a transfer of 60 frames is a minute away; the
    // stop from the other handle ends the read long before.
    sim::SetFramesPerSecond(server_, cam, 1);
    const Geometry slow{32, 20, 1, 60};
    ASSERT_TRUE(Start(h, slow, 2).ok);
    Result read;
    std::thread reader([&] { read = Ioctl(h, kReadStream, {}, (DWORD)slow.Transfer()); });
    while (sim::Log(server_, cam).back().code != kReadStream)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    HANDLE other = Open(cam);
    begin = std::chrono::steady_clock::now();
    EXPECT_TRUE(Ioctl(other, kStopStream, {}, 0).ok);
    reader.join();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(20));
    EXPECT_FALSE(read.ok);
    EXPECT_EQ(read.error, 995u);  // ERROR_OPERATION_ABORTED
    uint64_t frames = 0;
    EXPECT_FALSE(sim::Streaming(server_, cam, &frames));
    plat::CloseHandle(other);
    plat::CloseHandle(h);
}

}  // namespace
}  // namespace simtest

// Live video delivers the conversion of exactly the frames the camera sent:
// every format of the frame-processing table, both marker kinds, the three
// delivery modes, internal buffers and direct rings of 1, 3 and 32 buffers,
// transfers of one frame and of many. The camera's transfers are let through
// one at a time, so each transfer's effect is checked before the next comes.
#include <string.h>

#include <atomic>
#include <mutex>

#include "acquisition_fixture.h"

namespace acquisition_test {
namespace {

using sim::Model;

const FormatCase kFormats[] = {
    {"Bayer", Model::LongLayout, 1, 8, 24, Expect::Bayer},
    {"Yuv422", Model::LongLayout, 10, 8, 24, Expect::Uyvy},
    {"SequentialColour", Model::LongLayout, 255, 8, 24, Expect::Quazi},
    {"ColourWithoutConversion", Model::LongLayout, 7, 8, 24, Expect::Untouched},
    {"Mono8", Model::ShortLayout, 1, 8, 8, Expect::Copy8},
    {"Fields8", Model::LongLayout, 2, 8, 8, Expect::Merge8},
    {"Mono8OtherFormat", Model::LongLayout, 5, 8, 8, Expect::Dropped},
    {"Raw200", Model::TwoByteMarkers, 200, 16, 24, Expect::Untouched},
    {"Raw210", Model::LongLayout, 210, 16, 24, Expect::Untouched},
    {"Shift12MarkersFFFE", Model::TwoByteMarkers, 12, 16, 8, Expect::Shift16},
    {"Shift12Markers0102", Model::LongLayout, 12, 16, 8, Expect::Shift16},
    {"Log10", Model::TwoByteMarkers, 100, 16, 8, Expect::Log10},
    {"Log12", Model::LongLayout, 110, 16, 8, Expect::Log12},
    {"Log12Fields", Model::TwoByteMarkers, 115, 16, 8, Expect::Log12Fields},
};

struct DeliveryCase {
    FormatCase format;
    uint32_t mode;
    uint32_t ring;  // direct buffers; 0: internal buffers
    uint32_t width, height;
    uint32_t sat;
};

std::vector<DeliveryCase> AllCases() {
    std::vector<DeliveryCase> cases;
    const uint32_t areas[2][2] = {{320, 240}, {64, 32}};
    for (const FormatCase& f : kFormats)
        for (const auto& area : areas)
            for (uint32_t mode : {LIVE_MODE_WINDOW, LIVE_MODE_EVENT, LIVE_MODE_CALLBACK})
                for (uint32_t ring : {0u, 1u, 3u, 32u}) {
                    if (mode == LIVE_MODE_WINDOW && ring) continue;  // no direct buffers there
                    cases.push_back({f, mode, ring, area[0], area[1], 100});
                    if (f.expect == Expect::Bayer)  // and through the colour table
                        cases.push_back({f, mode, ring, area[0], area[1], 50});
                }
    return cases;
}

std::string CaseName(const ::testing::TestParamInfo<DeliveryCase>& info) {
    const DeliveryCase& c = info.param;
    const char* modes[] = {"Window", "Event", "Callback"};
    std::string name = std::string(c.format.label) + (c.sat != 100 ? "Table" : "") + "_" +
                       modes[c.mode] + "_" + std::to_string(c.width) + "x" +
                       std::to_string(c.height);
    return name + (c.ring ? "_Ring" + std::to_string(c.ring) : "_Internal");
}

// What the callback saw at each call: the picture and the raw frame named by
// *ppRawFrame, copied while the reader waited for the callback.
struct CallbackLog {
    std::mutex lock;
    std::vector<std::vector<uint8_t>> pictures;
    std::vector<std::vector<uint8_t>> rawFrames;
    std::vector<uint32_t> codes;
    const uint8_t* picture = nullptr;
    size_t pictureBytes = 0;
    void** rawFrame = nullptr;
    uint64_t lineBytes = 0, frameBytes = 0;
};

void WINAPI RecordFrame(const char*, uint32_t* code, uint32_t* value, uint32_t zero,
                        uintptr_t context) {
    CallbackLog* log = reinterpret_cast<CallbackLog*>(context);
    std::lock_guard<std::mutex> guard(log->lock);
    log->codes.push_back(*code + *value + zero);  // the value and the fourth argument are 0
    log->pictures.emplace_back(log->picture, log->picture + log->pictureBytes);
    const uint8_t* second = (const uint8_t*)__atomic_load_n(log->rawFrame, __ATOMIC_ACQUIRE);
    log->rawFrames.emplace_back(second - log->lineBytes, second - log->lineBytes + log->frameBytes);
}

void PrintTo(const DeliveryCase& c, std::ostream* out) {
    *out << c.format.label << " mode " << c.mode << " ring " << c.ring << " " << c.width << "x"
         << c.height << " coefficient " << c.sat;
}

class DeliveryTest : public AcquisitionTest, public ::testing::WithParamInterface<DeliveryCase> {};

TEST_P(DeliveryTest, PicturesAreTheFramesTheCameraSent) {
    const DeliveryCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(OpenCamera(c.format, c.width, c.height));
    if (c.sat != 100) {
        ASSERT_EQ(USBSetCameraFeature(name_.c_str(), 0x814, c.sat), 1);
    }
    const uint32_t W = c.width, H = c.height, b = c.format.rawBits / 8;
    const uint32_t streamWidth = c.format.code == 10 ? 2 * W : W;
    const uint32_t T =
        c.mode == LIVE_MODE_WINDOW ? 65536 / (streamWidth * H) + 1 : 65536 / (W * H * b) + 1;
    const uint64_t lineBytes = (uint64_t)streamWidth * b, frameBytes = lineBytes * (H + 4);
    const uint64_t transferBytes = T * frameBytes;
    const size_t pictureBytes = (size_t)W * H * (c.format.outBits == 24 ? 3 : 1);

    std::vector<uint8_t> picture(pictureBytes, 0xA5), expected = picture;
    std::vector<std::vector<uint8_t>> ring(c.ring, std::vector<uint8_t>(transferBytes, 0xCC));
    LiveVideoParamEx ex{};
    ex.nBuffers = (uint8_t)c.ring;
    for (uint32_t k = 0; k < c.ring; ++k) ex.pDirectBuffer[k] = ring[k].data();
    void* rawFrame = nullptr;
    HANDLE event = plat::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    NoticeWindow window;
    CallbackLog log;
    log.picture = picture.data();
    log.pictureBytes = pictureBytes;
    log.rawFrame = &rawFrame;
    log.lineBytes = lineBytes;
    log.frameBytes = frameBytes;

    sim::GateTransfers(server_, camera_, true);
    LiveVideoRequest request{picture.data(),         0,        (void*)ColourTable(), event,
                             c.ring ? &ex : nullptr, &rawFrame};
    ASSERT_EQ(StartLive(c.mode, name_.c_str(), &request, window.hwnd, RecordFrame, (uintptr_t)&log),
              1);
    EXPECT_EQ(Slot().ReadParameters.bDirectBuffer, c.ring ? 1 : 0);

    const uint32_t transfers = c.ring ? c.ring + 2 : 4;
    uint32_t notices = 0, deliveringTransfers = 0;
    std::vector<std::vector<uint8_t>> expectedSnapshots, expectedRaw;
    for (uint32_t t = 0; t < transfers; ++t) {
        SCOPED_TRACE("transfer " + std::to_string(t));
        std::vector<uint8_t> sent;
        uint32_t delivered = 0;
        for (uint32_t i = 0; i < T; ++i) {
            const uint32_t number = t * T + i;
            std::vector<uint8_t> frame = RawFrame(number, streamWidth, b);
            Apply(c.format.expect, frame, lineBytes, W, H, c.sat, &expected);
            const bool delivers = c.format.expect == Expect::Quazi
                                      ? number % 3 == 2
                                      : c.format.expect != Expect::Dropped;
            if (delivers) {
                ++delivered;
                expectedSnapshots.push_back(expected);
                if (c.ring) {  // the delivered raw frame has two stretches cleared
                    memset(frame.data(), 0, 2 * (size_t)streamWidth);
                    const uint64_t image =
                        (uint64_t)H * streamWidth * b / (c.format.code == 10 ? 2 : 1);
                    memset(frame.data() + image, 0, 2 * (size_t)streamWidth);
                }
                expectedRaw.push_back(frame);
            }
            sent.insert(sent.end(), frame.begin(), frame.end());
        }
        notices += delivered;
        sim::AllowTransfers(server_, camera_, 1);
        ASSERT_TRUE(sim::WaitForReadAtGate(server_, camera_, 10000));

        // The notices of this transfer, and nothing else.
        if (c.mode == LIVE_MODE_WINDOW) {
            window.Pump();
            EXPECT_EQ(window.frames, notices);
        } else if (c.mode == LIVE_MODE_EVENT) {
            EXPECT_EQ(plat::WaitForSingleObject(event, 0),
                      delivered ? WAIT_OBJECT_0 : WAIT_TIMEOUT);
            plat::ResetEvent(event);
        } else {
            std::lock_guard<std::mutex> guard(log.lock);
            ASSERT_EQ(log.codes.size(), notices);
            for (uint32_t code : log.codes) EXPECT_EQ(code, (uint32_t)LIVE_CB_FRAME);
            // Each notice came after its picture was complete, with *ppRawFrame
            // naming its raw frame.
            for (size_t n = notices - delivered; n < notices; ++n) {
                EXPECT_TRUE(log.pictures[n] == expectedSnapshots[n]) << "notice " << n;
                EXPECT_TRUE(log.rawFrames[n] == expectedRaw[n]) << "notice " << n;
            }
        }
        if (!delivered) continue;  // the reader wrote nothing we may look at yet

        EXPECT_TRUE(picture == expected);
        const uint8_t* second = (const uint8_t*)__atomic_load_n(&rawFrame, __ATOMIC_ACQUIRE);
        if (c.mode == LIVE_MODE_WINDOW) {
            EXPECT_EQ(second, nullptr);  // window mode reports no raw frames
        } else if (c.ring) {
            const uint8_t* holder = ring[deliveringTransfers % c.ring].data();
            EXPECT_EQ(ex.pLastBuffer, holder);
            EXPECT_EQ(second, holder + (T - 1) * frameBytes + lineBytes);
            EXPECT_TRUE(memcmp(holder, sent.data(), sent.size()) == 0);
        } else {
            ASSERT_NE(second, nullptr);
            const uint8_t* last = sent.data() + (T - 1) * frameBytes;
            EXPECT_TRUE(memcmp(second - lineBytes, last, frameBytes) == 0);
        }
        ++deliveringTransfers;
    }
    EXPECT_EQ(USBLiveVideoStop(name_.c_str()), 1);
    EXPECT_TRUE(Idle());
    // The stream was set up for what the start computed.
    const std::vector<std::vector<uint32_t>> block = {
        {3, streamWidth, H + 4, b, 0, T, Model(), 0, 0}};
    EXPECT_EQ(StreamStarts(), block);
    plat::CloseHandle(event);
}

INSTANTIATE_TEST_SUITE_P(AllFormatsModesAndRings, DeliveryTest, ::testing::ValuesIn(AllCases()),
                         CaseName);

}  // namespace
}  // namespace acquisition_test

// Many starts and stops, several cameras at once, and threads racing for one
// camera: nothing leaks (AddressSanitizer), nothing races (ThreadSanitizer),
// and the claim on a camera has exactly one winner.
#include <atomic>
#include <thread>

#include "acquisition_fixture.h"

namespace acquisition_test {
namespace {

constexpr int kCameras = 3;

class StressTest : public AcquisitionTest {
  protected:
    // Plugs kCameras cameras sending at once (no frame time) and initialises them.
    void OpenCameras() {
        for (int k = 0; k < kCameras; ++k) {
            sim::Profile p =
                sim::MakeFormatProfile(sim::Model::LongLayout, "Stress",
                                       "cam" + std::to_string(k) + ".sock", 1, 8, 24, true);
            p.framesPerSecond = 0;
            ASSERT_EQ(sim::Plug(server_, p), k);
        }
        ::testing::internal::CaptureStdout();
        tav::EnumerateCameras();
        ::testing::internal::GetCapturedStdout();
        for (int k = 0; k < kCameras; ++k) {
            ASSERT_EQ(USBInitDevice(Name(k).c_str()), TAVCAM_INIT_OK);
            ASSERT_EQ(USBSetScanArea(Name(k).c_str(), 0, 0, 64, 32), 1);
        }
    }
    static std::string Name(int k) { return "Stress-" + std::to_string(k); }
};

TEST_F(StressTest, AThousandStartsAndStopsOnSeveralCamerasAtOnce) {
    ASSERT_NO_FATAL_FAILURE(OpenCameras());
    constexpr int kRounds = 1000 / kCameras + 1;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int k = 0; k < kCameras; ++k) {
        threads.emplace_back([k, &failures] {
            const std::string name = Name(k);
            std::vector<uint8_t> picture(3 * 64 * 32);
            std::vector<uint8_t> ring[2] = {std::vector<uint8_t>(65536 * 2),
                                            std::vector<uint8_t>(65536 * 2)};
            LiveVideoParamEx ex{};
            ex.nBuffers = 2;
            ex.pDirectBuffer[0] = ring[0].data();
            ex.pDirectBuffer[1] = ring[1].data();
            HANDLE event = plat::CreateEventA(nullptr, FALSE, FALSE, nullptr);
            void* raw = nullptr;
            for (int round = 0; round < kRounds; ++round) {
                LiveVideoParamEx* buffers = round % 2 ? &ex : nullptr;
                LiveVideoRequest request{picture.data(), 0,       (void*)ColourTable(),
                                         event,          buffers, &raw};
                const uint32_t mode = round % 3 == 0 ? LIVE_MODE_EVENT : LIVE_MODE_CALLBACK;
                if (StartLive(mode, name.c_str(), &request, nullptr) != 1) ++failures;
                if (USBLiveVideoStop(name.c_str()) != 1) ++failures;
                if (!tav::CameraIdle(tav::g_DeviceTable[k].ReadParameters)) ++failures;
            }
            plat::CloseHandle(event);
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
}

// Two threads start a capture on one camera at the same moment: one takes
// the camera, the other is refused, every time.
TEST_F(StressTest, TwoCapturesAtOnceHaveExactlyOneWinner) {
    ASSERT_NO_FATAL_FAILURE(OpenCameras());
    sim::SetFramesPerSecond(server_, 0, 1000);  // a capture lasts one transfer, 29 ms
    for (int round = 0; round < 50; ++round) {
        std::atomic<int> go{0}, taken{0};
        auto capture = [&] {
            std::vector<uint8_t> picture(3 * 64 * 32);
            void* buffers[1] = {picture.data()};
            ++go;
            while (go.load() < 2) {
            }
            taken += CaptureInto(buffers, 1, Name(0).c_str());
        };
        std::thread a(capture), b(capture);
        a.join();
        b.join();
        ASSERT_EQ(taken.load(), 1) << "round " << round;
    }
}

}  // namespace
}  // namespace acquisition_test

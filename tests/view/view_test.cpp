// tavcam view against simulated cameras, through HTTP as a browser would
// speak to it.
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <memory>

#include "view_fixture.h"

namespace view_tests {
namespace {

using process_tests::WaitFor;

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The page, served on loopback and fetching nothing from elsewhere; cameras
// that come and go reach the list, a viewer of a camera that leaves is sent
// away; an interrupt stops the program cleanly.
TEST_F(ViewTest, ServesThePageFollowsTheCamerasAndStopsAtInterrupt) {
    PlugCamera(0);
    ASSERT_NO_FATAL_FAILURE(StartView());
    EXPECT_EQ(process_tests::ReadLine(*view_, 5000),
              "on the loopback address: only this machine can connect (--bind ADDR to open it "
              "to others)");
    EXPECT_EQ(startLines_.front(), "cameras: Cam-0");
    Answer page = Get("/");
    ASSERT_EQ(page.status, 200);
    EXPECT_EQ(page.type, "text/html; charset=utf-8");
    for (const char* part : {"<img id=\"picture\"", "/stream?", "/api/feature", "/picture?"})
        EXPECT_TRUE(Has(page.body, part)) << part;
    for (const char* elsewhere : {"http://", "https://", "//cdn"})
        EXPECT_FALSE(Has(page.body, elsewhere)) << elsewhere;
    Answer list = Get("/api/cameras");
    ASSERT_EQ(list.status, 200);
    EXPECT_TRUE(Has(list.body, "{\"name\":\"Cam-0\",\"index\":0}")) << list.body;
    EXPECT_TRUE(Has(list.body, "\"plugAndPlay\":true")) << list.body;

    const long long first = Field(list.body, "generation");
    PlugCamera(1);
    EXPECT_TRUE(WaitFor([&] { return Has(Get("/api/cameras").body, "Cam-1"); }, 15000));
    EXPECT_GT(Field(Get("/api/cameras").body, "generation"), first);
    {
        StreamViewer viewer(port_, "Cam-1");
        ASSERT_EQ(viewer.Status(), 200);
        ASSERT_TRUE(viewer.WaitParts(2, 20000));
        sim::Unplug(server_, cameras_[1]);
        EXPECT_TRUE(viewer.WaitEnded(15000));
    }
    EXPECT_TRUE(WaitFor([&] { return !Has(Get("/api/cameras").body, "Cam-1"); }, 15000));
    EXPECT_EQ(Get("/stream?camera=Cam-1").status, 404);
    EXPECT_TRUE(Has(Get("/api/cameras").body, "Cam-0"));

    kill(view_->pid, SIGINT);
    std::string line;
    while (!(line = process_tests::ReadLine(*view_, 15000)).empty() && line != "stopped") {
    }
    EXPECT_EQ(line, "stopped");
    int status = 0;
    ASSERT_TRUE(
        WaitFor([&] { return waitpid(view_->pid, &status, WNOHANG) == view_->pid; }, 10000));
    view_->pid = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// The live picture is the camera's: grey in format 0, colour in format 1,
// the right way up, within JPEG's tolerance. The simulator's pictures are
// noise, JPEG's worst case: the live picture lies about 6 (grey) or 20
// (colour, whose chroma JPEG halves each way) from the camera's picture in
// mean difference per byte. Another camera's picture, the same picture upside
// down, or with red and blue exchanged lie at least 19 further away.
TEST_F(ViewTest, LivePictureIsTheCamerasPictureInGreyAndColour) {
    constexpr double kGreyTolerance = 12, kColourTolerance = 28, kApart = 12;
    PlugCamera(0);
    PlugCamera(1);
    ASSERT_NO_FATAL_FAILURE(StartView());
    for (bool colour : {false, true}) {
        SCOPED_TRACE(colour ? "colour" : "grey");
        if (colour) {
            ASSERT_EQ(Post("/api/format?camera=Cam-0&index=1").status, 200);
        }
        StreamViewer viewer(port_, "Cam-0");
        ASSERT_EQ(viewer.Status(), 200);
        // A picture of a stream running before the change may come first.
        ASSERT_TRUE(viewer.WaitParts(3, 20000));
        Decoded d;
        ASSERT_TRUE(DecodeJpeg(viewer.LastJpeg(), &d));
        ASSERT_EQ(d.width, 320);
        ASSERT_EQ(d.height, 240);
        ASSERT_EQ(d.channels, colour ? 3 : 1);
        const std::vector<uint8_t> expected = ExpectedPicture(0, colour);
        const double difference = MeanDifference(d.pixels, expected);
        EXPECT_LT(difference, colour ? kColourTolerance : kGreyTolerance);
        EXPECT_GT(MeanDifference(d.pixels, ExpectedPicture(1, colour)), difference + kApart);
        EXPECT_GT(MeanDifference(d.pixels, UpsideDown(expected, 240)), difference + kApart);
        if (colour) {
            std::vector<uint8_t> swapped = expected;
            for (size_t i = 0; i < swapped.size(); i += 3) std::swap(swapped[i], swapped[i + 2]);
            EXPECT_GT(MeanDifference(d.pixels, swapped), difference + kApart);
        }
    }
}

// Every request is checked: features are set within the camera's limits
// (the register holds the last value accepted) and refused outside, unknown
// cameras and malformed requests get a clear error, and none of it hurts the
// camera or the server.
TEST_F(ViewTest, FeaturesAreSetWithinTheLimitsAndBadRequestsGetClearErrors) {
    PlugCamera(0);
    ASSERT_NO_FATAL_FAILURE(StartView());
    const struct {
        bool post;
        const char* path;
        int status;
        uint16_t reg, value;  // the register the camera must hold afterwards (0: none)
    } cases[] = {
        {true, "/api/feature?camera=Cam-0&feature=brightness&value=200", 200, 0x800, 200},
        {true, "/api/feature?camera=Cam-0&feature=brightness&value=256", 422, 0x800, 200},
        {true, "/api/feature?camera=Cam-0&feature=gain&value=63", 200, 0x820, 63},
        {true, "/api/feature?camera=Cam-0&feature=gain&value=64", 422, 0x820, 63},
        // Limits the library leaves to the application: the view keeps them.
        {true, "/api/feature?camera=Cam-0&feature=sharpness&value=7", 200, 0x808, 7},
        {true, "/api/feature?camera=Cam-0&feature=sharpness&value=8", 422, 0x808, 7},
        {true, "/api/feature?camera=Cam-0&feature=iris&value=101", 422, 0, 0},
        {true, "/api/feature?camera=Cam-0&feature=shutter&value=0", 422, 0, 0},
        {true, "/api/feature?camera=Cam-0&feature=shutter&value=241", 422, 0, 0},  // > height
        {true, "/api/feature?camera=Cam-0&feature=trigger&value=2", 422, 0, 0},
        {true, "/api/feature?camera=Cam-0&feature=zoom&value=1", 400, 0, 0},
        {true, "/api/feature?camera=Cam-0&feature=running&value=1", 400, 0, 0},  // read-only
        {true, "/api/feature?camera=Cam-0&feature=gain&value=abc", 400, 0, 0},
        {true, "/api/feature?camera=Cam-0&feature=gain&value=-1", 400, 0, 0},
        {true, "/api/feature?camera=Cam-0&feature=gain", 400, 0, 0},
        {true, "/api/feature?camera=Cam-0&value=3", 400, 0, 0},
        {false, "/api/feature?camera=Cam-0&feature=gain&value=1", 404, 0x820, 63},  // POST sets
        {false, "/stream?camera=Nope-5", 404, 0, 0},
        {false, "/stream?camera=Cam-1", 404, 0, 0},
        {false, "/stream", 400, 0, 0},
        {false, "/api/camera?camera=Nope", 404, 0, 0},
        {false, "/api/camera", 400, 0, 0},
        {false, "/api/stats?camera=", 404, 0, 0},
        {false, "/picture?camera=Nope-1", 404, 0, 0},
        {false, "/picture?camera=Cam-0", 409, 0, 0},  // no picture yet
        {true, "/api/format?camera=Cam-0&index=x", 400, 0, 0},
        {true, "/api/format?camera=Cam-0&index=2", 422, 0, 0},
        {true, "/api/area?camera=Cam-0&left=0&top=0&width=320", 400, 0, 0},
        {true, "/api/area?camera=Cam-0&left=4&top=0&width=320&height=240", 422, 0, 0},
        {true, "/api/area?camera=Cam-0&left=2&top=0&width=100&height=100", 422, 0, 0},  // units
        {true, "/api/area?camera=Cam-0&left=0&top=0&width=0&height=100", 422, 0, 0},
        {true, "/api/preset?camera=Cam-0&action=burn&preset=1", 400, 0, 0},
        {true, "/api/preset?camera=Cam-0&action=load&preset=4", 422, 0, 0},
        {false, "/nowhere", 404, 0, 0},
    };
    for (const auto& c : cases) {
        Answer a = c.post ? Post(c.path) : Get(c.path);
        EXPECT_EQ(a.status, c.status) << c.path << ": " << a.body;
        if (c.status == 200) {
            EXPECT_TRUE(Has(a.body, "\"value\":")) << c.path << ": " << a.body;
        } else {
            EXPECT_EQ(a.body.rfind("{\"error\":\"", 0), 0u) << c.path << ": " << a.body;
        }
        uint16_t held = 0;
        if (c.reg) {
            EXPECT_TRUE(sim::Register(server_, cameras_[0], c.reg, &held) && held == c.value)
                << c.path << ": register 0x" << std::hex << c.reg << " holds " << std::dec << held;
        }
    }
    // The switch, and the form a browser may send instead of a query.
    ASSERT_EQ(Post("/api/feature", "camera=Cam-0&feature=trigger&value=1").status, 200);
    uint16_t trigger = 0;
    EXPECT_TRUE(sim::OnOffFeature(server_, cameras_[0], 0x830, &trigger) && trigger == 1);
    // What the page is told: the limits it shows.
    Answer d = Get("/api/camera?camera=Cam-0");
    ASSERT_EQ(d.status, 200);
    EXPECT_TRUE(Has(d.body,
                    "{\"name\":\"gain\",\"label\":\"gain\",\"kind\":\"slider\",\"min\":0,"
                    "\"max\":63,\"value\":63}"))
        << d.body;
    EXPECT_TRUE(Has(d.body,
                    "\"name\":\"trigger\",\"label\":\"trigger mode (on/off feature)\","
                    "\"kind\":\"switch\""));

    EXPECT_EQ(RawRequest("GARBAGE\r\n\r\n"), "HTTP/1.1 400 Bad Request");
    EXPECT_EQ(RawRequest("GET /" + std::string(20000, 'a') + " HTTP/1.1\r\n\r\n"),
              "HTTP/1.1 414 URI Too Long");
    // The body is sent: without it the server would first wait out its read time-out.
    EXPECT_EQ(RawRequest("POST /api/feature HTTP/1.1\r\nContent-Length: 100000\r\n\r\n" +
                         std::string(100000, 'x')),
              "HTTP/1.1 413 Payload Too Large");
    StreamViewer viewer(port_, "Cam-0");
    EXPECT_EQ(viewer.Status(), 200);
    EXPECT_TRUE(viewer.WaitParts(2, 20000));
}

// Two viewers at once; one goes away mid-stream, the other goes on; the
// stream stops with the last and starts again with the next. As many viewers
// as the bound allows are served at once, each with the pictures; the next is
// refused with 503 and a reason, and served again once one has gone.
TEST_F(ViewTest, ViewersComeAndGoAndTheStreamFollowsThem) {
    PlugCamera(0);
    ASSERT_NO_FATAL_FAILURE(StartView());
    auto stats = [&] { return Get("/api/stats?camera=Cam-0").body; };
    {
        StreamViewer second(port_, "Cam-0");
        {
            StreamViewer first(port_, "Cam-0");
            ASSERT_EQ(first.Status(), 200);
            ASSERT_EQ(second.Status(), 200);
            ASSERT_TRUE(first.WaitParts(3, 20000));
            ASSERT_TRUE(second.WaitParts(3, 20000));
            EXPECT_EQ(Field(stats(), "viewers"), 2);
            first.Leave();
            ASSERT_TRUE(first.WaitEnded(5000));
        }
        EXPECT_TRUE(WaitFor([&] { return Field(stats(), "viewers") == 1; }, 5000)) << stats();
        EXPECT_TRUE(WaitFor([&] { return Field(stats(), "fps") > 0; }, 5000)) << stats();
        const int before = second.Parts();
        EXPECT_TRUE(second.WaitParts(before + 10, 10000));
        EXPECT_TRUE(Streaming(0));
        second.Leave();
    }
    EXPECT_TRUE(WaitFor([&] { return !Streaming(0); }, 5000));
    EXPECT_TRUE(Has(stats(), "\"running\":false")) << stats();
    EXPECT_EQ(Field(stats(), "viewers"), 0);
    EXPECT_EQ(Field(stats(), "fps"), 0);

    constexpr int kBound = 16;
    std::vector<std::unique_ptr<StreamViewer>> viewers;
    for (int i = 0; i < kBound; ++i)
        viewers.push_back(std::make_unique<StreamViewer>(port_, "Cam-0"));
    for (auto& v : viewers) {
        ASSERT_EQ(v->Status(), 200);
        EXPECT_TRUE(v->WaitParts(2, 20000));
    }
    EXPECT_TRUE(Streaming(0));
    EXPECT_TRUE(Has(stats(), "\"running\":true"));
    Answer refused = Get("/stream?camera=Cam-0");
    EXPECT_EQ(refused.status, 503);
    EXPECT_TRUE(Has(refused.body, "already 16 viewers")) << refused.body;
    viewers.pop_back();  // leaves mid-stream, noticed at the next picture
    EXPECT_TRUE(WaitFor([&] { return Field(stats(), "viewers") == kBound - 1; }, 5000));
    StreamViewer next(port_, "Cam-0");
    EXPECT_EQ(next.Status(), 200);
    EXPECT_TRUE(next.WaitParts(2, 20000));
}

// The picture downloads as a PNG; a new scan area, format or preset reaches
// the pictures a viewer gets without the viewer coming again; a preset saved
// reaches the camera's flash.
TEST_F(ViewTest, PictureDownloadsAndAreaAndPresetsChangeWhatTheViewerSees) {
    PlugCamera(0);
    ASSERT_NO_FATAL_FAILURE(StartView());
    StreamViewer viewer(port_, "Cam-0");
    ASSERT_TRUE(viewer.WaitParts(2, 20000));
    Answer png = Get("/picture?camera=Cam-0");
    ASSERT_EQ(png.status, 200) << png.body;
    EXPECT_EQ(png.type, "image/png");
    EXPECT_EQ(png.disposition, "attachment; filename=\"Cam-0.png\"");
    ASSERT_GT(png.body.size(), 24u);
    EXPECT_EQ(png.body.substr(1, 3), "PNG");
    // IHDR: width and height (big-endian), then bit depth and colour type 0, grey.
    EXPECT_EQ(png.body.substr(16, 10), std::string("\0\0\1\x40\0\0\0\xF0\x08\0", 10));

    auto size = [&] {
        Decoded d;
        return DecodeJpeg(viewer.LastJpeg(), &d)
                   ? std::to_string(d.width) + "x" + std::to_string(d.height)
                   : std::string("none");
    };
    EXPECT_EQ(size(), "320x240");
    Answer a = Post("/api/area?camera=Cam-0&left=8&top=4&width=160&height=120");
    ASSERT_EQ(a.status, 200) << a.body;
    EXPECT_TRUE(Has(a.body, "\"area\":{\"left\":8,\"top\":4,\"width\":160,\"height\":120}"))
        << a.body;
    EXPECT_TRUE(WaitFor([&] { return size() == "160x120"; }, 10000)) << size();
    ASSERT_EQ(Post("/api/preset?camera=Cam-0&action=save&preset=2").status, 200);
    EXPECT_EQ(sim::Flash(server_, cameras_[0], 1)[0], 2);  // flash's current preset
    a = Post("/api/preset?camera=Cam-0&action=load&preset=1");
    ASSERT_EQ(a.status, 200) << a.body;
    EXPECT_TRUE(Has(a.body, "\"preset\":1")) << a.body;
    EXPECT_TRUE(WaitFor([&] { return size() == "320x240"; }, 10000)) << size();
    EXPECT_EQ(viewer.Status(), 200);
}

}  // namespace
}  // namespace view_tests

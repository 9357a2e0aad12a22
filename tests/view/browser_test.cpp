// The page in a real browser: headless Chromium, driven through its DevTools
// protocol by devtools_bridge.mjs, shows the camera's picture, moves a slider
// that reaches the camera's register, and follows a camera unplugged.
// Skipped where Chromium or a Node with its WebSocket client (20 or later)
// is not installed; scripts/test.sh installs Chromium.
#include <stdlib.h>
#include <unistd.h>

#include "view_fixture.h"

namespace view_tests {
namespace {

using process_tests::Ask;
using process_tests::WaitFor;

constexpr char kChromium[] = "/usr/bin/chromium";
constexpr char kNode[] = "/usr/bin/node";

std::vector<uint8_t> FromBase64(const std::string& text) {
    const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::vector<uint8_t> out;
    uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        const char* at = c ? strchr(digits, c) : nullptr;
        if (!at) continue;  // '=' and anything else
        bits = bits << 6 | (uint32_t)(at - digits);
        if ((count += 6) >= 8) out.push_back((uint8_t)(bits >> (count -= 8)));
    }
    return out;
}

// The grey picture the page's <img> shows, as "WxH:" and its pixels in
// base64, top-down, read through a canvas once the first picture is there.
const char kShownPicture[] =
    "(async () => { const i = document.getElementById('picture');"
    " for (let n = 0; n < 300 && i.naturalWidth != 320; ++n)"
    "   await new Promise(r => setTimeout(r, 100));"
    " const c = document.createElement('canvas'); c.width = i.naturalWidth;"
    " c.height = i.naturalHeight; const g = c.getContext('2d'); g.drawImage(i, 0, 0);"
    " const d = g.getImageData(0, 0, c.width, c.height).data; let s = '';"
    " for (let k = 0; k < d.length; k += 4) s += String.fromCharCode(d[k]);"
    " return c.width + 'x' + c.height + ':' + btoa(s); })()";

// The sliders come with the camera's description, which may come after the
// first picture.
const char kMoveGain[] =
    "(async () => { let i = null;"
    " for (let n = 0; n < 300 && !(i = document.querySelector('input[name=gain]')); ++n)"
    "   await new Promise(r => setTimeout(r, 100));"
    " if (!i) return false;"
    " for (const v of [5, 17, 42]) { i.value = v; i.dispatchEvent(new Event('input')); }"
    " return true; })()";

const char kCameraList[] =
    "[...document.getElementById('camera').options].map(o => o.value).join(',')";

TEST_F(ViewTest, InABrowserThePageShowsThePictureSetsFeaturesAndFollowsTheList) {
    if (access(kChromium, X_OK) != 0 || access(kNode, X_OK) != 0 ||
        system("/usr/bin/node --experimental-websocket -e "
               "'process.exit(typeof WebSocket == \"function\" ? 0 : 1)' 2>/dev/null") != 0)
        GTEST_SKIP() << "no Chromium, or no Node with a WebSocket client, here";
    PlugCamera(0);
    PlugCamera(1);
    ASSERT_NO_FATAL_FAILURE(StartView({"Cam-0"}));
    testing_support::TempDir profile;
    clients.emplace_back();
    process_tests::Client& browser = clients.back();
    ASSERT_TRUE(process_tests::StartClient(
        runtime.path, &browser,
        {"--experimental-websocket", TAVCAM_DEVTOOLS_BRIDGE,
         "http://127.0.0.1:" + std::to_string(port_) + "/", profile.path},
        deviceDir, kNode));
    // Chromium ends with the bridge, also when the test stops early.
    struct Closer {
        process_tests::Client& c;
        ~Closer() { process_tests::Exit(c); }
    } closer{browser};
    ASSERT_EQ(process_tests::ReadLine(browser, 40000), "ready");

    // The picture shown is the camera's, the right way up.
    const std::string shown = Ask(browser, kShownPicture, 40000);
    ASSERT_EQ(shown.rfind("\"320x240:", 0), 0u) << shown.substr(0, 80);
    std::vector<uint8_t> pixels = FromBase64(shown.substr(9));
    ASSERT_EQ(pixels.size(), 320u * 240u);
    EXPECT_LT(MeanDifference(pixels, UpsideDown(ExpectedPicture(0, false), 240)), 12);

    // A slider moved reaches the camera's register, its last value last.
    ASSERT_EQ(Ask(browser, kMoveGain, 20000), "true");
    uint16_t gain = 0;
    EXPECT_TRUE(WaitFor(
        [&] { return sim::Register(server_, cameras_[0], 0x820, &gain) && gain == 42; }, 10000))
        << gain;

    // A camera unplugged leaves the page's list without a reload.
    EXPECT_EQ(Ask(browser, kCameraList), "\"Cam-0,Cam-1\"");
    sim::Unplug(server_, cameras_[1]);
    EXPECT_TRUE(WaitFor([&] { return Ask(browser, kCameraList) == "\"Cam-0\""; }, 15000));
}

}  // namespace
}  // namespace view_tests

// End to end with real pauses: the tavcam program, a process of its own with
// its own monitor, takes a picture into a BMP file and streams live video from
// the simulated camera this test serves.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "acquisition_fixture.h"

namespace acquisition_test {
namespace {

class ProgramTest : public AcquisitionTest {
  protected:
    // Runs the tavcam program with a private namespace of named objects;
    // returns its exit status and what it printed.
    int Run(const std::string& args, std::string* output) {
        const std::string program = testing_support::BinDir() + "/tavcam";
        const std::string command = "TAVCAM_RUNTIME_DIR=" + runtime_.path +
                                    " TAVCAM_DEVICE_DIR=" + dir_.path + " " + program + " " + args +
                                    " 2>&1";
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe) return -1;
        char chunk[4096];
        size_t n;
        while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) output->append(chunk, n);
        return pclose(pipe);
    }
    testing_support::TempDir runtime_;
};

TEST_F(ProgramTest, CaptureWritesTheFirstFrameAsABitmapAndLiveStreams) {
    if (access((testing_support::BinDir() + "/tavcam").c_str(), X_OK) != 0)
        GTEST_SKIP() << "no tavcam program";
    ASSERT_NO_FATAL_FAILURE(OpenCamera(kBayer, 0, 0, 100));
    const std::string file = runtime_.path + "/shot.bmp";
    std::string output;
    ASSERT_EQ(Run("capture AcqCam-0 -o " + file, &output), 0) << output;
    EXPECT_NE(output.find("wrote " + file + " (320 x 240, 24-bit)"), std::string::npos) << output;

    std::ifstream in(file, std::ios::binary);
    std::vector<uint8_t> bmp((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
    ASSERT_EQ(bmp.size(), 54 + kPictureBytes);
    EXPECT_EQ(std::string(bmp.begin(), bmp.begin() + 2), "BM");
    int32_t height = 0;
    memcpy(&height, bmp.data() + 22, 4);
    EXPECT_EQ(height, 240);  // positive: bottom-up, the library's own line order
    EXPECT_TRUE(std::vector<uint8_t>(bmp.begin() + 54, bmp.end()) == BayerPicture(0));

    output.clear();
    ASSERT_EQ(Run("live AcqCam-0 --seconds 1 --mode callback --direct 2", &output), 0) << output;
    EXPECT_NE(output.find("AcqCam-0: "), std::string::npos) << output;
    EXPECT_NE(output.find("dropped 0 for size and 0 for markers"), std::string::npos) << output;
}

}  // namespace
}  // namespace acquisition_test

// Enumeration into the path table: the count, the two printed lines, slots
// that keep their paths, and the camera opened by index.
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "device/device.h"
#include "device_fixture.h"
#include "tavcam.h"

namespace device_test {
namespace {

using EnumerateTest = DeviceTest;

std::string Path(int index) {
    char path[tav::kPathBytes];
    EXPECT_TRUE(tav::CameraPath(index, path));
    return path;
}

// Both cameras are examined and printed, their paths kept by index; the
// enumeration only opens and closes. With the cameras gone, the slots keep
// their paths, which no longer open.
TEST_F(EnumerateTest, TwoCamerasAreExaminedAndPrinted) {
    Plug(sim::Model::LongLayout, "LineScan", "cam0");
    Plug(sim::Model::LongLayout, "AreaCam", "cam1");
    std::string printed;
    EXPECT_EQ(Enumerate(&printed), 2);
    std::string cam0 = dir_.path + "/cam0.sock", cam1 = dir_.path + "/cam1.sock";
    EXPECT_EQ(printed, "Attempting to open " + cam0 + "\nAttempting to open " + cam1 + "\n");
    EXPECT_EQ(Path(0), cam0);
    EXPECT_EQ(Path(1), cam1);
    HANDLE camera = tav::OpenCamera(1);
    EXPECT_TRUE(tav::CameraOpened(camera));
    if (tav::CameraOpened(camera)) plat::CloseHandle(camera);
    EXPECT_EQ(tav::OpenCamera(8), INVALID_HANDLE_VALUE);
    EXPECT_EQ(tav::OpenCamera(-1), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(Log(0).empty());

    sim::Unplug(server_, 0);
    sim::Unplug(server_, 1);
    EXPECT_EQ(Enumerate(&printed), 0);
    EXPECT_EQ(printed, "");
    EXPECT_EQ(Path(0), cam0);
    EXPECT_EQ(SendCommand(0, tav::CMD_WRITE_REG, 0x800, 1, 0), 0);
}

// A socket file with nobody listening behind it (a server that died without
// cleaning up).
void StaleSocket(const std::string& path) {
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address;
    memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    ASSERT_EQ(bind(fd, (sockaddr*)&address, sizeof address), 0);
    close(fd);
}

TEST_F(EnumerateTest, SocketNobodyServesIsReportedAsFailed) {
    // Enumerated, but it doesn't open.
    std::string stale = dir_.path + "/cam0.sock";
    StaleSocket(stale);
    Plug(sim::Model::LongLayout, "AreaCam", "cam1");
    std::string printed;
    EXPECT_EQ(Enumerate(&printed), 2);  // interfaces examined, not cameras opened
    std::string cam1 = dir_.path + "/cam1.sock";
    EXPECT_EQ(printed, "Attempting to open " + stale + "\nFAILED to open " + stale +
                           "\nAttempting to open " + cam1 + "\n");
    EXPECT_EQ(SendCommand(0, tav::CMD_WRITE_REG, 0x800, 1, 0), 0);
    EXPECT_EQ(SendCommand(1, tav::CMD_WRITE_REG, 0x800, 1, 0), 1);
}

// The enumeration looks at eight interfaces at most: nine cameras give 8, the
// ninth left out; eight that all fail to open give 0 (no camera to talk to),
// their slots holding the paths all the same.
TEST_F(EnumerateTest, EightInterfacesAtMostAndNoneOpenedCountsNone) {
    for (int i = 0; i < 9; ++i)
        Plug(sim::Model::LongLayout, "Cam" + std::to_string(i), "cam" + std::to_string(i));
    std::string printed;
    EXPECT_EQ(Enumerate(&printed), 8);
    EXPECT_EQ(printed.find("cam8.sock"), std::string::npos);
    EXPECT_EQ(Path(7), dir_.path + "/cam7.sock");

    sim::Stop(server_);
    server_ = nullptr;
    for (int i = 0; i < 8; ++i)
        ASSERT_NO_FATAL_FAILURE(StaleSocket(dir_.path + "/stale" + std::to_string(i) + ".sock"));
    EXPECT_EQ(Enumerate(&printed), 0);
    EXPECT_NE(printed.find("FAILED to open " + dir_.path + "/stale7.sock"), std::string::npos);
    EXPECT_EQ(Path(7), dir_.path + "/stale7.sock");
}

}  // namespace
}  // namespace device_test

// The camera list: names from the records with the index suffix, packed
// entries, presence marks, and names too long for a suffix.
#include <string.h>

#include <string>

#include "core/attach.h"
#include "core/shared_data.h"
#include "device/device.h"
#include "device_fixture.h"
#include "tavcam.h"

namespace device_test {
namespace {

class CameraListTest : public DeviceTest {
  protected:
    // Lists the cameras into a list whose every byte is a sentinel, as a
    // caller may leave it, so entries the library must not write stay
    // recognisable; returns what the enumeration printed.
    std::string List() {
        memset(&list_, 0xAA, sizeof list_);
        ::testing::internal::CaptureStdout();
        USBGetSuppDeviceList(&list_);
        return ::testing::internal::GetCapturedStdout();
    }
    std::string Entry(int k) const {
        return std::string(list_.szNames[k], strnlen(list_.szNames[k], TAVCAM_NAME_BYTES));
    }
    sim::Profile WithRecordName(const std::string& socket, const std::vector<uint8_t>& name) {
        sim::Profile profile = sim::MakeProfile(sim::Model::LongLayout, "x", socket + ".sock");
        std::fill(profile.page0.begin() + 1424, profile.page0.begin() + 1424 + 255, 0);
        std::copy(name.begin(), name.end(), profile.page0.begin() + 1424);
        return profile;
    }
    uint32_t Presence(int i) { return tav::SharedLoad(tav::Shared()->bPresence[i]); }
    CameraList list_;
};

TEST_F(CameraListTest, TwoCamerasAreNamedFromTheirRecords) {
    Plug(sim::Model::LongLayout, "LineScan", "cam0");
    Plug(sim::Model::ShortLayout, "AreaCam", "cam1");
    testing_support::TraceLog traces;
    std::string printed = List();
    EXPECT_EQ(list_.nCount, 2u);
    EXPECT_EQ(Entry(0), "LineScan-0");
    EXPECT_EQ(Entry(1), "AreaCam-1");
    EXPECT_EQ((uint8_t)list_.szNames[2][0], 0xAA);
    EXPECT_EQ(Presence(0), 1u);
    EXPECT_EQ(Presence(1), 1u);
    EXPECT_EQ(Presence(2), 0u);
    EXPECT_TRUE(traces.Contains("USBGetSuppDeviceList: found LineScan-0 \r\n"));
    EXPECT_TRUE(traces.Contains("USBGetSuppDeviceList: found AreaCam-1 \r\n"));
    EXPECT_NE(printed.find("Attempting to open " + dir_.path + "/cam1.sock\n"), std::string::npos);
    // Each camera's record was read whole: 32 requests and 32 fetches.
    EXPECT_EQ(Log(0).size(), 64u);
    EXPECT_EQ(Log(1).size(), 64u);
}

TEST_F(CameraListTest, UnreadableRecordLeavesNoGapButIsCounted) {
    List();  // no camera: an empty list
    EXPECT_EQ(list_.nCount, 0u);
    EXPECT_EQ((uint8_t)list_.szNames[0][0], 0xAA);
    USBGetSuppDeviceList(nullptr);  // refused, no crash
    int first = Plug(sim::Model::LongLayout, "LineScan", "cam0");
    Plug(sim::Model::LongLayout, "AreaCam", "cam1");
    sim::InjectFault(server_, first, sim::Fault::FailRequest, tav::IOCTL_CAM_READ_REPLY, 1);
    List();
    EXPECT_EQ(list_.nCount, 2u);
    EXPECT_EQ(Entry(0), "AreaCam-1");
    EXPECT_EQ((uint8_t)list_.szNames[1][0], 0xAA);  // entry 1 as the caller left it
    EXPECT_EQ(Presence(0), 0u);                     // the failing camera stays unmarked
    EXPECT_EQ(Presence(1), 1u);
}

TEST_F(CameraListTest, NamesLongerThan252AreListedWithoutSuffix) {
    std::string n252(252, 'a'), n253(253, 'b');
    Plug(WithRecordName("cam0", std::vector<uint8_t>(n252.begin(), n252.end())));
    Plug(WithRecordName("cam1", std::vector<uint8_t>(n253.begin(), n253.end())));
    Plug(WithRecordName("cam2", std::vector<uint8_t>(255, 'c')));  // no NUL at all
    testing_support::TraceLog traces;
    List();
    ASSERT_EQ(list_.nCount, 3u);
    EXPECT_EQ(Entry(0), n252 + "-0");  // 254 characters and the NUL: the whole entry
    EXPECT_EQ(Entry(1), n253);
    EXPECT_EQ(list_.szNames[1][253], '\0');
    // A name without terminator is cut so the entry still ends in a NUL.
    EXPECT_EQ(Entry(2), std::string(254, 'c'));
    EXPECT_EQ(list_.szNames[2][254], '\0');
    EXPECT_TRUE(traces.Contains("can't add the index to " + n253 + " device \r\n"));
    EXPECT_EQ((uint8_t)list_.szNames[3][0], 0xAA);
    // Such a name yields no device index.
    EXPECT_EQ(USBControlLink(list_.szNames[1]), 0);
}

}  // namespace
}  // namespace device_test

// The caller-visible layouts that the compiler can't check from the header alone.
#include <gtest/gtest.h>

#include "core/shared_data.h"
#include "tavcam.h"

TEST(HeaderLayout, DeviceListEntriesArePacked255Bytes) {
    CameraList list{};
    const char* base = reinterpret_cast<const char*>(&list);
    EXPECT_EQ(reinterpret_cast<const char*>(list.szNames[0]) - base, 4);
    EXPECT_EQ(reinterpret_cast<const char*>(list.szNames[3]) - base, 4 + 3 * 255);
}

extern "C" unsigned tavcam_header_in_c_record_size(void);

TEST(HeaderLayout, CAndCxxSeeTheSameRecord) {
    EXPECT_EQ(tavcam_header_in_c_record_size(), sizeof(CameraRecord));
}

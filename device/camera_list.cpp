// The camera list: the cameras the enumeration found, each named by the name
// in its flash record with '-' and its device index appended.
#include <string.h>

#include "core/attach.h"
#include "core/shared_data.h"
#include "core/trace.h"
#include "device/device.h"
#include "tavcam.h"

namespace tav {
namespace {

constexpr size_t kNameAt = offsetof(CameraRecord, CameraName);
constexpr size_t kNameBytes = sizeof(((CameraRecord*)nullptr)->CameraName);
constexpr size_t kLongestSuffixedName = 252;  // + '-', digit and NUL = 255 bytes
static_assert(kNameAt == 1424 && kNameBytes == TAVCAM_NAME_BYTES, "CameraName field");
static_assert(kLongestSuffixedName + 3 == kNameBytes, "a suffixed name fills the field");

// Turns the record's name field into the camera name of device `index`, in
// place. A field without a NUL in its 255 bytes is cut to 254 characters, so
// every name we trace or hand out is a terminated text; at 254 characters it
// is, like any name longer than 252, listed without suffix.
void SuffixName(char* name, int index) {
    size_t length = strnlen(name, kNameBytes);
    if (length == kNameBytes) {
        length = kNameBytes - 1;
        name[length] = '\0';
    }
    if (length <= kLongestSuffixedName) {
        name[length] = '-';
        name[length + 1] = (char)('0' + index);
        name[length + 2] = '\0';
    } else {
        Trace("can't add the index to %s device \r\n", name);
    }
}

void MarkPresent(int index) {
    SharedData* shared = Shared();
    if (shared) SharedStore(shared->bPresence[index], 1);
}

}  // namespace
}  // namespace tav

using namespace tav;

extern "C" TAVCAM_API void WINAPI USBGetSuppDeviceList(CameraList* pList) {
    if (!LibraryUsable()) return;
    if (!pList || plat::IsBadWritePtr(pList, sizeof(CameraList))) return;
    int count = EnumerateCameras();
    pList->nCount = (uint32_t)count;
    auto* record = (uint8_t*)plat::LocalAlloc(LPTR, TAVCAM_RECORD_BYTES);
    if (!record) return;
    // Entries are packed: a camera whose record can't be read leaves no entry,
    // but the count still counts it.
    int entry = 0;
    for (int i = 0; i < count && i < kMaxCameras; ++i) {
        if (!ReadDataFromFlash(i, 0, TAVCAM_RECORD_BYTES, record)) continue;
        MarkPresent(i);
        char* name = (char*)record + kNameAt;
        SuffixName(name, i);
        Trace("USBGetSuppDeviceList: found %s \r\n", name);
        memcpy(pList->szNames[entry], name, TAVCAM_NAME_BYTES);
        ++entry;
    }
    plat::LocalFree(record);
}

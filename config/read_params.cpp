// USBReadDeviceParams: hands the cached camera record to the application,
// with the scan area and preset in force patched into the copy.
#include <string.h>

#include "config/device_table.h"
#include "core/attach.h"
#include "core/trace.h"
#include "device/device.h"

extern "C" TAVCAM_API int32_t WINAPI USBReadDeviceParams(const char* pCameraName,
                                                         CameraRecord* pRecord) {
    if (!tav::LibraryUsable()) return 0;
    int index = 0;
    if (!tav::DeviceIndexFromName(pCameraName, &index)) {
        tav::Trace("USBReadDeviceParams: failed get index from %s \r\n",
                   tav::NameForTrace(pCameraName));
        return 0;
    }
    // The application's buffer is tested before anything is written to it.
    if (!pRecord || plat::IsBadWritePtr(pRecord, sizeof(CameraRecord))) return 0;

    const tav::DeviceSlot& slot = tav::g_DeviceTable[index];
    CameraRecord copy;
    memcpy(&copy, &slot.Record, sizeof copy);
    // The entry of the current format reports the scan area in force; the
    // cache keeps what the last preset application or format switch put there.
    // A CurrentFormat that names no entry leaves the entries as cached.
    if (copy.CurrentFormat < (uint32_t)tav::kFormatSlots) {
        FormatEntry& entry = copy.Formats[copy.CurrentFormat];
        entry.Height = slot.ImgHeight;
        entry.Width = slot.ImgWidth;
        entry.Origin = tav::PackOrigin(slot.ImgLeft, slot.ImgTop);
    }
    copy.CurrentPreset = (uint32_t)(tav::IsShortLayout(slot) ? slot.WorkShort.CurrentPreset
                                                             : slot.WorkLong.CurrentPreset);
    memcpy(pRecord, &copy, sizeof copy);
    return 1;
}

// Format, scan area and camera window.
//
// USBSetFormat switches the camera to another of its formats, remembering the
// scan area of the format it leaves and restoring the one the new format used
// last. USBSetScanArea checks a scan area against the current format and
// records it in the device table without telling the camera. SetCameraWindow
// checks a window once more and writes it into the camera's window registers;
// captures and live-video starts call it just before the stream starts, so a
// scan area reaches the camera only then.
#include "config/device_table.h"
#include "core/attach.h"
#include "core/trace.h"
#include "device/device.h"

namespace tav {
namespace {

constexpr uint32_t kRegFormat = 0x1FF;
constexpr uint32_t kRegShutter = 0x81C;
constexpr uint32_t kRegFrameExposure = 0x810;
constexpr uint32_t kRegWindowLeft = 0x108;
constexpr uint32_t kRegWindowTop = 0x109;
constexpr uint32_t kRegWindowWidth = 0x10A;
constexpr uint32_t kRegWindowHeight = 0x10B;

// The smallest window the camera streams, and its alignment.
constexpr int64_t kMinWindowWidth = 32;
constexpr int64_t kMinWindowHeight = 16;

bool MultipleOf(uint32_t value, uint32_t unit) {
    return value % unit == 0;
}

}  // namespace
}  // namespace tav

using namespace tav;

extern "C" TAVCAM_API int32_t WINAPI USBSetScanArea(const char* pCameraName, uint32_t nLeft,
                                                    uint32_t nTop, uint32_t nWidth,
                                                    uint32_t nHeight) {
    if (!LibraryUsable()) return 0;
    Trace("Enter the  USBSetScanArea\r\n");
    int index = 0;
    if (!DeviceIndexFromName(pCameraName, &index)) return TAVCAM_BAD_NAME;
    int32_t busy = 0;
    if (!PassesBusyCheck(index, "USBSetScanArea", &busy)) return busy;
    DeviceSlot& slot = g_DeviceTable[index];
    const FormatEntry* entry = CurrentFormatEntry(slot);
    if (!entry) return 0;  // CurrentFormat names no format: no area fits it

    if (!entry->PartialScan) {
        // A fixed format: the request is ignored and the area is the whole format.
        Trace("%s USBSetScanArea - Current format ( %d ) is not a partial format \r\n", pCameraName,
              (int)slot.Record.CurrentFormat);
        slot.ImgLeft = 0;
        slot.ImgTop = 0;
        slot.ImgWidth = entry->Width;
        slot.ImgHeight = entry->Height;
    } else {
        // The extent sums are taken in unsigned 32-bit arithmetic, as callers
        // of this function have always seen them: a sum that wraps lets an area with a
        // left offset or width in the billions through. Such an area never
        // reaches the camera: SetCameraWindow, which every capture and live
        // video start calls first, compares the same values as signed numbers
        // and rejects them (a negative offset, or a width below 32).
        uint32_t maxWidth = HighHalf(entry->MaxSize), maxHeight = LowHalf(entry->MaxSize);
        if ((uint32_t)(nLeft + nWidth) > maxWidth || (uint32_t)(nTop + nHeight) > maxHeight ||
            nWidth == 0 || nHeight == 0) {
            Trace(
                "%s USBSetScanArea - Wrong width,height or offsets : Left - %d, Top - %d, "
                "Width - %d, Height - %d \r\n",
                pCameraName, (int)nLeft, (int)nTop, (int)nWidth, (int)nHeight);
            return 0;
        }
        // A format whose unit has a zero half can't be divided into; no area
        // passes its unit check.
        uint32_t unitH = HighHalf(entry->UnitSize), unitV = LowHalf(entry->UnitSize);
        if (unitH == 0 || unitV == 0 || !MultipleOf(nLeft, unitH) || !MultipleOf(nWidth, unitH) ||
            !MultipleOf(nTop, unitV) || !MultipleOf(nHeight, unitV)) {
            Trace("%s USBSetScanArea - Wrong unit size \r\n", pCameraName);
            return 0;
        }
        Trace("USBSetScanArea %s - Set width = %d, height = %d\r\n", pCameraName, (int)nWidth,
              (int)nHeight);
        slot.ImgWidth = nWidth;
        slot.ImgHeight = nHeight;
        slot.ImgLeft = nLeft;
        slot.ImgTop = nTop;
    }
    // The shutter can never be longer than the image has lines.
    uint32_t& shutterInq = slot.Record.FeatureInq[kInqShutter];
    shutterInq = InqWithMaximum(shutterInq, slot.ImgHeight);
    return 1;
}

extern "C" TAVCAM_API int32_t WINAPI USBSetFormat(const char* pCameraName, uint32_t nFormat) {
    if (!LibraryUsable()) return 0;
    Trace("Enter the USBSetFormat \r\n");
    int index = 0;
    if (!DeviceIndexFromName(pCameraName, &index)) return 0;
    int32_t busy = 0;
    if (!PassesBusyCheck(index, "USBSetFormat", &busy)) return busy;
    DeviceSlot& slot = g_DeviceTable[index];
    CameraRecord& record = slot.Record;
    // A record may claim more formats than the sixteen entries it holds.
    if (nFormat >= record.FormatCount || nFormat >= (uint32_t)kFormatSlots) return 0;

    // The format being left (even when it is the one asked for) remembers the
    // scan area in force.
    if (FormatEntry* leaving = CurrentFormatEntry(slot)) {
        leaving->Origin = PackOrigin(slot.ImgLeft, slot.ImgTop);
        leaving->Width = slot.ImgWidth;
        leaving->Height = slot.ImgHeight;
    }
    // Not transactional: a failure from here on leaves the earlier steps done.
    if (!WriteRegister(index, kRegFormat, nFormat)) return 0;
    record.CurrentFormat = nFormat;

    // The new format's last area comes back through the scan-area checks.
    const FormatEntry& entry = record.Formats[nFormat];
    if (USBSetScanArea(pCameraName, HighHalf(entry.Origin), LowHalf(entry.Origin), entry.Width,
                       entry.Height) == 0)
        return 0;

    uint32_t& shutterInq = record.FeatureInq[kInqShutter];
    if (!(shutterInq & kInqFlag29)) shutterInq = InqWithMaximum(shutterInq, entry.Height);

    // The shutter starts again at the format's full height.
    const int preset = CurrentPresetOf(slot);
    const uint32_t shutter = entry.Height & 0xFFFFu;
    SetPresetField(slot, Copy::Working, preset, Field::Shutter, shutter);
    if (!WriteRegister(index, kRegShutter, shutter)) return 0;
    Trace("USBSetFormat: %s Set Shutter = %d \r\n", pCameraName, (int)shutter);

    if (!IsShortLayout(slot)) {
        uint32_t exposure = GetPresetField(slot, Copy::Working, preset, Field::FrameExposure);
        if (!WriteRegister(index, kRegFrameExposure, exposure)) return 0;
    }
    return 1;
}

extern "C" TAVCAM_API int32_t WINAPI SetCameraWindow(int32_t nDevice, int32_t iLeft, int32_t iTop,
                                                     int32_t iWidth, int32_t iHeight,
                                                     uint32_t bSetLeft, uint32_t bSetTop,
                                                     uint32_t bSetWidth, uint32_t bSetHeight) {
    if (!LibraryUsable()) return 0;
    // Every caller in the library passes a checked index; one from outside is
    // checked here so the table is never read out of bounds.
    int index = DeviceIndexFromArgument(nDevice);
    if (index < 0 || index >= kMaxCameras) return 0;
    const FormatEntry* entry = CurrentFormatEntry(g_DeviceTable[index]);
    if (!entry) return 0;
    const int64_t maxWidth = HighHalf(entry->MaxSize), maxHeight = LowHalf(entry->MaxSize);
    Trace("iLeft - %d; iTop - %d; iWidth - %d; iHeight - %d;  MaxWidth - %d; MaxHeight - %d \r\n",
          iLeft, iTop, iWidth, iHeight, (int)maxWidth, (int)maxHeight);

    // Signed comparisons, with sums that can't overflow.
    const int64_t left = iLeft, top = iTop, width = iWidth, height = iHeight;
    if (left > maxWidth || top > maxHeight || left + width > maxWidth || top + height > maxHeight ||
        left < 0 || top < 0 || width < kMinWindowWidth || height < kMinWindowHeight ||
        width % 4 != 0 || height % 2 != 0)
        return 0;

    // The flags are bytes: only their low byte counts.
    struct WindowWrite {
        uint32_t flag;
        uint32_t reg;
        int32_t value;
    };
    const WindowWrite writes[4] = {
        {bSetWidth, kRegWindowWidth, iWidth},
        {bSetHeight, kRegWindowHeight, iHeight},
        {bSetLeft, kRegWindowLeft, iLeft},
        {bSetTop, kRegWindowTop, iTop},
    };
    for (const WindowWrite& w : writes) {
        if ((w.flag & 0xFF) == 0) continue;
        if (!WriteRegister(index, w.reg, (uint32_t)w.value)) return 0;
    }
    return 1;
}

// Presets in flash: USBSaveParams stores the settings in force as preset p
// and writes SaveData to flash page 1 once it passes the camera record's
// limits; USBLoadParams reads the page, makes preset p current and writes
// its settings to the camera.
#include <string.h>

#include "config/device_table.h"
#include "config/preset_writes.h"
#include "config/presets.h"
#include "core/attach.h"
#include "core/trace.h"
#include "device/device.h"

namespace tav {
namespace {

// Loading sends what initialisation sends, in its own order, except the
// trigger mode (the short layout's five writes are shared with it).
const PresetWrite kLoadWritesLong[] = {
    {WriteWhen::FeaturePresent, kInqGain, CMD_WRITE_REG, 0x820, Field::Gain, -1},
    {WriteWhen::FeaturePresent, kInqBrightness, CMD_WRITE_REG, 0x800, Field::Brightness, -1},
    {WriteWhen::FeaturePresent, kInqShutter, CMD_WRITE_REG, 0x81C, Field::Shutter, -1},
    {WriteWhen::FeaturePresent, kInqFrameExposure, CMD_WRITE_REG, 0x810, Field::FrameExposure, -1},
    {WriteWhen::FeaturePresent, kInqSharpness, CMD_WRITE_REG, 0x808, Field::Sharpness, -1},
    {WriteWhen::FeaturePresent, kInqAutoExposure, CMD_WRITE_REG, 0x804, Field::AutoExposure, -1},
    {WriteWhen::FeaturePresent, kInqIris, CMD_WRITE_REG, 0x824, Field::Iris, -1},
    {WriteWhen::Always, 0, CMD_WRITE_REG, 0x3840, Field::Bits, -1},
    {WriteWhen::SeveralFormats, 0, CMD_WRITE_REG, 0x1FF, Field::Format, -1},
    {WriteWhen::FeaturePresent, kInqReg884, CMD_WRITE_REG, 0x884, Field::Reg884, -1},
    {WriteWhen::FeaturePresent, kInqReg888, CMD_WRITE_REG, 0x888, Field::Reg888, -1},
    {WriteWhen::Always, 0, CMD_WRITE_REG, 0x1E50, Field::Reg1E50, -1},
    {WriteWhen::Always, 0, CMD_WRITE_REG, 0x1E54, Field::Reg1E54, -1},
    {WriteWhen::Always, 0, CMD_WRITE_REG, 0x1E00, Field::uiStateComplete, 0},
    {WriteWhen::Always, 0, CMD_WRITE_REG, 0x1E01, Field::uiStateComplete, 1},
    {WriteWhen::Always, 0, CMD_WRITE_REG, 0x1E02, Field::uiStateComplete, 2},
    {WriteWhen::Always, 0, CMD_WRITE_REG, 0x1E03, Field::uiStateComplete, 3},
};

static_assert(sizeof kLoadWritesLong / sizeof kLoadWritesLong[0] == 17, "seventeen long writes");

// Preset numbers above 3 address no preset. They are refused before either
// copy of SaveData is touched.
bool PresetNumberValid(uint32_t p) {
    return p < (uint32_t)kPresetCount;
}

// The traces that accompany some of loading's writes (after the write).
void TraceLoadWrite(const char* name, uint32_t reg, uint32_t value) {
    switch (reg) {
        case 0x820:
            Trace("USBLoadParams: Set Gain = %d \r\n", (int)value);
            break;
        case 0x81C:
            Trace("USBLoadParams: %s Set Shutter = %d \r\n", name, (int)value);
            break;
        case 0x810:
            Trace("USBLoadParams: %s Set Frame Exposure = %d \r\n", name, (int)value);
            break;
        case 0x808:
            Trace("USBLoadParams: %s Set Sharpness = %d \r\n", name, (int)value);
            break;
        case 0x824:
            Trace("USBLoadParams: %s Set iris = %d \r\n", name, (int)value);
            break;
        default:
            break;
    }
}

void TraceShortPreset(const DeviceSlot& slot, int p) {
    auto field = [&](Field f) { return (int)GetPresetField(slot, Copy::Working, p, f); };
    Trace("USBLoadParams:  SaveData.Preset[%d].Brightness = %d, \r\n", p, field(Field::Brightness));
    Trace("USBLoadParams:  SaveData.Preset[%d].Gain = %d, \r\n", p, field(Field::Gain));
    Trace("USBLoadParams:  SaveData.Preset[%d].Gamma = %d, \r\n", p, field(Field::Gamma));
    Trace("USBLoadParams:  SaveData.Preset[%d].Red = %d, \r\n", p, field(Field::Red));
    Trace("USBLoadParams:  SaveData.Preset[%d].Green = %d, \r\n", p, field(Field::Green));
    Trace("USBLoadParams:  SaveData.Preset[%d].Blue = %d, \r\n", p, field(Field::Blue));
    Trace("USBLoadParams:  SaveData.Preset[%d].Shutter = %d, \r\n", p, field(Field::Shutter));
    Trace("USBLoadParams:  SaveData.Preset[%d].Top = %d, \r\n", p, field(Field::Top));
    Trace("USBLoadParams:  SaveData.Preset[%d].Left = %d, \r\n", p, field(Field::Left));
    Trace("USBLoadParams:  SaveData.Preset[%d].Width = %d, \r\n", p, field(Field::Width));
    Trace("USBLoadParams:  SaveData.Preset[%d].Height = %d, \r\n", p, field(Field::Height));
}

// Writes preset p of the working copy to the camera; false at the first write
// that fails. The format select also makes that format the current one.
bool WriteLoadedPreset(int index, const char* name, DeviceSlot& slot, int p) {
    bool shortLayout = IsShortLayout(slot);
    const PresetWrite* writes = shortLayout ? kPresetWritesShort : kLoadWritesLong;
    size_t count = shortLayout ? sizeof kPresetWritesShort / sizeof kPresetWritesShort[0]
                               : sizeof kLoadWritesLong / sizeof kLoadWritesLong[0];
    for (size_t i = 0; i < count; ++i) {
        const PresetWrite& w = writes[i];
        if (!WriteApplies(slot.Record, w)) continue;
        uint32_t value = WriteValue(slot, p, w);
        if (w.reg == 0x1E00)
            Trace("uiStateComplete = %d \r\n",
                  (int)GetPresetField(slot, Copy::Working, p, Field::uiStateComplete));
        if (!SendPresetWrite(index, w, value)) return false;
        TraceLoadWrite(name, w.reg, value);
        if (w.reg == 0x1FF) slot.Record.CurrentFormat = value;  // < 16, checked at the read
    }
    return true;
}

}  // namespace

namespace {

// The scan-area part of the checks: within the maximum extent of the record's
// current format. A CurrentFormat naming no entry fails.
template <typename PresetT>
bool AreaFits(const PresetT& p, const CameraRecord& record) {
    if (record.CurrentFormat >= (uint32_t)kFormatSlots) return false;
    uint32_t max = record.Formats[record.CurrentFormat].MaxSize;
    uint32_t mh = HighHalf(max), mv = LowHalf(max);
    return (uint32_t)p.Left + p.Width <= mh && (uint32_t)p.Top + p.Height <= mv && p.Width <= mh &&
           p.Height <= mv;
}

bool InRange(const CameraRecord& record, int inq, uint32_t value) {
    return InqInRange(record.FeatureInq[inq], value);
}

// Range check of an optional field: only when the feature is present.
bool InRangeIfPresent(const CameraRecord& record, int inq, uint32_t value) {
    return !InqPresent(record.FeatureInq[inq]) || InRange(record, inq, value);
}

// A format the camera has. Values of 16 or more name no format entry even
// when a record claims more formats than it can hold.
bool FormatKnown(const CameraRecord& record, uint32_t format) {
    return format < record.FormatCount && format < (uint32_t)kFormatSlots;
}

}  // namespace

bool ValidateParams(const SaveDataShort& image, const CameraRecord& record) {
    if (image.CurrentPreset > (record.MaxPreset & 0xF)) return false;
    if (image.CurrentPreset >= kPresetCount) return false;  // names no preset
    const PresetShort& p = image.Preset[image.CurrentPreset];
    return AreaFits(p, record) && InRange(record, kInqShutter, p.Shutter) &&
           InRange(record, kInqBrightness, p.Brightness) && InRange(record, kInqGain, p.Gain) &&
           InRange(record, kInqColour, p.Red) && InRange(record, kInqColour, p.Green) &&
           InRange(record, kInqColour, p.Blue) && InRange(record, kInqGamma, p.Gamma) &&
           InRange(record, kInqSatCoefficient, p.SatCoefficient) && FormatKnown(record, p.Format);
}

bool ValidateParams(const SaveDataLong& image, const CameraRecord& record) {
    if (image.CurrentPreset > (record.MaxPreset & 0xF)) return false;
    if (image.CurrentPreset >= kPresetCount) return false;  // names no preset
    const PresetLong& p = image.Preset[image.CurrentPreset];
    return AreaFits(p, record) && InRange(record, kInqShutter, p.Shutter) &&
           InRange(record, kInqBrightness, p.Brightness) && InRange(record, kInqGain, p.Gain) &&
           InRangeIfPresent(record, kInqColour, p.Red) &&
           InRangeIfPresent(record, kInqColour, p.Green) &&
           InRangeIfPresent(record, kInqColour, p.Blue) &&
           InRangeIfPresent(record, kInqGamma, p.Gamma) &&
           InRangeIfPresent(record, kInqSatCoefficient, p.SatCoefficient) &&
           FormatKnown(record, p.Format) &&
           InRangeIfPresent(record, kInqFrameExposure, p.FrameExposure) &&
           InRangeIfPresent(record, kInqSharpness, p.Sharpness) &&
           InRangeIfPresent(record, kInqIris, p.Iris);
}

namespace {

// The current preset of the working copy w, with the scan area and format in
// force, becomes preset p of the flash image f and then of w, and p becomes
// the current preset of both; then f is validated. Either layout.
template <typename SaveData>
bool SaveCurrentAs(const DeviceSlot& slot, SaveData& w, SaveData& f, int p, int current) {
    using Word = decltype(f.Preset[p].Format);
    f.Preset[p] = w.Preset[current];
    f.Preset[p].Width = (uint16_t)slot.ImgWidth;
    f.Preset[p].Height = (uint16_t)slot.ImgHeight;
    f.Preset[p].Left = (uint16_t)slot.ImgLeft;
    f.Preset[p].Top = (uint16_t)slot.ImgTop;
    f.Preset[p].Format = (Word)slot.Record.CurrentFormat;
    w.Preset[p] = f.Preset[p];
    w.CurrentPreset = f.CurrentPreset = (uint8_t)p;
    return ValidateParams(f, slot.Record);
}

}  // namespace
}  // namespace tav

using namespace tav;

extern "C" TAVCAM_API int32_t WINAPI USBSaveParams(const char* pCameraName, uint32_t nPreset) {
    if (!LibraryUsable()) return 0;
    Trace("Enter the USBSaveParams \r\n");
    int index = 0;
    if (!DeviceIndexFromName(pCameraName, &index)) return 0;
    if (!PresetNumberValid(nPreset)) return 0;
    DeviceSlot& slot = g_DeviceTable[index];
    const int p = (int)nPreset;
    const int current = CurrentPresetOf(slot);
    bool valid = false;
    const void* image = nullptr;

    // The current preset with the scan area and format in force becomes
    // preset p of the flash image, then of the working copy, and p becomes the
    // current preset of both. These changes stay in memory even when the
    // checks or the flash write fail.
    if (IsShortLayout(slot)) {
        valid = SaveCurrentAs(slot, slot.WorkShort, slot.FlashShort, p, current);
        image = &slot.FlashShort;
    } else {
        valid = SaveCurrentAs(slot, slot.WorkLong, slot.FlashLong, p, current);
        if (!valid) Trace("USBSaveParams: Validate Params failure. Exit. \r\n");
        image = &slot.FlashLong;
    }
    if (!valid) return 0;
    return WriteDataToFlash(index, kFlashPageSaveData, SaveDataSize(slot), image) ? 1 : 0;
}

extern "C" TAVCAM_API int32_t WINAPI USBLoadParams(const char* pCameraName, uint32_t nPreset) {
    if (!LibraryUsable()) return 0;
    Trace("Enter the USBLoadParams \r\n");
    int index = 0;
    if (!DeviceIndexFromName(pCameraName, &index)) return 0;
    if (!PresetNumberValid(nPreset)) return 0;
    DeviceSlot& slot = g_DeviceTable[index];
    const int p = (int)nPreset;

    // A failed read may leave the flash image partly overwritten; the working
    // copy and the camera stay as they were.
    void* image = IsShortLayout(slot) ? (void*)&slot.FlashShort : (void*)&slot.FlashLong;
    if (!ReadDataFromFlash(index, kFlashPageSaveData, SaveDataSize(slot), image)) return 0;
    // A camera with several formats selects the preset's format and makes it
    // the current one; a format that names no entry (16 or more) would take
    // the library outside its sixteen entries, so such a preset is refused
    // before it changes anything. With one format the byte is never used.
    uint32_t format = GetPresetField(slot, Copy::Flash, p, Field::Format);
    if (slot.Record.FormatCount > 1 && format >= (uint32_t)kFormatSlots) {
        Trace("USBLoadParams: %s preset %d names no format (%d), refused \r\n", pCameraName, p,
              (int)format);
        return 0;
    }

    // Preset p becomes current in the working copy; the flash image keeps the
    // CurrentPreset that flash holds.
    if (IsShortLayout(slot)) {
        slot.WorkShort.Preset[p] = slot.FlashShort.Preset[p];
        slot.WorkShort.CurrentPreset = (uint8_t)p;
        TraceShortPreset(slot, p);
    } else {
        slot.WorkLong.Preset[p] = slot.FlashLong.Preset[p];
        slot.WorkLong.CurrentPreset = (uint8_t)p;
    }

    if (!WriteLoadedPreset(index, pCameraName, slot, p)) return 0;

    // The scan area takes effect at the next capture or live-video start. The
    // shutter maximum follows the loaded height whatever bit 29 says.
    slot.ImgWidth = GetPresetField(slot, Copy::Working, p, Field::Width);
    slot.ImgHeight = GetPresetField(slot, Copy::Working, p, Field::Height);
    slot.ImgLeft = GetPresetField(slot, Copy::Working, p, Field::Left);
    slot.ImgTop = GetPresetField(slot, Copy::Working, p, Field::Top);
    uint32_t& shutterInq = slot.Record.FeatureInq[kInqShutter];
    shutterInq = InqWithMaximum(shutterInq, slot.ImgHeight);

    // Every process's next initialisation of this camera re-reads SaveData
    // and re-applies the preset that flash marks current.
    SetCameraChanged(index, true);
    Trace("USBLoadParams succesfull\r\n");
    return 1;
}

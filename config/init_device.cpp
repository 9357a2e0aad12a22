// USBInitDevice: brings a camera's slot of the device table up to date and
// puts the camera into the state of its current preset.
//
// A camera new to this process has both flash pages read; a camera already
// known is left alone (no traffic at all) unless bChanged in the shared block
// says that something happened to it since - a plug event or a preset loaded
// by some process - and then only SaveData is read again. Either way the
// current preset's geometry goes into the table and its settings are written
// to the camera's registers.
#include <string.h>

#include "config/device_table.h"
#include "config/preset_writes.h"
#include "core/attach.h"
#include "core/trace.h"
#include "device/device.h"

namespace tav {
namespace {

constexpr int32_t kInitOk = TAVCAM_INIT_OK;
constexpr size_t kNameBytes = sizeof(CameraRecord::CameraName);  // 255

// The full register set of every other model. The trigger mode goes as an
// on/off feature; the output signals go one bit of uiStateComplete each.
const PresetWrite kInitWritesLong[] = {
    {WriteWhen::FeaturePresent, kInqGain, CMD_WRITE_REG, 0x820, Field::Gain, -1},
    {WriteWhen::FeaturePresent, kInqBrightness, CMD_WRITE_REG, 0x800, Field::Brightness, -1},
    {WriteWhen::FeaturePresent, kInqShutter, CMD_WRITE_REG, 0x81C, Field::Shutter, -1},
    {WriteWhen::FeaturePresent, kInqSharpness, CMD_WRITE_REG, 0x808, Field::Sharpness, -1},
    {WriteWhen::FeaturePresent, kInqAutoExposure, CMD_WRITE_REG, 0x804, Field::AutoExposure, -1},
    {WriteWhen::FeaturePresent, kInqIris, CMD_WRITE_REG, 0x824, Field::Iris, -1},
    {WriteWhen::Always, 0, CMD_WRITE_REG, 0x3840, Field::Bits, -1},
    {WriteWhen::SeveralFormats, 0, CMD_WRITE_REG, 0x1FF, Field::Format, -1},
    {WriteWhen::FeaturePresent, kInqReg884, CMD_WRITE_REG, 0x884, Field::Reg884, -1},
    {WriteWhen::FeaturePresent, kInqReg888, CMD_WRITE_REG, 0x888, Field::Reg888, -1},
    {WriteWhen::FeaturePresent, kInqFrameExposure, CMD_WRITE_REG, 0x810, Field::FrameExposure, -1},
    {WriteWhen::FeaturePresent, kInqTriggerMode, CMD_SET_ONOFF, 0x830, Field::TriggerMode, -1},
    {WriteWhen::Always, 0, CMD_WRITE_REG, 0x1E50, Field::Reg1E50, -1},
    {WriteWhen::Always, 0, CMD_WRITE_REG, 0x1E54, Field::Reg1E54, -1},
    {WriteWhen::Always, 0, CMD_WRITE_REG, 0x1E00, Field::uiStateComplete, 0},
    {WriteWhen::Always, 0, CMD_WRITE_REG, 0x1E01, Field::uiStateComplete, 1},
    {WriteWhen::Always, 0, CMD_WRITE_REG, 0x1E02, Field::uiStateComplete, 2},
    {WriteWhen::Always, 0, CMD_WRITE_REG, 0x1E03, Field::uiStateComplete, 3},
};

static_assert(sizeof kInitWritesLong / sizeof kInitWritesLong[0] == 18, "eighteen long writes");

char FoldCase(char c) {
    return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c;
}

// The application's name against the cached one, ignoring the case of ASCII
// letters, over at most 255 characters (the cached name need not end within
// them when it came straight from flash).
bool SameCameraName(const char* name, const char* cached) {
    for (size_t i = 0; i < kNameBytes; ++i) {
        char a = FoldCase(name[i]);
        if (a != FoldCase(cached[i])) return false;
        if (a == 0) return true;
    }
    // 255 equal characters and no end: the cached name is the unterminated
    // field of a record read from flash by an initialisation that then failed
    // (a stored name is cut to 254). Only a record built for it gets here.
    return true;
}

// The cached name takes the application's name with its index suffix; at
// most 254 characters and the terminator, the rest of the field zero.
void StoreCameraName(CameraRecord& record, const char* name) {
    size_t n = strnlen(name, kNameBytes - 1);
    memcpy(record.CameraName, name, n);
    memset(record.CameraName + n, 0, kNameBytes - n);
}

// Reads flash page 1 into the flash image of the camera's layout.
bool ReadSaveData(int index, DeviceSlot& slot) {
    void* image = IsShortLayout(slot) ? (void*)&slot.FlashShort : (void*)&slot.FlashLong;
    return ReadDataFromFlash(index, kFlashPageSaveData, SaveDataSize(slot), image) != 0;
}

// A page whose CurrentPreset names no preset (above 3), or whose current
// preset names no format entry (16 or more), would make the library read and
// write outside its tables. Such a page is refused; the camera's flash is
// then to be rewritten with USBSaveParams or the flash functions.
bool SaveDataUsable(const DeviceSlot& slot) {
    uint8_t current =
        IsShortLayout(slot) ? slot.FlashShort.CurrentPreset : slot.FlashLong.CurrentPreset;
    if (current >= kPresetCount) return false;
    return GetPresetField(slot, Copy::Flash, current, Field::Format) < (uint32_t)kFormatSlots;
}

// The preset's scan area and format become the ones in force; the entry of
// that format remembers the area, and the shutter's maximum follows the height
// unless the camera record pins it (bit 29).
void ApplyPresetGeometry(DeviceSlot& slot, int preset, const char* name, bool traceFormat) {
    CameraRecord& record = slot.Record;
    uint32_t left = GetPresetField(slot, Copy::Flash, preset, Field::Left);
    uint32_t top = GetPresetField(slot, Copy::Flash, preset, Field::Top);
    uint32_t width = GetPresetField(slot, Copy::Flash, preset, Field::Width);
    uint32_t height = GetPresetField(slot, Copy::Flash, preset, Field::Height);
    record.CurrentFormat = GetPresetField(slot, Copy::Flash, preset, Field::Format);
    if (traceFormat)
        Trace("USBInitDevice: %s Current Format = %d \r\n", name, (int)record.CurrentFormat);
    FormatEntry& entry = record.Formats[record.CurrentFormat];  // < 16, SaveDataUsable
    entry.Height = height;
    entry.Width = width;
    entry.Origin = (left << 16) | top;
    uint32_t& shutterInq = record.FeatureInq[kInqShutter];
    if (!(shutterInq & kInqFlag29)) shutterInq = InqWithMaximum(shutterInq, height);
    slot.ImgWidth = width;
    slot.ImgHeight = height;
    slot.ImgLeft = left;
    slot.ImgTop = top;
}

// Writes the working copy's current preset to the camera; false at the first
// write that fails (later entries are not sent).
bool WritePreset(int index, const DeviceSlot& slot) {
    int preset = CurrentPresetOf(slot);
    bool shortLayout = IsShortLayout(slot);
    const PresetWrite* writes = shortLayout ? kPresetWritesShort : kInitWritesLong;
    size_t count = shortLayout ? sizeof kPresetWritesShort / sizeof kPresetWritesShort[0]
                               : sizeof kInitWritesLong / sizeof kInitWritesLong[0];
    for (size_t i = 0; i < count; ++i) {
        const PresetWrite& w = writes[i];
        if (!WriteApplies(slot.Record, w)) continue;
        uint32_t value = WriteValue(slot, preset, w);
        if (w.reg == 0x1E00)
            Trace("uiStateComplete = %d \r\n",
                  (int)GetPresetField(slot, Copy::Working, preset, Field::uiStateComplete));
        if (!SendPresetWrite(index, w, value)) return false;
        if (w.reg == 0x810 && !shortLayout)
            Trace("USBInit: Device %d Set Frame Exposure = %d \r\n", index, (int)value);
    }
    return true;
}

}  // namespace
}  // namespace tav

using namespace tav;

extern "C" TAVCAM_API int32_t WINAPI USBInitDevice(const char* pCameraName) {
    if (!LibraryUsable()) return 0;
    Trace("Enter the USBInitDevice\r\n");
    int index = 0;
    if (!DeviceIndexFromName(pCameraName, &index)) return 0;
    DeviceSlot& slot = g_DeviceTable[index];

    // A busy camera stops the call before anything is read or written, even
    // when nothing would have been done.
    int32_t busy = 0;
    if (!PassesBusyCheck(index, "USBInitDevice", &busy)) return busy;

    // The same camera as last time in this process: nothing to do unless the
    // shared block says it changed.
    bool newCamera = !SameCameraName(pCameraName, slot.Record.CameraName);
    if (!newCamera && !CameraChanged(index)) return kInitOk;

    if (newCamera) {
        // A failed read leaves the record partly overwritten; its name then
        // doesn't match and the next call reads again.
        if (!ReadDataFromFlash(index, kFlashPageRecord, sizeof(CameraRecord), &slot.Record))
            return 0;
    }
    if (!ReadSaveData(index, slot)) return 0;
    if (newCamera) {
        char flashName[kNameBytes + 1];
        memcpy(flashName, slot.Record.CameraName, kNameBytes);
        flashName[kNameBytes] = 0;
        if (IsShortLayout(slot))
            Trace("read camera's saved data from %s \r\n", flashName);
        else
            Trace("read camera's saved data ex from %s \r\n", flashName);
    }
    if (!SaveDataUsable(slot)) {
        Trace("USBInitDevice: %s saved data names no preset or format, refused \r\n", pCameraName);
        return 0;
    }
    if (IsShortLayout(slot))
        memcpy(&slot.WorkShort, &slot.FlashShort, sizeof slot.WorkShort);
    else
        memcpy(&slot.WorkLong, &slot.FlashLong, sizeof slot.WorkLong);
    StoreCameraName(slot.Record, pCameraName);
    ApplyPresetGeometry(slot, FlashPresetOf(slot), pCameraName, newCamera);

    // A failed write leaves the slot updated and bChanged as it was.
    if (!WritePreset(index, slot)) return 0;

    SetCameraChanged(index, false);
    // No reader thread: the camera is idle for capture and live video. A
    // running reader keeps its claim.
    ReadParameters& rp = slot.ReadParameters;
    if (ReaderThreadOf(rp) == nullptr) {
        ReleaseCamera(rp);
        SetStopRequest(rp, 0);
    }
    return kInitOk;
}

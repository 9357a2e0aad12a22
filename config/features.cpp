// Imaging features: setting writes the camera register of the feature and
// records the value in the preset in use, so that saving the preset keeps it;
// reading answers, for most features, from that recorded value without asking
// the camera.
#include "config/device_table.h"
#include "core/attach.h"
#include "core/trace.h"
#include "device/device.h"

namespace tav {
namespace {

enum class Check : uint8_t {
    None,
    InqRange,  // within FeatureInq[inq]'s minimum and maximum
    BitsMax3,  // the bit depth selector is 0..3
};

enum class StoreWhen : uint8_t {
    Always,
    Model2OrAbove,  // CameraModel >= 2 (older cameras have no such preset field)
    Never,
};

// One row of the set table. A feature is sent as CMD_WRITE_REG of its
// identifier as the register address, unless the row has no command; its
// value is stored only after the command succeeded.
struct SetRow {
    uint32_t id;
    bool command;
    Check check;
    uint8_t inq;
    Field field;
    StoreWhen store;
    int8_t bit;  // -1: the whole value; 0..3: bit 0 of the value into that bit of uiStateComplete
};

const SetRow kSetTable[] = {
    {0x800, true, Check::InqRange, kInqBrightness, Field::Brightness, StoreWhen::Always, -1},
    {0x804, true, Check::None, 0, Field::AutoExposure, StoreWhen::Model2OrAbove, -1},
    {0x808, true, Check::None, 0, Field::Sharpness, StoreWhen::Model2OrAbove, -1},
    {0x80D, true, Check::None, 0, Field::Red, StoreWhen::Always, -1},
    {0x80E, true, Check::None, 0, Field::Green, StoreWhen::Always, -1},
    {0x80F, true, Check::None, 0, Field::Blue, StoreWhen::Always, -1},
    // The short layout has no frame-exposure field: there the value is only sent.
    {0x810, true, Check::InqRange, kInqFrameExposure, Field::FrameExposure, StoreWhen::Always, -1},
    {0x814, false, Check::None, 0, Field::SatCoefficient, StoreWhen::Always, -1},
    {0x818, false, Check::None, 0, Field::Gamma, StoreWhen::Always, -1},
    {0x81C, true, Check::InqRange, kInqShutter, Field::Shutter, StoreWhen::Always, -1},
    {0x820, true, Check::InqRange, kInqGain, Field::Gain, StoreWhen::Always, -1},
    {0x824, true, Check::None, 0, Field::Iris, StoreWhen::Model2OrAbove, -1},
    {0x1E00, true, Check::None, 0, Field::uiStateComplete, StoreWhen::Always, 0},
    {0x1E01, true, Check::None, 0, Field::uiStateComplete, StoreWhen::Always, 1},
    {0x1E02, true, Check::None, 0, Field::uiStateComplete, StoreWhen::Always, 2},
    {0x1E03, true, Check::None, 0, Field::uiStateComplete, StoreWhen::Always, 3},
    {0x1E50, true, Check::None, 0, Field::Reg1E50, StoreWhen::Always, -1},
    {0x1E54, true, Check::None, 0, Field::Reg1E54, StoreWhen::Always, -1},
    {0x3840, true, Check::BitsMax3, 0, Field::Bits, StoreWhen::Always, -1},
};

// Any identifier not in the table is written to the register of that address
// and recorded nowhere.
const SetRow kOtherFeature = {0, true, Check::None, 0, Field::Count, StoreWhen::Never, -1};

const SetRow& FindSetRow(uint32_t id) {
    for (const SetRow& row : kSetTable)
        if (row.id == id) return row;
    return kOtherFeature;
}

bool Passes(const SetRow& row, const CameraRecord& record, uint32_t value) {
    switch (row.check) {
        case Check::None:
            return true;
        case Check::InqRange:
            return InqInRange(record.FeatureInq[row.inq], value);
        case Check::BitsMax3:
            return value <= 3;
    }
    return false;  // every Check returns above; this only ends the function
}

void TraceSet(uint32_t id, const char* name, uint32_t value) {
    int v = (int)value;
    switch (id) {
        case 0x800:
            Trace("USBSetCameraFeature: %s Set Brightness = %d \r\n", name, v);
            break;
        case 0x804:
            Trace("USBSetCameraFeature: %s Set Auto Exposure = %d \r\n", name, v);
            break;
        case 0x808:
            Trace("USBSetCameraFeature: %s Set Sharpness = %d \r\n", name, v);
            break;
        case 0x80D:
            Trace("Set Camera Feature: %s Red = %d \r\n", name, v);
            break;
        case 0x80E:
            Trace("Set Camera Feature: %s Green = %d \r\n", name, v);
            break;
        case 0x80F:
            Trace("Set Camera Feature: %s Blue = %d \r\n", name, v);
            break;
        case 0x810:
            Trace("USBSetCameraFeature: %s Set Frame Exposure = %d \r\n", name, v);
            break;
        case 0x81C:
            Trace("USBSetCameraFeature: %s Set Shutter = %d \r\n", name, v);
            break;
        case 0x820:
            Trace("USBSetCameraFeature: %s Set Gain = %d \r\n", name, v);
            break;
        case 0x824:
            Trace("USBSetCameraFeature: %s Set Iris = %d \r\n", name, v);
            break;
        case 0x1E00:
            Trace("USBSetCameraFeature: %s Set OUT0_SIGNAL_REG = %d \r\n", name, v);
            break;
        case 0x1E01:
            Trace("USBSetCameraFeature: %s Set OUT1_SIGNAL_REG = %d \r\n", name, v);
            break;
        case 0x1E02:
            Trace("USBSetCameraFeature: %s Set OUT2_SIGNAL_REG = %d \r\n", name, v);
            break;
        case 0x1E03:
            Trace("USBSetCameraFeature: %s Set OUT3_SIGNAL_REG = %d \r\n", name, v);
            break;
        case 0x3840:
            Trace("USBSetCameraFeature: %s Set Bits = %d \r\n", name, v);
            break;
        default:
            break;
    }
}

void Store(DeviceSlot& slot, const SetRow& row, uint32_t value) {
    if (row.store == StoreWhen::Never) return;
    if (row.store == StoreWhen::Model2OrAbove && slot.Record.CameraModel < 2) return;
    const int preset = CurrentPresetOf(slot);
    if (row.bit >= 0) {
        uint32_t word = GetPresetField(slot, Copy::Working, preset, row.field);
        uint32_t mask = 1u << row.bit;
        word = (value & 1u) ? (word | mask) : (word & ~mask);
        SetPresetField(slot, Copy::Working, preset, row.field, word);
        return;
    }
    SetPresetField(slot, Copy::Working, preset, row.field, value);
}

// Asks the camera for a register: the first word of the reply, false when the
// query failed.
bool ReadRegister(int index, uint32_t reg, uint32_t* value) {
    uint32_t first = 0, second = 0;
    if (!ReceiveStatus(index, CMD_READ_REG, reg, &first, &second)) return false;
    *value = first;
    return true;
}

bool WritableValue(uint32_t* pValue) {
    return pValue && !plat::IsBadWritePtr(pValue, sizeof *pValue);
}

}  // namespace
}  // namespace tav

using namespace tav;

extern "C" TAVCAM_API int32_t WINAPI USBSetCameraFeature(const char* pCameraName, uint32_t nFeature,
                                                         uint32_t nValue) {
    if (!LibraryUsable()) return 0;
    Trace("Enter the USBSetCameraFeature \r\n");
    int index = 0;
    if (!DeviceIndexFromName(pCameraName, &index)) return 0;
    DeviceSlot& slot = g_DeviceTable[index];
    const SetRow& row = FindSetRow(nFeature);
    // A rejected value leaves the camera and the preset as they were.
    if (!Passes(row, slot.Record, nValue)) return 0;
    if (row.command) {
        if (!WriteRegister(index, nFeature, nValue)) return 0;
        TraceSet(nFeature, pCameraName, nValue);
    }
    Store(slot, row, nValue);
    // A running live video picks the coefficient up with its next frame: the
    // value as the preset keeps it (8 bits in the long layout, 16 in the
    // short), so the stream and the camera record never disagree.
    if (nFeature == FEATURE_SAT_COEFFICIENT)
        SetSatCoefficient(
            slot.ReadParameters,
            GetPresetField(slot, Copy::Working, CurrentPresetOf(slot), Field::SatCoefficient));
    return 1;
}

extern "C" TAVCAM_API int32_t WINAPI USBGetCameraFeature(const char* pCameraName, uint32_t nFeature,
                                                         uint32_t* pValue) {
    if (!LibraryUsable()) return 0;
    int index = 0;
    if (!DeviceIndexFromName(pCameraName, &index)) return 0;
    if (!WritableValue(pValue)) return 0;
    const DeviceSlot& slot = g_DeviceTable[index];
    const int preset = CurrentPresetOf(slot);
    const bool model2 = slot.Record.CameraModel >= 2;
    auto field = [&](Field f) { return GetPresetField(slot, Copy::Working, preset, f); };

    switch (nFeature) {
        case 0x614:  // live video or a capture runs on the camera
            *pValue = CameraIdle(slot.ReadParameters) ? 0 : 1;
            return 1;
        case 0x620:  // the preset number last read from or written to flash
            *pValue =
                IsShortLayout(slot) ? slot.FlashShort.CurrentPreset : slot.FlashLong.CurrentPreset;
            return 1;
        case 0x624:
            *pValue =
                IsShortLayout(slot) ? slot.WorkShort.CurrentPreset : slot.WorkLong.CurrentPreset;
            return 1;
        case 0x800:
            *pValue = field(Field::Brightness);
            return 1;
        case 0x804:  // older cameras keep no such value: the variable stays
            if (model2) *pValue = field(Field::AutoExposure);
            return 1;
        case 0x808:
            if (model2) *pValue = field(Field::Sharpness);
            return 1;
        case 0x80D:
            *pValue = field(Field::Red);
            return 1;
        case 0x80E:
            *pValue = field(Field::Green);
            return 1;
        case 0x80F:
            *pValue = field(Field::Blue);
            return 1;
        case 0x810:
            if (IsShortLayout(slot)) {
                *pValue = 0;
                Trace(
                    "USBGetCameraFeature: Frames Exposure is not implemented in surrent SW "
                    "version= %d \r\n",
                    (int)slot.Record.CameraModel);
            } else {
                *pValue = field(Field::FrameExposure);
            }
            return 1;
        case 0x814:
            *pValue = field(Field::SatCoefficient);
            return 1;
        case 0x818:
            *pValue = field(Field::Gamma);
            return 1;
        case 0x81C:
            *pValue = field(Field::Shutter);
            Trace("USBGetCameraFeature: %s's shutter = %d \r\n", pCameraName, (int)*pValue);
            return 1;
        case 0x820:
            *pValue = field(Field::Gain);
            Trace("USBGetCameraFeature: %s's gain = %d \r\n", pCameraName, (int)*pValue);
            return 1;
        case 0x824:
            if (model2) *pValue = field(Field::Iris);
            return 1;
        case 0x1C14:
            *pValue = field(Field::Info1C14);
            return 1;
        case 0x1E08:
        case 0x1E09:
        case 0x1E0A:
        case 0x1E0B: {
            // The four input lines are all in register 0x1E08; the camera
            // reports them in bits 15..8 of the reply's first word.
            uint32_t word = 0;
            if (!ReadRegister(index, 0x1E08, &word)) return 0;
            *pValue = (word >> 8) & 0xFFu;
            return 1;
        }
        case 0x1E14:
            *pValue = field(Field::uiStateComplete);
            return 1;
        case 0x1E50:
            *pValue = field(Field::Reg1E50);
            return 1;
        case 0x1E54:
            *pValue = field(Field::Reg1E54);
            return 1;
        case 0x3840: {
            // Bit depth selector 3 reads back as 2.
            uint32_t bits = field(Field::Bits);
            *pValue = bits == 3 ? 2 : bits;
            return 1;
        }
        default: {
            uint32_t word = 0;
            if (!ReadRegister(index, nFeature, &word)) return 0;
            *pValue = word;
            return 1;
        }
    }
}

extern "C" TAVCAM_API int32_t WINAPI USBSetOnOffFeature(const char* pCameraName, uint32_t nFeature,
                                                        uint32_t nValue) {
    if (!LibraryUsable()) return 0;
    Trace("Enter the USBSetOnOffFeature \r\n");
    int index = 0;
    if (!DeviceIndexFromName(pCameraName, &index)) return 0;
    if (!SendCommand(index, CMD_SET_ONOFF, nFeature, nValue, 0)) return 0;
    // Only the trigger mode is recorded in the preset.
    if (nFeature == FEATURE_TRIGGER_MODE) {
        Trace("%s Set ON_OFF_FEATURE  TRIGGER_MODE  = %d \r\n", pCameraName, (int)nValue);
        DeviceSlot& slot = g_DeviceTable[index];
        SetPresetField(slot, Copy::Working, CurrentPresetOf(slot), Field::TriggerMode, nValue);
    }
    return 1;
}

extern "C" TAVCAM_API int32_t WINAPI USBGetOnOffFeature(const char* pCameraName, uint32_t nFeature,
                                                        uint32_t* pValue) {
    if (!LibraryUsable()) return 0;
    int index = 0;
    if (!DeviceIndexFromName(pCameraName, &index)) return 0;
    if (nFeature != FEATURE_TRIGGER_MODE) return 1;  // the variable stays as it was
    if (!WritableValue(pValue)) return 0;
    const DeviceSlot& slot = g_DeviceTable[index];
    *pValue = GetPresetField(slot, Copy::Working, CurrentPresetOf(slot), Field::TriggerMode);
    return 1;
}

// Automatic modes are sent to the camera and never recorded.
extern "C" TAVCAM_API int32_t WINAPI USBSetAutoFeature(const char* pCameraName, uint32_t nFeature,
                                                       uint32_t nValue) {
    if (!LibraryUsable()) return 0;
    int index = 0;
    if (!DeviceIndexFromName(pCameraName, &index)) return 0;
    return SendCommand(index, CMD_SET_AUTO, nFeature, nValue, 0) ? 1 : 0;
}

// Reading an automatic mode is not available: the variable is zeroed and the
// result is 0, whatever the name and identifier.
extern "C" TAVCAM_API int32_t WINAPI USBGetAutoFeature(const char*, uint32_t, uint32_t* pValue) {
    if (!LibraryUsable()) return 0;
    if (WritableValue(pValue)) *pValue = 0;
    return 0;
}

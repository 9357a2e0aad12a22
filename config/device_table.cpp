// The device table, preset fields by name, and the small steps that the
// configuration operations share.
#include "config/device_table.h"

#include <string.h>

#include "core/attach.h"
#include "core/trace.h"
#include "device/device.h"

namespace tav {

DeviceSlot g_DeviceTable[kMaxCameras];

namespace {

// Where a field lives in one preset of a layout; size 0: the layout lacks it.
struct FieldPlace {
    uint8_t offset;
    uint8_t size;
};

#define LONG_FIELD(f) \
    { (uint8_t) offsetof(PresetLong, f), (uint8_t)sizeof(PresetLong::f) }
#define SHORT_FIELD(f) \
    { (uint8_t) offsetof(PresetShort, f), (uint8_t)sizeof(PresetShort::f) }

// Indexed by Field, in the order of its enumerators.
const FieldPlace kLongPlaces[(int)Field::Count] = {
    LONG_FIELD(Left),
    LONG_FIELD(Top),
    LONG_FIELD(Width),
    LONG_FIELD(Height),
    LONG_FIELD(Shutter),
    LONG_FIELD(Brightness),
    LONG_FIELD(Gain),
    LONG_FIELD(Red),
    LONG_FIELD(Green),
    LONG_FIELD(Blue),
    LONG_FIELD(Gamma),
    LONG_FIELD(SatCoefficient),
    LONG_FIELD(Bits),
    LONG_FIELD(Format),
    LONG_FIELD(TriggerMode),
    LONG_FIELD(Reg1E54),
    LONG_FIELD(Reg1E50),
    LONG_FIELD(Info1C14),
    LONG_FIELD(uiStateComplete),
    LONG_FIELD(FrameExposure),
    LONG_FIELD(Sharpness),
    LONG_FIELD(AutoExposure),
    LONG_FIELD(Iris),
    LONG_FIELD(Reg884),
    LONG_FIELD(Reg888),
};

const FieldPlace kShortPlaces[(int)Field::Count] = {
    SHORT_FIELD(Left),
    SHORT_FIELD(Top),
    SHORT_FIELD(Width),
    SHORT_FIELD(Height),
    SHORT_FIELD(Shutter),
    SHORT_FIELD(Brightness),
    SHORT_FIELD(Gain),
    SHORT_FIELD(Red),
    SHORT_FIELD(Green),
    SHORT_FIELD(Blue),
    SHORT_FIELD(Gamma),
    SHORT_FIELD(SatCoefficient),
    SHORT_FIELD(Bits),
    SHORT_FIELD(Format),
    SHORT_FIELD(TriggerMode),
    SHORT_FIELD(Reg1E54),
    SHORT_FIELD(Reg1E50),
    SHORT_FIELD(Info1C14),
    SHORT_FIELD(uiStateComplete),
    {0, 0},  // FrameExposure: not in the short layout
    {0, 0},  // Sharpness
    {0, 0},  // AutoExposure
    {0, 0},  // Iris
    {0, 0},  // Reg884
    {0, 0},  // Reg888
};

#undef LONG_FIELD
#undef SHORT_FIELD

static_assert((int)Field::Reg888 + 1 == (int)Field::Count, "every field has a place");

const uint8_t* PresetBytes(const DeviceSlot& slot, Copy copy, int preset) {
    int p = preset & (kPresetCount - 1);
    if (IsShortLayout(slot)) {
        const SaveDataShort& d = copy == Copy::Working ? slot.WorkShort : slot.FlashShort;
        return reinterpret_cast<const uint8_t*>(&d.Preset[p]);
    }
    const SaveDataLong& d = copy == Copy::Working ? slot.WorkLong : slot.FlashLong;
    return reinterpret_cast<const uint8_t*>(&d.Preset[p]);
}

uint8_t* PresetBytes(DeviceSlot& slot, Copy copy, int preset) {
    int p = preset & (kPresetCount - 1);
    if (IsShortLayout(slot)) {
        SaveDataShort& d = copy == Copy::Working ? slot.WorkShort : slot.FlashShort;
        return reinterpret_cast<uint8_t*>(&d.Preset[p]);
    }
    SaveDataLong& d = copy == Copy::Working ? slot.WorkLong : slot.FlashLong;
    return reinterpret_cast<uint8_t*>(&d.Preset[p]);
}

FieldPlace PlaceOf(bool shortLayout, Field field) {
    return (shortLayout ? kShortPlaces : kLongPlaces)[(int)field];
}

}  // namespace

bool LayoutHasField(bool shortLayout, Field field) {
    return field < Field::Count && PlaceOf(shortLayout, field).size != 0;
}

uint32_t GetPresetField(const DeviceSlot& slot, Copy copy, int preset, Field field) {
    if (!LayoutHasField(IsShortLayout(slot), field)) return 0;
    FieldPlace place = PlaceOf(IsShortLayout(slot), field);
    const uint8_t* at = PresetBytes(slot, copy, preset) + place.offset;
    // Little-endian, as in flash.
    return place.size == 1 ? at[0] : (uint32_t)(at[0] | (at[1] << 8));
}

void SetPresetField(DeviceSlot& slot, Copy copy, int preset, Field field, uint32_t value) {
    if (!LayoutHasField(IsShortLayout(slot), field)) return;
    FieldPlace place = PlaceOf(IsShortLayout(slot), field);
    uint8_t* at = PresetBytes(slot, copy, preset) + place.offset;
    at[0] = (uint8_t)value;
    if (place.size == 2) at[1] = (uint8_t)(value >> 8);
}

bool CameraChanged(int index) {
    SharedData* shared = Shared();
    if (!shared || index < 0 || index >= kMaxCameras) return false;
    return SharedLoad(shared->bChanged[index]) != 0;
}

void SetCameraChanged(int index, bool changed) {
    SharedData* shared = Shared();
    if (!shared || index < 0 || index >= kMaxCameras) return;
    SharedStore(shared->bChanged[index], changed ? 1u : 0u);
}

bool PassesBusyCheck(int index, const char* who, int32_t* result) {
    if (g_DeviceTable[index].Record.CameraModel <= 2) return true;
    uint32_t status = 0;
    if (!GetCameraStatus(index, &status)) {
        *result = 0;
        return false;
    }
    if (who) Trace("%s: Camera-%d Status %d \r\n", who, index, (int)status);
    if (status == 0) return true;
    *result = TAVCAM_BUSY;
    return false;
}

bool WriteRegister(int index, uint32_t reg, uint32_t value) {
    return SendCommand(index, CMD_WRITE_REG, reg, value & 0xFFFFu, 0) != 0;
}

}  // namespace tav

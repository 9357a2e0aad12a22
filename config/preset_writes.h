// Writing a preset's settings to the camera's registers: the shape of one
// entry of the register lists that initialisation and preset loading send.
//
// Each list is a fixed table in the file of its operation, in the order the
// camera expects the writes. An entry names its condition, the command, the
// register (or on/off feature) and the preset field whose value it sends,
// widened to 16 bits, with 0 as the third word.
#pragma once

#include <stdint.h>

#include "config/device_table.h"
#include "device/device.h"

namespace tav {

enum class WriteWhen : uint8_t {
    Always,
    FeaturePresent,  // bit 31 of FeatureInq[inq] is set
    SeveralFormats,  // FormatCount greater than 1
};

struct PresetWrite {
    WriteWhen when;
    uint8_t inq;      // FeatureInq index for FeaturePresent
    uint8_t command;  // CMD_WRITE_REG or CMD_SET_ONOFF
    uint16_t reg;     // register address or on/off feature
    Field field;      // the preset field whose value is sent
    int8_t bit;       // -1: the whole field; 0..3: only that bit of uiStateComplete
};

inline bool WriteApplies(const CameraRecord& record, const PresetWrite& w) {
    switch (w.when) {
        case WriteWhen::Always:
            return true;
        case WriteWhen::FeaturePresent:
            return InqPresent(record.FeatureInq[w.inq]);
        case WriteWhen::SeveralFormats:
            return record.FormatCount > 1;
    }
    return false;  // every WriteWhen returns above; this only ends the function
}

inline uint32_t WriteValue(const DeviceSlot& slot, int preset, const PresetWrite& w) {
    uint32_t value = GetPresetField(slot, Copy::Working, preset, w.field);
    return w.bit < 0 ? value : (value >> w.bit) & 1u;
}

// The reduced register set of CameraModel 1 (short layout): initialisation
// and preset loading send the same five writes in the same order.
constexpr PresetWrite kPresetWritesShort[] = {
    {WriteWhen::FeaturePresent, kInqGain, CMD_WRITE_REG, 0x820, Field::Gain, -1},
    {WriteWhen::FeaturePresent, kInqBrightness, CMD_WRITE_REG, 0x800, Field::Brightness, -1},
    {WriteWhen::FeaturePresent, kInqShutter, CMD_WRITE_REG, 0x81C, Field::Shutter, -1},
    {WriteWhen::Always, 0, CMD_WRITE_REG, 0x3840, Field::Bits, -1},
    {WriteWhen::SeveralFormats, 0, CMD_WRITE_REG, 0x1FF, Field::Format, -1},
};
static_assert(sizeof kPresetWritesShort / sizeof kPresetWritesShort[0] == 5, "five short writes");

// Sends one entry: the command with register, value and third word 0.
inline bool SendPresetWrite(int index, const PresetWrite& w, uint32_t value) {
    return SendCommand(index, w.command, w.reg, value & 0xFFFFu, 0) != 0;
}

}  // namespace tav

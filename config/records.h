// SaveData: flash page 1 of the camera, four presets of user settings and the
// number of the preset in use.
//
// Two layouts exist. Cameras of CameraModel 1 keep the short one (138 bytes,
// 34-byte presets); every other model keeps the long one (202 bytes, 50-byte
// presets). The page bytes are copied unchanged into these structures, so
// their fields sit at exactly the flash offsets: every field is naturally
// aligned, no packing is needed, and the static_asserts below pin each offset.
// Multi-byte fields are little-endian in flash, which is the byte order of
// every target we build for (checked below).
//
// Fields named reservedNN are bytes the library carries but never interprets;
// they travel unchanged between flash and the working copy.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "tavcam.h"

#if defined(__BYTE_ORDER__) && defined(__ORDER_LITTLE_ENDIAN__)
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "flash records are little-endian and are mapped onto native structures");
#endif

namespace tav {

constexpr int kPresetCount = 4;   // presets 0..3
constexpr int kFormatSlots = 16;  // FormatEntry records of a camera record
constexpr uint32_t kFlashPageRecord = 0;
constexpr uint32_t kFlashPageSaveData = 1;

// One preset of the long layout (CameraModel other than 1).
struct PresetLong {
    uint16_t Left;             //  0: scan-area left offset, pixels
    uint16_t Top;              //  2: scan-area top offset, lines
    uint16_t Width;            //  4: pixels
    uint16_t Height;           //  6: lines
    uint16_t Shutter;          //  8: register 0x81C
    uint16_t Brightness;       // 10: register 0x800
    uint8_t Gain;              // 12: register 0x820
    uint8_t Red;               // 13: register 0x80D
    uint8_t Green;             // 14: register 0x80E
    uint8_t Blue;              // 15: register 0x80F
    uint8_t Gamma;             // 16
    uint8_t SatCoefficient;    // 17: saturation coefficient of the colour conversion
    uint8_t Bits;              // 18: register 0x3840, 0..3
    uint8_t Format;            // 19: register 0x1FF, becomes CurrentFormat
    uint8_t TriggerMode;       // 20: on/off feature 0x830
    uint8_t Reg1E54;           // 21: register 0x1E54
    uint8_t Reg1E50;           // 22: register 0x1E50
    uint8_t reserved23;        // 23
    uint16_t Info1C14;         // 24: reported for feature 0x1C14, never written
    uint16_t uiStateComplete;  // 26: bits 0..3: output signal registers 0x1E00..0x1E03
    uint16_t FrameExposure;    // 28: register 0x810
    uint16_t Sharpness;        // 30: register 0x808
    uint16_t AutoExposure;     // 32: register 0x804
    uint16_t Iris;             // 34: register 0x824
    uint16_t Reg884;           // 36: register 0x884
    uint16_t Reg888;           // 38: register 0x888
    uint8_t reserved40[10];    // 40
};

// One preset of the short layout (CameraModel 1).
struct PresetShort {
    uint16_t Left;             //  0
    uint16_t Top;              //  2
    uint16_t Width;            //  4
    uint16_t Height;           //  6
    uint16_t Shutter;          //  8: register 0x81C
    uint16_t Brightness;       // 10: register 0x800
    uint8_t Gain;              // 12: register 0x820
    uint8_t Red;               // 13
    uint8_t Green;             // 14
    uint8_t Blue;              // 15
    uint8_t Gamma;             // 16
    uint8_t reserved17;        // 17
    uint16_t SatCoefficient;   // 18
    uint16_t Bits;             // 20: register 0x3840
    uint16_t Format;           // 22: register 0x1FF
    uint16_t TriggerMode;      // 24: on/off feature 0x830
    uint16_t Reg1E50;          // 26: register 0x1E50
    uint16_t Reg1E54;          // 28: register 0x1E54
    uint16_t Info1C14;         // 30
    uint16_t uiStateComplete;  // 32
};

struct SaveDataLong {
    uint8_t CurrentPreset;            // 0: preset in use, 0..3
    uint8_t reserved1;                // 1
    PresetLong Preset[kPresetCount];  // 2: preset p at 2 + 50 p
};

struct SaveDataShort {
    uint8_t CurrentPreset;             // 0
    uint8_t reserved1;                 // 1
    PresetShort Preset[kPresetCount];  // 2: preset p at 2 + 34 p
};

static_assert(sizeof(PresetLong) == 50, "long preset is 50 bytes");
static_assert(offsetof(PresetLong, Left) == 0, "PresetLong.Left");
static_assert(offsetof(PresetLong, Top) == 2, "PresetLong.Top");
static_assert(offsetof(PresetLong, Width) == 4, "PresetLong.Width");
static_assert(offsetof(PresetLong, Height) == 6, "PresetLong.Height");
static_assert(offsetof(PresetLong, Shutter) == 8, "PresetLong.Shutter");
static_assert(offsetof(PresetLong, Brightness) == 10, "PresetLong.Brightness");
static_assert(offsetof(PresetLong, Gain) == 12, "PresetLong.Gain");
static_assert(offsetof(PresetLong, Red) == 13, "PresetLong.Red");
static_assert(offsetof(PresetLong, Green) == 14, "PresetLong.Green");
static_assert(offsetof(PresetLong, Blue) == 15, "PresetLong.Blue");
static_assert(offsetof(PresetLong, Gamma) == 16, "PresetLong.Gamma");
static_assert(offsetof(PresetLong, SatCoefficient) == 17, "PresetLong.SatCoefficient");
static_assert(offsetof(PresetLong, Bits) == 18, "PresetLong.Bits");
static_assert(offsetof(PresetLong, Format) == 19, "PresetLong.Format");
static_assert(offsetof(PresetLong, TriggerMode) == 20, "PresetLong.TriggerMode");
static_assert(offsetof(PresetLong, Reg1E54) == 21, "PresetLong.Reg1E54");
static_assert(offsetof(PresetLong, Reg1E50) == 22, "PresetLong.Reg1E50");
static_assert(offsetof(PresetLong, Info1C14) == 24, "PresetLong.Info1C14");
static_assert(offsetof(PresetLong, uiStateComplete) == 26, "PresetLong.uiStateComplete");
static_assert(offsetof(PresetLong, FrameExposure) == 28, "PresetLong.FrameExposure");
static_assert(offsetof(PresetLong, Sharpness) == 30, "PresetLong.Sharpness");
static_assert(offsetof(PresetLong, AutoExposure) == 32, "PresetLong.AutoExposure");
static_assert(offsetof(PresetLong, Iris) == 34, "PresetLong.Iris");
static_assert(offsetof(PresetLong, Reg884) == 36, "PresetLong.Reg884");
static_assert(offsetof(PresetLong, Reg888) == 38, "PresetLong.Reg888");
static_assert(offsetof(PresetLong, reserved40) == 40, "PresetLong.reserved40");

static_assert(sizeof(PresetShort) == 34, "short preset is 34 bytes");
static_assert(offsetof(PresetShort, Left) == 0, "PresetShort.Left");
static_assert(offsetof(PresetShort, Top) == 2, "PresetShort.Top");
static_assert(offsetof(PresetShort, Width) == 4, "PresetShort.Width");
static_assert(offsetof(PresetShort, Height) == 6, "PresetShort.Height");
static_assert(offsetof(PresetShort, Shutter) == 8, "PresetShort.Shutter");
static_assert(offsetof(PresetShort, Brightness) == 10, "PresetShort.Brightness");
static_assert(offsetof(PresetShort, Gain) == 12, "PresetShort.Gain");
static_assert(offsetof(PresetShort, Red) == 13, "PresetShort.Red");
static_assert(offsetof(PresetShort, Green) == 14, "PresetShort.Green");
static_assert(offsetof(PresetShort, Blue) == 15, "PresetShort.Blue");
static_assert(offsetof(PresetShort, Gamma) == 16, "PresetShort.Gamma");
static_assert(offsetof(PresetShort, SatCoefficient) == 18, "PresetShort.SatCoefficient");
static_assert(offsetof(PresetShort, Bits) == 20, "PresetShort.Bits");
static_assert(offsetof(PresetShort, Format) == 22, "PresetShort.Format");
static_assert(offsetof(PresetShort, TriggerMode) == 24, "PresetShort.TriggerMode");
static_assert(offsetof(PresetShort, Reg1E50) == 26, "PresetShort.Reg1E50");
static_assert(offsetof(PresetShort, Reg1E54) == 28, "PresetShort.Reg1E54");
static_assert(offsetof(PresetShort, Info1C14) == 30, "PresetShort.Info1C14");
static_assert(offsetof(PresetShort, uiStateComplete) == 32, "PresetShort.uiStateComplete");

static_assert(sizeof(SaveDataLong) == 202, "long SaveData is 202 bytes");
static_assert(offsetof(SaveDataLong, CurrentPreset) == 0, "SaveDataLong.CurrentPreset");
static_assert(offsetof(SaveDataLong, Preset) == 2, "SaveDataLong.Preset");
static_assert(sizeof(SaveDataShort) == 138, "short SaveData is 138 bytes");
static_assert(offsetof(SaveDataShort, CurrentPreset) == 0, "SaveDataShort.CurrentPreset");
static_assert(offsetof(SaveDataShort, Preset) == 2, "SaveDataShort.Preset");
static_assert(sizeof(CameraRecord) == TAVCAM_RECORD_BYTES, "camera record is one page image");

// ---- Feature inquiry words of the camera record ------------------------------------------
//
// FeatureInq[j]: bit 31 the feature is present, bit 29 a per-entry flag,
// bits 23..12 the minimum, bits 11..0 the maximum.

enum FeatureInqIndex {
    kInqBrightness = 0,
    kInqAutoExposure = 1,
    kInqSharpness = 2,
    kInqColour = 3,
    kInqFrameExposure = 4,
    kInqSatCoefficient = 5,
    kInqGamma = 6,
    kInqShutter = 7,
    kInqGain = 8,
    kInqIris = 9,
    kInqTriggerMode = 12,
    kInqReg884 = 14,
    kInqReg888 = 15,
};

constexpr uint32_t kInqPresent = 0x80000000u;
constexpr uint32_t kInqFlag29 = 0x20000000u;
constexpr uint32_t kInqMaxMask = 0xFFFu;

inline bool InqPresent(uint32_t word) {
    return (word & kInqPresent) != 0;
}
inline uint32_t InqMinimum(uint32_t word) {
    return (word >> 12) & 0xFFFu;
}
inline uint32_t InqMaximum(uint32_t word) {
    return word & kInqMaxMask;
}
inline bool InqInRange(uint32_t word, uint32_t value) {
    return InqMinimum(word) <= value && value <= InqMaximum(word);
}
// The shutter's maximum follows the image height: bits 11..0 take the height's
// bits 11..0, every other bit of the word stays.
inline uint32_t InqWithMaximum(uint32_t word, uint32_t height) {
    return (word & ~kInqMaxMask) | (height & kInqMaxMask);
}

// MaxSize, UnitSize and Origin of a format entry pack a horizontal value in
// bits 31..16 and a vertical one in bits 15..0.
inline uint32_t HighHalf(uint32_t v) {
    return v >> 16;
}
inline uint32_t LowHalf(uint32_t v) {
    return v & 0xFFFFu;
}
inline uint32_t PackOrigin(uint32_t left, uint32_t top) {
    return (left << 16) | (top & 0xFFFFu);
}

}  // namespace tav

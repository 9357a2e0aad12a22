// Reading the two flash records of a camera for display: the camera record
// (flash page 0) and SaveData (flash page 1, four presets of user settings).
// The tavcam program links only the library's public interface, so it decodes
// the pages itself.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "tavcam.h"

// SaveData sizes: the short layout belongs to CameraModel 1, the long one to
// every other model.
constexpr uint32_t kSaveDataLongBytes = 202;
constexpr uint32_t kSaveDataShortBytes = 138;
constexpr uint32_t kPresetLongBytes = 50;
constexpr uint32_t kPresetShortBytes = 34;
constexpr int kPresetCount = 4;

inline bool UsesShortSaveData(const CameraRecord& record) {
    return record.CameraModel == 1;
}
inline uint32_t SaveDataBytes(const CameraRecord& record) {
    return UsesShortSaveData(record) ? kSaveDataShortBytes : kSaveDataLongBytes;
}

// One preset, every field widened to 32 bits. The fields after uiStateComplete
// exist only in the long layout (hasLongFields).
struct PresetView {
    uint32_t Left, Top, Width, Height;
    uint32_t Shutter, Brightness, Gain;
    uint32_t Red, Green, Blue, Gamma;
    uint32_t SatCoefficient, Bits, Format, TriggerMode;
    uint32_t Reg1E54, Reg1E50, Info1C14, uiStateComplete;
    bool hasLongFields;
    uint32_t FrameExposure, Sharpness, AutoExposure, Iris, Reg884, Reg888;
};

struct SaveDataView {
    bool shortLayout;
    uint32_t CurrentPreset;
    PresetView Preset[kPresetCount];
};

// Decodes SaveData of the given layout from `bytes` (little-endian). False
// when `size` is smaller than the layout.
bool DecodeSaveData(const uint8_t* bytes, size_t size, bool shortLayout, SaveDataView* out);

// A feature inquiry word: bit 31 present, bit 29 the entry's flag, bits
// 23..12 minimum, bits 11..0 maximum.
struct FeatureRange {
    bool present;
    bool flag;
    uint32_t minimum;
    uint32_t maximum;
};
FeatureRange DecodeFeatureInq(uint32_t word);

// The inquiry words the library interprets, with the camera register each
// describes and what the library takes from it.
struct FeatureName {
    int index;     // j of FeatureInq[j]
    uint32_t reg;  // camera register
    const char* name;
    const char* use;  // "value", "presence", "range"
};
extern const FeatureName kFeatureNames[];
extern const int kFeatureNameCount;

// Device index of a camera name: the digit right after the first '-', 0..7;
// -1 when the name holds none.
int IndexFromCameraName(const char* name);

// The camera's features by name, for the tavcam program: the feature
// identifier the library takes (for most features the camera register), and
// how it is set and read.
#pragma once

#include <stdint.h>

enum class FeatureKind : uint8_t {
    Value,     // USBSetCameraFeature / USBGetCameraFeature
    OnOff,     // USBSetOnOffFeature / USBGetOnOffFeature
    ReadOnly,  // USBGetCameraFeature only
};

struct FeatureByName {
    const char* name;
    uint32_t id;
    FeatureKind kind;
    bool inState;  // shown in a camera's state after init, format, area and presets
    int8_t inq;    // the entry of the record's FeatureInq that tells presence and limits; -1 none
    const char* help;
};

extern const FeatureByName kFeaturesByName[];
extern const int kFeatureByNameCount;

// The feature of a name (case-insensitive) or of a number ("0x800", "2048").
// A number not in the table is returned as a value feature named by its
// number. Null when the text is neither.
const FeatureByName* FindFeature(const char* text, FeatureByName* scratch);

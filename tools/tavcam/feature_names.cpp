// The table of features by name.
#include "tools/tavcam/feature_names.h"

#include <stdlib.h>

const FeatureByName kFeaturesByName[] = {
    {"brightness", 0x800, FeatureKind::Value, true, 0, "brightness"},
    {"auto-exposure", 0x804, FeatureKind::Value, true, 1, "automatic exposure"},
    {"sharpness", 0x808, FeatureKind::Value, true, 2, "sharpness"},
    {"red", 0x80D, FeatureKind::Value, true, 3, "red colour value"},
    {"green", 0x80E, FeatureKind::Value, true, 3, "green colour value"},
    {"blue", 0x80F, FeatureKind::Value, true, 3, "blue colour value"},
    {"frame-exposure", 0x810, FeatureKind::Value, true, 4, "frame exposure"},
    {"saturation", 0x814, FeatureKind::Value, true, 5,
     "saturation coefficient, 100 = plain colour"},
    {"gamma", 0x818, FeatureKind::Value, true, 6, "gamma"},
    {"shutter", 0x81C, FeatureKind::Value, true, 7, "shutter, at most the image height"},
    {"gain", 0x820, FeatureKind::Value, true, 8, "gain"},
    {"iris", 0x824, FeatureKind::Value, true, 9, "iris"},
    {"trigger", 0x830, FeatureKind::OnOff, true, 12, "trigger mode (on/off feature)"},
    {"bits", 0x3840, FeatureKind::Value, true, -1, "bit depth selector 0..3"},
    {"out0", 0x1E00, FeatureKind::Value, false, -1, "output signal 0"},
    {"out1", 0x1E01, FeatureKind::Value, false, -1, "output signal 1"},
    {"out2", 0x1E02, FeatureKind::Value, false, -1, "output signal 2"},
    {"out3", 0x1E03, FeatureKind::Value, false, -1, "output signal 3"},
    {"outputs", 0x1E14, FeatureKind::ReadOnly, true, -1, "the four output signals as bits"},
    {"inputs", 0x1E08, FeatureKind::ReadOnly, false, -1, "input lines (asks the camera)"},
    {"reg1e50", 0x1E50, FeatureKind::Value, true, -1, "register 0x1E50"},
    {"reg1e54", 0x1E54, FeatureKind::Value, true, -1, "register 0x1E54"},
    {"reg884", 0x884, FeatureKind::Value, false, 14, "register 0x884"},
    {"reg888", 0x888, FeatureKind::Value, false, 15, "register 0x888"},
    {"info", 0x1C14, FeatureKind::ReadOnly, false, -1, "preset information word"},
    {"running", 0x614, FeatureKind::ReadOnly, false, -1, "1 while live video or a capture runs"},
    {"flash-preset", 0x620, FeatureKind::ReadOnly, false, -1, "preset number flash marks current"},
    {"preset", 0x624, FeatureKind::ReadOnly, false, -1, "preset in use"},
};
const int kFeatureByNameCount = (int)(sizeof kFeaturesByName / sizeof kFeaturesByName[0]);

static bool SameName(const char* a, const char* b) {
    for (;; ++a, ++b) {
        char x = (*a >= 'A' && *a <= 'Z') ? (char)(*a - 'A' + 'a') : *a;
        if (x != *b) return false;
        if (!x) return true;
    }
}

const FeatureByName* FindFeature(const char* text, FeatureByName* scratch) {
    if (!text || !*text) return nullptr;
    for (int i = 0; i < kFeatureByNameCount; ++i)
        if (SameName(text, kFeaturesByName[i].name)) return &kFeaturesByName[i];
    char* end = nullptr;
    unsigned long id = strtoul(text, &end, 0);
    if (*end || id > 0xFFFFFFFFul) return nullptr;
    for (int i = 0; i < kFeatureByNameCount; ++i)
        if (kFeaturesByName[i].id == id) return &kFeaturesByName[i];
    *scratch = FeatureByName{text, (uint32_t)id, FeatureKind::Value, false, -1, "register"};
    return scratch;
}

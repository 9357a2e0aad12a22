#include "tools/tavcam/record_view.h"

#include <string.h>

namespace {

uint32_t U8(const uint8_t* p, size_t at) {
    return p[at];
}
uint32_t U16(const uint8_t* p, size_t at) {
    return (uint32_t)p[at] | (uint32_t)p[at + 1] << 8;
}

// Field offsets inside one preset, per layout.
struct PresetLayout {
    size_t bytes;
    size_t satCoefficient, bits, format, triggerMode, reg1E54, reg1E50, info1C14, stateComplete;
    bool wideTail;  // the fields from SatCoefficient on are 16-bit
};
const PresetLayout kLong = {kPresetLongBytes, 17, 18, 19, 20, 21, 22, 24, 26, false};
const PresetLayout kShort = {kPresetShortBytes, 18, 20, 22, 24, 28, 26, 30, 32, true};

void DecodePreset(const uint8_t* p, const PresetLayout& l, PresetView* v) {
    memset(v, 0, sizeof *v);
    v->Left = U16(p, 0);
    v->Top = U16(p, 2);
    v->Width = U16(p, 4);
    v->Height = U16(p, 6);
    v->Shutter = U16(p, 8);
    v->Brightness = U16(p, 10);
    v->Gain = U8(p, 12);
    v->Red = U8(p, 13);
    v->Green = U8(p, 14);
    v->Blue = U8(p, 15);
    v->Gamma = U8(p, 16);
    auto small = [&](size_t at) { return l.wideTail ? U16(p, at) : U8(p, at); };
    v->SatCoefficient = small(l.satCoefficient);
    v->Bits = small(l.bits);
    v->Format = small(l.format);
    v->TriggerMode = small(l.triggerMode);
    v->Reg1E54 = small(l.reg1E54);
    v->Reg1E50 = small(l.reg1E50);
    v->Info1C14 = U16(p, l.info1C14);
    v->uiStateComplete = U16(p, l.stateComplete);
    v->hasLongFields = !l.wideTail;
    if (v->hasLongFields) {
        v->FrameExposure = U16(p, 28);
        v->Sharpness = U16(p, 30);
        v->AutoExposure = U16(p, 32);
        v->Iris = U16(p, 34);
        v->Reg884 = U16(p, 36);
        v->Reg888 = U16(p, 38);
    }
}

}  // namespace

bool DecodeSaveData(const uint8_t* bytes, size_t size, bool shortLayout, SaveDataView* out) {
    const PresetLayout& layout = shortLayout ? kShort : kLong;
    if (size < 2 + kPresetCount * layout.bytes) return false;
    out->shortLayout = shortLayout;
    out->CurrentPreset = bytes[0];
    for (int p = 0; p < kPresetCount; ++p)
        DecodePreset(bytes + 2 + p * layout.bytes, layout, &out->Preset[p]);
    return true;
}

FeatureRange DecodeFeatureInq(uint32_t word) {
    return FeatureRange{(word >> 31 & 1) != 0, (word >> 29 & 1) != 0, word >> 12 & 0xFFF,
                        word & 0xFFF};
}

const FeatureName kFeatureNames[] = {
    {0, 0x800, "Brightness", "value"},
    {1, 0x804, "AutoExposure", "presence"},
    {2, 0x808, "Sharpness", "value"},
    {3, 0x80C, "Red/Green/Blue", "value"},
    {4, 0x810, "FrameExposure", "value"},
    {5, 0x814, "SatCoefficient", "range"},
    {6, 0x818, "Gamma", "range"},
    {7, 0x81C, "Shutter", "value"},
    {8, 0x820, "Gain", "value"},
    {9, 0x824, "Iris", "value"},
    {12, 0x830, "TriggerMode", "presence"},
    {14, 0x884, "Reg884", "presence"},
    {15, 0x888, "Reg888", "presence"},
};
const int kFeatureNameCount = (int)(sizeof kFeatureNames / sizeof kFeatureNames[0]);

int IndexFromCameraName(const char* name) {
    const char* dash = name ? strchr(name, '-') : nullptr;
    if (!dash || dash[1] < '0' || dash[1] > '7') return -1;
    return dash[1] - '0';
}

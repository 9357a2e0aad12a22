// Ready-made camera profiles: the flash records (camera record and SaveData)
// and identification block of a few camera models.
//
// Every profile's formats measure 320 x 240 (small frames keep streaming
// tests quick); a partial format allows any scan area within that extent in
// units of 4 pixels by 2 lines, and a fixed format has its own size as its
// maximum extent (the camera window is checked against it). The four presets
// are valid for format 0 and differ from each other (brightness, gain and
// shutter grow with the preset number), so a test can tell which one was applied.
#include <string.h>

#include "include/tavcam.h"
#include "sim/internal.h"

namespace sim {
namespace {

constexpr uint32_t kWidth = 320;
constexpr uint32_t kHeight = 240;

uint32_t Inq(uint32_t min, uint32_t max) {
    return 0x80000000u | (min & 0xFFF) << 12 | (max & 0xFFF);
}

void SetFormat(FormatEntry* f, uint32_t code, uint32_t rawBits, uint32_t outBits, bool partial) {
    memset(f, 0, sizeof(*f));
    // The firmware's own description of the format, passed through by the library.
    snprintf((char*)f->reserved, sizeof(f->reserved), "format %u/%u/%u%s", code, rawBits, outBits,
             partial ? " partial" : "");
    f->Height = kHeight;
    f->Width = kWidth;
    f->RawBits = rawBits;
    f->OutBits = outBits;
    f->FormatCode = code;
    f->PartialScan = partial ? 1 : 0;
    f->MaxSize = kWidth << 16 | kHeight;
    f->UnitSize = partial ? (4u << 16 | 2u) : (kWidth << 16 | kHeight);
    f->Origin = 0;
}

void Put16(uint8_t* p, uint16_t v) {
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
}

// SaveData of the long (202 bytes, 50-byte presets) or short (138 bytes,
// 34-byte presets) layout, all presets on format 0 over its whole extent.
std::vector<uint8_t> MakeSaveData(bool shortLayout) {
    const size_t presetBytes = shortLayout ? 34 : 50;
    std::vector<uint8_t> data(shortLayout ? 138 : 202, 0);
    data[0] = 0;  // CurrentPreset
    for (size_t p = 0; p < 4; ++p) {
        uint8_t* q = data.data() + 2 + p * presetBytes;
        Put16(q + 0, 0);                         // Left
        Put16(q + 2, 0);                         // Top
        Put16(q + 4, kWidth);                    // Width
        Put16(q + 6, kHeight);                   // Height
        Put16(q + 8, (uint16_t)(100 + 10 * p));  // Shutter
        Put16(q + 10, (uint16_t)(128 + p));      // Brightness
        q[12] = (uint8_t)(16 + p);               // Gain
        q[13] = 100;                             // Red
        q[14] = 110;                             // Green
        q[15] = 120;                             // Blue
        q[16] = 100;                             // Gamma
        if (shortLayout) {
            Put16(q + 18, 100);  // SatCoefficient
            Put16(q + 20, 0);    // Bits
            Put16(q + 22, 0);    // Format
            Put16(q + 24, 0);    // TriggerMode
            Put16(q + 26, 0);    // Reg1E50
            Put16(q + 28, 0);    // Reg1E54
            Put16(q + 30, 0);    // Info1C14
            Put16(q + 32, 0);    // uiStateComplete
        } else {
            q[17] = 100;                          // SatCoefficient
            q[18] = 0;                            // Bits
            q[19] = 0;                            // Format
            q[20] = 0;                            // TriggerMode
            q[21] = 0;                            // Reg1E54
            q[22] = 0;                            // Reg1E50
            Put16(q + 24, 0);                     // Info1C14
            Put16(q + 26, 0);                     // uiStateComplete
            Put16(q + 28, (uint16_t)(1000 + p));  // FrameExposure
            Put16(q + 30, 3);                     // Sharpness
            Put16(q + 32, 0);                     // AutoExposure
            Put16(q + 34, 50);                    // Iris
            Put16(q + 36, 0);                     // Reg884
            Put16(q + 38, 0);                     // Reg888
        }
    }
    return data;
}

uint32_t ModelNumber(Model model) {
    switch (model) {
        case Model::ShortLayout:
            return 1;
        case Model::LongLayout:
            return 2;
        case Model::Busy:
            return 3;
        case Model::TwoByteMarkers:
            return 5;
    }
    return 2;
}

uint32_t NameSeed(const std::string& a, const std::string& b) {
    uint32_t h = 2166136261u;
    for (char c : a + "/" + b) h = (h ^ (uint8_t)c) * 16777619u;
    return h ? h : 1;
}

}  // namespace

uint32_t ProfileModel(const Profile& profile) {
    if (profile.page0.size() < offsetof(CameraRecord, CameraModel) + 4) return 0;
    return GetLE32(profile.page0.data() + offsetof(CameraRecord, CameraModel));
}

Profile MakeProfile(Model model, const std::string& name, const std::string& socketName) {
    const uint32_t number = ModelNumber(model);
    const bool shortLayout = number == 1;
    CameraRecord rec;
    memset(&rec, 0, sizeof(rec));
    if (model == Model::TwoByteMarkers) {
        rec.FormatCount = 3;
        SetFormat(&rec.Formats[0], 12, 16, 8, true);
        SetFormat(&rec.Formats[1], 100, 16, 8, false);
        SetFormat(&rec.Formats[2], 110, 16, 8, false);
    } else {
        rec.FormatCount = 2;
        SetFormat(&rec.Formats[0], 1, 8, 8, true);
        SetFormat(&rec.Formats[1], 1, 8, 24, false);
    }
    rec.CurrentFormat = 0;
    rec.CameraModel = number;
    strncpy(rec.CameraName, name.c_str(), sizeof(rec.CameraName) - 1);
    snprintf((char*)rec.reserved1, sizeof(rec.reserved1), "simulated camera, model %u", number);
    rec.MaxPreset = 3;
    rec.FeatureInq[0] = Inq(0, 255);      // brightness
    rec.FeatureInq[1] = Inq(0, 1);        // auto exposure
    rec.FeatureInq[2] = Inq(0, 7);        // sharpness
    rec.FeatureInq[3] = Inq(0, 255);      // red, green, blue
    rec.FeatureInq[5] = Inq(0, 200);      // saturation
    rec.FeatureInq[6] = Inq(0, 255);      // gamma
    rec.FeatureInq[7] = Inq(1, kHeight);  // shutter: maximum follows the height
    rec.FeatureInq[8] = Inq(0, 63);       // gain
    rec.FeatureInq[12] = Inq(0, 1);       // trigger mode
    if (!shortLayout) {
        rec.FeatureInq[4] = Inq(0, 4095);   // frame exposure
        rec.FeatureInq[9] = Inq(0, 100);    // iris
        rec.FeatureInq[14] = Inq(0, 4095);  // register 0x884
        rec.FeatureInq[15] = Inq(0, 4095);  // register 0x888
    }

    Profile p;
    p.socketName = socketName;
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&rec);
    p.page0.assign(bytes, bytes + sizeof(rec));
    p.page1 = MakeSaveData(shortLayout);
    p.identification.assign(128, 0);
    snprintf((char*)p.identification.data(), 64, "TAVCAM-SIM model %u %s", number, name.c_str());
    for (size_t i = 64; i < 128; ++i) p.identification[i] = (uint8_t)(i * 7 + number);
    p.busyStatus = 0;
    p.seed = NameSeed(name, socketName);
    return p;
}

Profile MakeFormatProfile(Model model, const std::string& name, const std::string& socketName,
                          uint32_t formatCode, uint32_t rawBits, uint32_t outBits, bool partial) {
    Profile p = MakeProfile(model, name, socketName);
    CameraRecord rec;
    memcpy(&rec, p.page0.data(), sizeof(rec));
    memset(rec.Formats, 0, sizeof(rec.Formats));
    rec.FormatCount = 1;
    rec.CurrentFormat = 0;
    SetFormat(&rec.Formats[0], formatCode, rawBits, outBits, partial);
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&rec);
    p.page0.assign(bytes, bytes + sizeof(rec));
    return p;
}

bool SetImageSize(Profile* profile, uint32_t width, uint32_t height) {
    if (width < 32 || width > 32768 || height < 16 || height > 4095) return false;
    if (profile->page0.size() < sizeof(CameraRecord)) return false;
    CameraRecord rec;
    memcpy(&rec, profile->page0.data(), sizeof(rec));
    for (uint32_t k = 0; k < rec.FormatCount && k < 16; ++k) {
        FormatEntry& f = rec.Formats[k];
        f.Width = width;
        f.Height = height;
        f.MaxSize = width << 16 | height;
        if (!f.PartialScan) f.UnitSize = width << 16 | height;
    }
    rec.FeatureInq[7] = Inq(1, height);
    memcpy(profile->page0.data(), &rec, sizeof(rec));
    // Presets of either layout: Width and Height follow Left and Top, then
    // the shutter, kept within the new height.
    const size_t presetBytes = profile->page1.size() == 138 ? 34 : 50;
    for (size_t p = 0; p < 4 && 2 + (p + 1) * presetBytes <= profile->page1.size(); ++p) {
        uint8_t* q = profile->page1.data() + 2 + p * presetBytes;
        Put16(q + 4, (uint16_t)width);
        Put16(q + 6, (uint16_t)height);
        const uint32_t shutter = q[8] | q[9] << 8;
        if (shutter > height) Put16(q + 8, (uint16_t)height);
    }
    return true;
}

}  // namespace sim

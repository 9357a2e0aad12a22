// The camera requests of the page (see camera_requests.h).
#include "tools/tavcam/view/camera_requests.h"

#include "tools/tavcam/feature_names.h"
#include "tools/tavcam/record_view.h"
#include "tools/tavcam/view/json_writer.h"

namespace view {
namespace {

constexpr uint32_t kNoValue = 0xFFFFFFFFu;  // left as it was: the camera keeps no such value

bool ReadRecord(const std::string& name, CameraRecord* record, Reply* refusal) {
    if (USBReadDeviceParams(name.c_str(), record) && record->CurrentFormat < 16) return true;
    *refusal = Refusal(502, "the camera's record could not be read");
    return false;
}

// The highest preset the camera has (the library knows four).
uint32_t HighestPreset(const CameraRecord& r) {
    return (r.MaxPreset & 0xF) > 3 ? 3 : (r.MaxPreset & 0xF);
}

// A feature the page controls: one with an inquiry entry in the record.
const FeatureByName* Control(const std::string& feature) {
    for (int i = 0; i < kFeatureByNameCount; ++i)
        if (kFeaturesByName[i].inq >= 0 && feature == kFeaturesByName[i].name)
            return &kFeaturesByName[i];
    return nullptr;
}

bool IsSwitch(const FeatureByName& f, const FeatureRange& range) {
    return f.kind == FeatureKind::OnOff || (range.minimum == 0 && range.maximum == 1);
}

uint32_t ReadFeature(const std::string& name, const FeatureByName& f) {
    uint32_t value = kNoValue;
    const int32_t ok = f.kind == FeatureKind::OnOff
                           ? USBGetOnOffFeature(name.c_str(), f.id, &value)
                           : USBGetCameraFeature(name.c_str(), f.id, &value);
    return ok ? value : kNoValue;
}

void WriteFormats(JsonWriter& w, const CameraRecord& r) {
    w.Key("formats").BeginArray();
    const uint32_t count = r.FormatCount > 16 ? 16 : r.FormatCount;
    for (uint32_t k = 0; k < count; ++k) {
        const FormatEntry& f = r.Formats[k];
        w.BeginObject();
        w.Key("index").Value(k);
        w.Key("width").Value(f.MaxSize >> 16).Key("height").Value(f.MaxSize & 0xFFFF);
        w.Key("bits").Value(f.OutBits).Key("code").Value(f.FormatCode);
        w.Key("partial").Value(f.PartialScan != 0);
        w.Key("unitWidth").Value(f.UnitSize >> 16).Key("unitHeight").Value(f.UnitSize & 0xFFFF);
        w.EndObject();
    }
    w.EndArray();
}

void WriteFeatures(JsonWriter& w, const std::string& name, const CameraRecord& r) {
    w.Key("features").BeginArray();
    for (int i = 0; i < kFeatureByNameCount; ++i) {
        const FeatureByName& f = kFeaturesByName[i];
        if (f.inq < 0) continue;
        const FeatureRange range = DecodeFeatureInq(r.FeatureInq[f.inq]);
        if (!range.present) continue;
        const uint32_t value = ReadFeature(name, f);
        w.BeginObject();
        w.Key("name").Value(f.name).Key("label").Value(f.help);
        w.Key("kind").Value(IsSwitch(f, range) ? "switch" : "slider");
        w.Key("min").Value(range.minimum).Key("max").Value(range.maximum);
        w.Key("value");
        if (value == kNoValue)
            w.Value(range.minimum);
        else
            w.Value(value);
        w.EndObject();
    }
    w.EndArray();
}

// The camera's state after a change, as the page shows it.
Reply Described(const std::string& name) {
    CameraRecord r;
    Reply reply;
    if (!ReadRecord(name, &r, &reply)) return reply;
    const FormatEntry& f = r.Formats[r.CurrentFormat];
    JsonWriter w;
    w.BeginObject();
    w.Key("name").Value(name).Key("model").Value(r.CameraModel);
    WriteFormats(w, r);
    w.Key("format").Value(r.CurrentFormat);
    w.Key("area").BeginObject();
    w.Key("left").Value(f.Origin >> 16).Key("top").Value(f.Origin & 0xFFFF);
    w.Key("width").Value(f.Width).Key("height").Value(f.Height);
    w.EndObject();
    w.Key("preset").Value(r.CurrentPreset);
    w.Key("maxPreset").Value(HighestPreset(r));
    WriteFeatures(w, name, r);
    w.EndObject();
    reply.body = w.text;
    return reply;
}

}  // namespace

Reply DescribeCamera(Hub& hub, int index, const std::string& name) {
    Reply refusal;
    if (!CameraForCall(hub, index, name, &refusal)) return refusal;
    return Described(name);
}

Reply SetFeature(Hub& hub, int index, const std::string& name, const std::string& feature,
                 uint32_t value) {
    Reply refusal;
    const FeatureByName* f = Control(feature);
    if (!f) return Refusal(400, "not a feature the view sets: " + feature);
    if (!CameraForCall(hub, index, name, &refusal)) return refusal;
    CameraRecord r;
    if (!ReadRecord(name, &r, &refusal)) return refusal;
    // The library itself checks only some features against their limits;
    // the view keeps every one within the range the camera's record gives.
    const FeatureRange range = DecodeFeatureInq(r.FeatureInq[f->inq]);
    if (!range.present) return Refusal(422, "the camera has no " + feature);
    if (value < range.minimum || value > range.maximum)
        return Refusal(422, feature + " must lie within " + std::to_string(range.minimum) + ".." +
                                std::to_string(range.maximum));
    const int32_t ok = f->kind == FeatureKind::OnOff
                           ? USBSetOnOffFeature(name.c_str(), f->id, value)
                           : USBSetCameraFeature(name.c_str(), f->id, value);
    if (!ok) return Refusal(502, "the camera did not take " + feature);
    JsonWriter w;
    w.BeginObject().Key("feature").Value(feature);
    const uint32_t now = ReadFeature(name, *f);
    w.Key("value").Value(now == kNoValue ? value : now);
    w.EndObject();
    Reply reply;
    reply.body = w.text;
    return reply;
}

Reply SetFormat(Hub& hub, int index, const std::string& name, uint32_t format) {
    Reply refusal;
    CameraSlot* slot = CameraForCall(hub, index, name, &refusal);
    if (!slot) return refusal;
    CameraRecord r;
    if (!ReadRecord(name, &r, &refusal)) return refusal;
    if (format >= r.FormatCount || format >= 16)
        return Refusal(422, "the camera has formats 0.." + std::to_string(r.FormatCount - 1));
    PauseStream(hub, *slot);
    const int32_t result = USBSetFormat(name.c_str(), format);
    ResumeStream(hub, *slot);
    if (result == TAVCAM_BUSY) return Refusal(409, "the camera reports itself busy");
    if (result != TAVCAM_OK) return Refusal(502, "the camera did not take the format");
    return Described(name);
}

Reply SetArea(Hub& hub, int index, const std::string& name, const uint32_t (&area)[4]) {
    Reply refusal;
    CameraSlot* slot = CameraForCall(hub, index, name, &refusal);
    if (!slot) return refusal;
    CameraRecord r;
    if (!ReadRecord(name, &r, &refusal)) return refusal;
    const FormatEntry& f = r.Formats[r.CurrentFormat];
    const uint64_t maxW = f.MaxSize >> 16, maxH = f.MaxSize & 0xFFFF;
    const uint32_t unitW = f.UnitSize >> 16, unitH = f.UnitSize & 0xFFFF;
    const uint32_t left = area[0], top = area[1], width = area[2], height = area[3];
    if (!f.PartialScan) return Refusal(422, "the format is fixed: its scan area is the whole");
    if (!width || !height || (uint64_t)left + width > maxW || (uint64_t)top + height > maxH)
        return Refusal(422, "the scan area must lie within " + std::to_string(maxW) + " x " +
                                std::to_string(maxH));
    if (!unitW || !unitH || left % unitW || width % unitW || top % unitH || height % unitH)
        return Refusal(422, "the scan area goes in steps of " + std::to_string(unitW) + " x " +
                                std::to_string(unitH));
    PauseStream(hub, *slot);
    const int32_t result = USBSetScanArea(name.c_str(), left, top, width, height);
    ResumeStream(hub, *slot);
    if (result == TAVCAM_BUSY) return Refusal(409, "the camera reports itself busy");
    if (result != TAVCAM_OK) return Refusal(422, "the camera refused the scan area");
    return Described(name);
}

Reply UsePreset(Hub& hub, int index, const std::string& name, bool save, uint32_t preset) {
    Reply refusal;
    CameraSlot* slot = CameraForCall(hub, index, name, &refusal);
    if (!slot) return refusal;
    CameraRecord r;
    if (!ReadRecord(name, &r, &refusal)) return refusal;
    const uint32_t maxPreset = HighestPreset(r);
    if (preset > maxPreset)
        return Refusal(422, "the camera has presets 0.." + std::to_string(maxPreset));
    if (save) {
        if (!USBSaveParams(name.c_str(), preset))
            return Refusal(502,
                           "the preset was not saved: a setting outside the camera's "
                           "limits, or the flash write failed");
        return Described(name);
    }
    PauseStream(hub, *slot);  // a preset may bring another format and scan area
    const int32_t result = USBLoadParams(name.c_str(), preset);
    ResumeStream(hub, *slot);
    if (!result) return Refusal(502, "the preset could not be loaded");
    return Described(name);
}

}  // namespace view

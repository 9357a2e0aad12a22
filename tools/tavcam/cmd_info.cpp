// tavcam info NAME: a camera's flash records as a readable table: model,
// formats with their geometry, units and codes, features with presence and
// ranges, the four presets, and what the library holds in force for it.
//
// The output is a list of sections, each a function of the InfoContext; a new
// section is one more function and one more line in kSections.
#include <stdio.h>
#include <string.h>

#include "tavcam.h"
#include "tools/tavcam/commands.h"
#include "tools/tavcam/record_view.h"

namespace {

struct InfoContext {
    const char* cameraName;
    int index;
    CameraRecord record;
    bool haveSaveData;
    int32_t initResult;  // USBInitDevice's result
    bool held;           // record is the library's copy, with what is in force
    SaveDataView saveData;
};

void PrintCamera(const InfoContext& c) {
    const CameraRecord& r = c.record;
    printf("camera         %s (device index %d)\n", c.cameraName, c.index);
    printf("record name    %.*s\n", (int)sizeof r.CameraName, r.CameraName);
    printf("model          %u (presets: %s layout, %u bytes%s)\n", r.CameraModel,
           UsesShortSaveData(r) ? "short" : "long", SaveDataBytes(r),
           r.CameraModel > 2 ? "; busy status queried" : "");
    printf("highest preset %u\n", r.MaxPreset & 0xF);
}

void PrintFormats(const InfoContext& c) {
    const CameraRecord& r = c.record;
    printf("\nformats: %u, current %u\n", r.FormatCount, r.CurrentFormat);
    printf("  %2s %6s %6s %4s %4s %5s %-8s %-11s %-9s %s\n", "#", "width", "height", "raw", "out",
           "code", "scan", "max (h,v)", "unit", "origin");
    uint32_t count = r.FormatCount > 16 ? 16 : r.FormatCount;
    for (uint32_t k = 0; k < count; ++k) {
        const FormatEntry& f = r.Formats[k];
        char max[24], unit[24], origin[24];
        snprintf(max, sizeof max, "%u,%u", f.MaxSize >> 16, f.MaxSize & 0xFFFF);
        snprintf(unit, sizeof unit, "%u,%u", f.UnitSize >> 16, f.UnitSize & 0xFFFF);
        snprintf(origin, sizeof origin, "%u,%u", f.Origin >> 16, f.Origin & 0xFFFF);
        printf("%c %2u %6u %6u %4u %4u %5u %-8s %-11s %-9s %s\n", k == r.CurrentFormat ? '*' : ' ',
               k, f.Width, f.Height, f.RawBits, f.OutBits, f.FormatCode,
               f.PartialScan ? "partial" : "fixed", max, unit, origin);
    }
}

void PrintFeatures(const InfoContext& c) {
    printf("\nfeatures:\n  %2s %-8s %-15s %-8s %-7s %5s %5s %s\n", "j", "register", "name", "use",
           "present", "min", "max", "flag");
    for (int i = 0; i < kFeatureNameCount; ++i) {
        const FeatureName& n = kFeatureNames[i];
        FeatureRange f = DecodeFeatureInq(c.record.FeatureInq[n.index]);
        printf("  %2d 0x%-6X %-15s %-8s %-7s %5u %5u %s\n", n.index, n.reg, n.name, n.use,
               f.present ? "yes" : "no", f.minimum, f.maximum, f.flag ? "set" : "-");
    }
}

void PrintPresets(const InfoContext& c) {
    if (!c.haveSaveData) {
        printf("\npresets: could not be read\n");
        return;
    }
    const SaveDataView& s = c.saveData;
    printf("\npresets: current %u (%s layout)\n", s.CurrentPreset,
           s.shortLayout ? "short" : "long");
    printf("  %-16s %7s %7s %7s %7s\n", "field", "0", "1", "2", "3");
    struct Row {
        const char* name;
        uint32_t PresetView::*field;
        bool longOnly;
    };
    static const Row kRows[] = {
        {"Left", &PresetView::Left, false},
        {"Top", &PresetView::Top, false},
        {"Width", &PresetView::Width, false},
        {"Height", &PresetView::Height, false},
        {"Format", &PresetView::Format, false},
        {"Shutter", &PresetView::Shutter, false},
        {"Brightness", &PresetView::Brightness, false},
        {"Gain", &PresetView::Gain, false},
        {"Red", &PresetView::Red, false},
        {"Green", &PresetView::Green, false},
        {"Blue", &PresetView::Blue, false},
        {"Gamma", &PresetView::Gamma, false},
        {"SatCoefficient", &PresetView::SatCoefficient, false},
        {"Bits", &PresetView::Bits, false},
        {"TriggerMode", &PresetView::TriggerMode, false},
        {"Reg1E50", &PresetView::Reg1E50, false},
        {"Reg1E54", &PresetView::Reg1E54, false},
        {"Info1C14", &PresetView::Info1C14, false},
        {"uiStateComplete", &PresetView::uiStateComplete, false},
        {"FrameExposure", &PresetView::FrameExposure, true},
        {"Sharpness", &PresetView::Sharpness, true},
        {"AutoExposure", &PresetView::AutoExposure, true},
        {"Iris", &PresetView::Iris, true},
        {"Reg884", &PresetView::Reg884, true},
        {"Reg888", &PresetView::Reg888, true},
    };
    for (const Row& row : kRows) {
        if (row.longOnly && s.shortLayout) continue;
        printf("  %-16s", row.name);
        for (int p = 0; p < kPresetCount; ++p) printf(" %7u", s.Preset[p].*row.field);
        printf("\n");
    }
}

// What the library holds for the camera in this process (see CmdInfo).
void PrintInForce(const InfoContext& c) {
    printf("\nin force (after initialisation, result 0x%x):\n", (unsigned)c.initResult);
    if (!c.held) {
        printf("  not available\n");
        return;
    }
    const CameraRecord& r = c.record;
    printf("  preset         %u\n", r.CurrentPreset);
    printf("  format         %u\n", r.CurrentFormat);
    if (r.CurrentFormat < 16) {
        const FormatEntry& f = r.Formats[r.CurrentFormat];
        printf("  scan area      left %u, top %u, width %u, height %u\n", f.Origin >> 16,
               f.Origin & 0xFFFF, f.Width, f.Height);
    }
    printf("  shutter max    %u\n", r.FeatureInq[7] & 0xFFF);
}

typedef void (*Section)(const InfoContext&);
const Section kSections[] = {PrintCamera, PrintFormats, PrintFeatures, PrintPresets, PrintInForce};

}  // namespace

int CmdInfo(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: tavcam info NAME   (a name from 'tavcam list', e.g. LineScan-0)\n");
        return 2;
    }
    InfoContext c;
    memset(&c, 0, sizeof c);
    c.cameraName = argv[1];
    c.index = IndexFromCameraName(c.cameraName);
    if (c.index < 0 || !USBControlLink(c.cameraName)) {
        fprintf(stderr, "tavcam info: '%s' is not a camera name (NAME-digit 0..7)\n", c.cameraName);
        return 2;
    }
    // A process knows a camera's driver path only after listing the cameras.
    CameraList list;
    memset(&list, 0, sizeof list);
    USBGetSuppDeviceList(&list);
    if ((uint32_t)c.index >= list.nCount) {
        fprintf(stderr, "tavcam info: no camera at device index %d (%u found)\n", c.index,
                list.nCount);
        return 1;
    }
    // The device table is per process, so the camera is initialised here, as
    // any application's first use does (its saved preset is applied); that
    // reads page 0, and the record is then taken from the library with the
    // scan area and the preset in force patched in, rather than read from
    // flash a second time. A camera that can't be initialised (busy, say) is
    // shown from flash.
    c.initResult = USBInitDevice(c.cameraName);
    c.held = c.initResult == TAVCAM_INIT_OK && USBReadDeviceParams(c.cameraName, &c.record);
    if (!c.held && !ReadDataFromFlash(c.index, 0, TAVCAM_RECORD_BYTES, &c.record)) {
        fprintf(stderr, "tavcam info: can't read the record of camera %d\n", c.index);
        return 1;
    }
    uint8_t saveData[kSaveDataLongBytes];
    uint32_t size = SaveDataBytes(c.record);
    c.haveSaveData = ReadDataFromFlash(c.index, 1, size, saveData) &&
                     DecodeSaveData(saveData, size, UsesShortSaveData(c.record), &c.saveData);
    for (Section section : kSections) section(c);
    return 0;
}

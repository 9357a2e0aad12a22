// tavcam init / get / set / format / area / preset: configure a camera and
// show what it now holds.
//
// Each run of the program is a process of its own, so every command first
// initialises the camera (reading its flash into this process's device table
// and applying its current preset) and then does its work.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tavcam.h"
#include "tools/tavcam/cli_support.h"
#include "tools/tavcam/commands.h"
#include "tools/tavcam/feature_names.h"

namespace {

// One feature's value as the library reports it; "-" when it has none.
void PrintFeature(const char* name, const FeatureByName& f) {
    uint32_t value = 0xFFFFFFFFu;  // left as it is when the camera keeps no such value
    int32_t ok = f.kind == FeatureKind::OnOff ? USBGetOnOffFeature(name, f.id, &value)
                                              : USBGetCameraFeature(name, f.id, &value);
    if (!ok)
        printf("  %-15s (query failed)\n", f.name);
    else if (value == 0xFFFFFFFFu)
        printf("  %-15s -\n", f.name);
    else
        printf("  %-15s %u\n", f.name, value);
}

// The record as the library hands it out, with the scan area in force in the
// entry of the current format, then the current preset's features.
int PrintState(const char* name) {
    CameraRecord record;
    if (!USBReadDeviceParams(name, &record)) return Failed("reading the record", name, 0);
    const FormatEntry& f = record.Formats[record.CurrentFormat & 15];
    char bare[sizeof record.CameraName + 1];
    memcpy(bare, record.CameraName, sizeof record.CameraName);
    bare[sizeof record.CameraName] = 0;
    printf("camera  %s (model %u)\n", bare, record.CameraModel);
    printf("format  %u of %u (%s), %u x %u at (%u, %u), %u-bit stream, %u-bit picture\n",
           record.CurrentFormat, record.FormatCount, f.PartialScan ? "partial" : "fixed", f.Width,
           f.Height, f.Origin >> 16, f.Origin & 0xFFFF, f.RawBits, f.OutBits);
    uint32_t shutterInq = record.FeatureInq[7];
    printf("preset  %u, shutter range %u..%u\n", record.CurrentPreset, (shutterInq >> 12) & 0xFFF,
           shutterInq & 0xFFF);
    for (int i = 0; i < kFeatureByNameCount; ++i)
        if (kFeaturesByName[i].inState) PrintFeature(name, kFeaturesByName[i]);
    return 0;
}

}  // namespace

int CmdInit(int argc, char** argv) {
    if (argc != 2) return Usage("init NAME");
    if (!Initialise(argv[1])) return 1;
    return PrintState(argv[1]);
}

int CmdGet(int argc, char** argv) {
    if (argc != 3) return Usage("get NAME FEATURE");
    FeatureByName scratch;
    const FeatureByName* f = FindFeature(argv[2], &scratch);
    if (!f) {
        fprintf(stderr, "tavcam: unknown feature '%s'\n", argv[2]);
        return 2;
    }
    if (!Initialise(argv[1])) return 1;
    PrintFeature(argv[1], *f);
    return 0;
}

int CmdSet(int argc, char** argv) {
    if (argc != 4) return Usage("set NAME FEATURE VALUE");
    FeatureByName scratch;
    const FeatureByName* f = FindFeature(argv[2], &scratch);
    uint32_t value = 0;
    if (!f || f->kind == FeatureKind::ReadOnly) {
        fprintf(stderr, "tavcam: '%s' is not a feature that can be set\n", argv[2]);
        return 2;
    }
    if (!ParseNumber(argv[3], &value)) return Usage("set NAME FEATURE VALUE");
    if (!Initialise(argv[1])) return 1;
    int32_t result = f->kind == FeatureKind::OnOff ? USBSetOnOffFeature(argv[1], f->id, value)
                                                   : USBSetCameraFeature(argv[1], f->id, value);
    if (!result) return Failed("setting the feature (value out of range?)", argv[1], result);
    PrintFeature(argv[1], *f);
    return 0;
}

int CmdFormat(int argc, char** argv) {
    uint32_t index = 0;
    if (argc != 3 || !ParseNumber(argv[2], &index)) return Usage("format NAME INDEX");
    if (!Initialise(argv[1])) return 1;
    int32_t result = USBSetFormat(argv[1], index);
    if (result != TAVCAM_OK) return Failed("switching the format", argv[1], result);
    return PrintState(argv[1]);
}

int CmdArea(int argc, char** argv) {
    uint32_t v[4];
    if (argc != 6) return Usage("area NAME LEFT TOP WIDTH HEIGHT");
    for (int i = 0; i < 4; ++i)
        if (!ParseNumber(argv[2 + i], &v[i])) return Usage("area NAME LEFT TOP WIDTH HEIGHT");
    if (!Initialise(argv[1])) return 1;
    int32_t result = USBSetScanArea(argv[1], v[0], v[1], v[2], v[3]);
    if (result != TAVCAM_OK) return Failed("setting the scan area", argv[1], result);
    return PrintState(argv[1]);
}

int CmdPreset(int argc, char** argv) {
    const char* usage = "preset save|load NAME PRESET";
    uint32_t preset = 0;
    if (argc != 4 || !ParseNumber(argv[3], &preset)) return Usage(usage);
    bool save = !strcmp(argv[1], "save");
    if (!save && strcmp(argv[1], "load")) return Usage(usage);
    const char* name = argv[2];
    if (!Initialise(name)) return 1;
    int32_t result = save ? USBSaveParams(name, preset) : USBLoadParams(name, preset);
    if (result != TAVCAM_OK)
        return Failed(save ? "saving the preset (settings outside the camera's limits?)"
                           : "loading the preset",
                      name, result);
    return PrintState(name);
}

// Geometry of a camera's stream and the colour table (see stream_setup.h).
#include "tools/tavcam/stream_setup.h"

#include "tavcam.h"

bool ReadGeometry(const char* name, Geometry* g) {
    CameraRecord record;
    if (!USBReadDeviceParams(name, &record)) return false;
    const FormatEntry& f = record.Formats[record.CurrentFormat & 15];
    g->width = f.Width;
    g->height = f.Height;
    g->rawBytes = f.RawBits / 8;
    g->outBits = f.OutBits;
    g->format = f.FormatCode;
    uint32_t sat = 100;
    if (USBGetCameraFeature(name, FEATURE_SAT_COEFFICIENT, &sat)) g->sat = sat;
    return g->width && g->height && g->rawBytes;
}

size_t PictureBytes(const Geometry& g) {
    return (size_t)g.width * g.height * (g.outBits == 24 ? 3 : 1);
}

std::vector<uint8_t> IdentityColourTable() {
    std::vector<uint8_t> table((size_t)3 << 24);
    for (uint32_t i = 0; i < (1u << 24); ++i) {
        table[3 * (size_t)i] = (uint8_t)(i >> 16);
        table[3 * (size_t)i + 1] = (uint8_t)(i >> 8);
        table[3 * (size_t)i + 2] = (uint8_t)i;
    }
    return table;
}

std::vector<uint8_t> ColourTableFor(const Geometry& g) {
    if (g.sat == 100) return std::vector<uint8_t>(3);
    return IdentityColourTable();
}

// What a capture or live video of a camera's current format delivers, and the
// colour table the library wants with every request: shared by tavcam
// capture, live and view.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

struct Geometry {
    uint32_t width = 0, height = 0;  // the scan area in force
    uint32_t rawBytes = 0;           // bytes per streamed pixel
    uint32_t outBits = 0;            // 8 or 24
    uint32_t format = 0;
    uint32_t sat = 100;  // the current preset's saturation coefficient
};

// The geometry of the camera's current format and scan area (the camera must
// have been initialised); false when the library has none for it.
bool ReadGeometry(const char* name, Geometry* g);

// Bytes of one delivered picture of a live stream: a pixel of 3 bytes for
// colour, 1 for 8-bit pictures.
size_t PictureBytes(const Geometry& g);

// The colour table the library wants with every request. It is read only when
// the coefficient isn't 100; then an identity table makes the reconstruction
// the plain one.
std::vector<uint8_t> ColourTableFor(const Geometry& g);
// The identity table itself (2^24 entries of 3 bytes).
std::vector<uint8_t> IdentityColourTable();

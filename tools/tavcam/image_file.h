// Writing a delivered picture to an image file: .bmp (the picture already is
// a bottom-up device-independent bitmap; 8-bit pictures get a grey palette)
// or .png (top-down, through libpng where the program was built with it).
#pragma once

#include <stdint.h>

#include <string>

struct Picture {
    const uint8_t* data;  // bottom-up lines, no bytes between them
    uint32_t width;       // pixels per line
    uint32_t height;      // lines
    uint32_t bits;        // 8 (grey) or 24 (blue, green, red)
};

// Writes the picture to path, the format chosen by its extension. False, with
// a message in *error, when the extension is unknown or the file can't be written.
bool WritePicture(const std::string& path, const Picture& picture, std::string* error);

// The bytes of a .bmp file of the picture.
bool EncodeBmp(const Picture& picture, std::string* out);
// The bytes of a .png file of the picture; false when the program was built
// without libpng or the picture has no 8-bit grey or 24-bit form.
bool EncodePng(const Picture& picture, std::string* out);

// "shot.png" with index 2 of 3 -> "shot-2.png"; a single picture keeps the name.
std::string NumberedPath(const std::string& path, uint32_t index, uint32_t count);

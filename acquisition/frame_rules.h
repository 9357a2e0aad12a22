// Which conversion a frame gets, and how much room the picture must offer.
//
// The three acquisition loops (single-frame capture, extended capture and the
// live-video reader) each choose by the raw bytes per pixel, the output bits
// and the format code of the camera's current format, with small differences
// between them that applications have come to rely on:
//   - the reader has no conversion for 8-bit output of other formats than 1
//     and 2 and skips such frames; formats 200 and 210 (two-byte samples,
//     colour output) are announced without writing the picture;
//   - the extended capture copies every one-byte 8-bit format with MonoCopy8
//     and has no FieldMerge8;
//   - the single-frame capture has no branch for format 115.
#pragma once

#include <stdint.h>

namespace tav {

enum class Conversion : uint8_t {
    None,             // nothing is written into the picture
    Bayer,            // BayerToBGR24, or BayerToBGR24Table unless the coefficient is 100
    Uyvy,             // UYVYToBGR24 over half the loop's width (two bytes a pixel)
    QuaziColour,      // one colour channel, byte 21 of the frame's second line
    MonoCopy8,        // MonoCopy8
    FieldMerge8,      // FieldMerge8
    Shift16,          // Mono16To8Shift
    Log10,            // Mono10To8Log
    Log12,            // Mono12To8Log
    Log12Interlaced,  // Mono12To8LogInterlaced
};

// Room the picture must offer, in terms of the loop's image size (raw image
// bytes of one frame).
enum class Room : uint8_t {
    Unchecked,  // nothing is written, nothing checked
    Triple,     // 3 x image size: colour output from one-byte samples
    Image,      // image size: 8-bit output from one-byte samples
    Half,       // image size / 2: 8-bit output from two-byte samples
};

struct FrameRule {
    uint8_t bytesPerPixel;
    uint8_t outBits;
    uint32_t format;  // kAnyFormat matches every code
    Conversion conversion;
    Room room;
};
constexpr uint32_t kAnyFormat = 0xFFFFFFFFu;

enum class Loop : uint8_t { Capture, CaptureEx, Reader };

// The loop's rule for a format, or null when the loop has none: the reader
// then skips the frame, the extended capture converts nothing, and the
// single-frame capture counts the picture without writing it.
const FrameRule* FindFrameRule(Loop loop, uint32_t bytesPerPixel, uint32_t outBits,
                               uint32_t format);

uint64_t RoomNeeded(Room room, uint64_t imageBytes);

// The colour table is read only by the Bayer conversion with a coefficient
// other than 100.
inline bool UsesColourTable(Conversion c, uint32_t satCoefficient) {
    return c == Conversion::Bayer && satCoefficient != 100;
}

// Bytes of a colour table: 2^24 entries of blue, green, red.
constexpr uint64_t kColourTableBytes = 3ull << 24;

// Whether a frame can be converted into the picture: the picture writable
// over `room` bytes (0: nothing to check) and, when the conversion reads the
// colour table, the table readable over its 48 MiB. The table is checked once
// per capture or reader: *tableReadable starts at -1 and keeps the answer.
bool PictureHasRoom(Conversion conversion, uint8_t* picture, uint64_t room, uint32_t sat,
                    const uint8_t* table, int* tableReadable);

// The colour channel of a sequential-colour frame: byte 21 of its second
// line; 0xFF (no channel: the frame is skipped) when the frame is too small to
// hold that byte, which the window rules exclude but a preset may not.
inline uint8_t FrameChannel(const uint8_t* frame, uint64_t lineBytes, uint64_t frameBytes) {
    return lineBytes + 22 <= frameBytes ? frame[lineBytes + 21] : 0xFF;
}

// One frame to convert. `frame` is the raw frame's first byte; the image
// starts two raw lines further. width is the loop's line width in pixels
// (halved again for YUV 4:2:2), height the image lines.
struct FrameJob {
    const uint8_t* frame;
    uint64_t lineBytes;
    uint8_t* picture;
    uint32_t width;
    uint32_t height;
    uint32_t satCoefficient;
    const uint8_t* colourTable;
    uint8_t channel;  // QuaziColour: FrameChannel of the frame
};
void ConvertFrame(Conversion conversion, const FrameJob& job);

}  // namespace tav

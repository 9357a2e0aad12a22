// Frame conversions: a raw frame's image part in the camera's pixel layout in,
// a delivered picture out.
//
// Every routine takes (source image, destination picture, width, height) and
// returns nothing; the source is the raw frame's image part (frame start plus
// two raw lines), width W and height L are the caller's values. The picture is
// written bottom-up without bytes between lines: source line y (counted from
// the top) lands in output line L - 1 - y, except in the two field-merging
// routines, which say their own line order. 24-bit pictures hold blue, green,
// red per pixel. Two-byte samples are little-endian and may be unaligned.
//
// Buffer sizes the routines rely on (the capture loops check the destination
// before calling; the routines read and write nothing beyond these):
//   BayerToBGR24, BayerToBGR24Table  src W*L bytes        dst 3*W*L bytes
//   UYVYToBGR24                      src 2*W*L bytes      dst 3*W*L bytes
//   Mono16To8Shift, Mono10To8Log,
//   Mono12To8Log, Mono12To8LogInterlaced
//                                    src 2*W*L bytes      dst W*L bytes
//   MonoCopy8, FieldMerge8           src W*L bytes        dst W*L bytes
//   QuaziColourInsert                src W*L bytes        dst 3*W*L bytes
//   BayerToBGR24Table's table        3 * 2^24 bytes, entry (B<<16 | G<<8 | R)
//
// The routines allocate nothing. Their stack, beyond a few hundred bytes:
// BayerToBGR24 48 KiB for a large picture (two output lines of up to 8192
// pixels, one made while the other is written out past the caches);
// BayerToBGR24Table 24 KiB (one line, looked up from there); UYVYToBGR24
// 24 KiB for a large picture (one line). A thread that converts needs that
// much stack to spare.
//
// Sizes that the camera window rules exclude (W a multiple of 4 from 32, L even
// from 16) are handled, never by reading or writing outside the buffers above:
//   - W or L of 0: nothing is read or written.
//   - Bayer routines with odd W or L, or W < 4, or L < 2: every pixel is
//     reconstructed from the neighbours that exist, with the same counting as
//     at the image's edges, extended by: one orthogonal neighbour -> its value;
//     no neighbour of a needed kind -> 0 for that colour; a green pixel with no
//     diagonal neighbour keeps its sample as green.
//   - UYVYToBGR24 with odd W: each line still has W pixels (3*W bytes) and its
//     source 2*W bytes; the W / 2 whole groups give W - 1 pixels and the last
//     pixel of each line is left as it was.
//   - Mono12To8LogInterlaced and FieldMerge8 with odd L: the top source line is
//     not used and the last output line is not written.
//   - QuaziColourInsert with a channel byte above 2: the frame is skipped and
//     the picture left as it was (clamping to red would overwrite the red
//     channel with a frame that does not carry it).
#pragma once

#include <stdint.h>

namespace tav {

// Bilinear colour reconstruction of a Bayer mosaic (red at even x on even
// lines, blue at odd x on odd lines, green elsewhere), exact integer rounding.
void BayerToBGR24(const uint8_t* src, uint8_t* dst, uint32_t width, uint32_t height);

// The same reconstruction; each output pixel is then the 3 bytes of the colour
// table's entry B * 65536 + G * 256 + R. The table is only read.
void BayerToBGR24Table(const uint8_t* src, uint8_t* dst, uint32_t width, uint32_t height,
                       const uint8_t* table);

// YUV 4:2:2 (bytes U, Y0, V, Y1 per two pixels; 2 * width source bytes per
// line) to colour. Writes nothing when height is 0 or when the destination is
// not writable over 3 * width * height bytes (the platform's IsBadWritePtr).
void UYVYToBGR24(const uint8_t* src, uint8_t* dst, uint32_t width, uint32_t height);

// 16-bit samples to bits 11..4 of each sample.
void Mono16To8Shift(const uint8_t* src, uint8_t* dst, uint32_t width, uint32_t height);

// 10-bit samples (bits above 9 ignored) through the logarithmic 10-bit table.
void Mono10To8Log(const uint8_t* src, uint8_t* dst, uint32_t width, uint32_t height);

// 12-bit samples (bits above 11 ignored) through the logarithmic 12-bit table.
void Mono12To8Log(const uint8_t* src, uint8_t* dst, uint32_t width, uint32_t height);

// Mono12To8Log on an interlaced frame: source lines from the bottom upward, the
// first height / 2 to output lines 1, 3, 5, ..., the next height / 2 to output
// lines 0, 2, 4, ....
void Mono12To8LogInterlaced(const uint8_t* src, uint8_t* dst, uint32_t width, uint32_t height);

// 8-bit samples copied, lines turned bottom-up.
void MonoCopy8(const uint8_t* src, uint8_t* dst, uint32_t width, uint32_t height);

// 8-bit interlaced frame: the line order of Mono12To8LogInterlaced, bytes copied.
void FieldMerge8(const uint8_t* src, uint8_t* dst, uint32_t width, uint32_t height);

// One colour channel of a sequential-colour picture: byte `channel` (0 blue,
// 1 green, 2 red) of every output pixel := the sample; the other two bytes are
// left as they are. A channel above 2 writes nothing.
void QuaziColourInsert(const uint8_t* src, uint8_t* dst, uint32_t width, uint32_t height,
                       uint8_t channel);

// The channel byte of a sequential-colour frame: byte 21 of its second header
// line. `frame` is the raw frame's first byte, `lineBytes` the raw line size
// (the frame must hold at least lineBytes + 22 bytes, which every frame of
// the window rules does).
inline uint8_t QuaziColourChannel(const uint8_t* frame, uint32_t lineBytes) {
    return frame[(uint64_t)lineBytes + 21];
}

// The logarithmic tables (1024 and 4096 entries), built once on first use;
// safe to call from several threads at once.
const uint8_t* LogTable10();
const uint8_t* LogTable12();

}  // namespace tav

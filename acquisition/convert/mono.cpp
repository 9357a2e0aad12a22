// Monochrome pictures: 8-bit copies, field merging, 16-bit samples reduced to
// 8 bits, and the channels of a sequential-colour picture.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "acquisition/convert/convert.h"
#include "acquisition/convert/convert_path.h"
#include "acquisition/convert/kernels.h"

namespace tav {
namespace {

// Source line of output line k in an interlaced frame: source lines are taken
// from the bottom upward, the first half of them to the odd output lines, the
// second half to the even ones. For an odd height the top source line and the
// last output line are left out (the caller does not ask for k = height - 1).
inline uint32_t FieldSourceLine(uint32_t k, uint32_t height) {
    uint32_t half = height / 2;
    return (k & 1) ? height - 1 - k / 2 : height - 1 - half - k / 2;
}

// Line copies of an 8-bit picture: past the caches for a large one.
convert_detail::StreamCopyFn PictureCopy(uint32_t width, uint32_t height) {
    convert_detail::StreamCopyFn stream = nullptr;
    if ((uint64_t)width * height * 2 >= StreamThreshold())
        stream = convert_detail::ActiveStreamCopy();
    return stream ? stream : convert_detail::StreamCopyPortable;
}

inline uint32_t FieldLinesWritten(uint32_t height) {
    return height & ~1u;
}

}  // namespace

namespace convert_detail {

void LogRow(const uint8_t* src, uint8_t* out, size_t n, const uint8_t* table, unsigned mask) {
    size_t i = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    // Eight little-endian samples per two loads, eight bytes per store.
    for (; i + 8 <= n; i += 8, src += 16) {
        uint64_t a, b;
        memcpy(&a, src, 8);
        memcpy(&b, src + 8, 8);
        uint64_t v =
            (uint64_t)table[a & mask] | (uint64_t)table[(a >> 16) & mask] << 8 |
            (uint64_t)table[(a >> 32) & mask] << 16 | (uint64_t)table[(a >> 48) & mask] << 24 |
            (uint64_t)table[b & mask] << 32 | (uint64_t)table[(b >> 16) & mask] << 40 |
            (uint64_t)table[(b >> 32) & mask] << 48 | (uint64_t)table[(b >> 48) & mask] << 56;
        memcpy(out + i, &v, 8);
    }
#endif
    for (; i < n; i++, src += 2) out[i] = table[(src[0] | (src[1] << 8)) & mask];
}

}  // namespace convert_detail

namespace {

void LogPicture(const uint8_t* src, uint8_t* dst, uint32_t width, uint32_t height,
                const uint8_t* table, unsigned mask) {
    for (uint32_t y = 0; y < height; y++)
        convert_detail::LogRow(src + (size_t)y * width * 2, dst + (size_t)(height - 1 - y) * width,
                               width, table, mask);
}

}  // namespace

void Mono16To8Shift(const uint8_t* src, uint8_t* dst, uint32_t width, uint32_t height) {
    convert_detail::ShiftRowFn row = convert_detail::ActiveShiftRow();
    for (uint32_t y = 0; y < height; y++)
        row(src + (size_t)y * width * 2, dst + (size_t)(height - 1 - y) * width, width);
}

void Mono10To8Log(const uint8_t* src, uint8_t* dst, uint32_t width, uint32_t height) {
    LogPicture(src, dst, width, height, LogTable10(), 0x3FF);
}

void Mono12To8Log(const uint8_t* src, uint8_t* dst, uint32_t width, uint32_t height) {
    LogPicture(src, dst, width, height, LogTable12(), 0xFFF);
}

void Mono12To8LogInterlaced(const uint8_t* src, uint8_t* dst, uint32_t width, uint32_t height) {
    const uint8_t* table = LogTable12();
    for (uint32_t k = 0; k < FieldLinesWritten(height); k++)
        convert_detail::LogRow(src + (size_t)FieldSourceLine(k, height) * width * 2,
                               dst + (size_t)k * width, width, table, 0xFFF);
}

void MonoCopy8(const uint8_t* src, uint8_t* dst, uint32_t width, uint32_t height) {
    if (width == 0) return;
    convert_detail::StreamCopyFn copy = PictureCopy(width, height);
    for (uint32_t y = 0; y < height; y++)
        copy(dst + (size_t)(height - 1 - y) * width, src + (size_t)y * width, width);
    convert_detail::StreamFence();
}

void FieldMerge8(const uint8_t* src, uint8_t* dst, uint32_t width, uint32_t height) {
    if (width == 0) return;
    convert_detail::StreamCopyFn copy = PictureCopy(width, height);
    for (uint32_t k = 0; k < FieldLinesWritten(height); k++)
        copy(dst + (size_t)k * width, src + (size_t)FieldSourceLine(k, height) * width, width);
    convert_detail::StreamFence();
}

void QuaziColourInsert(const uint8_t* src, uint8_t* dst, uint32_t width, uint32_t height,
                       uint8_t channel) {
    // A channel byte above 2 names no channel of a 24-bit picture: skip the
    // frame rather than write a byte of the neighbouring pixel.
    if (channel > 2) return;
    for (uint32_t y = 0; y < height; y++) {
        const uint8_t* in = src + (size_t)y * width;
        uint8_t* out = dst + (size_t)(height - 1 - y) * width * 3 + channel;
        for (uint32_t x = 0; x < width; x++) out[3 * (size_t)x] = in[x];
    }
}

namespace convert_detail {

void ShiftRowPortable(const uint8_t* src, uint8_t* out, size_t n) {
    for (size_t i = 0; i < n; i++) out[i] = (uint8_t)((src[2 * i] >> 4) | (src[2 * i + 1] << 4));
}

}  // namespace convert_detail
}  // namespace tav

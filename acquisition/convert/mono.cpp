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

// The cache-bypassing copy for a large 8-bit picture, null for one that
// stays in the caches.
convert_detail::StreamCopyFn PictureStream(uint32_t width, uint32_t height) {
    if ((uint64_t)width * height * 2 < StreamThreshold()) return nullptr;
    return convert_detail::ActiveKernels().stream;
}

inline uint32_t FieldLinesWritten(uint32_t height) {
    return height & ~1u;
}

// The field routines walk their source in memory order, source line y from
// the first used one (1 for an odd height) down the frame, each to its output
// line: two source lines that follow each other in memory land two output
// lines apart. Walking the output in order instead reads two interleaved
// streams that climb the frame a line at a time, which the processor's
// prefetchers do not follow; at 4096 x 3072 that took from 1.5 to 3 times as long.
inline uint32_t FirstFieldSourceLine(uint32_t height) {
    return height - FieldLinesWritten(height);
}

// Output line of source line y of an interlaced frame: source lines are taken
// from the bottom upward, the first half of them to the odd output lines, the
// second half to the even ones. For an odd height the top source line is not
// used and the last output line not written.
inline uint32_t FieldOutputLine(uint32_t y, uint32_t height) {
    uint32_t half = height / 2;
    return y >= height - half ? 2 * (height - 1 - y) + 1 : 2 * (height - 1 - half - y);
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

void LogRowTable(const uint8_t* src, uint8_t* out, size_t n, const LogBlocks&, const uint8_t* table,
                 unsigned mask) {
    LogRow(src, out, n, table, mask);
}

}  // namespace convert_detail

namespace {

void LogPicture(const uint8_t* src, uint8_t* dst, uint32_t width, uint32_t height,
                const uint8_t* table, const convert_detail::LogBlocks& blocks, unsigned mask) {
    convert_detail::LogRowFn row = convert_detail::ActiveLogRow(blocks);
    for (uint32_t y = 0; y < height; y++)
        row(src + (size_t)y * width * 2, dst + (size_t)(height - 1 - y) * width, width, blocks,
            table, mask);
}

}  // namespace

void Mono16To8Shift(const uint8_t* src, uint8_t* dst, uint32_t width, uint32_t height) {
    convert_detail::ShiftRowFn row = convert_detail::ActiveKernels().shift;
    for (uint32_t y = 0; y < height; y++)
        row(src + (size_t)y * width * 2, dst + (size_t)(height - 1 - y) * width, width);
}

void Mono10To8Log(const uint8_t* src, uint8_t* dst, uint32_t width, uint32_t height) {
    LogPicture(src, dst, width, height, LogTable10(), convert_detail::LogBlocks10(), 0x3FF);
}

void Mono12To8Log(const uint8_t* src, uint8_t* dst, uint32_t width, uint32_t height) {
    LogPicture(src, dst, width, height, LogTable12(), convert_detail::LogBlocks12(), 0xFFF);
}

void Mono12To8LogInterlaced(const uint8_t* src, uint8_t* dst, uint32_t width, uint32_t height) {
    const uint8_t* table = LogTable12();
    const convert_detail::LogBlocks& blocks = convert_detail::LogBlocks12();
    convert_detail::LogRowFn row = convert_detail::ActiveLogRow(blocks);
    for (uint32_t y = FirstFieldSourceLine(height); y < height; y++)
        row(src + (size_t)y * width * 2, dst + (size_t)FieldOutputLine(y, height) * width, width,
            blocks, table, 0xFFF);
}

namespace {

// The line copies of a large picture, past the caches, in the form of
// CopyLinesFn.
struct StreamLines {
    convert_detail::StreamCopyFn stream;
    void operator()(const uint8_t* src, ptrdiff_t srcStep, uint8_t* dst, ptrdiff_t step,
                    size_t width, uint32_t lines) const {
        for (uint32_t y = 0; y < lines; y++)
            stream(dst + convert_detail::LineOffset(y, step),
                   src + convert_detail::LineOffset(y, srcStep), width);
    }
};

template <typename Lines>
void FlipLines(const uint8_t* src, uint8_t* dst, uint32_t width, uint32_t height, Lines lines) {
    lines(src, (ptrdiff_t)width, dst + (size_t)(height - 1) * width, -(ptrdiff_t)width, width,
          height);
}

// The same in two passes of every other line, for a picture that stays in the
// caches: measured at 640x480 in paired runs, 10-20% quicker than one pass and
// than four or eight; past the caches one pass is quicker.
void FlipLinesInTwoPasses(const uint8_t* src, uint8_t* dst, uint32_t width, uint32_t height,
                          convert_detail::CopyLinesFn lines) {
    ptrdiff_t w = (ptrdiff_t)width;
    lines(src, 2 * w, dst + (size_t)(height - 1) * width, -2 * w, width, (height + 1) / 2);
    if (height >= 2)
        lines(src + width, 2 * w, dst + (size_t)(height - 2) * width, -2 * w, width, height / 2);
}

// Each field's source lines follow each other and land two output lines apart,
// upward (see FieldOutputLine).
template <typename Lines>
void MergeFields(const uint8_t* src, uint8_t* dst, uint32_t width, uint32_t height, Lines lines) {
    uint32_t half = height / 2;
    const uint32_t firsts[2] = {FirstFieldSourceLine(height), height - half};
    for (uint32_t y : firsts)
        lines(src + (size_t)y * width, (ptrdiff_t)width,
              dst + (size_t)FieldOutputLine(y, height) * width, -2 * (ptrdiff_t)width, width, half);
}

}  // namespace

void MonoCopy8(const uint8_t* src, uint8_t* dst, uint32_t width, uint32_t height) {
    if (width == 0 || height == 0) return;
    if (convert_detail::StreamCopyFn stream = PictureStream(width, height)) {
        FlipLines(src, dst, width, height, StreamLines{stream});
        convert_detail::StreamFence();
    } else {
        FlipLinesInTwoPasses(src, dst, width, height, convert_detail::ActiveKernels().copyLines);
    }
}

void FieldMerge8(const uint8_t* src, uint8_t* dst, uint32_t width, uint32_t height) {
    if (width == 0 || height < 2) return;
    if (convert_detail::StreamCopyFn stream = PictureStream(width, height)) {
        MergeFields(src, dst, width, height, StreamLines{stream});
        convert_detail::StreamFence();
    } else {
        MergeFields(src, dst, width, height, convert_detail::ActiveKernels().copyLines);
    }
}

namespace convert_detail {

void CopyLinesPortable(const uint8_t* src, ptrdiff_t srcStep, uint8_t* dst, ptrdiff_t step,
                       size_t width, uint32_t lines) {
    for (uint32_t y = 0; y < lines; y++)
        memcpy(dst + LineOffset(y, step), src + LineOffset(y, srcStep), width);
}

}  // namespace convert_detail

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

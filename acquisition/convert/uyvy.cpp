// YUV 4:2:2 (U, Y0, V, Y1) to blue, green, red.
#include <stddef.h>
#include <stdint.h>

#include "acquisition/convert/convert.h"
#include "acquisition/convert/convert_path.h"
#include "acquisition/convert/kernels.h"
#include "platform/platform.h"

namespace tav {
namespace {

// Room for one output line of up to 8192 pixels on the stack.
const size_t kLineBuffer = 3 * 8192;

// Groups (two pixels each) made between two writes of a large picture's line:
// 768 bytes, a multiple of the kernels' steps.
const uint32_t kPieceGroups = 256;

// The end of the last whole cache line of `to` within its first `made` bytes.
inline size_t WholeLinesEnd(const uint8_t* to, size_t made) {
    uintptr_t end = ((uintptr_t)to + made) & ~(uintptr_t)(convert_detail::kCacheLine - 1);
    return end > (uintptr_t)to ? end - (uintptr_t)to : 0;
}

}  // namespace

void UYVYToBGR24(const uint8_t* src, uint8_t* dst, uint32_t width, uint32_t height) {
    if (width == 0 || height == 0) return;
    // The picture buffer is the application's: test it before writing, and
    // write nothing at all into one that cannot hold the whole picture.
    uint64_t bytes = (uint64_t)width * height * 3;
    if (bytes > (uint64_t)(UINT_PTR)-1 || plat::IsBadWritePtr(dst, (UINT_PTR)bytes)) return;
    convert_detail::UyvyRowFn row = convert_detail::ActiveKernels().uyvy;
    // An odd width leaves the line's last pixel as it was: it has no V sample.
    uint32_t groups = width / 2;
    size_t lineBytes = (size_t)width * 3;
    convert_detail::StreamCopyFn stream = (uint64_t)width * height * 5 >= StreamThreshold() &&
                                                  lineBytes <= kLineBuffer && width % 2 == 0
                                              ? convert_detail::ActiveKernels().stream
                                              : nullptr;
    if (!stream) {
        for (uint32_t y = 0; y < height; y++)
            row(src + (size_t)y * width * 2, dst + (height - 1 - y) * lineBytes, groups);
        return;
    }
    // A large picture whose lines all start 16-byte aligned, on a path with
    // a streaming kernel: each step's 96 bytes go straight past the caches,
    // the writing of memory spread evenly over the arithmetic. (A cache
    // line is then written past the caches in pieces, but one right after
    // the other, which the processor combines.)
    convert_detail::UyvyRowFn direct = convert_detail::ActiveKernels().uyvyStream;
    if (direct && groups % convert_detail::kUyvyStreamGroups == 0 && lineBytes % 16 == 0 &&
        ((uintptr_t)dst & 15) == 0) {
        for (uint32_t y = 0; y < height; y++)
            direct(src + (size_t)y * width * 2, dst + (size_t)(height - 1 - y) * lineBytes, groups);
        convert_detail::StreamFence();
        return;
    }
    // Otherwise each line is made in a buffer that stays in the
    // first-level cache, a piece at a time, and what is made is written out
    // past the caches at once, up to the last whole cache line of the
    // destination; so the memory's writing overlaps the arithmetic of the
    // next piece instead of following the whole line.
    alignas(64) uint8_t line[kLineBuffer];
    for (uint32_t y = 0; y < height; y++) {
        const uint8_t* from = src + (size_t)y * width * 2;
        uint8_t* to = dst + (size_t)(height - 1 - y) * lineBytes;
        size_t written = 0;
        for (uint32_t g = 0; g < groups; g += kPieceGroups) {
            uint32_t n = groups - g < kPieceGroups ? groups - g : kPieceGroups;
            row(from + 4 * (size_t)g, line + 6 * (size_t)g, n);
            size_t made = 6 * (size_t)(g + n);
            size_t upTo = made == lineBytes ? made : WholeLinesEnd(to, made);
            if (upTo > written) {
                stream(to + written, line + written, upTo - written);
                written = upTo;
            }
        }
    }
    convert_detail::StreamFence();
}

namespace convert_detail {

void UyvyRowPortable(const uint8_t* src, uint8_t* out, uint32_t groups) {
    for (uint32_t i = 0; i < groups; i++, src += 4, out += 6) {
        int bu = UyvyBlueU(src[0]);
        int g = UyvyGreenU(src[0]) + UyvyGreenV(src[2]);
        int rv = UyvyRedV(src[2]);
        int y0 = UyvyLuma(src[1]), y1 = UyvyLuma(src[3]);
        out[0] = ClampByte(y0 + bu);
        out[1] = ClampByte(y0 - g);
        out[2] = ClampByte(y0 + rv);
        out[3] = ClampByte(y1 + bu);
        out[4] = ClampByte(y1 - g);
        out[5] = ClampByte(y1 + rv);
    }
}

}  // namespace convert_detail
}  // namespace tav

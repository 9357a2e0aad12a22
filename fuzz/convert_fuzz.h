// Shared part of the conversion harnesses: the fuzzer's bytes become a frame
// size, an instruction-set path and the source samples; the routine converts
// into a destination of exactly the documented size (so the address
// sanitizer sees any byte outside it), and the result must equal the
// reference conversion's, bytes left alone included.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <vector>

#include "acquisition/convert/convert.h"
#include "acquisition/convert/convert_path.h"
#include "convert/reference.h"

namespace convert_fuzz {

struct Frame {
    uint32_t w, h;
    std::vector<uint8_t> src;
};

// Bytes 0-1: width (0..287), byte 2: height (0..39), byte 3: path (and, in
// bit 4, whether to write the picture past the caches as large ones are);
// the rest repeated to fill the source. Widths and heights cover the window rules' sizes
// near the vector widths and every odd and tiny size.
inline bool Parse(const uint8_t* data, size_t size, size_t srcPerPixel, Frame* f) {
    if (size < 4) return false;
    f->w = (uint32_t)((data[0] | (data[1] << 8)) % 288);
    f->h = (uint32_t)(data[2] % 40);
    tav::ConvertPath path = (tav::ConvertPath)(data[3] % 4);
    if (!tav::ForceConvertPath(path)) tav::ResetConvertPath();
    tav::SetStreamThreshold(data[3] & 16 ? 1 : 0);
    f->src.resize((size_t)f->w * f->h * srcPerPixel);
    size_t rest = size - 4;
    for (size_t i = 0; i < f->src.size(); i++) f->src[i] = rest ? data[4 + i % rest] : (uint8_t)i;
    return true;
}

typedef void (*Fast)(const uint8_t*, uint8_t*, uint32_t, uint32_t);
typedef void (*Oracle)(const std::vector<uint8_t>&, uint32_t, uint32_t, std::vector<uint8_t>&);

inline int Run(const uint8_t* data, size_t size, size_t srcPerPixel, size_t outPerPixel, Fast fast,
               Oracle oracle) {
    Frame f;
    if (!Parse(data, size, srcPerPixel, &f)) return 0;
    size_t outBytes = (size_t)f.w * f.h * outPerPixel;
    // Exact-size heap blocks: one byte past either end is a sanitizer report.
    uint8_t* src = new uint8_t[f.src.size() ? f.src.size() : 1];
    if (!f.src.empty()) memcpy(src, f.src.data(), f.src.size());
    uint8_t* out = new uint8_t[outBytes ? outBytes : 1];
    std::vector<uint8_t> expected(outBytes);
    for (size_t i = 0; i < outBytes; i++) out[i] = expected[i] = (uint8_t)(i * 29);
    fast(src, out, f.w, f.h);
    oracle(f.src, f.w, f.h, expected);
    if (outBytes && memcmp(out, expected.data(), outBytes) != 0) __builtin_trap();
    delete[] src;
    delete[] out;
    return 0;
}

}  // namespace convert_fuzz

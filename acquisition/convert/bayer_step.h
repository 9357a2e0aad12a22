// The Bayer line kernel's vector step, for any vector width: one step makes
// Simd::kLanes pixels x .. x + kLanes - 1 (x odd) of a line; see
// BayerInnerPixel for the rules. The SSE2 and AVX2 kernels include this after
// their SIMD helpers (HalfSum, QuarterSum, HalveBytes, Select), which it calls,
// and give it their vector type, loads, constants and interleaving store.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "acquisition/convert/kernels.h"

namespace tav {
namespace convert_detail {

// Inlined into the line loops, so that the constants are made once per line
// and the line's parity is decided once, not per step.
#if defined(__GNUC__) || defined(__clang__)
#define TAVCAM_STEP_INLINE inline __attribute__((always_inline))
#else
#define TAVCAM_STEP_INLINE inline
#endif

template <typename Simd, bool oddLine>
TAVCAM_STEP_INLINE void BayerStep(const uint8_t* u, const uint8_t* c, const uint8_t* d,
                                  uint8_t* out, uint32_t x) {
    using V = typename Simd::V;
    const V one = Simd::Bytes(1);
    // Lanes 1, 3, 5, ... hold even x.
    const V evenX = Simd::Words((short)0xFF00);
    V cm = Simd::Load(c + x - 1), cc = Simd::Load(c + x), cp = Simd::Load(c + x + 1);
    V um = Simd::Load(u + x - 1), uc = Simd::Load(u + x), up = Simd::Load(u + x + 1);
    V dm = Simd::Load(d + x - 1), dc = Simd::Load(d + x), dp = Simd::Load(d + x + 1);
    V oh, ov, ou, od;
    V h = HalfSum(cm, cp, one, &oh);
    V v = HalfSum(uc, dc, one, &ov);
    V orth = QuarterSum(h, oh, v, ov, one);
    V uh = HalfSum(um, up, one, &ou);
    V dh = HalfSum(dm, dp, one, &od);
    V diag = QuarterSum(uh, ou, dh, od, one);
    V green = Simd::AddBytes(HalveBytes(diag), HalveBytes(cc));
    V b, g, r;
    if (!oddLine) {  // a template argument: decided when compiled
        // Red at even x, red-line green at odd x.
        b = Select(evenX, diag, v);
        g = Select(evenX, orth, green);
        r = Select(evenX, cc, h);
    } else {
        // Blue-line green at even x, blue at odd x.
        b = Select(evenX, h, cc);
        g = Select(evenX, green, orth);
        r = Select(evenX, v, diag);
    }
    Simd::StoreBgr(out + 3 * (size_t)x, b, g, r);
}

// A whole line's inner pixels in steps of kLanes. Steps start at odd x; the
// last one overlaps the one before so that it ends at x = width - 2 (width -
// kLanes - 1 is odd for the even widths used here).
template <typename Simd, bool oddLine>
inline void BayerLineSteps(const uint8_t* up, const uint8_t* cur, const uint8_t* down, uint8_t* out,
                           uint32_t width) {
    const uint32_t n = Simd::kLanes;
    uint32_t x = 1;
    for (; x + n < width; x += n) BayerStep<Simd, oddLine>(up, cur, down, out, x);
    if (x < width - 1) BayerStep<Simd, oddLine>(up, cur, down, out, width - n - 1);
}

// The line in steps; lines too short for one step, or of odd width, go to
// `narrower`.
template <typename Simd>
inline void BayerRowSteps(const uint8_t* up, const uint8_t* cur, const uint8_t* down, uint8_t* out,
                          uint32_t width, bool oddLine, BayerRowFn narrower) {
    if (width < Simd::kLanes + 2 || (width & 1) != 0)
        return narrower(up, cur, down, out, width, oddLine);
    if (oddLine)
        BayerLineSteps<Simd, true>(up, cur, down, out, width);
    else
        BayerLineSteps<Simd, false>(up, cur, down, out, width);
}

}  // namespace convert_detail
}  // namespace tav

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

// The vertical half-sums of a stretch of the line: floor((u + d) / 2) of the
// samples above and below each pixel, and the parity of u + d, for the
// pixels from `from` on, stored at vs and vo (index 0 = pixel `from`). A
// pixel's own vertical neighbours need this at its x, and the diagonal ones
// at x - 1 and x + 1: made once here, each is read three times below
// instead of being summed three times.
template <typename Simd>
TAVCAM_STEP_INLINE void VerticalStep(const uint8_t* u, const uint8_t* d, uint8_t* vs, uint8_t* vo,
                                     uint32_t x, uint32_t from, typename Simd::V one) {
    typename Simd::V odd;
    typename Simd::V v = HalfSum(Simd::Load(u + x), Simd::Load(d + x), one, &odd);
    Simd::Store(vs + (x - from), v);
    Simd::Store(vo + (x - from), odd);
}

// Pixels x .. x + kLanes - 1 (x odd) of a line, from the line itself and
// the vertical half-sums made for the stretch that starts at `from`.
template <typename Simd, bool oddLine>
TAVCAM_STEP_INLINE void BayerStep(const uint8_t* c, const uint8_t* vs, const uint8_t* vo,
                                  uint8_t* out, uint32_t x, uint32_t from) {
    using V = typename Simd::V;
    const V one = Simd::Bytes(1);
    // Lanes 1, 3, 5, ... hold even x.
    const V evenX = Simd::Words((short)0xFF00);
    const uint32_t i = x - from;
    V cm = Simd::Load(c + x - 1), cc = Simd::Load(c + x), cp = Simd::Load(c + x + 1);
    V vm = Simd::Load(vs + i - 1), v = Simd::Load(vs + i), vp = Simd::Load(vs + i + 1);
    V om = Simd::Load(vo + i - 1), ov = Simd::Load(vo + i), op = Simd::Load(vo + i + 1);
    V oh;
    V h = HalfSum(cm, cp, one, &oh);
    V orth = QuarterSum(h, oh, v, ov, one);
    V diag = QuarterSum(vm, om, vp, op, one);
    // floor(diag / 2) + floor(cc / 2): the rounded-up mean less one where
    // either is odd.
    V green = Simd::SubBytes(Simd::Average(diag, cc), Simd::And(Simd::Or(diag, cc), one));
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

// Steps per stretch: the stretch's half-sums stay in the first-level cache.
constexpr uint32_t kStepsPerStretch = 32;

// A whole line's inner pixels in steps of kLanes. Steps start at odd x; the
// last one overlaps the one before so that it ends at x = width - 2 (width -
// kLanes - 1 is odd for the even widths used here). The steps go in
// stretches: first the vertical half-sums the stretch's steps need (from
// x - 1 of its first step to x + kLanes of its last), then the steps.
template <typename Simd, bool oddLine>
inline void BayerLineSteps(const uint8_t* up, const uint8_t* cur, const uint8_t* down, uint8_t* out,
                           uint32_t width) {
    const uint32_t n = Simd::kLanes;
    const typename Simd::V one = Simd::Bytes(1);
    alignas(64) uint8_t vs[kStepsPerStretch * n + 2 * n], vo[kStepsPerStretch * n + 2 * n];
    const uint32_t last = width - n - 1;  // the last step's x
    for (uint32_t first = 1; first <= last;) {
        const uint32_t remaining = (last - first) / n + 1;  // steps on the grid
        const uint32_t steps = remaining < kStepsPerStretch ? remaining : kStepsPerStretch;
        const uint32_t end = first + (steps - 1) * n;  // this stretch's last step on the grid
        // The line's final step, off the grid, goes with the stretch that ends it.
        const bool overlap = steps == remaining && end < last;
        uint32_t stepEnd = overlap ? last : end;
        // Half-sums from first - 1 to stepEnd + n inclusive, in whole vectors,
        // the last one overlapping.
        const uint32_t from = first - 1, to = stepEnd + n + 1;
        uint32_t t = from;
        for (; t + n <= to; t += n) VerticalStep<Simd>(up, down, vs, vo, t, from, one);
        if (t < to) VerticalStep<Simd>(up, down, vs, vo, to - n, from, one);
        for (uint32_t k = 0; k < steps; k++)
            BayerStep<Simd, oddLine>(cur, vs, vo, out, first + k * n, from);
        if (overlap) BayerStep<Simd, oddLine>(cur, vs, vo, out, last, from);
        if (steps == remaining) break;
        first = end + n;
    }
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

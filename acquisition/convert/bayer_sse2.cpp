// The Bayer line kernel with SSE2: sixteen pixels per step.
#include "acquisition/convert/kernels.h"
#include "acquisition/convert/simd_sse2.h"

namespace tav {
namespace convert_detail {

#if defined(__SSE2__)
namespace {

inline __m128i Load(const uint8_t* p) {
    return _mm_loadu_si128((const __m128i*)p);
}

// Pixels x .. x + 15 (x odd) of a line; see BayerInnerPixel for the rules.
inline void Step(const uint8_t* u, const uint8_t* c, const uint8_t* d, uint8_t* out, uint32_t x,
                 bool oddLine) {
    const __m128i one = _mm_set1_epi8(1);
    // Lanes 1, 3, 5, ... hold even x.
    const __m128i evenX = _mm_set1_epi16((short)0xFF00);
    __m128i cm = Load(c + x - 1), cc = Load(c + x), cp = Load(c + x + 1);
    __m128i um = Load(u + x - 1), uc = Load(u + x), up = Load(u + x + 1);
    __m128i dm = Load(d + x - 1), dc = Load(d + x), dp = Load(d + x + 1);
    __m128i oh, ov, ou, od;
    __m128i h = HalfSum(cm, cp, one, &oh);
    __m128i v = HalfSum(uc, dc, one, &ov);
    __m128i orth = QuarterSum(h, oh, v, ov, one);
    __m128i uh = HalfSum(um, up, one, &ou);
    __m128i dh = HalfSum(dm, dp, one, &od);
    __m128i diag = QuarterSum(uh, ou, dh, od, one);
    __m128i green = _mm_add_epi8(HalveBytes(diag), HalveBytes(cc));
    __m128i b, g, r;
    if (!oddLine) {
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
    StoreBgr16(out + 3 * (size_t)x, b, g, r);
}

}  // namespace

void BayerRowSse2(const uint8_t* up, const uint8_t* cur, const uint8_t* down, uint8_t* out,
                  uint32_t width, bool oddLine) {
    // Steps start at odd x; the last one overlaps the one before so that it
    // ends at x = width - 2 (width - 17 is odd for the even widths used here;
    // an odd width takes the portable kernel).
    if (width < 18 || (width & 1) != 0) return BayerRowPortable(up, cur, down, out, width, oddLine);
    uint32_t x = 1;
    for (; x + 16 < width; x += 16) Step(up, cur, down, out, x, oddLine);
    if (x < width - 1) Step(up, cur, down, out, width - 17, oddLine);
}

#else

void BayerRowSse2(const uint8_t* up, const uint8_t* cur, const uint8_t* down, uint8_t* out,
                  uint32_t width, bool oddLine) {
    BayerRowPortable(up, cur, down, out, width, oddLine);
}

#endif

}  // namespace convert_detail
}  // namespace tav

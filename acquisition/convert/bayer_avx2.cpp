// The Bayer line kernel with AVX2: thirty-two pixels per step.
#include "acquisition/convert/kernels.h"
#include "acquisition/convert/simd_avx2.h"

namespace tav {
namespace convert_detail {

#if defined(__AVX2__)
namespace {

inline __m256i Load(const uint8_t* p) {
    return _mm256_loadu_si256((const __m256i*)p);
}

// Pixels x .. x + 31 (x odd) of a line; see BayerInnerPixel for the rules.
inline void Step(const uint8_t* u, const uint8_t* c, const uint8_t* d, uint8_t* out, uint32_t x,
                 bool oddLine) {
    const __m256i one = _mm256_set1_epi8(1);
    // Lanes 1, 3, 5, ... hold even x.
    const __m256i evenX = _mm256_set1_epi16((short)0xFF00);
    __m256i cm = Load(c + x - 1), cc = Load(c + x), cp = Load(c + x + 1);
    __m256i um = Load(u + x - 1), uc = Load(u + x), up = Load(u + x + 1);
    __m256i dm = Load(d + x - 1), dc = Load(d + x), dp = Load(d + x + 1);
    __m256i oh, ov, ou, od;
    __m256i h = HalfSum(cm, cp, one, &oh);
    __m256i v = HalfSum(uc, dc, one, &ov);
    __m256i orth = QuarterSum(h, oh, v, ov, one);
    __m256i uh = HalfSum(um, up, one, &ou);
    __m256i dh = HalfSum(dm, dp, one, &od);
    __m256i diag = QuarterSum(uh, ou, dh, od, one);
    __m256i green = _mm256_add_epi8(HalveBytes(diag), HalveBytes(cc));
    __m256i b, g, r;
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
    StoreBgr32(out + 3 * (size_t)x, b, g, r);
}

}  // namespace

void BayerRowAvx2(const uint8_t* up, const uint8_t* cur, const uint8_t* down, uint8_t* out,
                  uint32_t width, bool oddLine) {
    // As the SSE2 kernel, with steps of 32 and a last step that overlaps.
    if (width < 34 || (width & 1) != 0) return BayerRowSse2(up, cur, down, out, width, oddLine);
    uint32_t x = 1;
    for (; x + 32 < width; x += 32) Step(up, cur, down, out, x, oddLine);
    if (x < width - 1) Step(up, cur, down, out, width - 33, oddLine);
}

#else

void BayerRowAvx2(const uint8_t* up, const uint8_t* cur, const uint8_t* down, uint8_t* out,
                  uint32_t width, bool oddLine) {
    BayerRowSse2(up, cur, down, out, width, oddLine);
}

#endif

}  // namespace convert_detail
}  // namespace tav

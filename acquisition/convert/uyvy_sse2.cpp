// The YUV 4:2:2 line kernel with SSE2: sixteen pixels per step.
//
// Each term of the conversion is a function of one byte, (n * a / b) truncated
// toward zero with n = Y - 16, U - 128 or V - 128. It is computed exactly in
// 16-bit lanes from the signed high product h = ((n << 3) * M) >> 16, which
// rounds toward minus infinity: for |n| up to 239 the multipliers M below make
// ((|n| << 3) * M) >> 16 equal floor(|n| * a / b), and as every M is odd the
// product of a negative n is never a multiple of 65536, so h + 1 is the term
// truncated toward zero there (checked over every byte value by the tests).
#include "acquisition/convert/kernels.h"
#include "acquisition/convert/simd_sse2.h"

namespace tav {
namespace convert_detail {

#if defined(__SSE2__)
namespace {

// n8 = n << 3; negative: all ones in the lanes where n < 0.
inline __m128i Term(__m128i n8, __m128i negative, __m128i m) {
    return _mm_sub_epi16(_mm_mulhi_epi16(n8, m), negative);
}

// Eight pixels (four groups) as 16-bit blue, green, red before clamping.
inline void Pixels8(__m128i x, __m128i* b, __m128i* g, __m128i* r) {
    __m128i y = _mm_srli_epi16(x, 8);
    __m128i uv = _mm_and_si128(x, _mm_set1_epi16(0x00FF));
    __m128i y8 = _mm_slli_epi16(_mm_sub_epi16(y, _mm_set1_epi16(16)), 3);
    __m128i luma = Term(y8, _mm_srai_epi16(y8, 15), _mm_set1_epi16(9539));
    __m128i c8 = _mm_slli_epi16(_mm_sub_epi16(uv, _mm_set1_epi16(128)), 3);
    __m128i cneg = _mm_srai_epi16(c8, 15);
    // Lanes alternate U and V: blue from U with red from V, and the two green terms.
    __m128i br = Term(c8, cneg, _mm_set1_epi32((13075 << 16) | 16521));
    __m128i gg = Term(c8, cneg, _mm_set1_epi32((6663 << 16) | 3213));
    __m128i gs = _mm_add_epi16(gg, _mm_srli_epi32(gg, 16));
    __m128i bc = _mm_shufflehi_epi16(_mm_shufflelo_epi16(br, 0xA0), 0xA0);
    __m128i rc = _mm_shufflehi_epi16(_mm_shufflelo_epi16(br, 0xF5), 0xF5);
    __m128i gc = _mm_shufflehi_epi16(_mm_shufflelo_epi16(gs, 0xA0), 0xA0);
    *b = _mm_add_epi16(luma, bc);
    *g = _mm_sub_epi16(luma, gc);
    *r = _mm_add_epi16(luma, rc);
}

}  // namespace

void UyvyRowSse2(const uint8_t* src, uint8_t* out, uint32_t groups) {
    uint32_t i = 0;
    for (; i + 8 <= groups; i += 8, src += 32, out += 48) {
        __m128i b0, g0, r0, b1, g1, r1;
        Pixels8(_mm_loadu_si128((const __m128i*)src), &b0, &g0, &r0);
        Pixels8(_mm_loadu_si128((const __m128i*)(src + 16)), &b1, &g1, &r1);
        // Saturating packs clamp to 0..255.
        StoreBgr16(out, _mm_packus_epi16(b0, b1), _mm_packus_epi16(g0, g1),
                   _mm_packus_epi16(r0, r1));
    }
    UyvyRowPortable(src, out, groups - i);
}

#else

void UyvyRowSse2(const uint8_t* src, uint8_t* out, uint32_t groups) {
    UyvyRowPortable(src, out, groups);
}

#endif

}  // namespace convert_detail
}  // namespace tav

// The YUV 4:2:2 line kernel with AVX-512 (BW and VBMI): sixty-four pixels per
// step; the exact per-byte terms are computed as in the SSE2 kernel
// (uyvy_sse2.cpp).
#include "acquisition/convert/kernels.h"
#include "acquisition/convert/simd_avx512.h"

namespace tav {
namespace convert_detail {

#if defined(__AVX512BW__) && defined(__AVX512VBMI__)
namespace {

inline __m512i Term(__m512i n8, __m512i negative, __m512i m) {
    return _mm512_sub_epi16(_mm512_mulhi_epi16(n8, m), negative);
}

// Thirty-two pixels (sixteen groups, four per 128-bit lane) as 16-bit blue,
// green, red before clamping.
inline void Pixels32(__m512i x, __m512i* b, __m512i* g, __m512i* r) {
    const __mmask32 odd = 0xAAAAAAAA;
    __m512i y = _mm512_srli_epi16(x, 8);
    __m512i uv = _mm512_and_si512(x, _mm512_set1_epi16(0x00FF));
    __m512i y8 = _mm512_slli_epi16(_mm512_sub_epi16(y, _mm512_set1_epi16(16)), 3);
    __m512i luma = Term(y8, _mm512_srai_epi16(y8, 15), _mm512_set1_epi16(9539));
    __m512i c8 = _mm512_slli_epi16(_mm512_sub_epi16(uv, _mm512_set1_epi16(128)), 3);
    __m512i cneg = _mm512_srai_epi16(c8, 15);
    __m512i br = Term(c8, cneg, _mm512_set1_epi32((13075 << 16) | 16521));
    __m512i gg = Term(c8, cneg, _mm512_set1_epi32((6663 << 16) | 3213));
    // Each group's terms to both of its pixels: blue (even lanes of br) and
    // the green sum (even lanes of gs) copied up, red (odd lanes) copied down.
    // Lane-wide byte shifts move each word to its neighbour within its group.
    __m512i gs = _mm512_add_epi16(gg, _mm512_bsrli_epi128(gg, 2));
    __m512i bc = _mm512_mask_blend_epi16(odd, br, _mm512_bslli_epi128(br, 2));
    __m512i rc = _mm512_mask_blend_epi16(odd, _mm512_bsrli_epi128(br, 2), br);
    __m512i gc = _mm512_mask_blend_epi16(odd, gs, _mm512_bslli_epi128(gs, 2));
    *b = _mm512_add_epi16(luma, bc);
    *g = _mm512_sub_epi16(luma, gc);
    *r = _mm512_add_epi16(luma, rc);
}

}  // namespace

void UyvyRowAvx512(const uint8_t* src, uint8_t* out, uint32_t groups) {
    // The saturating packs work per 128-bit lane, so lane k of the first
    // register holds source bytes 32 k .. 32 k + 15 and of the second the
    // next sixteen: the packs then give pixels in order.
    const __m512i firstHalves = _mm512_set_epi64(13, 12, 9, 8, 5, 4, 1, 0);
    const __m512i secondHalves = _mm512_set_epi64(15, 14, 11, 10, 7, 6, 3, 2);
    uint32_t i = 0;
    for (; i + 32 <= groups; i += 32, src += 128, out += 192) {
        __m512i a = _mm512_loadu_si512((const void*)src);
        __m512i c = _mm512_loadu_si512((const void*)(src + 64));
        __m512i b0, g0, r0, b1, g1, r1;
        Pixels32(_mm512_permutex2var_epi64(a, firstHalves, c), &b0, &g0, &r0);
        Pixels32(_mm512_permutex2var_epi64(a, secondHalves, c), &b1, &g1, &r1);
        // Saturating packs clamp to 0..255.
        StoreBgr64(out, _mm512_packus_epi16(b0, b1), _mm512_packus_epi16(g0, g1),
                   _mm512_packus_epi16(r0, r1));
    }
    UyvyRowAvx2(src, out, groups - i);
}

#else

void UyvyRowAvx512(const uint8_t* src, uint8_t* out, uint32_t groups) {
    UyvyRowAvx2(src, out, groups);
}

#endif

}  // namespace convert_detail
}  // namespace tav

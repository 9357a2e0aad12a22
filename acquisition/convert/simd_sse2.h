// SSE2 helpers shared by the conversions' SSE2 kernels.
#pragma once

#if defined(__SSE2__)
#include <emmintrin.h>
#include <stdint.h>

namespace tav {
namespace convert_detail {

// floor((a + b) / 2) per byte; odd: (a ^ b) & 1, kept for exact four-term means.
inline __m128i HalfSum(__m128i a, __m128i b, __m128i one, __m128i* odd) {
    __m128i x = _mm_and_si128(_mm_xor_si128(a, b), one);
    *odd = x;
    return _mm_sub_epi8(_mm_avg_epu8(a, b), x);
}

// floor((a + b + c + d) / 4) per byte from p = floor((a + b) / 2),
// q = floor((c + d) / 2) and the parities of a + b and c + d. The sum is
// 2p + 2q plus the two parities, so the quarter is floor((p + q + e) / 2) with
// e = 1 only when both parities are 1; then c + d is odd, q is at most 254 and
// q + e still fits in a byte. (One instruction fewer than halving p + q and
// correcting afterwards.)
inline __m128i QuarterSum(__m128i p, __m128i oddP, __m128i q, __m128i oddQ, __m128i one) {
    __m128i pq;
    return HalfSum(p, _mm_add_epi8(q, _mm_and_si128(oddP, oddQ)), one, &pq);
}

// v >> 1 per byte.
inline __m128i HalveBytes(__m128i v) {
    return _mm_and_si128(_mm_srli_epi16(v, 1), _mm_set1_epi8(0x7F));
}

// Four pixels held as blue, green, red, 0 in 32-bit lanes to 12 bytes at the
// bottom of the register (the top 4 bytes 0).
inline __m128i PackPixels(__m128i p) {
    const __m128i low3 = _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF);
    const __m128i next3 = _mm_set_epi32(0x0000FFFF, (int)0xFF000000, 0x0000FFFF, (int)0xFF000000);
    __m128i v = _mm_or_si128(_mm_and_si128(p, low3), _mm_and_si128(_mm_srli_epi64(p, 8), next3));
    const __m128i mid = _mm_set_epi32(0, -1, (int)0xFFFF0000, 0);  // bytes 6..11
    return _mm_or_si128(_mm_move_epi64(v), _mm_and_si128(_mm_srli_si128(v, 2), mid));
}

// Sixteen pixels given as blue, green and red planes to 48 bytes at out.
inline void StoreBgr16(uint8_t* out, __m128i b, __m128i g, __m128i r) {
    const __m128i z = _mm_setzero_si128();
    __m128i bgLo = _mm_unpacklo_epi8(b, g), bgHi = _mm_unpackhi_epi8(b, g);
    __m128i rLo = _mm_unpacklo_epi8(r, z), rHi = _mm_unpackhi_epi8(r, z);
    __m128i q0 = PackPixels(_mm_unpacklo_epi16(bgLo, rLo));
    __m128i q1 = PackPixels(_mm_unpackhi_epi16(bgLo, rLo));
    __m128i q2 = PackPixels(_mm_unpacklo_epi16(bgHi, rHi));
    __m128i q3 = PackPixels(_mm_unpackhi_epi16(bgHi, rHi));
    _mm_storeu_si128((__m128i*)out, _mm_or_si128(q0, _mm_slli_si128(q1, 12)));
    _mm_storeu_si128((__m128i*)(out + 16),
                     _mm_or_si128(_mm_srli_si128(q1, 4), _mm_slli_si128(q2, 8)));
    _mm_storeu_si128((__m128i*)(out + 32),
                     _mm_or_si128(_mm_srli_si128(q2, 8), _mm_slli_si128(q3, 4)));
}

// mask ? a : b per byte (mask bytes 0x00 or 0xFF).
inline __m128i Select(__m128i mask, __m128i a, __m128i b) {
    return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
}

}  // namespace convert_detail
}  // namespace tav
#endif

// AVX2 helpers shared by the conversions' AVX2 kernels (only in files built
// with AVX2 code).
#pragma once

#if defined(__AVX2__)
#include <immintrin.h>
#include <stdint.h>

namespace tav {
namespace convert_detail {

// floor((a + b) / 2) per byte; odd: (a ^ b) & 1, kept for exact four-term means.
inline __m256i HalfSum(__m256i a, __m256i b, __m256i one, __m256i* odd) {
    __m256i x = _mm256_and_si256(_mm256_xor_si256(a, b), one);
    *odd = x;
    return _mm256_sub_epi8(_mm256_avg_epu8(a, b), x);
}

// floor((a + b + c + d) / 4) per byte from p = floor((a + b) / 2),
// q = floor((c + d) / 2) and the parities of a + b and c + d. The sum is
// 2p + 2q plus the two parities, so the quarter is floor((p + q + e) / 2) with
// e = 1 only when both parities are 1; then c + d is odd, q is at most 254 and
// q + e still fits in a byte. (One instruction fewer than halving p + q and
// correcting afterwards.)
inline __m256i QuarterSum(__m256i p, __m256i oddP, __m256i q, __m256i oddQ, __m256i one) {
    __m256i pq;
    return HalfSum(p, _mm256_add_epi8(q, _mm256_and_si256(oddP, oddQ)), one, &pq);
}

inline __m256i HalveBytes(__m256i v) {
    return _mm256_and_si256(_mm256_srli_epi16(v, 1), _mm256_set1_epi8(0x7F));
}

// Thirty-two pixels given as blue, green and red planes to 96 bytes at out.
// Within each 128-bit half, one byte shuffle per plane puts every sample at
// the position it takes in whichever of the half's three 16-byte output chunks
// needs that plane there (the three chunks use disjoint positions per plane),
// then blends pick the plane per position, chunk by chunk.
// `stream`: with cache-bypassing stores, out aligned to 16 bytes.
template <bool stream = false>
inline void StoreBgr32(uint8_t* out, __m256i b, __m256i g, __m256i r) {
    const __m256i shB = _mm256_setr_epi8(0, 11, 6, 1, 12, 7, 2, 13, 8, 3, 14, 9, 4, 15, 10, 5, 0,
                                         11, 6, 1, 12, 7, 2, 13, 8, 3, 14, 9, 4, 15, 10, 5);
    const __m256i shG = _mm256_setr_epi8(5, 0, 11, 6, 1, 12, 7, 2, 13, 8, 3, 14, 9, 4, 15, 10, 5, 0,
                                         11, 6, 1, 12, 7, 2, 13, 8, 3, 14, 9, 4, 15, 10);
    const __m256i shR = _mm256_setr_epi8(10, 5, 0, 11, 6, 1, 12, 7, 2, 13, 8, 3, 14, 9, 4, 15, 10,
                                         5, 0, 11, 6, 1, 12, 7, 2, 13, 8, 3, 14, 9, 4, 15);
    // Position p of chunk k holds plane (16 k + p) mod 3; masks select green and red.
    const __m256i g0 = _mm256_setr_epi8(0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, 0, -1,
                                        0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0);
    const __m256i r0 = _mm256_setr_epi8(0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, 0,
                                        -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0);
    __m256i sb = _mm256_shuffle_epi8(b, shB);
    __m256i sg = _mm256_shuffle_epi8(g, shG);
    __m256i sr = _mm256_shuffle_epi8(r, shR);
    // chunk 0: plane 0,1,2 at positions with (p mod 3) 0,1,2.
    __m256i c0 = _mm256_blendv_epi8(_mm256_blendv_epi8(sb, sg, g0), sr, r0);
    // chunk 1: (16 + p) mod 3 = (p + 1) mod 3: green where p mod 3 is 0, red where 1.
    __m256i c1 = _mm256_blendv_epi8(_mm256_blendv_epi8(sg, sr, g0), sb, r0);
    // chunk 2: (p + 2) mod 3: red where p mod 3 is 0, blue where 1, green where 2.
    __m256i c2 = _mm256_blendv_epi8(_mm256_blendv_epi8(sr, sb, g0), sg, r0);
    if (stream) {
        // Sixteen bytes at a time: the low halves hold the first 48 bytes.
        _mm_stream_si128((__m128i*)out, _mm256_castsi256_si128(c0));
        _mm_stream_si128((__m128i*)(out + 16), _mm256_castsi256_si128(c1));
        _mm_stream_si128((__m128i*)(out + 32), _mm256_castsi256_si128(c2));
        _mm_stream_si128((__m128i*)(out + 48), _mm256_extracti128_si256(c0, 1));
        _mm_stream_si128((__m128i*)(out + 64), _mm256_extracti128_si256(c1, 1));
        _mm_stream_si128((__m128i*)(out + 80), _mm256_extracti128_si256(c2, 1));
        return;
    }
    _mm256_storeu_si256((__m256i*)out, _mm256_permute2x128_si256(c0, c1, 0x20));
    _mm256_storeu_si256((__m256i*)(out + 32), _mm256_permute2x128_si256(c2, c0, 0x30));
    _mm256_storeu_si256((__m256i*)(out + 64), _mm256_permute2x128_si256(c1, c2, 0x31));
}

inline __m256i Select(__m256i mask, __m256i a, __m256i b) {
    return _mm256_blendv_epi8(b, a, mask);
}

}  // namespace convert_detail
}  // namespace tav
#endif

// AVX-512 (BW and VBMI) helpers shared by the conversions' AVX-512 kernels
// (only in files built with that code).
#pragma once

#if defined(__AVX512BW__) && defined(__AVX512VBMI__)
#include <immintrin.h>
#include <stdint.h>

namespace tav {
namespace convert_detail {

// floor((a + b) / 2) per byte; odd: (a ^ b) & 1, kept for exact four-term means.
inline __m512i HalfSum(__m512i a, __m512i b, __m512i one, __m512i* odd) {
    __m512i x = _mm512_ternarylogic_epi32(a, b, one, 0x28);  // (a ^ b) & one
    *odd = x;
    return _mm512_sub_epi8(_mm512_avg_epu8(a, b), x);
}

// floor((a + b + c + d) / 4) per byte from p = floor((a + b) / 2),
// q = floor((c + d) / 2) and the parities of a + b and c + d.
inline __m512i QuarterSum(__m512i p, __m512i oddP, __m512i q, __m512i oddQ, __m512i one) {
    __m512i pq;
    __m512i m = HalfSum(p, q, one, &pq);
    return _mm512_add_epi8(m, _mm512_ternarylogic_epi32(oddP, oddQ, pq, 0x80));  // all three
}

inline __m512i HalveBytes(__m512i v) {
    return _mm512_and_si512(_mm512_srli_epi16(v, 1), _mm512_set1_epi8(0x7F));
}

// a where the mask's bytes are set, b elsewhere.
inline __m512i Select(__m512i mask, __m512i a, __m512i b) {
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(mask), b, a);
}

// The permutes' indices for StoreBgr64, made when compiled: byte q of the
// output is plane q mod 3 of pixel q / 3.
struct BgrIndices {
    uint8_t blueGreen[3][64];  // pixel, plus 64 to take it from green
    uint8_t red[3][64];        // pixel
    uint64_t redBytes[3];      // the bytes that take red
};

constexpr BgrIndices MakeBgrIndices() {
    BgrIndices ix{};
    for (int c = 0; c < 3; c++)
        for (int p = 0; p < 64; p++) {
            int q = 64 * c + p, plane = q % 3, px = q / 3;
            ix.blueGreen[c][p] = (uint8_t)(plane == 1 ? 64 + px : px);
            ix.red[c][p] = (uint8_t)px;
            if (plane == 2) ix.redBytes[c] |= 1ull << p;
        }
    return ix;
}

alignas(64) inline constexpr BgrIndices kBgrIndices = MakeBgrIndices();

// The byte permutes of the colour table's lookups (TableRowAvx512): sixteen
// pixels' bytes B, G, R to words R | G << 8 | B << 16 (the fourth byte is
// masked off after), and the first three bytes of sixteen words back to 48
// bytes.
struct TableIndices {
    uint8_t toWords[64];
    uint8_t toBytes[64];
};

constexpr TableIndices MakeTableIndices() {
    TableIndices ix{};
    for (int p = 0; p < 16; p++) {
        ix.toWords[4 * p] = (uint8_t)(3 * p + 2);
        ix.toWords[4 * p + 1] = (uint8_t)(3 * p + 1);
        ix.toWords[4 * p + 2] = (uint8_t)(3 * p);
        ix.toWords[4 * p + 3] = (uint8_t)(3 * p);
    }
    for (int q = 0; q < 48; q++) ix.toBytes[q] = (uint8_t)(q / 3 * 4 + q % 3);
    return ix;
}

alignas(64) inline constexpr TableIndices kTableIndices = MakeTableIndices();

// Sixty-four pixels given as blue, green and red planes to 192 bytes at out:
// each 64-byte chunk takes its blue and green bytes with one two-register
// permute and its red bytes with a masked permute.
inline void StoreBgr64(uint8_t* out, __m512i b, __m512i g, __m512i r) {
    for (int c = 0; c < 3; c++) {
        __m512i t = _mm512_permutex2var_epi8(b, _mm512_load_si512(kBgrIndices.blueGreen[c]), g);
        t = _mm512_mask_permutexvar_epi8(t, kBgrIndices.redBytes[c],
                                         _mm512_load_si512(kBgrIndices.red[c]), r);
        _mm512_storeu_si512(out + 64 * c, t);
    }
}

}  // namespace convert_detail
}  // namespace tav
#endif

// The logarithmic tables with AVX-512 byte permutes (BW and VBMI): 64 samples
// per step, each looked up in the table's block form (kernels.h, LogBlocks).
#include "acquisition/convert/kernels.h"

#if defined(__AVX512BW__) && defined(__AVX512VBMI__)
#include <immintrin.h>
#endif

namespace tav {
namespace convert_detail {

#if defined(__AVX512BW__) && defined(__AVX512VBMI__)
namespace {

// A 512-byte array in eight registers, loaded once per line: the stores of
// the loop could alias the array as far as the compiler knows.
struct Array512 {
    __m512i r[8];
    explicit Array512(const uint8_t* array) {
        for (int k = 0; k < 8; k++) r[k] = _mm512_load_si512((const __m512i*)array + k);
    }
    // Entry of the block index j (bytes: bits 0..7 in `low`, bit 8 in
    // `high`): four two-register permutes, each reading the low seven bits of
    // the index, then bit 7 and bit 8 pick among them.
    __m512i Lookup(__m512i low, __mmask64 bit7, __mmask64 bit8) const {
        __m512i q0 = _mm512_permutex2var_epi8(r[0], low, r[1]);
        __m512i q1 = _mm512_permutex2var_epi8(r[2], low, r[3]);
        __m512i q2 = _mm512_permutex2var_epi8(r[4], low, r[5]);
        __m512i q3 = _mm512_permutex2var_epi8(r[6], low, r[7]);
        return _mm512_mask_blend_epi8(bit8, _mm512_mask_blend_epi8(bit7, q0, q1),
                                      _mm512_mask_blend_epi8(bit7, q2, q3));
    }
};

}  // namespace

void LogRowAvx512(const uint8_t* src, uint8_t* out, size_t n, const LogBlocks& blocks,
                  const uint8_t* table, unsigned mask) {
    const __m512i sampleMask = _mm512_set1_epi16((short)mask);
    const __m512i shifts = _mm512_load_si512((const __m512i*)blocks.shift);
    const Array512 bases(blocks.base), rises(blocks.rise);
    // Byte positions 0, 2, ..., 126 and 1, 3, ..., 127 of two registers: the
    // low and the high bytes of 64 words.
    __m512i lowBytes = _mm512_set_epi64(0x7E7C7A7876747270, 0x6E6C6A6866646260, 0x5E5C5A5856545250,
                                        0x4E4C4A4846444240, 0x3E3C3A3836343230, 0x2E2C2A2826242220,
                                        0x1E1C1A1816141210, 0x0E0C0A0806040200);
    __m512i highBytes = _mm512_add_epi8(lowBytes, _mm512_set1_epi8(1));
    size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        __m512i j[2], lo[2];
        for (int k = 0; k < 2; k++) {
            __m512i x = _mm512_and_si512(_mm512_loadu_si512((const void*)(src + 2 * i + 64 * k)),
                                         sampleMask);
            __m512i s = _mm512_permutexvar_epi16(_mm512_srli_epi16(x, 7), shifts);
            __m512i q = _mm512_srlv_epi16(x, s);
            lo[k] = _mm512_sub_epi16(x, _mm512_sllv_epi16(q, s));
            j[k] = _mm512_add_epi16(q, _mm512_slli_epi16(s, 6));
        }
        __m512i jLow = _mm512_permutex2var_epi8(j[0], lowBytes, j[1]);
        __m512i jHigh = _mm512_permutex2var_epi8(j[0], highBytes, j[1]);
        __m512i offset = _mm512_permutex2var_epi8(lo[0], lowBytes, lo[1]);
        __mmask64 bit7 = _mm512_test_epi8_mask(jLow, _mm512_set1_epi8((char)0x80));
        __mmask64 bit8 = _mm512_test_epi8_mask(jHigh, _mm512_set1_epi8(1));
        __m512i base = bases.Lookup(jLow, bit7, bit8);
        __m512i rise = rises.Lookup(jLow, bit7, bit8);
        __mmask64 risen = _mm512_cmpge_epu8_mask(offset, rise);
        __m512i entry = _mm512_mask_add_epi8(base, risen, base, _mm512_set1_epi8(1));
        _mm512_storeu_si512((void*)(out + i), entry);
    }
    LogRow(src + 2 * i, out + i, n - i, table, mask);
}

#else

void LogRowAvx512(const uint8_t* src, uint8_t* out, size_t n, const LogBlocks&,
                  const uint8_t* table, unsigned mask) {
    LogRow(src, out, n, table, mask);
}

#endif

}  // namespace convert_detail
}  // namespace tav

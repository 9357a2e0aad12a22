// The Bayer line kernel with AVX-512 (BW and VBMI): sixty-four pixels per step.
#include <string.h>

#include "acquisition/convert/kernels.h"
#include "acquisition/convert/simd_avx512.h"

namespace tav {
namespace convert_detail {

#if defined(__AVX512BW__) && defined(__AVX512VBMI__)
namespace {

struct Avx512 {
    using V = __m512i;
    static constexpr uint32_t kLanes = 64;
    static V Load(const uint8_t* p) { return _mm512_loadu_si512((const void*)p); }
    static void Store(uint8_t* p, V v) { _mm512_storeu_si512((void*)p, v); }
    static V Bytes(char b) { return _mm512_set1_epi8(b); }
    static V Words(short w) { return _mm512_set1_epi16(w); }
    static V SubBytes(V a, V b) { return _mm512_sub_epi8(a, b); }
    static V Average(V a, V b) { return _mm512_avg_epu8(a, b); }
    static V And(V a, V b) { return _mm512_and_si512(a, b); }
    static V Or(V a, V b) { return _mm512_or_si512(a, b); }
    static V AddBytes(V a, V b) { return _mm512_add_epi8(a, b); }
    static void StoreBgr(uint8_t* out, V b, V g, V r) { StoreBgr64(out, b, g, r); }
};

}  // namespace
}  // namespace convert_detail
}  // namespace tav

#include "acquisition/convert/bayer_step.h"

namespace tav {
namespace convert_detail {

void BayerRowAvx512(const uint8_t* up, const uint8_t* cur, const uint8_t* down, uint8_t* out,
                    uint32_t width, bool oddLine) {
    BayerRowSteps<Avx512>(up, cur, down, out, width, oddLine, BayerRowAvx2);
}

// Sixteen pixels a step: their 48 bytes turned into sixteen table offsets
// (3 * (B << 16 | G << 8 | R)), the entries gathered as four-byte words, and
// the words' first three bytes stored. A gather keeps sixteen reads of the
// table in flight, where a loop of loads waits on each miss in turn: the
// table is 48 MiB and its entries are rarely in the caches. The table's last
// entry is not gathered (its fourth byte would lie past the table); it is
// copied byte by byte, as are the line's last pixels.
void TableRowAvx512(const uint8_t* in, uint8_t* out, uint32_t w, const uint8_t* table) {
    const __m512i toWords = _mm512_load_si512(kTableIndices.toWords);
    const __m512i toBytes = _mm512_load_si512(kTableIndices.toBytes);
    const __m512i low24 = _mm512_set1_epi32(0xFFFFFF);
    const __mmask64 pixels16 = _cvtu64_mask64(0xFFFFFFFFFFFFull), all = _cvtu64_mask64(~0ull);
    const uint8_t* lastEntry = table + 3 * (size_t)0xFFFFFF;
    uint32_t x = 0;
    for (; x + 16 <= w; x += 16) {
        __m512i bgr = _mm512_maskz_loadu_epi8(pixels16, in + 3 * (size_t)x);
        __m512i entry = _mm512_and_si512(_mm512_maskz_permutexvar_epi8(all, toWords, bgr), low24);
        __mmask16 gathered = _mm512_cmpneq_epi32_mask(entry, low24);
        __m512i offset = _mm512_add_epi32(entry, _mm512_add_epi32(entry, entry));
        __m512i words = _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), gathered, offset,
                                                    (const void*)table, 1);
        _mm512_mask_storeu_epi8(out + 3 * (size_t)x, pixels16,
                                _mm512_maskz_permutexvar_epi8(all, toBytes, words));
        for (unsigned rest = (unsigned)~gathered & 0xFFFF; rest; rest &= rest - 1)
            memcpy(out + 3 * (size_t)(x + __builtin_ctz(rest)), lastEntry, 3);
    }
    TableRowPortable(in + 3 * (size_t)x, out + 3 * (size_t)x, w - x, table);
}

#else

void BayerRowAvx512(const uint8_t* up, const uint8_t* cur, const uint8_t* down, uint8_t* out,
                    uint32_t width, bool oddLine) {
    BayerRowAvx2(up, cur, down, out, width, oddLine);
}

void TableRowAvx512(const uint8_t* in, uint8_t* out, uint32_t w, const uint8_t* table) {
    TableRowPortable(in, out, w, table);
}

#endif

}  // namespace convert_detail
}  // namespace tav

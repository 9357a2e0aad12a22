// The YUV 4:2:2 line kernel with AVX2: thirty-two pixels per step; the exact
// per-byte terms are those of the SSE2 kernel (uyvy_sse2.cpp).
#include "acquisition/convert/kernels.h"
#include "acquisition/convert/simd_avx2.h"

namespace tav {
namespace convert_detail {

#if defined(__AVX2__)
namespace {

inline __m256i Term(__m256i n, __m256i m) {
    __m256i s = _mm256_srai_epi16(n, 15);
    __m256i a = _mm256_sub_epi16(_mm256_xor_si256(n, s), s);
    __m256i t = _mm256_mulhi_epu16(_mm256_slli_epi16(a, 2), m);
    return _mm256_sub_epi16(_mm256_xor_si256(t, s), s);
}

// Sixteen pixels (eight groups; pixels 0..7 in the low half) as 16-bit blue,
// green, red before clamping.
inline void Pixels16(__m256i x, __m256i* b, __m256i* g, __m256i* r) {
    __m256i y = _mm256_srli_epi16(x, 8);
    __m256i uv = _mm256_and_si256(x, _mm256_set1_epi16(0x00FF));
    __m256i luma = Term(_mm256_sub_epi16(y, _mm256_set1_epi16(16)), _mm256_set1_epi16(19078));
    __m256i c = _mm256_sub_epi16(uv, _mm256_set1_epi16(128));
    __m256i br = Term(c, _mm256_set1_epi32((26149 << 16) | 33042));
    __m256i gg = Term(c, _mm256_set1_epi32((13326 << 16) | 6426));
    __m256i gs = _mm256_add_epi16(gg, _mm256_srli_epi32(gg, 16));
    __m256i bc = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(br, 0xA0), 0xA0);
    __m256i rc = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(br, 0xF5), 0xF5);
    __m256i gc = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(gs, 0xA0), 0xA0);
    *b = _mm256_add_epi16(luma, bc);
    *g = _mm256_sub_epi16(luma, gc);
    *r = _mm256_add_epi16(luma, rc);
}

// Saturating pack of pixels 0..15 and 16..31 back into pixel order.
inline __m256i Pack(__m256i a, __m256i b) {
    return _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8);
}

}  // namespace

void UyvyRowAvx2(const uint8_t* src, uint8_t* out, uint32_t groups) {
    uint32_t i = 0;
    for (; i + 16 <= groups; i += 16, src += 64, out += 96) {
        __m256i b0, g0, r0, b1, g1, r1;
        Pixels16(_mm256_loadu_si256((const __m256i*)src), &b0, &g0, &r0);
        Pixels16(_mm256_loadu_si256((const __m256i*)(src + 32)), &b1, &g1, &r1);
        StoreBgr32(out, Pack(b0, b1), Pack(g0, g1), Pack(r0, r1));
    }
    UyvyRowSse2(src, out, groups - i);
}

#else

void UyvyRowAvx2(const uint8_t* src, uint8_t* out, uint32_t groups) {
    UyvyRowSse2(src, out, groups);
}

#endif

}  // namespace convert_detail
}  // namespace tav

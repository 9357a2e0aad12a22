// The Bayer line kernel with AVX2: thirty-two pixels per step.
#include "acquisition/convert/kernels.h"
#include "acquisition/convert/simd_avx2.h"

namespace tav {
namespace convert_detail {

#if defined(__AVX2__)
namespace {

struct Avx2 {
    using V = __m256i;
    static constexpr uint32_t kLanes = 32;
    static V Load(const uint8_t* p) { return _mm256_loadu_si256((const __m256i*)p); }
    static void Store(uint8_t* p, V v) { _mm256_storeu_si256((__m256i*)p, v); }
    static V Bytes(char b) { return _mm256_set1_epi8(b); }
    static V Words(short w) { return _mm256_set1_epi16(w); }
    static V SubBytes(V a, V b) { return _mm256_sub_epi8(a, b); }
    static V Average(V a, V b) { return _mm256_avg_epu8(a, b); }
    static V And(V a, V b) { return _mm256_and_si256(a, b); }
    static V Or(V a, V b) { return _mm256_or_si256(a, b); }
    static V AddBytes(V a, V b) { return _mm256_add_epi8(a, b); }
    static void StoreBgr(uint8_t* out, V b, V g, V r) { StoreBgr32(out, b, g, r); }
};

}  // namespace
}  // namespace convert_detail
}  // namespace tav

#include "acquisition/convert/bayer_step.h"

namespace tav {
namespace convert_detail {

void BayerRowAvx2(const uint8_t* up, const uint8_t* cur, const uint8_t* down, uint8_t* out,
                  uint32_t width, bool oddLine) {
    BayerRowSteps<Avx2>(up, cur, down, out, width, oddLine, BayerRowSse2);
}

#else

void BayerRowAvx2(const uint8_t* up, const uint8_t* cur, const uint8_t* down, uint8_t* out,
                  uint32_t width, bool oddLine) {
    BayerRowSse2(up, cur, down, out, width, oddLine);
}

#endif

}  // namespace convert_detail
}  // namespace tav

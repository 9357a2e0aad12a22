// The Bayer line kernel with SSE2: sixteen pixels per step.
#include "acquisition/convert/kernels.h"
#include "acquisition/convert/simd_sse2.h"

namespace tav {
namespace convert_detail {

#if defined(__SSE2__)
namespace {

struct Sse2 {
    using V = __m128i;
    static constexpr uint32_t kLanes = 16;
    static V Load(const uint8_t* p) { return _mm_loadu_si128((const __m128i*)p); }
    static void Store(uint8_t* p, V v) { _mm_storeu_si128((__m128i*)p, v); }
    static V Bytes(char b) { return _mm_set1_epi8(b); }
    static V Words(short w) { return _mm_set1_epi16(w); }
    static V SubBytes(V a, V b) { return _mm_sub_epi8(a, b); }
    static V Average(V a, V b) { return _mm_avg_epu8(a, b); }
    static V And(V a, V b) { return _mm_and_si128(a, b); }
    static V Or(V a, V b) { return _mm_or_si128(a, b); }
    static V AddBytes(V a, V b) { return _mm_add_epi8(a, b); }
    static void StoreBgr(uint8_t* out, V b, V g, V r) { StoreBgr16(out, b, g, r); }
};

}  // namespace
}  // namespace convert_detail
}  // namespace tav

#include "acquisition/convert/bayer_step.h"

namespace tav {
namespace convert_detail {

void BayerRowSse2(const uint8_t* up, const uint8_t* cur, const uint8_t* down, uint8_t* out,
                  uint32_t width, bool oddLine) {
    BayerRowSteps<Sse2>(up, cur, down, out, width, oddLine, BayerRowPortable);
}

#else

void BayerRowSse2(const uint8_t* up, const uint8_t* cur, const uint8_t* down, uint8_t* out,
                  uint32_t width, bool oddLine) {
    BayerRowPortable(up, cur, down, out, width, oddLine);
}

#endif

}  // namespace convert_detail
}  // namespace tav

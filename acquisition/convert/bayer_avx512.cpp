// The Bayer line kernel with AVX-512 (BW and VBMI): sixty-four pixels per step.
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
    static V Bytes(char b) { return _mm512_set1_epi8(b); }
    static V Words(short w) { return _mm512_set1_epi16(w); }
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

#else

void BayerRowAvx512(const uint8_t* up, const uint8_t* cur, const uint8_t* down, uint8_t* out,
                    uint32_t width, bool oddLine) {
    BayerRowAvx2(up, cur, down, out, width, oddLine);
}

#endif

}  // namespace convert_detail
}  // namespace tav

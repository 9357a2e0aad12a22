// The 16-bit to 8-bit shift with SSE2, and the cache-bypassing copy.
#include <string.h>

#include "acquisition/convert/kernels.h"
#include "acquisition/convert/simd_sse2.h"

namespace tav {
namespace convert_detail {

void ShiftRowSse2(const uint8_t* src, uint8_t* out, size_t n) {
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i low = _mm_set1_epi16(0x00FF);
    for (; i + 16 <= n; i += 16) {
        __m128i a = _mm_loadu_si128((const __m128i*)(src + 2 * i));
        __m128i b = _mm_loadu_si128((const __m128i*)(src + 2 * i + 16));
        a = _mm_and_si128(_mm_srli_epi16(a, 4), low);
        b = _mm_and_si128(_mm_srli_epi16(b, 4), low);
        _mm_storeu_si128((__m128i*)(out + i), _mm_packus_epi16(a, b));
    }
#endif
    ShiftRowPortable(src + 2 * i, out + i, n - i);
}

void StreamCopySse2(uint8_t* dst, const uint8_t* src, size_t n) {
#if defined(__SSE2__)
    size_t head = StreamHead(dst, n), i = head;
    memcpy(dst, src, head);
    for (; i + 64 <= n; i += 64)
        for (size_t k = 0; k < 64; k += 16)
            _mm_stream_si128((__m128i*)(dst + i + k),
                             _mm_loadu_si128((const __m128i*)(src + i + k)));
    memcpy(dst + i, src + i, n - i);
#else
    StreamCopyPortable(dst, src, n);
#endif
}

void StreamFence() {
#if defined(__SSE2__)
    _mm_sfence();
#endif
}

}  // namespace convert_detail
}  // namespace tav

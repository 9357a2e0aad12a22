// The 16-bit to 8-bit shift with AVX2, and the line copies.
#include <string.h>

#include "acquisition/convert/kernels.h"
#include "acquisition/convert/simd_avx2.h"

namespace tav {
namespace convert_detail {

void ShiftRowAvx2(const uint8_t* src, uint8_t* out, size_t n) {
    size_t i = 0;
#if defined(__AVX2__)
    const __m256i low = _mm256_set1_epi16(0x00FF);
    for (; i + 32 <= n; i += 32) {
        __m256i a = _mm256_loadu_si256((const __m256i*)(src + 2 * i));
        __m256i b = _mm256_loadu_si256((const __m256i*)(src + 2 * i + 32));
        a = _mm256_and_si256(_mm256_srli_epi16(a, 4), low);
        b = _mm256_and_si256(_mm256_srli_epi16(b, 4), low);
        __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8);
        _mm256_storeu_si256((__m256i*)(out + i), packed);
    }
#endif
    ShiftRowSse2(src + 2 * i, out + i, n - i);
}

void CopyLinesAvx2(const uint8_t* src, ptrdiff_t srcStep, uint8_t* dst, ptrdiff_t step,
                   size_t width, uint32_t lines) {
#if defined(__AVX2__)
    for (uint32_t y = 0; y < lines; y++) {
        const uint8_t* from = src + LineOffset(y, srcStep);
        uint8_t* to = dst + LineOffset(y, step);
        size_t i = 0;
        for (; i + 128 <= width; i += 128) {
            __m256i a = _mm256_loadu_si256((const __m256i*)(from + i));
            __m256i b = _mm256_loadu_si256((const __m256i*)(from + i + 32));
            __m256i c = _mm256_loadu_si256((const __m256i*)(from + i + 64));
            __m256i d = _mm256_loadu_si256((const __m256i*)(from + i + 96));
            _mm256_storeu_si256((__m256i*)(to + i), a);
            _mm256_storeu_si256((__m256i*)(to + i + 32), b);
            _mm256_storeu_si256((__m256i*)(to + i + 64), c);
            _mm256_storeu_si256((__m256i*)(to + i + 96), d);
        }
        for (; i + 32 <= width; i += 32)
            _mm256_storeu_si256((__m256i*)(to + i), _mm256_loadu_si256((const __m256i*)(from + i)));
        memcpy(to + i, from + i, width - i);
    }
#else
    CopyLinesPortable(src, srcStep, dst, step, width, lines);
#endif
}

void StreamCopyAvx2(uint8_t* dst, const uint8_t* src, size_t n) {
#if defined(__AVX2__)
    size_t head = StreamHead(dst, n), i = head;
    memcpy(dst, src, head);
    for (; i + 64 <= n; i += 64) {
        __m256i a = _mm256_loadu_si256((const __m256i*)(src + i));
        __m256i b = _mm256_loadu_si256((const __m256i*)(src + i + 32));
        _mm256_stream_si256((__m256i*)(dst + i), a);
        _mm256_stream_si256((__m256i*)(dst + i + 32), b);
    }
    memcpy(dst + i, src + i, n - i);
#else
    StreamCopySse2(dst, src, n);
#endif
}

}  // namespace convert_detail
}  // namespace tav

// The line copies of small 8-bit pictures with AVX-512: 64 bytes a load and
// store.
#include "acquisition/convert/kernels.h"

#if defined(__AVX512BW__)
#include <immintrin.h>
#endif

namespace tav {
namespace convert_detail {

void CopyLinesAvx512(const uint8_t* src, ptrdiff_t srcStep, uint8_t* dst, ptrdiff_t step,
                     size_t width, uint32_t lines) {
#if defined(__AVX512BW__)
    // The stores are aligned to 64 bytes, as a picture's lines rarely are (a
    // large allocation starts 16 bytes into a page): a store across two cache
    // lines costs two. A masked pair writes up to the first boundary and the
    // line's last bytes; bytes of a masked load outside the mask are not read
    // (and can't fault), so both stay within their lines.
    for (uint32_t y = 0; y < lines; y++) {
        const uint8_t* from = src + LineOffset(y, srcStep);
        uint8_t* to = dst + LineOffset(y, step);
        size_t head = (64 - ((uintptr_t)to & 63)) & 63;
        if (head > width) head = width;
        if (head) {
            __mmask64 m = _cvtu64_mask64(~0ull >> (64 - head));
            _mm512_mask_storeu_epi8(to, m, _mm512_maskz_loadu_epi8(m, from));
        }
        size_t i = head;
        for (; i + 256 <= width; i += 256) {
            __m512i a = _mm512_loadu_si512((const void*)(from + i));
            __m512i b = _mm512_loadu_si512((const void*)(from + i + 64));
            __m512i c = _mm512_loadu_si512((const void*)(from + i + 128));
            __m512i d = _mm512_loadu_si512((const void*)(from + i + 192));
            _mm512_store_si512((void*)(to + i), a);
            _mm512_store_si512((void*)(to + i + 64), b);
            _mm512_store_si512((void*)(to + i + 128), c);
            _mm512_store_si512((void*)(to + i + 192), d);
        }
        for (; i + 64 <= width; i += 64)
            _mm512_store_si512((void*)(to + i), _mm512_loadu_si512((const void*)(from + i)));
        if (i < width) {
            __mmask64 m = _cvtu64_mask64(~0ull >> (64 - (width - i)));
            _mm512_mask_storeu_epi8(to + i, m, _mm512_maskz_loadu_epi8(m, from + i));
        }
    }
#else
    CopyLinesAvx2(src, srcStep, dst, step, width, lines);
#endif
}

}  // namespace convert_detail
}  // namespace tav

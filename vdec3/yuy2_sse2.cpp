#include "vdec3/kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>

namespace vdec3::sse2 {

void Yuy2Row(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* dst, int width) {
  int x = 0;
  for (; x + 16 <= width; x += 16) {
    const __m128i luma = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x));
    const __m128i u = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb + x / 2));
    const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr + x / 2));
    const __m128i uv = _mm_unpacklo_epi8(u, v);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 2 * x), _mm_unpacklo_epi8(luma, uv));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 2 * x + 16), _mm_unpackhi_epi8(luma, uv));
  }
  for (; x < width; x += 2) {
    dst[2 * x] = y[x];
    dst[2 * x + 1] = cb[x / 2];
    dst[2 * x + 2] = y[x + 1];
    dst[2 * x + 3] = cr[x / 2];
  }
}

}  // namespace vdec3::sse2
#endif

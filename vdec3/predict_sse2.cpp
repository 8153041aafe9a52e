// Half-pel prediction with pavgb, whose (a + b + 1) >> 1 is exactly the codec's rounding.
#include "vdec3/kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>

namespace vdec3::sse2 {
namespace {

template <int N>
inline __m128i Load(const uint8_t* p) {
  if constexpr (N == 16) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  } else {
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
  }
}

template <int N>
inline void Store(uint8_t* p, __m128i v) {
  if constexpr (N == 16) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
  } else {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
  }
}

template <int N, int Mode>
void Predict(uint8_t* dst, const uint8_t* src, ptrdiff_t stride) {
  if constexpr (Mode == 3) {
    __m128i above = _mm_avg_epu8(Load<N>(src), Load<N>(src + 1));
    for (int r = 0; r < N; ++r) {
      src += stride;
      const __m128i below = _mm_avg_epu8(Load<N>(src), Load<N>(src + 1));
      Store<N>(dst + r * stride, _mm_avg_epu8(above, below));
      above = below;
    }
  } else {
    for (int r = 0; r < N; ++r, dst += stride, src += stride) {
      __m128i v = Load<N>(src);
      if constexpr (Mode == 1) v = _mm_avg_epu8(v, Load<N>(src + 1));
      if constexpr (Mode == 2) v = _mm_avg_epu8(v, Load<N>(src + stride));
      Store<N>(dst, v);
    }
  }
}

}  // namespace

VDEC3_DEFINE_PREDICT_ENTRIES()

}  // namespace vdec3::sse2
#endif

// The integer inverse transform with SSE2: each pass multiplies coefficient pairs with pmaddwd, so
// every product and sum is the exact 32-bit value of the portable code; the row results are kept
// to 16 bits by truncation, as there.
#include "vdec3/kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>

namespace vdec3::sse2 {
namespace {

constexpr int c1 = 2841, c2 = 2676, c3 = 2408, c4 = 2048, c5 = 1609, c6 = 1108, c7 = 565;

inline __m128i Pair(int a, int b) {
  return _mm_set1_epi32(static_cast<int>((static_cast<uint32_t>(b) << 16) | (static_cast<uint32_t>(a) & 0xFFFF)));
}

inline void Transpose(__m128i r[8]) {
  const __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
  const __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
  const __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
  const __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
  const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
  const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
  const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
  const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
  r[0] = _mm_unpacklo_epi64(b0, b4);
  r[1] = _mm_unpackhi_epi64(b0, b4);
  r[2] = _mm_unpacklo_epi64(b1, b5);
  r[3] = _mm_unpackhi_epi64(b1, b5);
  r[4] = _mm_unpacklo_epi64(b2, b6);
  r[5] = _mm_unpackhi_epi64(b2, b6);
  r[6] = _mm_unpacklo_epi64(b3, b7);
  r[7] = _mm_unpackhi_epi64(b3, b7);
}

// One 8-point pass over 8 lanes; y[k] (32-bit) for lanes 0-3 in lo, 4-7 in hi.
template <int Round, int Shift, bool Truncate16>
inline void Pass(__m128i x[8]) {
  __m128i out[8];
  for (int half = 0; half < 2; ++half) {
    auto unpack = [half](__m128i a, __m128i b) {
      return half ? _mm_unpackhi_epi16(a, b) : _mm_unpacklo_epi16(a, b);
    };
    const __m128i x04 = unpack(x[0], x[4]), x26 = unpack(x[2], x[6]);
    const __m128i x13 = unpack(x[1], x[3]), x57 = unpack(x[5], x[7]);
    const __m128i ea = _mm_madd_epi16(x04, Pair(c4, c4));
    const __m128i eb = _mm_madd_epi16(x26, Pair(c2, c6));
    const __m128i fa = _mm_madd_epi16(x04, Pair(c4, -c4));
    const __m128i fb = _mm_madd_epi16(x26, Pair(c6, -c2));
    const __m128i e0 = _mm_add_epi32(ea, eb), e3 = _mm_sub_epi32(ea, eb);
    const __m128i e1 = _mm_add_epi32(fa, fb), e2 = _mm_sub_epi32(fa, fb);
    const __m128i o0 = _mm_add_epi32(_mm_madd_epi16(x13, Pair(c1, c3)), _mm_madd_epi16(x57, Pair(c5, c7)));
    const __m128i o1 = _mm_add_epi32(_mm_madd_epi16(x13, Pair(c3, -c7)), _mm_madd_epi16(x57, Pair(-c1, -c5)));
    const __m128i o2 = _mm_add_epi32(_mm_madd_epi16(x13, Pair(c5, -c1)), _mm_madd_epi16(x57, Pair(c7, c3)));
    const __m128i o3 = _mm_add_epi32(_mm_madd_epi16(x13, Pair(c7, -c5)), _mm_madd_epi16(x57, Pair(c3, -c1)));
    const __m128i y[8] = {_mm_add_epi32(e0, o0), _mm_add_epi32(e1, o1), _mm_add_epi32(e2, o2),
                          _mm_add_epi32(e3, o3), _mm_sub_epi32(e3, o3), _mm_sub_epi32(e2, o2),
                          _mm_sub_epi32(e1, o1), _mm_sub_epi32(e0, o0)};
    const __m128i round = _mm_set1_epi32(Round);
    for (int k = 0; k < 8; ++k) {
      __m128i v = _mm_srai_epi32(_mm_add_epi32(y[k], round), Shift);
      if constexpr (Truncate16) v = _mm_srai_epi32(_mm_slli_epi32(v, 16), 16);
      if (half) {
        out[k] = _mm_packs_epi32(out[k], v);
      } else {
        out[k] = v;
      }
    }
  }
  for (int k = 0; k < 8; ++k) x[k] = out[k];
}

// Leaves the 8 result rows in r.
inline void Transform(const int16_t* block, __m128i r[8]) {
  for (int i = 0; i < 8; ++i) r[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * i));
  Transpose(r);                     // r[k]: coefficient k of every row
  Pass<256, 9, true>(r);            // r[k]: output k of every row
  Transpose(r);                     // r[i]: row i
  Pass<32768, 16, false>(r);        // r[k]: output row k
}

}  // namespace

void IdctPut(int16_t* block, uint8_t* dst, ptrdiff_t stride) {
  __m128i r[8];
  Transform(block, r);
  for (int i = 0; i < 8; ++i)
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + i * stride), _mm_packus_epi16(r[i], r[i]));
}

void IdctAdd(int16_t* block, uint8_t* dst, ptrdiff_t stride) {
  __m128i r[8];
  Transform(block, r);
  const __m128i zero = _mm_setzero_si128();
  for (int i = 0; i < 8; ++i) {
    auto* p = reinterpret_cast<__m128i*>(dst + i * stride);
    const __m128i pred = _mm_unpacklo_epi8(_mm_loadl_epi64(p), zero);
    const __m128i sum = _mm_adds_epi16(pred, r[i]);
    _mm_storel_epi64(p, _mm_packus_epi16(sum, sum));
  }
}

void DcPut(int dc, uint8_t* dst, ptrdiff_t stride) {
  const int t = static_cast<int16_t>(4 * dc);
  int v = (t + 16) >> 5;
  v = v < 0 ? 0 : v > 255 ? 255 : v;
  const __m128i fill = _mm_set1_epi8(static_cast<char>(v));
  for (int i = 0; i < 8; ++i) _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + i * stride), fill);
}

void DcAdd(int dc, uint8_t* dst, ptrdiff_t stride) {
  const int t = static_cast<int16_t>(4 * dc);
  const __m128i v = _mm_set1_epi16(static_cast<int16_t>((t + 16) >> 5));
  const __m128i zero = _mm_setzero_si128();
  for (int i = 0; i < 8; i += 2) {
    auto* p0 = reinterpret_cast<__m128i*>(dst + i * stride);
    auto* p1 = reinterpret_cast<__m128i*>(dst + (i + 1) * stride);
    const __m128i a = _mm_adds_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(p0), zero), v);
    const __m128i b = _mm_adds_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(p1), zero), v);
    const __m128i packed = _mm_packus_epi16(a, b);
    _mm_storel_epi64(p0, packed);
    _mm_storel_epi64(p1, _mm_srli_si128(packed, 8));
  }
}

}  // namespace vdec3::sse2
#endif

// Load/store and arithmetic helpers shared by the SSE2 kernels (and the AVX2 ones at 128 bits).
#pragma once

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

// Internal linkage on purpose: this header is compiled into the AVX2 sources too (with -mavx2),
// and an inline function shared across them could be resolved to the AVX2 copy on any processor.
namespace kestrel::h264::dsp::sse2 {
namespace {

// Unaligned narrow loads and stores through memcpy (no aliasing or alignment assumptions).
inline __m128i Load16(const void* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return _mm_cvtsi32_si128(v);
}
inline __m128i Load32(const void* p) {
  int32_t v;
  std::memcpy(&v, p, 4);
  return _mm_cvtsi32_si128(v);
}
inline __m128i Load64(const void* p) { return _mm_loadl_epi64(static_cast<const __m128i*>(p)); }
inline __m128i Load128(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
inline void Store16(void* p, __m128i v) {
  const uint16_t x = static_cast<uint16_t>(_mm_cvtsi128_si32(v));
  std::memcpy(p, &x, 2);
}
inline void Store32(void* p, __m128i v) {
  const int32_t x = _mm_cvtsi128_si32(v);
  std::memcpy(p, &x, 4);
}
inline void Store64(void* p, __m128i v) { _mm_storel_epi64(static_cast<__m128i*>(p), v); }
inline void Store128(void* p, __m128i v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }

// Bytes to 16-bit lanes.
inline __m128i WidenLo(__m128i v) { return _mm_unpacklo_epi8(v, _mm_setzero_si128()); }
inline __m128i WidenHi(__m128i v) { return _mm_unpackhi_epi8(v, _mm_setzero_si128()); }

// |a - b| of unsigned bytes.
inline __m128i AbsDiffU8(__m128i a, __m128i b) {
  return _mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a));
}
// Unsigned byte a < b as a lane mask.
inline __m128i LessU8(__m128i a, __m128i b) {
  return _mm_xor_si128(_mm_cmpeq_epi8(_mm_max_epu8(a, b), a), _mm_set1_epi8(-1));
}
inline __m128i Select(__m128i mask, __m128i if_set, __m128i if_clear) {
  return _mm_or_si128(_mm_and_si128(mask, if_set), _mm_andnot_si128(mask, if_clear));
}
inline __m128i Abs16(__m128i v) {
  const __m128i sign = _mm_srai_epi16(v, 15);
  return _mm_sub_epi16(_mm_xor_si128(v, sign), sign);
}
inline __m128i Clamp16(__m128i v, __m128i lo, __m128i hi) {
  return _mm_min_epi16(_mm_max_epi16(v, lo), hi);
}

// 6-tap (1, -5, 20, 20, -5, 1) on 16-bit lanes: e - 5 f + 20 g + 20 h - 5 i + j, exact in 16 bits
// for 8-bit samples.
inline __m128i Tap6(__m128i e, __m128i f, __m128i g, __m128i h, __m128i i, __m128i j) {
  const __m128i gh = _mm_add_epi16(g, h), fi = _mm_add_epi16(f, i), ej = _mm_add_epi16(e, j);
  return _mm_add_epi16(_mm_sub_epi16(_mm_mullo_epi16(gh, _mm_set1_epi16(20)),
                                     _mm_mullo_epi16(fi, _mm_set1_epi16(5))),
                       ej);
}
// Clip1((v + 16) >> 5) for two vectors of 16-bit taps, packed to bytes.
inline __m128i RoundTaps(__m128i lo, __m128i hi) {
  const __m128i r = _mm_set1_epi16(16);
  return _mm_packus_epi16(_mm_srai_epi16(_mm_add_epi16(lo, r), 5), _mm_srai_epi16(_mm_add_epi16(hi, r), 5));
}
// The centre sample j from six unrounded 16-bit intermediates a..f (rows or columns -2..3):
// (s1 - 5 s2 + 20 s3 + 512) >> 10 with s1 = a + f, s2 = b + e, s3 = c + d, in 16-bit lanes as
// ((((s1 - s2) >> 2) - s2 + s3) >> 2) + s3 + 32) >> 6. The nested floors compose exactly; the
// one sum that can leave 16 bits (by at most 1.2 percent, for extreme inputs) saturates, and in
// exactly those cases the result clips to 0 or 255 either way. Returns 16-bit lanes, to be
// packed with unsigned saturation (the final Clip1).
inline __m128i CentreTaps(__m128i a, __m128i b, __m128i c, __m128i d, __m128i e, __m128i f) {
  const __m128i s1 = _mm_add_epi16(a, f), s2 = _mm_add_epi16(b, e), s3 = _mm_add_epi16(c, d);
  const __m128i x = _mm_adds_epi16(_mm_srai_epi16(_mm_sub_epi16(s1, s2), 2), _mm_sub_epi16(s3, s2));
  const __m128i y = _mm_add_epi16(_mm_srai_epi16(x, 2), s3);
  return _mm_srai_epi16(_mm_add_epi16(y, _mm_set1_epi16(32)), 6);
}

}  // namespace
}  // namespace kestrel::h264::dsp::sse2

// SSE2 deinterlacing kernel: sixteen pixels (eight pairs) at a time between the border pairs.
#include "h264/dsp/deinterlace_pair.h"
#include "h264/dsp/kernel_sets.h"
#include "h264/dsp/simd_sse2.h"

namespace kestrel::h264::dsp {
namespace {

using namespace sse2;

// Texture of the even pixel of each pair, as 16-bit lanes: |R - R'| + |R - R(+1)|.
inline __m128i PairTexture(const uint8_t* row, const uint8_t* next, int x) {
  const __m128i r = Load128(row + x);
  const __m128i even = _mm_set1_epi16(0x00FF);
  const __m128i a = _mm_and_si128(AbsDiffU8(r, Load128(next + x)), even);
  const __m128i b = _mm_and_si128(AbsDiffU8(r, Load128(row + x + 1)), even);
  return _mm_add_epi16(a, b);
}
// Sum of each pair's two samples, 16-bit lanes.
inline __m128i PairSum(const uint8_t* row, int x) {
  const __m128i v = Load128(row + x);
  return _mm_add_epi16(_mm_and_si128(v, _mm_set1_epi16(0x00FF)), _mm_srli_epi16(v, 8));
}

inline void Sixteen(const DeintRows& r, uint8_t* out, uint8_t* motion, int x) {
  const __m128i limit = _mm_set1_epi16(kDeintTextureLimit);
  __m128i textured = _mm_cmpgt_epi16(PairTexture(r.c[1], r.c[3], x), limit);
  textured = _mm_or_si128(textured, _mm_cmpgt_epi16(PairTexture(r.c[0], r.c[2], x), limit));
  textured = _mm_or_si128(textured, _mm_cmpgt_epi16(PairTexture(r.p[1], r.p[3], x), limit));
  textured = _mm_or_si128(textured, _mm_cmpgt_epi16(PairTexture(r.p[0], r.p[2], x), limit));
  const __m128i t = Select(textured, _mm_set1_epi16(kDeintMotionTextured), _mm_set1_epi16(kDeintMotionFlat));
  const __m128i odd = _mm_sub_epi16(_mm_add_epi16(PairSum(r.c[1], x), PairSum(r.c[3], x)),
                                    _mm_add_epi16(PairSum(r.p[1], x), PairSum(r.p[3], x)));
  const __m128i even = _mm_sub_epi16(_mm_add_epi16(PairSum(r.c[0], x), PairSum(r.c[2], x)),
                                     _mm_add_epi16(PairSum(r.p[0], x), PairSum(r.p[2], x)));
  const __m128i still = _mm_and_si128(_mm_cmpgt_epi16(t, Abs16(odd)), _mm_cmpgt_epi16(t, Abs16(even)));
  const __m128i count = _mm_and_si128(Load128(motion + x), _mm_set1_epi16(0x00FF));
  const __m128i old = _mm_cmpgt_epi16(count, _mm_set1_epi16(kDeintStaticCount));
  const __m128i blend = _mm_and_si128(still, old);
  // blend: keep; still: + 1; moving: 0
  const __m128i next = _mm_and_si128(Select(blend, count, _mm_add_epi16(count, _mm_set1_epi16(1))), still);
  Store128(motion + x, _mm_or_si128(next, _mm_slli_epi16(next, 8)));

  const uint8_t *a = r.c[0] + x, *b = r.c[2] + x;
  const __m128i a0 = Load128(a), am = Load128(a - 1), ap = Load128(a + 1);
  const __m128i b0 = Load128(b), bm = Load128(b - 1), bp = Load128(b + 1);
  const __m128i g = AbsDiffU8(ap, bm), h = AbsDiffU8(a0, b0), d = AbsDiffU8(am, bp);
  const __m128i plus = LessU8(d, _mm_min_epu8(g, h));
  const __m128i minus = LessU8(g, h);
  const __m128i directional = Select(plus, _mm_avg_epu8(am, bp), Select(minus, _mm_avg_epu8(ap, bm), _mm_avg_epu8(a0, b0)));
  const __m128i blended = _mm_avg_epu8(Load128(r.c[1] + x), Load128(r.p[1] + x));
  Store128(out + x, Select(blend, blended, directional));
}

void DeinterlaceRow(uint8_t* out, const uint8_t* cur, ptrdiff_t cur_stride, const uint8_t* prev,
                    ptrdiff_t prev_stride, uint8_t* motion, int width) {
  const DeintRows rows(cur, cur_stride, prev, prev_stride);
  DeinterlacePair(rows, out, motion, 0, width);
  int x = 2;
  // a block reads one sample past its sixteen: stay clear of the last pair
  for (; x + 16 <= width - 2; x += 16) Sixteen(rows, out, motion, x);
  for (; x < width; x += 2) DeinterlacePair(rows, out, motion, x, width);
}

}  // namespace

void InitDeinterlaceSse2(KernelTable& t) { t.deinterlace_row = DeinterlaceRow; }

}  // namespace kestrel::h264::dsp

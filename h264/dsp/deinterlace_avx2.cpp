// AVX2 deinterlacing kernel: thirty-two pixels (sixteen pairs) at a time between the border pairs.
#include <immintrin.h>

#include "h264/dsp/deinterlace_pair.h"
#include "h264/dsp/kernel_sets.h"

namespace kestrel::h264::dsp {
namespace {

inline __m256i Load(const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
inline __m256i AbsDiff(__m256i a, __m256i b) { return _mm256_or_si256(_mm256_subs_epu8(a, b), _mm256_subs_epu8(b, a)); }
inline __m256i Less(__m256i a, __m256i b) {  // unsigned bytes
  return _mm256_xor_si256(_mm256_cmpeq_epi8(_mm256_max_epu8(a, b), a), _mm256_set1_epi8(-1));
}
inline __m256i Select(__m256i m, __m256i a, __m256i b) { return _mm256_blendv_epi8(b, a, m); }

inline __m256i PairTexture(const uint8_t* row, const uint8_t* next, int x) {
  const __m256i r = Load(row + x), even = _mm256_set1_epi16(0x00FF);
  return _mm256_add_epi16(_mm256_and_si256(AbsDiff(r, Load(next + x)), even),
                          _mm256_and_si256(AbsDiff(r, Load(row + x + 1)), even));
}
inline __m256i PairSum(const uint8_t* row, int x) {
  const __m256i v = Load(row + x);
  return _mm256_add_epi16(_mm256_and_si256(v, _mm256_set1_epi16(0x00FF)), _mm256_srli_epi16(v, 8));
}

inline void ThirtyTwo(const DeintRows& r, uint8_t* out, uint8_t* motion, int x) {
  const __m256i limit = _mm256_set1_epi16(kDeintTextureLimit);
  __m256i textured = _mm256_cmpgt_epi16(PairTexture(r.c[1], r.c[3], x), limit);
  textured = _mm256_or_si256(textured, _mm256_cmpgt_epi16(PairTexture(r.c[0], r.c[2], x), limit));
  textured = _mm256_or_si256(textured, _mm256_cmpgt_epi16(PairTexture(r.p[1], r.p[3], x), limit));
  textured = _mm256_or_si256(textured, _mm256_cmpgt_epi16(PairTexture(r.p[0], r.p[2], x), limit));
  const __m256i t = Select(textured, _mm256_set1_epi16(kDeintMotionTextured), _mm256_set1_epi16(kDeintMotionFlat));
  const __m256i odd = _mm256_sub_epi16(_mm256_add_epi16(PairSum(r.c[1], x), PairSum(r.c[3], x)),
                                       _mm256_add_epi16(PairSum(r.p[1], x), PairSum(r.p[3], x)));
  const __m256i even = _mm256_sub_epi16(_mm256_add_epi16(PairSum(r.c[0], x), PairSum(r.c[2], x)),
                                        _mm256_add_epi16(PairSum(r.p[0], x), PairSum(r.p[2], x)));
  const __m256i still =
      _mm256_and_si256(_mm256_cmpgt_epi16(t, _mm256_abs_epi16(odd)), _mm256_cmpgt_epi16(t, _mm256_abs_epi16(even)));
  const __m256i count = _mm256_and_si256(Load(motion + x), _mm256_set1_epi16(0x00FF));
  const __m256i blend = _mm256_and_si256(still, _mm256_cmpgt_epi16(count, _mm256_set1_epi16(kDeintStaticCount)));
  const __m256i next = _mm256_and_si256(Select(blend, count, _mm256_add_epi16(count, _mm256_set1_epi16(1))), still);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(motion + x), _mm256_or_si256(next, _mm256_slli_epi16(next, 8)));

  const uint8_t *a = r.c[0] + x, *b = r.c[2] + x;
  const __m256i a0 = Load(a), am = Load(a - 1), ap = Load(a + 1);
  const __m256i b0 = Load(b), bm = Load(b - 1), bp = Load(b + 1);
  const __m256i g = AbsDiff(ap, bm), h = AbsDiff(a0, b0), d = AbsDiff(am, bp);
  const __m256i directional = Select(Less(d, _mm256_min_epu8(g, h)), _mm256_avg_epu8(am, bp),
                                     Select(Less(g, h), _mm256_avg_epu8(ap, bm), _mm256_avg_epu8(a0, b0)));
  const __m256i blended = _mm256_avg_epu8(Load(r.c[1] + x), Load(r.p[1] + x));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), Select(blend, blended, directional));
}

void DeinterlaceRow(uint8_t* out, const uint8_t* cur, ptrdiff_t cur_stride, const uint8_t* prev,
                    ptrdiff_t prev_stride, uint8_t* motion, int width) {
  const DeintRows rows(cur, cur_stride, prev, prev_stride);
  DeinterlacePair(rows, out, motion, 0, width);
  int x = 2;
  for (; x + 32 <= width - 2; x += 32) ThirtyTwo(rows, out, motion, x);
  for (; x < width; x += 2) DeinterlacePair(rows, out, motion, x, width);
}

}  // namespace

void InitDeinterlaceAvx2(KernelTable& t) { t.deinterlace_row = DeinterlaceRow; }

}  // namespace kestrel::h264::dsp

// SSE2 inverse transforms: 4x4 transform (and add), DC-only paths, luma and chroma DC transforms.
#include "h264/dsp/dsp_util.h"
#include "h264/dsp/kernel_sets.h"
#include "h264/dsp/simd_sse2.h"

namespace kestrel::h264::dsp {
namespace {

using namespace sse2;

// Transposes four rows of four 16-bit values (low halves).
inline void Transpose4x4W(__m128i& a, __m128i& b, __m128i& c, __m128i& d) {
  const __m128i ab = _mm_unpacklo_epi16(a, b), cd = _mm_unpacklo_epi16(c, d);
  const __m128i lo = _mm_unpacklo_epi32(ab, cd), hi = _mm_unpackhi_epi32(ab, cd);
  a = lo;
  b = _mm_unpackhi_epi64(lo, lo);
  c = hi;
  d = _mm_unpackhi_epi64(hi, hi);
}

inline void Butterfly(__m128i& d0, __m128i& d1, __m128i& d2, __m128i& d3) {
  const __m128i e0 = _mm_add_epi16(d0, d2), e1 = _mm_sub_epi16(d0, d2);
  const __m128i e2 = _mm_sub_epi16(_mm_srai_epi16(d1, 1), d3);
  const __m128i e3 = _mm_add_epi16(d1, _mm_srai_epi16(d3, 1));
  d0 = _mm_add_epi16(e0, e3);
  d1 = _mm_add_epi16(e1, e2);
  d2 = _mm_sub_epi16(e1, e2);
  d3 = _mm_sub_epi16(e0, e3);
}

// Rows r0..r3 of the residual (low four 16-bit lanes each); clears the coefficients.
inline void Transform(int16_t* coef, __m128i r[4]) {
  const __m128i lo = Load128(coef), hi = Load128(coef + 8);
  __m128i a = lo, b = _mm_unpackhi_epi64(lo, lo), c = hi, d = _mm_unpackhi_epi64(hi, hi);
  Transpose4x4W(a, b, c, d);  // columns: the row pass works across them
  Butterfly(a, b, c, d);
  Transpose4x4W(a, b, c, d);  // back to rows for the column pass
  Butterfly(a, b, c, d);
  const __m128i round = _mm_set1_epi16(32);
  r[0] = _mm_srai_epi16(_mm_add_epi16(a, round), 6);
  r[1] = _mm_srai_epi16(_mm_add_epi16(b, round), 6);
  r[2] = _mm_srai_epi16(_mm_add_epi16(c, round), 6);
  r[3] = _mm_srai_epi16(_mm_add_epi16(d, round), 6);
  Store128(coef, _mm_setzero_si128());
  Store128(coef + 8, _mm_setzero_si128());
}

void Idct4x4(int16_t* res, ptrdiff_t res_stride, int16_t* coef) {
  __m128i r[4];
  Transform(coef, r);
  for (int y = 0; y < 4; ++y) Store64(res + y * res_stride, r[y]);
}

void Idct4x4Dc(int16_t* res, ptrdiff_t res_stride, int16_t* coef) {
  const __m128i dc = _mm_set1_epi16(static_cast<int16_t>(Wrap16(coef[0] + 32) >> 6));
  coef[0] = 0;
  for (int y = 0; y < 4; ++y) Store64(res + y * res_stride, dc);
}

void Idct4x4Add(uint8_t* dst, ptrdiff_t stride, int16_t* coef) {
  __m128i r[4];
  Transform(coef, r);
  const __m128i rows01 = _mm_unpacklo_epi64(r[0], r[1]), rows23 = _mm_unpacklo_epi64(r[2], r[3]);
  const __m128i p01 = WidenLo(_mm_unpacklo_epi32(Load32(dst), Load32(dst + stride)));
  const __m128i p23 = WidenLo(_mm_unpacklo_epi32(Load32(dst + 2 * stride), Load32(dst + 3 * stride)));
  const __m128i out = _mm_packus_epi16(_mm_add_epi16(p01, rows01), _mm_add_epi16(p23, rows23));
  Store32(dst, out);
  Store32(dst + stride, _mm_srli_si128(out, 4));
  Store32(dst + 2 * stride, _mm_srli_si128(out, 8));
  Store32(dst + 3 * stride, _mm_srli_si128(out, 12));
}

void Idct4x4DcAdd(uint8_t* dst, ptrdiff_t stride, int16_t* coef) {
  const int dc = Wrap16(coef[0] + 32) >> 6;
  coef[0] = 0;
  // clip(p + dc) is a saturating byte add of dc or subtract of -dc (|dc| <= 512)
  const __m128i up = _mm_set1_epi8(static_cast<char>(dc > 0 ? (dc > 255 ? 255 : dc) : 0));
  const __m128i down = _mm_set1_epi8(static_cast<char>(dc < 0 ? (dc < -255 ? 255 : -dc) : 0));
  for (int y = 0; y < 4; ++y) {
    const __m128i p = Load32(dst + y * stride);
    Store32(dst + y * stride, _mm_subs_epu8(_mm_adds_epu8(p, up), down));
  }
}

// 32-bit low product of each lane (SSE2 has only the even-lane 32x32 -> 64 multiply).
inline __m128i MulLo32(__m128i a, __m128i b) {
  const __m128i even = _mm_mul_epu32(a, b);
  const __m128i odd = _mm_mul_epu32(_mm_srli_epi64(a, 32), _mm_srli_epi64(b, 32));
  return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, _MM_SHUFFLE(0, 0, 2, 0)),
                            _mm_shuffle_epi32(odd, _MM_SHUFFLE(0, 0, 2, 0)));
}
inline __m128i Widen32(__m128i v16) { return _mm_srai_epi32(_mm_unpacklo_epi16(v16, v16), 16); }

inline void Transpose4x4D(__m128i& a, __m128i& b, __m128i& c, __m128i& d) {
  const __m128i t0 = _mm_unpacklo_epi32(a, b), t1 = _mm_unpacklo_epi32(c, d);
  const __m128i t2 = _mm_unpackhi_epi32(a, b), t3 = _mm_unpackhi_epi32(c, d);
  a = _mm_unpacklo_epi64(t0, t1);
  b = _mm_unpackhi_epi64(t0, t1);
  c = _mm_unpacklo_epi64(t2, t3);
  d = _mm_unpackhi_epi64(t2, t3);
}

inline void Hadamard4(__m128i& a, __m128i& b, __m128i& c, __m128i& d) {
  const __m128i s01 = _mm_add_epi32(a, b), d01 = _mm_sub_epi32(a, b);
  const __m128i s23 = _mm_add_epi32(c, d), d23 = _mm_sub_epi32(c, d);
  a = _mm_add_epi32(s01, s23);
  b = _mm_sub_epi32(s01, s23);
  c = _mm_sub_epi32(d01, d23);
  d = _mm_add_epi32(d01, d23);
}

constexpr int kBlkIdx[16] = {0, 1, 4, 5, 2, 3, 6, 7, 8, 9, 12, 13, 10, 11, 14, 15};

void LumaDcDequant(int16_t* out, const int16_t dc[16], int qp) {
  const __m128i lo = Load128(dc), hi = Load128(dc + 8);
  __m128i r0 = Widen32(lo), r1 = Widen32(_mm_unpackhi_epi64(lo, lo));
  __m128i r2 = Widen32(hi), r3 = Widen32(_mm_unpackhi_epi64(hi, hi));
  Hadamard4(r0, r1, r2, r3);  // rows of H c
  Transpose4x4D(r0, r1, r2, r3);
  Hadamard4(r0, r1, r2, r3);  // r_k = column k of H c H
  const int q6 = qp / 6;
  const __m128i v = _mm_set1_epi32(kLevelScaleDc[qp % 6]);
  __m128i f[4] = {r0, r1, r2, r3};
  alignas(16) int32_t scaled[4][4];
  for (int k = 0; k < 4; ++k) {
    const __m128i fv = MulLo32(f[k], v);
    __m128i s;
    if (q6 >= 6) {
      s = _mm_sll_epi32(fv, _mm_cvtsi32_si128(q6 - 2));
    } else {
      s = _mm_add_epi32(_mm_slli_epi32(fv, 4), _mm_set1_epi32(1 << (5 - q6)));
      s = _mm_sra_epi32(s, _mm_cvtsi32_si128(6 - q6));
    }
    _mm_store_si128(reinterpret_cast<__m128i*>(scaled[k]), s);
  }
  for (int i = 0; i < 4; ++i)
    for (int k = 0; k < 4; ++k) out[16 * kBlkIdx[4 * i + k]] = static_cast<int16_t>(scaled[k][i]);
}

void ChromaDcDequant(int16_t* out, const int16_t dc[4], int qp) {
  const __m128i c = Widen32(Load64(dc));
  const __m128i odd_sign = _mm_set_epi32(-1, 0, -1, 0), high_sign = _mm_set_epi32(-1, -1, 0, 0);
  // (c0 + c1, c0 - c1, c2 + c3, c2 - c3)
  __m128i y = _mm_shuffle_epi32(c, _MM_SHUFFLE(3, 3, 1, 1));
  __m128i t = _mm_add_epi32(_mm_shuffle_epi32(c, _MM_SHUFFLE(2, 2, 0, 0)),
                            _mm_sub_epi32(_mm_xor_si128(y, odd_sign), odd_sign));
  // (t0 + t2, t1 + t3, t0 - t2, t1 - t3)
  y = _mm_shuffle_epi32(t, _MM_SHUFFLE(3, 2, 3, 2));
  const __m128i f = _mm_add_epi32(_mm_shuffle_epi32(t, _MM_SHUFFLE(1, 0, 1, 0)),
                                  _mm_sub_epi32(_mm_xor_si128(y, high_sign), high_sign));
  const __m128i s = _mm_srai_epi32(
      _mm_sll_epi32(MulLo32(f, _mm_set1_epi32(kLevelScaleDc[qp % 6])), _mm_cvtsi32_si128(qp / 6)), 1);
  alignas(16) int32_t v[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(v), s);
  for (int k = 0; k < 4; ++k) out[16 * k] = static_cast<int16_t>(v[k]);
}

}  // namespace

void InitTransformSse2(KernelTable& t) {
  t.idct4x4 = Idct4x4;
  t.idct4x4_dc = Idct4x4Dc;
  t.idct4x4_add = Idct4x4Add;
  t.idct4x4_dc_add = Idct4x4DcAdd;
  t.luma_dc_dequant = LumaDcDequant;
  t.chroma_dc_dequant = ChromaDcDequant;
}

}  // namespace kestrel::h264::dsp

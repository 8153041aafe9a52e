// The edge filters of ITU-T H.264 clauses 8.7.2.3 and 8.7.2.4 on 16 lanes (one lane per line
// across the edge), shared by the SIMD deblocking kernels. Arithmetic that can leave the byte
// range runs in 16-bit lanes, so every result equals the portable kernels'.
#pragma once

#include "h264/dsp/simd_sse2.h"

// Internal linkage on purpose: this header is compiled into the AVX2 sources too (with -mavx2),
// and an inline function shared across them could be resolved to the AVX2 copy on any processor.
namespace kestrel::h264::dsp::sse2 {
namespace {

// tC0 of each lane: luma lines 4s..4s+3 share segment s, chroma lines 2s, 2s+1 (Cb and Cr alike).
inline __m128i LumaTc0Lanes(const int8_t tc0[4]) {
  const __m128i x = Load32(tc0);
  const __m128i pairs = _mm_unpacklo_epi8(x, x);
  return _mm_unpacklo_epi16(pairs, pairs);
}
inline __m128i ChromaTc0Lanes(const int8_t tc0[4]) {
  const __m128i x = Load32(tc0);
  const __m128i pairs = _mm_unpacklo_epi8(x, x);
  return _mm_unpacklo_epi64(pairs, pairs);
}

// (a + 2 b + c + 2) >> 2 on bytes, exactly.
inline __m128i Tap3B(__m128i a, __m128i b, __m128i c) {
  const __m128i floor_ac = _mm_sub_epi8(_mm_avg_epu8(a, c), _mm_and_si128(_mm_xor_si128(a, c), _mm_set1_epi8(1)));
  return _mm_avg_epu8(floor_ac, b);
}

// |p0 - q0| < alpha, |p1 - p0| < beta, |q1 - q0| < beta (alpha, beta 1..255).
inline __m128i FilterMask(__m128i p1, __m128i p0, __m128i q0, __m128i q1, __m128i alpha, __m128i beta) {
  return _mm_and_si128(LessU8(AbsDiffU8(p0, q0), alpha),
                       _mm_and_si128(LessU8(AbsDiffU8(p1, p0), beta), LessU8(AbsDiffU8(q1, q0), beta)));
}

// Delta of the normal filter, Clip3(-tc, tc, ((q0 - p0) * 4 + (p1 - q1) + 4) >> 3), on one
// half (8 lanes, 16 bits).
inline __m128i Delta(__m128i p1, __m128i p0, __m128i q0, __m128i q1, __m128i tc) {
  const __m128i d = _mm_srai_epi16(
      _mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(_mm_sub_epi16(q0, p0), 2), _mm_sub_epi16(p1, q1)), _mm_set1_epi16(4)), 3);
  return Clamp16(d, _mm_sub_epi16(_mm_setzero_si128(), tc), tc);
}

// Luma p1/q1 correction: Clip3(-tc0, tc0, (x2 + avg(p0, q0) - 2 x1) >> 1).
inline __m128i Side(__m128i x2, __m128i x1, __m128i avg, __m128i tc0) {
  const __m128i d = _mm_srai_epi16(_mm_sub_epi16(_mm_add_epi16(x2, avg), _mm_slli_epi16(x1, 1)), 1);
  return Clamp16(d, _mm_sub_epi16(_mm_setzero_si128(), tc0), tc0);
}

// c[0..7] = p3, p2, p1, p0, q0, q1, q2, q3; bS < 4, tc0 lanes -1 for bS 0.
inline void LumaNormal16(__m128i c[8], int alpha, int beta, __m128i tc0) {
  const __m128i av = _mm_set1_epi8(static_cast<char>(alpha)), bv = _mm_set1_epi8(static_cast<char>(beta));
  const __m128i p2 = c[1], p1 = c[2], p0 = c[3], q0 = c[4], q1 = c[5], q2 = c[6];
  const __m128i zero = _mm_setzero_si128();
  const __m128i mask = _mm_and_si128(FilterMask(p1, p0, q0, q1, av, bv), _mm_cmpgt_epi8(tc0, _mm_set1_epi8(-1)));
  const __m128i ap = _mm_and_si128(LessU8(AbsDiffU8(p2, p0), bv), mask);
  const __m128i aq = _mm_and_si128(LessU8(AbsDiffU8(q2, q0), bv), mask);
  const __m128i one = _mm_set1_epi8(1);
  const __m128i tc0m = _mm_and_si128(tc0, mask);  // 0 where not filtered
  const __m128i tc = _mm_add_epi8(_mm_add_epi8(tc0m, _mm_and_si128(ap, one)), _mm_and_si128(aq, one));
  const __m128i avg = _mm_avg_epu8(p0, q0);
  __m128i out_p0[2], out_q0[2], out_p1[2], out_q1[2];
  for (int h = 0; h < 2; ++h) {
    const auto w = [h, zero](__m128i v) { return h == 0 ? _mm_unpacklo_epi8(v, zero) : _mm_unpackhi_epi8(v, zero); };
    const __m128i P0 = w(p0), Q0 = w(q0), P1 = w(p1), Q1 = w(q1);
    const __m128i delta = Delta(P1, P0, Q0, Q1, w(tc));
    out_p0[h] = _mm_add_epi16(P0, delta);
    out_q0[h] = _mm_sub_epi16(Q0, delta);
    const __m128i t0 = w(tc0m), a = w(avg);
    out_p1[h] = _mm_add_epi16(P1, Side(w(p2), P1, a, t0));
    out_q1[h] = _mm_add_epi16(Q1, Side(w(q2), Q1, a, t0));
  }
  // delta is 0 in unfiltered lanes; p1/q1 are selected by ap/aq
  c[3] = _mm_packus_epi16(out_p0[0], out_p0[1]);
  c[4] = _mm_packus_epi16(out_q0[0], out_q0[1]);
  c[2] = Select(ap, _mm_packus_epi16(out_p1[0], out_p1[1]), p1);
  c[5] = Select(aq, _mm_packus_epi16(out_q1[0], out_q1[1]), q1);
}

// bS 4.
inline void LumaStrong16(__m128i c[8], int alpha, int beta) {
  const __m128i av = _mm_set1_epi8(static_cast<char>(alpha)), bv = _mm_set1_epi8(static_cast<char>(beta));
  const __m128i p3 = c[0], p2 = c[1], p1 = c[2], p0 = c[3], q0 = c[4], q1 = c[5], q2 = c[6], q3 = c[7];
  const __m128i zero = _mm_setzero_si128();
  const __m128i mask = FilterMask(p1, p0, q0, q1, av, bv);
  const __m128i close = LessU8(AbsDiffU8(p0, q0), _mm_set1_epi8(static_cast<char>((alpha >> 2) + 2)));
  const __m128i strong_p = _mm_and_si128(_mm_and_si128(mask, close), LessU8(AbsDiffU8(p2, p0), bv));
  const __m128i strong_q = _mm_and_si128(_mm_and_si128(mask, close), LessU8(AbsDiffU8(q2, q0), bv));
  __m128i sp0[2], sp1[2], sp2[2], sq0[2], sq1[2], sq2[2];
  const __m128i two = _mm_set1_epi16(2), four = _mm_set1_epi16(4);
  for (int h = 0; h < 2; ++h) {
    const auto w = [h, zero](__m128i v) { return h == 0 ? _mm_unpacklo_epi8(v, zero) : _mm_unpackhi_epi8(v, zero); };
    const __m128i P3 = w(p3), P2 = w(p2), P1 = w(p1), P0 = w(p0), Q0 = w(q0), Q1 = w(q1), Q2 = w(q2), Q3 = w(q3);
    const __m128i core = _mm_add_epi16(_mm_add_epi16(P1, P0), Q0);  // p1 + p0 + q0
    const __m128i coreq = _mm_add_epi16(_mm_add_epi16(Q1, Q0), P0);
    // p0' = (p2 + 2 p1 + 2 p0 + 2 q0 + q1 + 4) >> 3
    sp0[h] = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(_mm_add_epi16(P2, _mm_slli_epi16(core, 1)), Q1), four), 3);
    sp1[h] = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(P2, core), two), 2);
    // p2' = (2 p3 + 3 p2 + p1 + p0 + q0 + 4) >> 3
    sp2[h] = _mm_srli_epi16(
        _mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(_mm_add_epi16(P3, P2), 1), _mm_add_epi16(P2, core)), four), 3);
    sq0[h] = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(_mm_add_epi16(Q2, _mm_slli_epi16(coreq, 1)), P1), four), 3);
    sq1[h] = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(Q2, coreq), two), 2);
    sq2[h] = _mm_srli_epi16(
        _mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(_mm_add_epi16(Q3, Q2), 1), _mm_add_epi16(Q2, coreq)), four), 3);
  }
  const __m128i weak_p0 = Tap3B(p0, p1, q1), weak_q0 = Tap3B(q0, q1, p1);
  c[3] = Select(strong_p, _mm_packus_epi16(sp0[0], sp0[1]), Select(mask, weak_p0, p0));
  c[2] = Select(strong_p, _mm_packus_epi16(sp1[0], sp1[1]), p1);
  c[1] = Select(strong_p, _mm_packus_epi16(sp2[0], sp2[1]), p2);
  c[4] = Select(strong_q, _mm_packus_epi16(sq0[0], sq0[1]), Select(mask, weak_q0, q0));
  c[5] = Select(strong_q, _mm_packus_epi16(sq1[0], sq1[1]), q1);
  c[6] = Select(strong_q, _mm_packus_epi16(sq2[0], sq2[1]), q2);
}

// c[0..3] = p1, p0, q0, q1.
inline void ChromaNormal16(__m128i c[4], int alpha, int beta, __m128i tc0) {
  const __m128i av = _mm_set1_epi8(static_cast<char>(alpha)), bv = _mm_set1_epi8(static_cast<char>(beta));
  const __m128i p1 = c[0], p0 = c[1], q0 = c[2], q1 = c[3];
  const __m128i zero = _mm_setzero_si128();
  const __m128i mask = _mm_and_si128(FilterMask(p1, p0, q0, q1, av, bv), _mm_cmpgt_epi8(tc0, _mm_set1_epi8(-1)));
  const __m128i tc = _mm_and_si128(_mm_add_epi8(tc0, _mm_set1_epi8(1)), mask);
  __m128i op[2], oq[2];
  for (int h = 0; h < 2; ++h) {
    const auto w = [h, zero](__m128i v) { return h == 0 ? _mm_unpacklo_epi8(v, zero) : _mm_unpackhi_epi8(v, zero); };
    const __m128i P0 = w(p0), Q0 = w(q0);
    const __m128i delta = Delta(w(p1), P0, Q0, w(q1), w(tc));
    op[h] = _mm_add_epi16(P0, delta);
    oq[h] = _mm_sub_epi16(Q0, delta);
  }
  c[1] = _mm_packus_epi16(op[0], op[1]);
  c[2] = _mm_packus_epi16(oq[0], oq[1]);
}

inline void ChromaStrong16(__m128i c[4], int alpha, int beta) {
  const __m128i av = _mm_set1_epi8(static_cast<char>(alpha)), bv = _mm_set1_epi8(static_cast<char>(beta));
  const __m128i p1 = c[0], p0 = c[1], q0 = c[2], q1 = c[3];
  const __m128i mask = FilterMask(p1, p0, q0, q1, av, bv);
  c[1] = Select(mask, Tap3B(p0, p1, q1), p0);
  c[2] = Select(mask, Tap3B(q0, q1, p1), q0);
}

// Load eight columns (p3..q3) of 16 rows as column vectors, and store them back.
inline void LoadColumns16(const uint8_t* pix, ptrdiff_t stride, __m128i c[8]) {
  const uint8_t* p = pix - 4;
  __m128i b[8];
  for (int h = 0; h < 2; ++h) {
    const uint8_t* q = p + 8 * h * stride;
    const __m128i a0 = _mm_unpacklo_epi8(Load64(q), Load64(q + stride));
    const __m128i a1 = _mm_unpacklo_epi8(Load64(q + 2 * stride), Load64(q + 3 * stride));
    const __m128i a2 = _mm_unpacklo_epi8(Load64(q + 4 * stride), Load64(q + 5 * stride));
    const __m128i a3 = _mm_unpacklo_epi8(Load64(q + 6 * stride), Load64(q + 7 * stride));
    const __m128i b0 = _mm_unpacklo_epi16(a0, a1), b1 = _mm_unpackhi_epi16(a0, a1);
    const __m128i b2 = _mm_unpacklo_epi16(a2, a3), b3 = _mm_unpackhi_epi16(a2, a3);
    b[4 * h + 0] = _mm_unpacklo_epi32(b0, b2);  // columns 0 | 1 of these eight rows
    b[4 * h + 1] = _mm_unpackhi_epi32(b0, b2);  // 2 | 3
    b[4 * h + 2] = _mm_unpacklo_epi32(b1, b3);  // 4 | 5
    b[4 * h + 3] = _mm_unpackhi_epi32(b1, b3);  // 6 | 7
  }
  for (int k = 0; k < 4; ++k) {
    c[2 * k] = _mm_unpacklo_epi64(b[k], b[4 + k]);
    c[2 * k + 1] = _mm_unpackhi_epi64(b[k], b[4 + k]);
  }
}
inline void StoreColumns16(uint8_t* pix, ptrdiff_t stride, const __m128i c[8]) {
  uint8_t* p = pix - 4;
  for (int h = 0; h < 2; ++h) {
    const auto half = [h](__m128i x, __m128i y) { return h == 0 ? _mm_unpacklo_epi8(x, y) : _mm_unpackhi_epi8(x, y); };
    const __m128i t0 = half(c[0], c[1]), t1 = half(c[2], c[3]), t2 = half(c[4], c[5]), t3 = half(c[6], c[7]);
    const __m128i u0 = _mm_unpacklo_epi16(t0, t1), u1 = _mm_unpackhi_epi16(t0, t1);
    const __m128i u2 = _mm_unpacklo_epi16(t2, t3), u3 = _mm_unpackhi_epi16(t2, t3);
    const __m128i rows[4] = {_mm_unpacklo_epi32(u0, u2), _mm_unpackhi_epi32(u0, u2), _mm_unpacklo_epi32(u1, u3),
                             _mm_unpackhi_epi32(u1, u3)};
    uint8_t* q = p + 8 * h * stride;
    for (int k = 0; k < 4; ++k) {
      Store64(q + 2 * k * stride, rows[k]);
      Store64(q + (2 * k + 1) * stride, _mm_unpackhi_epi64(rows[k], rows[k]));
    }
  }
}


// Whole-edge kernels around a filter core (the SSE2 and AVX2 sets differ only in the core).
using LumaNormalCore = void (*)(__m128i c[8], int alpha, int beta, __m128i tc0);
using LumaStrongCore = void (*)(__m128i c[8], int alpha, int beta);

inline bool SkipNormal(int alpha, int beta, const int8_t tc0[4]) {
  return alpha == 0 || beta == 0 || (tc0[0] & tc0[1] & tc0[2] & tc0[3]) < 0;
}

template <LumaNormalCore Core>
void LumaEdgeVertical(uint8_t* pix, ptrdiff_t stride, int alpha, int beta, const int8_t tc0[4]) {
  if (SkipNormal(alpha, beta, tc0)) return;
  __m128i c[8];
  LoadColumns16(pix, stride, c);
  Core(c, alpha, beta, LumaTc0Lanes(tc0));
  StoreColumns16(pix, stride, c);
}
template <LumaNormalCore Core>
void LumaEdgeHorizontal(uint8_t* pix, ptrdiff_t stride, int alpha, int beta, const int8_t tc0[4]) {
  if (SkipNormal(alpha, beta, tc0)) return;
  __m128i c[8];
  for (int k = 0; k < 8; ++k) c[k] = Load128(pix + (k - 4) * stride);
  Core(c, alpha, beta, LumaTc0Lanes(tc0));
  for (int k = 1; k < 7; ++k) Store128(pix + (k - 4) * stride, c[k]);
}
template <LumaStrongCore Core>
void LumaEdgeStrongVertical(uint8_t* pix, ptrdiff_t stride, int alpha, int beta) {
  if (alpha == 0 || beta == 0) return;
  __m128i c[8];
  LoadColumns16(pix, stride, c);
  Core(c, alpha, beta);
  StoreColumns16(pix, stride, c);
}
template <LumaStrongCore Core>
void LumaEdgeStrongHorizontal(uint8_t* pix, ptrdiff_t stride, int alpha, int beta) {
  if (alpha == 0 || beta == 0) return;
  __m128i c[8];
  for (int k = 0; k < 8; ++k) c[k] = Load128(pix + (k - 4) * stride);
  Core(c, alpha, beta);
  for (int k = 1; k < 7; ++k) Store128(pix + (k - 4) * stride, c[k]);
}

}  // namespace
}  // namespace kestrel::h264::dsp::sse2

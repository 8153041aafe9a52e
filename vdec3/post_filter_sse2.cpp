// The post-filter with SSE2, on 16-bit lanes: across horizontal edges a lane is a column of one
// 8-column group; across vertical edges the 8x16 pixels around an edge are transposed so that a
// lane is a row (two 4-row groups per vector). Edges are still taken one after the other, each
// reading what the previous one stored.
#include "vdec3/kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>

namespace vdec3::sse2 {
namespace {

inline __m128i Abs16(__m128i v) { return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v)); }
inline __m128i Select(__m128i mask, __m128i a, __m128i b) {
  return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
}

// Per lane: 1 for every flat pair (v1, v2) .. (v7, v8), summed.
inline __m128i FlatCounts(const __m128i v[10]) {
  const __m128i one = _mm_set1_epi16(1);
  __m128i n = _mm_setzero_si128();
  for (int i = 1; i < 8; ++i) {
    const __m128i flat = _mm_cmplt_epi16(Abs16(_mm_sub_epi16(v[i], v[i + 1])), _mm_set1_epi16(2));
    n = _mm_add_epi16(n, _mm_and_si128(flat, one));
  }
  return n;
}

// The 9-tap smoothing of v[1..8] with end values p0, p9 (results in out[1..8]).
inline void Smooth(const __m128i v[10], __m128i p0, __m128i p9, __m128i out[10]) {
  auto add = [](__m128i a, __m128i b) { return _mm_add_epi16(a, b); };
  auto dbl = [](__m128i a) { return _mm_slli_epi16(a, 1); };
  const __m128i eight = _mm_set1_epi16(8);
  // weights over p0, v1..v8, p9 for each output, from the taps (1,1,2,2,4,2,2,1,1) with the ends
  // repeated
  const __m128i s1 = add(add(add(_mm_mullo_epi16(p0, _mm_set1_epi16(6)), _mm_slli_epi16(v[1], 2)),
                             dbl(add(v[2], v[3]))), add(v[4], v[5]));
  const __m128i s2 = add(add(add(_mm_slli_epi16(p0, 2), dbl(v[1])), add(_mm_slli_epi16(v[2], 2),
                             dbl(add(v[3], v[4])))), add(v[5], v[6]));
  const __m128i s3 = add(add(add(dbl(p0), dbl(v[1])), add(dbl(v[2]), _mm_slli_epi16(v[3], 2))),
                         add(dbl(add(v[4], v[5])), add(v[6], v[7])));
  const __m128i s4 = add(add(add(p0, v[1]), dbl(add(v[2], v[3]))),
                         add(add(_mm_slli_epi16(v[4], 2), dbl(add(v[5], v[6]))), add(v[7], v[8])));
  const __m128i s5 = add(add(add(v[1], v[2]), dbl(add(v[3], v[4]))),
                         add(add(_mm_slli_epi16(v[5], 2), dbl(add(v[6], v[7]))), add(v[8], p9)));
  const __m128i s6 = add(add(add(v[2], v[3]), dbl(add(v[4], v[5]))),
                         add(add(_mm_slli_epi16(v[6], 2), dbl(v[7])), add(dbl(v[8]), dbl(p9))));
  const __m128i s7 = add(add(add(v[3], v[4]), dbl(add(v[5], v[6]))),
                         add(add(_mm_slli_epi16(v[7], 2), dbl(v[8])), _mm_slli_epi16(p9, 2)));
  const __m128i s8 = add(add(add(v[4], v[5]), dbl(add(v[6], v[7]))),
                         add(_mm_slli_epi16(v[8], 2), _mm_mullo_epi16(p9, _mm_set1_epi16(6))));
  const __m128i s[8] = {s1, s2, s3, s4, s5, s6, s7, s8};
  for (int k = 0; k < 8; ++k) out[k + 1] = _mm_srli_epi16(_mm_add_epi16(s[k], eight), 4);
}

// The default filter of v4, v5 in the lanes of `lanes`; other lanes keep their values.
inline void DefaultFilter(const __m128i v[10], __m128i lanes, int qp, __m128i* v4, __m128i* v5) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i diff = _mm_sub_epi16(v[4], v[5]);
  const __m128i a = _mm_srai_epi16(_mm_sub_epi16(diff, _mm_srai_epi16(diff, 15)), 1);  // truncated
  const __m128i a0 = _mm_sub_epi16(_mm_slli_epi16(_mm_sub_epi16(v[3], v[6]), 1),
                                   _mm_mullo_epi16(diff, _mm_set1_epi16(5)));
  const __m128i opposite = _mm_or_si128(_mm_and_si128(_mm_cmpgt_epi16(a0, zero), _mm_cmplt_epi16(a, zero)),
                                        _mm_and_si128(_mm_cmplt_epi16(a0, zero), _mm_cmpgt_epi16(a, zero)));
  const __m128i abs_a0 = Abs16(a0);
  const __m128i small = _mm_cmplt_epi16(abs_a0, _mm_set1_epi16(static_cast<int16_t>(8 * qp)));
  const __m128i five = _mm_set1_epi16(5);
  const __m128i a1 = _mm_add_epi16(_mm_mullo_epi16(_mm_sub_epi16(v[3], v[2]), five),
                                   _mm_slli_epi16(_mm_sub_epi16(v[1], v[4]), 1));
  const __m128i a2 = _mm_add_epi16(_mm_mullo_epi16(_mm_sub_epi16(v[7], v[6]), five),
                                   _mm_slli_epi16(_mm_sub_epi16(v[5], v[8]), 1));
  const __m128i d = _mm_sub_epi16(abs_a0, _mm_min_epi16(Abs16(a1), Abs16(a2)));
  const __m128i big = _mm_cmpgt_epi16(d, _mm_set1_epi16(6));
  const __m128i mask = _mm_and_si128(_mm_and_si128(lanes, opposite), _mm_and_si128(small, big));
  __m128i c = _mm_srai_epi16(_mm_add_epi16(_mm_mullo_epi16(d, five), _mm_set1_epi16(32)), 6);
  c = _mm_and_si128(_mm_min_epi16(c, Abs16(a)), mask);
  // v4 > v5: v4 - c, v5 + c; v4 < v5: v4 + c, v5 - c (a = 0 lanes are never in mask)
  const __m128i negative = _mm_cmplt_epi16(diff, zero);
  const __m128i delta = Select(negative, _mm_sub_epi16(zero, c), c);
  *v4 = _mm_sub_epi16(v[4], delta);
  *v5 = _mm_add_epi16(v[5], delta);
}

inline int HorizontalSum(__m128i v16) {
  __m128i s = _mm_madd_epi16(v16, _mm_set1_epi16(1));
  s = _mm_add_epi32(s, _mm_shuffle_epi32(s, _MM_SHUFFLE(1, 0, 3, 2)));
  s = _mm_add_epi32(s, _mm_shuffle_epi32(s, _MM_SHUFFLE(2, 3, 0, 1)));
  return _mm_cvtsi128_si32(s);
}

// Filters one edge whose ten lines are v[0..9]; results in v[1..8]. `group_of_four`: lanes 0-3
// and 4-7 are separate groups (vertical edges), else all 8 lanes are one group.
template <bool VerticalEdge>
inline void FilterEdge(__m128i v[10], int qp) {
  const __m128i counts = FlatCounts(v);
  const __m128i all = _mm_set1_epi16(-1);
  __m128i smooth_lanes = _mm_setzero_si128(), default_lanes = _mm_setzero_si128();
  const __m128i qp2 = _mm_set1_epi16(static_cast<int16_t>(2 * qp));
  const __m128i span = Abs16(_mm_sub_epi16(v[1], v[8]));
  if constexpr (VerticalEdge) {
    // madd pairs lanes; group sums land in 32-bit lanes 0 + 1 (rows 0-3) and 2 + 3 (rows 4-7)
    const __m128i pairs = _mm_madd_epi16(counts, _mm_set1_epi16(1));
    const __m128i groups = _mm_add_epi32(pairs, _mm_shuffle_epi32(pairs, _MM_SHUFFLE(2, 3, 0, 1)));
    const int first = _mm_cvtsi128_si32(groups);
    const int second = _mm_cvtsi128_si32(_mm_srli_si128(groups, 8));
    alignas(16) int16_t spans[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(spans), span);
    const __m128i low = _mm_set_epi16(0, 0, 0, 0, -1, -1, -1, -1);
    const __m128i high = _mm_set_epi16(-1, -1, -1, -1, 0, 0, 0, 0);
    if (first >= 16) {
      if (spans[0] < 2 * qp) smooth_lanes = _mm_or_si128(smooth_lanes, low);
    } else {
      default_lanes = _mm_or_si128(default_lanes, low);
    }
    if (second >= 16) {
      if (spans[4] < 2 * qp) smooth_lanes = _mm_or_si128(smooth_lanes, high);
    } else {
      default_lanes = _mm_or_si128(default_lanes, high);
    }
  } else {
    if (HorizontalSum(counts) > 32) {
      if (_mm_movemask_epi8(_mm_cmpgt_epi16(span, qp2)) == 0) smooth_lanes = all;
    } else {
      default_lanes = all;
    }
  }
  const bool any_smooth = _mm_movemask_epi8(smooth_lanes) != 0;
  const bool any_default = _mm_movemask_epi8(default_lanes) != 0;
  if (!any_smooth && !any_default) return;
  __m128i v4 = v[4], v5 = v[5];
  if (any_default) DefaultFilter(v, default_lanes, qp, &v4, &v5);
  if (any_smooth) {
    const __m128i qpv = _mm_set1_epi16(static_cast<int16_t>(qp));
    // vertical edges take an end pixel when |v0 - v1| < QP, horizontal ones when <= QP
    const __m128i limit = VerticalEdge ? qpv : _mm_add_epi16(qpv, _mm_set1_epi16(1));
    const __m128i p0 = Select(_mm_cmplt_epi16(Abs16(_mm_sub_epi16(v[0], v[1])), limit), v[0], v[1]);
    const __m128i p9 = Select(_mm_cmplt_epi16(Abs16(_mm_sub_epi16(v[9], v[8])), limit), v[9], v[8]);
    __m128i smoothed[10];
    Smooth(v, p0, p9, smoothed);
    for (int k = 1; k <= 8; ++k) {
      const __m128i base = k == 4 ? v4 : k == 5 ? v5 : v[k];
      v[k] = Select(smooth_lanes, smoothed[k], base);
    }
  } else {
    v[4] = v4;
    v[5] = v5;
  }
}

}  // namespace

void FilterHorizontalEdges(uint8_t* plane, ptrdiff_t stride, int width, int height, int qp) {
  const __m128i zero = _mm_setzero_si128();
  for (int y = 8; y < height; y += 8) {
    uint8_t* top = plane + (y - 5) * stride;
    for (int x = 0; x < width; x += 8) {
      __m128i v[10];
      for (int i = 0; i < 10; ++i)
        v[i] = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(top + i * stride + x)), zero);
      FilterEdge<false>(v, qp);
      for (int i = 1; i <= 8; ++i)
        _mm_storel_epi64(reinterpret_cast<__m128i*>(top + i * stride + x), _mm_packus_epi16(v[i], v[i]));
    }
  }
}

void FilterVerticalEdges(uint8_t* plane, ptrdiff_t stride, int width, int height, int qp) {
  const __m128i zero = _mm_setzero_si128();
  for (int y = 0; y < height; y += 8) {
    uint8_t* rows = plane + y * stride;
    for (int x = 8; x < width; x += 8) {
      // Rows of the 16 pixels x - 8 .. x + 7 (v0..v9 are x - 5 .. x + 4).
      __m128i r[8];
      for (int i = 0; i < 8; ++i)
        r[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows + i * stride + x - 8));
      const __m128i t0 = _mm_unpacklo_epi8(r[0], r[1]), t1 = _mm_unpackhi_epi8(r[0], r[1]);
      const __m128i t2 = _mm_unpacklo_epi8(r[2], r[3]), t3 = _mm_unpackhi_epi8(r[2], r[3]);
      const __m128i t4 = _mm_unpacklo_epi8(r[4], r[5]), t5 = _mm_unpackhi_epi8(r[4], r[5]);
      const __m128i t6 = _mm_unpacklo_epi8(r[6], r[7]), t7 = _mm_unpackhi_epi8(r[6], r[7]);
      const __m128i u0 = _mm_unpacklo_epi16(t0, t2), u1 = _mm_unpackhi_epi16(t0, t2);
      const __m128i u2 = _mm_unpacklo_epi16(t1, t3), u3 = _mm_unpackhi_epi16(t1, t3);
      const __m128i u4 = _mm_unpacklo_epi16(t4, t6), u5 = _mm_unpackhi_epi16(t4, t6);
      const __m128i u6 = _mm_unpacklo_epi16(t5, t7), u7 = _mm_unpackhi_epi16(t5, t7);
      // wN holds columns 2N and 2N + 1, 8 rows each
      const __m128i w1 = _mm_unpackhi_epi32(u0, u4);
      const __m128i w2 = _mm_unpacklo_epi32(u1, u5), w3 = _mm_unpackhi_epi32(u1, u5);
      const __m128i w4 = _mm_unpacklo_epi32(u2, u6), w5 = _mm_unpackhi_epi32(u2, u6);
      const __m128i w6 = _mm_unpacklo_epi32(u3, u7);
      (void)u7;
      __m128i v[10] = {
          _mm_unpackhi_epi8(w1, zero), _mm_unpacklo_epi8(w2, zero), _mm_unpackhi_epi8(w2, zero),
          _mm_unpacklo_epi8(w3, zero), _mm_unpackhi_epi8(w3, zero), _mm_unpacklo_epi8(w4, zero),
          _mm_unpackhi_epi8(w4, zero), _mm_unpacklo_epi8(w5, zero), _mm_unpackhi_epi8(w5, zero),
          _mm_unpacklo_epi8(w6, zero)};
      FilterEdge<true>(v, qp);
      // Columns x - 4 .. x + 3 (v1..v8) back into rows.
      const __m128i c45 = _mm_packus_epi16(v[1], v[2]), c67 = _mm_packus_epi16(v[3], v[4]);
      const __m128i c89 = _mm_packus_epi16(v[5], v[6]), cab = _mm_packus_epi16(v[7], v[8]);
      // cXY: column X in the low 8 bytes, Y in the high 8 bytes
      const __m128i x0 = _mm_unpacklo_epi8(c45, _mm_srli_si128(c45, 8));
      const __m128i x1 = _mm_unpacklo_epi8(c67, _mm_srli_si128(c67, 8));
      const __m128i x2 = _mm_unpacklo_epi8(c89, _mm_srli_si128(c89, 8));
      const __m128i x3 = _mm_unpacklo_epi8(cab, _mm_srli_si128(cab, 8));
      const __m128i y0 = _mm_unpacklo_epi16(x0, x1), y1 = _mm_unpackhi_epi16(x0, x1);
      const __m128i y2 = _mm_unpacklo_epi16(x2, x3), y3 = _mm_unpackhi_epi16(x2, x3);
      const __m128i z[4] = {_mm_unpacklo_epi32(y0, y2), _mm_unpackhi_epi32(y0, y2),
                            _mm_unpacklo_epi32(y1, y3), _mm_unpackhi_epi32(y1, y3)};
      for (int i = 0; i < 4; ++i) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(rows + (2 * i) * stride + x - 4), z[i]);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(rows + (2 * i + 1) * stride + x - 4),
                         _mm_srli_si128(z[i], 8));
      }
    }
  }
}

}  // namespace vdec3::sse2
#endif

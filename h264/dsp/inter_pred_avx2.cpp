// AVX2 inter prediction: 16-wide luma interpolation and combine with a whole row of 16 samples in
// one register of 16-bit lanes; 8-wide luma with two rows per register.
#include <immintrin.h>

#include <utility>

#include "h264/dsp/kernel_sets.h"
#include "h264/dsp/simd_sse2.h"

namespace kestrel::h264::dsp {
namespace {

using sse2::Load128;
using sse2::Load64;
using sse2::Store128;
using sse2::Store64;

// Sixteen samples as 16-bit lanes: one row of 16, or two rows of 8 (row r in lanes 0..7,
// row r + 1 in lanes 8..15).
template <int W>
inline __m256i Load16x(const uint8_t* p, ptrdiff_t stride) {
  if constexpr (W == 16) {
    (void)stride;
    return _mm256_cvtepu8_epi16(Load128(p));
  } else {
    return _mm256_cvtepu8_epi16(_mm_unpacklo_epi64(Load64(p), Load64(p + stride)));
  }
}
template <int W>
inline __m128i LoadBytes(const uint8_t* p, ptrdiff_t stride) {
  if constexpr (W == 16) {
    (void)stride;
    return Load128(p);
  } else {
    return _mm_unpacklo_epi64(Load64(p), Load64(p + stride));
  }
}
template <int W>
inline void StoreBytes(uint8_t* p, ptrdiff_t stride, __m128i v) {
  if constexpr (W == 16) {
    (void)stride;
    Store128(p, v);
  } else {
    Store64(p, v);
    Store64(p + stride, _mm_unpackhi_epi64(v, v));
  }
}
inline __m128i PackBytes(__m256i v) {
  return _mm_packus_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
}

inline __m256i Tap6(__m256i e, __m256i f, __m256i g, __m256i h, __m256i i, __m256i j) {
  const __m256i gh = _mm256_add_epi16(g, h), fi = _mm256_add_epi16(f, i), ej = _mm256_add_epi16(e, j);
  return _mm256_add_epi16(
      _mm256_sub_epi16(_mm256_mullo_epi16(gh, _mm256_set1_epi16(20)), _mm256_mullo_epi16(fi, _mm256_set1_epi16(5))), ej);
}
inline __m128i Round(__m256i taps) {
  return PackBytes(_mm256_srai_epi16(_mm256_add_epi16(taps, _mm256_set1_epi16(16)), 5));
}
// See sse2::CentreTaps for why this 16-bit form is exact.
inline __m256i CentreTaps(__m256i a, __m256i b, __m256i c, __m256i d, __m256i e, __m256i f) {
  const __m256i s1 = _mm256_add_epi16(a, f), s2 = _mm256_add_epi16(b, e), s3 = _mm256_add_epi16(c, d);
  const __m256i x = _mm256_adds_epi16(_mm256_srai_epi16(_mm256_sub_epi16(s1, s2), 2), _mm256_sub_epi16(s3, s2));
  const __m256i y = _mm256_add_epi16(_mm256_srai_epi16(x, 2), s3);
  return _mm256_srai_epi16(_mm256_add_epi16(y, _mm256_set1_epi16(32)), 6);
}

template <int W>
inline __m256i TapsH(const uint8_t* p, ptrdiff_t stride) {
  return Tap6(Load16x<W>(p - 2, stride), Load16x<W>(p - 1, stride), Load16x<W>(p, stride),
              Load16x<W>(p + 1, stride), Load16x<W>(p + 2, stride), Load16x<W>(p + 3, stride));
}

// Vertical taps with a sliding window. For W = 8 a register holds rows r and r + 1, so the
// window advances two rows per step.
template <int W>
struct Column {
  static constexpr int kRows = W == 16 ? 1 : 2;
  __m256i r[6];
  const uint8_t* next;
  ptrdiff_t stride;
  // The first Step() yields rows 0 (and 1): the window starts at rows -2 ..; only the registers
  // Step() keeps are loaded, so nothing above row -2 is read.
  Column(const uint8_t* p, ptrdiff_t s) : next(p + 3 * s), stride(s) {
    for (int k = kRows; k < 6; ++k) r[k] = Load16x<W>(p + (k - 2 - kRows) * s, s);
  }
  __m256i Step() {
    if constexpr (kRows == 1) {
      for (int k = 0; k < 5; ++k) r[k] = r[k + 1];
      r[5] = Load16x<W>(next, stride);
    } else {
      for (int k = 0; k < 4; ++k) r[k] = r[k + 2];
      r[4] = Load16x<W>(next - stride, stride);
      r[5] = Load16x<W>(next, stride);
    }
    next += kRows * stride;
    return Tap6(r[0], r[1], r[2], r[3], r[4], r[5]);
  }
};

template <int W, int XF, int YF>
void LumaMc(uint8_t* dst, ptrdiff_t dst_stride, const uint8_t* src, ptrdiff_t src_stride, int height) {
  constexpr int kRows = W == 16 ? 1 : 2;
  const ptrdiff_t ss = src_stride, ds = dst_stride;
  if constexpr (XF == 0 && YF == 0) {
    for (int y = 0; y < height; y += kRows) StoreBytes<W>(dst + y * ds, ds, LoadBytes<W>(src + y * ss, ss));
  } else if constexpr (YF == 0) {  // a, b, c
    for (int y = 0; y < height; y += kRows, src += kRows * ss, dst += kRows * ds) {
      __m128i b = Round(TapsH<W>(src, ss));
      if constexpr (XF != 2) b = _mm_avg_epu8(b, LoadBytes<W>(src + (XF == 3), ss));
      StoreBytes<W>(dst, ds, b);
    }
  } else if constexpr (XF == 0) {  // d, h, n
    Column<W> col(src, ss);
    for (int y = 0; y < height; y += kRows, src += kRows * ss, dst += kRows * ds) {
      __m128i h = Round(col.Step());
      if constexpr (YF != 2) h = _mm_avg_epu8(h, LoadBytes<W>(src + (YF == 3) * ss, ss));
      StoreBytes<W>(dst, ds, h);
    }
  } else if constexpr (XF != 2 && YF != 2) {  // e, g, p, r
    Column<W> col(src + (XF == 3), ss);
    for (int y = 0; y < height; y += kRows, src += kRows * ss, dst += kRows * ds) {
      const __m128i hm = Round(col.Step());
      const __m128i bs = Round(TapsH<W>(src + (YF == 3) * ss, ss));
      StoreBytes<W>(dst, ds, _mm_avg_epu8(hm, bs));
    }
  } else {  // f, j, q, i, k
    // horizontal intermediates of rows -2 .. height + 2, one row per entry
    __m256i b1[21];
    if constexpr (W == 16) {
      for (int r = 0; r < height + 5; ++r) b1[r] = TapsH<16>(src + (r - 2) * ss, ss);
    } else {
      // two rows per register: entry r holds rows r - 2 and r - 1. Row pairs from -2; the last
      // row (height + 2) is loaded alone, so nothing below it is read.
      __m256i pairs[11];
      for (int r = 0; r < height + 4; r += 2) pairs[r / 2] = TapsH<8>(src + (r - 2) * ss, ss);
      const uint8_t* last = src + (height + 2) * ss;
      const auto single = [](const uint8_t* q) { return _mm256_cvtepu8_epi16(Load64(q)); };
      pairs[(height + 4) / 2] = Tap6(single(last - 2), single(last - 1), single(last), single(last + 1),
                                     single(last + 2), single(last + 3));
      for (int r = 0; r < height + 4; r += 2) {
        b1[r] = pairs[r / 2];
        b1[r + 1] = _mm256_permute2x128_si256(pairs[r / 2], pairs[r / 2 + 1], 0x21);
      }
    }
    Column<W> col(src + (XF == 3), ss);
    for (int y = 0; y < height; y += kRows, dst += kRows * ds) {
      __m128i out = PackBytes(CentreTaps(b1[y], b1[y + 1], b1[y + 2], b1[y + 3], b1[y + 4], b1[y + 5]));
      if constexpr (XF == 2 && YF != 2) out = _mm_avg_epu8(out, Round(b1[y + 2 + (YF == 3)]));
      if constexpr (XF != 2) out = _mm_avg_epu8(out, Round(col.Step()));
      StoreBytes<W>(dst, ds, out);
    }
  }
}

template <int W, int... I>
void FillLuma(LumaMcFn* row, std::integer_sequence<int, I...>) {
  ((row[I] = LumaMc<W, I / 4, I % 4>), ...);
}

template <CombineMode M>
void Combine16(uint8_t* dst, ptrdiff_t dst_stride, const uint8_t* pred, ptrdiff_t pred_stride,
               const int16_t* res, ptrdiff_t res_stride, int height, const Weight& wt) {
  const __m256i weight = _mm256_set1_epi16(static_cast<int16_t>(wt.weight));
  const __m256i round = _mm256_set1_epi16(static_cast<int16_t>(wt.log2_denom > 0 ? 1 << (wt.log2_denom - 1) : 0));
  const __m256i offset = _mm256_set1_epi16(static_cast<int16_t>(wt.offset));
  const __m128i shift = _mm_cvtsi32_si128(wt.log2_denom);
  const __m256i zero = _mm256_setzero_si256(), max = _mm256_set1_epi16(255);
  for (int y = 0; y < height; ++y, dst += dst_stride, pred += pred_stride) {
    __m256i p = _mm256_cvtepu8_epi16(Load128(pred));
    if constexpr (M == kCombineWeighted) {
      p = _mm256_sra_epi16(_mm256_add_epi16(_mm256_mullo_epi16(p, weight), round), shift);
      p = _mm256_min_epi16(_mm256_max_epi16(_mm256_add_epi16(p, offset), zero), max);
    }
    if (res != nullptr) {
      p = _mm256_adds_epi16(p, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(res)));
      res += res_stride;
    }
    Store128(dst, PackBytes(p));
  }
}

}  // namespace

void InitInterAvx2(KernelTable& t) {
  FillLuma<8>(t.luma_mc[kW8], std::make_integer_sequence<int, 16>{});
  FillLuma<16>(t.luma_mc[kW16], std::make_integer_sequence<int, 16>{});
  t.combine[kCombinePlain][kW16] = Combine16<kCombinePlain>;
  t.combine[kCombineWeighted][kW16] = Combine16<kCombineWeighted>;
}

}  // namespace kestrel::h264::dsp

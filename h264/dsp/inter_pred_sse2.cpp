// SSE2 inter prediction: luma 6-tap interpolation for every phase and width, chroma bilinear,
// and the combine step.
#include <array>
#include <utility>

#include "h264/dsp/kernel_sets.h"
#include "h264/dsp/simd_sse2.h"

namespace kestrel::h264::dsp {
namespace {

using namespace sse2;

// W samples of a row as 16-bit lanes: one vector for W <= 8 (W valid lanes), two for W = 16.
template <int W>
struct Wide {
  static constexpr int kN = W == 16 ? 2 : 1;
  __m128i v[kN];
};

template <int W>
inline Wide<W> LoadWide(const uint8_t* p) {
  Wide<W> r;
  if constexpr (W == 16) {
    const __m128i b = Load128(p);
    r.v[0] = WidenLo(b);
    r.v[1] = WidenHi(b);
  } else if constexpr (W == 8) {
    r.v[0] = WidenLo(Load64(p));
  } else if constexpr (W == 4) {
    r.v[0] = WidenLo(Load32(p));
  } else {
    r.v[0] = WidenLo(Load16(p));
  }
  return r;
}
template <int W>
inline __m128i LoadBytes(const uint8_t* p) {
  if constexpr (W == 16) return Load128(p);
  else if constexpr (W == 8) return Load64(p);
  else if constexpr (W == 4) return Load32(p);
  else return Load16(p);
}
template <int W>
inline void StoreBytes(uint8_t* p, __m128i v) {
  if constexpr (W == 16) Store128(p, v);
  else if constexpr (W == 8) Store64(p, v);
  else if constexpr (W == 4) Store32(p, v);
  else Store16(p, v);
}
template <int W>
inline __m128i Pack(const Wide<W>& w) {
  if constexpr (W == 16) return _mm_packus_epi16(w.v[0], w.v[1]);
  else return _mm_packus_epi16(w.v[0], w.v[0]);
}

template <int W>
inline Wide<W> Taps(const Wide<W>& e, const Wide<W>& f, const Wide<W>& g, const Wide<W>& h,
                    const Wide<W>& i, const Wide<W>& j) {
  Wide<W> r;
  for (int n = 0; n < Wide<W>::kN; ++n) r.v[n] = Tap6(e.v[n], f.v[n], g.v[n], h.v[n], i.v[n], j.v[n]);
  return r;
}
template <int W>
inline __m128i Round(const Wide<W>& t) {
  if constexpr (W == 16) return RoundTaps(t.v[0], t.v[1]);
  else return RoundTaps(t.v[0], t.v[0]);
}

// Unrounded horizontal taps (b1) of the W samples from p.
template <int W>
inline Wide<W> TapsH(const uint8_t* p) {
  return Taps<W>(LoadWide<W>(p - 2), LoadWide<W>(p - 1), LoadWide<W>(p), LoadWide<W>(p + 1),
                 LoadWide<W>(p + 2), LoadWide<W>(p + 3));
}

// Vertical taps with a sliding window of six widened rows.
template <int W>
struct Column {
  Wide<W> r[6];
  const uint8_t* next;
  ptrdiff_t stride;
  Column(const uint8_t* p, ptrdiff_t s) : next(p + 3 * s), stride(s) {
    for (int k = 0; k < 5; ++k) r[k + 1] = LoadWide<W>(p + (k - 2) * s);
  }
  // Taps of the next output row (rows y-2 .. y+3).
  Wide<W> Step() {
    for (int k = 0; k < 5; ++k) r[k] = r[k + 1];
    r[5] = LoadWide<W>(next);
    next += stride;
    return Taps<W>(r[0], r[1], r[2], r[3], r[4], r[5]);
  }
};

template <int W, int XF, int YF>
void LumaMc(uint8_t* dst, ptrdiff_t dst_stride, const uint8_t* src, ptrdiff_t src_stride, int height) {
  if constexpr (XF == 0 && YF == 0) {
    for (int y = 0; y < height; ++y)
      StoreBytes<W>(dst + y * dst_stride, LoadBytes<W>(src + y * src_stride));
  } else if constexpr (YF == 0) {  // a, b, c
    for (int y = 0; y < height; ++y, src += src_stride, dst += dst_stride) {
      __m128i b = Round<W>(TapsH<W>(src));
      if constexpr (XF != 2) b = _mm_avg_epu8(b, LoadBytes<W>(src + (XF == 3)));
      StoreBytes<W>(dst, b);
    }
  } else if constexpr (XF == 0) {  // d, h, n
    Column<W> col(src, src_stride);
    for (int y = 0; y < height; ++y, src += src_stride, dst += dst_stride) {
      __m128i h = Round<W>(col.Step());
      if constexpr (YF != 2) h = _mm_avg_epu8(h, LoadBytes<W>(src + (YF == 3) * src_stride));
      StoreBytes<W>(dst, h);
    }
  } else if constexpr (XF != 2 && YF != 2) {  // e, g, p, r
    Column<W> col(src + (XF == 3), src_stride);
    for (int y = 0; y < height; ++y, src += src_stride, dst += dst_stride) {
      const __m128i hm = Round<W>(col.Step());
      const __m128i bs = Round<W>(TapsH<W>(src + (YF == 3) * src_stride));
      StoreBytes<W>(dst, _mm_avg_epu8(hm, bs));
    }
  } else {  // f, j, q, i, k: j from the horizontal intermediates, down the columns
    Wide<W> b1[21];
    for (int r = 0; r < height + 5; ++r) b1[r] = TapsH<W>(src + (r - 2) * src_stride);
    Column<W> col(src + (XF == 3), src_stride);  // h or m, for i and k
    for (int y = 0; y < height; ++y, dst += dst_stride) {
      Wide<W> j;
      for (int n = 0; n < Wide<W>::kN; ++n)
        j.v[n] = CentreTaps(b1[y].v[n], b1[y + 1].v[n], b1[y + 2].v[n], b1[y + 3].v[n], b1[y + 4].v[n], b1[y + 5].v[n]);
      __m128i out = Pack<W>(j);
      if constexpr (XF == 2 && YF != 2) out = _mm_avg_epu8(out, Round<W>(b1[y + 2 + (YF == 3)]));  // f, q
      if constexpr (XF != 2) out = _mm_avg_epu8(out, Round<W>(col.Step()));                        // i, k
      StoreBytes<W>(dst, out);
    }
  }
}

template <int W, int... I>
void FillLuma(LumaMcFn* row, std::integer_sequence<int, I...>) {
  ((row[I] = LumaMc<W, I / 4, I % 4>), ...);
}

// ---- chroma ---------------------------------------------------------------------------------
template <int W, int Kind>
void ChromaMc(uint8_t* dst, ptrdiff_t dst_stride, const uint8_t* src, ptrdiff_t src_stride,
              int height, int mx, int my) {
  if constexpr (Kind == 0) {
    for (int y = 0; y < height; ++y) StoreBytes<W>(dst + y * dst_stride, LoadBytes<W>(src + y * src_stride));
  } else if constexpr (Kind == 1 || Kind == 2) {
    const int f = Kind == 1 ? mx : my;
    const ptrdiff_t step = Kind == 1 ? 1 : src_stride;
    const __m128i wa = _mm_set1_epi16(static_cast<int16_t>(8 - f)), wb = _mm_set1_epi16(static_cast<int16_t>(f));
    const __m128i four = _mm_set1_epi16(4);
    for (int y = 0; y < height; ++y, src += src_stride, dst += dst_stride) {
      const __m128i a = LoadWide<W>(src).v[0], b = LoadWide<W>(src + step).v[0];
      const __m128i v = _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(a, wa), _mm_mullo_epi16(b, wb)), four);
      StoreBytes<W>(dst, _mm_packus_epi16(_mm_srli_epi16(v, 3), _mm_setzero_si128()));
    }
  } else {
    const __m128i wa = _mm_set1_epi16(static_cast<int16_t>((8 - mx) * (8 - my)));
    const __m128i wb = _mm_set1_epi16(static_cast<int16_t>(mx * (8 - my)));
    const __m128i wc = _mm_set1_epi16(static_cast<int16_t>((8 - mx) * my));
    const __m128i wd = _mm_set1_epi16(static_cast<int16_t>(mx * my));
    const __m128i r32 = _mm_set1_epi16(32);
    __m128i a = LoadWide<W>(src).v[0], b = LoadWide<W>(src + 1).v[0];
    for (int y = 0; y < height; ++y, src += src_stride, dst += dst_stride) {
      const __m128i c = LoadWide<W>(src + src_stride).v[0], d = LoadWide<W>(src + src_stride + 1).v[0];
      __m128i v = _mm_add_epi16(_mm_mullo_epi16(a, wa), _mm_mullo_epi16(b, wb));
      v = _mm_add_epi16(v, _mm_add_epi16(_mm_mullo_epi16(c, wc), _mm_mullo_epi16(d, wd)));
      StoreBytes<W>(dst, _mm_packus_epi16(_mm_srli_epi16(_mm_add_epi16(v, r32), 6), _mm_setzero_si128()));
      a = c;
      b = d;
    }
  }
}

// ---- combine --------------------------------------------------------------------------------
template <int W>
inline Wide<W> LoadRes(const int16_t* r) {
  Wide<W> w;
  if constexpr (W == 16) {
    w.v[0] = Load128(r);
    w.v[1] = Load128(r + 8);
  } else if constexpr (W == 8) {
    w.v[0] = Load128(r);
  } else {
    w.v[0] = Load64(r);
  }
  return w;
}

template <int W, CombineMode M>
void Combine(uint8_t* dst, ptrdiff_t dst_stride, const uint8_t* pred, ptrdiff_t pred_stride,
             const int16_t* res, ptrdiff_t res_stride, int height, const Weight& wt) {
  const __m128i weight = _mm_set1_epi16(static_cast<int16_t>(wt.weight));
  const __m128i round = _mm_set1_epi16(static_cast<int16_t>(wt.log2_denom > 0 ? 1 << (wt.log2_denom - 1) : 0));
  const __m128i offset = _mm_set1_epi16(static_cast<int16_t>(wt.offset));
  const __m128i shift = _mm_cvtsi32_si128(wt.log2_denom);
  const __m128i zero = _mm_setzero_si128(), max = _mm_set1_epi16(255);
  for (int y = 0; y < height; ++y, dst += dst_stride, pred += pred_stride) {
    Wide<W> p = LoadWide<W>(pred);
    if constexpr (M == kCombineWeighted) {
      for (int n = 0; n < Wide<W>::kN; ++n) {
        const __m128i v = _mm_sra_epi16(_mm_add_epi16(_mm_mullo_epi16(p.v[n], weight), round), shift);
        p.v[n] = Clamp16(_mm_add_epi16(v, offset), zero, max);
      }
    }
    if (res != nullptr) {
      const Wide<W> r = LoadRes<W>(res);
      for (int n = 0; n < Wide<W>::kN; ++n) p.v[n] = _mm_adds_epi16(p.v[n], r.v[n]);
      res += res_stride;
    }
    StoreBytes<W>(dst, Pack<W>(p));
  }
}

template <int W, int... K>
void FillChroma(ChromaMcFn* row, std::integer_sequence<int, K...>) {
  ((row[K] = ChromaMc<W, K>), ...);
}

}  // namespace

void InitInterSse2(KernelTable& t) {
  FillLuma<4>(t.luma_mc[kW4], std::make_integer_sequence<int, 16>{});
  FillLuma<8>(t.luma_mc[kW8], std::make_integer_sequence<int, 16>{});
  FillLuma<16>(t.luma_mc[kW16], std::make_integer_sequence<int, 16>{});
  FillChroma<2>(t.chroma_mc[kCw2], std::make_integer_sequence<int, 4>{});
  FillChroma<4>(t.chroma_mc[kCw4], std::make_integer_sequence<int, 4>{});
  FillChroma<8>(t.chroma_mc[kCw8], std::make_integer_sequence<int, 4>{});
  for (int w = 0; w < kLumaWidthCount; ++w) {
    t.combine[kCombinePlain][w] = std::array{Combine<4, kCombinePlain>, Combine<8, kCombinePlain>, Combine<16, kCombinePlain>}[w];
    t.combine[kCombineWeighted][w] =
        std::array{Combine<4, kCombineWeighted>, Combine<8, kCombineWeighted>, Combine<16, kCombineWeighted>}[w];
  }
}

}  // namespace kestrel::h264::dsp

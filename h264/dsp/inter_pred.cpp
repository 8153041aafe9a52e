// Portable inter prediction: luma quarter-sample and chroma eighth-sample interpolation (ITU-T
// H.264 clause 8.4.2.2) and the final combine step (clause 8.4.2.3, residual addition of 8.5.14).
#include <array>
#include <cstring>
#include <utility>

#include "h264/dsp/dsp_util.h"
#include "h264/dsp/kernel_sets.h"

namespace kestrel::h264::dsp {
namespace {

// 6-tap filter (1, -5, 20, 20, -5, 1) centred between s[0] and s[step].
inline int Tap6(const uint8_t* s, ptrdiff_t step) {
  return s[-2 * step] - 5 * s[-step] + 20 * s[0] + 20 * s[step] - 5 * s[2 * step] + s[3 * step];
}
inline int Tap6(const int* s) { return s[-2] - 5 * s[-1] + 20 * s[0] + 20 * s[1] - 5 * s[2] + s[3]; }
inline uint8_t Avg(int a, int b) { return static_cast<uint8_t>((a + b + 1) >> 1); }
inline uint8_t Half(int v) { return Clip1((v + 16) >> 5); }

// One kernel per (width, xFrac, yFrac); the phase decides at compile time which of the half
// samples of clause 8.4.2.2.1 are computed: b (horizontal, this row), s (horizontal, next row),
// h (vertical, this column), m (vertical, next column), j (centre).
template <int W, int XF, int YF>
void LumaMc(uint8_t* dst, ptrdiff_t dst_stride, const uint8_t* src, ptrdiff_t src_stride,
            int height) {
  constexpr bool kCentre = (XF == 2 && YF != 0) || (YF == 2 && XF != 0);
  for (int y = 0; y < height; ++y, dst += dst_stride, src += src_stride) {
    if constexpr (XF == 0 && YF == 0) {
      std::memcpy(dst, src, W);
    } else if constexpr (YF == 0) {  // a, b, c
      for (int x = 0; x < W; ++x) {
        const uint8_t b = Half(Tap6(src + x, 1));
        dst[x] = XF == 2 ? b : Avg(src[x + (XF == 3)], b);
      }
    } else if constexpr (XF == 0) {  // d, h, n
      for (int x = 0; x < W; ++x) {
        const uint8_t h = Half(Tap6(src + x, src_stride));
        dst[x] = YF == 2 ? h : Avg(src[x + (YF == 3) * src_stride], h);
      }
    } else if constexpr (!kCentre) {  // e, g, p, r: average of the two nearest half samples
      for (int x = 0; x < W; ++x) {
        const uint8_t bs = Half(Tap6(src + x + (YF == 3) * src_stride, 1));
        const uint8_t hm = Half(Tap6(src + x + (XF == 3), src_stride));
        dst[x] = Avg(bs, hm);
      }
    } else {  // j and its neighbours f, q (XF == 2), i, k (YF == 2)
      int v1[W + 5];  // unrounded vertical half samples of columns -2 .. W + 2
      for (int c = 0; c < W + 5; ++c) v1[c] = Tap6(src + c - 2, src_stride);
      for (int x = 0; x < W; ++x) {
        const int j = Clip1((Tap6(v1 + x + 2) + 512) >> 10);
        int other;
        if constexpr (XF == 2)  // f = (b + j + 1) >> 1, q = (j + s + 1) >> 1
          other = Half(Tap6(src + x + (YF == 3) * src_stride, 1));
        else  // i = (h + j + 1) >> 1, k = (j + m + 1) >> 1
          other = Half(v1[x + 2 + (XF == 3)]);
        dst[x] = XF == 2 && YF == 2 ? static_cast<uint8_t>(j) : Avg(j, other);
      }
    }
  }
}

template <int W, int I>
constexpr LumaMcFn LumaEntry() {
  return LumaMc<W, I / 4, I % 4>;
}
template <int W, int... I>
void FillLuma(LumaMcFn* row, std::integer_sequence<int, I...>) {
  ((row[I] = LumaEntry<W, I>()), ...);
}

// Chroma: kind 0 copy, 1 horizontal (my = 0), 2 vertical (mx = 0), 3 both. The single-direction
// kinds are the bilinear formula with the zero terms dropped, ((8 - x) A + x B) * 8 + 32 >> 6
// being ((8 - x) A + x B + 4) >> 3.
template <int W, int Kind>
void ChromaMc(uint8_t* dst, ptrdiff_t dst_stride, const uint8_t* src, ptrdiff_t src_stride,
              int height, int mx, int my) {
  for (int y = 0; y < height; ++y, dst += dst_stride, src += src_stride) {
    if constexpr (Kind == 0) {
      std::memcpy(dst, src, W);
    } else if constexpr (Kind == 1) {
      for (int x = 0; x < W; ++x)
        dst[x] = static_cast<uint8_t>(((8 - mx) * src[x] + mx * src[x + 1] + 4) >> 3);
    } else if constexpr (Kind == 2) {
      for (int x = 0; x < W; ++x)
        dst[x] = static_cast<uint8_t>(((8 - my) * src[x] + my * src[x + src_stride] + 4) >> 3);
    } else {
      const int wa = (8 - mx) * (8 - my), wb = mx * (8 - my), wc = (8 - mx) * my, wd = mx * my;
      const uint8_t* next = src + src_stride;
      for (int x = 0; x < W; ++x)
        dst[x] = static_cast<uint8_t>(
            (wa * src[x] + wb * src[x + 1] + wc * next[x] + wd * next[x + 1] + 32) >> 6);
    }
  }
}

template <int W, CombineMode M>
void Combine(uint8_t* dst, ptrdiff_t dst_stride, const uint8_t* pred, ptrdiff_t pred_stride,
             const int16_t* res, ptrdiff_t res_stride, int height, const Weight& w) {
  const int round = w.log2_denom > 0 ? 1 << (w.log2_denom - 1) : 0;
  for (int y = 0; y < height; ++y, dst += dst_stride, pred += pred_stride) {
    for (int x = 0; x < W; ++x) {
      int p = pred[x];
      if constexpr (M == kCombineWeighted) p = Clip1(((p * w.weight + round) >> w.log2_denom) + w.offset);
      dst[x] = res != nullptr ? Clip1(p + res[x]) : static_cast<uint8_t>(p);
    }
    if (res != nullptr) res += res_stride;
  }
}

template <int W, int... K>
void FillChroma(ChromaMcFn* row, std::integer_sequence<int, K...>) {
  ((row[K] = ChromaMc<W, K>), ...);
}

}  // namespace

void InitInterPortable(KernelTable& t) {
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

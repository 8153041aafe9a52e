// Portable intra prediction (ITU-T H.264 clause 8.3): 4x4 luma, 16x16 luma, 8x8 chroma.
#include <array>
#include <cstring>

#include "h264/dsp/dsp_util.h"
#include "h264/dsp/kernel_sets.h"

namespace kestrel::h264::dsp {
namespace {

// ---- 4x4 ------------------------------------------------------------------------------------
// The neighbours of a 4x4 block as one edge array: e[0..3] = p[-1,3..0], e[4] = p[-1,-1],
// e[5..12] = p[0..7,-1]. The directional modes are then all of the form "a 2-tap or 3-tap filter
// centred somewhere on e", so each mode is a constant table of 16 picks into
//   v[0..12]  = (e[k] + e[k+1] + 1) >> 1            (2-tap, k = 0..11; v[12] = e[12])
//   v[13..25] = (e[k-1] + 2 e[k] + e[k+1] + 2) >> 2  (3-tap centred on k = 0..12, ends clamped)
//   v[26]     = (p[6,-1] + 3 p[7,-1] + 2) >> 2       (last sample of diagonal down left)
//   v[27..30] = p[-1,0..3]                          (left samples as they stand)
//   v[31]     = (p[-1,2] + 3 p[-1,3] + 2) >> 2       (horizontal up, zHU = 5)
// The 3-tap ends are never picked with a clamped neighbour; the clamping only keeps the
// computation in range.
constexpr int T2(int k) { return k; }
constexpr int T3(int k) { return 13 + k; }
constexpr int kDdlLast = 26;
constexpr int Left(int y) { return 27 + y; }
constexpr int kHuMid = 31;

using Picks = std::array<uint8_t, 16>;

template <typename F>
constexpr Picks MakePicks(F f) {
  Picks p{};
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) p[4 * y + x] = static_cast<uint8_t>(f(x, y));
  return p;
}

// Clause 8.3.1.2.4 to 8.3.1.2.9, in edge-array positions: p[x,-1] = e[5 + x], p[-1,y] = e[3 - y].
constexpr Picks kDdl = MakePicks([](int x, int y) { return x == 3 && y == 3 ? kDdlLast : T3(6 + x + y); });
constexpr Picks kDdr = MakePicks([](int x, int y) { return T3(4 + x - y); });
constexpr Picks kVr = MakePicks([](int x, int y) {
  const int z = 2 * x - y;
  if (z >= 0) return (z & 1) == 0 ? T2(4 + x - (y >> 1)) : T3(4 + x - (y >> 1));
  if (z == -1) return T3(4);
  return T3(5 - y);
});
constexpr Picks kHd = MakePicks([](int x, int y) {
  const int z = 2 * y - x;
  if (z >= 0) return (z & 1) == 0 ? T2(3 - y + (x >> 1)) : T3(4 - y + (x >> 1));
  if (z == -1) return T3(4);
  return T3(3 + x);
});
constexpr Picks kVl = MakePicks([](int x, int y) {
  return (y & 1) == 0 ? T2(5 + x + (y >> 1)) : T3(6 + x + (y >> 1));
});
constexpr Picks kHu = MakePicks([](int x, int y) {
  const int z = x + 2 * y, k = y + (x >> 1);
  if (z > 5) return Left(3);
  if (z == 5) return kHuMid;
  // p[-1,k] = e[3 - k]: the pair p[-1,k], p[-1,k+1] starts at e[2 - k].
  return (z & 1) == 0 ? T2(2 - k) : T3(2 - k);
});

// kTopRight: the mode reads the samples above and to the right (the others never touch them).
template <const Picks& P, bool kTopRight>
void PredictDirectional(uint8_t* dst, ptrdiff_t stride, const uint8_t* top_right) {
  int e[13];
  for (int y = 0; y < 4; ++y) e[3 - y] = dst[y * stride - 1];
  e[4] = dst[-stride - 1];
  for (int x = 0; x < 4; ++x) e[5 + x] = dst[x - stride];
  // Null above-right means "not available": four copies of p[3,-1] (clause 8.3.1.2).
  if (kTopRight && top_right != nullptr) {
    for (int x = 0; x < 4; ++x) e[9 + x] = top_right[x];
  } else {
    for (int x = 0; x < 4; ++x) e[9 + x] = e[8];
  }
  uint8_t v[32];
  for (int k = 0; k < 12; ++k) v[k] = static_cast<uint8_t>((e[k] + e[k + 1] + 1) >> 1);
  v[12] = static_cast<uint8_t>(e[12]);
  for (int k = 0; k < 13; ++k) {
    const int a = e[k > 0 ? k - 1 : 0], c = e[k < 12 ? k + 1 : 12];
    v[13 + k] = static_cast<uint8_t>((a + 2 * e[k] + c + 2) >> 2);
  }
  v[kDdlLast] = static_cast<uint8_t>((e[11] + 3 * e[12] + 2) >> 2);
  for (int y = 0; y < 4; ++y) v[Left(y)] = static_cast<uint8_t>(e[3 - y]);
  v[kHuMid] = static_cast<uint8_t>((e[1] + 3 * e[0] + 2) >> 2);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) dst[y * stride + x] = v[P[4 * y + x]];
}

void Fill4x4(uint8_t* dst, ptrdiff_t stride, uint8_t value) {
  for (int y = 0; y < 4; ++y) std::memset(dst + y * stride, value, 4);
}

void Pred4x4Vertical(uint8_t* dst, ptrdiff_t stride, const uint8_t*) {
  for (int y = 0; y < 4; ++y) std::memcpy(dst + y * stride, dst - stride, 4);
}
void Pred4x4Horizontal(uint8_t* dst, ptrdiff_t stride, const uint8_t*) {
  for (int y = 0; y < 4; ++y) std::memset(dst + y * stride, dst[y * stride - 1], 4);
}
int SumTop(const uint8_t* dst, ptrdiff_t stride, int n) {
  int s = 0;
  for (int x = 0; x < n; ++x) s += dst[x - stride];
  return s;
}
int SumLeft(const uint8_t* dst, ptrdiff_t stride, int n) {
  int s = 0;
  for (int y = 0; y < n; ++y) s += dst[y * stride - 1];
  return s;
}
void Pred4x4Dc(uint8_t* dst, ptrdiff_t stride, const uint8_t*) {
  Fill4x4(dst, stride, static_cast<uint8_t>((SumTop(dst, stride, 4) + SumLeft(dst, stride, 4) + 4) >> 3));
}
void Pred4x4DcLeft(uint8_t* dst, ptrdiff_t stride, const uint8_t*) {
  Fill4x4(dst, stride, static_cast<uint8_t>((SumLeft(dst, stride, 4) + 2) >> 2));
}
void Pred4x4DcTop(uint8_t* dst, ptrdiff_t stride, const uint8_t*) {
  Fill4x4(dst, stride, static_cast<uint8_t>((SumTop(dst, stride, 4) + 2) >> 2));
}
void Pred4x4Dc128(uint8_t* dst, ptrdiff_t stride, const uint8_t*) { Fill4x4(dst, stride, 128); }

// ---- 16x16 and chroma 8x8 -------------------------------------------------------------------
template <int N>
void PredVertical(uint8_t* dst, ptrdiff_t stride) {
  for (int y = 0; y < N; ++y) std::memcpy(dst + y * stride, dst - stride, N);
}
template <int N>
void PredHorizontal(uint8_t* dst, ptrdiff_t stride) {
  for (int y = 0; y < N; ++y) std::memset(dst + y * stride, dst[y * stride - 1], N);
}
template <int N>
void FillBlock(uint8_t* dst, ptrdiff_t stride, int value) {
  for (int y = 0; y < N; ++y) std::memset(dst + y * stride, value, N);
}

void Pred16Dc(uint8_t* dst, ptrdiff_t stride) {
  FillBlock<16>(dst, stride, (SumTop(dst, stride, 16) + SumLeft(dst, stride, 16) + 16) >> 5);
}
void Pred16DcLeft(uint8_t* dst, ptrdiff_t stride) {
  FillBlock<16>(dst, stride, (SumLeft(dst, stride, 16) + 8) >> 4);
}
void Pred16DcTop(uint8_t* dst, ptrdiff_t stride) {
  FillBlock<16>(dst, stride, (SumTop(dst, stride, 16) + 8) >> 4);
}
template <int N>
void PredDc128(uint8_t* dst, ptrdiff_t stride) {
  FillBlock<N>(dst, stride, 128);
}

// Plane prediction, clauses 8.3.3.4 (N = 16, factor 5) and 8.3.4.4 (N = 8 for 4:2:0, factor 34).
template <int N, int kFactor>
void PredPlane(uint8_t* dst, ptrdiff_t stride) {
  constexpr int half = N / 2;
  const uint8_t* top = dst - stride;
  int h = 0, v = 0;
  for (int k = 0; k < half; ++k) {
    h += (k + 1) * (top[half + k] - top[half - 2 - k]);
    v += (k + 1) * (dst[(half + k) * stride - 1] - dst[(half - 2 - k) * stride - 1]);
  }
  const int a = 16 * (dst[(N - 1) * stride - 1] + top[N - 1]);
  const int b = (kFactor * h + 32) >> 6;
  const int c = (kFactor * v + 32) >> 6;
  for (int y = 0; y < N; ++y) {
    int acc = a + c * (y - (half - 1)) - b * (half - 1) + 16;
    uint8_t* row = dst + y * stride;
    for (int x = 0; x < N; ++x, acc += b) row[x] = Clip1(acc >> 5);
  }
}

// Chroma DC (clause 8.3.4.1 to 8.3.4.3): each 4x4 block of the 8x8 predicts from its own
// neighbours; which ones depends on the block's position and on what is available.
enum class ChromaAvail { kBoth, kLeft, kTop };

template <ChromaAvail A>
void PredChromaDc(uint8_t* dst, ptrdiff_t stride) {
  // The sums come from the macroblock's neighbours (row -1, column -1), all taken before the
  // first block is written.
  const int tops[2] = {SumTop(dst, stride, 4), SumTop(dst + 4, stride, 4)};
  const int lefts[2] = {SumLeft(dst, stride, 4), SumLeft(dst + 4 * stride, stride, 4)};
  for (int by = 0; by < 2; ++by) {
    for (int bx = 0; bx < 2; ++bx) {
      uint8_t* blk = dst + 4 * by * stride + 4 * bx;
      const int top = tops[bx], left = lefts[by];
      int value;
      if (A == ChromaAvail::kLeft) {
        value = (left + 2) >> 2;
      } else if (A == ChromaAvail::kTop) {
        value = (top + 2) >> 2;
      } else if (bx == by) {
        value = (top + left + 4) >> 3;
      } else if (by == 0) {
        value = (top + 2) >> 2;  // upper-right block prefers the upper row
      } else {
        value = (left + 2) >> 2;  // lower-left block prefers the left column
      }
      Fill4x4(blk, stride, static_cast<uint8_t>(value));
    }
  }
}

}  // namespace

void InitIntraPortable(KernelTable& t) {
  t.intra4x4[kI4Vertical] = Pred4x4Vertical;
  t.intra4x4[kI4Horizontal] = Pred4x4Horizontal;
  t.intra4x4[kI4Dc] = Pred4x4Dc;
  t.intra4x4[kI4DiagDownLeft] = PredictDirectional<kDdl, true>;
  t.intra4x4[kI4DiagDownRight] = PredictDirectional<kDdr, false>;
  t.intra4x4[kI4VerticalRight] = PredictDirectional<kVr, false>;
  t.intra4x4[kI4HorizontalDown] = PredictDirectional<kHd, false>;
  t.intra4x4[kI4VerticalLeft] = PredictDirectional<kVl, true>;
  t.intra4x4[kI4HorizontalUp] = PredictDirectional<kHu, false>;
  t.intra4x4[kI4DcLeft] = Pred4x4DcLeft;
  t.intra4x4[kI4DcTop] = Pred4x4DcTop;
  t.intra4x4[kI4Dc128] = Pred4x4Dc128;

  t.intra16x16[kI16Vertical] = PredVertical<16>;
  t.intra16x16[kI16Horizontal] = PredHorizontal<16>;
  t.intra16x16[kI16Dc] = Pred16Dc;
  t.intra16x16[kI16Plane] = PredPlane<16, 5>;
  t.intra16x16[kI16DcLeft] = Pred16DcLeft;
  t.intra16x16[kI16DcTop] = Pred16DcTop;
  t.intra16x16[kI16Dc128] = PredDc128<16>;

  t.intra_chroma[kIcDc] = PredChromaDc<ChromaAvail::kBoth>;
  t.intra_chroma[kIcHorizontal] = PredHorizontal<8>;
  t.intra_chroma[kIcVertical] = PredVertical<8>;
  t.intra_chroma[kIcPlane] = PredPlane<8, 34>;
  t.intra_chroma[kIcDcLeft] = PredChromaDc<ChromaAvail::kLeft>;
  t.intra_chroma[kIcDcTop] = PredChromaDc<ChromaAvail::kTop>;
  t.intra_chroma[kIcDc128] = PredDc128<8>;
}

}  // namespace kestrel::h264::dsp

// Intra prediction against the formulas of ITU-T H.264 clause 8.3.
#include <algorithm>
#include <array>
#include <cstring>
#include <functional>

#include "tests/h264/dsp/kernel_test_support.h"

namespace kestrel::h264::dsp::test {
namespace {

// A bordered work area: the block at (kOrigin, kOrigin), neighbours around it.
constexpr int kStride = 40;
constexpr int kOrigin = 4;
struct Area {
  std::array<uint8_t, kStride * 28> s{};
  uint8_t* block() { return s.data() + kOrigin * kStride + kOrigin; }
  // p[x, y] with x, y relative to the block (-1 is the border).
  int p(int x, int y) const { return s[(kOrigin + y) * kStride + kOrigin + x]; }
  int out(int x, int y) const { return p(x, y); }
};

enum Fill { kRandom, kAllZero, kAll255, kExtremes };
void FillNeighbours(Area& a, std::mt19937& rng, Fill fill) {
  std::uniform_int_distribution<int> v(0, 255), bit(0, 1);
  for (auto& x : a.s) {
    switch (fill) {
      case kRandom: x = static_cast<uint8_t>(v(rng)); break;
      case kAllZero: x = 0; break;
      case kAll255: x = 255; break;
      case kExtremes: x = bit(rng) ? 255 : 0; break;
    }
  }
}

// ---- 4x4, clause 8.3.1.2 --------------------------------------------------------------------
// p(x, -1) for x = 4..7 comes from topright (or copies of p(3, -1)).
using Pred4 = std::function<int(int x, int y)>;
int Textbook4x4(int mode, int x, int y, const std::function<int(int, int)>& p) {
  const auto tap3 = [](int a, int b, int c) { return (a + 2 * b + c + 2) >> 2; };
  const auto tap2 = [](int a, int b) { return (a + b + 1) >> 1; };
  switch (mode) {
    case 0: return p(x, -1);
    case 1: return p(-1, y);
    case 2: {
      int s = 0;
      for (int i = 0; i < 4; ++i) s += p(i, -1) + p(-1, i);
      return (s + 4) >> 3;
    }
    case 3:
      if (x == 3 && y == 3) return (p(6, -1) + 3 * p(7, -1) + 2) >> 2;
      return tap3(p(x + y, -1), p(x + y + 1, -1), p(x + y + 2, -1));
    case 4:
      if (x > y) return tap3(p(x - y - 2, -1), p(x - y - 1, -1), p(x - y, -1));
      if (x < y) return tap3(p(-1, y - x - 2), p(-1, y - x - 1), p(-1, y - x));
      return tap3(p(0, -1), p(-1, -1), p(-1, 0));
    case 5: {
      const int z = 2 * x - y;
      if (z >= 0 && z % 2 == 0) return tap2(p(x - (y >> 1) - 1, -1), p(x - (y >> 1), -1));
      if (z >= 0) return tap3(p(x - (y >> 1) - 2, -1), p(x - (y >> 1) - 1, -1), p(x - (y >> 1), -1));
      if (z == -1) return tap3(p(-1, 0), p(-1, -1), p(0, -1));
      return tap3(p(-1, y - 1), p(-1, y - 2), p(-1, y - 3));
    }
    case 6: {
      const int z = 2 * y - x;
      if (z >= 0 && z % 2 == 0) return tap2(p(-1, y - (x >> 1) - 1), p(-1, y - (x >> 1)));
      if (z >= 0) return tap3(p(-1, y - (x >> 1) - 2), p(-1, y - (x >> 1) - 1), p(-1, y - (x >> 1)));
      if (z == -1) return tap3(p(-1, 0), p(-1, -1), p(0, -1));
      return tap3(p(x - 1, -1), p(x - 2, -1), p(x - 3, -1));
    }
    case 7:
      if (y % 2 == 0) return tap2(p(x + (y >> 1), -1), p(x + (y >> 1) + 1, -1));
      return tap3(p(x + (y >> 1), -1), p(x + (y >> 1) + 1, -1), p(x + (y >> 1) + 2, -1));
    case 8: {
      const int z = x + 2 * y;
      if (z > 5) return p(-1, 3);
      if (z == 5) return (p(-1, 2) + 3 * p(-1, 3) + 2) >> 2;
      if (z % 2 == 0) return tap2(p(-1, y + (x >> 1)), p(-1, y + (x >> 1) + 1));
      return tap3(p(-1, y + (x >> 1)), p(-1, y + (x >> 1) + 1), p(-1, y + (x >> 1) + 2));
    }
  }
  return -1;
}

class Intra : public EachKernelSet {};

TEST_P(Intra, FourByFourModesMatchTheClause) {
  for (int iter = 0; iter < 400; ++iter) {
    for (int mode = 0; mode < 9; ++mode) {
      for (bool have_top_right : {true, false}) {
        Area a;
        FillNeighbours(a, rng, static_cast<Fill>(iter % 4));
        uint8_t top_right[4];
        for (auto& t : top_right) t = static_cast<uint8_t>(Rand(0, 255));
        const auto p = [&](int x, int y) {
          if (y == -1 && x >= 4) return have_top_right ? int{top_right[x - 4]} : a.p(3, -1);
          return a.p(x, y);
        };
        Area want = a;
        for (int y = 0; y < 4; ++y)
          for (int x = 0; x < 4; ++x)
            want.s[(kOrigin + y) * kStride + kOrigin + x] = static_cast<uint8_t>(Textbook4x4(mode, x, y, p));
        k().intra4x4[mode](a.block(), kStride, have_top_right ? top_right : nullptr);
        ASSERT_EQ(a.s, want.s) << "mode " << mode << " iter " << iter << " top-right " << have_top_right;
      }
    }
  }
}

// The DC entries for missing neighbours, for all three block kinds: {entry, block size,
// which neighbours count}. 4x4 and 16x16 DC: the mean of what is available, 128 without any.
TEST_P(Intra, DcWithMissingNeighbours) {
  struct Case {
    int size;
    int entry;
    bool top, left;
  } cases[] = {
      {4, kI4Dc, true, true},       {4, kI4DcLeft, false, true},   {4, kI4DcTop, true, false},
      {4, kI4Dc128, false, false},  {16, kI16Dc, true, true},      {16, kI16DcLeft, false, true},
      {16, kI16DcTop, true, false}, {16, kI16Dc128, false, false},
  };
  for (const auto& c : cases) {
    for (int iter = 0; iter < 50; ++iter) {
      Area a;
      FillNeighbours(a, rng, static_cast<Fill>(iter % 4));
      int sum = 0, n = 0;
      for (int i = 0; i < c.size; ++i) {
        if (c.top) sum += a.p(i, -1), ++n;
        if (c.left) sum += a.p(-1, i), ++n;
      }
      const int want = n == 0 ? 128 : (sum + n / 2) / n;  // n is a power of two
      Area before = a;
      if (c.size == 4) k().intra4x4[c.entry](a.block(), kStride, nullptr);
      else k().intra16x16[c.entry](a.block(), kStride);
      for (int y = -1; y < 17; ++y)
        for (int x = -1; x < 17; ++x) {
          const bool inside = x >= 0 && y >= 0 && x < c.size && y < c.size;
          ASSERT_EQ(a.out(x, y), inside ? want : before.p(x, y)) << c.size << " entry " << c.entry;
        }
    }
  }
}

// ---- 16x16 and chroma: clauses 8.3.3 and 8.3.4 -----------------------------------------------
int TextbookPlane(const Area& a, int n, int x, int y) {
  const int half = n / 2;
  int h = 0, v = 0;
  for (int i = 0; i < half; ++i) {
    h += (i + 1) * (a.p(half + i, -1) - a.p(half - 2 - i, -1));
    v += (i + 1) * (a.p(-1, half + i) - a.p(-1, half - 2 - i));
  }
  const int av = 16 * (a.p(-1, n - 1) + a.p(n - 1, -1));
  const int b = n == 16 ? (5 * h + 32) >> 6 : (34 * h + 32) >> 6;
  const int c = n == 16 ? (5 * v + 32) >> 6 : (34 * v + 32) >> 6;
  return std::clamp((av + b * (x - (half - 1)) + c * (y - (half - 1)) + 16) >> 5, 0, 255);
}

TEST_P(Intra, SixteenBySixteenAndChromaDirectionalModes) {
  for (int iter = 0; iter < 300; ++iter) {
    for (int n : {16, 8}) {
      for (int mode = 0; mode < 3; ++mode) {  // vertical, horizontal, plane
        Area a;
        FillNeighbours(a, rng, static_cast<Fill>(iter % 4));
        if (iter % 7 == 0) {  // steep ramps drive the plane far outside 0..255
          for (int i = -1; i < n; ++i) a.s[(kOrigin - 1) * kStride + kOrigin + i] = static_cast<uint8_t>(i < n / 2 ? 0 : 255);
          for (int i = 0; i < n; ++i) a.s[(kOrigin + i) * kStride + kOrigin - 1] = static_cast<uint8_t>(i < n / 2 ? 255 : 0);
        }
        const Area src = a;
        if (n == 16) k().intra16x16[std::array{kI16Vertical, kI16Horizontal, kI16Plane}[mode]](a.block(), kStride);
        else k().intra_chroma[std::array{kIcVertical, kIcHorizontal, kIcPlane}[mode]](a.block(), kStride);
        for (int y = 0; y < n; ++y)
          for (int x = 0; x < n; ++x) {
            const int want = mode == 0 ? src.p(x, -1) : mode == 1 ? src.p(-1, y) : TextbookPlane(src, n, x, y);
            ASSERT_EQ(a.out(x, y), want) << n << " mode " << mode << " at " << x << "," << y;
          }
        EXPECT_EQ(a.out(n, 0), src.p(n, 0));
        EXPECT_EQ(a.out(0, n), src.p(0, n));
      }
    }
  }
}

// Clause 8.3.4.1 to 8.3.4.3: per 4x4 chroma block, which neighbours its DC averages.
TEST_P(Intra, ChromaDcPerBlockRules) {
  struct Case {
    int entry;
    bool top, left;
  } cases[] = {{kIcDc, true, true}, {kIcDcLeft, false, true}, {kIcDcTop, true, false}, {kIcDc128, false, false}};
  for (const auto& c : cases) {
    for (int iter = 0; iter < 50; ++iter) {
      Area a;
      FillNeighbours(a, rng, static_cast<Fill>(iter % 4));
      const Area src = a;
      k().intra_chroma[c.entry](a.block(), kStride);
      for (int by = 0; by < 2; ++by)
        for (int bx = 0; bx < 2; ++bx) {
          int top = 0, left = 0;
          for (int i = 0; i < 4; ++i) top += src.p(4 * bx + i, -1), left += src.p(-1, 4 * by + i);
          int want;
          const bool corner = bx == by;  // blocks (0,0) and (4,4)
          if (corner && c.top && c.left) want = (top + left + 4) >> 3;
          else if (bx == 1 && by == 0 && c.top) want = (top + 2) >> 2;   // prefers the upper row
          else if (bx == 0 && by == 1 && c.left) want = (left + 2) >> 2; // prefers the left column
          else if (c.left) want = (left + 2) >> 2;
          else if (c.top) want = (top + 2) >> 2;
          else want = 128;
          for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x)
              ASSERT_EQ(a.out(4 * bx + x, 4 * by + y), want) << "entry " << c.entry << " block " << bx << by;
        }
    }
  }
}

KESTREL_EACH_KERNEL_SET(Intra);

}  // namespace
}  // namespace kestrel::h264::dsp::test

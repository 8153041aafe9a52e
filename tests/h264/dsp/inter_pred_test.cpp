// Interpolation and combine against ITU-T H.264 clauses 8.4.2.2 and 8.4.2.3.
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "tests/h264/dsp/kernel_test_support.h"

namespace kestrel::h264::dsp::test {
namespace {

// A reference area with room for the filters' reach around a 16x16 block.
struct Reference {
  int stride;
  std::vector<uint8_t> s;
  int origin;  // offset of sample G of the block's top-left
  explicit Reference(int stride_) : stride(stride_), s(static_cast<size_t>(stride_) * 26), origin(3 * stride_ + 3) {}
  int at(int x, int y) const { return s[origin + y * stride + x]; }
  const uint8_t* g() const { return s.data() + origin; }
};

void FillReference(Reference& r, std::mt19937& rng, int kind) {
  std::uniform_int_distribution<int> v(0, 255), bit(0, 1);
  for (size_t i = 0; i < r.s.size(); ++i) {
    switch (kind) {
      case 0: r.s[i] = static_cast<uint8_t>(v(rng)); break;
      case 1: r.s[i] = bit(rng) ? 255 : 0; break;  // drives the 6-tap filter outside 0..255
      case 2: r.s[i] = static_cast<uint8_t>((i % 2) ? 255 : 0); break;
      default: r.s[i] = static_cast<uint8_t>(std::clamp(128 + static_cast<int>(i % 7) * 9 - 27, 0, 255)); break;
    }
  }
}

// Clause 8.4.2.2.1 sample by sample, with the names of Figure 8-4. j is computed from the
// horizontal intermediates (aa, bb, b1, s1, gg, hh), the other of the two equivalent routes.
int TextbookLuma(const Reference& r, int x, int y, int xf, int yf) {
  const auto clip = [](int v) { return std::clamp(v, 0, 255); };
  const auto tap = [](int e, int f, int g, int h, int i, int j) { return e - 5 * f + 20 * g + 20 * h - 5 * i + j; };
  const auto b1_at = [&](int xx, int yy) {
    return tap(r.at(xx - 2, yy), r.at(xx - 1, yy), r.at(xx, yy), r.at(xx + 1, yy), r.at(xx + 2, yy), r.at(xx + 3, yy));
  };
  const auto h1_at = [&](int xx, int yy) {
    return tap(r.at(xx, yy - 2), r.at(xx, yy - 1), r.at(xx, yy), r.at(xx, yy + 1), r.at(xx, yy + 2), r.at(xx, yy + 3));
  };
  const int G = r.at(x, y), H = r.at(x + 1, y), M = r.at(x, y + 1);
  const int b = clip((b1_at(x, y) + 16) >> 5), h = clip((h1_at(x, y) + 16) >> 5);
  const int s = clip((b1_at(x, y + 1) + 16) >> 5), m = clip((h1_at(x + 1, y) + 16) >> 5);
  const int j1 = tap(b1_at(x, y - 2), b1_at(x, y - 1), b1_at(x, y), b1_at(x, y + 1), b1_at(x, y + 2), b1_at(x, y + 3));
  const int j = clip((j1 + 512) >> 10);
  const auto avg = [](int p, int q) { return (p + q + 1) >> 1; };
  const int table[4][4] = {
      // [xFrac][yFrac], Table 8-12
      {G, avg(G, h), h, avg(M, h)},
      {avg(G, b), avg(b, h), avg(h, j), avg(h, s)},
      {b, avg(b, j), j, avg(j, s)},
      {avg(H, b), avg(b, m), avg(j, m), avg(m, s)},
  };
  return table[xf][yf];
}

class Inter : public EachKernelSet {};

TEST_P(Inter, LumaEveryPhaseWidthAndHeight) {
  struct Shape {
    int table, w, h;
  } shapes[] = {{kW4, 4, 4},  {kW4, 4, 8},   {kW4, 4, 16},  {kW8, 8, 4},  {kW8, 8, 8},
                {kW8, 8, 16}, {kW16, 16, 4}, {kW16, 16, 8}, {kW16, 16, 16}};
  for (int stride : {24, 64}) {  // the temporary block of edge fetches, and a picture
    for (int kind = 0; kind < 4; ++kind) {
      Reference r(stride);
      FillReference(r, rng, kind);
      for (const auto& sh : shapes) {
        for (int phase = 0; phase < 16; ++phase) {
          uint8_t dst[16 * 20];
          std::fill(std::begin(dst), std::end(dst), uint8_t{0xA5});
          k().luma_mc[sh.table][phase](dst, 20, r.g(), stride, sh.h);
          for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 20; ++x) {
              const bool inside = x < sh.w && y < sh.h;
              const int want = inside ? TextbookLuma(r, x, y, phase / 4, phase % 4) : 0xA5;
              ASSERT_EQ(dst[20 * y + x], want) << "w " << sh.w << " h " << sh.h << " phase " << phase
                                               << " kind " << kind << " at " << x << "," << y;
            }
        }
      }
    }
  }
}

// The centre sample's 6-tap of 6-taps at its extremes: rows alternating between the patterns
// that drive the horizontal intermediate to its maximum (255 0 255 255 0 255 -> 10710) and its
// minimum (0 255 0 0 255 0 -> -2550), placed so that the second filter peaks too.
TEST_P(Inter, CentreSampleAtTheExtremes) {
  constexpr int kMax[6] = {255, 0, 255, 255, 0, 255}, kMin[6] = {0, 255, 0, 0, 255, 0};
  for (bool positive : {true, false}) {
    for (bool by_rows : {true, false}) {
      Reference r(24);
      // the pattern of the outer filter, over rows (or columns) -2..3 of the block
      const bool row_high[6] = {true, false, true, true, false, true};
      for (int y = -3; y < 23; ++y)
        for (int x = -3; x < 21; ++x) {
          const int outer = by_rows ? y : x, inner = by_rows ? x : y;
          const bool high = row_high[((outer + 2) % 6 + 6) % 6] == positive;
          const int* pat = high ? kMax : kMin;
          r.s[r.origin + y * r.stride + x] = static_cast<uint8_t>(pat[((inner + 2) % 6 + 6) % 6]);
        }
      for (int phase : {6, 9, 10, 11, 14}) {  // i, f, j, q, k
        uint8_t dst[16 * 16];
        k().luma_mc[kW16][phase](dst, 16, r.g(), 24, 16);
        for (int y = 0; y < 16; ++y)
          for (int x = 0; x < 16; ++x)
            ASSERT_EQ(dst[16 * y + x], TextbookLuma(r, x, y, phase / 4, phase % 4))
                << "phase " << phase << " positive " << positive << " rows " << by_rows << " at " << x << "," << y;
      }
    }
  }
}

TEST_P(Inter, ChromaEveryFractionWidthAndHeight) {
  for (int kind = 0; kind < 4; ++kind) {
    Reference r(32);
    FillReference(r, rng, kind);
    for (int table : {kCw2, kCw4, kCw8}) {
      const int w = 2 << table;
      for (int h : {2, 4, 8}) {
        for (int mx = 0; mx < 8; ++mx)
          for (int my = 0; my < 8; ++my) {
            uint8_t dst[8 * 12];
            std::fill(std::begin(dst), std::end(dst), uint8_t{0x5A});
            k().chroma_mc[table][ChromaMcKind(mx, my)](dst, 12, r.g(), 32, h, mx, my);
            for (int y = 0; y < 8; ++y)
              for (int x = 0; x < 12; ++x) {
                // clause 8.4.2.2.2
                const int want = x < w && y < h
                                     ? ((8 - mx) * (8 - my) * r.at(x, y) + mx * (8 - my) * r.at(x + 1, y) +
                                        (8 - mx) * my * r.at(x, y + 1) + mx * my * r.at(x + 1, y + 1) + 32) >> 6
                                     : 0x5A;
                ASSERT_EQ(dst[12 * y + x], want) << "w " << w << " h " << h << " mx " << mx << " my " << my;
              }
          }
      }
    }
  }
}

// Clause 8.4.2.3.2 (explicit, one list), then the residual addition with Clip1.
int TextbookCombine(int mode, int pred, int res, const Weight& w) {
  int p = pred;
  if (mode == kCombineWeighted) {
    p = w.log2_denom >= 1 ? ((pred * w.weight + (1 << (w.log2_denom - 1))) >> w.log2_denom) + w.offset
                          : pred * w.weight + w.offset;
    p = std::clamp(p, 0, 255);
  }
  return std::clamp(p + res, 0, 255);
}

TEST_P(Inter, CombineWeightsResidualAndClipping) {
  struct WeightCase {
    Weight w;
  } weights[] = {
      {{0, 10, 0}},     // weight 0 with an offset: the offset plus the residual
      {{32, 0, 5}},     // the default weight of denominator 5: identity
      {{1, 0, 0}},      // denominator 0: no rounding term
      {{127, 127, 0}},  // saturates high
      {{-128, -128, 7}},
      {{-3, 100, 1}},
      {{77, -20, 6}},
  };
  for (int mode : {kCombinePlain, kCombineWeighted}) {
    for (int table : {kW4, kW8, kW16}) {
      const int w = 4 << table;
      for (int h : {2, 4, 8, 16}) {
        for (const auto& wc : weights) {
          for (bool with_residual : {true, false}) {
            uint8_t pred[16 * 16], dst[16 * 24];
            int16_t res[16 * 16];
            for (auto& p : pred) p = static_cast<uint8_t>(Rand(0, 3) == 0 ? 255 * Rand(0, 1) : Rand(0, 255));
            for (auto& r : res) r = static_cast<int16_t>(Rand(0, 5) == 0 ? Rand(-32768, 32767) : Rand(-300, 300));
            std::fill(std::begin(dst), std::end(dst), uint8_t{0x33});
            k().combine[mode][table](dst, 24, pred, 16, with_residual ? res : nullptr, 16, h, wc.w);
            for (int y = 0; y < 16; ++y)
              for (int x = 0; x < 24; ++x) {
                const int want = x < w && y < h ? TextbookCombine(mode, pred[16 * y + x], with_residual ? res[16 * y + x] : 0, wc.w) : 0x33;
                ASSERT_EQ(dst[24 * y + x], want) << "mode " << mode << " w " << w << " h " << h << " weight " << wc.w.weight;
              }
          }
        }
      }
    }
  }
}

TEST_P(Inter, CombineInPlace) {
  uint8_t buf[8 * 8];
  int16_t res[8 * 8];
  for (auto& p : buf) p = static_cast<uint8_t>(Rand(0, 255));
  for (auto& r : res) r = static_cast<int16_t>(Rand(-40, 40));
  uint8_t want[8 * 8];
  const Weight w{5, -3, 2};
  for (int i = 0; i < 64; ++i) want[i] = static_cast<uint8_t>(TextbookCombine(kCombineWeighted, buf[i], res[i], w));
  k().combine[kCombineWeighted][kW8](buf, 8, buf, 8, res, 8, 8, w);
  EXPECT_EQ(0, std::memcmp(buf, want, sizeof buf));
}

KESTREL_EACH_KERNEL_SET(Inter);

}  // namespace
}  // namespace kestrel::h264::dsp::test

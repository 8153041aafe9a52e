// The inverse transforms against the formulas of ITU-T H.264 clauses 8.5.10 to 8.5.12.
#include <algorithm>
#include <array>
#include <cstring>

#include "tests/h264/dsp/kernel_test_support.h"

namespace kestrel::h264::dsp::test {
namespace {

using Block = std::array<int16_t, 16>;

// Clause 8.5.12.2 as written: rows e/f, then columns g/h, then r = (h + 32) >> 6.
std::array<int, 16> TextbookResidual(const Block& d) {
  int f[4][4], h[4][4];
  for (int i = 0; i < 4; ++i) {
    const int e0 = d[4 * i] + d[4 * i + 2], e1 = d[4 * i] - d[4 * i + 2];
    const int e2 = (d[4 * i + 1] >> 1) - d[4 * i + 3], e3 = d[4 * i + 1] + (d[4 * i + 3] >> 1);
    f[i][0] = e0 + e3, f[i][1] = e1 + e2, f[i][2] = e1 - e2, f[i][3] = e0 - e3;
  }
  for (int j = 0; j < 4; ++j) {
    const int g0 = f[0][j] + f[2][j], g1 = f[0][j] - f[2][j];
    const int g2 = (f[1][j] >> 1) - f[3][j], g3 = f[1][j] + (f[3][j] >> 1);
    h[0][j] = g0 + g3, h[1][j] = g1 + g2, h[2][j] = g1 - g2, h[3][j] = g0 - g3;
  }
  std::array<int, 16> r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) r[4 * i + j] = (h[i][j] + 32) >> 6;
  return r;
}

// Coefficients small enough that every intermediate stays in 16 bits (a conforming stream).
Block RandomCoefficients(std::mt19937& rng, int range, int nonzero) {
  Block c{};
  std::uniform_int_distribution<int> value(-range, range), pos(0, 15);
  for (int n = 0; n < nonzero; ++n) c[pos(rng)] = static_cast<int16_t>(value(rng));
  return c;
}

class Transform : public EachKernelSet {};

TEST_P(Transform, ResidualMatchesClauseAndClearsCoefficients) {
  for (int iter = 0; iter < 2000; ++iter) {
    Block c = RandomCoefficients(rng, iter < 1000 ? 64 : 2000, Rand(1, 16));
    const auto want = TextbookResidual(c);
    int16_t res[4 * 24];
    std::fill(std::begin(res), std::end(res), int16_t{0x7777});
    k().idct4x4(res + 3, 24, c.data());
    for (int y = 0; y < 4; ++y) {
      for (int x = 0; x < 4; ++x) ASSERT_EQ(res[3 + 24 * y + x], want[4 * y + x]) << iter;
      EXPECT_EQ(res[24 * y + 2], 0x7777);  // nothing outside the block
      EXPECT_EQ(res[24 * y + 7], 0x7777);
    }
    ASSERT_EQ(c, Block{});
  }
}

TEST_P(Transform, AddClipsToSampleRange) {
  for (int iter = 0; iter < 2000; ++iter) {
    Block c = RandomCoefficients(rng, 4000, Rand(1, 6));
    const auto r = TextbookResidual(c);
    uint8_t pic[8 * 8];
    for (auto& p : pic) p = static_cast<uint8_t>(iter % 3 == 0 ? 0 : iter % 3 == 1 ? 255 : Rand(0, 255));
    uint8_t before[8 * 8];
    std::memcpy(before, pic, sizeof pic);
    k().idct4x4_add(pic + 8 * 2 + 2, 8, c.data());
    for (int y = 0; y < 8; ++y) {
      for (int x = 0; x < 8; ++x) {
        const bool inside = y >= 2 && y < 6 && x >= 2 && x < 6;
        const int want = inside ? std::clamp(before[8 * y + x] + r[4 * (y - 2) + x - 2], 0, 255)
                                : before[8 * y + x];
        ASSERT_EQ(pic[8 * y + x], want) << iter << " at " << x << "," << y;
      }
    }
    ASSERT_EQ(c, Block{});
  }
}

TEST_P(Transform, DcOnlyPathsEqualTheFullTransformOfADcBlock) {
  for (int dc : {-32768, -4000, -33, -32, -31, -1, 0, 1, 31, 32, 95, 96, 4000, 32700}) {
    Block c{};
    c[0] = static_cast<int16_t>(dc);
    c[5] = 77;  // the DC paths look at coefficient 0 only and leave the rest alone
    int16_t res[16];
    k().idct4x4_dc(res, 4, c.data());
    // (dc + 32) >> 6 in the 16-bit arithmetic of the transform
    const int want = static_cast<int16_t>(dc + 32) >> 6;
    for (int16_t v : res) ASSERT_EQ(v, want) << dc;
    EXPECT_EQ(c[0], 0);
    EXPECT_EQ(c[5], 77);

    uint8_t pic[4 * 4];
    for (int i = 0; i < 16; ++i) pic[i] = static_cast<uint8_t>(i * 17);
    c[0] = static_cast<int16_t>(dc);
    k().idct4x4_dc_add(pic, 4, c.data());
    for (int i = 0; i < 16; ++i) ASSERT_EQ(pic[i], std::clamp(i * 17 + want, 0, 255)) << dc;
    EXPECT_EQ(c[0], 0);
  }
}

// The position (block row, block column) of luma4x4BlkIdx, from the inverse raster scans of
// clause 6.4.3.
std::pair<int, int> BlockPosition(int idx) {
  const int x = 8 * ((idx / 4) % 2) + 4 * ((idx % 4) % 2);
  const int y = 8 * ((idx / 4) / 2) + 4 * ((idx % 4) / 2);
  return {y / 4, x / 4};
}

// Clause 8.5.10 with LevelScale4x4(m, 0, 0) = 16 v(m, 0) (flat scaling).
int TextbookDcScale(long long f, int qp, bool luma) {
  const long long ls = 16LL * std::array{10, 11, 13, 14, 16, 18}[qp % 6];
  if (!luma) return static_cast<int16_t>(((f * ls) << (qp / 6)) >> 5);
  if (qp >= 36) return static_cast<int16_t>((f * ls) << (qp / 6 - 6));
  return static_cast<int16_t>((f * ls + (1LL << (5 - qp / 6))) >> (6 - qp / 6));
}

TEST_P(Transform, LumaDcHadamardScalesAndPlacesInDecodingOrder) {
  constexpr int H[4][4] = {{1, 1, 1, 1}, {1, 1, -1, -1}, {1, -1, -1, 1}, {1, -1, 1, -1}};
  for (int qp = 0; qp <= 51; ++qp) {
    for (int iter = 0; iter < 40; ++iter) {
      int16_t c[16];
      const int range = iter < 20 ? 100 : 32767;
      for (auto& v : c) v = static_cast<int16_t>(Rand(-range, range));
      int16_t out[256];
      std::fill(std::begin(out), std::end(out), int16_t{-5});
      k().luma_dc_dequant(out, c, qp);
      for (int idx = 0; idx < 16; ++idx) {
        const auto [i, j] = BlockPosition(idx);
        long long f = 0;
        for (int a = 0; a < 4; ++a)
          for (int b = 0; b < 4; ++b) f += H[i][a] * c[4 * a + b] * H[b][j];
        ASSERT_EQ(out[16 * idx], TextbookDcScale(f, qp, true)) << "qp " << qp << " blk " << idx;
        for (int n = 1; n < 16; ++n) ASSERT_EQ(out[16 * idx + n], -5);
      }
    }
  }
}

TEST_P(Transform, ChromaDcHadamardScales) {
  for (int qp = 0; qp <= 51; ++qp) {
    for (int iter = 0; iter < 40; ++iter) {
      int16_t c[4];
      const int range = iter < 20 ? 300 : 32767;
      for (auto& v : c) v = static_cast<int16_t>(Rand(-range, range));
      if (iter == 39) std::fill(std::begin(c), std::end(c), int16_t{-32768});
      int16_t out[64];
      std::fill(std::begin(out), std::end(out), int16_t{9});
      k().chroma_dc_dequant(out, c, qp);
      for (int blk = 0; blk < 4; ++blk) {
        const int i = blk / 2, j = blk % 2;
        // f = A c A with A = (1 1 / 1 -1)
        const long long f = c[0] + (j ? -c[1] : c[1]) + (i ? -c[2] : c[2]) + ((i ^ j) ? -c[3] : c[3]);
        ASSERT_EQ(out[16 * blk], TextbookDcScale(f, qp, false)) << "qp " << qp;
        for (int n = 1; n < 16; ++n) ASSERT_EQ(out[16 * blk + n], 9);
      }
    }
  }
}

KESTREL_EACH_KERNEL_SET(Transform);

}  // namespace
}  // namespace kestrel::h264::dsp::test

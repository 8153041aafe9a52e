// Deblocking kernels against ITU-T H.264 clause 8.7: internal boundary strengths and the edge
// filters for both directions, normal and strong, luma and chroma.
#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "h264/dsp/deblock_tables.h"
#include "tests/h264/dsp/kernel_test_support.h"

namespace kestrel::h264::dsp::test {
namespace {

// ---- boundary strengths, clause 8.7.2.1 ----------------------------------------------------
class Strength : public EachKernelSet {};

TEST_P(Strength, ClearAndCoefficientTest) {
  uint8_t bs[32];
  std::memset(bs, 9, sizeof bs);
  k().bs_clear(bs);
  for (uint8_t v : bs) EXPECT_EQ(v, 0);
  for (int iter = 0; iter < 500; ++iter) {
    uint8_t nnz[16];
    for (auto& n : nnz) n = static_cast<uint8_t>(Rand(0, 3) == 0 ? Rand(1, 16) : 0);
    std::memset(bs, 9, sizeof bs);
    k().bs_coef(bs, nnz);
    for (int dir = 0; dir < 2; ++dir)
      for (int e = 0; e < 4; ++e)
        for (int s = 0; s < 4; ++s) {
          // the two blocks on either side of segment s of edge e
          const int q = dir == 0 ? 4 * s + e : 4 * e + s;
          const int p = dir == 0 ? q - 1 : q - 4;
          const int want = e == 0 ? 0 : (nnz[p] || nnz[q]) ? 2 : 0;
          ASSERT_EQ(bs[16 * dir + 4 * e + s], want) << dir << e << s;
        }
  }
}

TEST_P(Strength, MotionTestFillsOnlyZeroInternalEntries) {
  for (int iter = 0; iter < 2000; ++iter) {
    int16_t ref[4], mv[32];
    for (auto& r : ref) r = static_cast<int16_t>(Rand(0, 3) == 0 ? Rand(0, 2) : 0);
    const int base_x = Rand(-2000, 2000), base_y = Rand(-500, 500);
    for (int b = 0; b < 16; ++b) {
      mv[2 * b] = static_cast<int16_t>(iter % 50 == 0 ? Rand(-32768, 32767) : base_x + Rand(-5, 5));
      mv[2 * b + 1] = static_cast<int16_t>(iter % 50 == 0 ? Rand(-32768, 32767) : base_y + Rand(-5, 5));
    }
    const int limit = iter % 2 ? 4 : 2;
    uint8_t bs[32];
    for (auto& v : bs) v = static_cast<uint8_t>(Rand(0, 2) == 0 ? 2 : 0);
    for (int e = 0; e < 4; ++e) bs[4 * 0 + e] = bs[16 + e] = 7;  // macroblock edges: untouched
    uint8_t before[32];
    std::memcpy(before, bs, sizeof bs);
    k().bs_motion(bs, ref, mv, limit);
    for (int dir = 0; dir < 2; ++dir)
      for (int e = 0; e < 4; ++e)
        for (int s = 0; s < 4; ++s) {
          const int i = 16 * dir + 4 * e + s;
          int want = before[i];
          if (e > 0 && want == 0) {
            const int q = dir == 0 ? 4 * s + e : 4 * e + s;
            const int p = dir == 0 ? q - 1 : q - 4;
            const auto quad = [](int b) { return 2 * (b / 8) + (b % 4) / 2; };
            if (ref[quad(p)] != ref[quad(q)] || std::abs(mv[2 * p] - mv[2 * q]) >= 4 ||
                std::abs(mv[2 * p + 1] - mv[2 * q + 1]) >= limit)
              want = 1;
          }
          ASSERT_EQ(bs[i], want) << iter << " dir " << dir << " edge " << e << " seg " << s;
        }
  }
}

KESTREL_EACH_KERNEL_SET(Strength);

// ---- edge filters, clauses 8.7.2.3 and 8.7.2.4 ---------------------------------------------
// One line of samples across the edge, p[3..0] | q[0..3], filtered as the clause states.
struct Line {
  int p[4], q[4];
};

Line TextbookFilter(Line l, bool chroma, int bs, int alpha, int beta, int tc0) {
  const int p0 = l.p[0], p1 = l.p[1], p2 = l.p[2], p3 = l.p[3];
  const int q0 = l.q[0], q1 = l.q[1], q2 = l.q[2], q3 = l.q[3];
  const bool filter = bs != 0 && std::abs(p0 - q0) < alpha && std::abs(p1 - p0) < beta && std::abs(q1 - q0) < beta;
  if (!filter) return l;
  const int ap = std::abs(p2 - p0), aq = std::abs(q2 - q0);
  if (bs < 4) {
    const int tc = chroma ? tc0 + 1 : tc0 + (ap < beta) + (aq < beta);
    const int delta = std::clamp((((q0 - p0) << 2) + (p1 - q1) + 4) >> 3, -tc, tc);
    l.p[0] = std::clamp(p0 + delta, 0, 255);
    l.q[0] = std::clamp(q0 - delta, 0, 255);
    if (!chroma && ap < beta) l.p[1] = p1 + std::clamp((p2 + ((p0 + q0 + 1) >> 1) - (p1 << 1)) >> 1, -tc0, tc0);
    if (!chroma && aq < beta) l.q[1] = q1 + std::clamp((q2 + ((p0 + q0 + 1) >> 1) - (q1 << 1)) >> 1, -tc0, tc0);
    return l;
  }
  if (!chroma && ap < beta && std::abs(p0 - q0) < ((alpha >> 2) + 2)) {
    l.p[0] = (p2 + 2 * p1 + 2 * p0 + 2 * q0 + q1 + 4) >> 3;
    l.p[1] = (p2 + p1 + p0 + q0 + 2) >> 2;
    l.p[2] = (2 * p3 + 3 * p2 + p1 + p0 + q0 + 4) >> 3;
  } else {
    l.p[0] = (2 * p1 + p0 + q1 + 2) >> 2;
  }
  if (!chroma && aq < beta && std::abs(p0 - q0) < ((alpha >> 2) + 2)) {
    l.q[0] = (p1 + 2 * p0 + 2 * q0 + 2 * q1 + q2 + 4) >> 3;
    l.q[1] = (p0 + q0 + q1 + q2 + 2) >> 2;
    l.q[2] = (2 * q3 + 3 * q2 + q1 + q0 + p0 + 4) >> 3;
  } else {
    l.q[0] = (2 * q1 + q0 + p1 + 2) >> 2;
  }
  return l;
}

// A plane with the edge at column/row 8; lines are mostly smooth with small steps so that the
// filter's conditions go both ways.
constexpr int kPlane = 24;
using Plane = std::array<uint8_t, kPlane * kPlane>;

void FillPlane(Plane& pl, std::mt19937& rng, int kind) {
  std::uniform_int_distribution<int> v(0, 255), step(-6, 6), jump(-40, 40);
  for (int y = 0; y < kPlane; ++y) {
    int level = v(rng);
    for (int x = 0; x < kPlane; ++x) {
      if (kind == 0) level = v(rng);
      else level = std::clamp(level + step(rng) + (x == 8 ? jump(rng) : 0), 0, 255);
      if (kind == 2 && x >= 8) level = 255;
      if (kind == 3 && x < 8) level = 0;
      pl[kPlane * y + x] = static_cast<uint8_t>(level);
    }
  }
}

Plane Transposed(const Plane& pl) {
  Plane t;
  for (int y = 0; y < kPlane; ++y)
    for (int x = 0; x < kPlane; ++x) t[kPlane * x + y] = pl[kPlane * y + x];
  return t;
}

// Filters the plane's vertical edge at column 8, rows 0..len-1, with the textbook.
Plane TextbookEdge(Plane pl, bool chroma, int len, const int bs[4], int alpha, int beta, const int tc0[4]) {
  for (int i = 0; i < len; ++i) {
    const int seg = chroma ? i / 2 : i / 4;
    Line l;
    for (int k = 0; k < 4; ++k) l.p[k] = pl[kPlane * i + 7 - k], l.q[k] = pl[kPlane * i + 8 + k];
    l = TextbookFilter(l, chroma, bs[seg], alpha, beta, tc0[seg]);
    for (int k = 0; k < 4; ++k) {
      pl[kPlane * i + 7 - k] = static_cast<uint8_t>(l.p[k]);
      pl[kPlane * i + 8 + k] = static_cast<uint8_t>(l.q[k]);
    }
  }
  return pl;
}

class EdgeFilter : public EachKernelSet {
 protected:
  // Random strengths and thresholds; bS 4 on all segments or bS 0..3 per segment.
  void Params(bool strong, int bs[4], int8_t tc0[4], int tc0_int[4], int& alpha, int& beta) {
    const int index_a = Rand(0, 3) == 0 ? Rand(0, 20) : Rand(16, 51);
    const int index_b = Rand(0, 51);
    alpha = kAlphaTable[index_a];
    beta = kBetaTable[index_b];
    for (int s = 0; s < 4; ++s) {
      bs[s] = strong ? 4 : Rand(0, 3);
      tc0_int[s] = bs[s] > 0 && bs[s] < 4 ? kTc0Table[index_a][bs[s] - 1] : 0;
      tc0[s] = static_cast<int8_t>(bs[s] == 0 ? -1 : tc0_int[s]);
    }
  }
};

TEST_P(EdgeFilter, LumaAndChromaBothDirections) {
  int changed = 0;
  for (int iter = 0; iter < 3000; ++iter) {
    const bool chroma = iter % 2 == 1, strong = iter % 4 >= 2;
    Plane pl, pl2;
    constexpr int kKinds[] = {0, 1, 1, 1, 2, 3};  // mostly smooth lines with a small step
    FillPlane(pl, rng, kKinds[Rand(0, 5)]);
    FillPlane(pl2, rng, kKinds[Rand(0, 5)]);
    int bs[4], tc0_int[4], alpha, beta;
    int8_t tc0[4];
    Params(strong, bs, tc0, tc0_int, alpha, beta);
    const int len = chroma ? 8 : 16;
    const Plane want = TextbookEdge(pl, chroma, len, bs, alpha, beta, tc0_int);
    const Plane want2 = TextbookEdge(pl2, chroma, len, bs, alpha, beta, tc0_int);
    for (int dir = 0; dir < 2; ++dir) {
      // dir 1 runs the horizontal-edge kernel on the transposed plane
      Plane a = dir == 0 ? pl : Transposed(pl), b = dir == 0 ? pl2 : Transposed(pl2);
      uint8_t* qa = dir == 0 ? a.data() + 8 : a.data() + 8 * kPlane;
      uint8_t* qb = dir == 0 ? b.data() + 8 : b.data() + 8 * kPlane;
      if (!chroma && strong) k().luma_edge_strong[dir](qa, kPlane, alpha, beta);
      else if (!chroma) k().luma_edge[dir](qa, kPlane, alpha, beta, tc0);
      else if (strong) k().chroma_edge_strong[dir](qa, qb, kPlane, alpha, beta);
      else k().chroma_edge[dir](qa, qb, kPlane, alpha, beta, tc0);
      if (dir == 1) a = Transposed(a), b = Transposed(b);
      ASSERT_EQ(a, want) << "iter " << iter << " dir " << dir << " chroma " << chroma << " strong " << strong
                         << " alpha " << alpha << " beta " << beta;
      if (chroma) {
        ASSERT_EQ(b, want2) << "second plane, iter " << iter;
      }
    }
    changed += want != pl;
  }
  EXPECT_GT(changed, 900);  // the data must make the filters act, not only skip
}

TEST_P(EdgeFilter, ZeroAlphaOrBetaOrStrengthLeavesSamplesUnchanged) {
  for (int iter = 0; iter < 200; ++iter) {
    Plane pl;
    FillPlane(pl, rng, 1);
    const int8_t none[4] = {-1, -1, -1, -1};
    const int8_t some[4] = {0, 5, 13, 25};
    struct Case {
      int alpha, beta;
      const int8_t* tc0;
    } cases[] = {{0, 18, some}, {255, 0, some}, {255, 18, none}};
    for (const auto& c : cases) {
      for (int dir = 0; dir < 2; ++dir) {
        Plane a = pl, b = pl;
        k().luma_edge[dir](a.data() + 8 * kPlane + 8, kPlane, c.alpha, c.beta, c.tc0);
        k().chroma_edge[dir](a.data() + 8 * kPlane + 8, b.data() + 8 * kPlane + 8, kPlane, c.alpha, c.beta, c.tc0);
        if (c.tc0 != none) {
          k().luma_edge_strong[dir](a.data() + 8 * kPlane + 8, kPlane, c.alpha, c.beta);
          k().chroma_edge_strong[dir](a.data() + 8 * kPlane + 8, b.data() + 8 * kPlane + 8, kPlane, c.alpha, c.beta);
        }
        ASSERT_EQ(a, pl);
        ASSERT_EQ(b, pl);
      }
    }
  }
}

TEST_P(EdgeFilter, StoresCopyBetweenStrides) {
  std::vector<uint8_t> src(16 * 40), dst(40 * 40, 0x11);
  for (auto& v : src) v = static_cast<uint8_t>(Rand(0, 255));
  // field addressing: every second row of a 20-wide picture
  k().store_luma(dst.data() + 20 + 2, 40, src.data() + 3, 40);
  k().store_chroma(dst.data() + 20 * 34, 40, src.data() + 20, 40);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 20; ++x) {
      int want = 0x11;
      const int row = y - 1;  // row 1 of the 20-wide picture: odd rows (bottom field)
      if (row >= 0 && row % 2 == 0 && row / 2 < 16 && x >= 2 && x < 18) want = src[40 * (row / 2) + 3 + x - 2];
      if (y >= 34 && y % 2 == 0 && (y - 34) / 2 < 8 && x < 8) want = src[40 * ((y - 34) / 2) + 20 + x];
      ASSERT_EQ(dst[20 * y + x], want) << x << "," << y;
    }
}

KESTREL_EACH_KERNEL_SET(EdgeFilter);

}  // namespace
}  // namespace kestrel::h264::dsp::test

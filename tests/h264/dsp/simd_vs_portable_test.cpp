// Every SIMD kernel against its portable twin, one table entry at a time, on random inputs with
// the edge values mixed in. Sources sit at the very end of their heap blocks, so a kernel that
// reads past what its contract allows trips the address sanitizer.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "tests/h264/dsp/kernel_test_support.h"

namespace kestrel::h264::dsp::test {
namespace {

std::vector<KernelSet> SimdSetsOfThisCpu() {
  std::vector<KernelSet> sets;
  for (KernelSet s : SetsOfThisCpu())
    if (s != KernelSet::kPortable) sets.push_back(s);
  return sets;
}

// Fewer rounds under the sanitizers, which slow the kernels down a lot.
int Rounds(int normal) { return std::getenv("KESTREL_SANITIZER_RUN") ? std::max(1, normal / 8) : normal; }

class SimdVsPortable : public testing::TestWithParam<KernelSet> {
 protected:
  const KernelTable& simd() const { return TableOf(GetParam()); }
  const KernelTable& ref() const { return TableOf(KernelSet::kPortable); }
  std::mt19937 rng{20240611};
  int Rand(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
  // A byte: uniform, or one of the extremes that saturate filters and clips.
  uint8_t Sample(int mode) {
    switch (mode % 4) {
      case 0: return static_cast<uint8_t>(Rand(0, 255));
      case 1: return static_cast<uint8_t>(Rand(0, 1) * 255);
      case 2: return static_cast<uint8_t>(std::array{0, 1, 127, 128, 254, 255}[Rand(0, 5)]);
      default: return static_cast<uint8_t>(Rand(100, 110));  // smooth: filters engage
    }
  }
  void FillBytes(uint8_t* p, size_t n, int mode) {
    for (size_t i = 0; i < n; ++i) p[i] = Sample(mode);
  }
  int16_t Coefficient(int mode) {
    switch (mode % 4) {
      case 0: return static_cast<int16_t>(Rand(-32768, 32767));
      case 1: return static_cast<int16_t>(std::array{-32768, -32767, -1, 0, 1, 32766, 32767}[Rand(0, 6)]);
      case 2: return static_cast<int16_t>(Rand(-600, 600));
      default: return static_cast<int16_t>(Rand(0, 3) ? 0 : Rand(-64, 64));
    }
  }
};

// A heap block whose last byte is the last one a kernel may touch.
struct Tight {
  std::unique_ptr<uint8_t[]> mem;
  size_t size;
  explicit Tight(size_t n) : mem(new uint8_t[n]), size(n) {}
  uint8_t* data() { return mem.get(); }
};

TEST_P(SimdVsPortable, Transforms) {
  for (int iter = 0; iter < Rounds(4000); ++iter) {
    int16_t c1[16], c2[16];
    for (auto& c : c1) c = Coefficient(iter);
    std::memcpy(c2, c1, sizeof c1);
    int16_t r1[4 * 9], r2[4 * 9];
    std::fill(std::begin(r1), std::end(r1), int16_t{-7});
    std::fill(std::begin(r2), std::end(r2), int16_t{-7});
    ref().idct4x4(r1 + 1, 9, c1);
    simd().idct4x4(r2 + 1, 9, c2);
    ASSERT_EQ(0, std::memcmp(r1, r2, sizeof r1)) << "idct4x4 " << iter;
    ASSERT_EQ(0, std::memcmp(c1, c2, sizeof c1));

    for (auto& c : c1) c = Coefficient(iter);
    std::memcpy(c2, c1, sizeof c1);
    ref().idct4x4_dc(r1, 9, c1);
    simd().idct4x4_dc(r2, 9, c2);
    ASSERT_EQ(0, std::memcmp(r1, r2, sizeof r1)) << "idct4x4_dc " << iter;
    ASSERT_EQ(0, std::memcmp(c1, c2, sizeof c1));

    for (Idct4x4AddFn KernelTable::*slot : {&KernelTable::idct4x4_add, &KernelTable::idct4x4_dc_add}) {
      for (auto& c : c1) c = Coefficient(iter);
      std::memcpy(c2, c1, sizeof c1);
      uint8_t d1[6 * 7], d2[6 * 7];
      FillBytes(d1, sizeof d1, iter / 4);
      std::memcpy(d2, d1, sizeof d1);
      (ref().*slot)(d1 + 7 + 1, 7, c1);
      (simd().*slot)(d2 + 7 + 1, 7, c2);
      ASSERT_EQ(0, std::memcmp(d1, d2, sizeof d1)) << "add " << iter;
      ASSERT_EQ(0, std::memcmp(c1, c2, sizeof c1));
    }
  }
}

TEST_P(SimdVsPortable, DcTransforms) {
  for (int iter = 0; iter < Rounds(3000); ++iter) {
    const int qp = iter % 52;
    int16_t dc[16];
    for (auto& c : dc) c = Coefficient(iter / 52);
    int16_t o1[256], o2[256];
    for (int i = 0; i < 256; ++i) o1[i] = o2[i] = static_cast<int16_t>(i);
    ref().luma_dc_dequant(o1, dc, qp);
    simd().luma_dc_dequant(o2, dc, qp);
    ASSERT_EQ(0, std::memcmp(o1, o2, sizeof o1)) << "luma dc qp " << qp;
    ref().chroma_dc_dequant(o1, dc, qp);
    simd().chroma_dc_dequant(o2, dc, qp);
    ASSERT_EQ(0, std::memcmp(o1, o2, sizeof o1)) << "chroma dc qp " << qp;
  }
}

TEST_P(SimdVsPortable, BoundaryStrengths) {
  for (int iter = 0; iter < Rounds(4000); ++iter) {
    uint8_t nnz[16];
    for (auto& n : nnz) n = static_cast<uint8_t>(Rand(0, 2) ? 0 : Rand(1, 255));
    uint8_t b1[32], b2[32];
    for (int i = 0; i < 32; ++i) b1[i] = b2[i] = static_cast<uint8_t>(Rand(0, 4));
    ref().bs_clear(b1);
    simd().bs_clear(b2);
    ASSERT_EQ(0, std::memcmp(b1, b2, 32));
    ref().bs_coef(b1, nnz);
    simd().bs_coef(b2, nnz);
    ASSERT_EQ(0, std::memcmp(b1, b2, 32)) << "bs_coef " << iter;
    int16_t refs[4], mv[32];
    for (auto& r : refs) r = static_cast<int16_t>(Rand(0, 3) ? 0 : Rand(-32768, 32767));
    for (auto& v : mv) v = iter % 3 == 0 ? Coefficient(iter) : static_cast<int16_t>(Rand(-6, 6));
    for (int i = 0; i < 32; ++i) b1[i] = b2[i] = static_cast<uint8_t>(Rand(0, 1) * Rand(0, 4));
    const int limit = iter % 2 ? 4 : 2;
    ref().bs_motion(b1, refs, mv, limit);
    simd().bs_motion(b2, refs, mv, limit);
    ASSERT_EQ(0, std::memcmp(b1, b2, 32)) << "bs_motion " << iter;
  }
}

TEST_P(SimdVsPortable, EdgeFilters) {
  constexpr int kStride = 40;
  for (int iter = 0; iter < Rounds(6000); ++iter) {
    const int mode = iter % 4;
    std::vector<uint8_t> a(kStride * 24), b;
    FillBytes(a.data(), a.size(), mode);
    if (mode == 3) {  // a step across the edges at column and row 8
      for (int y = 0; y < 24; ++y)
        for (int x = 0; x < kStride; ++x)
          if (x >= 8 || y >= 8) a[kStride * y + x] = static_cast<uint8_t>(a[kStride * y + x] + Rand(0, 8));
    }
    b = a;
    const int alpha = Rand(0, 5) == 0 ? std::array{0, 1, 255}[Rand(0, 2)] : Rand(0, 255);
    const int beta = Rand(0, 5) == 0 ? std::array{0, 1, 18, 255}[Rand(0, 3)] : Rand(0, 18);
    int8_t tc0[4];
    for (auto& t : tc0) t = static_cast<int8_t>(Rand(-1, 25));
    const int dir = iter % 2;
    uint8_t* pa = a.data() + 8 * kStride + 8;
    uint8_t* pb = b.data() + 8 * kStride + 8;
    const int which = (iter / 2) % 4;
    switch (which) {
      case 0:
        ref().luma_edge[dir](pa, kStride, alpha, beta, tc0);
        simd().luma_edge[dir](pb, kStride, alpha, beta, tc0);
        break;
      case 1:
        ref().luma_edge_strong[dir](pa, kStride, alpha, beta);
        simd().luma_edge_strong[dir](pb, kStride, alpha, beta);
        break;
      case 2:  // Cr 20 columns to the right of Cb
        ref().chroma_edge[dir](pa, pa + 20, kStride, alpha, beta, tc0);
        simd().chroma_edge[dir](pb, pb + 20, kStride, alpha, beta, tc0);
        break;
      default:
        ref().chroma_edge_strong[dir](pa, pa + 20, kStride, alpha, beta);
        simd().chroma_edge_strong[dir](pb, pb + 20, kStride, alpha, beta);
        break;
    }
    ASSERT_EQ(a, b) << "kernel " << which << " dir " << dir << " alpha " << alpha << " beta " << beta << " iter " << iter;
  }
}

TEST_P(SimdVsPortable, Stores) {
  for (int iter = 0; iter < Rounds(200); ++iter) {
    for (int n : {16, 8}) {
      const int ss = n + Rand(0, 9), ds = n + Rand(0, 9);
      Tight src(static_cast<size_t>(ss) * (n - 1) + n);
      FillBytes(src.data(), src.size, iter);
      std::vector<uint8_t> d1(static_cast<size_t>(ds) * n, 0x42), d2 = d1;
      const StoreFn r = n == 16 ? ref().store_luma : ref().store_chroma;
      const StoreFn s = n == 16 ? simd().store_luma : simd().store_chroma;
      r(d1.data(), ds, src.data(), ss);
      s(d2.data(), ds, src.data(), ss);
      ASSERT_EQ(d1, d2);
    }
  }
}

TEST_P(SimdVsPortable, Deinterlace) {
  for (int iter = 0; iter < Rounds(1500); ++iter) {
    const int width = 2 * Rand(2, 200);
    const int stride = width + Rand(0, 3) * 8;
    const int mode = iter % 4;
    Tight cur(static_cast<size_t>(stride) * 3 + width), prev(static_cast<size_t>(stride) * 3 + width);
    FillBytes(cur.data(), cur.size, mode);
    if (iter % 3 == 0) {  // a picture close to the previous one: static pairs
      for (size_t i = 0; i < cur.size; ++i)
        prev.data()[i] = static_cast<uint8_t>(std::clamp(cur.data()[i] + Rand(-3, 3), 0, 255));
    } else {
      FillBytes(prev.data(), prev.size, mode);
    }
    std::vector<uint8_t> m1(width);
    for (int x = 0; x < width; x += 2) m1[x] = m1[x + 1] = static_cast<uint8_t>(iter % 7 == 0 ? Rand(0, 255) : Rand(0, 3));
    std::vector<uint8_t> m2 = m1, o1(width, 0x99), o2 = o1;
    ref().deinterlace_row(o1.data(), cur.data(), stride, prev.data(), stride, m1.data(), width);
    simd().deinterlace_row(o2.data(), cur.data(), stride, prev.data(), stride, m2.data(), width);
    ASSERT_EQ(o1, o2) << "width " << width << " iter " << iter;
    ASSERT_EQ(m1, m2) << "width " << width << " iter " << iter;
  }
}

TEST_P(SimdVsPortable, IntraPrediction) {
  constexpr int kStride = 24;
  for (int iter = 0; iter < Rounds(1500); ++iter) {
    std::vector<uint8_t> a(kStride * 20);
    FillBytes(a.data(), a.size(), iter);
    uint8_t tr[4];
    FillBytes(tr, 4, iter);
    for (int mode = 0; mode < kI4Count; ++mode) {
      for (const uint8_t* top_right : {static_cast<const uint8_t*>(tr), static_cast<const uint8_t*>(nullptr)}) {
        std::vector<uint8_t> x = a, y = a;
        ref().intra4x4[mode](x.data() + kStride + 1, kStride, top_right);
        simd().intra4x4[mode](y.data() + kStride + 1, kStride, top_right);
        ASSERT_EQ(x, y) << "4x4 mode " << mode << " iter " << iter;
      }
    }
    for (int mode = 0; mode < kI16Count; ++mode) {
      std::vector<uint8_t> x = a, y = a;
      ref().intra16x16[mode](x.data() + kStride + 1, kStride);
      simd().intra16x16[mode](y.data() + kStride + 1, kStride);
      ASSERT_EQ(x, y) << "16x16 mode " << mode << " iter " << iter;
    }
    for (int mode = 0; mode < kIcCount; ++mode) {
      std::vector<uint8_t> x = a, y = a;
      ref().intra_chroma[mode](x.data() + kStride + 1, kStride);
      simd().intra_chroma[mode](y.data() + kStride + 1, kStride);
      ASSERT_EQ(x, y) << "chroma mode " << mode << " iter " << iter;
    }
  }
}

TEST_P(SimdVsPortable, LumaInterpolation) {
  for (int iter = 0; iter < Rounds(300); ++iter) {
    for (int table = 0; table < kLumaWidthCount; ++table) {
      const int w = 4 << table;
      for (int h : {4, 8, 16}) {
        const int stride = iter % 2 ? 24 : w + 5 + Rand(0, 40);
        // exactly the (w + 5) x (h + 5) samples the filters may read
        Tight src(static_cast<size_t>(stride) * (h + 4) + w + 5);
        FillBytes(src.data(), src.size, iter);
        const uint8_t* g = src.data() + 2 * stride + 2;
        for (int phase = 0; phase < 16; ++phase) {
          uint8_t d1[16 * 17], d2[16 * 17];
          std::memset(d1, 0x3C, sizeof d1);
          std::memset(d2, 0x3C, sizeof d2);
          ref().luma_mc[table][phase](d1, 17, g, stride, h);
          simd().luma_mc[table][phase](d2, 17, g, stride, h);
          ASSERT_EQ(0, std::memcmp(d1, d2, sizeof d1)) << "w " << w << " h " << h << " phase " << phase;
        }
      }
    }
  }
}

TEST_P(SimdVsPortable, ChromaInterpolation) {
  for (int iter = 0; iter < Rounds(300); ++iter) {
    for (int table = 0; table < kChromaWidthCount; ++table) {
      const int w = 2 << table;
      for (int h : {2, 4, 8}) {
        const int stride = w + 1 + Rand(0, 20);
        Tight src(static_cast<size_t>(stride) * h + w + 1);
        FillBytes(src.data(), src.size, iter);
        for (int kind = 0; kind < 4; ++kind) {
          const int mx = kind & 1 ? Rand(1, 7) : 0, my = kind & 2 ? Rand(1, 7) : 0;
          ASSERT_EQ(ChromaMcKind(mx, my), kind);
          uint8_t d1[8 * 9], d2[8 * 9];
          std::memset(d1, 0x3C, sizeof d1);
          std::memset(d2, 0x3C, sizeof d2);
          ref().chroma_mc[table][kind](d1, 9, src.data(), stride, h, mx, my);
          simd().chroma_mc[table][kind](d2, 9, src.data(), stride, h, mx, my);
          ASSERT_EQ(0, std::memcmp(d1, d2, sizeof d1)) << "w " << w << " h " << h << " mx " << mx << " my " << my;
        }
      }
    }
  }
}

TEST_P(SimdVsPortable, Combine) {
  for (int iter = 0; iter < Rounds(1000); ++iter) {
    for (int mode = 0; mode < kCombineModeCount; ++mode) {
      for (int table = 0; table < kLumaWidthCount; ++table) {
        const int w = 4 << table, h = 2 * Rand(1, 8);
        Weight wt{Rand(-128, 127), Rand(-128, 127), Rand(0, 7)};
        if (iter % 5 == 0) wt = {std::array{-128, 0, 1, 127}[Rand(0, 3)], std::array{-128, 0, 127}[Rand(0, 2)], std::array{0, 1, 7}[Rand(0, 2)]};
        Tight pred(static_cast<size_t>(w) * h);
        FillBytes(pred.data(), pred.size, iter);
        std::vector<int16_t> res(static_cast<size_t>(w) * h);
        for (auto& r : res) r = iter % 3 ? static_cast<int16_t>(Rand(-300, 300)) : Coefficient(iter);
        const bool with_res = iter % 4 != 1;
        std::vector<uint8_t> d1(static_cast<size_t>(w + 3) * h, 0x77), d2 = d1;
        ref().combine[mode][table](d1.data(), w + 3, pred.data(), w, with_res ? res.data() : nullptr, w, h, wt);
        simd().combine[mode][table](d2.data(), w + 3, pred.data(), w, with_res ? res.data() : nullptr, w, h, wt);
        ASSERT_EQ(d1, d2) << "mode " << mode << " w " << w << " h " << h << " weight " << wt.weight << " offset "
                          << wt.offset << " denom " << wt.log2_denom;
      }
    }
  }
}

// Every slot of a SIMD set holds a SIMD kernel, not the portable one it would inherit.
TEST_P(SimdVsPortable, EverySlotIsSpecialised) {
  const auto* a = reinterpret_cast<const unsigned char*>(&ref());
  const auto* b = reinterpret_cast<const unsigned char*>(&simd());
  for (size_t i = 0; i < sizeof(KernelTable) / sizeof(void (*)()); ++i) {
    void (*fa)();
    void (*fb)();
    std::memcpy(&fa, a + i * sizeof fa, sizeof fa);
    std::memcpy(&fb, b + i * sizeof fb, sizeof fb);
    EXPECT_NE(fa, fb) << KernelSetName(GetParam()) << " slot " << i << " is the portable kernel";
  }
}

INSTANTIATE_TEST_SUITE_P(Sets, SimdVsPortable, testing::ValuesIn(SimdSetsOfThisCpu()), SetParamName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(SimdVsPortable);

}  // namespace
}  // namespace kestrel::h264::dsp::test

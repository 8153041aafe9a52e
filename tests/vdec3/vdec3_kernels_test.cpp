// Each SSE2 kernel against its portable reference on random inputs, and the DC-only shortcuts
// against the full transform.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "vdec3/kernels.h"
#include "vdec3/vdec3.h"

namespace {

using vdec3::Kernels;

const Kernels& Portable() { return *vdec3::KernelsFor(Vdec3Implementation::kPortable); }
const Kernels* Simd() { return vdec3::KernelsFor(Vdec3Implementation::kSse2); }

#define REQUIRE_SIMD()                                         \
  if (!Simd()) GTEST_SKIP() << "no SSE2 kernels on this machine"

// Coefficient blocks as decoding makes them: sparse realistic ones, dense ones over the whole
// 16-bit range (which only corrupt streams produce), and single coefficients.
std::vector<int16_t> RandomBlock(std::mt19937& rng, int kind) {
  std::vector<int16_t> b(64, 0);
  std::uniform_int_distribution<int> pos(0, 63);
  switch (kind % 3) {
    case 0:
      for (int i = 0; i < 6; ++i) b[pos(rng)] = static_cast<int16_t>(std::uniform_int_distribution<int>(-300, 300)(rng));
      b[0] = static_cast<int16_t>(std::uniform_int_distribution<int>(0, 2040)(rng));
      break;
    case 1:
      for (auto& c : b) c = static_cast<int16_t>(std::uniform_int_distribution<int>(-32768, 32767)(rng));
      break;
    default:
      b[pos(rng)] = static_cast<int16_t>(std::uniform_int_distribution<int>(-32768, 32767)(rng));
  }
  return b;
}

TEST(Vdec3Kernels, InverseTransformMatchesPortable) {
  REQUIRE_SIMD();
  std::mt19937 rng(1);
  for (int n = 0; n < 3000; ++n) {
    const std::vector<int16_t> block = RandomBlock(rng, n);
    for (bool add : {false, true}) {
      uint8_t ref[8 * 16], simd[8 * 16];
      for (auto& p : ref) p = static_cast<uint8_t>(rng());
      std::memcpy(simd, ref, sizeof ref);
      std::vector<int16_t> a = block, b = block;
      (add ? Portable().idct_add : Portable().idct_put)(a.data(), ref, 16);
      (add ? Simd()->idct_add : Simd()->idct_put)(b.data(), simd, 16);
      ASSERT_EQ(0, std::memcmp(ref, simd, sizeof ref)) << "block " << n << (add ? " add" : " put");
    }
  }
}

TEST(Vdec3Kernels, DcShortcutEqualsFullTransform) {
  std::vector<const Kernels*> all = {&Portable()};
  if (Simd()) all.push_back(Simd());
  for (const Kernels* k : all) {
    for (int dc = -32768; dc <= 32767; dc += 7) {
      for (bool add : {false, true}) {
        uint8_t full[64], shortcut[64];
        for (int i = 0; i < 64; ++i) full[i] = shortcut[i] = static_cast<uint8_t>(i * 37);
        int16_t block[64] = {};
        block[0] = static_cast<int16_t>(dc);
        (add ? k->idct_add : k->idct_put)(block, full, 8);
        (add ? k->dc_add : k->dc_put)(dc, shortcut, 8);
        ASSERT_EQ(0, std::memcmp(full, shortcut, 64)) << "dc " << dc << (add ? " add" : " put");
      }
    }
  }
}

TEST(Vdec3Kernels, PredictionMatchesPortable) {
  REQUIRE_SIMD();
  std::mt19937 rng(2);
  constexpr ptrdiff_t kStride = 48;
  for (int n = 0; n < 200; ++n) {
    std::vector<uint8_t> src(kStride * 20);
    for (auto& p : src) p = static_cast<uint8_t>(rng());
    for (int mode = 0; mode < 4; ++mode) {
      for (int size : {16, 8}) {
        std::vector<uint8_t> a(kStride * 16, 0), b(kStride * 16, 0);
        const auto& pk = size == 16 ? Portable().predict16 : Portable().predict8;
        const auto& sk = size == 16 ? Simd()->predict16 : Simd()->predict8;
        pk[mode](a.data(), src.data() + 3, kStride);
        sk[mode](b.data(), src.data() + 3, kStride);
        ASSERT_EQ(a, b) << "mode " << mode << " size " << size;
      }
    }
  }
}

// Planes that reach both filter modes: flat areas with steps at block edges, gentle ramps and
// noise.
std::vector<uint8_t> FilterPlane(std::mt19937& rng, int w, int h) {
  std::vector<uint8_t> p(static_cast<size_t>(w) * h);
  const int kind = static_cast<int>(rng() % 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int v;
      if (kind == 0) {
        v = 100 + ((x / 8 + y / 8) % 2) * static_cast<int>(rng() % 12) + static_cast<int>(rng() % 2);
      } else if (kind == 1) {
        v = (x * 3 + y * 2) / 4 + ((x % 8 == 0) ? static_cast<int>(rng() % 9) : 0);
      } else {
        v = static_cast<int>(rng() % 256);
      }
      p[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(std::clamp(v, 0, 255));
    }
  return p;
}

TEST(Vdec3Kernels, PostFilterMatchesPortable) {
  REQUIRE_SIMD();
  std::mt19937 rng(3);
  for (int n = 0; n < 400; ++n) {
    const int w = 8 * (2 + static_cast<int>(rng() % 6)), h = 8 * (2 + static_cast<int>(rng() % 4));
    const int qp = 1 + static_cast<int>(rng() % 31);
    const std::vector<uint8_t> plane = FilterPlane(rng, w, h);
    for (bool vertical : {true, false}) {
      std::vector<uint8_t> a = plane, b = plane;
      (vertical ? Portable().filter_vertical_edges : Portable().filter_horizontal_edges)(a.data(), w, w, h, qp);
      (vertical ? Simd()->filter_vertical_edges : Simd()->filter_horizontal_edges)(b.data(), w, w, h, qp);
      ASSERT_EQ(a, b) << "case " << n << (vertical ? " vertical" : " horizontal") << " edges, qp " << qp;
    }
  }
}

TEST(Vdec3Kernels, Yuy2RowMatchesPortable) {
  REQUIRE_SIMD();
  std::mt19937 rng(4);
  for (int width : {16, 48, 720}) {
    std::vector<uint8_t> y(width), cb(width / 2), cr(width / 2);
    for (auto& v : y) v = static_cast<uint8_t>(rng());
    for (auto& v : cb) v = static_cast<uint8_t>(rng());
    for (auto& v : cr) v = static_cast<uint8_t>(rng());
    std::vector<uint8_t> a(2 * width), b(2 * width);
    Portable().yuy2_row(y.data(), cb.data(), cr.data(), a.data(), width);
    Simd()->yuy2_row(y.data(), cb.data(), cr.data(), b.data(), width);
    ASSERT_EQ(a, b);
  }
}

}  // namespace

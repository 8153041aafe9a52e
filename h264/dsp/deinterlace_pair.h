// One pixel pair of the deinterlacing kernel (see DeinterlaceRowFn), shared by the portable
// kernel and the scalar edges of the SIMD ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// Internal linkage on purpose: this header is compiled into the AVX2 sources too (with -mavx2),
// and an inline function shared across them could be resolved to the AVX2 copy on any processor.
namespace kestrel::h264::dsp {
namespace {

inline constexpr int kDeintTextureLimit = 44;
inline constexpr int kDeintMotionTextured = 130;
inline constexpr int kDeintMotionFlat = 40;
inline constexpr int kDeintStaticCount = 2;  // static for more pictures than this: blend

struct DeintRows {
  const uint8_t* c[4];  // current rows 2k .. 2k + 3
  const uint8_t* p[4];  // previous picture, same rows
  DeintRows(const uint8_t* cur, ptrdiff_t cs, const uint8_t* prev, ptrdiff_t ps)
      : c{cur, cur + cs, cur + 2 * cs, cur + 3 * cs}, p{prev, prev + ps, prev + 2 * ps, prev + 3 * ps} {}
};

inline int DeintTexture(const uint8_t* row, const uint8_t* same_parity_next, int x) {
  return std::abs(row[x] - same_parity_next[x]) + std::abs(row[x] - row[x + 1]);
}

// Edge-directed interpolation between a (row above) and b (row below) at column j.
inline uint8_t DeintDirectional(const uint8_t* a, const uint8_t* b, int j) {
  const int g = std::abs(a[j + 1] - b[j - 1]);
  const int h = std::abs(a[j] - b[j]);
  const int d = std::abs(a[j - 1] - b[j + 1]);
  const int dir = d < (g < h ? g : h) ? 1 : (g < h ? -1 : 0);
  return static_cast<uint8_t>((a[j - dir] + b[j + dir] + 1) >> 1);
}

// Pair (x, x + 1): updates its counter and writes its two output pixels; border pairs (the first
// and the last of the row) copy row 2k.
inline void DeinterlacePair(const DeintRows& r, uint8_t* out, uint8_t* motion, int x, int width) {
  const uint8_t *c0 = r.c[0], *c1 = r.c[1], *c2 = r.c[2], *c3 = r.c[3];
  const uint8_t *p0 = r.p[0], *p1 = r.p[1], *p2 = r.p[2], *p3 = r.p[3];
  const bool textured = DeintTexture(c1, c3, x) > kDeintTextureLimit || DeintTexture(c0, c2, x) > kDeintTextureLimit ||
                        DeintTexture(p1, p3, x) > kDeintTextureLimit || DeintTexture(p0, p2, x) > kDeintTextureLimit;
  const int limit = textured ? kDeintMotionTextured : kDeintMotionFlat;
  const int odd = c1[x] + c1[x + 1] + c3[x] + c3[x + 1] - p1[x] - p1[x + 1] - p3[x] - p3[x + 1];
  const int even = c0[x] + c0[x + 1] + c2[x] + c2[x + 1] - p0[x] - p0[x + 1] - p2[x] - p2[x + 1];
  const bool still = std::abs(odd) < limit && std::abs(even) < limit;
  int count = motion[x];
  const bool border = x == 0 || x + 2 >= width;
  if (still && count > kDeintStaticCount) {
    out[x] = static_cast<uint8_t>((c1[x] + p1[x] + 1) >> 1);
    out[x + 1] = static_cast<uint8_t>((c1[x + 1] + p1[x + 1] + 1) >> 1);
  } else {
    count = still ? count + 1 : 0;
    if (!border) {
      out[x] = DeintDirectional(c0, c2, x);
      out[x + 1] = DeintDirectional(c0, c2, x + 1);
    }
  }
  if (border) {
    out[x] = c0[x];
    out[x + 1] = c0[x + 1];
  }
  motion[x] = motion[x + 1] = static_cast<uint8_t>(count);
}

}  // namespace
}  // namespace kestrel::h264::dsp

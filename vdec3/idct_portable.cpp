// The codec's 8x8 integer inverse transform, rows then columns, exact to the bit.
#include <algorithm>

#include "vdec3/kernels.h"

namespace vdec3::portable {
namespace {

constexpr int c1 = 2841, c2 = 2676, c3 = 2408, c4 = 2048, c5 = 1609, c6 = 1108, c7 = 565;

// One 8-point pass; x and y may be strided.
inline void Pass(const int16_t* x, ptrdiff_t xs, int32_t* y) {
  const int32_t x0 = x[0], x1 = x[xs], x2 = x[2 * xs], x3 = x[3 * xs];
  const int32_t x4 = x[4 * xs], x5 = x[5 * xs], x6 = x[6 * xs], x7 = x[7 * xs];
  const int32_t e0 = c4 * (x0 + x4) + c2 * x2 + c6 * x6;
  const int32_t e1 = c4 * (x0 - x4) + c6 * x2 - c2 * x6;
  const int32_t e2 = c4 * (x0 - x4) - c6 * x2 + c2 * x6;
  const int32_t e3 = c4 * (x0 + x4) - c2 * x2 - c6 * x6;
  const int32_t o0 = c1 * x1 + c3 * x3 + c5 * x5 + c7 * x7;
  const int32_t o1 = c3 * x1 - c7 * x3 - c1 * x5 - c5 * x7;
  const int32_t o2 = c5 * x1 - c1 * x3 + c7 * x5 + c3 * x7;
  const int32_t o3 = c7 * x1 - c5 * x3 + c3 * x5 - c1 * x7;
  y[0] = e0 + o0;
  y[7] = e0 - o0;
  y[1] = e1 + o1;
  y[6] = e1 - o1;
  y[2] = e2 + o2;
  y[5] = e2 - o2;
  y[3] = e3 + o3;
  y[4] = e3 - o3;
}

// Leaves the residual or sample values (before clipping) in block.
void Transform(int16_t* block) {
  int32_t y[8];
  for (int r = 0; r < 8; ++r) {
    int16_t* row = block + 8 * r;
    bool zero = true;
    for (int k = 0; k < 8; ++k) zero &= row[k] == 0;
    if (zero) continue;  // a zero row transforms to zeros
    Pass(row, 1, y);
    for (int k = 0; k < 8; ++k) row[k] = static_cast<int16_t>((y[k] + 256) >> 9);
  }
  for (int c = 0; c < 8; ++c) {
    Pass(block + c, 8, y);
    for (int k = 0; k < 8; ++k) block[8 * k + c] = static_cast<int16_t>((y[k] + 32768) >> 16);
  }
}

inline uint8_t Clip(int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }

}  // namespace

void IdctPut(int16_t* block, uint8_t* dst, ptrdiff_t stride) {
  Transform(block);
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 8; ++c) dst[r * stride + c] = Clip(block[8 * r + c]);
}

void IdctAdd(int16_t* block, uint8_t* dst, ptrdiff_t stride) {
  Transform(block);
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 8; ++c) dst[r * stride + c] = Clip(dst[r * stride + c] + block[8 * r + c]);
}

// A DC-only block: the row pass gives 4 * dc (kept to 16 bits) in row 0, the column pass
// (2048 * t + 32768) >> 16 = (t + 16) >> 5 everywhere.
void DcPut(int dc, uint8_t* dst, ptrdiff_t stride) {
  const int t = static_cast<int16_t>(4 * dc);
  const uint8_t v = Clip((t + 16) >> 5);
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 8; ++c) dst[r * stride + c] = v;
}

void DcAdd(int dc, uint8_t* dst, ptrdiff_t stride) {
  const int t = static_cast<int16_t>(4 * dc);
  const int v = (t + 16) >> 5;
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 8; ++c) dst[r * stride + c] = Clip(dst[r * stride + c] + v);
}

}  // namespace vdec3::portable

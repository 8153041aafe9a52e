// The MPEG-4 Part 2 informative deblocking filter (ISO/IEC 14496-2 F.3.1) as this codec runs it
// after decoding: in place, each edge seeing the pixels the edges before it left.
#include <algorithm>
#include <cstdlib>

#include "vdec3/kernels.h"

namespace vdec3::portable {
namespace {

// v[0..9] across one edge (between v[4] and v[5]), strided.
struct Line {
  uint8_t* p;
  ptrdiff_t step;
  int operator[](int i) const { return p[i * step]; }
  void Set(int i, int value) { p[i * step] = static_cast<uint8_t>(value); }
};

int FlatPairs(const Line& v) {
  int n = 0;
  for (int i = 1; i < 8; ++i) n += std::abs(v[i] - v[i + 1]) <= 1;
  return n;
}

// The 9-tap (1, 1, 2, 2, 4, 2, 2, 1, 1) smoothing of v1..v8 between the end values p0 and p9.
void Smooth(Line v, int p0, int p9) {
  int s[10];
  s[0] = p0;
  for (int i = 1; i <= 8; ++i) s[i] = v[i];
  s[9] = p9;
  static constexpr int kTaps[9] = {1, 1, 2, 2, 4, 2, 2, 1, 1};
  int out[9];
  for (int k = 1; k <= 8; ++k) {
    int sum = 8;
    for (int j = -4; j <= 4; ++j) sum += kTaps[j + 4] * s[std::clamp(k + j, 0, 9)];
    out[k] = sum >> 4;
  }
  for (int k = 1; k <= 8; ++k) v.Set(k, out[k]);
}

void DefaultFilter(Line v, int qp) {
  const int a = (v[4] - v[5]) / 2;
  if (a == 0) return;
  const int a0 = 2 * (v[3] - v[6]) - 5 * (v[4] - v[5]);
  const bool opposite = (a0 < 0 && a > 0) || (a0 > 0 && a < 0);
  if (!opposite || std::abs(a0) >= 8 * qp) return;
  const int a1 = 5 * (v[3] - v[2]) + 2 * (v[1] - v[4]);
  const int a2 = 5 * (v[7] - v[6]) + 2 * (v[5] - v[8]);
  const int d = std::abs(a0) - std::min(std::abs(a1), std::abs(a2));
  if (d <= 6) return;
  const int c = std::min((5 * d + 32) >> 6, std::abs(a));
  if (v[4] > v[5]) {
    v.Set(4, v[4] - c);
    v.Set(5, v[5] + c);
  } else {
    v.Set(4, v[4] + c);
    v.Set(5, v[5] - c);
  }
}

}  // namespace

void FilterVerticalEdges(uint8_t* plane, ptrdiff_t stride, int width, int height, int qp) {
  for (int y = 0; y < height; y += 4) {
    for (int x = 8; x < width; x += 8) {
      Line rows[4];
      int flat = 0;
      for (int i = 0; i < 4; ++i) {
        rows[i] = Line{plane + (y + i) * stride + x - 5, 1};
        flat += FlatPairs(rows[i]);
      }
      if (flat >= 16) {
        if (std::abs(rows[0][1] - rows[0][8]) >= 2 * qp) continue;
        for (Line& v : rows) {
          const int p0 = std::abs(v[0] - v[1]) < qp ? v[0] : v[1];
          const int p9 = std::abs(v[9] - v[8]) < qp ? v[9] : v[8];
          Smooth(v, p0, p9);
        }
      } else {
        for (Line& v : rows) DefaultFilter(v, qp);
      }
    }
  }
}

void FilterHorizontalEdges(uint8_t* plane, ptrdiff_t stride, int width, int height, int qp) {
  for (int y = 8; y < height; y += 8) {
    for (int x = 0; x < width; x += 8) {
      Line columns[8];
      int flat = 0;
      for (int i = 0; i < 8; ++i) {
        columns[i] = Line{plane + (y - 5) * stride + x + i, stride};
        flat += FlatPairs(columns[i]);
      }
      if (flat > 32) {
        bool smooth = true;
        for (const Line& v : columns) smooth &= std::abs(v[1] - v[8]) <= 2 * qp;
        if (!smooth) continue;
        for (Line& v : columns) {
          const int p0 = std::abs(v[0] - v[1]) <= qp ? v[0] : v[1];
          const int p9 = std::abs(v[9] - v[8]) <= qp ? v[9] : v[8];
          Smooth(v, p0, p9);
        }
      } else {
        for (Line& v : columns) DefaultFilter(v, qp);
      }
    }
  }
}

}  // namespace vdec3::portable

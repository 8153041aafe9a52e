// Portable deinterlacing kernel: rebuilds the odd output row of one row pair of a field-coded
// picture from the current and the previous source picture, with a per-pixel-pair motion history.
#include <cstdlib>
#include <cstring>

#include "h264/dsp/kernel_sets.h"

namespace kestrel::h264::dsp {
namespace {

constexpr int kTextureLimit = 44;
constexpr int kMotionTextured = 130;
constexpr int kMotionFlat = 40;
constexpr int kStaticCount = 2;  // a pair must be static for more pictures than this to blend

inline int Texture(const uint8_t* row, const uint8_t* same_parity_next, int x) {
  return std::abs(row[x] - same_parity_next[x]) + std::abs(row[x] - row[x + 1]);
}

// Edge-directed interpolation between a (row above) and b (row below) at column j.
inline uint8_t Directional(const uint8_t* a, const uint8_t* b, int j) {
  const int g = std::abs(a[j + 1] - b[j - 1]);
  const int h = std::abs(a[j] - b[j]);
  const int d = std::abs(a[j - 1] - b[j + 1]);
  const int dir = d < (g < h ? g : h) ? 1 : (g < h ? -1 : 0);
  return static_cast<uint8_t>((a[j - dir] + b[j + dir] + 1) >> 1);
}

void DeinterlaceRow(uint8_t* out, const uint8_t* cur, ptrdiff_t cur_stride, const uint8_t* prev,
                    ptrdiff_t prev_stride, uint8_t* motion, int width) {
  const uint8_t* c0 = cur;  // rows 2k .. 2k + 3
  const uint8_t* c1 = cur + cur_stride;
  const uint8_t* c2 = cur + 2 * cur_stride;
  const uint8_t* c3 = cur + 3 * cur_stride;
  const uint8_t* p0 = prev;
  const uint8_t* p1 = prev + prev_stride;
  const uint8_t* p2 = prev + 2 * prev_stride;
  const uint8_t* p3 = prev + 3 * prev_stride;
  for (int x = 0; x < width; x += 2) {
    const bool textured = Texture(c1, c3, x) > kTextureLimit || Texture(c0, c2, x) > kTextureLimit ||
                          Texture(p1, p3, x) > kTextureLimit || Texture(p0, p2, x) > kTextureLimit;
    const int limit = textured ? kMotionTextured : kMotionFlat;
    const int odd = c1[x] + c1[x + 1] + c3[x] + c3[x + 1] - p1[x] - p1[x + 1] - p3[x] - p3[x + 1];
    const int even = c0[x] + c0[x + 1] + c2[x] + c2[x + 1] - p0[x] - p0[x + 1] - p2[x] - p2[x + 1];
    const bool still = std::abs(odd) < limit && std::abs(even) < limit;
    int count = motion[x];
    if (still && count > kStaticCount) {
      out[x] = static_cast<uint8_t>((c1[x] + p1[x] + 1) >> 1);
      out[x + 1] = static_cast<uint8_t>((c1[x + 1] + p1[x + 1] + 1) >> 1);
    } else {
      count = still ? count + 1 : 0;
      // the border pixels are overwritten below; Directional must not look outside the row
      if (x > 0 && x + 2 < width) {
        out[x] = Directional(c0, c2, x);
        out[x + 1] = Directional(c0, c2, x + 1);
      }
    }
    motion[x] = motion[x + 1] = static_cast<uint8_t>(count);
  }
  std::memcpy(out, c0, 2);
  std::memcpy(out + width - 2, c0 + width - 2, 2);
}

}  // namespace

void InitDeinterlacePortable(KernelTable& t) { t.deinterlace_row = DeinterlaceRow; }

}  // namespace kestrel::h264::dsp

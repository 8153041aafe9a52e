// The deinterlacing kernel of one row pair: motion history, blending of static pixels and the
// edge-directed interpolation of moving ones.
#include <algorithm>
#include <array>
#include <cstdlib>
#include <vector>

#include "tests/h264/dsp/kernel_test_support.h"

namespace kestrel::h264::dsp::test {
namespace {

struct Rows {
  int width;
  std::vector<uint8_t> cur, prev;  // four rows each: 2k .. 2k + 3
  std::vector<uint8_t> motion;
  Rows(int w) : width(w), cur(4 * w), prev(4 * w), motion(w) {}
  int c(int r, int x) const { return cur[r * width + x]; }
  int p(int r, int x) const { return prev[r * width + x]; }
};

// The rules as stated for the decoder's deinterlaced output, one pixel pair at a time.
std::vector<uint8_t> TextbookRow(Rows& r) {
  std::vector<uint8_t> out(r.width);
  const auto texture = [&](auto row, int a, int b, int x) {
    return std::abs(row(a, x) - row(b, x)) + std::abs(row(a, x) - row(a, x + 1));
  };
  const auto cr = [&](int row, int x) { return r.c(row, x); };
  const auto pr = [&](int row, int x) { return r.p(row, x); };
  for (int x = 0; x < r.width; x += 2) {
    const bool textured = texture(cr, 1, 3, x) > 44 || texture(cr, 0, 2, x) > 44 ||
                          texture(pr, 1, 3, x) > 44 || texture(pr, 0, 2, x) > 44;
    const int t = textured ? 130 : 40;
    int odd = 0, even = 0;
    for (int j = x; j < x + 2; ++j) {
      odd += r.c(1, j) + r.c(3, j) - r.p(1, j) - r.p(3, j);
      even += r.c(0, j) + r.c(2, j) - r.p(0, j) - r.p(2, j);
    }
    const bool still = std::abs(odd) < t && std::abs(even) < t;
    int counter = r.motion[x];
    bool blend = false;
    if (still && counter > 2) blend = true;
    else if (still) ++counter;
    else counter = 0;
    for (int j = x; j < x + 2; ++j) {
      if (j < 2 || j >= r.width - 2) {
        out[j] = static_cast<uint8_t>(r.c(0, j));
      } else if (blend) {
        out[j] = static_cast<uint8_t>((r.c(1, j) + r.p(1, j) + 1) >> 1);
      } else {
        const int g = std::abs(r.c(0, j + 1) - r.c(2, j - 1));
        const int h = std::abs(r.c(0, j) - r.c(2, j));
        const int d = std::abs(r.c(0, j - 1) - r.c(2, j + 1));
        const int dir = d < std::min(g, h) ? 1 : g < h ? -1 : 0;
        out[j] = static_cast<uint8_t>((r.c(0, j - dir) + r.c(2, j + dir) + 1) >> 1);
      }
    }
    r.motion[x] = r.motion[x + 1] = static_cast<uint8_t>(counter);
  }
  return out;
}

class Deinterlace : public EachKernelSet {};

TEST_P(Deinterlace, MatchesTheRulesOnRandomPictures) {
  for (int iter = 0; iter < 600; ++iter) {
    const int width = std::array{4, 6, 16, 34, 64, 176, 720}[iter % 7];
    Rows r(width);
    const int spread = std::array{255, 30, 8, 0}[iter % 4];  // from busy to static pictures
    for (int i = 0; i < 4 * width; ++i) {
      r.cur[i] = static_cast<uint8_t>(Rand(0, 255));
      r.prev[i] = static_cast<uint8_t>(std::clamp(r.cur[i] + Rand(-spread, spread), 0, 255));
    }
    for (int x = 0; x < width; x += 2) r.motion[x] = r.motion[x + 1] = static_cast<uint8_t>(iter % 9 == 0 ? Rand(0, 255) : Rand(0, 3));
    Rows kr = r;
    const std::vector<uint8_t> want = TextbookRow(r);
    std::vector<uint8_t> out(width + 2, 0xEE);
    k().deinterlace_row(out.data(), kr.cur.data(), width, kr.prev.data(), width, kr.motion.data(), width);
    ASSERT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + width), want) << "width " << width << " iter " << iter;
    ASSERT_EQ(out[width], 0xEE);
    ASSERT_EQ(kr.motion, r.motion) << "width " << width << " iter " << iter;
  }
}

TEST_P(Deinterlace, StillPixelsBlendAfterThreeStaticPicturesAndMotionResets) {
  constexpr int w = 16;
  Rows r(w);
  for (int i = 0; i < 4 * w; ++i) r.cur[i] = r.prev[i] = static_cast<uint8_t>(100 + (i % w));
  for (int x = 0; x < w; ++x) r.cur[w + x] = 125, r.prev[w + x] = 115;  // the odd row changes a little
  std::vector<uint8_t> out(w);
  // rows 2k and 2k + 2 are equal: the interpolation gives row 2k back
  for (int pic = 0; pic < 5; ++pic) {
    k().deinterlace_row(out.data(), r.cur.data(), w, r.prev.data(), w, r.motion.data(), w);
    const int counter = std::min(pic + 1, 3);
    for (int x = 0; x < w; ++x) EXPECT_EQ(r.motion[x], counter) << pic;
    const bool blended = pic >= 3;
    for (int x = 2; x < w - 2; ++x) EXPECT_EQ(out[x], blended ? 120 : 100 + x) << "picture " << pic << " x " << x;
  }
  // a change of 40 in the even rows of a flat pair is motion: the counters drop to 0
  for (int x = 0; x < w; ++x) r.cur[x] = static_cast<uint8_t>(r.cur[x] + 20);
  k().deinterlace_row(out.data(), r.cur.data(), w, r.prev.data(), w, r.motion.data(), w);
  for (int x = 0; x < w; ++x) EXPECT_EQ(r.motion[x], 0);
}

KESTREL_EACH_KERNEL_SET(Deinterlace);

}  // namespace
}  // namespace kestrel::h264::dsp::test

// Encoder -> decoder round trips on real pictures: the decoder's pictures must equal the test
// encoder's own reconstruction (and its independently computed post-filter) exactly, for every
// quantiser, both implementations and every output format.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "tests/support/vdec3enc.h"
#include "tests/vdec3/vdec3_test_support.h"
#include "vdec3/vdec3.h"

namespace {

using vdec3enc::Picture;
using vdec3test::Difference;

// The output formats' definitions, applied to a planar picture.
struct FormatCase {
  Vdec3Format format;
  int bytes;
};
constexpr FormatCase kFormats[] = {
    {kVdec3FormatPlanar, 1}, {kVdec3FormatYuy2, 2},   {kVdec3FormatRgb32, 4},
    {kVdec3FormatRgb24, 3},  {kVdec3FormatRgb565, 2}, {kVdec3FormatRgb555, 2},
};

void Rgb(const Picture& p, int x, int y, double rgb[3]) {
  const double luma = p.Y(x, y), u = p.Chroma(0, x / 2, y / 2) - 128.0, v = p.Chroma(1, x / 2, y / 2) - 128.0;
  rgb[0] = std::clamp(luma + 1.402 * v, 0.0, 255.0);
  rgb[1] = std::clamp(luma - 0.344136 * u - 0.714136 * v, 0.0, 255.0);
  rgb[2] = std::clamp(luma + 1.772 * u, 0.0, 255.0);
}

// "" when `out` (rows of w * bytes at pitch w * bytes) holds picture p in that format.
std::string CheckFormat(const FormatCase& f, const Picture& p, const std::vector<uint8_t>& out) {
  const int w = p.width, h = p.height;
  const size_t pitch = static_cast<size_t>(w) * f.bytes;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const uint8_t* px = out.data() + y * pitch + static_cast<size_t>(x) * f.bytes;
      auto where = [x, y] { return "pixel (" + std::to_string(x) + ", " + std::to_string(y) + ")"; };
      switch (f.format) {
        case kVdec3FormatPlanar:
          if (px[0] != p.Y(x, y)) return where();
          break;
        case kVdec3FormatYuy2:
          if (px[0] != p.Y(x, y) || px[1] != p.Chroma(x % 2, x / 2, y / 2)) return where();
          break;
        case kVdec3FormatRgb32:
        case kVdec3FormatRgb24: {
          double rgb[3];
          Rgb(p, x, y, rgb);
          // B, G, R in memory
          for (int c = 0; c < 3; ++c)
            if (std::abs(px[c] - rgb[2 - c]) > 1.0) return where();
          if (f.format == kVdec3FormatRgb32 && px[3] != 0) return where();
          break;
        }
        default: {
          double rgb[3];
          Rgb(p, x, y, rgb);
          const unsigned word = px[0] | (px[1] << 8);
          const bool six = f.format == kVdec3FormatRgb565;
          const int fields[3] = {static_cast<int>(six ? word >> 11 : (word >> 10) & 31),
                                 static_cast<int>(six ? (word >> 5) & 63 : (word >> 5) & 31),
                                 static_cast<int>(word & 31)};
          const int bits[3] = {5, six ? 6 : 5, 5};
          for (int c = 0; c < 3; ++c) {
            const double expected = rgb[c] / (1 << (8 - bits[c]));
            if (std::abs(fields[c] - expected) > 1.0) return where();
          }
          if (!six && (word & 0x8000)) return where();
        }
      }
    }
  }
  if (f.format == kVdec3FormatPlanar) {
    const Picture decoded = vdec3test::FromPlanar(out, w, h);
    const std::string d = Difference(p, decoded);
    if (!d.empty()) return "planar " + d;
  }
  return "";
}

std::vector<int> Quantisers() {
  if (vdec3test::SanitizerRun()) return {1, 2, 5, 10, 17, 24, 25, 31};
  std::vector<int> all;
  for (int q = 1; q <= 31; ++q) all.push_back(q);
  return all;
}

class RoundTripTest : public ::testing::TestWithParam<vdec3test::Fixture> {};

TEST_P(RoundTripTest, EveryQuantiserImplementationAndFormat) {
  const vdec3test::Fixture fixture = GetParam();
  std::vector<Picture> sources;
  for (int i = 0; i < fixture.frames; ++i) sources.push_back(vdec3test::LoadFixture(fixture, i));
  ASSERT_FALSE(sources.back().y.empty()) << "fixture " << fixture.file << " missing";
  const int w16 = (fixture.width + 15) / 16 * 16, h16 = (fixture.height + 15) / 16 * 16;

  for (int q : Quantisers()) {
    // I, P, P: the encoder's reconstruction after each frame is what the decoder must show.
    vdec3enc::Encoder encoder(fixture.width, fixture.height);
    std::vector<std::vector<uint8_t>> frames;
    std::vector<Picture> expected;
    for (size_t i = 0; i < sources.size(); ++i) {
      vdec3enc::FrameOptions options;
      options.q = q;
      options.inter = i > 0;
      frames.push_back(encoder.Encode(sources[i], options));
      expected.push_back(encoder.reconstruction());
    }

    for (Vdec3Implementation impl : vdec3test::Implementations()) {
      for (bool filtered : {false, true}) {
        for (const FormatCase& f : kFormats) {
          SCOPED_TRACE(testing::Message() << fixture.file << " q " << q << " " << vdec3test::NameOf(impl)
                                          << (filtered ? " filtered" : " unfiltered") << " format "
                                          << f.format);
          vdec3test::Instance d = vdec3test::Create(impl, fixture.width, fixture.height);
          ASSERT_TRUE(d);
          vdec3_set_output(d.get(), w16 * f.bytes, Vdec3OutputFormatCode(f.format, f.bytes));
          for (size_t i = 0; i < frames.size(); ++i) {
            std::vector<uint8_t> out(static_cast<size_t>(w16) * h16 * 4, 0xEE);
            const uint32_t used = vdec3_decode(d.get(), frames[i].data(), out.data(),
                                               filtered ? 0 : kVdec3NoPostFilter);
            ASSERT_EQ(used, frames[i].size());
            const Picture want = filtered ? vdec3enc::PostFiltered(expected[i], q) : expected[i];
            const std::string bad = CheckFormat(f, want, out);
            ASSERT_EQ(bad, "") << "frame " << i;
          }
        }
      }
    }
  }
}

// The frames of the round trips above go through every path they are meant to cover.
TEST(RoundTripCoverage, SweepUsesEveryCodePath) {
  vdec3enc::EncoderStats seen;
  for (const vdec3test::Fixture& fixture : vdec3test::Fixtures()) {
    for (int q : Quantisers()) {
      vdec3enc::Encoder encoder(fixture.width, fixture.height);
      for (int i = 0; i < fixture.frames; ++i) {
        vdec3enc::FrameOptions options;
        options.q = q;
        options.inter = i > 0;
        encoder.Encode(vdec3test::LoadFixture(fixture, i), options);
        const auto& s = encoder.stats();
        seen.skipped += s.skipped;
        seen.intra += options.inter ? s.intra : 0;
        seen.inter += s.inter;
        seen.half_pel_vectors += s.half_pel_vectors;
        seen.ac_predicted_from_left += s.ac_predicted_from_left;
        seen.ac_predicted_from_top += s.ac_predicted_from_top;
        for (int m = 0; m < 3; ++m) seen.escapes[m] += s.escapes[m];
      }
    }
  }
  EXPECT_GT(seen.skipped, 0);
  EXPECT_GT(seen.inter, 0);
  EXPECT_GT(seen.intra, 0) << "no intra macroblock in a predicted frame";
  EXPECT_GT(seen.half_pel_vectors, 0);
  EXPECT_GT(seen.ac_predicted_from_left, 0);
  EXPECT_GT(seen.ac_predicted_from_top, 0);
  for (int m = 0; m < 3; ++m) EXPECT_GT(seen.escapes[m], 0) << "escape mode " << m + 1;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, RoundTripTest, ::testing::ValuesIn(vdec3test::Fixtures()),
                         [](const auto& info) {
                           std::string name = info.param.file;
                           return name.substr(0, name.find('_'));
                         });

}  // namespace

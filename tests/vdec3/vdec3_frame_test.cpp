// The frame layer: storage order, flat frames, refused frame words, the post-filter flag and the
// reference, output pitch and layout, sizes, and the entry table.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/vdec3enc.h"
#include "tests/vdec3/vdec3_test_support.h"
#include "vdec3/vdec3.h"

namespace {

using vdec3enc::Picture;
using vdec3test::DecodePlanar;
using vdec3test::Difference;

// Three encoded frames (I, P, P) of the first fixture with the encoder's reconstructions.
struct Sequence {
  int width = 176, height = 144;
  std::vector<std::vector<uint8_t>> frames;
  std::vector<Picture> pictures;
  int q = 7;
};

const Sequence& TestSequence() {
  static const Sequence s = [] {
    Sequence seq;
    const vdec3test::Fixture& f = vdec3test::Fixtures()[0];
    vdec3enc::Encoder encoder(f.width, f.height);
    for (int i = 0; i < f.frames; ++i) {
      vdec3enc::FrameOptions o;
      o.q = seq.q;
      o.inter = i > 0;
      seq.frames.push_back(encoder.Encode(vdec3test::LoadFixture(f, i), o));
      seq.pictures.push_back(encoder.reconstruction());
    }
    return seq;
  }();
  return s;
}

class FrameTest : public ::testing::TestWithParam<Vdec3Implementation> {
 protected:
  vdec3test::Instance New() { return vdec3test::Create(GetParam(), 176, 144); }
  Picture Decode(Vdec3Instance* d, const std::vector<uint8_t>& frame, uint32_t flags = kVdec3NoPostFilter,
                 uint32_t* result = nullptr) {
    return DecodePlanar(d, 176, 144, frame, flags, result);
  }
};

TEST_P(FrameTest, LittleEndianWordsGiveTheSamePictures) {
  const Sequence& s = TestSequence();
  auto big = New(), little = New();
  for (size_t i = 0; i < s.frames.size(); ++i) {
    uint32_t used_big = 0, used_little = 0;
    const Picture a = Decode(big.get(), s.frames[i], kVdec3NoPostFilter, &used_big);
    const Picture b = Decode(little.get(), vdec3enc::SwapWordOrder(s.frames[i]), kVdec3NoPostFilter, &used_little);
    EXPECT_EQ(used_big, s.frames[i].size());
    EXPECT_EQ(used_little, s.frames[i].size());
    EXPECT_EQ(Difference(s.pictures[i], a), "") << "frame " << i;
    EXPECT_EQ(Difference(a, b), "") << "frame " << i;
  }
}

TEST_P(FrameTest, FlatFrameFillsAndLeavesTheReference) {
  const Sequence& s = TestSequence();
  for (bool little : {false, true}) {
    auto d = New();
    Decode(d.get(), s.frames[0]);
    uint32_t used = 0;
    const Picture flat = Decode(d.get(), vdec3enc::Encoder::FlatFrame(16, little), kVdec3NoPostFilter, &used);
    EXPECT_EQ(used, 8u);
    EXPECT_EQ(Difference(Picture::Filled(176, 144, 16, 128), flat), "");
    // The next predicted frame still predicts from frame 0.
    EXPECT_EQ(Difference(s.pictures[1], Decode(d.get(), s.frames[1])), "");
  }
}

TEST_P(FrameTest, FlatFrameInEveryFormat) {
  struct Case {
    Vdec3Format format;
    int bytes;
    std::vector<uint8_t> pixel;  // one pixel (two for YUY2) of a flat picture of level 200
  };
  const Case cases[] = {
      {kVdec3FormatYuy2, 2, {200, 128}},
      {kVdec3FormatRgb32, 4, {200, 200, 200, 0}},
      {kVdec3FormatRgb24, 3, {200, 200, 200}},
      {kVdec3FormatRgb565, 2, {(0x19 | (0x19 << 6)) & 0xFF, (0x19 << 3) | (0x19 >> 2)}},
      {kVdec3FormatRgb555, 2, {(0x19 | (0x19 << 5)) & 0xFF, (0x19 << 2) | (0x19 >> 3)}},
  };
  for (const Case& c : cases) {
    auto d = New();
    vdec3_set_output(d.get(), 176 * c.bytes, Vdec3OutputFormatCode(c.format, c.bytes));
    std::vector<uint8_t> out(176 * 144 * 4 + 16, 0xEE);
    const auto frame = vdec3enc::Encoder::FlatFrame(200);
    EXPECT_EQ(vdec3_decode(d.get(), frame.data(), out.data(), 0), 8u);
    for (size_t i = 0; i < 176u * 144 * c.bytes; ++i)
      ASSERT_EQ(out[i], c.pixel[i % c.pixel.size()]) << "format " << c.format << " byte " << i;
    EXPECT_EQ(out[176 * 144 * c.bytes], 0xEE) << "format " << c.format << " wrote past the picture";
  }
}

TEST_P(FrameTest, RefusedFrameWordsChangeNothing) {
  const Sequence& s = TestSequence();
  auto with_word = [&](uint32_t word, bool little) {
    std::vector<uint8_t> f = s.frames[1];
    for (int b = 0; b < 4; ++b) f[b] = static_cast<uint8_t>(word >> (24 - 8 * b));
    return little ? vdec3enc::SwapWordOrder(f) : f;
  };
  const uint32_t good = static_cast<uint32_t>(s.frames[1].size()) | 3;
  struct Case {
    const char* what;
    std::vector<uint8_t> frame;
  };
  const Case cases[] = {
      {"bit 0 clear", with_word(good & ~1u, false)},
      {"bit 24 set", with_word(good | (1u << 24), false)},
      {"bit 24 set, little-endian", with_word(good | (1u << 24), true)},
      {"length 4", with_word(4 | 3, false)},
      {"little-endian length 0", with_word(3, true)},
  };
  for (const Case& c : cases) {
    auto d = New();
    Decode(d.get(), s.frames[0]);
    std::vector<uint8_t> out(176 * 144 * 3 / 2, 0x55);
    EXPECT_EQ(vdec3_decode(d.get(), c.frame.data(), out.data(), 0), 0u) << c.what;
    EXPECT_EQ(out, std::vector<uint8_t>(out.size(), 0x55)) << c.what;
    EXPECT_EQ(Difference(s.pictures[1], Decode(d.get(), s.frames[1])), "") << c.what;
  }
}

TEST_P(FrameTest, ReferenceIsUnfilteredWhateverTheFlags) {
  const Sequence& s = TestSequence();
  for (uint32_t flags : {0u, kVdec3NoPostFilter, kVdec3InternalLayout}) {
    auto d = New();
    std::vector<uint8_t> scratch(vdec3_internal_picture_size(176, 144));
    for (size_t i = 0; i < s.frames.size(); ++i) {
      std::vector<uint8_t> out(std::max(scratch.size(), size_t{176 * 144 * 3 / 2}));
      ASSERT_EQ(vdec3_decode(d.get(), s.frames[i].data(), out.data(), flags), s.frames[i].size());
      Picture got;
      if (flags == kVdec3InternalLayout) {
        // luma rows of 176 + 32 bytes from the left border, then the chroma rows (Cb half, Cr half)
        got = Picture::Filled(176, 144, 0, 0);
        const int p = 176 + 32;
        for (int y = 0; y < 144; ++y)
          for (int x = 0; x < 176; ++x) got.Y(x, y) = out[y * p + 16 + x];
        for (int y = 0; y < 72; ++y)
          for (int x = 0; x < 88; ++x) {
            got.Chroma(0, x, y) = out[144 * p + y * p + 8 + x];
            got.Chroma(1, x, y) = out[144 * p + y * p + 88 + 16 + 8 + x];
          }
      } else {
        got = vdec3test::FromPlanar(out, 176, 144);
      }
      const Picture want = flags == 0 ? vdec3enc::PostFiltered(s.pictures[i], s.q) : s.pictures[i];
      ASSERT_EQ(Difference(want, got), "") << "flags " << flags << " frame " << i;
    }
  }
}

TEST_P(FrameTest, RedisplayShowsTheLastPictureFiltered) {
  const Sequence& s = TestSequence();
  auto d = New();
  Decode(d.get(), s.frames[0]);
  Decode(d.get(), s.frames[1]);
  const Picture want = vdec3enc::PostFiltered(s.pictures[1], s.q);
  std::vector<uint8_t> scratch(vdec3_scratch_size(176, 144));
  for (uint8_t* sp : {scratch.data(), static_cast<uint8_t*>(nullptr)}) {
    std::vector<uint8_t> out(176 * 144 * 3 / 2);
    vdec3_redisplay(d.get(), sp, out.data());
    EXPECT_EQ(Difference(want, vdec3test::FromPlanar(out, 176, 144)), "") << (sp ? "scratch" : "own");
  }
  vdec3_redisplay(d.get(), nullptr, nullptr);  // no output: nothing to do
  // Redisplay leaves the reference alone.
  EXPECT_EQ(Difference(s.pictures[2], Decode(d.get(), s.frames[2])), "");
}

TEST_P(FrameTest, NegativePitchWritesBottomUp) {
  const Sequence& s = TestSequence();
  for (Vdec3Format format : {kVdec3FormatPlanar, kVdec3FormatRgb24}) {
    const int bytes = format == kVdec3FormatPlanar ? 1 : 3;
    auto up = New(), down = New();
    vdec3_set_output(up.get(), 176 * bytes, Vdec3OutputFormatCode(format, bytes));
    vdec3_set_output(down.get(), -176 * bytes, Vdec3OutputFormatCode(format, bytes));
    std::vector<uint8_t> a(176 * 144 * 3), b(176 * 144 * 3);
    vdec3_decode(up.get(), s.frames[0].data(), a.data(), 0);
    vdec3_decode(down.get(), s.frames[0].data(), b.data(), 0);
    // Each plane's rows in reverse order.
    struct PlaneSpan { size_t offset; int rows; size_t pitch; };
    std::vector<PlaneSpan> planes;
    if (format == kVdec3FormatPlanar) {
      planes = {{0, 144, 176}, {176 * 144, 72, 88}, {176 * 144 + 88 * 72, 72, 88}};
    } else {
      planes = {{0, 144, 176 * 3}};
    }
    for (const PlaneSpan& p : planes)
      for (int y = 0; y < p.rows; ++y)
        ASSERT_EQ(0, std::memcmp(a.data() + p.offset + y * p.pitch,
                                 b.data() + p.offset + (p.rows - 1 - y) * p.pitch, p.pitch))
            << "format " << format << " row " << y;
  }
}

TEST_P(FrameTest, SizesOutsideMultiplesOf16DecodeAtTheRoundedSize) {
  const Picture source = vdec3test::LoadFixture(vdec3test::Fixtures()[0], 0);
  struct Size { int w, h; };
  for (const Size size : {Size{2, 2}, Size{18, 34}, Size{100, 120}, Size{170, 30}}) {
    const Picture cropped = vdec3enc::Crop(source, size.w, size.h);
    vdec3enc::Encoder encoder(size.w, size.h);
    vdec3enc::FrameOptions options;
    options.q = 4;
    const auto i_frame = encoder.Encode(cropped, options);
    const Picture i_picture = encoder.reconstruction();
    options.inter = true;
    const auto p_frame = encoder.Encode(vdec3enc::Shifted(cropped, 1, 1), options);
    const int w16 = (size.w + 15) / 16 * 16, h16 = (size.h + 15) / 16 * 16;
    auto d = vdec3test::Create(GetParam(), size.w, size.h);
    ASSERT_TRUE(d);
    EXPECT_EQ(Difference(i_picture, DecodePlanar(d.get(), w16, h16, i_frame, kVdec3NoPostFilter)), "")
        << size.w << "x" << size.h;
    EXPECT_EQ(Difference(encoder.reconstruction(), DecodePlanar(d.get(), w16, h16, p_frame, kVdec3NoPostFilter)), "")
        << size.w << "x" << size.h;
  }
}

INSTANTIATE_TEST_SUITE_P(Implementations, FrameTest, ::testing::ValuesIn(vdec3test::Implementations()),
                         [](const auto& info) { return std::string(vdec3test::NameOf(info.param)); });

TEST(Vdec3Entries, InstancesOfBothImplementationsInOneProcess) {
  const Sequence& s = TestSequence();
  std::vector<vdec3test::Instance> instances;
  for (Vdec3Implementation impl : vdec3test::Implementations()) {
    instances.push_back(vdec3test::Create(impl, 176, 144));
    EXPECT_EQ(vdec3_implementation(instances.back().get()), impl);
  }
  // Interleaved decoding through the entry table.
  const Vdec3EntryTable& t = vdec3_entry_table();
  for (size_t i = 0; i < s.frames.size(); ++i)
    for (auto& d : instances) {
      std::vector<uint8_t> out(176 * 144 * 3 / 2);
      ASSERT_EQ(t.decode(d.get(), s.frames[i].data(), out.data(), kVdec3NoPostFilter), s.frames[i].size());
      EXPECT_EQ(Difference(s.pictures[i], vdec3test::FromPlanar(out, 176, 144)), "");
    }
}

TEST(Vdec3Entries, CallerMemoryAndRefusedSizes) {
  const Sequence& s = TestSequence();
  const size_t size = vdec3_memory_size(176, 144);
  ASSERT_GT(size, 0u);
  std::vector<uint8_t> memory(size);
  const Vdec3EntryTable& t = vdec3_entry_table();
  Vdec3Instance* d = t.create(176, 144, memory.data());
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(t.set_output(d, 176, kVdec3PlanarCode), d);
  std::vector<uint8_t> out(176 * 144 * 3 / 2);
  EXPECT_EQ(t.decode(d, s.frames[0].data(), out.data(), kVdec3NoPostFilter), s.frames[0].size());
  EXPECT_EQ(Difference(s.pictures[0], vdec3test::FromPlanar(out, 176, 144)), "");
  t.destroy(d);  // frees nothing: the memory is the caller's

  for (auto [w, h] : {std::pair{0, 16}, {16, -1}, {4081, 16}, {16, 4081}}) {
    EXPECT_EQ(vdec3_create(w, h, nullptr), nullptr) << w << "x" << h;
    EXPECT_EQ(vdec3_memory_size(w, h), 0u);
  }
}

TEST(Vdec3Entries, FormatsWithoutConverterWriteNothing) {
  const Sequence& s = TestSequence();
  for (uint32_t code : {0x000u, 0x701u}) {
    auto d = vdec3test::Create(Vdec3Implementation::kPortable, 176, 144);
    vdec3_set_output(d.get(), 176, code);
    std::vector<uint8_t> out(176 * 144 * 3 / 2, 0x33);
    EXPECT_EQ(vdec3_decode(d.get(), s.frames[0].data(), out.data(), 0), s.frames[0].size());
    EXPECT_EQ(out, std::vector<uint8_t>(out.size(), 0x33));
    // ... but the frame was decoded: the next one predicts from it.
    vdec3_set_output(d.get(), 176, kVdec3PlanarCode);
    EXPECT_EQ(Difference(s.pictures[1], DecodePlanar(d.get(), 176, 144, s.frames[1], kVdec3NoPostFilter)), "");
  }
}

}  // namespace

// Damaged input: random frames, bit flips in real frames, frames that end early. Every frame
// decodes without touching memory outside the frame and the decoder (the sanitizer build checks
// that), and both implementations give the same picture for it.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "tests/support/vdec3enc.h"
#include "tests/vdec3/vdec3_test_support.h"
#include "vdec3/vdec3.h"

namespace {

using vdec3test::Instance;

int Rounds() { return vdec3test::SanitizerRun() ? 60 : 400; }

// Decoders of every implementation fed the same frames; their outputs must agree.
class Lockstep {
 public:
  Lockstep(int width, int height) : w16_((width + 15) / 16 * 16), h16_((height + 15) / 16 * 16) {
    for (Vdec3Implementation impl : vdec3test::Implementations())
      decoders_.push_back(vdec3test::Create(impl, width, height));
  }

  // The frame is copied into a buffer of exactly its length field's size (at least 8 bytes).
  void Decode(const std::vector<uint8_t>& frame, uint32_t flags, const std::string& what) {
    std::vector<uint8_t> first;
    uint32_t first_result = 0;
    for (size_t i = 0; i < decoders_.size(); ++i) {
      std::unique_ptr<uint8_t[]> data(new uint8_t[frame.size()]);
      std::memcpy(data.get(), frame.data(), frame.size());
      std::vector<uint8_t> out(static_cast<size_t>(w16_) * h16_ * 3 / 2, 0);
      const uint32_t r = vdec3_decode(decoders_[i].get(), data.get(), out.data(), flags);
      ASSERT_LE(r, frame.size()) << what;
      if (i == 0) {
        first = out;
        first_result = r;
      } else {
        ASSERT_EQ(r, first_result) << what;
        ASSERT_EQ(out, first) << what << ": implementations disagree";
      }
    }
  }

 private:
  int w16_, h16_;
  std::vector<Instance> decoders_;
};

// The frame length a word 0 announces, whichever its storage order.
size_t AnnouncedLength(const std::vector<uint8_t>& f) {
  const uint32_t word = (f[0] & 1) ? (f[0] | f[1] << 8 | f[2] << 16 | uint32_t{f[3]} << 24)
                                   : (uint32_t{f[0]} << 24 | f[1] << 16 | f[2] << 8 | f[3]);
  return word & 0x3FFFC;
}

TEST(Vdec3Robustness, RandomFrames) {
  std::mt19937 rng(11);
  for (auto [w, h] : {std::pair{176, 144}, {40, 24}}) {
    Lockstep decoders(w, h);
    for (int n = 0; n < Rounds(); ++n) {
      const size_t length = 8 + 4 * (rng() % 600);
      std::vector<uint8_t> f(length);
      for (auto& b : f) b = static_cast<uint8_t>(rng());
      const uint32_t word = static_cast<uint32_t>(length) | 1u | (rng() % 2 ? 2u : 0u) |
                            (static_cast<uint32_t>(rng()) & 0xFEFC0000u);
      for (int b = 0; b < 4; ++b) f[b] = static_cast<uint8_t>(word >> (24 - 8 * b));
      if (rng() % 2) f = vdec3enc::SwapWordOrder(f);
      decoders.Decode(f, rng() % 3 == 0 ? kVdec3NoPostFilter : 0, "random frame " + std::to_string(n));
    }
  }
}

TEST(Vdec3Robustness, BitFlippedFrames) {
  const vdec3test::Fixture& fx = vdec3test::Fixtures()[0];
  std::vector<std::vector<uint8_t>> frames;
  vdec3enc::Encoder encoder(fx.width, fx.height);
  for (int i = 0; i < fx.frames; ++i) {
    vdec3enc::FrameOptions o;
    o.q = 2 + 9 * i;
    o.inter = i > 0;
    frames.push_back(encoder.Encode(vdec3test::LoadFixture(fx, i), o));
  }
  std::mt19937 rng(12);
  Lockstep decoders(fx.width, fx.height);
  for (int n = 0; n < Rounds(); ++n) {
    std::vector<uint8_t> f = frames[n % frames.size()];
    const int flips = 1 + static_cast<int>(rng() % 8);
    for (int i = 0; i < flips; ++i) {
      // Mostly the bitstream; now and then word 0 as well.
      const size_t bit = rng() % 8 == 0 ? rng() % 32 : 32 + rng() % (8 * f.size() - 32);
      f[bit / 8] ^= static_cast<uint8_t>(0x80 >> (bit % 8));
    }
    // A length that grew is cut to what the buffer holds; the decoder reads no further.
    if (AnnouncedLength(f) > f.size()) f.resize(AnnouncedLength(f), 0);
    decoders.Decode(f, n % 2 ? kVdec3NoPostFilter : 0, "flipped frame " + std::to_string(n));
  }
}

// A frame whose length field ends before its macroblocks do reads zeros from there on: the
// bytes that follow it in memory make no difference.
TEST(Vdec3Robustness, FrameEndingEarlyReadsZerosAfterItsEnd) {
  const vdec3test::Fixture& fx = vdec3test::Fixtures()[0];
  vdec3enc::Encoder encoder(fx.width, fx.height);
  vdec3enc::FrameOptions o;
  o.q = 5;
  const std::vector<uint8_t> whole = encoder.Encode(vdec3test::LoadFixture(fx, 0), o);
  for (Vdec3Implementation impl : vdec3test::Implementations()) {
    for (size_t keep : {size_t{8}, size_t{64}, whole.size() / 2 / 4 * 4}) {
      std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(keep));
      cut[1] = static_cast<uint8_t>(keep >> 16);
      cut[2] = static_cast<uint8_t>(keep >> 8);
      cut[3] = static_cast<uint8_t>(keep | 1);
      std::vector<uint8_t> followed = cut;
      for (size_t i = 0; i < 256; ++i) followed.push_back(static_cast<uint8_t>(0xA5 ^ i));
      auto a = vdec3test::Create(impl, fx.width, fx.height), b = vdec3test::Create(impl, fx.width, fx.height);
      uint32_t ra = 0, rb = 0;
      const auto pa = vdec3test::DecodePlanar(a.get(), 176, 144, cut, 0, &ra);
      const auto pb = vdec3test::DecodePlanar(b.get(), 176, 144, followed, 0, &rb);
      EXPECT_EQ(ra, keep);
      EXPECT_EQ(rb, keep);
      EXPECT_EQ(vdec3test::Difference(pa, pb), "") << vdec3test::NameOf(impl) << " keep " << keep;
    }
  }
}

}  // namespace

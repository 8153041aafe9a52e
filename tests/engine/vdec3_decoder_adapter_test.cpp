// The engine's adapter for codec type 2: pictures land in the engine's Y, V, U layout cropped to
// the port's size, key frames' date-time bytes are stepped over, the fast flag skips the
// post-filter, damaged frames keep the previous picture.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/vdec3_decoder_adapter.h"
#include "engine/video_decoder.h"
#include "tests/support/vdec3enc.h"

namespace {

using kestrel::engine::DecodeRequest;
using kestrel::engine::VideoDecoder;
using vdec3enc::Picture;

const std::string kFixtures = std::string(KESTREL_SOURCE_DIR) + "/tests/vdec3/fixtures/";

// The engine's picture buffer content for a decoded picture: Y, then Cr, then Cb, cropped.
std::vector<uint8_t> EngineLayout(const Picture& p, int width, int height) {
  std::vector<uint8_t> out;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) out.push_back(p.Y(x, y));
  for (int plane : {1, 0})
    for (int y = 0; y < height / 2; ++y)
      for (int x = 0; x < width / 2; ++x) out.push_back(p.Chroma(plane, x, y));
  return out;
}

struct Port {
  int width, height;
  std::unique_ptr<VideoDecoder> decoder;
  std::vector<uint8_t> picture;
  Port(int w, int h) : width(w), height(h), picture(2 * static_cast<size_t>(w) * h, 0x80) {
    decoder = kestrel::engine::CreateVdec3VideoDecoder({static_cast<uint32_t>(w), static_cast<uint32_t>(h), 0x601});
  }
  uint32_t Decode(const std::vector<uint8_t>& payload, bool fast, bool key = false) {
    DecodeRequest r;
    r.payload = payload;
    r.keyFrame = key;
    r.picture = picture;
    r.width = static_cast<uint32_t>(width);
    r.height = static_cast<uint32_t>(height);
    r.fast = fast;
    return decoder->Decode(r);
  }
  std::vector<uint8_t> Shown() const {
    return {picture.begin(), picture.begin() + static_cast<std::ptrdiff_t>(width * height * 3 / 2)};
  }
};

std::vector<uint8_t> WithDateTime(const std::vector<uint8_t>& frame) {
  std::vector<uint8_t> p(4 + frame.size());
  const uint8_t date[4] = {0x4B, 0x21, 0x83, 0x05};  // a packed date-time
  std::memcpy(p.data(), date, 4);
  std::memcpy(p.data() + 4, frame.data(), frame.size());
  return p;
}

TEST(Vdec3DecoderAdapter, PicturesLandInTheEngineLayout) {
  struct Case { const char* file; int width, height; };
  for (const Case c : {Case{"testsrc2_176x144_3f.yuv", 176, 144}, Case{"mandelbrot_160x120_3f.yuv", 160, 120}}) {
    for (bool fast : {false, true}) {
      SCOPED_TRACE(std::string(c.file) + (fast ? " fast" : " filtered"));
      vdec3enc::Encoder encoder(c.width, c.height);
      Port port(c.width, c.height);
      ASSERT_TRUE(port.decoder);
      for (int i = 0; i < 3; ++i) {
        vdec3enc::FrameOptions o;
        o.q = 6;
        o.inter = i > 0;
        const auto frame = encoder.Encode(vdec3enc::LoadYuv420(kFixtures + c.file, c.width, c.height, i), o);
        // The key frame comes with its date-time in front, the others without.
        const uint32_t used = i == 0 ? port.Decode(WithDateTime(frame), fast, true) : port.Decode(frame, fast);
        EXPECT_EQ(used, frame.size());
        const Picture want = fast ? encoder.reconstruction() : vdec3enc::PostFiltered(encoder.reconstruction(), 6);
        ASSERT_EQ(port.Shown(), EngineLayout(want, c.width, c.height)) << "frame " << i;
        // Nothing beyond the picture.
        for (size_t b = c.width * c.height * 3 / 2; b < port.picture.size(); ++b) ASSERT_EQ(port.picture[b], 0x80);
      }
    }
  }
}

TEST(Vdec3DecoderAdapter, DamagedFramesKeepThePreviousPicture) {
  vdec3enc::Encoder encoder(176, 144);
  Port port(176, 144);
  vdec3enc::FrameOptions o;
  o.q = 9;
  const auto key = encoder.Encode(vdec3enc::LoadYuv420(kFixtures + "testsrc2_176x144_3f.yuv", 176, 144, 0), o);
  ASSERT_EQ(port.Decode(WithDateTime(key), false, true), key.size());
  const std::vector<uint8_t> shown = port.Shown();
  o.inter = true;
  const auto next = encoder.Encode(vdec3enc::LoadYuv420(kFixtures + "testsrc2_176x144_3f.yuv", 176, 144, 1), o);
  struct Case { const char* what; std::vector<uint8_t> payload; };
  std::vector<uint8_t> cut(next.begin(), next.begin() + static_cast<std::ptrdiff_t>(next.size() / 2));
  std::vector<uint8_t> bit24 = next;
  bit24[0] |= 1;
  std::vector<uint8_t> bit0 = next;
  bit0[3] &= 0xFE;
  for (const Case& c : {Case{"length beyond the payload", cut}, Case{"bit 24 set", bit24},
                        Case{"bit 0 clear", bit0}, Case{"empty", {}}}) {
    EXPECT_NE(port.Decode(c.payload, false), 0u) << c.what << ": playback goes on";
    EXPECT_EQ(port.Shown(), shown) << c.what;
  }
  // The reference is untouched too: the real next frame still decodes right.
  EXPECT_EQ(port.Decode(next, false), next.size());
  EXPECT_EQ(port.Shown(), EngineLayout(vdec3enc::PostFiltered(encoder.reconstruction(), 9), 176, 144));
}

TEST(Vdec3DecoderAdapter, KeyFrameDateThatReadsAsAFrameWord) {
  // Date bytes can look like a frame word announcing exactly the payload's length (a real
  // recorder date does, for a whole hour of every odd year); the header says key frame, so the
  // codec data starts after them all the same.
  vdec3enc::Encoder encoder(176, 144);
  vdec3enc::FrameOptions o;
  o.q = 6;
  const auto frame = encoder.Encode(vdec3enc::LoadYuv420(kFixtures + "testsrc2_176x144_3f.yuv", 176, 144, 0), o);
  const uint32_t size = static_cast<uint32_t>(frame.size() + 4);
  std::vector<uint8_t> payload(size);
  payload[0] = static_cast<uint8_t>((size & 0xFC) | 1);
  payload[1] = static_cast<uint8_t>(size >> 8);
  payload[2] = static_cast<uint8_t>((size >> 16) & 3);
  std::memcpy(payload.data() + 4, frame.data(), frame.size());
  Port port(176, 144);
  EXPECT_EQ(port.Decode(payload, false, true), frame.size());
  EXPECT_EQ(port.Shown(), EngineLayout(vdec3enc::PostFiltered(encoder.reconstruction(), 6), 176, 144));
}

TEST(Vdec3DecoderAdapter, FlatFrameGivesAUniformPicture) {
  Port port(176, 144);
  EXPECT_EQ(port.Decode(vdec3enc::Encoder::FlatFrame(16), false), 8u);
  EXPECT_EQ(port.Shown(), EngineLayout(Picture::Filled(176, 144, 16, 128), 176, 144));
}

TEST(Vdec3DecoderAdapter, RefusedSizesGiveNoDecoder) {
  for (auto [w, h] : {std::pair{0u, 144u}, {176u, 0u}, {5000u, 144u}})
    EXPECT_EQ(kestrel::engine::CreateVdec3VideoDecoder({w, h, 0x601}), nullptr) << w << "x" << h;
}

}  // namespace

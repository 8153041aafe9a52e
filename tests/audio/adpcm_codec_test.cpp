#include "audio/adpcm_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

#include "audio/audio_format_table.h"

namespace kestrel {
namespace {

std::vector<uint8_t> block(int16_t predictor, int32_t index, std::vector<uint8_t> codes) {
  std::vector<uint8_t> b(8 + codes.size());
  const auto p = static_cast<uint16_t>(predictor);
  const auto i = static_cast<uint32_t>(index);
  b[0] = static_cast<uint8_t>(p);
  b[1] = static_cast<uint8_t>(p >> 8);
  for (int k = 0; k < 4; ++k) b[4 + k] = static_cast<uint8_t>(i >> (8 * k));
  std::copy(codes.begin(), codes.end(), b.begin() + 8);
  return b;
}

std::vector<int16_t> decode(const std::vector<uint8_t>& b) {
  std::vector<int16_t> out(2 * b.size());
  const int32_t n = adpcm_decode(nullptr, b.data(), b.size(), out.data(), out.size());
  out.resize(static_cast<size_t>(std::max(n, 0)));
  return out;
}

std::vector<int16_t> sine(size_t n, double hz, double amplitude, double rate = 8000) {
  std::vector<int16_t> s(n);
  for (size_t k = 0; k < n; ++k) {
    s[k] = static_cast<int16_t>(std::lround(amplitude * std::sin(2 * std::numbers::pi * hz * k / rate)));
  }
  return s;
}

struct DecodeCase {
  const char* what;
  int16_t predictor;
  int32_t index;
  std::vector<uint8_t> codes;
  std::vector<int16_t> expected;
};

// Worked by hand from the IMA step and index tables.
TEST(AdpcmDecode, HandWorkedBlocks) {
  const DecodeCase cases[] = {
      // code 7 at step 7: 0 + 7 + 3 + 1 = 11, index 8 (step 16); code 0: 16 >> 3 = 2, index 7
      {"high nibble first, first sample already moved", 0, 0, {0x70}, {11, 13}},
      // step 337: code 0 adds 42, index 39 (step 307); code 8 subtracts 307 >> 3 = 38
      {"codes 0 and 8 move by step/8 and lower the index", 1000, 40, {0x08}, {1042, 1004}},
      // the difference uses the step before the index update: step 7 twice would give 11, 11
      {"difference uses the step current before the update", 0, 0, {0x77}, {11, 11 + 16 + 8 + 4 + 2}},
      {"run of 7 from 32000 stays at 32767", 32000, 88, {0x77, 0x77}, {32767, 32767, 32767, 32767}},
      {"run of 15 from -32000 stays at -32768", -32000, 60, {0xFF, 0xFF},
       {-32768, -32768, -32768, -32768}},
      {"index never drops below 0", 0, 0, {0x00, 0x00}, {0, 0, 0, 0}},
      {"predictor is sign-extended", -1, 0, {0x00}, {-1, -1}},
      // header index 200 is taken as 88, -5 as 0
      {"header index above 88 clamped", 0, 200, {0x10}, {4095 + 8191, 4095 + 8191 + 3724}},
      {"negative header index clamped", 0, -5, {0x70}, {11, 13}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(decode(block(c.predictor, c.index, c.codes)), c.expected) << c.what;
  }
}

TEST(AdpcmDecode, IndexStaysInRangeOnLongRuns) {
  // After 60 codes of 7 the index sits at 88; codes of 8 walk it back one per sample.
  std::vector<uint8_t> codes(30, 0x77);
  codes.resize(30 + 50, 0x88);
  const auto out = decode(block(0, 0, codes));
  ASSERT_EQ(out.size(), 160u);
  // at index 88 code 8 moves by 32767 >> 3 = 4095: from the clamp at 32767 down to 28672
  EXPECT_EQ(out[59], 32767);
  EXPECT_EQ(out[60], 32767 - 4095);
  // then 29794 >> 3 = 3724 (index 87)
  EXPECT_EQ(out[61], 32767 - 4095 - 3724);
}

TEST(AdpcmDecode, RecordingBlockGives320Samples) {
  std::mt19937 rng(7);
  std::vector<uint8_t> codes(160);
  for (auto& c : codes) c = static_cast<uint8_t>(rng());
  auto b = block(1234, 30, codes);
  ASSERT_EQ(b.size(), 168u);
  std::vector<int16_t> out(16000, 0x5A5A);
  EXPECT_EQ(adpcm_decode(nullptr, b.data(), b.size(), out.data(), out.size()), 320);
  EXPECT_EQ(out[320], 0x5A5A) << "wrote past the block's samples";
}

TEST(AdpcmDecode, ShortPayloadsDecodeToNothing) {
  std::vector<int16_t> out(16, 0x5A5A);
  for (size_t length : {0u, 1u, 8u}) {
    std::vector<uint8_t> b(8, 0x11);
    EXPECT_EQ(adpcm_decode(nullptr, b.data(), length, out.data(), out.size()), 0) << length;
  }
  EXPECT_EQ(adpcm_decode(nullptr, nullptr, 168, out.data(), out.size()), 0);
  EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](int16_t s) { return s == 0x5A5A; }));
}

TEST(AdpcmDecode, NeverWritesPastTheCallersBuffer) {
  // The engine's buffer holds 16000 samples, so blocks above 8008 bytes do not fit.
  struct Case {
    size_t length;
    size_t capacity;
    int32_t written;
  } cases[] = {{8008, 16000, 16000}, {8009, 16000, 16000}, {64832, 16000, 16000},
               {168, 100, 100},      {168, 101, 100},     {168, 1, 0}};
  for (const auto& c : cases) {
    std::vector<uint8_t> b(c.length, 0x3C);
    const size_t guard = 64;
    std::vector<int16_t> out(c.capacity + guard, 0x5A5A);
    EXPECT_EQ(adpcm_decode(nullptr, b.data(), b.size(), out.data(), c.capacity), c.written)
        << c.length << " into " << c.capacity;
    EXPECT_TRUE(std::all_of(out.begin() + c.capacity, out.end(), [](int16_t s) { return s == 0x5A5A; }))
        << c.length << " into " << c.capacity;
  }
  // A cut block gives the same samples as the head of the whole block.
  std::vector<uint8_t> b = block(-300, 20, std::vector<uint8_t>(200, 0x9E));
  std::vector<int16_t> cut(50);
  ASSERT_EQ(adpcm_decode(nullptr, b.data(), b.size(), cut.data(), cut.size()), 50);
  const auto whole = decode(b);
  EXPECT_TRUE(std::equal(cut.begin(), cut.end(), whole.begin()));
}

TEST(AdpcmDecode, StatelessAcrossBlocksAndIgnoresUnusedBytes) {
  AdpcmCodec* codec = nullptr;
  ASSERT_EQ(adpcm_create(3, &codec), 0);
  codec->predictor = 999;
  codec->step_index = 50;

  std::mt19937 rng(11);
  std::vector<std::vector<uint8_t>> blocks;
  for (int k = 0; k < 3; ++k) {
    std::vector<uint8_t> codes(160);
    for (auto& c : codes) c = static_cast<uint8_t>(rng());
    blocks.push_back(block(static_cast<int16_t>(rng()), static_cast<int32_t>(rng() % 89), codes));
  }
  std::vector<std::vector<int16_t>> first;
  for (const auto& b : blocks) first.push_back(decode(b));
  // reverse order, through the codec and its decode pointer, with bytes 2..3 changed
  for (int k = 2; k >= 0; --k) {
    auto b = blocks[k];
    b[2] = 0xDE;
    b[3] = 0xAD;
    std::vector<int16_t> out(320);
    ASSERT_EQ(codec->decode(codec, b.data(), b.size(), out.data(), out.size()), 320);
    EXPECT_EQ(out, first[k]) << "block " << k;
  }
  EXPECT_EQ(codec->predictor, 999);
  EXPECT_EQ(codec->step_index, 50);
  EXPECT_EQ(adpcm_release(codec), 0);
}

TEST(AdpcmCodecObject, CreateAndRelease) {
  EXPECT_EQ(adpcm_create(1, nullptr), -1);
  EXPECT_EQ(adpcm_release(nullptr), -1);
  for (int32_t mode : {1, 3}) {
    AdpcmCodec* codec = nullptr;
    ASSERT_EQ(adpcm_create(mode, &codec), 0);
    ASSERT_NE(codec, nullptr);
    EXPECT_EQ(codec->mode, mode);
    EXPECT_EQ(codec->predictor, 0);
    EXPECT_EQ(codec->step_index, 0);
    EXPECT_EQ(codec->decode, &adpcm_decode);
    EXPECT_NE(codec->encode, nullptr);
    EXPECT_EQ(adpcm_release(codec), 0);
  }
}

TEST(AdpcmEncode, HeaderSizeAndStateCarry) {
  AdpcmCodec* codec = nullptr;
  ASSERT_EQ(adpcm_create(3, &codec), 0);
  const auto pcm = sine(640, 440, 12000);

  std::vector<uint8_t> first(168, 0xAB);
  ASSERT_EQ(adpcm_encode(codec, pcm.data(), 320, first.data(), first.size()), 168);
  EXPECT_EQ(first[0], 0);  // predictor 0, index 0 at creation
  EXPECT_EQ(first[2], 0xAB) << "bytes 2..3 are left alone";
  EXPECT_EQ(first[3], 0xAB);
  EXPECT_EQ(first[4], 0);

  // The codec holds the last reconstructed sample, and the next header carries it on.
  const auto decoded = decode(first);
  EXPECT_EQ(codec->predictor, decoded.back());
  const int16_t carried = codec->predictor;
  const int32_t carried_index = codec->step_index;
  std::vector<uint8_t> second(168);
  ASSERT_EQ(adpcm_encode(codec, pcm.data() + 320, 320, second.data(), second.size()), 168);
  EXPECT_EQ(static_cast<int16_t>(second[0] | second[1] << 8), carried);
  EXPECT_EQ(second[4], carried_index);

  // Two consecutive blocks decode to exactly what one long block of the same signal does.
  AdpcmCodec* whole_codec = nullptr;
  ASSERT_EQ(adpcm_create(3, &whole_codec), 0);
  std::vector<uint8_t> whole(8 + 320);
  ASSERT_EQ(adpcm_encode(whole_codec, pcm.data(), 640, whole.data(), whole.size()), 328);
  auto joined = decoded;
  const auto tail = decode(second);
  joined.insert(joined.end(), tail.begin(), tail.end());
  EXPECT_EQ(joined, decode(whole));

  // Sizes: 8 + ceil(n / 2); too small an output writes nothing.
  std::vector<uint8_t> out(16, 0xEE);
  EXPECT_EQ(adpcm_encode(codec, pcm.data(), 5, out.data(), 11), 11);
  EXPECT_EQ(out[10] & 0x0F, 0) << "odd count pads the last low nibble with 0";
  std::fill(out.begin(), out.end(), 0xEE);
  EXPECT_EQ(adpcm_encode(codec, pcm.data(), 6, out.data(), 10), 0);
  EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0xEE; }));
  EXPECT_EQ(adpcm_encode(codec, nullptr, 6, out.data(), out.size()), 0);
  EXPECT_EQ(adpcm_encode(nullptr, pcm.data(), 6, out.data(), out.size()), 0);

  adpcm_release(whole_codec);
  adpcm_release(codec);
}

TEST(AdpcmEncode, RoundTripFollowsTheSignal) {
  struct Case {
    double hz;
    double amplitude;
    double min_snr_db;
  } cases[] = {{300, 8000, 20}, {1000, 20000, 20}, {3000, 3000, 12}};
  for (const auto& c : cases) {
    AdpcmCodec* codec = nullptr;
    ASSERT_EQ(adpcm_create(3, &codec), 0);
    const auto pcm = sine(3200, c.hz, c.amplitude);
    std::vector<int16_t> decoded;
    for (size_t at = 0; at < pcm.size(); at += 320) {
      std::vector<uint8_t> b(168);
      ASSERT_EQ(adpcm_encode(codec, pcm.data() + at, 320, b.data(), b.size()), 168);
      const auto d = decode(b);
      decoded.insert(decoded.end(), d.begin(), d.end());
    }
    adpcm_release(codec);
    // skip the first block, where the step size is still growing
    double signal = 0, noise = 0;
    for (size_t k = 320; k < pcm.size(); ++k) {
      signal += double(pcm[k]) * pcm[k];
      noise += double(pcm[k] - decoded[k]) * (pcm[k] - decoded[k]);
    }
    EXPECT_GT(10 * std::log10(signal / std::max(noise, 1.0)), c.min_snr_db) << c.hz << " Hz";
  }
}

TEST(AdpcmEncode, MuLawModeExpandsItsInput) {
  struct {
    uint8_t code;
    int16_t linear;
  } expansions[] = {{0xFF, 0}, {0x7F, 0}, {0x80, 32124}, {0x00, -32124}, {0xFE, 8}, {0xEF, 132}};
  for (const auto& e : expansions) EXPECT_EQ(adpcm_mulaw_expand(e.code), e.linear) << int(e.code);

  std::vector<uint8_t> mulaw(320);
  std::vector<int16_t> linear(320);
  for (size_t k = 0; k < mulaw.size(); ++k) {
    mulaw[k] = static_cast<uint8_t>(k * 37);
    linear[k] = adpcm_mulaw_expand(mulaw[k]);
  }
  AdpcmCodec* m = nullptr;
  AdpcmCodec* l = nullptr;
  ASSERT_EQ(adpcm_create(1, &m), 0);
  ASSERT_EQ(adpcm_create(3, &l), 0);
  std::vector<uint8_t> a(168), b(168);
  ASSERT_EQ(m->encode(m, mulaw.data(), mulaw.size(), a.data(), a.size()), 168);
  ASSERT_EQ(l->encode(l, linear.data(), linear.size(), b.data(), b.size()), 168);
  EXPECT_EQ(a, b);
  adpcm_release(m);
  adpcm_release(l);
}

TEST(AudioFormatTable, RecordsAndPcmCopy) {
  AdpcmCodec* codec = nullptr;
  ASSERT_EQ(adpcm_create(1, &codec), 0);
  const AudioFormatTable table = make_audio_format_table(codec);
  const AudioFormat& adpcm = table[kAudioFormatAdpcm];
  EXPECT_EQ(adpcm.input_bytes, 168u);
  EXPECT_EQ(adpcm.output_bytes, 640u);
  EXPECT_EQ(adpcm.codec, codec);
  EXPECT_EQ(adpcm.decode, &adpcm_decode);
  EXPECT_EQ(table[0].input_bytes, 10u);
  EXPECT_EQ(table[1].input_bytes, 40u);
  EXPECT_EQ(table[0].decode, nullptr);
  EXPECT_EQ(table[1].codec, nullptr);

  const AudioFormat& pcm = table[3];
  EXPECT_EQ(pcm.input_bytes, 648u);
  ASSERT_NE(pcm.decode, nullptr);
  std::vector<uint8_t> payload(648);
  for (size_t k = 0; k < payload.size(); ++k) payload[k] = static_cast<uint8_t>(k);
  std::vector<int16_t> out(320 + 8, 0x5A5A);
  EXPECT_EQ(pcm.decode(nullptr, payload.data(), payload.size(), out.data(), 320), 640);
  EXPECT_EQ(std::memcmp(out.data(), payload.data() + 8, 640), 0);
  EXPECT_EQ(out[320], 0x5A5A);
  EXPECT_EQ(pcm.decode(nullptr, payload.data(), 8, out.data(), 320), 0);
  adpcm_release(codec);
}

}  // namespace
}  // namespace kestrel

#include "audio/adpcm_codec.h"

#include <algorithm>
#include <new>

#include "audio/adpcm_tables.h"

namespace kestrel {
namespace {

int32_t clamp_index(int32_t index) { return std::clamp(index, 0, kAdpcmMaxStepIndex); }

// Difference for code c at step s: (c + 0.5) * s / 4 rounded down, built from shifts.
int32_t code_difference(uint32_t code, int32_t step) {
  int32_t d = step >> 3;
  if (code & 4) d += step;
  if (code & 2) d += step >> 1;
  if (code & 1) d += step >> 2;
  return d;
}

struct AdpcmState {
  int32_t predictor;
  int32_t index;
  int32_t step;

  // Applies one code; returns the reconstructed sample.
  int16_t apply(uint32_t code) {
    const int32_t d = code_difference(code, step);
    predictor = (code & 8) ? std::max(predictor - d, -32768) : std::min(predictor + d, 32767);
    index = clamp_index(index + kAdpcmIndexTable[code]);
    step = kAdpcmStepTable[index];
    return static_cast<int16_t>(predictor);
  }

  uint32_t encode(int32_t sample) {
    int32_t e = sample - predictor;
    uint32_t code = 0;
    if (e < 0) {
      code = 8;
      e = -e;
    }
    if (e >= step) {
      code |= 4;
      e -= step;
    }
    if (e >= step >> 1) {
      code |= 2;
      e -= step >> 1;
    }
    if (e >= step >> 2) code |= 1;
    apply(code);
    return code;
  }
};

template <typename Sample, int32_t (*kToLinear)(Sample)>
int32_t encode_block(AdpcmCodec* codec, const void* input, size_t count, uint8_t* out,
                     size_t out_bytes) {
  if (!codec || !input || !out) return 0;
  const size_t code_bytes = (count + 1) / 2;
  if (out_bytes < kAdpcmHeaderBytes || out_bytes - kAdpcmHeaderBytes < code_bytes ||
      kAdpcmHeaderBytes + code_bytes > INT32_MAX) {
    return 0;
  }
  const auto* samples = static_cast<const Sample*>(input);
  AdpcmState state{codec->predictor, clamp_index(codec->step_index), 0};
  state.step = kAdpcmStepTable[state.index];

  const auto p = static_cast<uint16_t>(state.predictor);
  const auto i = static_cast<uint32_t>(state.index);
  out[0] = static_cast<uint8_t>(p);
  out[1] = static_cast<uint8_t>(p >> 8);
  for (int b = 0; b < 4; ++b) out[4 + b] = static_cast<uint8_t>(i >> (8 * b));

  uint8_t* codes = out + kAdpcmHeaderBytes;
  for (size_t n = 0; n < count; n += 2) {
    const uint32_t high = state.encode(kToLinear(samples[n]));
    const uint32_t low = n + 1 < count ? state.encode(kToLinear(samples[n + 1])) : 0;
    *codes++ = static_cast<uint8_t>(high << 4 | low);
  }
  codec->predictor = static_cast<int16_t>(state.predictor);
  codec->step_index = state.index;
  return static_cast<int32_t>(kAdpcmHeaderBytes + code_bytes);
}

int32_t linear(int16_t sample) { return sample; }
int32_t mulaw(uint8_t code) { return adpcm_mulaw_expand(code); }

}  // namespace

int16_t adpcm_mulaw_expand(uint8_t code) {
  const uint32_t u = ~code & 0xFFu;
  const int32_t magnitude = static_cast<int32_t>((((u & 0x0F) << 3) + 0x84) << ((u & 0x70) >> 4));
  return static_cast<int16_t>((u & 0x80) ? 0x84 - magnitude : magnitude - 0x84);
}

int32_t adpcm_create(int32_t mode, AdpcmCodec** codec) {
  if (!codec) return -1;
  auto* c = new (std::nothrow) AdpcmCodec;
  if (!c) return -1;
  c->mode = mode;
  c->encode = mode == kAdpcmModeMuLaw ? encode_block<uint8_t, mulaw> : encode_block<int16_t, linear>;
  c->decode = adpcm_decode;
  *codec = c;
  return 0;
}

int32_t adpcm_release(AdpcmCodec* codec) {
  if (!codec) return -1;
  delete codec;
  return 0;
}

int32_t adpcm_encode(AdpcmCodec* codec, const void* input, size_t count, uint8_t* out,
                     size_t out_bytes) {
  return codec && codec->encode ? codec->encode(codec, input, count, out, out_bytes) : 0;
}

int32_t adpcm_decode(const AdpcmCodec* /*codec*/, const uint8_t* payload, size_t length, int16_t* out,
                     size_t out_samples) {
  if (!payload || !out || length <= kAdpcmHeaderBytes) return 0;
  // Whole code bytes only; the sample count must also fit the int32 result.
  const size_t fit = std::min({length - kAdpcmHeaderBytes, out_samples / 2, size_t{INT32_MAX / 2}});

  const int32_t index = static_cast<int32_t>(uint32_t{payload[4]} | uint32_t{payload[5]} << 8 |
                                             uint32_t{payload[6]} << 16 | uint32_t{payload[7]} << 24);
  AdpcmState state{static_cast<int16_t>(payload[0] | payload[1] << 8), clamp_index(index), 0};
  state.step = kAdpcmStepTable[state.index];

  const uint8_t* codes = payload + kAdpcmHeaderBytes;
  int16_t* o = out;
  for (size_t n = 0; n < fit; ++n) {
    const uint32_t byte = codes[n];
    *o++ = state.apply(byte >> 4);
    *o++ = state.apply(byte & 0x0F);
  }
  return static_cast<int32_t>(o - out);
}

}  // namespace kestrel

// IMA ADPCM codec for the audio blocks of a recording.
//
// A block is self-contained: an 8-byte little-endian header (predictor int16 at 0, two unused
// bytes, step index int32 at 4) followed by codes, two per byte, high nibble first. A block of
// L bytes decodes to 2 * (L - 8) signed 16-bit mono samples.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrel {

inline constexpr size_t kAdpcmHeaderBytes = 8;

// Encoder input selected by the mode given to adpcm_create.
inline constexpr int32_t kAdpcmModeMuLaw = 1;  // 8-bit G.711 mu-law bytes; any other mode: int16

struct AdpcmCodec;

// Decodes one block. Reads nothing from the codec: it may be null, and a block may be decoded
// while another thread releases the codec. Writes at most out_samples samples.
using AdpcmDecodeFn = int32_t (*)(const AdpcmCodec* codec, const uint8_t* payload, size_t length,
                                  int16_t* out, size_t out_samples);
// Encodes count samples (input is uint8_t mu-law or int16_t linear, by mode) into one block.
using AdpcmEncodeFn = int32_t (*)(AdpcmCodec* codec, const void* input, size_t count, uint8_t* out,
                                  size_t out_bytes);

struct AdpcmCodec {
  int16_t predictor = 0;   // encoder state: last reconstructed sample
  int32_t step_index = 0;  // encoder state: 0..88
  int32_t mode = 0;
  AdpcmEncodeFn encode = nullptr;  // chosen from the mode
  AdpcmDecodeFn decode = nullptr;  // adpcm_decode, whatever the mode
};

// 0 and *codec set, or -1 (null out pointer, or out of memory).
int32_t adpcm_create(int32_t mode, AdpcmCodec** codec);
// 0, or -1 for a null codec.
int32_t adpcm_release(AdpcmCodec* codec);

// Number of samples written: 2 * (length - 8), or 0 when length <= 8 or payload/out is null.
// A header step index outside 0..88 is clamped into range. A block that decodes to more than
// out_samples samples is cut after the last whole code byte that fits: only those samples are
// written and counted.
int32_t adpcm_decode(const AdpcmCodec* codec, const uint8_t* payload, size_t length, int16_t* out,
                     size_t out_samples);

// Bytes written: 8 + ceil(count / 2), or 0 when the codec, input or out is null or out_bytes is
// too small (nothing is written then). The header takes the codec's predictor and step index
// (bytes 2..3 are left as they are); afterwards the codec holds the final state, so consecutive
// calls continue one stream. An odd count leaves the last low nibble 0 (decoders see one extra
// sample).
int32_t adpcm_encode(AdpcmCodec* codec, const void* input, size_t count, uint8_t* out,
                     size_t out_bytes);

// G.711 mu-law byte to linear sample (bias 0x84).
int16_t adpcm_mulaw_expand(uint8_t code);

}  // namespace kestrel

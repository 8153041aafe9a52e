// The engine's table of audio payload formats. Playback uses only the ADPCM record.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "audio/adpcm_codec.h"

namespace kestrel {

struct AudioFormat {
  uint32_t input_bytes;    // payload bytes per packet
  uint32_t output_bytes;   // PCM bytes per packet
  AdpcmCodec* codec;       // may be null
  AdpcmDecodeFn decode;    // may be null
};

inline constexpr size_t kAudioFormatCount = 4;
inline constexpr size_t kAudioFormatAdpcm = 2;  // the record playback uses

using AudioFormatTable = std::array<AudioFormat, kAudioFormatCount>;

// The four records; codec goes into the ADPCM record (null until the engine has a codec).
AudioFormatTable make_audio_format_table(AdpcmCodec* codec);

// Decode operation of the 648-byte record: copies the payload after its 8-byte header as raw
// PCM (at most out_samples * 2 bytes) and returns the byte count L - 8 it copied (0 when L <= 8).
int32_t pcm_copy_decode(const AdpcmCodec* codec, const uint8_t* payload, size_t length, int16_t* out,
                        size_t out_samples);

}  // namespace kestrel

#include "audio/audio_format_table.h"

#include <algorithm>
#include <cstring>

namespace kestrel {

AudioFormatTable make_audio_format_table(AdpcmCodec* codec) {
  return {{
      {10, 160, nullptr, nullptr},
      {40, 160, nullptr, nullptr},
      {168, 640, codec, adpcm_decode},
      {648, 640, nullptr, pcm_copy_decode},
  }};
}

int32_t pcm_copy_decode(const AdpcmCodec* /*codec*/, const uint8_t* payload, size_t length,
                        int16_t* out, size_t out_samples) {
  if (!payload || !out || length <= kAdpcmHeaderBytes) return 0;
  const size_t bytes = std::min({length - kAdpcmHeaderBytes, out_samples * 2, size_t{INT32_MAX}});
  std::memcpy(out, payload + kAdpcmHeaderBytes, bytes);
  return static_cast<int32_t>(bytes);
}

}  // namespace kestrel

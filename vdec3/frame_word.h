// The first 32-bit word of a frame: bit 0 always 1, bit 1 the inter flag, bits 2-17 the length in
// bytes, bit 24 always 0. Because of bits 0 and 24 the lowest bit of the first byte tells the
// word's storage order: 1 when the words are stored little-endian.
#pragma once

#include <cstdint>

namespace vdec3 {

struct FrameWord {
  bool little_endian;
  bool inter;
  uint32_t length;  // bytes, header included
};

// False for a word that is no frame word (bit 0 clear, bit 24 set) or a length below 8.
inline bool ReadFrameWord(const uint8_t* frame, FrameWord* out) {
  const bool little = frame[0] & 1;
  const uint32_t word = little ? (uint32_t{frame[0]} | uint32_t{frame[1]} << 8 |
                                  uint32_t{frame[2]} << 16 | uint32_t{frame[3]} << 24)
                               : (uint32_t{frame[0]} << 24 | uint32_t{frame[1]} << 16 |
                                  uint32_t{frame[2]} << 8 | uint32_t{frame[3]});
  out->little_endian = little;
  out->inter = (word >> 1) & 1;
  out->length = word & 0x3FFFC;
  return (word & 1) && !(word & (1u << 24)) && out->length >= 8;
}

}  // namespace vdec3

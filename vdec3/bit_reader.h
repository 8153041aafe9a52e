// Most-significant-bit-first reader over one frame. Bits past the frame's end read as zeros: the
// buffer holds at least 8 zero bytes after `size`, and reads from further on are clamped there.
#pragma once

#include <cstdint>
#include <cstring>

namespace vdec3 {

class BitReader {
 public:
  BitReader(const uint8_t* data, uint32_t size, uint64_t bit_position)
      : data_(data), size_(size), position_(bit_position) {}

  // The next n bits (1..25) without consuming them.
  uint32_t Peek(int n) const {
    uint64_t byte = position_ >> 3;
    if (byte > size_) byte = size_;
    uint64_t word;
    std::memcpy(&word, data_ + byte, sizeof(word));
    word = __builtin_bswap64(word);
    // Past the end every byte read is a padding zero; the clamp keeps the load inside the padding.
    word <<= (position_ & 7);
    return static_cast<uint32_t>(word >> (64 - n));
  }
  void Skip(int n) { position_ += static_cast<uint64_t>(n); }
  uint32_t Read(int n) {
    const uint32_t v = Peek(n);
    Skip(n);
    return v;
  }
  uint32_t ReadBit() { return Read(1); }

  uint64_t position() const { return position_; }

 private:
  const uint8_t* data_;
  uint64_t size_;
  uint64_t position_;
};

}  // namespace vdec3

// Code tables of the bitstream: MPEG-4 Part 2 (ISO/IEC 14496-2) and H.263 variable-length codes,
// the three coefficient scans, and this codec's own macroblock-type codes.
#pragma once

#include <array>
#include <cstdint>

namespace vdec3 {

// One transform-coefficient code: the code word without its sign bit, most significant bit first.
struct CoefficientCode {
  uint16_t bits;
  uint8_t length;
};

struct RunLevel {
  uint8_t last;
  uint8_t run;
  uint8_t level;
};

constexpr int kCoefficientCodes = 102;  // plus the escape code
constexpr CoefficientCode kEscapeCode = {0b0000011, 7};

// ISO/IEC 14496-2 tables B-16 (intra) and B-17 (inter, = ITU-T H.263 table 16): both tables use
// the same 102 code words and give them different (last, run, level) meanings. Listed in the
// order of H.263 table 16.
constexpr std::array<CoefficientCode, kCoefficientCodes> kCoefficientCodeWords = {{
    {0b10, 2}, {0b1111, 4}, {0b010101, 6}, {0b0010111, 7}, {0b00011111, 8},
    {0b000100101, 9}, {0b000100100, 9}, {0b0000100001, 10}, {0b0000100000, 10},
    {0b00000000111, 11}, {0b00000000110, 11}, {0b00000100000, 11},
    {0b110, 3}, {0b010100, 6}, {0b00011110, 8}, {0b0000001111, 10}, {0b00000100001, 11},
    {0b000001010000, 12},
    {0b1110, 4}, {0b00011101, 8}, {0b0000001110, 10}, {0b000001010001, 12},
    {0b01101, 5}, {0b000100011, 9}, {0b0000001101, 10},
    {0b01100, 5}, {0b000100010, 9}, {0b000001010010, 12},
    {0b01011, 5}, {0b0000001100, 10}, {0b000001010011, 12},
    {0b010011, 6}, {0b0000001011, 10}, {0b000001010100, 12},
    {0b010010, 6}, {0b0000001010, 10},
    {0b010001, 6}, {0b0000001001, 10},
    {0b010000, 6}, {0b0000001000, 10},
    {0b0010110, 7}, {0b000001010101, 12},
    {0b0010101, 7}, {0b0010100, 7}, {0b00011100, 8}, {0b00011011, 8},
    {0b000100001, 9}, {0b000100000, 9}, {0b000011111, 9}, {0b000011110, 9},
    {0b000011101, 9}, {0b000011100, 9}, {0b000011011, 9}, {0b000011010, 9},
    {0b00000100010, 11}, {0b00000100011, 11}, {0b000001010110, 12}, {0b000001010111, 12},
    {0b0111, 4}, {0b000011001, 9}, {0b00000000101, 11},
    {0b001111, 6}, {0b00000000100, 11},
    {0b001110, 6}, {0b001101, 6}, {0b001100, 6},
    {0b0010011, 7}, {0b0010010, 7}, {0b0010001, 7}, {0b0010000, 7},
    {0b00011010, 8}, {0b00011001, 8}, {0b00011000, 8}, {0b00010111, 8},
    {0b00010110, 8}, {0b00010101, 8}, {0b00010100, 8}, {0b00010011, 8},
    {0b000011000, 9}, {0b000010111, 9}, {0b000010110, 9}, {0b000010101, 9},
    {0b000010100, 9}, {0b000010011, 9}, {0b000010010, 9}, {0b000010001, 9},
    {0b0000000111, 10}, {0b0000000110, 10}, {0b0000000101, 10}, {0b0000000100, 10},
    {0b00000100100, 11}, {0b00000100101, 11}, {0b00000100110, 11}, {0b00000100111, 11},
    {0b000001011000, 12}, {0b000001011001, 12}, {0b000001011010, 12}, {0b000001011011, 12},
    {0b000001011100, 12}, {0b000001011101, 12}, {0b000001011110, 12}, {0b000001011111, 12},
}};

// Table B-17: the inter meanings, in code-word order.
constexpr std::array<RunLevel, kCoefficientCodes> kInterRunLevels = {{
    {0, 0, 1}, {0, 0, 2}, {0, 0, 3}, {0, 0, 4}, {0, 0, 5}, {0, 0, 6}, {0, 0, 7}, {0, 0, 8},
    {0, 0, 9}, {0, 0, 10}, {0, 0, 11}, {0, 0, 12},
    {0, 1, 1}, {0, 1, 2}, {0, 1, 3}, {0, 1, 4}, {0, 1, 5}, {0, 1, 6},
    {0, 2, 1}, {0, 2, 2}, {0, 2, 3}, {0, 2, 4},
    {0, 3, 1}, {0, 3, 2}, {0, 3, 3},
    {0, 4, 1}, {0, 4, 2}, {0, 4, 3},
    {0, 5, 1}, {0, 5, 2}, {0, 5, 3},
    {0, 6, 1}, {0, 6, 2}, {0, 6, 3},
    {0, 7, 1}, {0, 7, 2},
    {0, 8, 1}, {0, 8, 2},
    {0, 9, 1}, {0, 9, 2},
    {0, 10, 1}, {0, 10, 2},
    {0, 11, 1}, {0, 12, 1}, {0, 13, 1}, {0, 14, 1}, {0, 15, 1}, {0, 16, 1}, {0, 17, 1},
    {0, 18, 1}, {0, 19, 1}, {0, 20, 1}, {0, 21, 1}, {0, 22, 1}, {0, 23, 1}, {0, 24, 1},
    {0, 25, 1}, {0, 26, 1},
    {1, 0, 1}, {1, 0, 2}, {1, 0, 3},
    {1, 1, 1}, {1, 1, 2},
    {1, 2, 1}, {1, 3, 1}, {1, 4, 1}, {1, 5, 1}, {1, 6, 1}, {1, 7, 1}, {1, 8, 1},
    {1, 9, 1}, {1, 10, 1}, {1, 11, 1}, {1, 12, 1}, {1, 13, 1}, {1, 14, 1}, {1, 15, 1},
    {1, 16, 1}, {1, 17, 1}, {1, 18, 1}, {1, 19, 1}, {1, 20, 1}, {1, 21, 1}, {1, 22, 1},
    {1, 23, 1}, {1, 24, 1}, {1, 25, 1}, {1, 26, 1}, {1, 27, 1}, {1, 28, 1}, {1, 29, 1},
    {1, 30, 1}, {1, 31, 1}, {1, 32, 1}, {1, 33, 1}, {1, 34, 1}, {1, 35, 1}, {1, 36, 1},
    {1, 37, 1}, {1, 38, 1}, {1, 39, 1}, {1, 40, 1},
}};

// Table B-16: the intra meanings, in code-word order.
constexpr std::array<RunLevel, kCoefficientCodes> kIntraRunLevels = {{
    {0, 0, 1}, {0, 0, 3}, {0, 0, 6}, {0, 0, 9}, {0, 0, 10}, {0, 0, 13}, {0, 0, 14}, {0, 0, 17},
    {0, 0, 18}, {0, 0, 21}, {0, 0, 22}, {0, 0, 23},
    {0, 0, 2}, {0, 1, 2}, {0, 0, 11}, {0, 0, 19}, {0, 0, 24}, {0, 0, 25},
    {0, 1, 1}, {0, 0, 12}, {0, 0, 20}, {0, 0, 26},
    {0, 0, 4}, {0, 0, 15}, {0, 1, 7},
    {0, 0, 5}, {0, 4, 2}, {0, 0, 27},
    {0, 2, 1}, {0, 2, 4}, {0, 1, 9},
    {0, 0, 7}, {0, 3, 4}, {0, 6, 3},
    {0, 0, 8}, {0, 4, 3},
    {0, 3, 1}, {0, 8, 2},
    {0, 4, 1}, {0, 5, 3},
    {0, 1, 3}, {0, 1, 10},
    {0, 2, 2}, {0, 7, 1}, {0, 1, 4}, {0, 3, 2}, {0, 0, 16}, {0, 1, 5}, {0, 1, 6},
    {0, 2, 3}, {0, 3, 3}, {0, 5, 2}, {0, 6, 2}, {0, 7, 2}, {0, 1, 8}, {0, 9, 2},
    {0, 2, 5}, {0, 7, 3},
    {1, 0, 1}, {0, 11, 1}, {1, 0, 6},
    {1, 1, 1}, {1, 0, 7},
    {1, 2, 1}, {0, 5, 1}, {1, 0, 2}, {1, 5, 1}, {0, 6, 1}, {1, 3, 1}, {1, 4, 1},
    {1, 9, 1}, {0, 8, 1}, {0, 9, 1}, {0, 10, 1}, {1, 0, 3}, {1, 6, 1}, {1, 7, 1},
    {1, 8, 1}, {0, 12, 1}, {1, 0, 4}, {1, 1, 2}, {1, 10, 1}, {1, 11, 1}, {1, 12, 1},
    {1, 13, 1}, {1, 14, 1}, {0, 13, 1}, {1, 0, 5}, {1, 1, 3}, {1, 2, 2}, {1, 3, 2},
    {1, 4, 2}, {1, 15, 1}, {1, 16, 1}, {0, 14, 1}, {1, 0, 8}, {1, 5, 2}, {1, 6, 2},
    {1, 17, 1}, {1, 18, 1}, {1, 19, 1}, {1, 20, 1},
}};

// Longest coefficient code word without its sign bit.
constexpr int kCoefficientPeekBits = 12;

// Table lookups by the next 12 bits: code-word index (0..101), kEscapeIndex or kInvalidIndex in
// the high bits, the code length in the low 4 bits.
constexpr int kEscapeIndex = kCoefficientCodes;
constexpr int kInvalidIndex = kCoefficientCodes + 1;

constexpr std::array<uint16_t, 1 << kCoefficientPeekBits> MakeCoefficientLookup() {
  std::array<uint16_t, 1 << kCoefficientPeekBits> lookup{};
  for (auto& entry : lookup) entry = static_cast<uint16_t>((kInvalidIndex << 4) | kCoefficientPeekBits);
  auto fill = [&lookup](CoefficientCode code, int index) {
    const int spare = kCoefficientPeekBits - code.length;
    for (int tail = 0; tail < (1 << spare); ++tail)
      lookup[(code.bits << spare) | tail] = static_cast<uint16_t>((index << 4) | code.length);
  };
  for (int i = 0; i < kCoefficientCodes; ++i) fill(kCoefficientCodeWords[i], i);
  fill(kEscapeCode, kEscapeIndex);
  return lookup;
}
inline constexpr auto kCoefficientLookup = MakeCoefficientLookup();

// LMAX and RMAX of ISO/IEC 14496-2 tables B-18 to B-21: the largest level of a (last, run) and the
// largest run of a (last, level) among a table's codes, the same by definition.
struct EscapeLimits {
  std::array<std::array<uint8_t, 64>, 2> max_level{};  // [last][run]
  std::array<std::array<uint8_t, 64>, 2> max_run{};    // [last][level]
};
constexpr EscapeLimits MakeEscapeLimits(const std::array<RunLevel, kCoefficientCodes>& table) {
  EscapeLimits limits{};
  for (const RunLevel& e : table) {
    auto& level = limits.max_level[e.last][e.run];
    auto& run = limits.max_run[e.last][e.level];
    if (e.level > level) level = e.level;
    if (e.run > run) run = e.run;
  }
  return limits;
}
inline constexpr EscapeLimits kIntraEscapeLimits = MakeEscapeLimits(kIntraRunLevels);
inline constexpr EscapeLimits kInterEscapeLimits = MakeEscapeLimits(kInterRunLevels);

// ISO/IEC 14496-2 7.4.1.3 dct_dc_size_luminance, sizes 0 to 8, used for every block here. Lookup by
// the next 7 bits: size in the high bits, length in the low 4 bits; 0000000 is no code.
constexpr int kDcSizePeekBits = 7;
constexpr int kInvalidDcSize = 15;
constexpr std::array<uint8_t, 1 << kDcSizePeekBits> MakeDcSizeLookup() {
  struct Code { uint8_t bits, length, size; };
  constexpr Code codes[] = {{0b011, 3, 0}, {0b11, 2, 1}, {0b10, 2, 2}, {0b010, 3, 3}, {0b001, 3, 4},
                            {0b0001, 4, 5}, {0b00001, 5, 6}, {0b000001, 6, 7}, {0b0000001, 7, 8}};
  std::array<uint8_t, 1 << kDcSizePeekBits> lookup{};
  lookup[0] = static_cast<uint8_t>((kInvalidDcSize << 4) | kDcSizePeekBits);
  for (const Code& c : codes) {
    const int spare = kDcSizePeekBits - c.length;
    for (int tail = 0; tail < (1 << spare); ++tail)
      lookup[(c.bits << spare) | tail] = static_cast<uint8_t>((c.size << 4) | c.length);
  }
  return lookup;
}
inline constexpr auto kDcSizeLookup = MakeDcSizeLookup();

// ITU-T H.263 table 12, CBPY with the intra meanings (block 0 in bit 3). Lookup by the next 6 bits:
// cbpy in the high bits, length in the low 4 bits; 000000 and 000001 are no codes.
constexpr int kCbpyPeekBits = 6;
constexpr int kInvalidCbpy = 16;
constexpr std::array<uint8_t, 1 << kCbpyPeekBits> MakeCbpyLookup() {
  struct Code { uint8_t bits, length; };
  constexpr Code codes[16] = {{0b0011, 4}, {0b00101, 5}, {0b00100, 5}, {0b1001, 4},
                              {0b00011, 5}, {0b0111, 4}, {0b000010, 6}, {0b1011, 4},
                              {0b00010, 5}, {0b000011, 6}, {0b0101, 4}, {0b1010, 4},
                              {0b0100, 4}, {0b1000, 4}, {0b0110, 4}, {0b11, 2}};
  std::array<uint8_t, 1 << kCbpyPeekBits> lookup{};
  lookup[0] = lookup[1] = static_cast<uint8_t>((kInvalidCbpy << 3) | kCbpyPeekBits);
  for (int v = 0; v < 16; ++v) {
    const int spare = kCbpyPeekBits - codes[v].length;
    for (int tail = 0; tail < (1 << spare); ++tail)
      lookup[(codes[v].bits << spare) | tail] = static_cast<uint8_t>((v << 3) | codes[v].length);
  }
  return lookup;
}
inline constexpr auto kCbpyLookup = MakeCbpyLookup();  // cbpy in bits 3-7, length in bits 0-2

// ISO/IEC 14496-2 table B-12 (= H.263 table 14), motion_code magnitudes 0..32 without the sign
// bit that follows every non-zero code. Lookup by the next 12 bits: magnitude in the high bits,
// length in the low 4 bits.
constexpr int kMotionPeekBits = 12;
constexpr int kInvalidMotion = 63;
constexpr std::array<uint16_t, 1 << kMotionPeekBits> MakeMotionLookup() {
  struct Code { uint16_t bits; uint8_t length; };
  constexpr Code codes[33] = {
      {0b1, 1}, {0b01, 2}, {0b001, 3}, {0b0001, 4}, {0b000011, 6}, {0b0000101, 7}, {0b0000100, 7},
      {0b0000011, 7}, {0b000001011, 9}, {0b000001010, 9}, {0b000001001, 9}, {0b000001000, 9},
      {0b0000001111, 10}, {0b0000001110, 10}, {0b0000001101, 10}, {0b0000001100, 10},
      {0b0000001011, 10}, {0b0000001010, 10}, {0b0000001001, 10}, {0b0000001000, 10},
      {0b00000001111, 11}, {0b00000001110, 11}, {0b00000001101, 11}, {0b00000001100, 11},
      {0b00000001011, 11}, {0b00000001010, 11}, {0b000000010011, 12}, {0b000000010010, 12},
      {0b000000010001, 12}, {0b000000010000, 12}, {0b000000001111, 12}, {0b000000001110, 12},
      {0b000000001101, 12}};
  std::array<uint16_t, 1 << kMotionPeekBits> lookup{};
  for (auto& entry : lookup) entry = static_cast<uint16_t>((kInvalidMotion << 4) | kMotionPeekBits);
  for (int m = 0; m < 33; ++m) {
    const int spare = kMotionPeekBits - codes[m].length;
    for (int tail = 0; tail < (1 << spare); ++tail)
      lookup[(codes[m].bits << spare) | tail] = static_cast<uint16_t>((m << 4) | codes[m].length);
  }
  return lookup;
}
inline constexpr auto kMotionLookup = MakeMotionLookup();

// ISO/IEC 14496-2 figure 7-2: scan position -> coefficient index (row * 8 + column).
constexpr std::array<uint8_t, 64> kZigzagScan = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};
constexpr std::array<uint8_t, 64> kAlternateHorizontalScan = {
    0,  1,  2,  3,  8,  9,  16, 17, 10, 11, 4,  5,  6,  7,  15, 14, 13, 12, 19, 18, 24, 25,
    32, 33, 26, 27, 20, 21, 22, 23, 28, 29, 30, 31, 34, 35, 40, 41, 48, 49, 42, 43, 36, 37,
    38, 39, 44, 45, 46, 47, 50, 51, 56, 57, 58, 59, 52, 53, 54, 55, 60, 61, 62, 63};
constexpr std::array<uint8_t, 64> kAlternateVerticalScan = {
    0,  8,  16, 24, 1,  9,  2,  10, 17, 25, 32, 40, 48, 56, 57, 49, 41, 33, 26, 18, 3,  11,
    4,  12, 19, 27, 34, 42, 50, 58, 35, 43, 51, 59, 20, 28, 5,  13, 6,  14, 21, 29, 36, 44,
    52, 60, 37, 45, 53, 61, 22, 30, 7,  15, 23, 31, 38, 46, 54, 62, 39, 47, 55, 63};

}  // namespace vdec3

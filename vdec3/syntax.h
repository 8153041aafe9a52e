// Reading the macroblock- and block-layer codes, shared by both implementations.
#pragma once

#include <cstdint>

#include "vdec3/bit_reader.h"
#include "vdec3/code_tables.h"

namespace vdec3 {

struct MacroblockType {
  bool intra;
  int cbpc;  // bit 1: block 4, bit 0: block 5
};

inline MacroblockType ReadIntraFrameType(BitReader& br) {
  const uint32_t b = br.Peek(3);
  if (b & 4) { br.Skip(1); return {true, 0}; }
  if (b & 2) { br.Skip(2); return {true, 3}; }
  br.Skip(3);
  return {true, (b & 1) ? 2 : 1};
}

// After the skip bit 0 of a predicted frame.
inline MacroblockType ReadPredictedFrameType(BitReader& br) {
  const uint32_t b = br.Peek(4);
  if (b & 8) { br.Skip(1); return {false, 0}; }
  if ((b & 0b1110) == 0b0110) { br.Skip(3); return {true, 0}; }
  br.Skip(4);
  switch (b) {
    case 0b0000: return {false, 1};
    case 0b0001: return {false, 2};
    case 0b0010: return {false, 3};
    case 0b0011: return {true, 1};
    case 0b0100: return {true, 2};
    default: return {true, 3};  // 0101
  }
}

// The intra meaning of CBPY (block 0 in bit 3); the two unused codes read as 0.
inline int ReadCbpy(BitReader& br) {
  const uint8_t e = kCbpyLookup[br.Peek(kCbpyPeekBits)];
  br.Skip(e & 7);
  const int v = e >> 3;
  return v == kInvalidCbpy ? 0 : v;
}

// The unused code 0000000 reads as size 0.
inline int ReadDcSize(BitReader& br) {
  const uint8_t e = kDcSizeLookup[br.Peek(kDcSizePeekBits)];
  br.Skip(e & 15);
  const int size = e >> 4;
  return size == kInvalidDcSize ? 0 : size;
}

inline int ReadDcDifference(BitReader& br, int size) {
  if (size == 0) return 0;
  const int v = static_cast<int>(br.Read(size));
  return (v >> (size - 1)) ? v : v - ((1 << size) - 1);
}

// One motion vector difference component in half-pels (f_code 2: one residual bit). Unused codes
// read as 0.
inline int ReadMotionDifference(BitReader& br) {
  const uint16_t e = kMotionLookup[br.Peek(kMotionPeekBits)];
  br.Skip(e & 15);
  const int magnitude = e >> 4;
  if (magnitude == 0 || magnitude == kInvalidMotion) return 0;
  const bool negative = br.ReadBit();
  const int residual = static_cast<int>(br.ReadBit());
  const int d = (magnitude - 1) * 2 + residual + 1;
  return negative ? -d : d;
}

struct CoefficientEvent {
  bool last;
  int run;
  int level;  // signed
};

// One table code and its sign; an unused code (or a second escape) ends the block with a 0 level.
inline CoefficientEvent ReadTableEvent(BitReader& br, const RunLevel* table, bool* valid) {
  const uint16_t e = kCoefficientLookup[br.Peek(kCoefficientPeekBits)];
  br.Skip(e & 15);
  const int index = e >> 4;
  if (index >= kCoefficientCodes) {
    *valid = false;
    return {true, 0, 0};
  }
  *valid = true;
  const RunLevel& rl = table[index];
  const int level = br.ReadBit() ? -rl.level : rl.level;
  return {rl.last != 0, rl.run, level};
}

inline CoefficientEvent ReadCoefficientEvent(BitReader& br, bool intra) {
  const RunLevel* table = intra ? kIntraRunLevels.data() : kInterRunLevels.data();
  const uint16_t e = kCoefficientLookup[br.Peek(kCoefficientPeekBits)];
  const int index = e >> 4;
  if (index < kCoefficientCodes) {
    br.Skip(e & 15);
    const RunLevel& rl = table[index];
    const int level = br.ReadBit() ? -rl.level : rl.level;
    return {rl.last != 0, rl.run, level};
  }
  br.Skip(e & 15);
  if (index != kEscapeIndex) return {true, 0, 0};
  const EscapeLimits& limits = intra ? kIntraEscapeLimits : kInterEscapeLimits;
  bool valid = false;
  if (!br.ReadBit()) {  // escape 1: level offset
    CoefficientEvent ev = ReadTableEvent(br, table, &valid);
    if (valid) {
      const int extra = limits.max_level[ev.last][ev.run];
      ev.level += ev.level < 0 ? -extra : extra;
    }
    return ev;
  }
  if (!br.ReadBit()) {  // escape 2: run offset
    CoefficientEvent ev = ReadTableEvent(br, table, &valid);
    if (valid) {
      const int magnitude = ev.level < 0 ? -ev.level : ev.level;
      ev.run += limits.max_run[ev.last][magnitude] + 1;
    }
    return ev;
  }
  // escape 3: fixed length
  CoefficientEvent ev;
  ev.last = br.ReadBit();
  ev.run = static_cast<int>(br.Read(6));
  br.Skip(1);
  const int raw = static_cast<int>(br.Read(12));
  ev.level = raw >= 2048 ? raw - 4096 : raw;
  br.Skip(1);
  return ev;
}

// Decodes a block's coefficients from scan position `start` into block (zero on entry), with
// level * 2q + sgn(level) * odd_q, kept to 16 bits. Returns true when any coefficient other than
// the DC was written.
inline bool ReadCoefficients(BitReader& br, int16_t* block, int start, const uint8_t* scan,
                             bool intra, int two_q, int odd_q) {
  int p = start;
  bool ac = false;
  for (;;) {
    const CoefficientEvent ev = ReadCoefficientEvent(br, intra);
    p += ev.run;
    const int index = scan[p & 63];
    const int sign = (ev.level > 0) - (ev.level < 0);
    block[index] = static_cast<int16_t>(ev.level * two_q + sign * odd_q);
    ac |= index != 0;
    ++p;
    if (ev.last || p >= 64) return ac;
  }
}

}  // namespace vdec3

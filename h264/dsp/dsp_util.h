// Small helpers shared by the portable kernels.
#pragma once

#include <cstdint>

// Internal linkage on purpose: this header is compiled into the AVX2 sources too (with -mavx2),
// and an inline function shared across them could be resolved to the AVX2 copy on any processor.
namespace kestrel::h264::dsp {
namespace {

// Clip1 for 8-bit samples.
constexpr uint8_t Clip1(int x) { return static_cast<uint8_t>(x < 0 ? 0 : (x > 255 ? 255 : x)); }
constexpr int Clip3(int lo, int hi, int x) { return x < lo ? lo : (x > hi ? hi : x); }
// 16-bit two's-complement wrap, the arithmetic of the 16-bit transform paths.
constexpr int16_t Wrap16(int x) { return static_cast<int16_t>(x); }

// LevelScale v(m, 0) of clause 8.5.9 for QP % 6 = m (the flat-matrix factor of the DC position).
inline constexpr int kLevelScaleDc[6] = {10, 11, 13, 14, 16, 18};

}  // namespace
}  // namespace kestrel::h264::dsp

// Small helpers shared by the portable kernels.
#pragma once

#include <cstdint>

namespace kestrel::h264::dsp {

// Clip1 for 8-bit samples.
constexpr uint8_t Clip1(int x) { return static_cast<uint8_t>(x < 0 ? 0 : (x > 255 ? 255 : x)); }
constexpr int Clip3(int lo, int hi, int x) { return x < lo ? lo : (x > hi ? hi : x); }
// 16-bit two's-complement wrap, the arithmetic of the 16-bit transform paths.
constexpr int16_t Wrap16(int x) { return static_cast<int16_t>(x); }

// LevelScale v(m, 0) of clause 8.5.9 for QP % 6 = m (the flat-matrix factor of the DC position).
inline constexpr int kLevelScaleDc[6] = {10, 11, 13, 14, 16, 18};

}  // namespace kestrel::h264::dsp

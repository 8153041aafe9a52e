// Row kernels of the picture copy, in a table chosen once from the processor's features. Every
// set writes bit-identical output for every input. A row kernel reads width luma samples and
// width / 2 samples of each chroma row and writes one row of width pixels; width is even.
#pragma once

#include <cstdint>

namespace kestrel::engine {

using PictureRowFn = void (*)(uint8_t* dst, const uint8_t* y, const uint8_t* u, const uint8_t* v,
                              uint32_t width);

struct PictureKernels {
    const char* name;
    PictureRowFn yuy2;    // Y0 U Y1 V
    PictureRowFn rgb565;  // with the per-row error carry (serial: portable in every set)
    PictureRowFn rgb24;   // B G R
    PictureRowFn rgb32;   // B G R 0
};

const PictureKernels& PortablePictureKernels();
// The SSE2 set, or none when this build has no SSE2.
const PictureKernels* Sse2PictureKernels();
// The fastest set this processor runs.
const PictureKernels& BestPictureKernels();

// BT.601 video range in 13-bit fixed point: 1.164, 1.596, 0.391, 0.813 and 2.018 times 8192.
inline constexpr int32_t kLumaFactor = 9535;
inline constexpr int32_t kRedFromV = 13074;
inline constexpr int32_t kGreenFromU = 3203;
inline constexpr int32_t kGreenFromV = 6660;
inline constexpr int32_t kBlueFromU = 16531;
inline constexpr int kRgbShift = 13;

}  // namespace kestrel::engine

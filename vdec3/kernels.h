// The pixel kernels of one implementation. The frame decoder is instantiated once per kernel
// table, so each implementation's calls are direct.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vdec3/vdec3.h"

namespace vdec3 {

// Motion-compensated prediction: mode bit 0 horizontal half-pel, bit 1 vertical half-pel.
using PredictFn = void (*)(uint8_t* dst, const uint8_t* src, ptrdiff_t stride);
// Inverse transform of one 8x8 block (row-major coefficients, modified in place) written as
// pixels (put) or added to the prediction (add), clipped to 0..255.
using IdctFn = void (*)(int16_t* block, uint8_t* dst, ptrdiff_t stride);
// The same for a block whose only coefficient is its DC.
using DcFn = void (*)(int dc, uint8_t* dst, ptrdiff_t stride);
// Post-filter edges of one plane (width, height multiples of 8) in place, QP = qp.
using EdgeFilterFn = void (*)(uint8_t* plane, ptrdiff_t stride, int width, int height, int qp);
// One YUY2 row of `width` pixels (even) from a luma row and the matching chroma rows.
using Yuy2RowFn = void (*)(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* dst,
                           int width);

struct Kernels {
  IdctFn idct_put;
  IdctFn idct_add;
  DcFn dc_put;
  DcFn dc_add;
  PredictFn predict16[4];
  PredictFn predict8[4];
  EdgeFilterFn filter_vertical_edges;    // edges at x = 8, 16, ... inside each row
  EdgeFilterFn filter_horizontal_edges;  // edges at y = 8, 16, ... across each column
  Yuy2RowFn yuy2_row;
};

namespace portable {
void IdctPut(int16_t* block, uint8_t* dst, ptrdiff_t stride);
void IdctAdd(int16_t* block, uint8_t* dst, ptrdiff_t stride);
void DcPut(int dc, uint8_t* dst, ptrdiff_t stride);
void DcAdd(int dc, uint8_t* dst, ptrdiff_t stride);
void Predict16Copy(uint8_t* dst, const uint8_t* src, ptrdiff_t stride);
void Predict16H(uint8_t* dst, const uint8_t* src, ptrdiff_t stride);
void Predict16V(uint8_t* dst, const uint8_t* src, ptrdiff_t stride);
void Predict16HV(uint8_t* dst, const uint8_t* src, ptrdiff_t stride);
void Predict8Copy(uint8_t* dst, const uint8_t* src, ptrdiff_t stride);
void Predict8H(uint8_t* dst, const uint8_t* src, ptrdiff_t stride);
void Predict8V(uint8_t* dst, const uint8_t* src, ptrdiff_t stride);
void Predict8HV(uint8_t* dst, const uint8_t* src, ptrdiff_t stride);
void FilterVerticalEdges(uint8_t* plane, ptrdiff_t stride, int width, int height, int qp);
void FilterHorizontalEdges(uint8_t* plane, ptrdiff_t stride, int width, int height, int qp);
void Yuy2Row(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* dst, int width);
}  // namespace portable

inline constexpr Kernels kPortableKernels = {
    portable::IdctPut, portable::IdctAdd, portable::DcPut, portable::DcAdd,
    {portable::Predict16Copy, portable::Predict16H, portable::Predict16V, portable::Predict16HV},
    {portable::Predict8Copy, portable::Predict8H, portable::Predict8V, portable::Predict8HV},
    portable::FilterVerticalEdges, portable::FilterHorizontalEdges, portable::Yuy2Row,
};

#if defined(__SSE2__)
#define VDEC3_HAVE_SSE2 1
namespace sse2 {
void IdctPut(int16_t* block, uint8_t* dst, ptrdiff_t stride);
void IdctAdd(int16_t* block, uint8_t* dst, ptrdiff_t stride);
void DcPut(int dc, uint8_t* dst, ptrdiff_t stride);
void DcAdd(int dc, uint8_t* dst, ptrdiff_t stride);
void Predict16Copy(uint8_t* dst, const uint8_t* src, ptrdiff_t stride);
void Predict16H(uint8_t* dst, const uint8_t* src, ptrdiff_t stride);
void Predict16V(uint8_t* dst, const uint8_t* src, ptrdiff_t stride);
void Predict16HV(uint8_t* dst, const uint8_t* src, ptrdiff_t stride);
void Predict8Copy(uint8_t* dst, const uint8_t* src, ptrdiff_t stride);
void Predict8H(uint8_t* dst, const uint8_t* src, ptrdiff_t stride);
void Predict8V(uint8_t* dst, const uint8_t* src, ptrdiff_t stride);
void Predict8HV(uint8_t* dst, const uint8_t* src, ptrdiff_t stride);
void FilterVerticalEdges(uint8_t* plane, ptrdiff_t stride, int width, int height, int qp);
void FilterHorizontalEdges(uint8_t* plane, ptrdiff_t stride, int width, int height, int qp);
void Yuy2Row(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* dst, int width);
}  // namespace sse2

inline constexpr Kernels kSse2Kernels = {
    sse2::IdctPut, sse2::IdctAdd, sse2::DcPut, sse2::DcAdd,
    {sse2::Predict16Copy, sse2::Predict16H, sse2::Predict16V, sse2::Predict16HV},
    {sse2::Predict8Copy, sse2::Predict8H, sse2::Predict8V, sse2::Predict8HV},
    sse2::FilterVerticalEdges, sse2::FilterHorizontalEdges, sse2::Yuy2Row,
};
#endif

// The kernel table of an implementation (for the kernel tests), or null when not built.
const Kernels* KernelsFor(Vdec3Implementation implementation);

}  // namespace vdec3

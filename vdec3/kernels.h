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

// Every implementation defines the same kernels in its own namespace.
#define VDEC3_DECLARE_KERNELS()                                                                 \
  void IdctPut(int16_t* block, uint8_t* dst, ptrdiff_t stride);                                 \
  void IdctAdd(int16_t* block, uint8_t* dst, ptrdiff_t stride);                                 \
  void DcPut(int dc, uint8_t* dst, ptrdiff_t stride);                                           \
  void DcAdd(int dc, uint8_t* dst, ptrdiff_t stride);                                           \
  void Predict16Copy(uint8_t* dst, const uint8_t* src, ptrdiff_t stride);                       \
  void Predict16H(uint8_t* dst, const uint8_t* src, ptrdiff_t stride);                          \
  void Predict16V(uint8_t* dst, const uint8_t* src, ptrdiff_t stride);                          \
  void Predict16HV(uint8_t* dst, const uint8_t* src, ptrdiff_t stride);                         \
  void Predict8Copy(uint8_t* dst, const uint8_t* src, ptrdiff_t stride);                        \
  void Predict8H(uint8_t* dst, const uint8_t* src, ptrdiff_t stride);                           \
  void Predict8V(uint8_t* dst, const uint8_t* src, ptrdiff_t stride);                           \
  void Predict8HV(uint8_t* dst, const uint8_t* src, ptrdiff_t stride);                          \
  void FilterVerticalEdges(uint8_t* plane, ptrdiff_t stride, int width, int height, int qp);    \
  void FilterHorizontalEdges(uint8_t* plane, ptrdiff_t stride, int width, int height, int qp);  \
  void Yuy2Row(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* dst, int width);

#define VDEC3_KERNEL_TABLE(ns)                                                        \
  Kernels {                                                                           \
    ns::IdctPut, ns::IdctAdd, ns::DcPut, ns::DcAdd,                                   \
        {ns::Predict16Copy, ns::Predict16H, ns::Predict16V, ns::Predict16HV},         \
        {ns::Predict8Copy, ns::Predict8H, ns::Predict8V, ns::Predict8HV},             \
        ns::FilterVerticalEdges, ns::FilterHorizontalEdges, ns::Yuy2Row               \
  }

// The eight prediction entries from a template Predict<size, mode>.
#define VDEC3_DEFINE_PREDICT_ENTRIES()                                                           \
  void Predict16Copy(uint8_t* d, const uint8_t* s, ptrdiff_t st) { Predict<16, 0>(d, s, st); }  \
  void Predict16H(uint8_t* d, const uint8_t* s, ptrdiff_t st) { Predict<16, 1>(d, s, st); }     \
  void Predict16V(uint8_t* d, const uint8_t* s, ptrdiff_t st) { Predict<16, 2>(d, s, st); }     \
  void Predict16HV(uint8_t* d, const uint8_t* s, ptrdiff_t st) { Predict<16, 3>(d, s, st); }    \
  void Predict8Copy(uint8_t* d, const uint8_t* s, ptrdiff_t st) { Predict<8, 0>(d, s, st); }    \
  void Predict8H(uint8_t* d, const uint8_t* s, ptrdiff_t st) { Predict<8, 1>(d, s, st); }       \
  void Predict8V(uint8_t* d, const uint8_t* s, ptrdiff_t st) { Predict<8, 2>(d, s, st); }       \
  void Predict8HV(uint8_t* d, const uint8_t* s, ptrdiff_t st) { Predict<8, 3>(d, s, st); }

namespace portable {
VDEC3_DECLARE_KERNELS()
}  // namespace portable
inline constexpr Kernels kPortableKernels = VDEC3_KERNEL_TABLE(portable);

#if defined(__SSE2__)
#define VDEC3_HAVE_SSE2 1
namespace sse2 {
VDEC3_DECLARE_KERNELS()
}  // namespace sse2
inline constexpr Kernels kSse2Kernels = VDEC3_KERNEL_TABLE(sse2);
#endif

// The kernel table of an implementation (for the kernel tests), or null when not built.
const Kernels* KernelsFor(Vdec3Implementation implementation);

}  // namespace vdec3

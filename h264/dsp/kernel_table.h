// The pixel kernels of the H.264 decoder, reached only through a per-instance table of function
// pointers filled once at creation (see cpu.h for the choice of set).
//
// Conventions shared by every slot:
//  - Samples are uint8_t, addressed by a pointer and a stride in bytes (ptrdiff_t). The same
//    kernel therefore runs on a bordered macroblock work area, on a 24-byte-row temporary block,
//    and on picture rows; a field is addressed with twice the picture stride.
//  - Residuals and coefficients are int16_t; a residual stride is counted in elements.
//  - A 4x4 coefficient block is 16 int16_t in raster order: c[4 * row + column].
//  - Kernels never allocate and never read or write outside what their contract names.
//  - No kernel needs aligned pointers; aligned ones may be faster.
//  - Every set computes bit-identical results for every input, including inputs that no
//    conforming stream produces (so damaged streams decode identically whatever the set).
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrel::h264::dsp {

// ---------------------------------------------------------------------------------------------
// Inverse transform (ITU-T H.264 clauses 8.5.10 to 8.5.12)
//
// The 4x4 transform runs in 16-bit two's-complement arithmetic (rows first, then columns, then
// (x + 32) >> 6), which is exact for every conforming stream (clause 8.5.12.1 bounds the
// intermediate values to 16 bits) and gives the same wrapped result in every set otherwise.

// coef: 16 dequantised coefficients (the DC already scaled when it came from a DC transform).
// Writes the 4x4 residual r to res[y * res_stride + x] and clears the 16 coefficients.
using Idct4x4Fn = void (*)(int16_t* res, ptrdiff_t res_stride, int16_t* coef);
// DC-only block: every residual sample is (coef[0] + 32) >> 6; clears coef[0] only.
using Idct4x4DcFn = void (*)(int16_t* res, ptrdiff_t res_stride, int16_t* coef);
// Transform and add in one pass: dst = Clip1(dst + r) for the 4x4 block; clears the 16
// coefficients. The DC-only variant adds (coef[0] + 32) >> 6 and clears coef[0] only.
using Idct4x4AddFn = void (*)(uint8_t* dst, ptrdiff_t stride, int16_t* coef);

// Intra16x16 luma DC (clause 8.5.10): dc holds the 4x4 matrix c of Intra16x16DCLevel after the
// inverse scan (dc[4 * i + j], i the row); qp is QP'Y (0..51). Writes dcY of the 4x4 block in
// block row i, block column j to out[16 * luma4x4BlkIdx], luma4x4BlkIdx = 8 (i / 2) + 4 (j / 2)
// + 2 (i % 2) + j % 2, i.e. into the DC position of 16 coefficient blocks stored one after the
// other in decoding order. The other 15 coefficients of each block are left alone.
// Computed in 32 bits and stored truncated to 16 bits.
using LumaDcDequantFn = void (*)(int16_t* out, const int16_t dc[16], int qp);
// Chroma DC of 4:2:0 (clause 8.5.11): dc holds c (dc[2 * i + j]); qp is QP'C (0..51). Writes
// dcC of chroma4x4BlkIdx b (= 2 i + j) to out[16 * b]. 32-bit arithmetic, stored truncated.
using ChromaDcDequantFn = void (*)(int16_t* out, const int16_t dc[4], int qp);

// ---------------------------------------------------------------------------------------------
// Boundary strengths of a macroblock's internal edges (clause 8.7.2.1)
//
// Layout of a macroblock's strengths, uint8_t bs[32]: bs[16 * dir + 4 * edge + segment]; dir 0
// = vertical edges (edge e at luma column 4e, segment s = 4x4 block row s), dir 1 = horizontal
// edges (edge e at luma row 4e, segment s = 4x4 block column s). Edge 0 is the macroblock edge.
// nnz: non-zero coefficient counts of the 16 luma 4x4 blocks in raster order (nnz[4 * row + col]).

// All 32 strengths 0.
using BsClearFn = void (*)(uint8_t bs[32]);
// Internal edges (1..3) of both directions: 2 where either adjacent block has a non-zero count,
// else 0. Edge-0 entries are set to 0 (the caller fills in the macroblock edges afterwards).
using BsCoefFn = void (*)(uint8_t bs[32], const uint8_t nnz[16]);
// Motion test for the internal edges of an inter macroblock, after BsCoefFn: every internal
// entry that is still 0 becomes 1 when the two blocks use different reference pictures or their
// vectors differ by 4 or more horizontally or by mvy_limit (4 for frames, 2 for fields; 1..4) or more
// vertically. ref: a number identifying the reference picture (not the index: two indices that
// name the same picture must carry the same number) of each 8x8 quadrant, raster order; mv: the
// vector of each 4x4 block in raster order, mv[2 * blk] = x, mv[2 * blk + 1] = y, quarter
// samples. Edge-0 entries are left alone.
using BsMotionFn = void (*)(uint8_t bs[32], const int16_t ref[4], const int16_t mv[32],
                            int mvy_limit);

// ---------------------------------------------------------------------------------------------
// Deblocking edge filters (clauses 8.7.2.3, 8.7.2.4)
//
// pix points at q0 of the first sample of the edge: for a vertical edge the samples p3..p0 are
// pix[-4..-1] and q0..q3 pix[0..3] of each row, rows stride apart; for a horizontal edge pk is
// pix[-(k + 1) * stride] and qk pix[k * stride], along the edge one byte apart. A luma edge is 16
// samples long, a chroma edge 8. alpha is alpha'(indexA) and beta beta'(indexB) of Table 8-16
// (any value 0..255 works). Filtering reads p3..q3 and changes at most p2..q2 (a luma kernel may
// store p3 and q3 back unchanged). alpha or beta 0 leaves everything unchanged.
//
// tc0[s] is the Table 8-17 value tC0(indexA, bS) of segment s (samples 4s..4s+3 of a luma edge,
// 2s..2s+1 of a chroma edge; 0..25), or -1 for a segment with bS 0, which is left unchanged. Luma uses
// tC = tC0 + (ap < beta) + (aq < beta), chroma tC = tC0 + 1 (the caller passes the same tC0).
using LumaEdgeFn = void (*)(uint8_t* pix, ptrdiff_t stride, int alpha, int beta,
                            const int8_t tc0[4]);
// bS 4 along the whole edge.
using LumaEdgeStrongFn = void (*)(uint8_t* pix, ptrdiff_t stride, int alpha, int beta);
// Chroma filters work on both planes at once (the same strengths, alpha, beta and stride): cb and
// cr each point at q0 of their plane's edge. Chroma reads p1..q1 and writes p0, q0.
using ChromaEdgeFn = void (*)(uint8_t* cb, uint8_t* cr, ptrdiff_t stride, int alpha, int beta,
                              const int8_t tc0[4]);
using ChromaEdgeStrongFn = void (*)(uint8_t* cb, uint8_t* cr, ptrdiff_t stride, int alpha,
                                    int beta);

// ---------------------------------------------------------------------------------------------
// Stores: copy a finished block (16x16 luma, 8x8 chroma) between any two strided areas, e.g.
// from the work area into the picture (field rows: twice the picture stride, row 0 or 1).
using StoreFn = void (*)(uint8_t* dst, ptrdiff_t dst_stride, const uint8_t* src,
                         ptrdiff_t src_stride);

// ---------------------------------------------------------------------------------------------
// Deinterlacing of one luma row pair k (1 <= k <= height / 2 - 2) of a field-coded picture.
// cur points at source row 2k (rows 2k + 1, 2k + 2, 2k + 3 follow at cur_stride); prev likewise
// at row 2k of the previous source picture's luma. motion: the row pair's counters, one per pixel
// pair stored in both bytes (width bytes; values 0..3; read from the even byte, written to both).
// out receives the odd output row (width bytes); the even output row is the source row 2k and is
// not written. width is even and at least 4. Per pixel pair (x, x + 1), x even:
//  texture: textured when for any of the rows cur 2k+1, cur 2k, prev 2k+1, prev 2k the value
//    |R(x) - R'(x)| + |R(x) - R(x + 1)| exceeds 44 (R' the next row of the same parity);
//    T = 130 when textured, else 40;
//  motion: static when |sum over the pair of (cur(2k+1) + cur(2k+3) - prev(2k+1) - prev(2k+3))|
//    < T and |sum over the pair of (cur(2k) + cur(2k+2) - prev(2k) - prev(2k+2))| < T;
//  static with counter > 2: both pixels (cur(2k+1) + prev(2k+1) + 1) >> 1, counter kept;
//  static with counter <= 2: counter + 1, then edge-directed interpolation;
//  moving: counter 0, then edge-directed interpolation: with a = cur row 2k, b = cur row 2k+2,
//    g = |a(j+1) - b(j-1)|, h = |a(j) - b(j)|, d = |a(j-1) - b(j+1)|, direction +1 when
//    d < min(g, h), else -1 when g < h, else 0; pixel (a(j - dir) + b(j + dir) + 1) >> 1.
// The first two and the last two output pixels are row 2k (their pairs' counters are still
// updated). Reads columns 0..width-1 only.
using DeinterlaceRowFn = void (*)(uint8_t* out, const uint8_t* cur, ptrdiff_t cur_stride,
                                  const uint8_t* prev, ptrdiff_t prev_stride, uint8_t* motion,
                                  int width);

// ---------------------------------------------------------------------------------------------
// Intra prediction (clause 8.3). Every kernel writes the prediction into dst and reads its
// neighbours around dst: the left column dst[y * stride - 1], the upper row dst[x - stride] and
// the corner dst[-stride - 1]. All of these must be readable whatever the mode (a bordered work
// area); only the modes that use a neighbour depend on its content. The caller picks the entry
// from the availability of the neighbours (a neighbour outside the picture, in another slice, or
// inter-coded under constrained_intra_pred_flag is not available):

// Intra 4x4, indexed by Intra4x4PredMode 0..8, plus the DC entries for missing neighbours.
// top_right points at the four samples above and to the right of the block (x = 4..7, y = -1);
// only modes 3 (diagonal down left) and 7 (vertical left) read it. When those samples are not
// available (not yet decoded, outside the picture or the slice) pass null: the kernel then uses
// four copies of the sample at x = 3, y = -1 (clause 8.3.1.2). Other modes ignore it.
// Mode requirements: 0 and 3 and 7 need the upper row, 1 and 8 the left column, 4, 5 and 6 all
// three (upper, left, corner).
enum Intra4x4Entry : int {
  kI4Vertical = 0,
  kI4Horizontal = 1,
  kI4Dc = 2,  // upper and left available: (sum of 8 + 4) >> 3
  kI4DiagDownLeft = 3,
  kI4DiagDownRight = 4,
  kI4VerticalRight = 5,
  kI4HorizontalDown = 6,
  kI4VerticalLeft = 7,
  kI4HorizontalUp = 8,
  kI4DcLeft = 9,   // only the left column available: (sum of 4 + 2) >> 2
  kI4DcTop = 10,   // only the upper row available
  kI4Dc128 = 11,   // neither: 128
  kI4Count = 12,
};
using Intra4x4Fn = void (*)(uint8_t* dst, ptrdiff_t stride, const uint8_t* top_right);

// Intra 16x16, indexed by Intra16x16PredMode 0..3, plus DC entries (clause 8.3.3). Plane reads
// the corner too and needs all neighbours.
enum Intra16x16Entry : int {
  kI16Vertical = 0,
  kI16Horizontal = 1,
  kI16Dc = 2,  // both: (sum of 32 + 16) >> 5
  kI16Plane = 3,
  kI16DcLeft = 4,  // left only: (sum of 16 + 8) >> 4
  kI16DcTop = 5,   // upper only
  kI16Dc128 = 6,
  kI16Count = 7,
};
// Intra chroma 8x8 of one plane, indexed by intra_chroma_pred_mode 0..3, plus DC entries
// (clause 8.3.4). The DC entries implement the per-4x4 rules of clause 8.3.4.1-3 for the given
// availability: e.g. with both available the upper-right 4x4 block uses only the upper row.
enum IntraChromaEntry : int {
  kIcDc = 0,  // upper and left available
  kIcHorizontal = 1,
  kIcVertical = 2,
  kIcPlane = 3,
  kIcDcLeft = 4,  // left only
  kIcDcTop = 5,   // upper only
  kIcDc128 = 6,
  kIcCount = 7,
};
using IntraBlockFn = void (*)(uint8_t* dst, ptrdiff_t stride);

// ---------------------------------------------------------------------------------------------
// Inter prediction: interpolation (clause 8.4.2.2) and the final combine (clause 8.4.2.3 and
// the residual addition of clause 8.5.14).
//
// Luma: tables by block width (4, 8, 16), each indexed by 4 * xFrac + yFrac of the vector's
// quarter-sample phase (0 G copy, 1 d, 2 h, 3 n, 4 a, 5 e, 6 i, 7 p, 8 b, 9 f, 10 j, 11 q,
// 12 c, 13 g, 14 k, 15 r, the sample names of clause 8.4.2.2.1). src points at the integer
// sample G of the block's top-left prediction sample; a kernel reads at most columns -2..w+2 and
// rows -2..h+2 around it (the 6-tap filter's reach; a 16x16 block reads 21x21 samples, which a
// 24-byte-row temporary block holds). height is 4, 8 or 16. Out-of-picture samples must be
// supplied by the caller (edge emulation into a temporary block).
enum LumaWidth : int { kW4 = 0, kW8 = 1, kW16 = 2, kLumaWidthCount = 3 };
using LumaMcFn = void (*)(uint8_t* dst, ptrdiff_t dst_stride, const uint8_t* src,
                          ptrdiff_t src_stride, int height);

// Chroma: tables by block width (2, 4, 8), each indexed by the phase kind
// 3 - 2 * (my == 0) - (mx == 0): 0 copy, 1 horizontal only, 2 vertical only, 3 both; mx, my are
// the eighth-sample fractions (0..7). Bilinear ((8-x)(8-y)A + x(8-y)B + (8-x)yC + xyD + 32) >> 6.
// Reads columns 0..w and rows 0..h of src (the copy kind only w x h). height is 2, 4 or 8.
enum ChromaWidth : int { kCw2 = 0, kCw4 = 1, kCw8 = 2, kChromaWidthCount = 3 };
using ChromaMcFn = void (*)(uint8_t* dst, ptrdiff_t dst_stride, const uint8_t* src,
                            ptrdiff_t src_stride, int height, int mx, int my);
constexpr int ChromaMcKind(int mx, int my) { return 3 - 2 * (my == 0) - (mx == 0); }

// Combine, by weighted-prediction mode and block width (4, 8, 16; height 2..16, even):
//  kCombinePlain:    dst = Clip1(pred + res)
//  kCombineWeighted: w = Clip1(((pred * weight + 2^(log2_denom - 1)) >> log2_denom) + offset)
//                    (no rounding term and no shift when log2_denom is 0), dst = Clip1(w + res)
// res may be null (no residual: the prediction is only weighted or copied). pred may equal dst
// (in place). weight and offset in -128..127, log2_denom in 0..7 (the plain mode ignores them).
enum CombineMode : int { kCombinePlain = 0, kCombineWeighted = 1, kCombineModeCount = 2 };
struct Weight {
  int weight;
  int offset;
  int log2_denom;
};
using CombineFn = void (*)(uint8_t* dst, ptrdiff_t dst_stride, const uint8_t* pred,
                           ptrdiff_t pred_stride, const int16_t* res, ptrdiff_t res_stride,
                           int height, const Weight& w);

// ---------------------------------------------------------------------------------------------
struct KernelTable {
  // transform
  Idct4x4Fn idct4x4;
  Idct4x4DcFn idct4x4_dc;
  Idct4x4AddFn idct4x4_add;
  Idct4x4AddFn idct4x4_dc_add;
  LumaDcDequantFn luma_dc_dequant;
  ChromaDcDequantFn chroma_dc_dequant;

  // boundary strengths of internal edges
  BsClearFn bs_clear;
  BsCoefFn bs_coef;
  BsMotionFn bs_motion;

  // deblocking: [0] vertical edge, [1] horizontal edge
  LumaEdgeFn luma_edge[2];
  LumaEdgeStrongFn luma_edge_strong[2];
  ChromaEdgeFn chroma_edge[2];
  ChromaEdgeStrongFn chroma_edge_strong[2];

  // stores of a finished macroblock
  StoreFn store_luma;    // 16x16
  StoreFn store_chroma;  // 8x8, one plane

  DeinterlaceRowFn deinterlace_row;

  // intra prediction
  Intra4x4Fn intra4x4[kI4Count];
  IntraBlockFn intra16x16[kI16Count];
  IntraBlockFn intra_chroma[kIcCount];

  // inter prediction
  LumaMcFn luma_mc[kLumaWidthCount][16];
  ChromaMcFn chroma_mc[kChromaWidthCount][4];
  CombineFn combine[kCombineModeCount][kLumaWidthCount];
};

}  // namespace kestrel::h264::dsp

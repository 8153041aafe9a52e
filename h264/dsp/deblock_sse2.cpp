// SSE2 deblocking kernels: internal strengths, edge filters (a whole edge per call, 16 lanes),
// and the macroblock stores.
#include <cstring>

#include "h264/dsp/deblock_simd.h"
#include "h264/dsp/kernel_sets.h"

namespace kestrel::h264::dsp {
namespace {

using namespace sse2;

// ---- boundary strengths ---------------------------------------------------------------------
void BsClear(uint8_t bs[32]) {
  Store128(bs, _mm_setzero_si128());
  Store128(bs + 16, _mm_setzero_si128());
}

// 4x4 byte transpose: lane 4r + c -> lane 4c + r.
inline __m128i Transpose4x4B(__m128i m) {
  const __m128i x = _mm_unpacklo_epi8(m, _mm_srli_si128(m, 8));
  return _mm_unpacklo_epi8(x, _mm_srli_si128(x, 8));
}

// Lane 4e + s of the result: m[4(e-1) + s] | m[4e + s] for e >= 1, 0 for e = 0.
inline __m128i EdgePairs(__m128i m) { return _mm_or_si128(_mm_slli_si128(m, 4), _mm_and_si128(m, _mm_set_epi32(-1, -1, -1, 0))); }

void BsCoef(uint8_t bs[32], const uint8_t nnz[16]) {
  const __m128i coded = _mm_xor_si128(_mm_cmpeq_epi8(Load128(nnz), _mm_setzero_si128()), _mm_set1_epi8(-1));
  const __m128i two = _mm_set1_epi8(2);
  // horizontal edges pair blocks four lanes apart in raster order, vertical ones after a transpose
  Store128(bs, _mm_and_si128(EdgePairs(Transpose4x4B(coded)), two));
  Store128(bs + 16, _mm_and_si128(EdgePairs(coded), two));
}

// Per block pair (a, a + step blocks) of one raster row pair of vectors: 16-bit lane masks where
// |dx| >= 4 or |dy| >= limit.
inline __m128i MvDiffers(__m128i a, __m128i b, __m128i thr) {
  const __m128i d = _mm_subs_epi16(b, a);
  const __m128i big = _mm_or_si128(_mm_cmpgt_epi16(d, thr), _mm_cmplt_epi16(d, _mm_sub_epi16(_mm_setzero_si128(), thr)));
  // a block differs when x or y differs: OR the two 16-bit halves of each 32-bit lane
  const __m128i both = _mm_or_si128(big, _mm_shufflehi_epi16(_mm_shufflelo_epi16(big, 0xB1), 0xB1));
  return both;  // 32-bit lanes all-ones or zero
}

void BsMotion(uint8_t bs[32], const int16_t ref[4], const int16_t mv[32], int mvy_limit) {
  const __m128i thr = _mm_set1_epi32((3 & 0xFFFF) | ((mvy_limit - 1) << 16));
  __m128i row[4];
  for (int r = 0; r < 4; ++r) row[r] = Load128(mv + 8 * r);  // blocks (r, 0..3): x, y pairs
  // reference number per block, as 32-bit lanes of each block row
  const int32_t r0 = ref[0], r1 = ref[1], r2 = ref[2], r3 = ref[3];
  const __m128i top_refs = _mm_setr_epi32(r0, r0, r1, r1), bottom_refs = _mm_setr_epi32(r2, r2, r3, r3);
  const __m128i refs[4] = {top_refs, top_refs, bottom_refs, bottom_refs};
  __m128i vert[4], horz[4];  // 32-bit lane c: the pair ending at column / row boundary
  for (int r = 0; r < 4; ++r) {
    // vertical edges of row r: block c vs block c + 1, in lane c + 1 (lane 0 unused)
    const __m128i shifted = _mm_slli_si128(row[r], 4), rshift = _mm_slli_si128(refs[r], 4);
    vert[r] = _mm_or_si128(MvDiffers(shifted, row[r], thr), _mm_xor_si128(_mm_cmpeq_epi32(rshift, refs[r]), _mm_set1_epi32(-1)));
    horz[r] = r == 0 ? _mm_setzero_si128()
                     : _mm_or_si128(MvDiffers(row[r - 1], row[r], thr),
                                    _mm_xor_si128(_mm_cmpeq_epi32(refs[r - 1], refs[r]), _mm_set1_epi32(-1)));
  }
  // to bytes: lane 4r + c
  const __m128i v8 = _mm_packs_epi16(_mm_packs_epi32(vert[0], vert[1]), _mm_packs_epi32(vert[2], vert[3]));
  const __m128i h8 = _mm_packs_epi16(_mm_packs_epi32(horz[0], horz[1]), _mm_packs_epi32(horz[2], horz[3]));
  // vertical: entry 4e + s is the pair in block row s at column e: the transpose of v8
  const __m128i internal = _mm_set_epi32(-1, -1, -1, 0), one = _mm_set1_epi8(1);
  const __m128i vmask = _mm_and_si128(Transpose4x4B(v8), internal);
  const __m128i hmask = _mm_and_si128(h8, internal);  // horz[r] lane s: entry 4r + s already
  const __m128i bv = Load128(bs), bh = Load128(bs + 16);
  const __m128i zero = _mm_setzero_si128();
  Store128(bs, _mm_or_si128(bv, _mm_and_si128(_mm_and_si128(vmask, _mm_cmpeq_epi8(bv, zero)), one)));
  Store128(bs + 16, _mm_or_si128(bh, _mm_and_si128(_mm_and_si128(hmask, _mm_cmpeq_epi8(bh, zero)), one)));
}

// ---- edge filters ---------------------------------------------------------------------------

// Chroma: Cb rows (or columns) in lanes 0..7, Cr in lanes 8..15. Vertical edges transpose the
// four columns p1..q1 of 16 rows.
inline void LoadChromaColumns(const uint8_t* cb, const uint8_t* cr, ptrdiff_t stride, __m128i c[4]) {
  __m128i b[4];
  for (int h = 0; h < 2; ++h) {
    const uint8_t* p = (h == 0 ? cb : cr) - 2;
    const __m128i a0 = _mm_unpacklo_epi8(Load32(p), Load32(p + stride));
    const __m128i a1 = _mm_unpacklo_epi8(Load32(p + 2 * stride), Load32(p + 3 * stride));
    const __m128i a2 = _mm_unpacklo_epi8(Load32(p + 4 * stride), Load32(p + 5 * stride));
    const __m128i a3 = _mm_unpacklo_epi8(Load32(p + 6 * stride), Load32(p + 7 * stride));
    const __m128i lo = _mm_unpacklo_epi16(a0, a1), hi = _mm_unpacklo_epi16(a2, a3);
    b[2 * h] = _mm_unpacklo_epi32(lo, hi);      // columns 0 | 1 of eight rows
    b[2 * h + 1] = _mm_unpackhi_epi32(lo, hi);  // 2 | 3
  }
  c[0] = _mm_unpacklo_epi64(b[0], b[2]);
  c[1] = _mm_unpackhi_epi64(b[0], b[2]);
  c[2] = _mm_unpacklo_epi64(b[1], b[3]);
  c[3] = _mm_unpackhi_epi64(b[1], b[3]);
}
inline void StoreChromaP0Q0(uint8_t* cb, uint8_t* cr, ptrdiff_t stride, __m128i p0, __m128i q0) {
  const __m128i halves[2] = {_mm_unpacklo_epi8(p0, q0), _mm_unpackhi_epi8(p0, q0)};
  uint8_t* planes[2] = {cb - 1, cr - 1};
  for (int h = 0; h < 2; ++h) {
    alignas(16) uint16_t pairs[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(pairs), halves[h]);
    for (int y = 0; y < 8; ++y) std::memcpy(planes[h] + y * stride, &pairs[y], 2);
  }
}
inline __m128i LoadChromaRow(const uint8_t* cb, const uint8_t* cr, ptrdiff_t off) {
  return _mm_unpacklo_epi64(Load64(cb + off), Load64(cr + off));
}
inline void StoreChromaRow(uint8_t* cb, uint8_t* cr, ptrdiff_t off, __m128i v) {
  Store64(cb + off, v);
  Store64(cr + off, _mm_unpackhi_epi64(v, v));
}

void ChromaEdgeV(uint8_t* cb, uint8_t* cr, ptrdiff_t stride, int alpha, int beta, const int8_t tc0[4]) {
  if (SkipNormal(alpha, beta, tc0)) return;
  __m128i c[4];
  LoadChromaColumns(cb, cr, stride, c);
  ChromaNormal16(c, alpha, beta, ChromaTc0Lanes(tc0));
  StoreChromaP0Q0(cb, cr, stride, c[1], c[2]);
}
void ChromaEdgeH(uint8_t* cb, uint8_t* cr, ptrdiff_t stride, int alpha, int beta, const int8_t tc0[4]) {
  if (SkipNormal(alpha, beta, tc0)) return;
  __m128i c[4];
  for (int k = 0; k < 4; ++k) c[k] = LoadChromaRow(cb, cr, (k - 2) * stride);
  ChromaNormal16(c, alpha, beta, ChromaTc0Lanes(tc0));
  StoreChromaRow(cb, cr, -stride, c[1]);
  StoreChromaRow(cb, cr, 0, c[2]);
}
void ChromaEdgeStrongV(uint8_t* cb, uint8_t* cr, ptrdiff_t stride, int alpha, int beta) {
  if (alpha == 0 || beta == 0) return;
  __m128i c[4];
  LoadChromaColumns(cb, cr, stride, c);
  ChromaStrong16(c, alpha, beta);
  StoreChromaP0Q0(cb, cr, stride, c[1], c[2]);
}
void ChromaEdgeStrongH(uint8_t* cb, uint8_t* cr, ptrdiff_t stride, int alpha, int beta) {
  if (alpha == 0 || beta == 0) return;
  __m128i c[4];
  for (int k = 0; k < 4; ++k) c[k] = LoadChromaRow(cb, cr, (k - 2) * stride);
  ChromaStrong16(c, alpha, beta);
  StoreChromaRow(cb, cr, -stride, c[1]);
  StoreChromaRow(cb, cr, 0, c[2]);
}

// ---- stores ---------------------------------------------------------------------------------
void StoreLuma(uint8_t* dst, ptrdiff_t dst_stride, const uint8_t* src, ptrdiff_t src_stride) {
  for (int y = 0; y < 16; ++y) Store128(dst + y * dst_stride, Load128(src + y * src_stride));
}
void StoreChroma(uint8_t* dst, ptrdiff_t dst_stride, const uint8_t* src, ptrdiff_t src_stride) {
  for (int y = 0; y < 8; ++y) Store64(dst + y * dst_stride, Load64(src + y * src_stride));
}

}  // namespace

void InitDeblockSse2(KernelTable& t) {
  t.bs_clear = BsClear;
  t.bs_coef = BsCoef;
  t.bs_motion = BsMotion;
  t.luma_edge[0] = LumaEdgeVertical<LumaNormal16>;
  t.luma_edge[1] = LumaEdgeHorizontal<LumaNormal16>;
  t.luma_edge_strong[0] = LumaEdgeStrongVertical<LumaStrong16>;
  t.luma_edge_strong[1] = LumaEdgeStrongHorizontal<LumaStrong16>;
  t.chroma_edge[0] = ChromaEdgeV;
  t.chroma_edge[1] = ChromaEdgeH;
  t.chroma_edge_strong[0] = ChromaEdgeStrongV;
  t.chroma_edge_strong[1] = ChromaEdgeStrongH;
  t.store_luma = StoreLuma;
  t.store_chroma = StoreChroma;
}

}  // namespace kestrel::h264::dsp

// Portable deblocking kernels (ITU-T H.264 clause 8.7): internal boundary strengths, the edge
// filters, and the stores of a finished macroblock.
#include <cstdlib>
#include <cstring>

#include "h264/dsp/dsp_util.h"
#include "h264/dsp/kernel_sets.h"

namespace kestrel::h264::dsp {
namespace {

// ---- boundary strengths ---------------------------------------------------------------------
void BsClear(uint8_t bs[32]) { std::memset(bs, 0, 32); }

void BsCoef(uint8_t bs[32], const uint8_t nnz[16]) {
  for (int s = 0; s < 4; ++s) {
    bs[4 * 0 + s] = 0;
    bs[16 + 4 * 0 + s] = 0;
    for (int e = 1; e < 4; ++e) {
      bs[4 * e + s] = (nnz[4 * s + e - 1] | nnz[4 * s + e]) != 0 ? 2 : 0;
      bs[16 + 4 * e + s] = (nnz[4 * (e - 1) + s] | nnz[4 * e + s]) != 0 ? 2 : 0;
    }
  }
}

inline bool MotionDiffers(const int16_t ref[4], const int16_t mv[32], int a, int b, int limit) {
  const int qa = 2 * (a / 8) + (a % 4) / 2, qb = 2 * (b / 8) + (b % 4) / 2;
  return ref[qa] != ref[qb] || std::abs(mv[2 * a] - mv[2 * b]) >= 4 ||
         std::abs(mv[2 * a + 1] - mv[2 * b + 1]) >= limit;
}

void BsMotion(uint8_t bs[32], const int16_t ref[4], const int16_t mv[32], int mvy_limit) {
  for (int e = 1; e < 4; ++e) {
    for (int s = 0; s < 4; ++s) {
      uint8_t& v = bs[4 * e + s];  // blocks (row s, col e - 1) | (row s, col e)
      if (v == 0 && MotionDiffers(ref, mv, 4 * s + e - 1, 4 * s + e, mvy_limit)) v = 1;
      uint8_t& h = bs[16 + 4 * e + s];  // blocks (row e - 1, col s) / (row e, col s)
      if (h == 0 && MotionDiffers(ref, mv, 4 * (e - 1) + s, 4 * e + s, mvy_limit)) h = 1;
    }
  }
}

// ---- edge filters ---------------------------------------------------------------------------
// One line across the edge: p[k] is at base - (k + 1) * step, q[k] at base + k * step.
struct Line {
  uint8_t* base;
  ptrdiff_t step;
  uint8_t& p(int k) const { return base[-(k + 1) * step]; }
  uint8_t& q(int k) const { return base[k * step]; }
};

inline bool EdgeActive(const Line& l, int alpha, int beta) {
  const int p0 = l.p(0), p1 = l.p(1), q0 = l.q(0), q1 = l.q(1);
  return std::abs(p0 - q0) < alpha && std::abs(p1 - p0) < beta && std::abs(q1 - q0) < beta;
}

// Clause 8.7.2.3, luma (bS < 4).
inline void LumaNormal(const Line& l, int alpha, int beta, int tc0) {
  if (!EdgeActive(l, alpha, beta)) return;
  const int p0 = l.p(0), p1 = l.p(1), p2 = l.p(2), q0 = l.q(0), q1 = l.q(1), q2 = l.q(2);
  const bool ap = std::abs(p2 - p0) < beta, aq = std::abs(q2 - q0) < beta;
  const int tc = tc0 + ap + aq;
  const int delta = Clip3(-tc, tc, (((q0 - p0) * 4) + (p1 - q1) + 4) >> 3);
  l.p(0) = Clip1(p0 + delta);
  l.q(0) = Clip1(q0 - delta);
  const int avg = (p0 + q0 + 1) >> 1;
  if (ap) l.p(1) = static_cast<uint8_t>(p1 + Clip3(-tc0, tc0, (p2 + avg - 2 * p1) >> 1));
  if (aq) l.q(1) = static_cast<uint8_t>(q1 + Clip3(-tc0, tc0, (q2 + avg - 2 * q1) >> 1));
}

// Clause 8.7.2.4, luma (bS 4).
inline void LumaStrong(const Line& l, int alpha, int beta) {
  if (!EdgeActive(l, alpha, beta)) return;
  const int p0 = l.p(0), p1 = l.p(1), p2 = l.p(2), p3 = l.p(3);
  const int q0 = l.q(0), q1 = l.q(1), q2 = l.q(2), q3 = l.q(3);
  const bool close = std::abs(p0 - q0) < ((alpha >> 2) + 2);
  if (close && std::abs(p2 - p0) < beta) {
    l.p(0) = static_cast<uint8_t>((p2 + 2 * p1 + 2 * p0 + 2 * q0 + q1 + 4) >> 3);
    l.p(1) = static_cast<uint8_t>((p2 + p1 + p0 + q0 + 2) >> 2);
    l.p(2) = static_cast<uint8_t>((2 * p3 + 3 * p2 + p1 + p0 + q0 + 4) >> 3);
  } else {
    l.p(0) = static_cast<uint8_t>((2 * p1 + p0 + q1 + 2) >> 2);
  }
  if (close && std::abs(q2 - q0) < beta) {
    l.q(0) = static_cast<uint8_t>((p1 + 2 * p0 + 2 * q0 + 2 * q1 + q2 + 4) >> 3);
    l.q(1) = static_cast<uint8_t>((p0 + q0 + q1 + q2 + 2) >> 2);
    l.q(2) = static_cast<uint8_t>((2 * q3 + 3 * q2 + q1 + q0 + p0 + 4) >> 3);
  } else {
    l.q(0) = static_cast<uint8_t>((2 * q1 + q0 + p1 + 2) >> 2);
  }
}

inline void ChromaNormal(const Line& l, int alpha, int beta, int tc0) {
  if (!EdgeActive(l, alpha, beta)) return;
  const int p0 = l.p(0), p1 = l.p(1), q0 = l.q(0), q1 = l.q(1);
  const int tc = tc0 + 1;
  const int delta = Clip3(-tc, tc, (((q0 - p0) * 4) + (p1 - q1) + 4) >> 3);
  l.p(0) = Clip1(p0 + delta);
  l.q(0) = Clip1(q0 - delta);
}

inline void ChromaStrong(const Line& l, int alpha, int beta) {
  if (!EdgeActive(l, alpha, beta)) return;
  const int p0 = l.p(0), p1 = l.p(1), q0 = l.q(0), q1 = l.q(1);
  l.p(0) = static_cast<uint8_t>((2 * p1 + p0 + q1 + 2) >> 2);
  l.q(0) = static_cast<uint8_t>((2 * q1 + q0 + p1 + 2) >> 2);
}

// kVertical: the edge runs down a column, lines are rows (across = 1, along = stride).
template <bool kVertical>
void LumaEdge(uint8_t* pix, ptrdiff_t stride, int alpha, int beta, const int8_t tc0[4]) {
  const ptrdiff_t across = kVertical ? 1 : stride, along = kVertical ? stride : 1;
  for (int i = 0; i < 16; ++i)
    if (tc0[i >> 2] >= 0) LumaNormal(Line{pix + i * along, across}, alpha, beta, tc0[i >> 2]);
}
template <bool kVertical>
void LumaEdgeStrong(uint8_t* pix, ptrdiff_t stride, int alpha, int beta) {
  const ptrdiff_t across = kVertical ? 1 : stride, along = kVertical ? stride : 1;
  for (int i = 0; i < 16; ++i) LumaStrong(Line{pix + i * along, across}, alpha, beta);
}
template <bool kVertical>
void ChromaEdge(uint8_t* cb, uint8_t* cr, ptrdiff_t stride, int alpha, int beta,
                const int8_t tc0[4]) {
  const ptrdiff_t across = kVertical ? 1 : stride, along = kVertical ? stride : 1;
  for (int i = 0; i < 8; ++i) {
    if (tc0[i >> 1] < 0) continue;
    ChromaNormal(Line{cb + i * along, across}, alpha, beta, tc0[i >> 1]);
    ChromaNormal(Line{cr + i * along, across}, alpha, beta, tc0[i >> 1]);
  }
}
template <bool kVertical>
void ChromaEdgeStrong(uint8_t* cb, uint8_t* cr, ptrdiff_t stride, int alpha, int beta) {
  const ptrdiff_t across = kVertical ? 1 : stride, along = kVertical ? stride : 1;
  for (int i = 0; i < 8; ++i) {
    ChromaStrong(Line{cb + i * along, across}, alpha, beta);
    ChromaStrong(Line{cr + i * along, across}, alpha, beta);
  }
}

// ---- stores ---------------------------------------------------------------------------------
template <int N>
void Store(uint8_t* dst, ptrdiff_t dst_stride, const uint8_t* src, ptrdiff_t src_stride) {
  for (int y = 0; y < N; ++y) std::memcpy(dst + y * dst_stride, src + y * src_stride, N);
}

}  // namespace

void InitDeblockPortable(KernelTable& t) {
  t.bs_clear = BsClear;
  t.bs_coef = BsCoef;
  t.bs_motion = BsMotion;
  t.luma_edge[0] = LumaEdge<true>;
  t.luma_edge[1] = LumaEdge<false>;
  t.luma_edge_strong[0] = LumaEdgeStrong<true>;
  t.luma_edge_strong[1] = LumaEdgeStrong<false>;
  t.chroma_edge[0] = ChromaEdge<true>;
  t.chroma_edge[1] = ChromaEdge<false>;
  t.chroma_edge_strong[0] = ChromaEdgeStrong<true>;
  t.chroma_edge_strong[1] = ChromaEdgeStrong<false>;
  t.store_luma = Store<16>;
  t.store_chroma = Store<8>;
}

}  // namespace kestrel::h264::dsp

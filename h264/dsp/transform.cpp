// Portable inverse transforms: the 4x4 integer transform and the DC paths (ITU-T H.264 clauses
// 8.5.10 to 8.5.12).
#include <cstring>

#include "h264/dsp/dsp_util.h"
#include "h264/dsp/kernel_sets.h"

namespace kestrel::h264::dsp {
namespace {

// One-dimensional inverse transform in 16-bit arithmetic (clause 8.5.12.2).
inline void Butterfly(int16_t d0, int16_t d1, int16_t d2, int16_t d3, int16_t out[4]) {
  const int16_t e0 = Wrap16(d0 + d2);
  const int16_t e1 = Wrap16(d0 - d2);
  const int16_t e2 = Wrap16((d1 >> 1) - d3);
  const int16_t e3 = Wrap16(d1 + (d3 >> 1));
  out[0] = Wrap16(e0 + e3);
  out[1] = Wrap16(e1 + e2);
  out[2] = Wrap16(e1 - e2);
  out[3] = Wrap16(e0 - e3);
}

// Residual r[y][x] of a 4x4 block, rows first, then columns, then (x + 32) >> 6.
inline void Transform(const int16_t* c, int16_t r[16]) {
  int16_t f[16];
  for (int i = 0; i < 4; ++i) Butterfly(c[4 * i], c[4 * i + 1], c[4 * i + 2], c[4 * i + 3], f + 4 * i);
  for (int j = 0; j < 4; ++j) {
    int16_t g[4];
    Butterfly(f[j], f[4 + j], f[8 + j], f[12 + j], g);
    for (int i = 0; i < 4; ++i) r[4 * i + j] = static_cast<int16_t>(Wrap16(g[i] + 32) >> 6);
  }
}

void Idct4x4(int16_t* res, ptrdiff_t res_stride, int16_t* coef) {
  int16_t r[16];
  Transform(coef, r);
  std::memset(coef, 0, 16 * sizeof(int16_t));
  for (int y = 0; y < 4; ++y) std::memcpy(res + y * res_stride, r + 4 * y, 4 * sizeof(int16_t));
}

void Idct4x4Dc(int16_t* res, ptrdiff_t res_stride, int16_t* coef) {
  const int16_t dc = static_cast<int16_t>(Wrap16(coef[0] + 32) >> 6);
  coef[0] = 0;
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) res[y * res_stride + x] = dc;
}

void Idct4x4Add(uint8_t* dst, ptrdiff_t stride, int16_t* coef) {
  int16_t r[16];
  Transform(coef, r);
  std::memset(coef, 0, 16 * sizeof(int16_t));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) dst[y * stride + x] = Clip1(dst[y * stride + x] + r[4 * y + x]);
}

void Idct4x4DcAdd(uint8_t* dst, ptrdiff_t stride, int16_t* coef) {
  const int dc = Wrap16(coef[0] + 32) >> 6;
  coef[0] = 0;
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) dst[y * stride + x] = Clip1(dst[y * stride + x] + dc);
}

// luma4x4BlkIdx of the block in block row i, block column j.
constexpr int kBlkIdx[16] = {0, 1, 4, 5, 2, 3, 6, 7, 8, 9, 12, 13, 10, 11, 14, 15};

// Clause 8.5.10: f = H c H with H = (1 1 1 1 / 1 1 -1 -1 / 1 -1 -1 1 / 1 -1 1 -1), then the DC
// scaling. With the flat scaling of these profiles
// LevelScale4x4(m, 0, 0) = 16 v(m, 0); the formulas below are the clause's, divided through by
// 16 where that is exact, which keeps every product inside 32 bits for any 16-bit input.
void LumaDcDequant(int16_t* out, const int16_t dc[16], int qp) {
  int t[16];
  for (int i = 0; i < 4; ++i) {
    const int a = dc[4 * i] + dc[4 * i + 1], b = dc[4 * i] - dc[4 * i + 1];
    const int c = dc[4 * i + 2] + dc[4 * i + 3], d = dc[4 * i + 2] - dc[4 * i + 3];
    t[4 * i] = a + c;
    t[4 * i + 1] = a - c;
    t[4 * i + 2] = b - d;
    t[4 * i + 3] = b + d;
  }
  const int v = kLevelScaleDc[qp % 6], q6 = qp / 6;
  for (int j = 0; j < 4; ++j) {
    const int a = t[j] + t[4 + j], b = t[j] - t[4 + j];
    const int c = t[8 + j] + t[12 + j], d = t[8 + j] - t[12 + j];
    const int f[4] = {a + c, a - c, b - d, b + d};
    for (int i = 0; i < 4; ++i) {
      const int fv = f[i] * v;
      const int s = q6 >= 6 ? fv * (1 << (q6 - 2)) : (16 * fv + (1 << (5 - q6))) >> (6 - q6);
      out[16 * kBlkIdx[4 * i + j]] = static_cast<int16_t>(s);
    }
  }
}

// Clause 8.5.11.2 for 4:2:0: dcC = ((f * 16 v) << (qp / 6)) >> 5 = ((f * v) << (qp / 6)) >> 1.
void ChromaDcDequant(int16_t* out, const int16_t dc[4], int qp) {
  const int a = dc[0] + dc[1], b = dc[0] - dc[1], c = dc[2] + dc[3], d = dc[2] - dc[3];
  const int f[4] = {a + c, b + d, a - c, b - d};
  const int v = kLevelScaleDc[qp % 6], scale = 1 << (qp / 6);
  for (int k = 0; k < 4; ++k) out[16 * k] = static_cast<int16_t>((f[k] * v * scale) >> 1);
}

}  // namespace

void InitTransformPortable(KernelTable& t) {
  t.idct4x4 = Idct4x4;
  t.idct4x4_dc = Idct4x4Dc;
  t.idct4x4_add = Idct4x4Add;
  t.idct4x4_dc_add = Idct4x4DcAdd;
  t.luma_dc_dequant = LumaDcDequant;
  t.chroma_dc_dequant = ChromaDcDequant;
}

}  // namespace kestrel::h264::dsp

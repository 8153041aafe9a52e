// SSE2 intra prediction: 4x4 (the directional modes from one edge vector), 16x16 and chroma 8x8.
#include <cstring>

#include "h264/dsp/kernel_sets.h"
#include "h264/dsp/simd_sse2.h"

namespace kestrel::h264::dsp {
namespace {

using namespace sse2;

// (a + 2 b + c + 2) >> 2 on bytes, exactly: the average of b and floor((a + c) / 2).
inline __m128i Tap3(__m128i a, __m128i b, __m128i c) {
  const __m128i floor_ac = _mm_sub_epi8(_mm_avg_epu8(a, c), _mm_and_si128(_mm_xor_si128(a, c), _mm_set1_epi8(1)));
  return _mm_avg_epu8(floor_ac, b);
}

inline uint32_t Lanes(__m128i v, int first) {
  alignas(16) uint8_t b[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(b), v);
  uint32_t out;
  std::memcpy(&out, b + first, 4);
  return out;
}
inline void Row(uint8_t* dst, uint32_t v) { std::memcpy(dst, &v, 4); }

// The edge of a 4x4 block as bytes: e[0..3] = p[-1,3..0], e[4] = p[-1,-1], e[5..12] = p[0..7,-1]
// and e[13] = e[12], so the 3-tap at 12 is the closing (p[6,-1] + 3 p[7,-1] + 2) >> 2.
struct Edge {
  __m128i t2;  // lane k: (e[k] + e[k+1] + 1) >> 1
  __m128i t3;  // lane k: 3-tap centred on e[k+1]
};
inline Edge LoadEdge(const uint8_t* dst, ptrdiff_t stride, const uint8_t* top_right) {
  uint64_t lo = 0;
  for (int y = 0; y < 4; ++y) lo |= uint64_t{dst[y * stride - 1]} << (8 * (3 - y));
  lo |= uint64_t{dst[-stride - 1]} << 32;
  uint32_t top;
  std::memcpy(&top, dst - stride, 4);
  lo |= uint64_t{top & 0xFFFFFFu} << 40;
  uint64_t hi = top >> 24;
  uint32_t tr;
  if (top_right != nullptr) std::memcpy(&tr, top_right, 4);
  else tr = (top >> 24) * 0x01010101u;
  hi |= uint64_t{tr} << 8;
  hi |= uint64_t{tr >> 24} << 40;
  const __m128i e = _mm_set_epi64x(static_cast<int64_t>(hi), static_cast<int64_t>(lo));
  const __m128i e1 = _mm_srli_si128(e, 1), e2 = _mm_srli_si128(e, 2);
  return {_mm_avg_epu8(e, e1), Tap3(e, e1, e2)};
}

void Pred4x4Ddl(uint8_t* dst, ptrdiff_t stride, const uint8_t* top_right) {
  const Edge e = LoadEdge(dst, stride, top_right);
  for (int y = 0; y < 4; ++y) Row(dst + y * stride, Lanes(e.t3, 5 + y));
}
void Pred4x4Ddr(uint8_t* dst, ptrdiff_t stride, const uint8_t*) {
  const Edge e = LoadEdge(dst, stride, nullptr);
  for (int y = 0; y < 4; ++y) Row(dst + y * stride, Lanes(e.t3, 3 - y));
}
void Pred4x4Vl(uint8_t* dst, ptrdiff_t stride, const uint8_t* top_right) {
  const Edge e = LoadEdge(dst, stride, top_right);
  Row(dst, Lanes(e.t2, 5));
  Row(dst + stride, Lanes(e.t3, 5));
  Row(dst + 2 * stride, Lanes(e.t2, 6));
  Row(dst + 3 * stride, Lanes(e.t3, 6));
}
void Pred4x4Vr(uint8_t* dst, ptrdiff_t stride, const uint8_t*) {
  const Edge e = LoadEdge(dst, stride, nullptr);
  const uint32_t r0 = Lanes(e.t2, 4), r1 = Lanes(e.t3, 3);
  const uint32_t t3 = Lanes(e.t3, 0);  // bytes: 3-taps centred on e[1], e[2], e[3], e[4]
  Row(dst, r0);
  Row(dst + stride, r1);
  Row(dst + 2 * stride, (r0 << 8) | ((t3 >> 16) & 0xFF));  // 3-tap on e[3]
  Row(dst + 3 * stride, (r1 << 8) | ((t3 >> 8) & 0xFF));   // 3-tap on e[2]
}
void Pred4x4Hd(uint8_t* dst, ptrdiff_t stride, const uint8_t*) {
  const Edge e = LoadEdge(dst, stride, nullptr);
  // interleaved (t2 at k, 3-tap on e[k+1]): rows 3, 2, 1 are windows of it
  const __m128i mix = _mm_unpacklo_epi8(e.t2, e.t3);
  Row(dst + 3 * stride, Lanes(mix, 0));
  Row(dst + 2 * stride, Lanes(mix, 2));
  Row(dst + stride, Lanes(mix, 4));
  Row(dst, (Lanes(mix, 6) & 0xFFFF) | (Lanes(e.t3, 4) << 16));
}
void Pred4x4Hu(uint8_t* dst, ptrdiff_t stride, const uint8_t*) {
  // left samples L0..L3 followed by copies of L3
  uint32_t l = 0;
  for (int y = 0; y < 4; ++y) l |= uint32_t{dst[y * stride - 1]} << (8 * y);
  const uint64_t ext = l | (uint64_t{l >> 24} * 0x01010101u << 32);
  const __m128i v = _mm_cvtsi64_si128(static_cast<int64_t>(ext));
  const __m128i v1 = _mm_srli_si128(v, 1), v2 = _mm_srli_si128(v, 2);
  // upper half of v1/v2 shifted in zeros past byte 7: patch them with L3
  const __m128i l3 = _mm_set1_epi8(static_cast<char>(l >> 24));
  const __m128i keep = _mm_set_epi64x(0, -1);
  const __m128i a = Select(keep, v, l3), b = Select(keep, v1, l3), c = Select(keep, v2, l3);
  const __m128i mix = _mm_unpacklo_epi8(_mm_avg_epu8(a, b), Tap3(a, b, c));
  for (int y = 0; y < 4; ++y) Row(dst + y * stride, Lanes(mix, 2 * y));
}

void Fill4(uint8_t* dst, ptrdiff_t stride, uint32_t v) {
  for (int y = 0; y < 4; ++y) Row(dst + y * stride, v);
}
void Pred4x4V(uint8_t* dst, ptrdiff_t stride, const uint8_t*) {
  uint32_t v;
  std::memcpy(&v, dst - stride, 4);
  Fill4(dst, stride, v);
}
void Pred4x4H(uint8_t* dst, ptrdiff_t stride, const uint8_t*) {
  for (int y = 0; y < 4; ++y) Row(dst + y * stride, dst[y * stride - 1] * 0x01010101u);
}
inline int SumTop4(const uint8_t* dst, ptrdiff_t stride) {
  return _mm_cvtsi128_si32(_mm_sad_epu8(Load32(dst - stride), _mm_setzero_si128()));
}
inline int SumLeft(const uint8_t* dst, ptrdiff_t stride, int n) {
  int s = 0;
  for (int y = 0; y < n; ++y) s += dst[y * stride - 1];
  return s;
}
void Pred4x4Dc(uint8_t* dst, ptrdiff_t stride, const uint8_t*) {
  Fill4(dst, stride, ((SumTop4(dst, stride) + SumLeft(dst, stride, 4) + 4) >> 3) * 0x01010101u);
}
void Pred4x4DcLeft(uint8_t* dst, ptrdiff_t stride, const uint8_t*) {
  Fill4(dst, stride, ((SumLeft(dst, stride, 4) + 2) >> 2) * 0x01010101u);
}
void Pred4x4DcTop(uint8_t* dst, ptrdiff_t stride, const uint8_t*) {
  Fill4(dst, stride, ((SumTop4(dst, stride) + 2) >> 2) * 0x01010101u);
}
void Pred4x4Dc128(uint8_t* dst, ptrdiff_t stride, const uint8_t*) { Fill4(dst, stride, 0x80808080u); }

// ---- 16x16 and 8x8 --------------------------------------------------------------------------
template <int N>
inline void StoreRow(uint8_t* p, __m128i v) {
  if constexpr (N == 16) Store128(p, v);
  else Store64(p, v);
}
template <int N>
inline __m128i LoadRow(const uint8_t* p) {
  if constexpr (N == 16) return Load128(p);
  else return Load64(p);
}
template <int N>
void FillN(uint8_t* dst, ptrdiff_t stride, int value) {
  const __m128i v = _mm_set1_epi8(static_cast<char>(value));
  for (int y = 0; y < N; ++y) StoreRow<N>(dst + y * stride, v);
}
template <int N>
void PredV(uint8_t* dst, ptrdiff_t stride) {
  const __m128i v = LoadRow<N>(dst - stride);
  for (int y = 0; y < N; ++y) StoreRow<N>(dst + y * stride, v);
}
template <int N>
void PredH(uint8_t* dst, ptrdiff_t stride) {
  for (int y = 0; y < N; ++y) StoreRow<N>(dst + y * stride, _mm_set1_epi8(static_cast<char>(dst[y * stride - 1])));
}
template <int N>
inline int SumTop(const uint8_t* dst, ptrdiff_t stride) {
  const __m128i s = _mm_sad_epu8(LoadRow<N>(dst - stride), _mm_setzero_si128());
  return _mm_cvtsi128_si32(s) + _mm_extract_epi16(s, 4);
}
void Pred16Dc(uint8_t* dst, ptrdiff_t stride) {
  FillN<16>(dst, stride, (SumTop<16>(dst, stride) + SumLeft(dst, stride, 16) + 16) >> 5);
}
void Pred16DcLeft(uint8_t* dst, ptrdiff_t stride) { FillN<16>(dst, stride, (SumLeft(dst, stride, 16) + 8) >> 4); }
void Pred16DcTop(uint8_t* dst, ptrdiff_t stride) { FillN<16>(dst, stride, (SumTop<16>(dst, stride) + 8) >> 4); }
template <int N>
void PredDc128(uint8_t* dst, ptrdiff_t stride) {
  FillN<N>(dst, stride, 128);
}

// Plane: a + b (x - c0) + c (y - c0) + 16 >> 5 evaluated in 16-bit lanes (exact for 8-bit
// neighbours: every partial sum stays within +-20000).
template <int N, int kFactor>
void PredPlane(uint8_t* dst, ptrdiff_t stride) {
  constexpr int half = N / 2;
  const uint8_t* top = dst - stride;
  int h = 0, v = 0;
  for (int k = 0; k < half; ++k) {
    h += (k + 1) * (top[half + k] - top[half - 2 - k]);
    v += (k + 1) * (dst[(half + k) * stride - 1] - dst[(half - 2 - k) * stride - 1]);
  }
  const int a = 16 * (dst[(N - 1) * stride - 1] + top[N - 1]);
  const int b = (kFactor * h + 32) >> 6;
  const int c = (kFactor * v + 32) >> 6;
  const __m128i ramp = _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7);
  const __m128i bv = _mm_set1_epi16(static_cast<int16_t>(b));
  __m128i row_lo = _mm_add_epi16(_mm_set1_epi16(static_cast<int16_t>(a - (half - 1) * (b + c) + 16)),
                                 _mm_mullo_epi16(ramp, bv));
  __m128i row_hi = _mm_add_epi16(row_lo, _mm_slli_epi16(bv, 3));
  const __m128i cv = _mm_set1_epi16(static_cast<int16_t>(c));
  for (int y = 0; y < N; ++y) {
    const __m128i lo = _mm_srai_epi16(row_lo, 5);
    if constexpr (N == 16) Store128(dst + y * stride, _mm_packus_epi16(lo, _mm_srai_epi16(row_hi, 5)));
    else Store64(dst + y * stride, _mm_packus_epi16(lo, lo));
    row_lo = _mm_add_epi16(row_lo, cv);
    row_hi = _mm_add_epi16(row_hi, cv);
  }
}

// Chroma DC by 4x4 block: dc[0..3] for blocks (0,0), (1,0), (0,1), (1,1).
inline void FillChromaDc(uint8_t* dst, ptrdiff_t stride, const int dc[4]) {
  const uint64_t top = (dc[0] * 0x01010101ull) | (dc[1] * 0x01010101ull << 32);
  const uint64_t bottom = (dc[2] * 0x01010101ull) | (dc[3] * 0x01010101ull << 32);
  for (int y = 0; y < 4; ++y) std::memcpy(dst + y * stride, &top, 8);
  for (int y = 4; y < 8; ++y) std::memcpy(dst + y * stride, &bottom, 8);
}
inline void ChromaSums(const uint8_t* dst, ptrdiff_t stride, int top[2], int left[2]) {
  const __m128i s = _mm_sad_epu8(_mm_unpacklo_epi32(Load32(dst - stride), _mm_setzero_si128()),
                                 _mm_setzero_si128());
  top[0] = _mm_cvtsi128_si32(s);
  top[1] = _mm_cvtsi128_si32(_mm_sad_epu8(Load32(dst - stride + 4), _mm_setzero_si128()));
  left[0] = SumLeft(dst, stride, 4);
  left[1] = SumLeft(dst + 4 * stride, stride, 4);
}
void PredChromaDc(uint8_t* dst, ptrdiff_t stride) {
  int t[2], l[2];
  ChromaSums(dst, stride, t, l);
  const int dc[4] = {(t[0] + l[0] + 4) >> 3, (t[1] + 2) >> 2, (l[1] + 2) >> 2, (t[1] + l[1] + 4) >> 3};
  FillChromaDc(dst, stride, dc);
}
void PredChromaDcLeft(uint8_t* dst, ptrdiff_t stride) {
  int t[2], l[2];
  ChromaSums(dst, stride, t, l);
  const int dc[4] = {(l[0] + 2) >> 2, (l[0] + 2) >> 2, (l[1] + 2) >> 2, (l[1] + 2) >> 2};
  FillChromaDc(dst, stride, dc);
}
void PredChromaDcTop(uint8_t* dst, ptrdiff_t stride) {
  int t[2], l[2];
  ChromaSums(dst, stride, t, l);
  const int dc[4] = {(t[0] + 2) >> 2, (t[1] + 2) >> 2, (t[0] + 2) >> 2, (t[1] + 2) >> 2};
  FillChromaDc(dst, stride, dc);
}

}  // namespace

void InitIntraSse2(KernelTable& t) {
  t.intra4x4[kI4Vertical] = Pred4x4V;
  t.intra4x4[kI4Horizontal] = Pred4x4H;
  t.intra4x4[kI4Dc] = Pred4x4Dc;
  t.intra4x4[kI4DiagDownLeft] = Pred4x4Ddl;
  t.intra4x4[kI4DiagDownRight] = Pred4x4Ddr;
  t.intra4x4[kI4VerticalRight] = Pred4x4Vr;
  t.intra4x4[kI4HorizontalDown] = Pred4x4Hd;
  t.intra4x4[kI4VerticalLeft] = Pred4x4Vl;
  t.intra4x4[kI4HorizontalUp] = Pred4x4Hu;
  t.intra4x4[kI4DcLeft] = Pred4x4DcLeft;
  t.intra4x4[kI4DcTop] = Pred4x4DcTop;
  t.intra4x4[kI4Dc128] = Pred4x4Dc128;

  t.intra16x16[kI16Vertical] = PredV<16>;
  t.intra16x16[kI16Horizontal] = PredH<16>;
  t.intra16x16[kI16Dc] = Pred16Dc;
  t.intra16x16[kI16Plane] = PredPlane<16, 5>;
  t.intra16x16[kI16DcLeft] = Pred16DcLeft;
  t.intra16x16[kI16DcTop] = Pred16DcTop;
  t.intra16x16[kI16Dc128] = PredDc128<16>;

  t.intra_chroma[kIcDc] = PredChromaDc;
  t.intra_chroma[kIcHorizontal] = PredH<8>;
  t.intra_chroma[kIcVertical] = PredV<8>;
  t.intra_chroma[kIcPlane] = PredPlane<8, 34>;
  t.intra_chroma[kIcDcLeft] = PredChromaDcLeft;
  t.intra_chroma[kIcDcTop] = PredChromaDcTop;
  t.intra_chroma[kIcDc128] = PredDc128<8>;
}

}  // namespace kestrel::h264::dsp

// The frame and macroblock layers, instantiated once per kernel table.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "vdec3/bit_reader.h"
#include "vdec3/code_tables.h"
#include "vdec3/frame_word.h"
#include "vdec3/instance.h"
#include "vdec3/kernels.h"
#include "vdec3/output.h"
#include "vdec3/syntax.h"

namespace vdec3 {

// Copies the edge pixels of the reference outwards so that motion vectors up to +-15.5 pixels
// never read outside its planes.
inline void ExtendBorders(const Vdec3Instance& d, const PictureBuffers& ref) {
  const int w = d.layout.w16, h = d.layout.h16;
  const ptrdiff_t p = d.layout.pitch;
  for (int y = 0; y < h; ++y) {
    uint8_t* row = ref.luma + y * p;
    std::memset(row - 16, row[0], 16);
    std::memset(row + w, row[w - 1], 16);
  }
  for (int i = 1; i <= 16; ++i) {
    std::memcpy(ref.luma - 16 - i * p, ref.luma - 16, p);
    std::memcpy(ref.luma - 16 + (h - 1 + i) * p, ref.luma - 16 + (h - 1) * p, p);
  }
  const int cw = w / 2, ch = h / 2;
  for (int y = 0; y < ch; ++y) {
    for (uint8_t* row : {ref.cb + y * p, ref.cr + y * p}) {
      std::memset(row - 8, row[0], 8);
      std::memset(row + cw, row[cw - 1], 8);
    }
  }
  for (int i = 1; i <= 8; ++i) {
    std::memcpy(ref.cb - 8 - i * p, ref.cb - 8, p);
    std::memcpy(ref.cb - 8 + (ch - 1 + i) * p, ref.cb - 8 + (ch - 1) * p, p);
  }
}

inline int Median(int a, int b, int c) { return std::max(std::min(a, b), std::min(std::max(a, b), c)); }

// s = (I - sgn(I) E) + (J - sgn(J) E); the result is s + sgn(s) E: the sum of the two quantised
// levels, dequantised again.
inline int16_t PredictAc(int current, int stored, int e) {
  auto sgn = [](int v) { return (v > 0) - (v < 0); };
  const int s = (current - sgn(current) * e) + (stored - sgn(stored) * e);
  return static_cast<int16_t>(s + sgn(s) * e);
}

template <const Kernels& K>
class FrameDecoder {
 public:
  FrameDecoder(Vdec3Instance& d, BitReader& br) : d_(d), br_(br), cur_(d.Current()), ref_(d.Reference()) {}

  void DecodeMacroblocks() {
    const ptrdiff_t p = d_.layout.pitch;
    for (int my = 0; my < d_.mb_rows; ++my) {
      PredictionStore* prev_row = d_.store_rows[0];
      PredictionStore* cur_row = d_.store_rows[1];
      uint16_t* info = d_.info + my * d_.info_stride;
      for (int mx = 0; mx < d_.mb_columns; ++mx) {
        uint8_t* luma = cur_.luma + my * 16 * p + mx * 16;
        uint8_t* cb = cur_.cb + my * 8 * p + mx * 8;
        uint8_t* cr = cur_.cr + my * 8 * p + mx * 8;
        if (d_.inter && br_.ReadBit()) {
          const ptrdiff_t lo = luma - cur_.luma, co = cb - cur_.cb;
          K.predict16[0](luma, ref_.luma + lo, p);
          K.predict8[0](cb, ref_.cb + co, p);
          K.predict8[0](cr, ref_.cr + co, p);
          info[mx] = kInfoSkipped;
          continue;
        }
        const MacroblockType type = d_.inter ? ReadPredictedFrameType(br_) : ReadIntraFrameType(br_);
        const int cbpy = ReadCbpy(br_);
        if (type.intra) {
          const int cbp = (cbpy << 2) | type.cbpc;
          DecodeIntra(info + mx, cur_row + 6 * mx, prev_row + 6 * mx, cbp, luma, cb, cr);
          info[mx] = kInfoIntra;
        } else {
          const int cbp = ((15 - cbpy) << 2) | type.cbpc;
          info[mx] = DecodeInter(info + mx, mx, my, cbp, luma, cb, cr);
        }
      }
      std::swap(d_.store_rows[0], d_.store_rows[1]);
    }
  }

 private:
  void DecodeIntra(const uint16_t* info, PredictionStore* mb, PredictionStore* top,
                   int cbp, uint8_t* luma, uint8_t* cb, uint8_t* cr) {
    const int s = d_.info_stride;
    const bool left_intra = info[-1] == kInfoIntra;
    const bool top_intra = info[-s] == kInfoIntra;
    const bool top_left_intra = info[-s - 1] == kInfoIntra;
    const PredictionStore* dl = &d_.default_luma;
    const PredictionStore* dc = &d_.default_chroma;
    PredictionStore* left = mb - 6;
    PredictionStore* top_left = top - 6;
    struct Neighbours { const PredictionStore *a, *b, *c; };
    const Neighbours n[6] = {
        {left_intra ? &left[1] : dl, top_left_intra ? &top_left[3] : dl, top_intra ? &top[2] : dl},
        {&mb[0], top_intra ? &top[2] : dl, top_intra ? &top[3] : dl},
        {left_intra ? &left[3] : dl, left_intra ? &left[1] : dl, &mb[0]},
        {&mb[2], &mb[0], &mb[1]},
        {left_intra ? &left[4] : dc, top_left_intra ? &top_left[4] : dc, top_intra ? &top[4] : dc},
        {left_intra ? &left[5] : dc, top_left_intra ? &top_left[5] : dc, top_intra ? &top[5] : dc},
    };
    const ptrdiff_t p = d_.layout.pitch;
    uint8_t* dst[6] = {luma, luma + 8, luma + 8 * p, luma + 8 * p + 8, cb, cr};
    for (int k = 0; k < 6; ++k) {
      // Blocks 1..3 read blocks of this macroblock decoded just before them; the neighbour
      // pointers above are fixed before any of them is written, which is what raster order needs.
      DecodeIntraBlock(k, n[k].a, n[k].b, n[k].c, (cbp >> (5 - k)) & 1, &mb[k], dst[k], p);
    }
  }

  void DecodeIntraBlock(int k, const PredictionStore* a, const PredictionStore* b,
                        const PredictionStore* c, bool coded, PredictionStore* store, uint8_t* dst,
                        ptrdiff_t p) {
    const int size = ReadDcSize(br_);
    const bool ac_prediction = br_.ReadBit();
    const int difference = ReadDcDifference(br_, size);
    const bool from_top = std::abs(b->dc - a->dc) < std::abs(b->dc - c->dc);
    const PredictionStore* pred = from_top ? c : a;
    const int scaler = k < 4 ? d_.luma_dc_scaler : d_.chroma_dc_scaler;
    const int16_t quantised_dc = static_cast<int16_t>(pred->quantised_dc + difference);
    int16_t* block = d_.coefficients + 64 * k;
    std::memset(block, 0, 64 * sizeof(int16_t));
    block[0] = static_cast<int16_t>(quantised_dc * scaler);
    bool ac = false;
    if (coded) {
      const uint8_t* scan = !ac_prediction ? kZigzagScan.data()
                            : from_top     ? kAlternateHorizontalScan.data()
                                           : kAlternateVerticalScan.data();
      ac = ReadCoefficients(br_, block, 1, scan, true, d_.two_q, d_.odd_q);
    }
    if (ac_prediction) {
      const int e = d_.odd_q;
      if (from_top) {
        for (int i = 1; i < 8; ++i) block[i] = PredictAc(block[i], c->row[i - 1], e);
      } else {
        for (int i = 1; i < 8; ++i) block[8 * i] = PredictAc(block[8 * i], a->column[i - 1], e);
      }
      ac = true;
    }
    store->dc = block[0];
    store->quantised_dc = quantised_dc;
    for (int i = 1; i < 8; ++i) {
      store->row[i - 1] = block[i];
      store->column[i - 1] = block[8 * i];
    }
    if (ac) {
      K.idct_put(block, dst, p);
    } else {
      K.dc_put(block[0], dst, p);
    }
  }

  uint16_t DecodeInter(const uint16_t* info, int mx, int my, int cbp, uint8_t* luma, uint8_t* cb,
                       uint8_t* cr) {
    const int s = d_.info_stride;
    const uint16_t l = info[-1], t = info[-s], tr = info[-s + 1];
    const int ph = Median(MotionHorizontal(l), MotionHorizontal(t), MotionHorizontal(tr));
    const int pv = Median(MotionVertical(l), MotionVertical(t), MotionVertical(tr));
    int h = ph + ReadMotionDifference(br_);
    int v = pv + ReadMotionDifference(br_);
    if (h < -31 || h > 31) h = 0;
    if (v < -31 || v > 31) v = 0;

    const ptrdiff_t p = d_.layout.pitch;
    const uint8_t* src = ref_.luma + (my * 16 + (v >> 1)) * p + mx * 16 + (h >> 1);
    K.predict16[(h & 1) | ((v & 1) << 1)](luma, src, p);
    const int chroma_mode = ((h & 3) != 0) | (((v & 3) != 0) << 1);
    const ptrdiff_t co = (my * 8 + (v >> 2)) * p + mx * 8 + (h >> 2);
    K.predict8[chroma_mode](cb, ref_.cb + co, p);
    K.predict8[chroma_mode](cr, ref_.cr + co, p);

    uint8_t* dst[6] = {luma, luma + 8, luma + 8 * p, luma + 8 * p + 8, cb, cr};
    for (int k = 0; k < 6; ++k) {
      if (!((cbp >> (5 - k)) & 1)) continue;
      int16_t* block = d_.coefficients + 64 * k;
      std::memset(block, 0, 64 * sizeof(int16_t));
      const bool ac = ReadCoefficients(br_, block, 0, kZigzagScan.data(), false, d_.two_q, d_.odd_q);
      if (ac) {
        K.idct_add(block, dst[k], p);
      } else {
        K.dc_add(block[0], dst[k], p);
      }
    }
    return PackMotion(h, v);
  }

  Vdec3Instance& d_;
  BitReader& br_;
  const PictureBuffers& cur_;
  const PictureBuffers& ref_;
};

// The post-filter from `from` into `to` (both in the internal layout).
template <const Kernels& K>
void PostFilter(const Vdec3Instance& d, const PictureBuffers& from, const PictureBuffers& to) {
  const int w = d.layout.w16, h = d.layout.h16;
  const ptrdiff_t p = d.layout.pitch;
  for (int y = 0; y < h; ++y) std::memcpy(to.luma + y * p, from.luma + y * p, w);
  for (int y = 0; y < h / 2; ++y) {
    std::memcpy(to.cb + y * p, from.cb + y * p, w / 2);
    std::memcpy(to.cr + y * p, from.cr + y * p, w / 2);
  }
  K.filter_vertical_edges(to.luma, p, w, h, d.q);
  K.filter_vertical_edges(to.cb, p, w / 2, h / 2, d.q);
  K.filter_vertical_edges(to.cr, p, w / 2, h / 2, d.q);
  K.filter_horizontal_edges(to.luma, p, w, h, d.q);
  if (h >= 32) {
    K.filter_horizontal_edges(to.cb, p, w / 2, h / 2, d.q);
    K.filter_horizontal_edges(to.cr, p, w / 2, h / 2, d.q);
  }
}

template <const Kernels& K>
uint32_t DecodeFrame(Vdec3Instance* d, const uint8_t* frame, uint8_t* output, uint32_t flags) {
  FrameWord word;
  if (!ReadFrameWord(frame, &word)) return 0;
  // The bitstream is read from a copy in big-endian word order, followed by zeros.
  uint8_t* bits = d->bitstream;
  if (word.little_endian) {
    for (uint32_t i = 0; i < word.length; i += 4) {
      bits[i] = frame[i + 3];
      bits[i + 1] = frame[i + 2];
      bits[i + 2] = frame[i + 1];
      bits[i + 3] = frame[i];
    }
  } else {
    std::memcpy(bits, frame, word.length);
  }
  std::memset(bits + word.length, 0, 64);

  const int q = bits[4] >> 3;
  if (q == 0) {  // flat frame; the reference stays as it is
    if (output) {
      if (flags & kVdec3InternalLayout) {
        WriteFlatInternal(*d, bits[5], output);
      } else {
        WriteFlatPicture(*d, bits[5], output);
      }
    }
    return 8;
  }
  SetQuantiser(d, q);
  d->inter = word.inter;
  if (d->inter) ExtendBorders(*d, d->Reference());

  BitReader br(bits, word.length, 4 * 8 + 5);
  FrameDecoder<K>(*d, br).DecodeMacroblocks();

  if (output) {
    if (flags & kVdec3InternalLayout) {
      WriteInternalLayout(*d, d->Current(), output);
    } else if (flags & kVdec3NoPostFilter) {
      WritePicture(*d, d->Current(), output, K.yuy2_row);
    } else {
      PostFilter<K>(*d, d->Current(), d->Reference());
      WritePicture(*d, d->Reference(), output, K.yuy2_row);
    }
  }
  d->current ^= 1;  // the unfiltered picture becomes the reference
  return word.length;
}

template <const Kernels& K>
Vdec3Instance* SetOutput(Vdec3Instance* d, int32_t pitch, uint32_t code) {
  d->format = Vdec3FormatOf(code);
  d->bytes_per_pixel = static_cast<int>(code & 7);
  d->output_pitch = pitch;
  d->start_offset = pitch < 0 ? -static_cast<ptrdiff_t>(pitch) * (d->layout.h16 - 1) : 0;
  return d;
}

template <const Kernels& K>
void Redisplay(Vdec3Instance* d, uint8_t* scratch, uint8_t* output) {
  if (!output) return;
  PictureBuffers target = d->Current();  // free between frames
  if (scratch) {
    const size_t p = static_cast<size_t>(d->layout.pitch);
    target.luma_block = scratch;
    target.chroma_block = scratch + d->layout.luma_bytes;
    target.luma = target.luma_block + 16 * p + 16;
    target.cb = target.chroma_block + 8 * p + 8;
    target.cr = target.cb + d->layout.w16 / 2 + 16;
  }
  PostFilter<K>(*d, d->Reference(), target);
  WritePicture(*d, target, output, K.yuy2_row);
}

void DestroyInstance(Vdec3Instance* d);

template <const Kernels& K>
constexpr Vdec3Ops MakeOps() {
  return Vdec3Ops{SetOutput<K>, DecodeFrame<K>, Redisplay<K>, DestroyInstance};
}

}  // namespace vdec3

// The decoder instance: all buffers, laid out in one block taken at create.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vdec3/vdec3.h"

// Entries 2 to 5 of one implementation; every instance keeps a copy just before itself.
struct Vdec3Ops {
  Vdec3Instance* (*set_output)(Vdec3Instance* instance, int32_t pitch, uint32_t format_code);
  uint32_t (*decode)(Vdec3Instance* instance, const uint8_t* frame, uint8_t* output, uint32_t flags);
  void (*redisplay)(Vdec3Instance* instance, uint8_t* scratch, uint8_t* output);
  void (*destroy)(Vdec3Instance* instance);
};

namespace vdec3 {

// Intra prediction values kept per block: the dequantised DC, the quantised DC and the first row
// (0, 1..7) and first column (1..7, 0) of coefficients after AC prediction.
struct PredictionStore {
  int16_t dc;
  int16_t quantised_dc;
  int16_t row[7];
  int16_t column[7];
};

// MacroblockInfo values.
constexpr uint16_t kInfoIntra = 0;
constexpr uint16_t kInfoSkipped = 256;
constexpr uint32_t kSentinelPattern = 0x7F2F91C1;

constexpr uint16_t PackMotion(int horizontal, int vertical) {
  return static_cast<uint16_t>((static_cast<unsigned>(vertical) << 9) | 256u |
                               (static_cast<unsigned>(horizontal) & 0xFFu));
}
constexpr int MotionHorizontal(uint16_t info) { return static_cast<int8_t>(info & 0xFF); }
constexpr int MotionVertical(uint16_t info) { return static_cast<int16_t>(info) >> 9; }

// One picture in the internal layout: a luma plane with 16-pixel borders and a chroma plane whose
// rows hold Cb in the left half and Cr in the right, each with 8-pixel borders.
struct PictureBuffers {
  uint8_t* luma_block;    // first byte of the luma plane including borders
  uint8_t* chroma_block;  // first byte of the chroma plane including borders
  uint8_t* luma;          // pixel (0, 0)
  uint8_t* cb;
  uint8_t* cr;
};

// Sizes of everything the block holds, for a picture size.
struct Layout {
  int w16, h16;
  int pitch;               // of every internal plane: w16 + 32
  size_t luma_bytes;       // one luma plane with borders
  size_t chroma_bytes;     // one chroma plane with borders
  size_t info_entries;
  size_t stores_per_row;
  size_t instance_offset;  // from the 64-byte aligned start, after the operation pointers
  size_t total;            // bytes from the aligned start to the end of the last buffer
};
bool ComputeLayout(int width, int height, Layout* layout);

}  // namespace vdec3

struct Vdec3Instance {
  void* owned_memory;
  Vdec3Implementation implementation;
  int width, height;  // as asked
  vdec3::Layout layout;
  int mb_columns, mb_rows;

  vdec3::PictureBuffers pictures[2];
  int current;  // index of the picture being decoded; the other is the reference

  uint16_t* info;  // entry of macroblock (0, 0); rows of info_stride entries
  int info_stride;
  vdec3::PredictionStore* store_rows[2];  // previous and current macroblock row, 6 stores each
  vdec3::PredictionStore default_luma, default_chroma;
  int16_t* coefficients;  // 6 x 64, 16-byte aligned
  uint8_t* bitstream;     // kVdec3MaxFrameBytes plus zero padding

  // Per-frame values.
  int q;
  int two_q;
  int odd_q;  // q when q is odd, else q - 1
  int luma_dc_scaler, chroma_dc_scaler;
  bool inter;

  // Output.
  Vdec3Format format;
  int32_t output_pitch;
  ptrdiff_t start_offset;
  int bytes_per_pixel;

  const vdec3::PictureBuffers& Current() const { return pictures[current]; }
  const vdec3::PictureBuffers& Reference() const { return pictures[current ^ 1]; }
};

namespace vdec3 {

inline const Vdec3Ops* OpsOf(const Vdec3Instance* instance) {
  return reinterpret_cast<const Vdec3Ops*>(instance) - 1;
}

// Lays out and initialises an instance in memory (64-byte aligned start, layout.total bytes).
Vdec3Instance* BuildInstance(void* aligned, const Layout& layout, int width, int height,
                             const Vdec3Ops& ops, Vdec3Implementation implementation);

// Per-frame quantiser values.
void SetQuantiser(Vdec3Instance* d, int q);

}  // namespace vdec3

// Portable deinterlacing kernel: rebuilds the odd output row of one row pair of a field-coded
// picture from the current and the previous source picture, with a per-pixel-pair motion history.
#include "h264/dsp/deinterlace_pair.h"
#include "h264/dsp/kernel_sets.h"

namespace kestrel::h264::dsp {
namespace {

void DeinterlaceRow(uint8_t* out, const uint8_t* cur, ptrdiff_t cur_stride, const uint8_t* prev,
                    ptrdiff_t prev_stride, uint8_t* motion, int width) {
  const DeintRows rows(cur, cur_stride, prev, prev_stride);
  for (int x = 0; x < width; x += 2) DeinterlacePair(rows, out, motion, x, width);
}

}  // namespace

void InitDeinterlacePortable(KernelTable& t) { t.deinterlace_row = DeinterlaceRow; }

}  // namespace kestrel::h264::dsp

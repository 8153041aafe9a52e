// Writing a decoded picture, or a flat one, in the configured output format.
#pragma once

#include <cstdint>

#include "vdec3/instance.h"
#include "vdec3/kernels.h"

namespace vdec3 {

// Converts picture (w16 x h16 in the internal layout) into output as set by vdec3_set_output.
void WritePicture(const Vdec3Instance& d, const PictureBuffers& picture, uint8_t* output,
                  Yuy2RowFn yuy2_row);
// Copies picture in the internal layout: h16 luma rows then h16 / 2 chroma rows, each of the
// plane pitch and including the left and right borders.
void WriteInternalLayout(const Vdec3Instance& d, const PictureBuffers& picture, uint8_t* output);
// A uniform picture of luma `level`, chroma 128, in the output format.
void WriteFlatPicture(const Vdec3Instance& d, uint8_t level, uint8_t* output);
// The same in planar 4:2:0 at the internal plane pitch (for kVdec3InternalLayout).
void WriteFlatInternal(const Vdec3Instance& d, uint8_t level, uint8_t* output);

}  // namespace vdec3

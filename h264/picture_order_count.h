// Picture order count, ITU-T H.264 8.2.1, types 0, 1 and 2.
#pragma once

#include <cstdint>

#include "h264/parameter_sets.h"
#include "h264/slice_header.h"

namespace kestrel::h264 {

struct PocState {
    // type 0: from the previous reference picture
    int64_t prev_poc_msb = 0;
    int64_t prev_poc_lsb = 0;
    // types 1 and 2: from the previous picture
    int64_t prev_frame_num_offset = 0;
    uint32_t prev_frame_num = 0;
};

struct PocResult {
    int32_t top = 0;
    int32_t bottom = 0;
    int32_t poc = 0;  // of the picture: the smaller for a frame, its own for a field
};

// Computes the order counts of a picture whose first slice header is h, and advances the state
// as the standard does at the start of the picture.
PocResult ComputePoc(const Sps& sps, const SliceHeader& h, PocState& state);

// After memory_management_operation 5 (8.2.1): the picture's counts become relative to itself,
// and the state restarts from it. Returns the adjusted counts.
PocResult ApplyMmco5(const PocResult& counts, PictureStructure structure, PocState& state);

}  // namespace kestrel::h264

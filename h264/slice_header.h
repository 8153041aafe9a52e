// Slice header (ITU-T H.264 7.3.3) of the decoded subset.
#pragma once

#include <cstdint>

#include "h264/bit_reader.h"
#include "h264/parameter_sets.h"

namespace kestrel::h264 {

enum class SliceType : uint8_t { kP = 0, kI = 2 };

enum PictureStructure : uint8_t { kFrame = 0, kTopField = 1, kBottomField = 2 };

inline constexpr int kMaxRefListEntries = 33;  // 32 entries plus room for reordering
inline constexpr int kMaxCommands = 33;
inline constexpr uint32_t kNoIdrPicId = 65536;

struct ReorderCommand {
    uint32_t idc;    // reordering_of_pic_nums_idc 0..2
    uint32_t value;  // abs_diff_pic_num_minus1 or long_term_pic_num
};

struct MmcoCommand {
    uint32_t op;
    uint32_t difference_of_pic_nums_minus1;
    uint32_t long_term_pic_num;
    uint32_t long_term_frame_idx;
    uint32_t max_long_term_frame_idx_plus1;
};

// Reference marking of a picture (dec_ref_pic_marking), kept with the picture until it is stored.
struct RefPicMarking {
    bool no_output_of_prior_pics = false;
    bool long_term_reference = false;
    bool adaptive = false;
    uint32_t count = 0;
    MmcoCommand ops[kMaxCommands];
};

struct WeightEntry {
    int16_t weight[3];  // Y, Cb, Cr
    int16_t offset[3];
};

struct SliceHeader {
    uint32_t nal_unit_type = 0;
    uint32_t nal_ref_idc = 0;
    bool idr = false;

    uint32_t first_mb = 0;
    SliceType type = SliceType::kI;
    uint32_t pps_id = 0;
    uint32_t frame_num = 0;
    bool field_pic = false;
    bool bottom_field = false;
    PictureStructure structure = kFrame;
    uint32_t width_mbs = 0;
    uint32_t height_mbs = 0;  // of the picture being decoded (a field counts its own rows)
    uint32_t size_mbs = 0;
    uint32_t idr_pic_id = kNoIdrPicId;
    uint32_t poc_lsb = 0;
    int32_t delta_poc_bottom = 0;
    int32_t delta_poc[2] = {0, 0};

    uint32_t num_ref_idx_active = 0;  // list 0; 0 for I slices
    uint32_t reorder_count = 0;
    ReorderCommand reorder[kMaxCommands];

    bool weighted = false;
    uint32_t luma_log2_denom = 0;
    uint32_t chroma_log2_denom = 0;
    WeightEntry weights[32];

    RefPicMarking marking;

    int32_t slice_qp_delta = 0;
    uint32_t disable_deblocking_filter_idc = 0;
    int32_t alpha_offset_div2 = 0;
    int32_t beta_offset_div2 = 0;
};

// Parses the header after the NAL header byte. active_sps and active_pps are those the
// caller activated for header.pps_id (see ParseSliceHeaderStart). Returns 0 or a status code.
uint32_t ParseSliceHeaderRest(BitReader& br, const Sps& sps, const Pps& pps, SliceHeader* h);

// First three syntax elements: first_mb_in_slice, slice_type, pic_parameter_set_id.
uint32_t ParseSliceHeaderStart(BitReader& br, SliceHeader* h);

}  // namespace kestrel::h264

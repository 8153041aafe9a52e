// Sequence and picture parameter sets (ITU-T H.264 7.3.2.1, 7.3.2.2) of the decoded subset.
#pragma once

#include <cstdint>

#include "h264/bit_reader.h"

namespace kestrel::h264 {

inline constexpr uint32_t kMaxSps = 32;
inline constexpr uint32_t kMaxPps = 256;
inline constexpr uint32_t kMaxRefFrames = 16;

struct Sps {
    uint32_t id = kMaxSps;  // kMaxSps: empty slot
    bool is_new = false;

    uint32_t profile_idc = 0;
    uint32_t constraint_flags = 0;  // constraint_set0_flag in bit 3 .. set3 in bit 0
    uint32_t level_idc = 0;

    uint32_t log2_max_frame_num = 4;
    uint32_t max_frame_num = 16;
    uint32_t poc_type = 0;
    uint32_t log2_max_poc_lsb = 4;
    bool delta_pic_order_always_zero = false;
    int32_t offset_for_non_ref_pic = 0;
    int32_t offset_for_top_to_bottom_field = 0;
    uint32_t num_ref_frames_in_poc_cycle = 0;
    int64_t expected_delta_per_poc_cycle = 0;
    int32_t offset_for_ref_frame[256] = {};

    uint32_t num_ref_frames = 0;
    uint32_t dpb_size = 0;  // frames
    bool gaps_allowed = false;
    uint32_t width_mbs = 0;
    uint32_t height_map_units = 0;
    bool frame_mbs_only = true;
    bool direct_8x8_inference = false;
    uint32_t width = 0;         // luma pixels
    uint32_t frame_height = 0;  // luma pixels of the whole frame
    uint32_t crop_left = 0;     // luma pixels
    uint32_t crop_right = 0;
    uint32_t crop_top = 0;
    uint32_t crop_bottom = 0;
};

struct Pps {
    uint32_t id = kMaxPps;  // kMaxPps: empty slot
    bool is_new = false;
    uint32_t sps_id = 0;
    bool pic_order_present = false;
    uint32_t num_ref_idx_l0_active = 1;
    uint32_t num_ref_idx_l1_active = 1;
    bool weighted_pred = false;
    int32_t pic_init_qp = 26;
    int32_t pic_init_qs = 26;
    int32_t chroma_qp_index_offset = 0;
    bool deblocking_filter_control_present = false;
    bool constrained_intra_pred = false;
    bool redundant_pic_cnt_present = false;
};

// Limits of the instance that an SPS must respect.
struct SpsLimits {
    uint32_t max_width_mbs;
    uint32_t max_height_mbs;
    uint32_t buffer_count;  // N
};

// Parses the SPS payload (after the NAL header byte) into *out; returns 0 or a status code.
// *out is written even on failure; the caller stores it only on success.
uint32_t ParseSps(BitReader& br, const SpsLimits& limits, Sps* out);

// Parses the PPS payload; sps_slots is the table of stored SPSs (index = id).
uint32_t ParsePps(BitReader& br, const Sps* sps_slots, Pps* out);

// Frames of decoded picture buffer for a level, picture size and num_ref_frames.
uint32_t DpbSizeFrames(uint32_t level_idc, uint32_t frame_bytes, uint32_t buffer_count,
                       uint32_t num_ref_frames);

}  // namespace kestrel::h264

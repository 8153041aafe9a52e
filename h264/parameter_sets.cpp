#include "h264/parameter_sets.h"

#include <algorithm>

#include "h264/h264dec_debug.h"

namespace kestrel::h264 {
namespace {

// Profiles whose SPS carries chroma format, bit depths and scaling lists (7.3.2.1.1).
bool HasHighProfileSyntax(uint32_t profile_idc) {
    switch (profile_idc) {
    case 100: case 110: case 122: case 244: case 44: case 83: case 86:
    case 118: case 128: case 138: case 139: case 134: case 135:
        return true;
    default:
        return false;
    }
}

// MaxDpbMbs x 384 of ITU-T H.264 Table A-1, in bytes; 0 for an unknown level.
uint32_t MaxDpbBytes(uint32_t level_idc) {
    switch (level_idc) {
    case 10: return 152064;
    case 11: return 345600;
    case 12: case 13: case 20: return 912384;
    case 21: return 1824768;
    case 22: case 30: return 3110400;
    case 31: return 6912000;
    case 32: return 7864320;
    case 40: case 41: case 42: return 12582912;
    case 50: return 42393600;
    case 51: return 70778880;
    default: return 0;
    }
}

}  // namespace

uint32_t DpbSizeFrames(uint32_t level_idc, uint32_t frame_bytes, uint32_t buffer_count,
                       uint32_t num_ref_frames) {
    uint32_t max_dpb = MaxDpbBytes(level_idc);
    uint32_t size = max_dpb ? std::min<uint32_t>(max_dpb / frame_bytes, 16) : 16;
    size = std::min(size, 2 * buffer_count);
    // At least one frame, or a stream at too low a level could store no reference at all.
    return std::max({size, num_ref_frames, 1u});
}

uint32_t ParseSps(BitReader& br, const SpsLimits& limits, Sps* s) {
    *s = Sps{};
    s->profile_idc = br.U(8);
    s->constraint_flags = br.U(4);
    br.U(4);  // constraint_set4/5 and reserved bits
    s->level_idc = br.U(8);
    uint32_t id = br.Ue();
    if (id >= kMaxSps) return H264_STATUS_SPS_BAD_ID;
    s->id = id;

    if (HasHighProfileSyntax(s->profile_idc)) {
        // Accepted only when it describes what Main profile can carry: 8-bit 4:2:0, flat
        // scaling, no lossless bypass.
        uint32_t chroma_format_idc = br.Ue();
        if (chroma_format_idc == 3) br.U1();  // separate_colour_plane_flag
        uint32_t bit_depth_luma_minus8 = br.Ue();
        uint32_t bit_depth_chroma_minus8 = br.Ue();
        uint32_t bypass = br.U1();
        uint32_t scaling = br.U1();
        if (chroma_format_idc != 1 || bit_depth_luma_minus8 != 0 || bit_depth_chroma_minus8 != 0 ||
            bypass || scaling)
            return H264_STATUS_SPS_UNSUPPORTED_FORMAT;
    }

    uint32_t log2_max_frame_num_minus4 = br.Ue();
    if (log2_max_frame_num_minus4 > 12) return H264_STATUS_SPS_BAD_FRAME_NUM_BITS;
    s->log2_max_frame_num = log2_max_frame_num_minus4 + 4;
    s->max_frame_num = 1u << s->log2_max_frame_num;

    s->poc_type = br.Ue();
    if (s->poc_type > 2) return H264_STATUS_SPS_BAD_POC_TYPE;
    if (s->poc_type == 0) {
        uint32_t log2_max_poc_lsb_minus4 = br.Ue();
        if (log2_max_poc_lsb_minus4 > 12) return H264_STATUS_SPS_BAD_POC_LSB_BITS;
        s->log2_max_poc_lsb = log2_max_poc_lsb_minus4 + 4;
    } else if (s->poc_type == 1) {
        s->delta_pic_order_always_zero = br.U1();
        s->offset_for_non_ref_pic = br.Se();
        s->offset_for_top_to_bottom_field = br.Se();
        s->num_ref_frames_in_poc_cycle = br.Ue();
        if (s->num_ref_frames_in_poc_cycle > 256) return H264_STATUS_SPS_BAD_POC_CYCLE;
        int64_t sum = 0;
        for (uint32_t i = 0; i < s->num_ref_frames_in_poc_cycle; ++i) {
            s->offset_for_ref_frame[i] = br.Se();
            sum += s->offset_for_ref_frame[i];
        }
        s->expected_delta_per_poc_cycle = sum;
    }

    s->num_ref_frames = br.Ue();
    if (s->num_ref_frames > kMaxRefFrames) return H264_STATUS_SPS_TOO_MANY_REF_FRAMES;
    if (s->num_ref_frames > limits.buffer_count) return H264_STATUS_SPS_REF_FRAMES_ABOVE_N;
    s->gaps_allowed = br.U1();
    uint32_t width_minus1 = br.Ue();
    uint32_t height_minus1 = br.Ue();
    s->frame_mbs_only = br.U1();
    uint32_t max_map_units = limits.max_height_mbs / (s->frame_mbs_only ? 1 : 2);
    if (width_minus1 == 0 || height_minus1 == 0 || width_minus1 >= limits.max_width_mbs ||
        height_minus1 >= max_map_units)
        return H264_STATUS_SPS_BAD_SIZE;
    s->width_mbs = width_minus1 + 1;
    s->height_map_units = height_minus1 + 1;
    if (!s->frame_mbs_only && br.U1()) return H264_STATUS_SPS_MBAFF;
    s->direct_8x8_inference = br.U1();
    s->width = 16 * s->width_mbs;
    s->frame_height = 16 * s->height_map_units * (s->frame_mbs_only ? 1 : 2);

    if (br.U1()) {  // frame_cropping_flag
        uint64_t crop_unit_y = s->frame_mbs_only ? 2 : 4;
        uint64_t l = 2 * uint64_t{br.Ue()};
        uint64_t r = 2 * uint64_t{br.Ue()};
        uint64_t t = crop_unit_y * br.Ue();
        uint64_t b = crop_unit_y * br.Ue();
        if (l + r >= s->width || t + b >= s->frame_height) return H264_STATUS_SPS_BAD_CROP;
        s->crop_left = static_cast<uint32_t>(l);
        s->crop_right = static_cast<uint32_t>(r);
        s->crop_top = static_cast<uint32_t>(t);
        s->crop_bottom = static_cast<uint32_t>(b);
    }
    // VUI parameters are not read.
    if (br.error() || br.past_end()) return H264_STATUS_SPS_SYNTAX;

    uint32_t frame_bytes = 384 * s->width_mbs * s->height_map_units * (s->frame_mbs_only ? 1 : 2);
    s->dpb_size = DpbSizeFrames(s->level_idc, frame_bytes, limits.buffer_count, s->num_ref_frames);
    s->is_new = true;
    return 0;
}

uint32_t ParsePps(BitReader& br, const Sps* sps_slots, Pps* p) {
    *p = Pps{};
    uint32_t id = br.Ue();
    if (id >= kMaxPps) return H264_STATUS_PPS_BAD_ID;
    p->id = id;
    p->sps_id = br.Ue();
    if (p->sps_id >= kMaxSps || sps_slots[p->sps_id].id != p->sps_id) return H264_STATUS_BAD_SPS_REFERENCE;
    if (br.U1()) return H264_STATUS_PPS_CABAC;
    p->pic_order_present = br.U1();
    if (br.Ue() != 0) return H264_STATUS_PPS_SLICE_GROUPS;
    uint32_t l0 = br.Ue();
    if (l0 > 31) return H264_STATUS_PPS_BAD_L0_SIZE;
    uint32_t l1 = br.Ue();
    if (l1 > 31) return H264_STATUS_PPS_BAD_L1_SIZE;
    p->num_ref_idx_l0_active = l0 + 1;
    p->num_ref_idx_l1_active = l1 + 1;
    p->weighted_pred = br.U1();
    // weighted_bipred_idc concerns B slices only, which are dropped one by one; refusing the
    // whole set for it would lose the P and I slices of Main-profile streams that set it.
    br.Skip(2);
    int32_t qp = br.Se();
    if (qp < -26 || qp > 25) return H264_STATUS_PPS_BAD_QP;
    int32_t qs = br.Se();
    if (qs < -26 || qs > 25) return H264_STATUS_PPS_BAD_QS;
    p->pic_init_qp = 26 + qp;
    p->pic_init_qs = 26 + qs;
    p->chroma_qp_index_offset = br.Se();
    if (p->chroma_qp_index_offset < -12 || p->chroma_qp_index_offset > 12)
        return H264_STATUS_PPS_BAD_CHROMA_QP_OFFSET;
    p->deblocking_filter_control_present = br.U1();
    p->constrained_intra_pred = br.U1();
    p->redundant_pic_cnt_present = br.U1();
    if (br.MoreRbspData()) {
        // High-profile extension: decodable only when it changes nothing.
        uint32_t transform_8x8 = br.U1();
        uint32_t scaling = br.U1();
        int32_t second_chroma_qp_index_offset = br.Se();
        if (transform_8x8 || scaling || second_chroma_qp_index_offset != p->chroma_qp_index_offset)
            return H264_STATUS_PPS_UNSUPPORTED_TOOLS;
    }
    if (br.error() || br.past_end()) return H264_STATUS_PPS_SYNTAX;
    p->is_new = true;
    return 0;
}

}  // namespace kestrel::h264

#include "h264/slice_header.h"

#include "h264/h264dec_debug.h"

namespace kestrel::h264 {
namespace {

uint32_t ParseWeights(BitReader& br, SliceHeader* h) {
    h->luma_log2_denom = br.Ue();
    h->chroma_log2_denom = br.Ue();
    // The denominators are shift counts of the weighting (8.4.2.3): above 7 is invalid.
    if (h->luma_log2_denom > 7 || h->chroma_log2_denom > 7) return H264_STATUS_SLICE_BAD_WEIGHTS;
    auto in_range = [](int32_t v) { return v >= -128 && v <= 127; };
    for (uint32_t i = 0; i < h->num_ref_idx_active; ++i) {
        WeightEntry& e = h->weights[i];
        e.weight[0] = static_cast<int16_t>(1 << h->luma_log2_denom);
        e.offset[0] = 0;
        if (br.U1()) {
            int32_t w = br.Se(), o = br.Se();
            if (!in_range(w) || !in_range(o)) return H264_STATUS_SLICE_BAD_WEIGHTS;
            e.weight[0] = static_cast<int16_t>(w);
            e.offset[0] = static_cast<int16_t>(o);
        }
        for (int c = 1; c < 3; ++c) {
            e.weight[c] = static_cast<int16_t>(1 << h->chroma_log2_denom);
            e.offset[c] = 0;
        }
        if (br.U1()) {
            for (int c = 1; c < 3; ++c) {
                int32_t w = br.Se(), o = br.Se();
                if (!in_range(w) || !in_range(o)) return H264_STATUS_SLICE_BAD_WEIGHTS;
                e.weight[c] = static_cast<int16_t>(w);
                e.offset[c] = static_cast<int16_t>(o);
            }
        }
    }
    h->weighted = true;
    return 0;
}

uint32_t ParseMarking(BitReader& br, SliceHeader* h) {
    RefPicMarking& m = h->marking;
    m = RefPicMarking{};
    if (h->idr) {
        m.no_output_of_prior_pics = br.U1();
        m.long_term_reference = br.U1();
        return 0;
    }
    m.adaptive = br.U1();
    if (!m.adaptive) return 0;
    while (m.count < kMaxCommands) {
        MmcoCommand op{};
        op.op = br.Ue();
        if (op.op == 0) break;
        if (op.op > 6) return H264_STATUS_SLICE_SYNTAX;
        if (op.op == 1 || op.op == 3) op.difference_of_pic_nums_minus1 = br.Ue();
        if (op.op == 2) op.long_term_pic_num = br.Ue();
        if (op.op == 3 || op.op == 6) op.long_term_frame_idx = br.Ue();
        if (op.op == 4) op.max_long_term_frame_idx_plus1 = br.Ue();
        m.ops[m.count++] = op;
    }
    return 0;
}

}  // namespace

uint32_t ParseSliceHeaderStart(BitReader& br, SliceHeader* h) {
    h->first_mb = br.Ue();
    uint32_t slice_type = br.Ue();
    if (slice_type > 9) return H264_STATUS_SLICE_BAD_TYPE;
    switch (slice_type % 5) {
    case 0: h->type = SliceType::kP; break;
    case 2: h->type = SliceType::kI; break;
    case 1: return H264_STATUS_SLICE_B;
    default:
        // SP and SI slices carry sp_for_switch_flag and slice_qs_delta and need their own
        // decoding process; read as P or I they would misplace the deblocking fields.
        return H264_STATUS_SLICE_SP_SI;
    }
    h->pps_id = br.Ue();
    if (h->pps_id >= kMaxPps) return H264_STATUS_SLICE_BAD_PPS;
    return 0;
}

uint32_t ParseSliceHeaderRest(BitReader& br, const Sps& sps, const Pps& pps, SliceHeader* h) {
    h->frame_num = br.U(sps.log2_max_frame_num);
    if (h->idr && h->frame_num != 0) return H264_STATUS_SLICE_IDR_FRAME_NUM;
    h->field_pic = false;
    h->bottom_field = false;
    if (!sps.frame_mbs_only) {
        h->field_pic = br.U1();
        if (h->field_pic) h->bottom_field = br.U1();
    }
    h->structure = static_cast<PictureStructure>(h->field_pic + h->bottom_field);
    h->width_mbs = sps.width_mbs;
    h->height_mbs = sps.height_map_units * ((h->field_pic || sps.frame_mbs_only) ? 1 : 2);
    h->size_mbs = h->width_mbs * h->height_mbs;
    h->idr_pic_id = h->idr ? br.Ue() : kNoIdrPicId;

    h->poc_lsb = 0;
    h->delta_poc_bottom = 0;
    h->delta_poc[0] = h->delta_poc[1] = 0;
    if (sps.poc_type == 0) {
        h->poc_lsb = br.U(sps.log2_max_poc_lsb);
        if (pps.pic_order_present && !h->field_pic) h->delta_poc_bottom = br.Se();
    } else if (sps.poc_type == 1 && !sps.delta_pic_order_always_zero) {
        h->delta_poc[0] = br.Se();
        if (pps.pic_order_present && !h->field_pic) h->delta_poc[1] = br.Se();
    }
    if (pps.redundant_pic_cnt_present && br.Ue() != 0) return H264_STATUS_SLICE_REDUNDANT;

    h->num_ref_idx_active = 0;
    h->reorder_count = 0;
    h->weighted = false;
    if (h->type == SliceType::kP) {
        h->num_ref_idx_active = pps.num_ref_idx_l0_active;
        if (br.U1()) {
            uint32_t n = br.Ue();
            if (n > 31) return H264_STATUS_SLICE_BAD_L0_SIZE;
            h->num_ref_idx_active = n + 1;
        }
        if (br.U1()) {  // ref_pic_list_reordering_flag_l0
            while (h->reorder_count < kMaxCommands) {
                uint32_t idc = br.Ue();
                if (idc == 3) break;
                if (idc > 3) return H264_STATUS_SLICE_SYNTAX;
                h->reorder[h->reorder_count++] = {idc, br.Ue()};
            }
        }
        if (pps.weighted_pred) {
            if (uint32_t status = ParseWeights(br, h)) return status;
        }
    }
    if (h->nal_ref_idc != 0) {
        if (uint32_t status = ParseMarking(br, h)) return status;
    } else {
        h->marking = RefPicMarking{};
    }

    h->slice_qp_delta = br.Se();
    int32_t qp = pps.pic_init_qp + h->slice_qp_delta;
    if (qp < 0 || qp > 51) return H264_STATUS_SLICE_SYNTAX;
    h->disable_deblocking_filter_idc = 0;
    h->alpha_offset_div2 = 0;
    h->beta_offset_div2 = 0;
    if (pps.deblocking_filter_control_present) {
        h->disable_deblocking_filter_idc = br.Ue();
        if (h->disable_deblocking_filter_idc > 2) return H264_STATUS_SLICE_SYNTAX;
        if (h->disable_deblocking_filter_idc != 1) {
            h->alpha_offset_div2 = br.Se();
            h->beta_offset_div2 = br.Se();
            if (h->alpha_offset_div2 < -6 || h->alpha_offset_div2 > 6 || h->beta_offset_div2 < -6 ||
                h->beta_offset_div2 > 6)
                return H264_STATUS_SLICE_SYNTAX;
        }
    }
    if (br.error()) return H264_STATUS_SLICE_SYNTAX;
    return 0;
}

}  // namespace kestrel::h264

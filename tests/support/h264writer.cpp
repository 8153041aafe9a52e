#include "tests/support/h264writer.h"

#include <cstring>

namespace kestrel::test {

void BitWriter::U(uint32_t bits, uint32_t value) {
    for (int i = static_cast<int>(bits) - 1; i >= 0; --i) {
        acc_ = (acc_ << 1) | ((value >> i) & 1);
        if (++bits_ == 8) {
            out_.push_back(static_cast<uint8_t>(acc_));
            acc_ = 0;
            bits_ = 0;
        }
    }
}

void BitWriter::Ue(uint32_t value) {
    const uint64_t code = uint64_t{value} + 1;
    int len = 0;
    while ((code >> len) > 1) ++len;
    U(static_cast<uint32_t>(len), 0);
    if (len + 1 > 32) {
        U(1, 1);
        U(static_cast<uint32_t>(len), static_cast<uint32_t>(code));
    } else {
        U(static_cast<uint32_t>(len + 1), static_cast<uint32_t>(code));
    }
}

void BitWriter::Se(int32_t value) {
    Ue(value > 0 ? static_cast<uint32_t>(2 * int64_t{value} - 1) : static_cast<uint32_t>(-2 * int64_t{value}));
}

void BitWriter::AlignZero() {
    while (bits_ != 0) U(1, 0);
}

void BitWriter::Trailing() {
    U(1, 1);
    AlignZero();
}

void BitWriter::Bytes(const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) U(8, p[i]);
}

std::vector<uint8_t> MakeNal(uint32_t nal_ref_idc, uint32_t nal_unit_type, const std::vector<uint8_t>& rbsp) {
    std::vector<uint8_t> out = {0, 0, 0, 1, static_cast<uint8_t>((nal_ref_idc << 5) | nal_unit_type)};
    int zeros = 0;
    for (uint8_t b : rbsp) {
        if (zeros == 2 && b <= 3) {
            out.push_back(3);
            zeros = 0;
        }
        out.push_back(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
    return out;
}

std::vector<uint8_t> SpsNal(const SpsParams& s) {
    BitWriter w;
    w.U(8, s.profile_idc);
    w.U(8, 0);  // constraint flags, reserved bits
    w.U(8, s.level_idc);
    w.Ue(s.id);
    if (s.profile_idc == 100) {
        w.Ue(s.chroma_format_idc);
        w.Ue(s.bit_depth_minus8);
        w.Ue(s.bit_depth_minus8);
        w.U1(false);  // qpprime_y_zero_transform_bypass_flag
        w.U1(false);  // seq_scaling_matrix_present_flag
    }
    w.Ue(s.log2_max_frame_num - 4);
    w.Ue(s.poc_type);
    if (s.poc_type == 0) {
        w.Ue(s.log2_max_poc_lsb - 4);
    } else if (s.poc_type == 1) {
        w.U1(s.delta_pic_order_always_zero);
        w.Se(s.offset_for_non_ref_pic);
        w.Se(s.offset_for_top_to_bottom_field);
        w.Ue(static_cast<uint32_t>(s.offset_for_ref_frame.size()));
        for (int32_t o : s.offset_for_ref_frame) w.Se(o);
    }
    w.Ue(s.num_ref_frames);
    w.U1(s.gaps_allowed);
    w.Ue(s.width_mbs - 1);
    w.Ue(s.height_map_units - 1);
    w.U1(s.frame_mbs_only);
    if (!s.frame_mbs_only) w.U1(s.mbaff);
    w.U1(s.direct_8x8_inference);
    w.U1(s.cropping);
    if (s.cropping)
        for (uint32_t c : s.crop) w.Ue(c);
    w.U1(false);  // vui_parameters_present_flag
    w.Trailing();
    return MakeNal(3, 7, w.data());
}

std::vector<uint8_t> PpsNal(const PpsParams& p) {
    BitWriter w;
    w.Ue(p.id);
    w.Ue(p.sps_id);
    w.U1(p.cabac);
    w.U1(p.pic_order_present);
    w.Ue(p.num_slice_groups_minus1);
    if (p.num_slice_groups_minus1 > 0) w.Ue(0);  // slice_group_map_type 0 ...
    for (uint32_t i = 0; i < p.num_slice_groups_minus1 + (p.num_slice_groups_minus1 > 0 ? 1 : 0); ++i)
        w.Ue(0);  // run_length_minus1
    w.Ue(p.num_ref_idx_l0_default - 1);
    w.Ue(p.num_ref_idx_l1_default - 1);
    w.U1(p.weighted_pred);
    w.U(2, p.weighted_bipred_idc);
    w.Se(p.pic_init_qp_minus26);
    w.Se(p.pic_init_qs_minus26);
    w.Se(p.chroma_qp_index_offset);
    w.U1(p.deblocking_filter_control_present);
    w.U1(p.constrained_intra_pred);
    w.U1(p.redundant_pic_cnt_present);
    if (p.high_extension) {
        w.U1(p.transform_8x8);
        w.U1(false);  // pic_scaling_matrix_present_flag
        w.Se(p.chroma_qp_index_offset);
    }
    w.Trailing();
    return MakeNal(3, 8, w.data());
}

std::vector<uint8_t> SeiNal(uint32_t payload_type, const std::vector<uint8_t>& payload) {
    BitWriter w;
    w.U(8, payload_type);
    w.U(8, static_cast<uint32_t>(payload.size()));
    w.Bytes(payload.data(), payload.size());
    w.Trailing();
    return MakeNal(0, 6, w.data());
}

void WriteSliceHeader(BitWriter& w, const SliceParams& s, const SpsParams& sps, const PpsParams& pps) {
    const bool p_slice = s.slice_type % 5 == 0 || s.slice_type % 5 == 3;
    w.Ue(s.first_mb);
    w.Ue(s.slice_type);
    w.Ue(s.pps_id);
    w.U(sps.log2_max_frame_num, s.frame_num);
    if (!sps.frame_mbs_only) {
        w.U1(s.field_pic);
        if (s.field_pic) w.U1(s.bottom_field);
    }
    if (s.idr) w.Ue(s.idr_pic_id);
    if (sps.poc_type == 0) {
        w.U(sps.log2_max_poc_lsb, s.poc_lsb);
        if (pps.pic_order_present && !s.field_pic) w.Se(s.delta_poc_bottom);
    } else if (sps.poc_type == 1 && !sps.delta_pic_order_always_zero) {
        w.Se(s.delta_poc[0]);
        if (pps.pic_order_present && !s.field_pic) w.Se(s.delta_poc[1]);
    }
    if (pps.redundant_pic_cnt_present) w.Ue(s.redundant_pic_cnt);
    if (s.slice_type % 5 == 1) w.U1(false);  // direct_spatial_mv_pred_flag
    if (p_slice || s.slice_type % 5 == 1) {
        w.U1(s.override_refs);
        if (s.override_refs) {
            w.Ue(s.num_ref_idx_active - 1);
            if (s.slice_type % 5 == 1) w.Ue(0);
        }
    }
    if (s.slice_type % 5 != 2 && s.slice_type % 5 != 4) {
        w.U1(!s.reorder.empty());
        if (!s.reorder.empty()) {
            for (const Reorder& r : s.reorder) {
                w.Ue(r.idc);
                w.Ue(r.value);
            }
            w.Ue(3);
        }
        if (s.slice_type % 5 == 1) w.U1(false);
    }
    if (pps.weighted_pred && p_slice) {
        w.Ue(s.luma_log2_denom);
        w.Ue(s.chroma_log2_denom);
        const uint32_t n = s.override_refs ? s.num_ref_idx_active : pps.num_ref_idx_l0_default;
        for (uint32_t i = 0; i < n; ++i) {
            SliceParams::Weight e = i < s.weights.size() ? s.weights[i] : SliceParams::Weight{};
            w.U1(e.luma);
            if (e.luma) {
                w.Se(e.luma_weight);
                w.Se(e.luma_offset);
            }
            w.U1(e.chroma);
            if (e.chroma)
                for (int c = 0; c < 2; ++c) {
                    w.Se(e.chroma_weight[c]);
                    w.Se(e.chroma_offset[c]);
                }
        }
    }
    if (s.nal_ref_idc != 0) {
        if (s.idr) {
            w.U1(s.no_output_of_prior_pics);
            w.U1(s.long_term_reference);
        } else {
            w.U1(s.adaptive);
            if (s.adaptive) {
                for (const Mmco& m : s.mmco) {
                    w.Ue(m.op);
                    if (m.op == 1 || m.op == 3 || m.op == 2 || m.op == 4) w.Ue(m.a);
                    if (m.op == 3 || m.op == 6) w.Ue(m.long_term_frame_idx);
                }
                w.Ue(0);
            }
        }
    }
    w.Se(s.slice_qp_delta);
    if (pps.deblocking_filter_control_present) {
        w.Ue(s.disable_deblocking_filter_idc);
        if (s.disable_deblocking_filter_idc != 1) {
            w.Se(s.alpha_offset_div2);
            w.Se(s.beta_offset_div2);
        }
    }
}

void WritePcmMacroblock(BitWriter& w, bool p_slice, const uint8_t samples[384]) {
    w.Ue(p_slice ? 30 : 25);
    w.AlignZero();  // pcm_alignment_zero_bit
    w.Bytes(samples, 384);
}

void WriteInterZeroMacroblock(BitWriter& w, uint32_t ref_idx, uint32_t num_ref_idx_active) {
    w.Ue(0);  // P_L0_16x16
    if (num_ref_idx_active == 2)
        w.U1(ref_idx == 0);
    else if (num_ref_idx_active > 2)
        w.Ue(ref_idx);
    w.Se(0);
    w.Se(0);
    w.Ue(0);  // coded_block_pattern 0 (inter mapping)
}

std::vector<uint8_t> PcmSliceNal(const SliceParams& s, const SpsParams& sps, const PpsParams& pps,
                                 uint32_t count, const MacroblockSamples& samples) {
    BitWriter w;
    WriteSliceHeader(w, s, sps, pps);
    const bool p_slice = s.slice_type % 5 == 0 || s.slice_type % 5 == 3;
    uint8_t mb[384];
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t addr = s.first_mb + i;
        if (p_slice) w.Ue(0);  // mb_skip_run
        samples(addr % sps.width_mbs, addr / sps.width_mbs, mb);
        WritePcmMacroblock(w, p_slice, mb);
    }
    w.Trailing();
    return MakeNal(s.nal_ref_idc, s.idr ? 5 : 1, w.data());
}

MacroblockSamples Flat(uint8_t y, uint8_t cb, uint8_t cr) {
    return [=](uint32_t, uint32_t, uint8_t m[384]) {
        std::memset(m, y, 256);
        std::memset(m + 256, cb, 64);
        std::memset(m + 320, cr, 64);
    };
}

void Append(std::vector<uint8_t>& out, const std::vector<uint8_t>& more) {
    out.insert(out.end(), more.begin(), more.end());
}

}  // namespace kestrel::test

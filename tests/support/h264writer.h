// A small H.264 bitstream writer for tests: Exp-Golomb codes, parameter sets, slice headers and
// a few macroblock kinds (I_PCM, P_Skip runs, P_L0_16x16 without residual), framed as an
// Annex B byte stream with emulation prevention. Tests build exactly the streams they need.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace kestrel::test {

class BitWriter {
public:
    void U(uint32_t bits, uint32_t value);  // bits 1..32, most significant first
    void U1(bool b) { U(1, b ? 1 : 0); }
    void Ue(uint32_t value);
    void Se(int32_t value);
    void AlignZero();       // pad with zero bits to a byte boundary
    void Trailing();        // rbsp_trailing_bits
    void Bytes(const uint8_t* p, size_t n);  // at a byte boundary
    bool aligned() const { return bits_ == 0; }
    const std::vector<uint8_t>& data() const { return out_; }

private:
    std::vector<uint8_t> out_;
    uint32_t acc_ = 0;
    int bits_ = 0;
};

// Start code 00 00 00 01, the NAL header byte and the payload with emulation prevention.
std::vector<uint8_t> MakeNal(uint32_t nal_ref_idc, uint32_t nal_unit_type,
                             const std::vector<uint8_t>& rbsp);

struct SpsParams {
    uint32_t profile_idc = 77;
    uint32_t level_idc = 40;
    uint32_t id = 0;
    uint32_t log2_max_frame_num = 4;
    uint32_t poc_type = 0;
    uint32_t log2_max_poc_lsb = 6;
    // poc type 1
    bool delta_pic_order_always_zero = false;
    int32_t offset_for_non_ref_pic = 0;
    int32_t offset_for_top_to_bottom_field = 0;
    std::vector<int32_t> offset_for_ref_frame;
    uint32_t num_ref_frames = 4;
    bool gaps_allowed = false;
    uint32_t width_mbs = 2;
    uint32_t height_map_units = 2;
    bool frame_mbs_only = true;
    bool mbaff = false;
    bool direct_8x8_inference = true;
    bool cropping = false;
    uint32_t crop[4] = {0, 0, 0, 0};  // frame_crop_{left,right,top,bottom}_offset
    // High-profile fields, written when profile_idc is 100
    uint32_t chroma_format_idc = 1;
    uint32_t bit_depth_minus8 = 0;
};

struct PpsParams {
    uint32_t id = 0;
    uint32_t sps_id = 0;
    bool cabac = false;
    bool pic_order_present = false;
    uint32_t num_slice_groups_minus1 = 0;
    uint32_t num_ref_idx_l0_default = 1;  // active entries
    uint32_t num_ref_idx_l1_default = 1;
    bool weighted_pred = false;
    uint32_t weighted_bipred_idc = 0;
    int32_t pic_init_qp_minus26 = 0;
    int32_t pic_init_qs_minus26 = 0;
    int32_t chroma_qp_index_offset = 0;
    bool deblocking_filter_control_present = true;
    bool constrained_intra_pred = false;
    bool redundant_pic_cnt_present = false;
    bool high_extension = false;  // transform_8x8_mode_flag etc. follow
    bool transform_8x8 = false;
};

struct Mmco {
    uint32_t op;
    uint32_t a = 0;  // difference_of_pic_nums_minus1, long_term_pic_num or max_long_term_frame_idx_plus1
    uint32_t long_term_frame_idx = 0;
};

struct Reorder {
    uint32_t idc;
    uint32_t value;
};

struct SliceParams {
    uint32_t nal_ref_idc = 1;
    bool idr = false;
    uint32_t first_mb = 0;
    uint32_t slice_type = 7;  // as coded: 5 P, 7 I (all slices of the picture alike)
    uint32_t pps_id = 0;
    uint32_t frame_num = 0;
    bool field_pic = false;
    bool bottom_field = false;
    uint32_t idr_pic_id = 0;
    uint32_t poc_lsb = 0;
    int32_t delta_poc_bottom = 0;
    int32_t delta_poc[2] = {0, 0};
    uint32_t redundant_pic_cnt = 0;
    bool override_refs = false;
    uint32_t num_ref_idx_active = 1;
    std::vector<Reorder> reorder;
    // pred_weight_table (written when the PPS has weighted_pred and the slice is P)
    uint32_t luma_log2_denom = 0;
    uint32_t chroma_log2_denom = 0;
    struct Weight {
        bool luma = false;
        int32_t luma_weight = 1, luma_offset = 0;
        bool chroma = false;
        int32_t chroma_weight[2] = {1, 1}, chroma_offset[2] = {0, 0};
    };
    std::vector<Weight> weights;
    // dec_ref_pic_marking
    bool no_output_of_prior_pics = false;
    bool long_term_reference = false;
    bool adaptive = false;
    std::vector<Mmco> mmco;
    int32_t slice_qp_delta = 0;
    uint32_t disable_deblocking_filter_idc = 1;
    int32_t alpha_offset_div2 = 0;
    int32_t beta_offset_div2 = 0;
};

std::vector<uint8_t> SpsNal(const SpsParams& s);
std::vector<uint8_t> PpsNal(const PpsParams& p);
// Payload type, size and bytes of one SEI message.
std::vector<uint8_t> SeiNal(uint32_t payload_type, const std::vector<uint8_t>& payload);

void WriteSliceHeader(BitWriter& w, const SliceParams& s, const SpsParams& sps, const PpsParams& pps);

// Macroblocks of the slice data.
void WritePcmMacroblock(BitWriter& w, bool p_slice, const uint8_t samples[384]);
// P_L0_16x16 with zero motion vector difference and no residual.
void WriteInterZeroMacroblock(BitWriter& w, uint32_t ref_idx, uint32_t num_ref_idx_active);

// 384 samples of one macroblock: luma 16x16 in raster order, then Cb 8x8, then Cr 8x8.
using MacroblockSamples = std::function<void(uint32_t mb_x, uint32_t mb_y, uint8_t samples[384])>;

// One slice NAL unit covering macroblocks [first, first + count) of an I_PCM picture (in P
// slices each is preceded by mb_skip_run 0).
std::vector<uint8_t> PcmSliceNal(const SliceParams& s, const SpsParams& sps, const PpsParams& pps,
                                 uint32_t count, const MacroblockSamples& samples);

// Samples of a flat macroblock: luma y, chroma cb and cr.
MacroblockSamples Flat(uint8_t y, uint8_t cb, uint8_t cr);

// Concatenation helper.
void Append(std::vector<uint8_t>& out, const std::vector<uint8_t>& more);

}  // namespace kestrel::test

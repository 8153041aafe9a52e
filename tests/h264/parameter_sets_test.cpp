// Sequence and picture parameter sets: limits, rejections, storage and the DPB size.
#include <gtest/gtest.h>

#include <functional>

#include "h264/parameter_sets.h"
#include "tests/h264/decode_harness.h"

namespace kestrel::test {
namespace {

uint32_t SpsStatus(const SpsParams& s, const H264DecAttributes& attr = Attributes(8, 8, 4)) {
    Decoded d = DecodeAll(SpsNal(s), attr);
    return d.statuses.empty() ? 0 : d.statuses[0];
}

TEST(SequenceParameterSet, LimitsAndRejections) {
    struct Case {
        const char* what;
        std::function<void(SpsParams&)> change;
        uint32_t status;
    };
    const Case cases[] = {
        {"accepted", [](SpsParams&) {}, H264_STATUS_SPS_STORED},
        {"id 32", [](SpsParams& s) { s.id = 32; }, H264_STATUS_SPS_BAD_ID},
        {"id 31", [](SpsParams& s) { s.id = 31; }, H264_STATUS_SPS_STORED},
        {"frame_num bits 17", [](SpsParams& s) { s.log2_max_frame_num = 17; }, H264_STATUS_SPS_BAD_FRAME_NUM_BITS},
        {"frame_num bits 16", [](SpsParams& s) { s.log2_max_frame_num = 16; }, H264_STATUS_SPS_STORED},
        {"poc lsb bits 17", [](SpsParams& s) { s.log2_max_poc_lsb = 17; }, H264_STATUS_SPS_BAD_POC_LSB_BITS},
        {"poc type 3", [](SpsParams& s) { s.poc_type = 3; }, H264_STATUS_SPS_BAD_POC_TYPE},
        {"poc cycle 257", [](SpsParams& s) { s.poc_type = 1; s.offset_for_ref_frame.assign(257, 1); },
         H264_STATUS_SPS_BAD_POC_CYCLE},
        {"poc cycle 256", [](SpsParams& s) { s.poc_type = 1; s.offset_for_ref_frame.assign(256, 1); },
         H264_STATUS_SPS_STORED},
        {"17 reference frames", [](SpsParams& s) { s.num_ref_frames = 17; }, H264_STATUS_SPS_TOO_MANY_REF_FRAMES},
        {"5 reference frames with N 4", [](SpsParams& s) { s.num_ref_frames = 5; }, H264_STATUS_SPS_REF_FRAMES_ABOVE_N},
        {"4 reference frames with N 4", [](SpsParams& s) { s.num_ref_frames = 4; }, H264_STATUS_SPS_STORED},
        {"wider than configured", [](SpsParams& s) { s.width_mbs = 9; }, H264_STATUS_SPS_BAD_SIZE},
        {"taller than configured", [](SpsParams& s) { s.height_map_units = 9; }, H264_STATUS_SPS_BAD_SIZE},
        {"largest", [](SpsParams& s) { s.width_mbs = 8; s.height_map_units = 8; }, H264_STATUS_SPS_STORED},
        {"one macroblock wide", [](SpsParams& s) { s.width_mbs = 1; }, H264_STATUS_SPS_BAD_SIZE},
        {"one map unit tall", [](SpsParams& s) { s.height_map_units = 1; }, H264_STATUS_SPS_BAD_SIZE},
        {"interlaced: map units count twice",
         [](SpsParams& s) { s.frame_mbs_only = false; s.height_map_units = 5; }, H264_STATUS_SPS_BAD_SIZE},
        {"interlaced, largest", [](SpsParams& s) { s.frame_mbs_only = false; s.height_map_units = 4; },
         H264_STATUS_SPS_STORED},
        {"MBAFF", [](SpsParams& s) { s.frame_mbs_only = false; s.mbaff = true; }, H264_STATUS_SPS_MBAFF},
        {"crop leaves no width",
         [](SpsParams& s) { s.cropping = true; s.crop[0] = 8; s.crop[1] = 8; }, H264_STATUS_SPS_BAD_CROP},
        {"crop leaves no height",
         [](SpsParams& s) { s.cropping = true; s.crop[2] = 16; }, H264_STATUS_SPS_BAD_CROP},
        {"crop leaves two lines",
         [](SpsParams& s) { s.cropping = true; s.crop[2] = 15; }, H264_STATUS_SPS_STORED},
        {"huge crop offset", [](SpsParams& s) { s.cropping = true; s.crop[0] = 0x80000000u; }, H264_STATUS_SPS_BAD_CROP},
        {"High profile, 4:2:0 8-bit", [](SpsParams& s) { s.profile_idc = 100; }, H264_STATUS_SPS_STORED},
        {"High profile, 4:2:2", [](SpsParams& s) { s.profile_idc = 100; s.chroma_format_idc = 2; },
         H264_STATUS_SPS_UNSUPPORTED_FORMAT},
        {"High profile, 10 bits", [](SpsParams& s) { s.profile_idc = 100; s.bit_depth_minus8 = 2; },
         H264_STATUS_SPS_UNSUPPORTED_FORMAT},
    };
    for (const Case& c : cases) {
        SpsParams s;
        c.change(s);
        EXPECT_EQ(SpsStatus(s), c.status) << c.what;
    }
}

TEST(SequenceParameterSet, AttributesOutOfRangeAreReplacedByDefaults) {
    SpsParams s;
    s.num_ref_frames = 4;
    s.width_mbs = 45;
    s.height_map_units = 36;
    // width 1 becomes 45 and height 200 becomes 36; buffer count 0 becomes 4
    EXPECT_EQ(SpsStatus(s, Attributes(1, 200, 0)), H264_STATUS_SPS_STORED);
    s.width_mbs = 46;
    EXPECT_EQ(SpsStatus(s, Attributes(1, 200, 0)), H264_STATUS_SPS_BAD_SIZE);
    s.width_mbs = 45;
    s.height_map_units = 37;
    EXPECT_EQ(SpsStatus(s, Attributes(129, 5, 0)), H264_STATUS_SPS_BAD_SIZE);
    s.height_map_units = 36;
    s.num_ref_frames = 5;
    EXPECT_EQ(SpsStatus(s, Attributes(1, 200, 0)), H264_STATUS_SPS_REF_FRAMES_ABOVE_N);
    // buffer count 20 becomes 16
    s.num_ref_frames = 16;
    EXPECT_EQ(SpsStatus(s, Attributes(45, 36, 20)), H264_STATUS_SPS_STORED);
}

TEST(SequenceParameterSet, TruncatedUnitIsRejected) {
    std::vector<uint8_t> nal = SpsNal({});
    nal.resize(nal.size() - 3);  // cut inside the fields
    nal.push_back(0x80);
    Decoded d = DecodeAll(nal, Attributes(8, 8));
    ASSERT_EQ(d.statuses.size(), 1u);
    EXPECT_NE(d.statuses[0], uint32_t{H264_STATUS_SPS_STORED});
}

TEST(DecodedPictureBufferSize, FollowsTheLevelThePoolAndTheReferenceFrames) {
    using h264::DpbSizeFrames;
    const uint32_t cif = 384 * 22 * 18;
    EXPECT_EQ(DpbSizeFrames(30, cif, 16, 1), 16u);  // 3110400 / 152064 = 20, at most 16
    EXPECT_EQ(DpbSizeFrames(20, cif, 16, 1), 6u);   // 912384 / 152064
    EXPECT_EQ(DpbSizeFrames(20, cif, 2, 1), 4u);    // at most 2N
    EXPECT_EQ(DpbSizeFrames(20, cif, 16, 8), 8u);   // at least num_ref_frames
    EXPECT_EQ(DpbSizeFrames(9, cif, 16, 1), 16u);   // unknown levels give 16
    EXPECT_EQ(DpbSizeFrames(60, cif, 16, 1), 16u);
    EXPECT_EQ(DpbSizeFrames(10, 384 * 120 * 68, 16, 0), 1u);  // never 0, or nothing could be stored
}

uint32_t PpsStatus(const PpsParams& p, bool sps_first = true) {
    std::vector<uint8_t> stream;
    if (sps_first) Append(stream, SpsNal({}));
    Append(stream, PpsNal(p));
    Decoded d = DecodeAll(stream, Attributes(8, 8));
    return d.statuses.back();
}

TEST(PictureParameterSet, LimitsAndRejections) {
    struct Case {
        const char* what;
        std::function<void(PpsParams&)> change;
        uint32_t status;
    };
    const Case cases[] = {
        {"accepted", [](PpsParams&) {}, H264_STATUS_PPS_STORED},
        {"id 255", [](PpsParams& p) { p.id = 255; }, H264_STATUS_PPS_STORED},
        {"id 256", [](PpsParams& p) { p.id = 256; }, H264_STATUS_PPS_BAD_ID},
        {"SPS id 32", [](PpsParams& p) { p.sps_id = 32; }, H264_STATUS_BAD_SPS_REFERENCE},
        {"SPS not stored", [](PpsParams& p) { p.sps_id = 3; }, H264_STATUS_BAD_SPS_REFERENCE},
        {"CABAC", [](PpsParams& p) { p.cabac = true; }, H264_STATUS_PPS_CABAC},
        {"slice groups", [](PpsParams& p) { p.num_slice_groups_minus1 = 1; }, H264_STATUS_PPS_SLICE_GROUPS},
        {"33 list entries", [](PpsParams& p) { p.num_ref_idx_l0_default = 33; }, H264_STATUS_PPS_BAD_L0_SIZE},
        {"32 list entries", [](PpsParams& p) { p.num_ref_idx_l0_default = 32; }, H264_STATUS_PPS_STORED},
        {"33 list 1 entries", [](PpsParams& p) { p.num_ref_idx_l1_default = 33; }, H264_STATUS_PPS_BAD_L1_SIZE},
        {"weighted bipred (B slices only)", [](PpsParams& p) { p.weighted_bipred_idc = 2; }, H264_STATUS_PPS_STORED},
        {"qp -27", [](PpsParams& p) { p.pic_init_qp_minus26 = -27; }, H264_STATUS_PPS_BAD_QP},
        {"qp 25", [](PpsParams& p) { p.pic_init_qp_minus26 = 25; }, H264_STATUS_PPS_STORED},
        {"qp 26", [](PpsParams& p) { p.pic_init_qp_minus26 = 26; }, H264_STATUS_PPS_BAD_QP},
        {"qs 26", [](PpsParams& p) { p.pic_init_qs_minus26 = 26; }, H264_STATUS_PPS_BAD_QS},
        {"chroma offset 13", [](PpsParams& p) { p.chroma_qp_index_offset = 13; }, H264_STATUS_PPS_BAD_CHROMA_QP_OFFSET},
        {"chroma offset -12", [](PpsParams& p) { p.chroma_qp_index_offset = -12; }, H264_STATUS_PPS_STORED},
        {"High extension without new tools", [](PpsParams& p) { p.high_extension = true; }, H264_STATUS_PPS_STORED},
        {"8x8 transform", [](PpsParams& p) { p.high_extension = true; p.transform_8x8 = true; },
         H264_STATUS_PPS_UNSUPPORTED_TOOLS},
    };
    for (const Case& c : cases) {
        PpsParams p;
        c.change(p);
        EXPECT_EQ(PpsStatus(p), c.status) << c.what;
    }
}

TEST(PictureParameterSet, BeforeItsSpsIsRejectedAndMustComeAgain) {
    PcmStream s;
    Append(s.bytes, PpsNal(s.pps));  // too early
    Append(s.bytes, SpsNal(s.sps));
    s.Idr(50);                       // no PPS yet: not decodable
    Append(s.bytes, PpsNal(s.pps));
    s.Idr(60, 1);
    Decoded d = DecodeAll(s.bytes, Attributes(8, 8));
    ASSERT_GE(d.statuses.size(), 5u);
    EXPECT_EQ(d.statuses[0], H264_STATUS_BAD_SPS_REFERENCE);
    EXPECT_EQ(d.statuses[2], H264_STATUS_SLICE_NOT_DECODABLE);
    ASSERT_EQ(d.pictures.size(), 1u);
    EXPECT_EQ(d.pictures[0].top, 60);
}

TEST(PictureParameterSet, RejectedUnitLeavesTheStoredSetInPlace) {
    PcmStream s;
    s.Headers();
    PpsParams bad = s.pps;
    bad.cabac = true;
    Append(s.bytes, PpsNal(bad));  // same id, rejected
    s.Idr(70);
    Decoded d = DecodeAll(s.bytes, Attributes(8, 8));
    ASSERT_EQ(d.pictures.size(), 1u);
    EXPECT_EQ(d.pictures[0].top, 70);
}

}  // namespace
}  // namespace kestrel::test

// Slice headers: slice types, header limits, new-picture detection and the stream state.
#include <gtest/gtest.h>

#include "tests/h264/decode_harness.h"

namespace kestrel::test {
namespace {

SliceParams Slice(uint32_t type, uint32_t frame_num, uint32_t poc_lsb) {
    SliceParams s;
    s.slice_type = type;
    s.frame_num = frame_num;
    s.poc_lsb = poc_lsb;
    return s;
}

TEST(SliceHeader, SliceTypesAreMappedOrDropped) {
    struct Case {
        uint32_t type;
        uint32_t status;
        bool returned;
    };
    const Case cases[] = {
        {7, H264_STATUS_NEW_PICTURE, true},   // I, all slices of the picture I
        {2, H264_STATUS_NEW_PICTURE, true},
        {5, H264_STATUS_NEW_PICTURE, true},   // P
        {0, H264_STATUS_NEW_PICTURE, true},
        {6, H264_STATUS_SLICE_B, false},
        {1, H264_STATUS_SLICE_B, false},
        {8, H264_STATUS_SLICE_SP_SI, false},  // SP: its extra header fields are not decoded
        {9, H264_STATUS_SLICE_SP_SI, false},  // SI
        {3, H264_STATUS_SLICE_SP_SI, false},
        {10, H264_STATUS_SLICE_BAD_TYPE, false},
    };
    for (const Case& c : cases) {
        PcmStream s;
        s.Headers();
        s.Idr(10);
        s.Picture(Slice(c.type, 1, 2), 20);
        Decoded d = DecodeAll(s.bytes, Attributes(8, 8));
        ASSERT_EQ(d.statuses.size(), 4u);
        EXPECT_EQ(d.statuses[3], c.status) << c.type;
        EXPECT_EQ(d.pictures.size(), c.returned ? 2u : 1u) << c.type;
    }
}

TEST(SliceHeader, InvalidValuesDropTheSlice) {
    struct Case {
        const char* what;
        bool weighted;
        bool redundant;
        SliceParams slice;
        uint32_t status;
    };
    auto p = [](auto change) {
        SliceParams s = Slice(5, 1, 2);
        change(s);
        return s;
    };
    const Case cases[] = {
        {"weights with denominator 7", true, false, p([](SliceParams& s) { s.luma_log2_denom = 7; }),
         H264_STATUS_NEW_PICTURE},
        {"luma denominator 8", true, false, p([](SliceParams& s) { s.luma_log2_denom = 8; }), H264_STATUS_SLICE_BAD_WEIGHTS},
        {"chroma denominator 8", true, false, p([](SliceParams& s) { s.chroma_log2_denom = 8; }), H264_STATUS_SLICE_BAD_WEIGHTS},
        {"luma weight 128", true, false, p([](SliceParams& s) {
             s.weights.resize(1);
             s.weights[0].luma = true;
             s.weights[0].luma_weight = 128;
         }), H264_STATUS_SLICE_BAD_WEIGHTS},
        {"redundant slice", false, true, p([](SliceParams& s) { s.redundant_pic_cnt = 1; }), H264_STATUS_SLICE_REDUNDANT},
        {"primary slice of a stream with redundant slices", false, true, p([](SliceParams&) {}), H264_STATUS_NEW_PICTURE},
        {"33 list entries", false, false, p([](SliceParams& s) {
             s.override_refs = true;
             s.num_ref_idx_active = 33;
         }), H264_STATUS_SLICE_BAD_L0_SIZE},
        {"QP beyond 51", false, false, p([](SliceParams& s) { s.slice_qp_delta = 26; }), H264_STATUS_SLICE_SYNTAX},
        {"deblocking idc 3", false, false, p([](SliceParams& s) { s.disable_deblocking_filter_idc = 3; }),
         H264_STATUS_SLICE_SYNTAX},
        {"memory management operation 7", false, false, p([](SliceParams& s) {
             s.adaptive = true;
             s.mmco = {{7}};
         }), H264_STATUS_SLICE_SYNTAX},
        {"reordering command 4", false, false, p([](SliceParams& s) { s.reorder = {{4, 0}}; }), H264_STATUS_SLICE_SYNTAX},
        {"first macroblock beyond the picture", false, false, p([](SliceParams& s) { s.first_mb = 4; }),
         H264_STATUS_SLICE_DATA + 1},
    };
    for (const Case& c : cases) {
        PcmStream s;
        s.pps.weighted_pred = c.weighted;
        s.pps.redundant_pic_cnt_present = c.redundant;
        s.Headers();
        s.Idr(10);
        Append(s.bytes, PcmSliceNal(c.slice, s.sps, s.pps, 4, Flat(20, 21, 22)));
        Decoded d = DecodeAll(s.bytes, Attributes(8, 8));
        ASSERT_EQ(d.statuses.size(), 4u) << c.what;
        EXPECT_EQ(d.statuses[3], c.status) << c.what;
    }
}

TEST(SliceHeader, IdrWithFrameNumOtherThanZeroIsDropped) {
    PcmStream s;
    s.Headers();
    SliceParams idr;
    idr.idr = true;
    idr.frame_num = 1;
    s.Picture(idr, 10);
    Decoded d = DecodeAll(s.bytes, Attributes(8, 8));
    EXPECT_EQ(d.statuses[2], H264_STATUS_SLICE_IDR_FRAME_NUM);
    EXPECT_TRUE(d.pictures.empty());
}

TEST(SliceHeader, PSlicesBeforeTheFirstIntraSliceProduceNothing) {
    PcmStream s;
    s.Headers();
    s.Picture(Slice(5, 1, 2), 10);
    s.Picture(Slice(5, 2, 4), 20);
    s.Picture(Slice(7, 3, 6), 30);  // a non-IDR I slice starts decoding too
    s.Picture(Slice(5, 4, 8), 40);
    Decoded d = DecodeAll(s.bytes, Attributes(8, 8));
    ASSERT_EQ(d.pictures.size(), 2u);
    EXPECT_EQ(d.pictures[0].top, 30);
    EXPECT_EQ(d.pictures[1].top, 40);
    EXPECT_EQ(d.statuses[2], H264_STATUS_SLICE_NOT_DECODABLE);
}

TEST(SliceHeader, IdenticalHeadersAreToldApartByFirstMacroblockZero) {
    PcmStream s;
    s.Headers();
    s.Idr(10);
    // two non-reference pictures with the same frame_num and POC, two slices each
    SliceParams n = Slice(7, 1, 2);
    n.nal_ref_idc = 0;
    s.Picture(n, 20, 2);
    s.Picture(n, 30, 2);
    Decoded d = DecodeAll(s.bytes, Attributes(8, 8));
    ASSERT_EQ(d.pictures.size(), 3u);
    EXPECT_EQ(d.pictures[1].top, 20);
    EXPECT_EQ(d.pictures[2].top, 30);
    EXPECT_EQ(d.pictures[1].damaged, 0u);
    EXPECT_EQ(d.statuses[4], H264_STATUS_SAME_PICTURE);
    EXPECT_EQ(d.statuses[5], H264_STATUS_NEW_PICTURE);
}

TEST(SliceHeader, DamagedFirstSliceKeepsItsPictureOne) {
    PcmStream s;
    s.Headers();
    s.Idr(10);
    // picture 2 in two slices; the first one's data is cut short
    SliceParams a = Slice(7, 1, 2);
    std::vector<uint8_t> first = PcmSliceNal(a, s.sps, s.pps, 2, Flat(20, 21, 22));
    first.resize(first.size() - 300);
    Append(s.bytes, first);
    a.first_mb = 2;
    Append(s.bytes, PcmSliceNal(a, s.sps, s.pps, 2, Flat(20, 21, 22)));
    s.Frame(30, 2, 4);
    Decoded d = DecodeAll(s.bytes, Attributes(8, 8));
    ASSERT_EQ(d.pictures.size(), 3u);
    EXPECT_EQ(d.pictures[1].damaged, 1u);
    EXPECT_EQ(d.pictures[2].top, 30);
    EXPECT_EQ(d.pictures[2].damaged, 0u);
}

TEST(SliceHeader, MissingSliceMarksThePictureDamagedUnlessAFlushFinishesIt) {
    PcmStream s;
    s.Headers();
    s.Idr(10);
    SliceParams a = Slice(7, 1, 2);
    Append(s.bytes, PcmSliceNal(a, s.sps, s.pps, 3, Flat(20, 21, 22)));  // one of four missing
    s.Frame(30, 2, 4);
    Append(s.bytes, PcmSliceNal(Slice(7, 3, 6), s.sps, s.pps, 3, Flat(40, 41, 42)));
    Decoded d = DecodeAll(s.bytes, Attributes(8, 8));
    ASSERT_EQ(d.pictures.size(), 4u);
    EXPECT_EQ(d.pictures[1].damaged, 1u);
    EXPECT_EQ(d.pictures[2].damaged, 0u);
    EXPECT_EQ(d.pictures[3].damaged, 0u);  // finished by the flush: not checked
}

}  // namespace
}  // namespace kestrel::test

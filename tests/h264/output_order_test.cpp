// When pictures leave the decoder: immediate output in decoding order, bumping in picture order
// count order, field pairing, frame_num gaps, IDR and memory_management_operation 5 flushes.
#include <gtest/gtest.h>

#include "tests/h264/decode_harness.h"

namespace kestrel::test {
namespace {

struct Pic {
    uint8_t tag;
    uint32_t frame_num;
    uint32_t poc_lsb;
    bool reference = true;
    bool idr = false;
};

std::vector<uint8_t> Tags(const Decoded& d) {
    std::vector<uint8_t> t;
    for (const Returned& r : d.pictures) t.push_back(r.top);
    return t;
}

// Frames of a stream, 11x12 macroblocks at level 10: a DPB of 3 frames.
PcmStream Frames(const std::vector<Pic>& pics, bool gaps_allowed = false) {
    PcmStream s;
    s.sps.width_mbs = 11;
    s.sps.height_map_units = 12;
    s.sps.level_idc = 10;
    s.sps.num_ref_frames = 2;
    s.sps.gaps_allowed = gaps_allowed;
    s.sps.log2_max_poc_lsb = 8;
    s.Headers();
    for (const Pic& p : pics) {
        SliceParams sl;
        sl.idr = p.idr;
        sl.frame_num = p.frame_num;
        sl.poc_lsb = p.poc_lsb;
        sl.nal_ref_idc = p.reference ? 1 : 0;
        sl.slice_type = p.idr ? 7 : 5;
        s.Picture(sl, p.tag);
    }
    return s;
}

constexpr uint32_t kBumping = H264DEC_MODE_OUTPUT_ORDER;

TEST(OutputOrder, ImmediateIsDecodingOrderBumpingIsPictureOrder) {
    const std::vector<Pic> pics = {{10, 0, 0, true, true}, {50, 1, 8}, {20, 2, 2, false}, {30, 2, 4, false},
                                   {40, 2, 6, false}, {90, 2, 16}, {60, 3, 10, false}};
    PcmStream s = Frames(pics);
    EXPECT_EQ(Tags(DecodeAll(s.bytes, Attributes(11, 12))), (std::vector<uint8_t>{10, 50, 20, 30, 40, 90, 60}));
    EXPECT_EQ(Tags(DecodeAll(s.bytes, Attributes(11, 12, 16, kBumping))),
              (std::vector<uint8_t>{10, 20, 30, 40, 50, 60, 90}));
}

TEST(OutputOrder, BumpingWithThreeFramesHoldsTheFirstUntilTheFourthIsStored) {
    PcmStream s = Frames({{10, 0, 0, true, true}, {20, 1, 2}, {30, 2, 4}, {40, 3, 6}, {50, 4, 8}});
    Append(s.bytes, MakeNal(0, 9, {0xF0}));  // access unit delimiter
    // NAL units: SPS, PPS, one slice per frame, AUD. Fed unit by unit, each with its start code.
    std::vector<size_t> starts;
    for (size_t i = 0; i + 3 < s.bytes.size(); ++i)
        if (s.bytes[i] == 0 && s.bytes[i + 1] == 0 && s.bytes[i + 2] == 0 && s.bytes[i + 3] == 1) starts.push_back(i);
    starts.push_back(s.bytes.size());
    H264DecAttributes a = Attributes(11, 12, 16, kBumping);
    H264Dec* d = h264dec_create(&a);
    H264DecFrame f;
    int first_at = -1;
    for (size_t u = 0; u + 1 < starts.size() && first_at < 0; ++u)
        if (h264dec_decode(d, s.bytes.data() + starts[u], static_cast<uint32_t>(starts[u + 1] - starts[u]), 0, 0, &f,
                           0) == H264DEC_PICTURE)
            first_at = static_cast<int>(u);
    // The fourth frame is stored when the fifth starts, that is when the AUD's start code (unit
    // 7) completes the fifth frame's slice.
    ASSERT_EQ(first_at, 7);
    EXPECT_EQ(f.y[0], 10);
    h264dec_destroy(d);
    // The flush returns the rest in order.
    EXPECT_EQ(Tags(DecodeAll(s.bytes, a)), (std::vector<uint8_t>{10, 20, 30, 40, 50}));
}

TEST(OutputOrder, IdrWithNoOutputOfPriorPicsDiscardsWhatWaits) {
    for (bool no_output : {false, true}) {
        PcmStream s = Frames({{10, 0, 0, true, true}, {20, 1, 2}});
        SliceParams idr;
        idr.idr = true;
        idr.idr_pic_id = 1;
        idr.no_output_of_prior_pics = no_output;
        s.Picture(idr, 30);
        const Decoded d = DecodeAll(s.bytes, Attributes(11, 12, 16, kBumping));
        if (no_output)
            EXPECT_EQ(Tags(d), (std::vector<uint8_t>{30}));
        else
            EXPECT_EQ(Tags(d), (std::vector<uint8_t>{10, 20, 30}));
        // decoding order output has nothing waiting
        EXPECT_EQ(Tags(DecodeAll(s.bytes, Attributes(11, 12))), (std::vector<uint8_t>{10, 20, 30}));
    }
}

TEST(OutputOrder, MemoryManagementOperation5FlushesAndRestartsTheOrderCounts) {
    PcmStream s = Frames({{10, 0, 0, true, true}, {20, 1, 20}, {30, 2, 40}});
    SliceParams m;
    m.slice_type = 5;
    m.frame_num = 3;
    m.poc_lsb = 60;  // becomes 0: output after everything before it
    m.adaptive = true;
    m.mmco = {{5}};
    s.Picture(m, 40);
    SliceParams n;
    n.slice_type = 5;
    n.frame_num = 1;  // frame_num counts from 0 again
    n.poc_lsb = 2;
    s.Picture(n, 50);
    const Decoded d = DecodeAll(s.bytes, Attributes(11, 12, 16, kBumping));
    EXPECT_EQ(Tags(d), (std::vector<uint8_t>{10, 20, 30, 40, 50}));
    ASSERT_EQ(d.pictures.size(), 5u);
    EXPECT_EQ(d.pictures[3].poc, 0);
    EXPECT_EQ(d.pictures[4].poc, 2);
    EXPECT_FALSE(d.Has(H264_STATUS_SLICE_NO_PICTURE));
}

TEST(OutputOrder, FrameNumGaps) {
    // 0, 1, then 4: frames 2 and 3 are missing.
    const std::vector<Pic> jump = {{10, 0, 0, true, true}, {20, 1, 2}, {30, 4, 8}, {40, 5, 10}};
    for (bool gaps_allowed : {true, false}) {
        // with gaps allowed the two frames are made up but never returned; without, the jump is
        // accepted as it is
        for (uint32_t mode : {0u, uint32_t{kBumping}}) {
            const Decoded d = DecodeAll(Frames(jump, gaps_allowed).bytes, Attributes(11, 12, 16, mode));
            EXPECT_EQ(Tags(d), (std::vector<uint8_t>{10, 20, 30, 40})) << gaps_allowed << mode;
        }
    }
    // A jump backwards fails the picture; decoding resumes at the next intra picture.
    PcmStream s = Frames({{10, 0, 0, true, true}, {20, 1, 2}, {30, 2, 4}, {40, 1, 6}, {50, 3, 8}});
    SliceParams i;
    i.slice_type = 7;
    i.frame_num = 3;
    i.poc_lsb = 10;
    s.Picture(i, 60);
    const Decoded d = DecodeAll(s.bytes, Attributes(11, 12));
    EXPECT_EQ(Tags(d), (std::vector<uint8_t>{10, 20, 30, 60}));
    EXPECT_TRUE(d.Has(H264_STATUS_SLICE_NO_PICTURE));
    EXPECT_TRUE(d.Has(H264_STATUS_SLICE_NOT_DECODABLE));  // the P frame after the failure waits
}

// Interlaced stream, 2x2 map units: frames of 2x4 macroblocks, fields of 2x2.
PcmStream Interlaced() {
    PcmStream s;
    s.sps.frame_mbs_only = false;
    s.sps.num_ref_frames = 2;
    s.Headers();
    return s;
}

SliceParams Field(uint32_t frame_num, bool bottom, uint32_t poc_lsb, bool idr = false, bool reference = true) {
    SliceParams f;
    f.idr = idr;
    f.slice_type = idr ? 7 : 5;
    f.frame_num = frame_num;
    f.field_pic = true;
    f.bottom_field = bottom;
    f.poc_lsb = poc_lsb;
    f.nal_ref_idc = reference ? 1 : 0;
    return f;
}

TEST(OutputOrder, FieldPairIsReturnedOnceAsOneFrameOfFullHeight) {
    for (uint32_t mode : {0u, uint32_t{kBumping}}) {
        for (bool reference : {true, false}) {
            PcmStream s = Interlaced();
            s.Picture(Field(0, false, 0, true), 10);
            s.Picture(Field(0, true, 1, false), 11);
            s.Picture(Field(1, false, 4, false, reference), 20);
            s.Picture(Field(1, true, 5, false, reference), 21);
            s.Picture(Field(2, true, 9), 31);  // bottom field first
            s.Picture(Field(2, false, 8), 30);
            const Decoded d = DecodeAll(s.bytes, Attributes(2, 6, 16, mode));
            ASSERT_EQ(d.pictures.size(), 3u) << mode << reference;
            for (size_t i = 0; i < 3; ++i) {
                EXPECT_EQ(d.pictures[i].top, 10 + 10 * i);
                EXPECT_EQ(d.pictures[i].bottom, 11 + 10 * i);
                EXPECT_EQ(d.pictures[i].height, 64u);
                EXPECT_EQ(d.pictures[i].damaged, 0u);
            }
            EXPECT_EQ(d.pictures[0].idr, 1u);  // either field IDR
            EXPECT_EQ(d.pictures[2].poc, 8);   // the smaller field order count
        }
    }
}

TEST(OutputOrder, LoneFieldIsReturnedAsAFrameWithTheOtherRowsAsTheyWere) {
    for (uint32_t mode : {0u, uint32_t{kBumping}}) {
        PcmStream s = Interlaced();
        s.Picture(Field(0, false, 0, true), 10);
        s.Picture(Field(0, true, 1), 11);
        s.Picture(Field(1, false, 4), 20);  // its bottom field is lost
        s.Picture(Field(2, false, 8), 30);
        s.Picture(Field(2, true, 9), 31);
        const Decoded d = DecodeAll(s.bytes, Attributes(2, 6, 16, mode));
        ASSERT_EQ(d.pictures.size(), 3u) << mode;
        EXPECT_EQ(d.pictures[1].top, 20);
        EXPECT_EQ(d.pictures[1].bottom, 0);  // a fresh buffer: black
        EXPECT_EQ(d.pictures[1].height, 64u);
        EXPECT_EQ(d.pictures[2].top, 30);
        EXPECT_EQ(d.pictures[2].bottom, 31);
    }
}

TEST(OutputOrder, FramesOfAnInterlacedStreamAndFieldsMix) {
    PcmStream s = Interlaced();
    SliceParams frame;
    frame.idr = true;
    s.Picture(frame, 10);
    s.Picture(Field(1, false, 4), 20);
    s.Picture(Field(1, true, 5), 21);
    frame = SliceParams{};
    frame.slice_type = 5;
    frame.frame_num = 2;
    frame.poc_lsb = 8;
    s.Picture(frame, 30);
    for (uint32_t mode : {0u, uint32_t{kBumping}}) {
        const Decoded d = DecodeAll(s.bytes, Attributes(2, 6, 16, mode));
        ASSERT_EQ(d.pictures.size(), 3u);
        EXPECT_EQ(d.pictures[0].top, 10);
        EXPECT_EQ(d.pictures[0].bottom, 10);
        EXPECT_EQ(d.pictures[1].bottom, 21);
        EXPECT_EQ(d.pictures[2].top, 30);
    }
}

}  // namespace
}  // namespace kestrel::test

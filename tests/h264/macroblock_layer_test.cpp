// The macroblock layer on small hand-made streams: where slice data ends, values out of range,
// scans, quantiser changes, reference indices, motion vectors reaching outside the picture,
// explicit weights and the deblocking decisions at slice and field boundaries.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "tests/h264/decode_harness.h"

namespace kestrel::test {
namespace {

// A returned picture with its planes.
struct Pic {
    uint32_t width = 0, height = 0, damaged = 0;
    std::vector<uint8_t> y, cb, cr;
    uint8_t Y(int x, int row) const { return y[static_cast<size_t>(row) * width + x]; }
};

struct Outcome {
    std::vector<Pic> pics;
    std::vector<uint32_t> statuses;
    bool Has(uint32_t s) const { return std::find(statuses.begin(), statuses.end(), s) != statuses.end(); }
};

Outcome Decode(const std::vector<uint8_t>& stream, uint32_t w_mbs = 2, uint32_t h_mbs = 6) {
    Outcome run;
    const H264DecAttributes a = Attributes(w_mbs, h_mbs);
    H264Dec* d = h264dec_create(&a);
    h264dec_set_log(d, [](void* ctx, const H264DecNalEvent* e) { static_cast<Outcome*>(ctx)->statuses.push_back(e->status); },
                    &run);
    H264DecFrame f;
    auto take = [&] {
        Pic p;
        p.width = f.width;
        p.height = f.height;
        p.damaged = f.damaged;
        p.y.assign(f.y, f.y + size_t{f.y_stride} * f.height);
        p.cb.assign(f.u, f.u + size_t{f.uv_stride} * f.height / 2);
        p.cr.assign(f.v, f.v + size_t{f.uv_stride} * f.height / 2);
        run.pics.push_back(std::move(p));
    };
    for (int32_t r = h264dec_decode(d, stream.data(), static_cast<uint32_t>(stream.size()), 0, 0, &f, 0); r == 0;
         r = h264dec_decode(d, nullptr, 0, 0, 0, &f, 0))
        take();
    while (h264dec_decode(d, nullptr, 0, 0, 0, &f, H264DEC_FLAG_FLUSH) == 0) take();
    h264dec_destroy(d);
    return run;
}

constexpr uint32_t kSliceDataError = 0x40000000;

// A 32x32 stream (2x2 macroblocks), deblocking off unless a test says otherwise.
struct Stream {
    SpsParams sps;
    PpsParams pps;
    std::vector<uint8_t> bytes;
    Stream() {
        sps.width_mbs = 2;
        sps.height_map_units = 2;
    }
    void Headers() {
        Append(bytes, SpsNal(sps));
        Append(bytes, PpsNal(pps));
    }
    // The damaged flag of a picture is settled when the next one starts: a last IDR picture.
    void End() { PcmIdr(Flat(90, 91, 92), 0, true, 7); }
    // One slice whose macroblocks the body writes; `extra` bits go between the last macroblock
    // and the trailing bits.
    void Slice(const SliceParams& s, const std::function<void(BitWriter&)>& body,
               const std::function<void(BitWriter&)>& extra = nullptr) {
        BitWriter w;
        WriteSliceHeader(w, s, sps, pps);
        body(w);
        if (extra) extra(w);
        w.Trailing();
        Append(bytes, MakeNal(s.nal_ref_idc, s.idr ? 5 : 1, w.data()));
    }
    // An IDR picture of flat I_PCM macroblocks.
    void PcmIdr(const MacroblockSamples& samples, uint32_t frame_num = 0, bool idr = true, uint32_t idr_pic_id = 0) {
        SliceParams s;
        s.idr = idr;
        s.idr_pic_id = idr_pic_id;
        s.frame_num = frame_num;
        s.poc_lsb = 2 * frame_num;
        Append(bytes, PcmSliceNal(s, sps, pps, 4, samples));
    }
};

SliceParams PSlice(uint32_t frame_num) {
    SliceParams s;
    s.slice_type = 5;
    s.frame_num = frame_num;
    s.poc_lsb = 2 * frame_num;
    return s;
}

// I_16x16 with DC prediction, no AC and no chroma; the luma DC block holds `dc` (0 or +-1) at
// its first position.
void WriteI16Dc(BitWriter& w, bool p_slice, int32_t qp_delta, int dc) {
    w.Ue((p_slice ? 5 : 0) + 3);  // I_16x16_2_0_0
    w.Ue(0);                      // intra_chroma_pred_mode DC
    w.Se(qp_delta);
    if (dc == 0) {
        w.U(1, 1);  // coeff_token: TotalCoeff 0 (0 <= nC < 2)
    } else {
        w.U(2, 1);     // TotalCoeff 1, TrailingOnes 1
        w.U1(dc < 0);  // trailing_ones_sign_flag
        w.U(1, 1);     // total_zeros 0
    }
}

// P_L0_16x16 with a motion vector difference and no residual.
void WriteP16x16(BitWriter& w, uint32_t ref_idx, uint32_t active, int32_t mvd_x, int32_t mvd_y) {
    w.Ue(0);
    if (active == 2) w.U1(ref_idx == 0);
    else if (active > 2) w.Ue(ref_idx);
    w.Se(mvd_x);
    w.Se(mvd_y);
    w.Ue(0);
}

TEST(SliceData, StopsAtTheLastMacroblockWhateverBitsFollow) {
    // The four date bytes of a key frame, or garbage, may follow a slice in a recording.
    const auto date_bytes = [](BitWriter& w) { w.U(32, 0xCC84D67Au); };
    struct Case {
        const char* what;
        bool p_slice;
    };
    for (const Case c : {Case{"I slice", false}, Case{"P slice ending with a skip run", true}}) {
        Stream s;
        s.Headers();
        s.PcmIdr(Flat(60, 70, 80));
        if (c.p_slice) {
            s.Slice(PSlice(1), [](BitWriter& w) { w.Ue(4); }, date_bytes);
        } else {
            SliceParams i;
            i.frame_num = 1;
            i.poc_lsb = 2;
            s.Slice(i, [](BitWriter& w) {
                for (int mb = 0; mb < 4; ++mb) WriteI16Dc(w, false, 0, 0);
            }, date_bytes);
        }
        s.PcmIdr(Flat(90, 91, 92), 0, true);  // a later picture shows nothing leaked into it
        const Outcome r = Decode(s.bytes);
        ASSERT_EQ(r.pics.size(), 3u) << c.what;
        EXPECT_EQ(r.pics[1].damaged, 0u) << c.what;
        EXPECT_EQ(r.pics[1].Y(31, 31), c.p_slice ? 60 : 128) << c.what;
        EXPECT_EQ(r.pics[2].Y(0, 0), 90) << c.what;
        EXPECT_EQ(r.pics[2].y, std::vector<uint8_t>(32 * 32, 90)) << c.what;
        for (uint32_t st : r.statuses) EXPECT_LT(st, 0x10000000u) << c.what << " status " << std::hex << st;
    }
}

TEST(SliceData, SkipRunsUpToTheLastMacroblockAndOneBeyond) {
    struct Case {
        uint32_t first_run;  // after macroblock 0
        bool ok;
    };
    for (const Case c : {Case{3, true}, Case{4, false}}) {
        Stream s;
        s.Headers();
        s.PcmIdr(Flat(60, 70, 80));
        s.Slice(PSlice(1), [&](BitWriter& w) {
            w.Ue(0);
            WriteP16x16(w, 0, 1, 0, 0);
            w.Ue(c.first_run);
        });
        s.End();
        const Outcome r = Decode(s.bytes);
        ASSERT_EQ(r.pics.size(), 3u);
        EXPECT_EQ(r.pics[1].damaged, c.ok ? 0u : 1u) << c.first_run;
        EXPECT_EQ(r.Has(kSliceDataError + 1), !c.ok) << c.first_run;
    }
}

TEST(SliceData, OutOfRangeValuesStopTheSliceWithoutTouchingTables) {
    struct Case {
        const char* what;
        std::function<void(BitWriter&)> mb;  // the second macroblock of an I slice
        uint32_t error;
    };
    const Case cases[] = {
        {"mb_type 26 in an I slice", [](BitWriter& w) { w.Ue(26); }, 2},
        {"huge mb_type", [](BitWriter& w) { w.Ue(0xFFFFFFF0u); }, 2},
        {"intra_chroma_pred_mode 4",
         [](BitWriter& w) {
             w.Ue(3);
             w.Ue(4);
             w.Se(0);
             w.U(1, 1);
         },
         4},
        {"coded_block_pattern 63",
         [](BitWriter& w) {
             w.Ue(0);
             for (int i = 0; i < 16; ++i) w.U1(1);
             w.Ue(0);
             w.Ue(63);
             w.Se(0);
         },
         4},
        {"mb_qp_delta 30", [](BitWriter& w) { WriteI16Dc(w, false, 30, 0); }, 4},
        {"mb_qp_delta -27", [](BitWriter& w) { WriteI16Dc(w, false, -27, 0); }, 4},
        {"coeff_token that no table has",
         [](BitWriter& w) {
             w.Ue(3);
             w.Ue(0);
             w.Se(0);
             w.U(16, 0);  // sixteen zeros
         },
         8},
    };
    for (const Case& c : cases) {
        Stream s;
        s.Headers();
        SliceParams i;
        i.idr = true;
        s.Slice(i, [&](BitWriter& w) {
            WriteI16Dc(w, false, 0, 0);
            c.mb(w);
            for (int k = 0; k < 8; ++k) w.U(32, 0x5A5A5A5Au);
        });
        s.End();
        const Outcome r = Decode(s.bytes);
        ASSERT_EQ(r.pics.size(), 2u) << c.what;
        EXPECT_EQ(r.pics[0].damaged, 1u) << c.what;
        EXPECT_TRUE(r.Has(kSliceDataError + c.error)) << c.what;
        EXPECT_EQ(r.pics[0].Y(0, 0), 128) << c.what;  // the first macroblock stays
    }
}

TEST(SliceData, SubMacroblockTypeAboveThreeIsAnError) {
    Stream s;
    s.Headers();
    s.PcmIdr(Flat(60, 70, 80));
    s.Slice(PSlice(1), [](BitWriter& w) {
        w.Ue(0);
        w.Ue(3);  // P_8x8
        for (int i = 0; i < 4; ++i) w.Ue(i == 2 ? 7 : 0);  // read as 3 (four 4x4 partitions)
        for (int i = 0; i < 2 * 7; ++i) w.Se(0);
        w.Ue(0);
    });
    s.End();
    const Outcome r = Decode(s.bytes);
    ASSERT_EQ(r.pics.size(), 3u);
    EXPECT_EQ(r.pics[1].damaged, 1u);
    EXPECT_TRUE(r.Has(kSliceDataError + 2));
}

TEST(SliceData, QuantiserDeltaWrapsAroundFiftyTwo) {
    // A lone DC level of +1 adds 14 to the prediction at QP 51, 1 at QP 26 and 0 at QP 0.
    struct Case {
        int32_t slice_qp_delta;  // from 26
        int32_t mb_qp_delta;
        uint8_t luma;
    };
    for (const Case c : {Case{25, 0, 142}, Case{-26, -26, 129}, Case{0, -26, 128}, Case{25, 25, 129}}) {
        Stream s;
        s.Headers();
        SliceParams i;
        i.idr = true;
        i.slice_qp_delta = c.slice_qp_delta;
        s.Slice(i, [&](BitWriter& w) {
            WriteI16Dc(w, false, c.mb_qp_delta, 1);
            for (int mb = 1; mb < 4; ++mb) WriteI16Dc(w, false, 0, 0);
        });
        const Outcome r = Decode(s.bytes);
        ASSERT_EQ(r.pics.size(), 1u);
        EXPECT_EQ(r.pics[0].damaged, 0u);
        EXPECT_EQ(r.pics[0].Y(5, 5), c.luma) << c.slice_qp_delta << " " << c.mb_qp_delta;
    }
}

TEST(SliceData, FieldPicturesUseTheFieldScanFramesTheZigZag) {
    // Block 0 of an I_NxN macroblock holds one level at scan index 1: raster position (1, 0) in
    // the zig-zag scan, (0, 1) in the field scan, giving a ramp along rows or down columns.
    const auto mb = [](BitWriter& w) {
        w.Ue(0);
        for (int i = 0; i < 16; ++i) w.U1(1);  // every block predicts DC
        w.Ue(0);
        w.Ue(29);  // coded_block_pattern 1
        w.Se(0);
        w.U(2, 1);  // block 0: TotalCoeff 1, TrailingOnes 1
        w.U1(0);
        w.U(3, 3);  // total_zeros 1
        for (int b = 1; b < 4; ++b) w.U(1, 1);
    };
    const uint8_t ramp[4] = {133, 131, 126, 123};
    struct Case {
        const char* what;
        bool frame_mbs_only;
        bool field;
    };
    for (const Case c : {Case{"progressive frame", true, false}, Case{"frame of an interlaced stream", false, false},
                         Case{"top field", false, true}}) {
        Stream s;
        s.sps.frame_mbs_only = c.frame_mbs_only;  // 2x2 macroblocks per frame, or per field
        s.Headers();
        const int mbs = c.frame_mbs_only || c.field ? 4 : 8;
        SliceParams i;
        i.idr = true;
        i.slice_qp_delta = 2;  // QP 28
        i.field_pic = c.field;
        s.Slice(i, [&](BitWriter& w) {
            mb(w);
            for (int k = 1; k < mbs; ++k) WriteI16Dc(w, false, 0, 0);
        });
        if (c.field) {
            SliceParams b = i;
            b.idr = false;
            b.bottom_field = true;
            b.nal_ref_idc = 1;
            Append(s.bytes, PcmSliceNal(b, s.sps, s.pps, 4, Flat(7, 8, 9)));
        }
        const Outcome r = Decode(s.bytes);
        ASSERT_EQ(r.pics.size(), 1u) << c.what;
        for (int k = 0; k < 4; ++k) {
            const int row_step = c.field ? 2 : 1;
            if (c.field) {
                EXPECT_EQ(r.pics[0].Y(0, k * row_step), ramp[k]) << c.what << " row " << k;
                EXPECT_EQ(r.pics[0].Y(3, k * row_step), ramp[k]) << c.what << " row " << k;
                EXPECT_EQ(r.pics[0].Y(0, 1), 7) << c.what;
            } else {
                EXPECT_EQ(r.pics[0].Y(k, 0), ramp[k]) << c.what << " column " << k;
                EXPECT_EQ(r.pics[0].Y(k, 3), ramp[k]) << c.what << " column " << k;
            }
        }
    }
}

// Two reference frames tagged 50 (older) and 200 (newer), then a P frame whose first macroblock
// is written by `mb`; the rest is skipped.
Outcome TwoReferences(uint32_t active, const std::function<void(BitWriter&)>& mb) {
    Stream s;
    s.pps.num_ref_idx_l0_default = active;
    s.Headers();
    s.PcmIdr(Flat(50, 51, 52));
    s.PcmIdr(Flat(200, 201, 202), 1, false);
    s.Slice(PSlice(2), [&](BitWriter& w) {
        w.Ue(0);
        mb(w);
        w.Ue(3);
    });
    return Decode(s.bytes);
}

TEST(SliceData, ReferenceIndexOfTwoEntriesIsOneInvertedBit) {
    struct Case {
        uint32_t bit;
        uint8_t luma;
    };
    for (const Case c : {Case{0, 50}, Case{1, 200}}) {
        const Outcome r = TwoReferences(2, [&](BitWriter& w) {
            w.Ue(0);
            w.U1(c.bit);
            w.Se(0);
            w.Se(0);
            w.Ue(0);
        });
        ASSERT_EQ(r.pics.size(), 3u);
        EXPECT_EQ(r.pics[2].Y(0, 0), c.luma) << "bit " << c.bit;
        EXPECT_EQ(r.pics[2].Y(31, 31), 200) << "skipped macroblocks use entry 0";
    }
}

// A reference whose every sample tells its place: luma 7x + 3y (mod 256), chroma likewise.
MacroblockSamples Positions() {
    return [](uint32_t mb_x, uint32_t mb_y, uint8_t m[384]) {
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                m[16 * y + x] = static_cast<uint8_t>(7 * (16 * mb_x + x) + 3 * (16 * mb_y + y));
        for (int c = 0; c < 2; ++c)
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x)
                    m[256 + 64 * c + 8 * y + x] = static_cast<uint8_t>(5 * (8 * mb_x + x) + 11 * (8 * mb_y + y) + c);
    };
}

TEST(SliceData, VectorsFarOutsideThePictureRepeatTheEdgeSamples) {
    Stream s;
    s.Headers();
    s.PcmIdr(Positions());
    s.Slice(PSlice(1), [](BitWriter& w) {
        w.Ue(0);
        WriteP16x16(w, 0, 1, -400, 0);  // 100 samples to the left
        w.Ue(3);
    });
    const Outcome r = Decode(s.bytes);
    ASSERT_EQ(r.pics.size(), 2u);
    const Pic& ref = r.pics[0];
    const Pic& p = r.pics[1];
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) ASSERT_EQ(p.Y(x, y), ref.Y(0, y)) << x << "," << y;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) ASSERT_EQ(p.cb[16 * y + x], ref.cb[16 * y]) << x << "," << y;
}

TEST(SliceData, CentreSampleBlockPastTheBottomRightCorner) {
    // The last macroblock moves by (8.5, 8.5): every sample is the 6-tap centre sample j, its
    // taps reaching past both edges, where the edge samples repeat (clause 8.4.2.2.1).
    Stream s;
    s.Headers();
    s.PcmIdr(Positions());
    s.Slice(PSlice(1), [](BitWriter& w) {
        w.Ue(3);
        WriteP16x16(w, 0, 1, 34, 34);
    });
    const Outcome r = Decode(s.bytes);
    ASSERT_EQ(r.pics.size(), 2u);
    const Pic& ref = r.pics[0];
    auto at = [&](int x, int y) {
        return static_cast<int>(ref.Y(std::clamp(x, 0, 31), std::clamp(y, 0, 31)));
    };
    const int tap[6] = {1, -5, 20, 20, -5, 1};
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            const int gx = 16 + x + 8, gy = 16 + y + 8;
            int j1 = 0;
            for (int c = 0; c < 6; ++c) {
                int h1 = 0;
                for (int k = 0; k < 6; ++k) h1 += tap[k] * at(gx + c - 2, gy + k - 2);
                j1 += tap[c] * h1;
            }
            ASSERT_EQ(r.pics[1].Y(16 + x, 16 + y), std::clamp((j1 + 512) >> 10, 0, 255)) << x << "," << y;
        }
    }
}

TEST(SliceData, ExplicitWeightZeroWithOffsetTen) {
    Stream s;
    s.pps.weighted_pred = true;
    s.Headers();
    s.PcmIdr(Flat(200, 100, 50));
    SliceParams p = PSlice(1);
    p.luma_log2_denom = 5;
    p.chroma_log2_denom = 1;
    SliceParams::Weight wt;
    wt.luma = true;
    wt.luma_weight = 0;
    wt.luma_offset = 10;
    wt.chroma = true;
    wt.chroma_weight[0] = 1;  // half of Cb, then +3
    wt.chroma_offset[0] = 3;
    wt.chroma_weight[1] = 2;  // Cr unchanged
    p.weights = {wt};
    s.Slice(p, [](BitWriter& w) {
        w.Ue(0);
        WriteP16x16(w, 0, 1, 0, 0);
        w.Ue(3);  // skipped macroblocks are weighted too
    });
    const Outcome r = Decode(s.bytes);
    ASSERT_EQ(r.pics.size(), 2u);
    EXPECT_EQ(r.pics[1].y, std::vector<uint8_t>(32 * 32, 10));
    EXPECT_EQ(r.pics[1].cb, std::vector<uint8_t>(16 * 16, 53));
    EXPECT_EQ(r.pics[1].cr, std::vector<uint8_t>(16 * 16, 50));
}

TEST(Deblocking, SliceEdgesFollowTheFilterIdc) {
    // Macroblock 0 is flat 128 and macroblock 1 flat 142 (QP 51); they meet at column 16. The
    // strong filter of an intra edge moves column 15 to 133 when the edge is filtered.
    struct Case {
        uint32_t idc;
        bool two_slices;
        uint8_t column15;
    };
    for (const Case c : {Case{0, false, 133}, Case{0, true, 133}, Case{2, true, 128}, Case{2, false, 133},
                         Case{1, false, 128}}) {
        Stream s;
        s.Headers();
        SliceParams i;
        i.idr = true;
        i.slice_qp_delta = 25;
        i.disable_deblocking_filter_idc = c.idc;
        if (c.two_slices) {
            s.Slice(i, [](BitWriter& w) { WriteI16Dc(w, false, 0, 0); });
            i.first_mb = 1;
            s.Slice(i, [](BitWriter& w) {
                WriteI16Dc(w, false, 0, 1);
                WriteI16Dc(w, false, 0, 0);
                WriteI16Dc(w, false, 0, 0);
            });
        } else {
            s.Slice(i, [](BitWriter& w) {
                WriteI16Dc(w, false, 0, 0);
                WriteI16Dc(w, false, 0, 1);
                WriteI16Dc(w, false, 0, 0);
                WriteI16Dc(w, false, 0, 0);
            });
        }
        const Outcome r = Decode(s.bytes);
        ASSERT_EQ(r.pics.size(), 1u);
        EXPECT_EQ(r.pics[0].damaged, 0u);
        EXPECT_EQ(r.pics[0].Y(15, 0), c.column15) << "idc " << c.idc << " two slices " << c.two_slices;
        EXPECT_EQ(r.pics[0].Y(12, 0), 128) << "p3 never changes";
    }
}

TEST(Deblocking, IntraTopEdgeIsStrengthFourInFramesAndThreeInFields) {
    // Macroblock 1 (142) above macroblock 3 (135, DC of 142 above and 128 left): only the strong
    // filter of strength 4 changes p2, the third row above the edge, to 141.
    struct Case {
        bool field;
        uint8_t p2;
    };
    for (const Case c : {Case{false, 141}, Case{true, 142}}) {
        Stream s;
        s.sps.frame_mbs_only = !c.field;
        // 2x2 macroblocks per frame, or per field
        s.Headers();
        SliceParams i;
        i.idr = true;
        i.slice_qp_delta = 25;
        i.disable_deblocking_filter_idc = 0;
        i.field_pic = c.field;
        s.Slice(i, [](BitWriter& w) {
            WriteI16Dc(w, false, 0, 0);
            WriteI16Dc(w, false, 0, 1);
            WriteI16Dc(w, false, 0, 0);
            WriteI16Dc(w, false, 0, 0);
        });
        if (c.field) {
            SliceParams b;
            b.field_pic = true;
            b.bottom_field = true;
            b.slice_type = 7;
            Append(s.bytes, PcmSliceNal(b, s.sps, s.pps, 4, Flat(9, 9, 9)));
        }
        const Outcome r = Decode(s.bytes);
        ASSERT_EQ(r.pics.size(), 1u);
        const int row = c.field ? 2 * 13 : 13;  // p2 of the edge at row 16 (field row 16)
        EXPECT_EQ(r.pics[0].Y(20, row), c.p2) << (c.field ? "field" : "frame");
        EXPECT_EQ(r.pics[0].Y(20, c.field ? 2 * 16 : 16), 138) << "q0";
    }
}

}  // namespace
}  // namespace kestrel::test

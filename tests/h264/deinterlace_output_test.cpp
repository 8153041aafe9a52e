// Deinterlaced output (work-mode bit 4): which rows are kept, repeated or rebuilt, and the motion
// history carried from picture to picture.
#include <gtest/gtest.h>

#include <vector>

#include "h264/h264dec.h"
#include "tests/h264/decode_harness.h"

namespace kestrel::test {
namespace {

constexpr uint32_t kW = 32, kH = 64;  // 2x4 macroblocks

// Luma of the frame at (x, row): top-field rows and bottom-field rows differ.
uint8_t Luma(uint32_t x, uint32_t row) { return static_cast<uint8_t>(row % 2 ? 150 + x % 5 : 60 + row + x % 3); }
uint8_t Chroma(uint32_t x, uint32_t row) { return static_cast<uint8_t>(row % 2 ? 200 : 20 + row + x); }

MacroblockSamples FieldSamples(uint32_t parity) {
    return [parity](uint32_t mx, uint32_t my, uint8_t m[384]) {
        for (uint32_t y = 0; y < 16; ++y)
            for (uint32_t x = 0; x < 16; ++x) m[16 * y + x] = Luma(16 * mx + x, 2 * (16 * my + y) + parity);
        for (int c = 0; c < 2; ++c)
            for (uint32_t y = 0; y < 8; ++y)
                for (uint32_t x = 0; x < 8; ++x) m[256 + 64 * c + 8 * y + x] = Chroma(8 * mx + x, 2 * (8 * my + y) + parity);
    };
}

MacroblockSamples FrameSamples() {
    return [](uint32_t mx, uint32_t my, uint8_t m[384]) {
        for (uint32_t y = 0; y < 16; ++y)
            for (uint32_t x = 0; x < 16; ++x) m[16 * y + x] = Luma(16 * mx + x, 16 * my + y);
        for (int c = 0; c < 2; ++c)
            for (uint32_t y = 0; y < 8; ++y)
                for (uint32_t x = 0; x < 8; ++x) m[256 + 64 * c + 8 * y + x] = Chroma(8 * mx + x, 8 * my + y);
    };
}

// `pairs` identical field pairs (or frames) of an interlaced stream, or progressive frames.
std::vector<uint8_t> Stream(uint32_t pictures, bool fields, bool progressive = false) {
    SpsParams sps;
    sps.frame_mbs_only = progressive;
    sps.height_map_units = progressive ? 4 : 2;
    sps.num_ref_frames = 1;
    PpsParams pps;
    std::vector<uint8_t> out = SpsNal(sps);
    Append(out, PpsNal(pps));
    for (uint32_t i = 0; i < pictures; ++i) {
        SliceParams s;
        s.idr = i == 0;
        s.slice_type = s.idr ? 7 : 5;
        s.frame_num = i;
        s.poc_lsb = 4 * i;
        if (!fields) {
            Append(out, PcmSliceNal(s, sps, pps, 8, FrameSamples()));
            continue;
        }
        s.field_pic = true;
        Append(out, PcmSliceNal(s, sps, pps, 4, FieldSamples(0)));
        s.idr = false;
        s.slice_type = 5;
        s.bottom_field = true;
        s.poc_lsb += 1;
        Append(out, PcmSliceNal(s, sps, pps, 4, FieldSamples(1)));
    }
    return out;
}

struct Picture {
    std::vector<uint8_t> y, u;
    const uint8_t* y_ptr;
};

std::vector<Picture> Decode(const std::vector<uint8_t>& stream, uint32_t mode) {
    H264DecAttributes a = Attributes(2, 6, 4, mode);
    H264Dec* d = h264dec_create(&a);
    std::vector<Picture> out;
    H264DecFrame f;
    auto take = [&] {
        Picture p;
        p.y.assign(f.y, f.y + kW * kH);
        p.u.assign(f.u, f.u + kW * kH / 4);
        p.y_ptr = f.y;
        out.push_back(p);
    };
    for (int32_t r = h264dec_decode(d, stream.data(), static_cast<uint32_t>(stream.size()), 0, 0, &f, 0); r == 0;
         r = h264dec_decode(d, nullptr, 0, 0, 0, &f, 0))
        take();
    while (h264dec_decode(d, nullptr, 0, 0, 0, &f, H264DEC_FLAG_FLUSH) == 0) take();
    h264dec_destroy(d);
    return out;
}

TEST(DeinterlacedOutput, FieldPairsKeepTheTopFieldAndRebuildTheBottomOne) {
    const std::vector<Picture> plain = Decode(Stream(6, true), 0);
    const std::vector<Picture> out = Decode(Stream(6, true), H264DEC_MODE_DEINTERLACE);
    ASSERT_EQ(out.size(), 6u);
    for (size_t i = 0; i < out.size(); ++i) {
        const Picture& p = out[i];
        for (uint32_t x = 0; x < kW; ++x) {
            for (uint32_t r = 0; r < kH; r += 2) EXPECT_EQ(p.y[r * kW + x], Luma(x, r)) << r;
            EXPECT_EQ(p.y[kW + x], Luma(x, 0));                       // row 1 repeats row 0
            EXPECT_EQ(p.y[(kH - 1) * kW + x], Luma(x, kH - 2));        // the last row the last even one
        }
        for (uint32_t r = 0; r < kH / 2; ++r)
            for (uint32_t x = 0; x < kW / 2; ++x) EXPECT_EQ(p.u[r * kW / 2 + x], Chroma(x, r & ~1u)) << r;
        EXPECT_NE(p.y_ptr, nullptr);
    }
    // The same pair again and again is static: once its counters pass 2 the odd rows blend the
    // current and previous source rows, which are equal, so they come out as decoded.
    // The first two and last two samples of a rebuilt row repeat the row above.
    const Picture& last = out.back();
    for (uint32_t r = 3; r + 2 < kH; r += 2)
        for (uint32_t x = 0; x < kW; ++x) {
            const bool edge = x < 2 || x >= kW - 2;
            EXPECT_EQ(last.y[r * kW + x], edge ? Luma(x, r - 1) : plain.back().y[r * kW + x]) << r << "," << x;
        }
    // The first pair has no history: its odd rows are interpolated from the even ones.
    EXPECT_NE(out.front().y[3 * kW + 5], plain.front().y[3 * kW + 5]);
}

TEST(DeinterlacedOutput, FramesOfAnInterlacedStreamPassUnchangedAndCountAsStatic) {
    const std::vector<Picture> plain = Decode(Stream(3, false), 0);
    std::vector<uint8_t> stream = Stream(3, false);
    const std::vector<Picture> out = Decode(stream, H264DEC_MODE_DEINTERLACE);
    ASSERT_EQ(out.size(), 3u);
    for (size_t i = 0; i < out.size(); ++i) {
        EXPECT_EQ(out[i].y, plain[i].y);
        EXPECT_EQ(out[i].u, plain[i].u);
        EXPECT_NE(out[i].y_ptr, plain[i].y_ptr);  // rebuilt in the output buffer
    }
}

TEST(DeinterlacedOutput, ProgressivePicturesAreReturnedAsDecoded) {
    const std::vector<Picture> plain = Decode(Stream(2, false, true), 0);
    const std::vector<Picture> out = Decode(Stream(2, false, true), H264DEC_MODE_DEINTERLACE);
    ASSERT_EQ(out.size(), 2u);
    for (size_t i = 0; i < out.size(); ++i) EXPECT_EQ(out[i].y, plain[i].y);
}

}  // namespace
}  // namespace kestrel::test

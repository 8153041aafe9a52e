// The engine's adapter for codec type 1: an instance for a port whose height is not a multiple
// of 16 (coded with cropping), planes cropped into the engine's Y, V, U order, the previous
// picture kept while a payload completes none, and no input lost after a returned picture.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/h264_decoder_adapter.h"
#include "tests/h264/decode_harness.h"

namespace kestrel::test {
namespace {

struct Port {
    uint32_t width, height;
    std::unique_ptr<engine::VideoDecoder> decoder;
    std::vector<uint8_t> picture;
    Port(uint32_t w, uint32_t h) : width(w), height(h), picture(2 * size_t{w} * h, 0x80) {
        decoder = engine::CreateH264VideoDecoder({w, h, 0x601});
    }
    uint32_t Decode(const std::vector<uint8_t>& payload) {
        engine::DecodeRequest r;
        r.payload = payload;
        r.picture = picture;
        r.width = width;
        r.height = height;
        return decoder->Decode(r);
    }
    uint8_t Y(uint32_t x, uint32_t y) const { return picture[size_t{y} * width + x]; }
    uint8_t V(uint32_t x, uint32_t y) const { return picture[size_t{width} * height + size_t{y} * (width / 2) + x]; }
    uint8_t U(uint32_t x, uint32_t y) const {
        return picture[size_t{width} * height * 5 / 4 + size_t{y} * (width / 2) + x];
    }
};

// 176x128 coded, the bottom 8 rows cropped away: the 176x120 picture of the resolution table.
PcmStream Cropped() {
    PcmStream s;
    s.sps.width_mbs = 11;
    s.sps.height_map_units = 8;
    s.sps.cropping = true;
    s.sps.crop[3] = 4;  // in units of two rows
    return s;
}

// Every picture's luma rows tell their row; chroma marks Cb and Cr apart.
MacroblockSamples Rows(uint8_t base) {
    return [=](uint32_t, uint32_t mb_y, uint8_t m[384]) {
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) m[16 * y + x] = static_cast<uint8_t>(base + 16 * mb_y + y);
        std::memset(m + 256, 60, 64);   // Cb
        std::memset(m + 320, 200, 64);  // Cr
    };
}

TEST(H264DecoderAdapter, CroppedPictureLandsInTheEngineLayout) {
    PcmStream s = Cropped();
    s.Headers();
    SliceParams idr;
    idr.idr = true;
    Append(s.bytes, PcmSliceNal(idr, s.sps, s.pps, 88, Rows(0)));
    Port port(176, 120);
    ASSERT_TRUE(port.decoder) << "an instance of 11x8 macroblocks for a 120-row port";
    // The picture comes out when the stream ends (an empty payload flushes).
    EXPECT_EQ(port.Decode(s.bytes), 1u);
    EXPECT_EQ(port.Y(0, 0), 0x80) << "grey until the first picture";
    EXPECT_EQ(port.Decode({}), 176u * 120 * 3 / 2);
    for (uint32_t y : {0u, 17u, 119u}) EXPECT_EQ(port.Y(5, y), y) << "row " << y;
    EXPECT_EQ(port.V(3, 59), 200) << "Cr in the plane after Y";
    EXPECT_EQ(port.U(3, 59), 60) << "Cb last";
    EXPECT_EQ(port.picture[176 * 120 * 3 / 2], 0x80) << "nothing written past the picture";
}

TEST(H264DecoderAdapter, EveryPictureOfAPayloadIsDecoded) {
    // Three pictures and an access unit delimiter in one payload: the decoder returns the first
    // picture as soon as the second begins and keeps the rest pending; a next payload would drop
    // it. The adapter goes on until the input is used up: the second picture comes out too, and
    // the third, held until its end is known, at the end of the stream.
    PcmStream s = Cropped();
    s.Headers();
    for (uint32_t i = 0; i < 3; ++i) {
        SliceParams p;
        p.idr = i == 0;
        p.frame_num = i;
        p.poc_lsb = 2 * i;
        Append(s.bytes, PcmSliceNal(p, s.sps, s.pps, 88, Rows(static_cast<uint8_t>(50 * i))));
    }
    Append(s.bytes, MakeNal(0, 9, {0xF0}));
    Port port(176, 120);
    EXPECT_EQ(port.Decode(s.bytes), 176u * 120 * 3 / 2);
    EXPECT_EQ(port.Y(0, 0), 50) << "the second picture, the last one complete";
    EXPECT_EQ(port.Decode({}), 176u * 120 * 3 / 2);
    EXPECT_EQ(port.Y(0, 0), 100);
    EXPECT_EQ(port.Decode({0x00, 0x00, 0x00, 0x01, 0x09, 0xF0}), 1u) << "no picture: the last one stays";
    EXPECT_EQ(port.Y(0, 0), 100);
}

}  // namespace
}  // namespace kestrel::test

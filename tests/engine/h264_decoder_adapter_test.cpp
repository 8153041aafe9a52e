// The engine's adapter for codec type 1: an instance for a port whose height is not a multiple
// of 16 (coded with cropping), planes cropped into the engine's Y, V, U order, each packet's own
// picture shown after it (a key frame's date-time passed over), the previous picture kept while
// a packet completes none (a first field), and no input lost after a returned picture.
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
    EXPECT_EQ(port.Decode(s.bytes), 176u * 120 * 3 / 2) << "the packet's picture comes with it";
    for (uint32_t y : {0u, 17u, 119u}) EXPECT_EQ(port.Y(5, y), y) << "row " << y;
    EXPECT_EQ(port.V(3, 59), 200) << "Cr in the plane after Y";
    EXPECT_EQ(port.U(3, 59), 60) << "Cb last";
    EXPECT_EQ(port.picture[176 * 120 * 3 / 2], 0x80) << "nothing written past the picture";
}

// One packet per picture, as a recording stores them, the key frame with its date-time first.
std::vector<std::vector<uint8_t>> Packets(uint32_t count) {
    PcmStream s = Cropped();
    std::vector<std::vector<uint8_t>> packets;
    for (uint32_t i = 0; i < count; ++i) {
        std::vector<uint8_t> p;
        if (i == 0) {
            p = {0x7A, 0xD6, 0x84, 0xCC};  // the date-time of a key frame
            Append(p, SpsNal(s.sps));
            Append(p, PpsNal(s.pps));
        }
        SliceParams sl;
        sl.idr = i == 0;
        sl.frame_num = i;
        sl.poc_lsb = 2 * i;
        Append(p, PcmSliceNal(sl, s.sps, s.pps, 88, Rows(static_cast<uint8_t>(50 * i))));
        packets.push_back(std::move(p));
    }
    return packets;
}

TEST(H264DecoderAdapter, EachPacketShowsItsOwnPicture) {
    Port port(176, 120);
    const auto packets = Packets(4);
    for (size_t i = 0; i < packets.size(); ++i) {
        EXPECT_EQ(port.Decode(packets[i]), 176u * 120 * 3 / 2) << "packet " << i;
        EXPECT_EQ(port.Y(0, 0), 50 * i) << "packet " << i;
    }
    EXPECT_EQ(port.Decode({0x00, 0x00, 0x00, 0x01, 0x09, 0xF0}), 1u) << "no picture: the last one stays";
    EXPECT_EQ(port.Y(0, 0), 150);
}

TEST(H264DecoderAdapter, EveryPictureOfAPayloadIsDecoded) {
    // Three pictures in one payload: the decoder returns the first as soon as the second begins
    // and keeps the rest pending, which a next payload would drop. The adapter goes on until the
    // input is used up, and shows the last.
    std::vector<uint8_t> payload;
    for (const auto& p : Packets(3)) Append(payload, p);
    Port port(176, 120);
    EXPECT_EQ(port.Decode(payload), 176u * 120 * 3 / 2);
    EXPECT_EQ(port.Y(0, 0), 100);
}

TEST(H264DecoderAdapter, AFirstFieldKeepsThePreviousPictureUntilItsPartner) {
    PcmStream s = Cropped();
    s.sps.frame_mbs_only = false;
    s.sps.height_map_units = 4;  // 128 rows as two fields of 64
    Port port(176, 120);
    std::vector<uint8_t> first = {0x7A, 0xD6, 0x84, 0xCC};
    Append(first, SpsNal(s.sps));
    Append(first, PpsNal(s.pps));
    SliceParams top;
    top.idr = true;
    top.field_pic = true;
    Append(first, PcmSliceNal(top, s.sps, s.pps, 44, Flat(30, 60, 200)));
    EXPECT_EQ(port.Decode(first), 1u) << "half a frame: nothing to show yet";
    EXPECT_EQ(port.Y(0, 0), 0x80);
    SliceParams bottom = top;
    bottom.idr = false;
    bottom.bottom_field = true;
    std::vector<uint8_t> second;
    Append(second, PcmSliceNal(bottom, s.sps, s.pps, 44, Flat(90, 60, 200)));
    EXPECT_EQ(port.Decode(second), 176u * 120 * 3 / 2);
    EXPECT_EQ(port.Y(0, 0), 30);
    EXPECT_EQ(port.Y(0, 1), 90);
}

}  // namespace
}  // namespace kestrel::test

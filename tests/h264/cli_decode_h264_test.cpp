// kestrel-cli decode-h264 on I_PCM streams of every recorder picture size, as frames and as field
// pairs, in both output orders: the printed hashes must be those of the pictures written.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "h264/picture_md5.h"
#include "tests/support/h264writer.h"

namespace kestrel::test {
namespace {

// Sample value of picture `pic` at (x, row) of the frame, plane 0 luma, 1 Cb, 2 Cr.
uint8_t Sample(uint32_t pic, int plane, uint32_t x, uint32_t row) {
    return static_cast<uint8_t>(x * 3 + row * 5 + pic * 29 + plane * 71 + ((x ^ row) & 8) * 4);
}

struct Stream {
    std::vector<uint8_t> bytes;
    std::vector<std::string> md5;  // of each picture, in order
};

// Two pictures (an IDR and a P picture, I_PCM), width x height after cropping.
Stream Make(uint32_t width, uint32_t height, bool fields) {
    SpsParams sps;
    sps.width_mbs = width / 16;
    sps.frame_mbs_only = !fields;
    const uint32_t unit = fields ? 32 : 16;
    sps.height_map_units = (height + unit - 1) / unit;
    const uint32_t coded_height = sps.height_map_units * unit;
    if (coded_height != height) {
        sps.cropping = true;
        sps.crop[3] = (coded_height - height) / (fields ? 4 : 2);
    }
    sps.num_ref_frames = 1;
    sps.level_idc = 51;
    PpsParams pps;
    Stream s;
    Append(s.bytes, SpsNal(sps));
    Append(s.bytes, PpsNal(pps));
    for (uint32_t pic = 0; pic < 2; ++pic) {
        for (uint32_t parity = 0; parity < (fields ? 2u : 1u); ++parity) {
            SliceParams sl;
            sl.idr = pic == 0 && parity == 0;
            sl.slice_type = sl.idr ? 7 : 5;
            sl.frame_num = pic;
            sl.poc_lsb = 4 * pic + parity;
            sl.field_pic = fields;
            sl.bottom_field = parity == 1;
            const uint32_t rows = sps.height_map_units;
            auto samples = [&](uint32_t mx, uint32_t my, uint8_t m[384]) {
                for (uint32_t y = 0; y < 16; ++y)
                    for (uint32_t x = 0; x < 16; ++x) {
                        const uint32_t row = fields ? 2 * (16 * my + y) + parity : 16 * my + y;
                        m[16 * y + x] = Sample(pic, 0, 16 * mx + x, row);
                    }
                for (int c = 0; c < 2; ++c)
                    for (uint32_t y = 0; y < 8; ++y)
                        for (uint32_t x = 0; x < 8; ++x) {
                            const uint32_t row = fields ? 2 * (8 * my + y) + parity : 8 * my + y;
                            m[256 + 64 * c + 8 * y + x] = Sample(pic, 1 + c, 8 * mx + x, row);
                        }
            };
            Append(s.bytes, PcmSliceNal(sl, sps, pps, sps.width_mbs * rows, samples));
        }
        h264::Md5 md5;
        std::vector<uint8_t> row(width);
        for (int plane = 0; plane < 3; ++plane) {
            const uint32_t w = plane ? width / 2 : width, h = plane ? height / 2 : height;
            for (uint32_t y = 0; y < h; ++y) {
                for (uint32_t x = 0; x < w; ++x) row[x] = Sample(pic, plane, x, y);
                md5.Update(row.data(), w);
            }
        }
        s.md5.push_back(md5.FinalHex());
    }
    return s;
}

std::vector<std::string> RunCli(const std::string& path, const char* order, uint64_t seed) {
    const std::string cmd = std::string(KESTREL_CLI) + " decode-h264 " + path + " --order " + order +
                            " --framemd5 --seed " + std::to_string(seed);
    std::vector<std::string> hashes;
    std::FILE* p = popen(cmd.c_str(), "r");
    if (!p) return hashes;
    char line[512];
    while (std::fgets(line, sizeof line, p)) {
        std::string l = line;
        if (l.empty() || l[0] == '#') continue;
        const size_t comma = l.rfind(", ");
        if (comma != std::string::npos) hashes.push_back(l.substr(comma + 2, 32));
    }
    EXPECT_EQ(pclose(p), 0) << cmd;
    return hashes;
}

TEST(CliDecodeH264, PcmStreamsOfEveryRecorderSizeDecodeBitExact) {
    const uint32_t sizes[][2] = {{352, 288}, {176, 144}, {704, 288}, {704, 576}, {320, 240},
                                 {640, 288}, {640, 576}, {320, 288}, {352, 240}, {176, 120},
                                 {704, 240}, {704, 480}, {320, 200}, {640, 240}, {640, 480}};
    // per process: several builds may run this test at once on one machine
    const std::string path = testing::TempDir() + "/kestrel_pcm_stream_" + std::to_string(getpid()) + ".264";
    uint64_t seed = 1;
    for (const auto& sz : sizes) {
        for (bool fields : {false, true}) {
            const Stream s = Make(sz[0], sz[1], fields);
            std::FILE* f = std::fopen(path.c_str(), "wb");
            ASSERT_NE(f, nullptr);
            std::fwrite(s.bytes.data(), 1, s.bytes.size(), f);
            std::fclose(f);
            for (const char* order : {"decode", "output"})
                EXPECT_EQ(RunCli(path, order, seed++), s.md5) << sz[0] << "x" << sz[1] << (fields ? " fields " : " ") << order;
        }
    }
    std::remove(path.c_str());
}

TEST(PictureMd5, KnownDigests) {
    const struct {
        const char* text;
        const char* md5;
    } cases[] = {{"", "d41d8cd98f00b204e9800998ecf8427e"},
                 {"abc", "900150983cd24fb0d6963f7d28e17f72"},
                 {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
                  "57edf4a22be3c955ac49da2e2107b67a"}};
    for (const auto& c : cases) {
        h264::Md5 md5;
        // in uneven pieces, across the 64-byte blocks
        const std::string t = c.text;
        for (size_t i = 0; i < t.size(); i += 7)
            md5.Update(reinterpret_cast<const uint8_t*>(t.data() + i), std::min<size_t>(7, t.size() - i));
        EXPECT_EQ(md5.FinalHex(), c.md5);
    }
}

}  // namespace
}  // namespace kestrel::test

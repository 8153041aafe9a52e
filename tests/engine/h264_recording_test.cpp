// H.264 recordings through the engine: ".H64" files built from the committed x264 streams
// (704x576, and the half-height 704x288 in three slices per picture), one access unit per video
// packet with the date-time in front of each key frame and ADPCM audio between the pictures.
// `kestrel-cli frames --framemd5` must show, packet by packet, the pictures of the elementary
// stream's own decode, which must in turn equal ffmpeg's. An I_PCM stream made here, whose
// pictures are known sample by sample, takes the same path without the macroblock decoding.
#include <gtest/gtest.h>

#include <sstream>
#include <tuple>
#include <string>
#include <vector>

#include "engine/md5.h"
#include "h264/h264dec.h"
#include "h264/picture_md5.h"
#include "tests/engine/cli_run.h"
#include "tests/h264/corpus.h"
#include "tests/support/recording_h264.h"
#include "tests/support/h264writer.h"
#include "tests/support/recording_mpeg4.h"

namespace kestrel::testing {
namespace {

struct RecordingCase {
    const char* name;
    bool pcm;  // made here; otherwise NAME.264 in tests/engine/data with NAME.ffmpeg.framemd5 beside it
    uint32_t resolution;
    uint32_t width, height;
};
void PrintTo(const RecordingCase& c, std::ostream* os) { *os << c.name; }

uint8_t PcmSample(uint32_t pic, int plane, uint32_t x, uint32_t y) {
    return static_cast<uint8_t>(x * 7 + y * 3 + pic * 41 + plane * 85 + ((x / 8 + y / 8 + pic) & 1) * 50);
}

// Nine I_PCM pictures in two slices each: an IDR picture with its parameter sets every four
// pictures, P pictures between. Returns the stream and the MD5 of each picture.
std::pair<std::vector<uint8_t>, std::vector<std::string>> PcmStream(uint32_t width, uint32_t height) {
    test::SpsParams sps;
    sps.width_mbs = width / 16;
    sps.height_map_units = height / 16;
    sps.num_ref_frames = 1;
    test::PpsParams pps;
    std::vector<uint8_t> bytes;
    std::vector<std::string> md5s;
    for (uint32_t pic = 0, frame_num = 0, idr_id = 0; pic < 9; ++pic, ++frame_num) {
        test::SliceParams sl;
        sl.idr = pic % 4 == 0;
        if (sl.idr) {
            test::Append(bytes, test::SpsNal(sps));
            test::Append(bytes, test::PpsNal(pps));
            frame_num = 0;
            sl.idr_pic_id = idr_id++;
        }
        sl.slice_type = sl.idr ? 7 : 5;
        sl.frame_num = frame_num;
        sl.poc_lsb = 2 * frame_num;
        const uint32_t mbs = sps.width_mbs * sps.height_map_units, half = mbs / 2;
        auto samples = [&](uint32_t mx, uint32_t my, uint8_t m[384]) {
            for (uint32_t y = 0; y < 16; ++y)
                for (uint32_t x = 0; x < 16; ++x) m[16 * y + x] = PcmSample(pic, 0, 16 * mx + x, 16 * my + y);
            for (int c = 0; c < 2; ++c)
                for (uint32_t y = 0; y < 8; ++y)
                    for (uint32_t x = 0; x < 8; ++x)
                        m[256 + 64 * c + 8 * y + x] = PcmSample(pic, 1 + c, 8 * mx + x, 8 * my + y);
        };
        sl.first_mb = 0;
        test::Append(bytes, test::PcmSliceNal(sl, sps, pps, half, samples));
        sl.first_mb = half;
        test::Append(bytes, test::PcmSliceNal(sl, sps, pps, mbs - half, samples));
        h264::Md5 md5;
        std::vector<uint8_t> row(width);
        for (int plane = 0; plane < 3; ++plane)
            for (uint32_t y = 0; y < (plane ? height / 2 : height); ++y) {
                for (uint32_t x = 0; x < (plane ? width / 2 : width); ++x) row[x] = PcmSample(pic, plane, x, y);
                md5.Update(row.data(), plane ? width / 2 : width);
            }
        md5s.push_back(md5.FinalHex());
    }
    return {bytes, md5s};
}

std::string Data(const std::string& name) { return std::string(KESTREL_SOURCE_DIR) + "/tests/engine/data/" + name; }

std::vector<std::string> Hashes(const std::vector<test::PictureRecord>& pictures) {
    std::vector<std::string> out;
    for (const auto& p : pictures) out.push_back(p.md5);
    return out;
}

class H264Recording : public ::testing::TestWithParam<RecordingCase> {
protected:
    void SetUp() override {
        const RecordingCase& c = GetParam();
        if (c.pcm) {
            std::tie(stream, reference) = PcmStream(c.width, c.height);
        } else {
            stream = ReadFileBytes(Data(std::string(c.name) + ".264"));
            reference = test::ReadFrameMd5Hashes(Data(std::string(c.name) + ".ffmpeg.framemd5"));
        }
        ASSERT_FALSE(stream.empty());
        ASSERT_FALSE(reference.empty());
    }
    std::vector<uint8_t> stream;
    std::vector<std::string> reference;  // ffmpeg's decode, or the samples written
};

TEST_P(H264Recording, ElementaryStreamDecodesAsTheReference) {
    const RecordingCase& c = GetParam();
    const H264DecAttributes attr{0, 0, c.width / 16, c.height / 16, 16, 0};
    const test::DecodeRun run = test::Decode(stream, attr, test::RandomPieces(7, 5000));
    EXPECT_TRUE(run.faults.empty());
    EXPECT_EQ(test::FirstDifference(reference, run.pictures), "");
}

TEST_P(H264Recording, PacketsHoldOneAccessUnitEachWithTheDateBeforeKeyFrames) {
    const RecordingCase& c = GetParam();
    const auto units = SplitH264AccessUnits(stream);
    ASSERT_EQ(units.size(), reference.size()) << "one picture per packet";
    size_t keys = 0;
    for (const auto& u : units) keys += u.idr;
    EXPECT_GE(keys, 3u);
    EXPECT_TRUE(units[0].idr);

    ScratchDir scratch;
    const std::string path = scratch.File("h264.h64");
    RecordingWriter w(path);
    uint32_t frame = 500, stamp = 90000;
    ASSERT_EQ(AppendH264AccessUnits(w, stream, {.resolution = c.resolution}, frame, stamp), units.size());
    ASSERT_TRUE(w.Close());
    const CliRun info = RunCli("info " + path, scratch);
    ASSERT_EQ(info.status, 0) << info.err;
    for (const std::string& line :
         {std::string("codec:              h264\n"), "picture:            " + std::to_string(c.width) + " x " + std::to_string(c.height),
          "frames:             " + std::to_string(units.size()) + "\n", "key frames:         " + std::to_string(keys) + "\n",
          std::string("first key frame:    2023-11-20T08:16:30\n")})
        EXPECT_NE(info.out.find(line), std::string::npos) << line << "in\n" << info.out;
}

TEST_P(H264Recording, FramesShowTheElementaryDecodePictureByPicture) {
    const RecordingCase& c = GetParam();
    ScratchDir scratch;
    const std::string path = scratch.File("h264.h64");
    constexpr uint32_t kFirstStamp = 3600000;
    {
        RecordingWriter w(path);
        uint32_t frame = 1, stamp = kFirstStamp;
        AppendH264AccessUnits(w, stream, {.resolution = c.resolution}, frame, stamp);
        ASSERT_TRUE(w.Close());
    }
    const H264DecAttributes attr{0, 0, c.width / 16, c.height / 16, 16, 0};
    const std::vector<std::string> elementary = Hashes(test::Decode(stream, attr, test::WholeStream()).pictures);
    ASSERT_EQ(elementary, reference) << "the elementary decode is not right yet; nothing to compare the engine with";

    // One access unit per packet: after each packet the port shows that packet's picture.
    ASSERT_EQ(SplitH264AccessUnits(stream).size(), elementary.size());
    std::ostringstream expected;
    expected << "#kestrel-cli framemd5: index, width x height, MD5 of the planes Y, U (Cb), V (Cr)\n";
    for (size_t i = 0; i < elementary.size(); ++i)
        expected << i << ", " << c.width << "x" << c.height << ", " << elementary[i] << "\n";
    const CliRun r = RunCli("frames " + path + " --framemd5", scratch);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, expected.str());
}

INSTANTIATE_TEST_SUITE_P(X264, H264Recording,
                         ::testing::Values(RecordingCase{"h264_704x576", false, 3, 704, 576},
                                           RecordingCase{"h264_704x288", false, 2, 704, 288},
                                           RecordingCase{"pcm_704x288", true, 2, 704, 288}),
                         [](const ::testing::TestParamInfo<RecordingCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kestrel::testing

#include <gtest/gtest.h>

#include <sstream>

#include "engine/md5.h"
#include "tests/engine/cli_run.h"
#include "tests/engine/xvid_reference.h"
#include "tests/support/recording_mpeg4.h"

namespace kestrel::testing {
namespace {

TEST(Md5, KnownDigests) {
    struct Case { std::string text, digest; };
    for (const Case& c : {Case{"", "d41d8cd98f00b204e9800998ecf8427e"}, Case{"abc", "900150983cd24fb0d6963f7d28e17f72"},
                          Case{"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
                               "57edf4a22be3c955ac49da2e2107b67a"}}) {
        engine::Md5 whole, pieces;
        whole.Update({reinterpret_cast<const uint8_t*>(c.text.data()), c.text.size()});
        EXPECT_EQ(whole.FinishHex(), c.digest);
        for (char ch : c.text) pieces.Update({reinterpret_cast<const uint8_t*>(&ch), 1});
        EXPECT_EQ(pieces.FinishHex(), c.digest) << "fed byte by byte";
    }
}

// The planes in the order of the output: Y, U (Cb), V (Cr).
std::vector<uint8_t> Yuv420p(const Picture& yv12, uint32_t w, uint32_t h) {
    const size_t luma = size_t{w} * h, chroma = luma / 4;
    std::vector<uint8_t> out(yv12.begin(), yv12.begin() + static_cast<long>(luma));
    out.insert(out.end(), yv12.begin() + static_cast<long>(luma + chroma), yv12.begin() + static_cast<long>(luma + 2 * chroma));
    out.insert(out.end(), yv12.begin() + static_cast<long>(luma), yv12.begin() + static_cast<long>(luma + chroma));
    return out;
}

struct FramesFixture : ::testing::Test {
    ScratchDir scratch;
    std::vector<uint8_t> stream = ReadFileBytes(DataPath("mpeg4_352x288.m4v"));
    std::string path = scratch.File("a.h64");
    void SetUp() override {
        RecordingWriter w(path);
        uint32_t frame = 0, stamp = 0;
        AppendMpeg4Pictures(w, stream, {}, frame, stamp);
        ASSERT_TRUE(w.Close());
    }
};

TEST_F(FramesFixture, FrameMd5EqualsTheDirectDecodePictureByPicture) {
    for (uint32_t threads : {1u, 5u}) {
        const std::vector<Picture> direct = DecodeDirectly(stream, DirectFlags(threads), 352, 288);
        std::ostringstream expected;
        expected << "#kestrel-cli framemd5: index, width x height, MD5 of the planes Y, U (Cb), V (Cr)\n";
        for (size_t i = 2; i < 2 + 5 && i < direct.size(); ++i) {
            engine::Md5 md5;
            md5.Update(Yuv420p(direct[i], 352, 288));
            expected << i << ", 352x288, " << md5.FinishHex() << "\n";
        }
        const CliRun r = RunCli("frames " + path + " --framemd5 --from 2 --count 5 --threads " + std::to_string(threads), scratch);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, expected.str()) << "as with " << threads << " ports playing";
    }
}

TEST(Frames, EveryStreamOfEitherEncoderAndSizeAsTheDirectDecode) {
    struct Case {
        const char* name;
        uint32_t width, height, resolution;
    };
    for (const Case c : {Case{"xvid_352x288", 352, 288, 0}, Case{"mpeg4_704x576", 704, 576, 3},
                         Case{"xvid_704x576", 704, 576, 3}}) {
        SCOPED_TRACE(c.name);
        ScratchDir scratch;
        const std::vector<uint8_t> stream = ReadFileBytes(DataPath(std::string(c.name) + ".m4v"));
        const std::string path = scratch.File("a.h64");
        {
            RecordingWriter w(path);
            uint32_t frame = 0, stamp = 0;
            AppendMpeg4Pictures(w, stream, {.resolution = c.resolution}, frame, stamp);
            ASSERT_TRUE(w.Close());
        }
        const std::vector<Picture> direct = DecodeDirectly(stream, DirectFlags(1), c.width, c.height);
        std::ostringstream expected;
        expected << "#kestrel-cli framemd5: index, width x height, MD5 of the planes Y, U (Cb), V (Cr)\n";
        for (size_t i = 0; i < direct.size(); ++i) {
            engine::Md5 md5;
            md5.Update(Yuv420p(direct[i], c.width, c.height));
            expected << i << ", " << c.width << "x" << c.height << ", " << md5.FinishHex() << "\n";
        }
        const CliRun r = RunCli("frames " + path + " --framemd5", scratch);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, expected.str());
    }
}

TEST_F(FramesFixture, Y4mHoldsTheDecodedPictures) {
    const std::string out = scratch.File("out.y4m");
    const CliRun r = RunCli("frames " + path + " --y4m " + out + " --threads 5", scratch);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<uint8_t> y4m = ReadFileBytes(out);
    const std::string header = "YUV4MPEG2 W352 H288 F25:1 Ip A1:1 C420jpeg\n";
    ASSERT_GT(y4m.size(), header.size());
    EXPECT_EQ(std::string(y4m.begin(), y4m.begin() + static_cast<long>(header.size())), header);
    std::vector<uint8_t> expected(header.begin(), header.end());
    for (const Picture& p : DecodeDirectly(stream, DirectFlags(5), 352, 288)) {
        const std::string frame = "FRAME\n";
        expected.insert(expected.end(), frame.begin(), frame.end());
        const std::vector<uint8_t> planes = Yuv420p(p, 352, 288);
        expected.insert(expected.end(), planes.begin(), planes.end());
    }
    EXPECT_TRUE(y4m == expected);
}

TEST_F(FramesFixture, BadArgumentsAndFiles) {
    EXPECT_EQ(RunCli("frames " + path, scratch).status, 2) << "needs --framemd5 or --y4m";
    EXPECT_EQ(RunCli("frames " + path + " --framemd5 --y4m x", scratch).status, 2);
    EXPECT_EQ(RunCli("frames " + path + " --framemd5 --count -1", scratch).status, 2);
    const CliRun missing = RunCli("frames " + scratch.File("none.h64") + " --framemd5", scratch);
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("cannot be opened"), std::string::npos) << missing.err;
    const CliRun unwritable = RunCli("frames " + path + " --y4m /nonexistent/dir/out.y4m", scratch);
    EXPECT_EQ(unwritable.status, 1);
}

}  // namespace
}  // namespace kestrel::testing

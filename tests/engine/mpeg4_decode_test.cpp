// MPEG-4 recordings decoded through the engine's queues, size checks and xvidcore adapter,
// against a direct decode of the same elementary stream and against ffmpeg's decode.
#include <zlib.h>

#include <cstdlib>
#include <cstring>

#include "engine/decoder_dispatch.h"
#include "engine/frame_walker.h"
#include "engine/mpeg4_decoder.h"
#include "tests/engine/engine_fixture.h"
#include "tests/engine/xvid_reference.h"
#include "tests/support/recording_mpeg4.h"

namespace kestrel::testing {
namespace {


struct Decoded {
    std::vector<Picture> pictures;
    std::vector<std::pair<uint32_t, uint32_t>> sizes;
    uint32_t noPicture = 0;
};

class Mpeg4Decode : public EngineTest {
protected:
    void TearDown() override {
        engine::TheEngine().playThreadCount = 0;
        engine::RegisterVideoDecoder(engine::kCodecMpeg4, &engine::CreateMpeg4VideoDecoder);
        EngineTest::TearDown();
    }
    // Every picture the engine decodes from the recording, as the frames command sees them.
    Decoded DecodeRecording(const std::string& path, uint32_t threads) {
        Decoded d;
        if (kxOpenFile(0, path.c_str()) != 1) {
            ADD_FAILURE() << "cannot open " << path;
            return d;
        }
        engine::TheEngine().playThreadCount = threads;
        engine::FrameWalker walker(0);
        for (;;) {
            const auto step = walker.Next();
            if (step == engine::FrameWalker::Step::End || step == engine::FrameWalker::Step::Failed) break;
            if (step == engine::FrameWalker::Step::NoPicture) {
                ++d.noPicture;
                continue;
            }
            d.pictures.emplace_back(walker.Picture().begin(), walker.Picture().end());
            d.sizes.emplace_back(walker.Width(), walker.Height());
        }
        return d;
    }
    std::string Record(const std::string& name, const std::vector<std::pair<std::vector<uint8_t>*, Mpeg4Packets>>& parts) {
        const std::string path = scratch.File(name);
        RecordingWriter w(path);
        uint32_t frame = 1000, stamp = 5000;
        for (const auto& [stream, how] : parts) AppendMpeg4Pictures(w, *stream, how, frame, stamp);
        EXPECT_TRUE(w.Close());
        return path;
    }
};

struct Fixture {
    const char* file;
    uint32_t resolution;
    uint32_t width, height;
};
constexpr Fixture kFixtures[] = {
    {"mpeg4_352x288.m4v", 0, 352, 288},
    {"mpeg4_704x576.m4v", 3, 704, 576},
    {"xvid_352x288.m4v", 0, 352, 288},
    {"xvid_704x576.m4v", 3, 704, 576},
};

// The engine hands each payload over whole, a key frame's date-time bytes included, and gets the
// same pictures as xvidcore decoding the bare stream, with the post-filters of the moment: luma
// and chroma deblocking with one port playing, luma only with two to four, none with five.
TEST_F(Mpeg4Decode, EqualsADirectDecodeOfTheStream) {
    for (const Fixture& f : kFixtures) {
        std::vector<uint8_t> stream = ReadFileBytes(DataPath(f.file));
        ASSERT_FALSE(stream.empty()) << f.file;
        const size_t pictures = SplitMpeg4Pictures(stream).size();
        const std::string path = Record(f.file, {{&stream, {.resolution = f.resolution}}});
        for (uint32_t threads : {1u, 2u, 5u}) {
            SCOPED_TRACE(::testing::Message() << f.file << " as with " << threads << " ports playing");
            const std::vector<Picture> direct = DecodeDirectly(stream, DirectFlags(threads), f.width, f.height);
            const Decoded d = DecodeRecording(path, threads);
            ASSERT_EQ(direct.size(), pictures);
            ASSERT_EQ(d.pictures.size(), pictures);
            for (size_t i = 0; i < pictures; ++i) {
                ASSERT_EQ(d.pictures[i].size(), direct[i].size());
                EXPECT_TRUE(d.pictures[i] == direct[i]) << "picture " << i;
            }
            kxCloseFile(0);
        }
    }
}

std::vector<uint8_t> ReadGzip(const std::string& path) {
    std::vector<uint8_t> out;
    gzFile f = gzopen(path.c_str(), "rb");
    if (f == nullptr) return out;
    uint8_t buf[65536];
    int n;
    while ((n = gzread(f, buf, sizeof buf)) > 0) out.insert(out.end(), buf, buf + n);
    gzclose(f);
    return out;
}

// ffmpeg's decode with the xvid inverse DCT (a committed reference) matches the engine's
// unfiltered pictures to within one level per sample; the two decoders round some P-frame
// predictions differently.
TEST_F(Mpeg4Decode, WithinOneOfFfmpegsDecode) {
    struct Case {
        const char* name;
        uint32_t width, height, resolution;
    };
    for (const Case c : {Case{"mpeg4_352x288", 352, 288, 0}, Case{"xvid_352x288", 352, 288, 0},
                         Case{"mpeg4_704x576", 704, 576, 3}, Case{"xvid_704x576", 704, 576, 3}}) {
        const char* name = c.name;
        SCOPED_TRACE(name);
        std::vector<uint8_t> stream = ReadFileBytes(DataPath(std::string(name) + ".m4v"));
        const std::vector<uint8_t> reference = ReadGzip(DataPath(std::string(name) + ".ffmpeg.yuv.gz"));
        const size_t frameBytes = size_t{c.width} * c.height * 3 / 2, luma = size_t{c.width} * c.height;
        ASSERT_EQ(reference.size() % frameBytes, 0u);
        const Decoded d = DecodeRecording(Record(name, {{&stream, {.resolution = c.resolution}}}), engine::kFastModeThreads);
        ASSERT_EQ(d.pictures.size(), reference.size() / frameBytes);
        int worst = 0;
        size_t differing = 0;
        for (size_t i = 0; i < d.pictures.size(); ++i) {
            const uint8_t* ref = reference.data() + i * frameBytes;  // Y, U, V
            const uint8_t* ours = d.pictures[i].data();               // Y, V, U
            for (size_t k = 0; k < frameBytes; ++k) {
                size_t at = k;
                if (k >= luma) at = k < luma * 5 / 4 ? k + luma / 4 : k - luma / 4;
                const int diff = std::abs(int(ours[at]) - int(ref[k]));
                worst = std::max(worst, diff);
                differing += diff != 0;
            }
        }
        EXPECT_LE(worst, 1);
        RecordProperty(std::string(name) + "_samples_differing", std::to_string(differing));
        kxCloseFile(0);
    }
}

// 352 x 288 for ten pictures, then 704 x 576 from a key frame with its own VOL: the buffers grow
// to 4 x 704 x 576 x 2 bytes of packets and 704 x 576 x 2 of picture, the bytes queued at the
// change survive the move, and the new pictures decode at the new size.
TEST_F(Mpeg4Decode, PictureSizeChangesInMidFile) {
    std::vector<uint8_t> small = ReadFileBytes(DataPath("mpeg4_352x288.m4v"));
    std::vector<uint8_t> large = ReadFileBytes(DataPath("mpeg4_704x576.m4v"));
    const std::string grow = Record("grow.h64", {{&small, {.resolution = 0}}, {&large, {.resolution = 3}}});
    const Decoded d = DecodeRecording(grow, 1);
    const std::vector<Picture> a = DecodeDirectly(small, DirectFlags(1), 352, 288);
    const std::vector<Picture> b = DecodeDirectly(large, DirectFlags(1), 704, 576);
    ASSERT_EQ(d.pictures.size(), a.size() + b.size());
    for (size_t i = 0; i < a.size(); ++i) EXPECT_TRUE(d.pictures[i] == a[i]) << i;
    for (size_t i = 0; i < b.size(); ++i) {
        EXPECT_EQ(d.sizes[a.size() + i], std::make_pair(704u, 576u));
        EXPECT_TRUE(d.pictures[a.size() + i] == b[i]) << "after the change, picture " << i;
    }
    const engine::PlayerPort& p = engine::Port(0);
    EXPECT_EQ(p.video.capacity, size_t{4} * 704 * 576 * 2);
    EXPECT_EQ(p.pictureCapacity, size_t{704} * 576 * 2);
    ASSERT_NE(p.pictureSurface, nullptr);
    EXPECT_EQ(p.pictureSurface->Desc().width, 704u) << "the surface is made again at the new size";
    EXPECT_EQ(p.pictureSurface->Desc().height, 576u);
    kxCloseFile(0);

    // Back to the smaller size: the larger buffers stay, only the size changes.
    const std::string shrink = Record("shrink.h64", {{&large, {.resolution = 3}}, {&small, {.resolution = 0}}});
    const Decoded s = DecodeRecording(shrink, 1);
    ASSERT_EQ(s.pictures.size(), a.size() + b.size());
    for (size_t i = 0; i < a.size(); ++i) EXPECT_TRUE(s.pictures[b.size() + i] == a[i]) << i;
    EXPECT_EQ(p.video.capacity, size_t{2} * 2 * 704 * 576);
    EXPECT_EQ(p.pictureCapacity, size_t{2} * 704 * 576);
    EXPECT_EQ(p.width, 352u);
}

// A stream coded larger than its recording says (704 x 576 labelled 352 x 288) must not be
// written past the port's picture: the picture shows its top-left part.
TEST_F(Mpeg4Decode, StreamLargerThanThePortIsBounded) {
    std::vector<uint8_t> large = ReadFileBytes(DataPath("xvid_704x576.m4v"));
    const Decoded d = DecodeRecording(Record("mislabelled.h64", {{&large, {.resolution = 0}}}), 1);
    const std::vector<Picture> direct = DecodeDirectly(large, DirectFlags(1), 704, 576);
    ASSERT_EQ(d.pictures.size(), direct.size());
    for (size_t i = 0; i < direct.size(); ++i) {
        const uint8_t* ours = d.pictures[i].data();
        const uint8_t* full = direct[i].data();
        bool same = true;
        for (size_t y = 0; y < 288; ++y) same &= std::memcmp(ours + y * 352, full + y * 704, 352) == 0;
        for (size_t plane = 0; plane < 2; ++plane) {
            const uint8_t* oc = ours + 352 * 288 + plane * (176 * 144);
            const uint8_t* fc = full + 704 * 576 + plane * (352 * 288);
            for (size_t y = 0; y < 144; ++y) same &= std::memcmp(oc + y * 176, fc + y * 352, 176) == 0;
        }
        EXPECT_TRUE(same) << "picture " << i;
    }
}

// The codec type comes from the first video packet; later packets' codec bits are not read.
TEST_F(Mpeg4Decode, LaterCodecBitsAreIgnored) {
    std::vector<uint8_t> stream = ReadFileBytes(DataPath("xvid_352x288.m4v"));
    const Decoded d = DecodeRecording(Record("mixed.h64", {{&stream, {.codecBits = engine::kCodecH264}}}), 5);
    EXPECT_EQ(d.pictures.size(), SplitMpeg4Pictures(stream).size());
    EXPECT_TRUE(d.pictures.back() == DecodeDirectly(stream, DirectFlags(5), 352, 288).back());
}

TEST_F(Mpeg4Decode, WithoutADecoderNothingIsDecoded) {
    ASSERT_EQ(engine::InitEngine(), 1);  // the engine registers its own adapters when it starts
    engine::RegisterVideoDecoder(engine::kCodecMpeg4,
                                 [](const engine::VideoDecoderConfig&) -> std::unique_ptr<engine::VideoDecoder> { return nullptr; });
    std::vector<uint8_t> stream = ReadFileBytes(DataPath("xvid_352x288.m4v"));
    const Decoded d = DecodeRecording(Record("nodecoder.h64", {{&stream, {}}}), 1);
    EXPECT_TRUE(d.pictures.empty());
    EXPECT_EQ(d.noPicture, SplitMpeg4Pictures(stream).size());
    EXPECT_EQ(engine::Port(0).picture[0], 0x80) << "the grey picture of the open stays";
}

}  // namespace
}  // namespace kestrel::testing

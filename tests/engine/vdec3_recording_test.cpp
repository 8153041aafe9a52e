// Recordings of the recorders' own codec (codec type 2) through the engine: kestrel-cli frames
// shows, packet by packet, the decoder's own pictures (post-filtered, cropped to the port's size,
// first chroma plane Cb) — key frames with their date-time in front, a height of 120 included.
#include <gtest/gtest.h>

#include <sstream>

#include "engine/md5.h"
#include "tests/engine/cli_run.h"
#include "tests/support/vdec3enc.h"

namespace kestrel::testing {
namespace {

TEST(Vdec3Recording, FramesShowTheDecodersPicturesInOrder) {
    const std::string fixture = std::string(KESTREL_SOURCE_DIR) + "/tests/vdec3/fixtures/testsrc2_176x144_3f.yuv";
    struct Case {
        uint32_t resolution;
        int width, height;
    };
    for (const Case c : {Case{1, 176, 144}, Case{9, 176, 120}}) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        ScratchDir scratch;
        const std::string path = scratch.File("vdec3.h64");
        vdec3enc::Encoder encoder(c.width, c.height);
        std::ostringstream expected;
        expected << "#kestrel-cli framemd5: index, width x height, MD5 of the planes Y, U (Cb), V (Cr)\n";
        {
            RecordingWriter w(path);
            constexpr int kQ = 7;
            for (uint32_t i = 0; i < 6; ++i) {
                vdec3enc::FrameOptions o;
                o.q = kQ;
                o.inter = i % 3 != 0;
                const vdec3enc::Picture source =
                    vdec3enc::Crop(vdec3enc::LoadYuv420(fixture, 176, 144, static_cast<int>(i % 3)), c.width, c.height);
                const std::vector<uint8_t> frame = encoder.Encode(source, o);
                VideoFrame v;
                v.codec = engine::kCodecVdec3;
                v.resolution = c.resolution;
                v.key = !o.inter;
                v.frameNumber = 1000 + i;
                v.stamp = 5000 + 40 * i;
                v.dateTime = 0x2C84D67Au + i;
                v.data = frame;
                w.Video(v);
                w.AudioBytes(v.stamp + 10, 168);

                const vdec3enc::Picture shown =
                    vdec3enc::Crop(vdec3enc::PostFiltered(encoder.reconstruction(), kQ), c.width, c.height);
                engine::Md5 md5;
                md5.Update(shown.y);
                md5.Update(shown.cb);
                md5.Update(shown.cr);
                expected << i << ", " << c.width << "x" << c.height << ", " << md5.FinishHex() << "\n";
            }
            ASSERT_TRUE(w.Close());
        }
        const CliRun r = RunCli("frames " + path + " --framemd5", scratch);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, expected.str());
    }
}

}  // namespace
}  // namespace kestrel::testing

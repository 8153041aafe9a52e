#include <gtest/gtest.h>

#include "tests/engine/cli_run.h"

namespace kestrel::testing {
namespace {

TEST(CliInfo, JsonOfARecording) {
    ScratchDir scratch;
    const std::string path = scratch.File("a.h64");
    // 60 frames at 40 ms from frame 100 and stamp 1000; key frames at 0, 25, 50 with wall-clock
    // times one second per 25 frames from 2012-03-01 13:45:30.
    ASSERT_TRUE(WriteSimpleRecording(path, {.frames = 60, .resolution = 3}));
    const CliRun r = RunCli("info " + path + " --json", scratch);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string expected =
        "{\n"
        "  \"codec\": \"mpeg4\",\n"
        "  \"width\": 704,\n"
        "  \"height\": 576,\n"
        "  \"estimated_frames\": 59,\n"
        "  \"estimated_duration_ms\": 2360,\n"
        "  \"frames\": 60,\n"
        "  \"duration_ms\": 2360,\n"
        "  \"total_bytes\": " + std::to_string((16 + 64) * 60 + 12 + (16 + 168) * 60) + ",\n"
        "  \"key_frames\": 3,\n"
        "  \"first_key_time\": \"2012-03-01T13:45:30\",\n"
        "  \"last_key_time\": \"2012-03-01T13:45:32\"\n"
        "}\n";
    EXPECT_EQ(r.out, expected);
}

TEST(CliInfo, FilesThatCannotBeOpenedGiveOneLineAndStatusOne) {
    ScratchDir scratch;
    const std::string noVideo = scratch.File("audio-only.h64");
    {
        RecordingWriter w(noVideo);
        w.AudioBytes(0, 168);
        ASSERT_TRUE(w.Close());
    }
    struct Case { std::string file, reason; };
    for (const Case& c : {Case{scratch.File("missing.h64"), "cannot be opened"}, Case{noVideo, "no video packet"}}) {
        const CliRun r = RunCli("info " + c.file, scratch);
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(r.out.empty());
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
    }
}

}  // namespace
}  // namespace kestrel::testing

// kestrel-cli play and snapshot: real-time playback with sound through SDL's disk driver, and the
// picture a snapshot saves.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <regex>
#include <sstream>

#include "audio/adpcm_codec.h"
#include "engine/engine.h"
#include "engine/port_info.h"
#include "kestrel/kx.h"
#include "tests/audio/disk_audio.h"
#include "tests/engine/cli_run.h"
#include "tests/engine/xvid_reference.h"
#include "tests/support/recording_mpeg4.h"

namespace kestrel::testing {
namespace {

constexpr uint32_t kSamplesPerBlock = 320;

// A recording of `frames` MPEG-4 pictures at 25 frames/s (the test stream over and over) with one
// ADPCM block of a tone after each picture. The tone never comes near 0, so that the silence of
// the sound device can be told from sound. Returns the PCM each block decodes to.
std::vector<std::vector<int16_t>> WriteTonedRecording(const std::string& path, uint32_t frames) {
    const std::vector<uint8_t> stream = ReadFileBytes(DataPath("xvid_352x288.m4v"));
    const std::vector<Mpeg4Picture> pictures = SplitMpeg4Pictures(stream);
    AdpcmCodec* codec = nullptr;
    EXPECT_EQ(adpcm_create(0, &codec), 0);
    std::vector<std::vector<int16_t>> pcm;
    RecordingWriter w(path);
    for (uint32_t i = 0; i < frames; ++i) {
        const Mpeg4Picture& picture = pictures[i % pictures.size()];
        VideoFrame v;
        v.key = picture.intra;
        v.frameNumber = 81000 + i;
        v.stamp = 3000000 + 40 * i;
        v.dateTime = DateTimeAfter({2023, 5, 4, 10, 0, 0}, i / 25);
        v.data = picture.bytes;
        w.Video(v);
        std::vector<int16_t> tone(kSamplesPerBlock);
        for (uint32_t k = 0; k < kSamplesPerBlock; ++k)
            tone[k] = static_cast<int16_t>(9000 + 5000 * std::sin((i * kSamplesPerBlock + k) * 0.07));
        std::vector<uint8_t> block(8 + kSamplesPerBlock / 2);
        EXPECT_EQ(adpcm_encode(codec, tone.data(), tone.size(), block.data(), block.size()), 168);
        w.Audio(v.stamp, block);
        std::vector<int16_t> decoded(kSamplesPerBlock);
        EXPECT_EQ(adpcm_decode(nullptr, block.data(), block.size(), decoded.data(), decoded.size()), 320);
        for (int16_t s : decoded) EXPECT_NE(s, 0) << "the tone must stay clear of silence";
        pcm.push_back(std::move(decoded));
    }
    adpcm_release(codec);
    EXPECT_TRUE(w.Close());
    return pcm;
}

struct PlayOutput {
    std::vector<std::string> statusLines;
    std::string ending;  // "file end" or "time limit"
    double seconds = -1;
};

PlayOutput ParsePlay(const std::string& out) {
    PlayOutput p;
    const std::regex status(R"(^\d+/\d+      \d\d:\d\d:\d\d/\d\d:\d\d:\d\d$)");
    const std::regex end(R"(^(file end|time limit) after (\d+\.\d+) s$)");
    std::istringstream in(out);
    std::string line;
    std::smatch m;
    while (std::getline(in, line)) {
        if (std::regex_match(line, status)) p.statusLines.push_back(line);
        if (std::regex_match(line, m, end)) {
            p.ending = m[1];
            p.seconds = std::stod(m[2]);
        }
    }
    return p;
}

uint32_t PlayedFrames(const std::string& statusLine) { return static_cast<uint32_t>(std::stoul(statusLine)); }

// 20 s with sound, in real time: the sound device's file holds the decode of the played blocks
// in order, nothing missing or repeated, except a last section that never filled.
TEST(CliPlay, TwentySecondsWithSoundInRealTime) {
    ScratchDir scratch;
    const std::string path = scratch.File("tone.h64");
    const auto blocks = WriteTonedRecording(path, 500);
    DiskAudio disk(8);  // four times faster than real time: the device keeps up on a busy machine
    const CliRun r = RunCli("play " + path + " --sound", scratch);
    ASSERT_EQ(r.status, 0) << r.err;
    const PlayOutput p = ParsePlay(r.out);
    EXPECT_EQ(p.ending, "file end") << r.out;
    EXPECT_NEAR(p.seconds, 20.0, 0.2) << "real time";
    std::printf("20 s recording played in %.3f s\n", p.seconds);
    ASSERT_GE(p.statusLines.size(), 19u) << r.out;
    EXPECT_LE(p.statusLines.size(), 21u) << r.out;
    for (size_t i = 1; i < p.statusLines.size(); ++i)
        EXPECT_GE(PlayedFrames(p.statusLines[i]), PlayedFrames(p.statusLines[i - 1])) << p.statusLines[i];
    EXPECT_NE(p.statusLines.front().find("/500      "), std::string::npos) << p.statusLines.front();
    EXPECT_NE(p.statusLines.back().find("/00:00:19"), std::string::npos) << p.statusLines.back();

    const std::vector<int16_t> sound = disk.Sound();
    ASSERT_EQ(sound.size() % (4 * kSamplesPerBlock), 0u) << "whole sections of four blocks";
    const size_t heard = sound.size() / kSamplesPerBlock;
    // Sound is switched on after play starts: the first block may already have gone by.
    const size_t first = !sound.empty() && sound[0] == blocks[0][0] ? 0 : 1;
    std::vector<int16_t> expected;
    for (size_t b = first; b < first + heard && b < blocks.size(); ++b)
        expected.insert(expected.end(), blocks[b].begin(), blocks[b].end());
    EXPECT_TRUE(sound == expected) << "what was played is the decode of the blocks, in order";
    // At most two blocks stay queued at the end of the file, and three in a section never filled.
    EXPECT_GE(heard + first, blocks.size() - 2 - 3);
}

TEST(CliPlay, SpeedsTimeLimitAndArguments) {
    ScratchDir scratch;
    const std::string path = scratch.File("tone.h64");
    WriteTonedRecording(path, 250);  // 10 s
    {
        const CliRun r = RunCli("play " + path + " --speed 8", scratch);
        ASSERT_EQ(r.status, 0) << r.err;
        const PlayOutput p = ParsePlay(r.out);
        EXPECT_EQ(p.ending, "file end");
        EXPECT_NEAR(p.seconds, 10.0 / 8, 0.3) << "eight times faster";
    }
    {
        const CliRun r = RunCli("play " + path + " --seconds 1.5", scratch);
        ASSERT_EQ(r.status, 0) << r.err;
        const PlayOutput p = ParsePlay(r.out);
        EXPECT_EQ(p.ending, "time limit");
        EXPECT_NEAR(p.seconds, 1.5, 0.1);
        ASSERT_FALSE(p.statusLines.empty());
        EXPECT_GE(PlayedFrames(p.statusLines.front()), 20u) << "about 25 frames in the first second";
        EXPECT_LE(PlayedFrames(p.statusLines.front()), 30u);
    }
    for (const std::string args : {"--speed 9", "--speed 0", "--seconds -1", "--bogus", "--seconds"})
        EXPECT_EQ(RunCli("play " + path + " " + args, scratch).status, 2) << args;
    EXPECT_EQ(RunCli("play", scratch).status, 2);
    const CliRun missing = RunCli("play " + scratch.File("none.h64"), scratch);
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("cannot be opened"), std::string::npos) << missing.err;
}

// The snapshot of picture N, reached by seek and single step, equals the one the engine saves
// after a seek to N + 1 alone.
TEST(CliSnapshot, SavesTheRequestedPicture) {
    ScratchDir scratch;
    const std::string path = scratch.File("tone.h64");
    WriteTonedRecording(path, 40);
    const std::string cli3 = scratch.File("cli3.bmp"), cli4 = scratch.File("cli4.bmp"), api = scratch.File("api.bmp");
    ASSERT_EQ(RunCli("snapshot " + path + " --frame 3 -o " + cli3, scratch).status, 0);
    ASSERT_EQ(RunCli("snapshot " + path + " --frame 4 -o " + cli4, scratch).status, 0);

    ASSERT_EQ(kxOpenFile(0, path.c_str()), 1);
    ASSERT_TRUE(engine::WaitForIndex(0, 10000));
    ASSERT_EQ(kxPlay(0, nullptr), 1);
    ASSERT_EQ(kxPause(0), 1);
    // Decoded as with one port playing, as the command does.
    for (int i = 0; i < 1000 && engine::TheEngine().playThreadCount.load() == 0; ++i) platform::SleepMs(1);
    ASSERT_EQ(kxSetPlayedFrames(0, 4), 1);
    ASSERT_EQ(kxSnapPicture(0, api.c_str()), 1);
    kxCloseFile(0);
    kxReleaseDirectDraw();

    const std::vector<uint8_t> a = ReadFileBytes(cli3), b = ReadFileBytes(api);
    ASSERT_GT(a.size(), 352u * 288 * 3);
    EXPECT_TRUE(a == b) << "picture 3";
    EXPECT_FALSE(a == ReadFileBytes(cli4)) << "picture 4 differs";

    EXPECT_EQ(RunCli("snapshot " + path + " --frame 40 -o " + cli3, scratch).status, 1) << "past the last picture";
    EXPECT_EQ(RunCli("snapshot " + path + " --frame 3", scratch).status, 2);
    EXPECT_EQ(RunCli("snapshot " + path + " -o " + cli3, scratch).status, 2);
    EXPECT_EQ(RunCli("snapshot " + path + " --frame -2 -o " + cli3, scratch).status, 2);
    EXPECT_EQ(RunCli("snapshot " + path + " --frame 3 -o /nonexistent/dir/x.bmp", scratch).status, 1);
}

}  // namespace
}  // namespace kestrel::testing

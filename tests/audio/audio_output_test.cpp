#include "audio/audio_output.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "audio/adpcm_codec.h"
#include "tests/audio/disk_audio.h"

namespace kestrel {
namespace {

using namespace std::chrono_literals;
using testing::Bytes;
using testing::CountingPcm;
using testing::DiskAudio;

constexpr int kRealTimeDelayMs = 32;  // one 256-frame SDL buffer at 8000 Hz
constexpr int kSlowDelayMs = 80;      // 2.5 times slower than real time

// Chunks of a running count, as the play thread would hand them over.
struct Feed {
    uint32_t chunkBytes;
    std::vector<std::vector<int16_t>> chunks;
    std::vector<int16_t> Concat(std::initializer_list<std::pair<size_t, size_t>> ranges) const {
        std::vector<int16_t> all;
        for (auto [from, to] : ranges)
            for (size_t k = from; k < to; ++k) all.insert(all.end(), chunks[k].begin(), chunks[k].end());
        return all;
    }
};

Feed MakeFeed(uint32_t chunkBytes, size_t count) {
    Feed f{chunkBytes, {}};
    for (size_t k = 0; k < count; ++k)
        f.chunks.push_back(CountingPcm(static_cast<uint32_t>(k * chunkBytes / 2), chunkBytes / 2));
    return f;
}

bool WaitUntil(auto condition, std::chrono::milliseconds limit = 5s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition() && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(2ms);
    return condition();
}

bool OpenForPayload(AudioOutput& out, uint32_t payloadLength) {
    const auto fmt = audio_format_for_payload(payloadLength);
    return out.audio_open(&fmt, audio_open_divisor(fmt));
}

TEST(AudioOutput, RateAndChunkLengthFollowThePayloadLength) {
    struct Case {
        uint32_t payload;
        uint32_t rate;
        uint32_t chunk;
    } cases[] = {{168, 8000, 640}, {640, 8000, 640}, {641, 16000, 8000}, {2008, 16000, 8000}};
    for (const auto& c : cases) {
        EXPECT_EQ(audio_format_for_payload(c.payload).samplesPerSecond, c.rate) << c.payload;
        DiskAudio disk(1);
        AudioOutput out;
        ASSERT_TRUE(OpenForPayload(out, c.payload)) << out.last_open_error();
        EXPECT_EQ(out.audio_chunk_length(), c.chunk) << c.payload;
        out.audio_close();
        EXPECT_FALSE(out.device_open());
    }
}

TEST(AudioOutput, OpenRefusesFormatsItCannotCutIntoSections) {
    DiskAudio disk(1);
    AudioOutput out;
    const auto fmt8k = platform::MonoPcm16(8000);
    const auto fmt48k = platform::MonoPcm16(48000);
    const auto fmt16k = platform::MonoPcm16(16000);
    struct Case {
        const char* what;
        const platform::PcmFormat* format;
        uint32_t divisor;
    } cases[] = {
        {"no format", nullptr, 25},
        {"divisor 0", &fmt8k, 0},
        {"chunk of 0 bytes", &fmt8k, 20000},
        {"chunk larger than a quarter section", &fmt48k, 4},
        {"chunk of half a sample", &fmt16k, 6},  // 32000 / 6 = 5333 bytes
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(out.audio_open(c.format, c.divisor)) << c.what;
        EXPECT_FALSE(out.device_open()) << c.what;
        EXPECT_FALSE(out.last_open_error().empty()) << c.what;
    }
    // A second open closes the device and fails; the one after that opens again.
    ASSERT_TRUE(out.audio_open(&fmt8k, 25));
    EXPECT_FALSE(out.audio_open(&fmt8k, 25));
    EXPECT_FALSE(out.device_open());
    EXPECT_TRUE(out.audio_open(&fmt8k, 25));
    out.audio_close();
}

TEST(AudioOutput, WhatIsWrittenIsPlayedInOrderWithNothingRepeated) {
    struct Case {
        uint32_t payload;
        size_t chunks;
    } cases[] = {{168, 40}, {2008, 12}};
    for (const auto& c : cases) {
        DiskAudio disk(1);
        AudioOutput out;
        ASSERT_TRUE(OpenForPayload(out, c.payload)) << out.last_open_error();
        const Feed feed = MakeFeed(out.audio_chunk_length(), c.chunks);
        for (const auto& chunk : feed.chunks) {
            // keep up with the device so that nothing is dropped
            ASSERT_TRUE(WaitUntil([&] { return !out.section_in_flight(out.current_section()); }));
            ASSERT_TRUE(out.audio_write(Bytes(chunk), chunk.size() * 2));
        }
        out.audio_close();
        EXPECT_EQ(disk.Sound(), feed.Concat({{0, c.chunks}})) << c.payload;
        const auto n = out.counters();
        EXPECT_EQ(n.chunksWritten, c.chunks);
        EXPECT_EQ(n.chunksDropped, 0u);
        EXPECT_EQ(n.sectionsQueued, c.chunks / 4);
        EXPECT_EQ(n.sectionsDone, c.chunks / 4);
    }
}

TEST(AudioOutput, DropsChunksOnlyWhileTheCurrentSectionIsQueued) {
    DiskAudio disk(kSlowDelayMs);
    AudioOutput out;
    ASSERT_TRUE(OpenForPayload(out, 168)) << out.last_open_error();
    const Feed feed = MakeFeed(640, 24);
    // 16 chunks fill and queue all four sections; the next four find section 1 still queued (it
    // takes the device at least 4 x 80 ms) and are dropped: a writer that waited would take them.
    for (size_t k = 0; k < 20; ++k) EXPECT_TRUE(out.audio_write(Bytes(feed.chunks[k]), 32000));
    EXPECT_EQ(out.counters().chunksDropped, 4u);
    EXPECT_EQ(out.current_section(), 1u);
    for (uint32_t s = 1; s <= 4; ++s) EXPECT_TRUE(out.section_in_flight(s)) << s;
    // Once the device hands section 1 back it takes chunks again.
    ASSERT_TRUE(WaitUntil([&] { return !out.section_in_flight(1); }));
    EXPECT_EQ(out.section_chunks(1), 0u);
    for (size_t k = 20; k < 24; ++k) EXPECT_TRUE(out.audio_write(Bytes(feed.chunks[k]), 32000));
    EXPECT_EQ(out.counters().chunksDropped, 4u);
    // the slow device plays slower than audio_close would wait for
    ASSERT_TRUE(WaitUntil([&] { return out.counters().sectionsDone == 5; }, 10s));
    out.audio_close();
    EXPECT_EQ(disk.Sound(), feed.Concat({{0, 16}, {20, 24}}));
}

TEST(AudioOutput, APartlyFilledSectionIsNotHeardUntilItsFourthChunk) {
    const Feed feed = MakeFeed(640, 4);
    {
        DiskAudio disk(1);
        AudioOutput out;
        ASSERT_TRUE(OpenForPayload(out, 168));
        for (size_t k = 0; k < 3; ++k) ASSERT_TRUE(out.audio_write(Bytes(feed.chunks[k]), 640));
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(out.section_chunks(1), 3u);
        EXPECT_EQ(out.counters().sectionsQueued, 0u);
        out.audio_close();
        EXPECT_TRUE(disk.Sound().empty());
    }
    {
        DiskAudio disk(1);
        AudioOutput out;
        ASSERT_TRUE(OpenForPayload(out, 168));
        for (size_t k = 0; k < 4; ++k) ASSERT_TRUE(out.audio_write(Bytes(feed.chunks[k]), 640));
        out.audio_close();
        EXPECT_EQ(disk.Sound(), feed.Concat({{0, 4}}));
    }
}

TEST(AudioOutput, ResetTakesBackQueuedSoundAndStartsAgainAtSectionOne) {
    DiskAudio disk(kSlowDelayMs);
    AudioOutput out;
    ASSERT_TRUE(OpenForPayload(out, 168));
    const Feed feed = MakeFeed(640, 14);
    for (size_t k = 0; k < 10; ++k) ASSERT_TRUE(out.audio_write(Bytes(feed.chunks[k]), 640));
    ASSERT_EQ(out.current_section(), 3u);
    out.audio_reset();
    EXPECT_EQ(out.current_section(), 1u);
    for (uint32_t s = 1; s <= 4; ++s) {
        EXPECT_FALSE(out.section_in_flight(s)) << s;
        EXPECT_EQ(out.section_chunks(s), 0u) << s;
    }
    for (size_t k = 10; k < 14; ++k) ASSERT_TRUE(out.audio_write(Bytes(feed.chunks[k]), 640));
    EXPECT_EQ(out.counters().chunksDropped, 0u);
    out.audio_close();
    // The device may have played the head of what was reset; then the new section, whole.
    const auto sound = disk.Sound();
    const auto after = feed.Concat({{10, 14}});
    ASSERT_GE(sound.size(), after.size());
    const size_t before = sound.size() - after.size();
    EXPECT_TRUE(std::equal(after.begin(), after.end(), sound.begin() + before));
    const auto reset = feed.Concat({{0, 8}});
    ASSERT_LT(before, reset.size()) << "the reset sections played to the end";
    EXPECT_TRUE(std::equal(sound.begin(), sound.begin() + before, reset.begin()));
}

TEST(AudioOutput, WithoutASoundDeviceWritesFailAndNothingBlocks) {
    setenv("SDL_AUDIODRIVER", "no-such-sound-system", 1);
    AudioOutput out;
    EXPECT_FALSE(OpenForPayload(out, 168));
    EXPECT_FALSE(out.device_open());
    EXPECT_NE(out.last_open_error().find("sound"), std::string::npos) << out.last_open_error();
    out.audio_set_volume(0xFFFFFFFF);
    const auto pcm = CountingPcm(0, 320);
    // Three chunks are taken; the fourth cannot be queued and empties the section again.
    for (int k = 0; k < 3; ++k) EXPECT_TRUE(out.audio_write(Bytes(pcm), 640));
    EXPECT_FALSE(out.audio_write(Bytes(pcm), 640));
    EXPECT_EQ(out.section_chunks(1), 0u);
    EXPECT_FALSE(out.section_in_flight(1));
    EXPECT_EQ(out.current_section(), 1u);
    out.audio_reset();
    out.audio_close();
    EXPECT_FALSE(out.audio_write(Bytes(pcm), 640)) << "closed";
}

TEST(AudioOutput, WritesNeverReadPastTheCallersChunk) {
    DiskAudio disk(1);
    AudioOutput out;
    ASSERT_TRUE(OpenForPayload(out, 2008));
    const auto pcm = CountingPcm(0, 4000);
    EXPECT_FALSE(out.audio_write(Bytes(pcm), 7998)) << "shorter than a chunk";
    EXPECT_FALSE(out.audio_write(nullptr, 8000));
    EXPECT_EQ(out.section_chunks(1), 0u);
    EXPECT_TRUE(out.audio_write(Bytes(pcm), 8000));
    out.audio_close();
}

TEST(AudioOutput, CloseWaitsForQueuedSoundButNotForeverOnAStalledDevice) {
    {
        // Close returns once the four queued sections have played.
        DiskAudio disk(kRealTimeDelayMs / 2);
        AudioOutput out;
        ASSERT_TRUE(OpenForPayload(out, 168));
        const Feed feed = MakeFeed(640, 16);
        for (const auto& c : feed.chunks) ASSERT_TRUE(out.audio_write(Bytes(c), 640));
        out.audio_close();
        EXPECT_EQ(disk.Sound(), feed.Concat({{0, 16}}));
    }
    {
        // A device that takes 1.5 s per 32 ms buffer would need 30 s for the same sound.
        DiskAudio disk(1500);
        AudioOutput out;
        ASSERT_TRUE(OpenForPayload(out, 168));
        const auto pcm = CountingPcm(0, 320);
        for (int k = 0; k < 16; ++k) ASSERT_TRUE(out.audio_write(Bytes(pcm), 640));
        const auto start = std::chrono::steady_clock::now();
        out.audio_close();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 6s);
        EXPECT_FALSE(out.device_open());
    }
}

// The play thread decodes and hands audio over while the API thread switches sound off and on
// and closes the file: no write may touch a closed device (ASan) or block for long.
TEST(AudioOutput, WritesRaceSafelyWithCloseResetAndOpen) {
    DiskAudio disk(1);
    AudioOutput out;
    ASSERT_TRUE(OpenForPayload(out, 168));
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> writes{0};
    std::vector<uint8_t> block(168, 0x5C);
    std::thread play([&] {
        std::vector<int16_t> buffer(16000);
        while (!stop.load()) {
            adpcm_decode(nullptr, block.data(), block.size(), buffer.data(), buffer.size());
            out.audio_write(reinterpret_cast<const uint8_t*>(buffer.data()), 32000);
            writes.fetch_add(1);
            std::this_thread::sleep_for(200us);
        }
    });
    for (int round = 0; round < 6; ++round) {
        std::this_thread::sleep_for(20ms);
        out.audio_reset();
        std::this_thread::sleep_for(20ms);
        out.audio_close();
        OpenForPayload(out, 168);
        out.audio_set_volume(0xFFFFFFFF);
    }
    stop.store(true);
    play.join();
    out.audio_close();
    EXPECT_GT(writes.load(), 0u);
    EXPECT_GT(out.counters().sectionsDone, 0u);
}

// A static writer with its device still open at exit: the device is closed before the writer is
// destroyed, and the process exits normally.
TEST(AudioOutputDeathTest, DeviceLeftOpenIsClosedBeforeStaticObjectsAreDestroyed) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            static DiskAudio disk(1);
            struct Probe {
                ~Probe() {
                    if (platform::OpenSoundDeviceCount() != 0) std::_Exit(3);
                }
            };
            static Probe probe;  // destroyed after everything built later, and after the exit handler
            static AudioOutput out;
            if (!OpenForPayload(out, 168)) std::_Exit(4);
            const auto pcm = CountingPcm(0, 320);
            for (int k = 0; k < 12; ++k) out.audio_write(Bytes(pcm), 640);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace kestrel

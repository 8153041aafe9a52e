// The play loop in virtual time: the test moves the engine's clock and fires its tick, one 5 ms
// step at a time, and watches which packets are decoded and shown at which moment.
#include <cstdlib>

#include "audio/audio_output.h"
#include "engine/audio_link.h"
#include "engine/play_loop.h"
#include "tests/engine/play_fixture.h"

namespace kestrel::testing {
namespace {

using engine::PlaybackMode;
using engine::Port;

struct Decode {
    uint32_t atMs;    // virtual time since play started
    uint32_t marker;
    bool shown;
};

class PlayLoop : public PlayTest {
protected:
    // Ticks until `until` ms after play started; each decode with its time and whether a picture
    // was drawn in that step.
    std::vector<Decode> RunUntil(uint32_t untilMs) {
        std::vector<Decode> out;
        while (now < untilMs && !ThreadGone()) {
            const uint32_t blits = Blits();
            Tick(5);
            now += 5;
            const std::vector<uint32_t> d = MarkedDecoder::Take();
            EXPECT_LE(d.size(), 1u) << "one video packet per step at most";
            for (uint32_t m : d) out.push_back({now, m, Blits() > blits});
        }
        return out;
    }
    // Plays from time 0; the first key frame is decoded at once, before the first tick.
    void StartAt0(const std::vector<Frame>& frames) {
        OpenFrames(frames);
        Play();
        now = 0;
        atStart = MarkedDecoder::Take();
    }
    uint32_t now = 0;
    std::vector<uint32_t> atStart;
};

// Pacing of a 25 frames/s recording at each speed step: the interval between decoded packets
// and which decoded pictures are shown. Pacing is re-anchored by the speed change on frame 2.
TEST_F(PlayLoop, EverySpeedStepPacesAndShowsByItsRate) {
    struct Case {
        uint32_t step;
        uint32_t intervalMs;  // between consecutive video packets
        uint32_t showEvery;   // shown when playedFrames mod this is 0 (1: all)
        bool keyOnly;
    } cases[] = {
        {1, 320, 1, false}, {2, 160, 1, false}, {3, 80, 1, false}, {4, 40, 1, false},
        {5, 20, 2, false},  {6, 10, 4, false},  {7, 5, 6, false},   {8, 5, 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "speed step " << c.step);
        StartAt0(Steady(400, 10));
        ASSERT_EQ(atStart, std::vector<uint32_t>{0}) << "the first key frame at once";
        ASSERT_EQ(RunUntil(5).size(), 1u);
        if (c.step == 4) {  // re-anchors too
            ASSERT_EQ(kxPlay(0, platform::ToHandle(&window)), 1);
        }
        for (uint32_t s = 4; s < c.step; ++s) ASSERT_EQ(kxPlayFast(0), 1);
        for (uint32_t s = 4; s > c.step; --s) ASSERT_EQ(kxPlaySlow(0), 1);
        const uint32_t anchor = now + 5;
        const std::vector<Decode> got = RunUntil(anchor + 30 * c.intervalMs);

        std::vector<Decode> want;
        for (uint32_t m = 2; m <= 32; ++m) {
            if (c.keyOnly && m % 10 != 0) continue;
            want.push_back({anchor + (m - 2) * c.intervalMs, m, m % c.showEvery == 0});
        }
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < want.size(); ++i) {
            EXPECT_EQ(got[i].marker, want[i].marker) << i;
            EXPECT_EQ(got[i].atMs, want[i].atMs) << "marker " << want[i].marker;
            EXPECT_EQ(got[i].shown, want[i].shown) << "marker " << want[i].marker;
        }
        EXPECT_EQ(kxGetPlayedFrames(0), 33u) << "every video packet passed is counted";
        ASSERT_TRUE(Close());
    }
}

// Stamp irregularities: when each packet is decoded (ms after play started) and the played
// time read after it. Frames 0-5 are steady (decoded at 0, 5, 45, 85, 125 and 165 ms).
TEST_F(PlayLoop, GapsStepsAndClockJumpsInTheRecording) {
    struct Case {
        const char* name;
        int64_t stampDelta;   // frame 6's stamp against frame 5's
        uint32_t numberDelta; // frame 6's frame number against frame 5's
        uint32_t at6, at7, at8;
        uint32_t played6, played7;
    } cases[] = {
        // Not waited for: frame 6 at the next step, then the old rhythm; played time jumps.
        {"10-minute gap", 600000, 100, 170, 205, 245, 600200, 600240},
        // Consecutive numbers: the second is waited for in full.
        {"1 s step", 1000, 1, 1165, 1205, 1245, 1200, 1240},
        // The recorder's clock went back 6 s: pacing restarts on frame 6, played time goes on by
        // one frame (frame 5 read 240: a frame counts as played to its end).
        {"clock back 6 s", -6000, 1, 170, 215, 255, 280, 320},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Frame> frames = Steady(12, 50, 7000, 50000, kNoAudio);
        for (size_t i = 6; i < frames.size(); ++i) {
            frames[i].stamp = static_cast<uint32_t>(frames[5].stamp + c.stampDelta + 40 * (i - 6));
            frames[i].number = frames[5].number + c.numberDelta + static_cast<uint32_t>(i - 6);
        }
        StartAt0(frames);
        std::vector<uint32_t> when(12, 0), played(12, 0);
        while (now < 2000 && !ThreadGone()) {
            for (const Decode& d : RunUntil(now + 5)) {
                when[d.marker] = d.atMs;
                played[d.marker] = kxGetPlayedTime(0);
            }
        }
        EXPECT_EQ((std::vector<uint32_t>{when[1], when[2], when[5]}), (std::vector<uint32_t>{5, 45, 165}));
        EXPECT_EQ(when[6], c.at6);
        EXPECT_EQ(when[7], c.at7);
        EXPECT_EQ(when[8], c.at8);
        EXPECT_EQ(played[6], c.played6);
        EXPECT_EQ(played[7], c.played7);
        ASSERT_TRUE(Close());
    }
}

// Stamps that land a little below the pace base must not stall the queues, and stamps before the
// origin of play must not read as 2^31 ms of played time.
TEST_F(PlayLoop, LateStampsNeverStallAndNeverInflatePlayedTime) {
    struct Case {
        const char* name;
        std::vector<Frame> frames;
    };
    std::vector<Case> cases;
    {
        // A 1.5 s gap (skipped), then video drops back just below the pace base (frame 1's stamp).
        auto f = Steady(20, 50, 7000, 50000, kNoAudio);
        f[3].stamp = f[2].stamp + 1500;
        f[3].number += 5;
        f[4].stamp = f[3].stamp + 40;
        f[4].number += 5;
        for (size_t i = 5; i < f.size(); ++i) {
            f[i].stamp = 49990 + 40 * static_cast<uint32_t>(i - 5);
            f[i].number += 5;
        }
        cases.push_back({"video below the base after a skipped gap", f});
    }
    {
        // Audio 300 ms behind the video, and a video gap that is skipped while audio below the
        // pace base is still queued.
        auto f = Steady(20, 50, 7000, 50000, -300);
        for (size_t i = 2; i < f.size(); ++i) {
            f[i].stamp += 10000;
            f[i].number += 50;
        }
        cases.push_back({"audio below the base after a skipped gap", f});
    }
    {
        // Audio slightly behind the first key frame, read after it: a stamp before the origin of
        // played time.
        auto f = Steady(20, 50, 7000, 50000, -50);
        f[0].audioStamp = -1;
        cases.push_back({"audio before the origin", f});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StartAt0(c.frames);
        std::vector<uint32_t> all = atStart;
        while (now < 3000 && !ThreadGone()) {
            for (const Decode& d : RunUntil(now + 5)) all.push_back(d.marker);
            EXPECT_LT(Port(0).playedTime.load(), 3600000u) << "at " << now << " ms";
        }
        std::vector<uint32_t> want(c.frames.size() - 2);
        for (uint32_t i = 0; i < want.size(); ++i) want[i] = i;
        all.resize(std::min(all.size(), want.size()));
        EXPECT_EQ(all, want) << "every frame up to the end of the file is decoded, in order";
        EXPECT_TRUE(ThreadGone()) << "the file's end was reached";
        ASSERT_TRUE(Close());
    }
}

// Audio is due by its own stamp and goes to the sound output only at normal speed on the sound
// port. Here video waits a full second between frames 5 and 6 (consecutive numbers) while audio
// blocks every 40 ms fill the wait and carry the played time on.
TEST_F(PlayLoop, AudioIsDueByItsStampAndReachesTheOutputOnlyWhenHeard) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    struct Case {
        const char* name;
        bool soundPort;
        uint32_t step;
        bool heard;
    } cases[] = {
        {"sound port at normal speed", true, 4, true},
        {"sound off", false, 4, false},
        {"sound port at speed step 5", true, 5, false},
        {"sound port at speed step 2", true, 2, false},
    };
    AudioOutput* out = engine::EngineSoundOutput();
    ASSERT_NE(out, nullptr);
    auto handed = [&] { return out->counters().chunksWritten + out->counters().chunksDropped; };
    // Video 0..9 every 40 ms but 1 s between frames 5 and 6; audio blocks at 50240 .. 51160 ms
    // after frame 5 in the file.
    const std::string path = scratch.File("audio.h64");
    {
        std::vector<Frame> frames = Steady(10, 50, 7000, 50000, kNoAudio);
        for (size_t i = 6; i < frames.size(); ++i) frames[i].stamp += 960;
        RecordingWriter w(path);
        for (size_t i = 0; i < frames.size(); ++i) {
            const std::vector<uint8_t> data = Marker(frames[i].marker);
            VideoFrame v;
            v.key = frames[i].key;
            v.frameNumber = frames[i].number;
            v.stamp = frames[i].stamp;
            v.data = data;
            w.Video(v);
            if (i == 5)
                for (uint32_t j = 1; j <= 24; ++j) w.AudioBytes(50200 + 40 * j, 168, 0x17);
        }
        ASSERT_TRUE(w.Close());
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(engine::InitEngine(), 1);
        engine::RegisterVideoDecoder(engine::kCodecMpeg4, &MarkedDecoder::Make);
        ASSERT_EQ(kxOpenFile(0, path.c_str()), 1);
        ASSERT_TRUE(engine::WaitForIndex(0, 10000));
        Play();
        now = 0;
        MarkedDecoder::Take();
        if (c.soundPort) {
            ASSERT_EQ(kxOpenSound(0), 1);
        }
        const uint64_t before = handed();
        if (c.step == 4) {
            RunUntil(165);
            ASSERT_EQ(kxGetPlayedTime(0), 240u) << "frame 5 played";
            for (uint32_t j = 1; j <= 24; ++j) {
                RunUntil(165 + 40 * j - 5);
                const uint32_t waiting = kxGetPlayedTime(0);
                RunUntil(165 + 40 * j);
                EXPECT_EQ(kxGetPlayedTime(0), std::max(waiting, 200 + 40 * j)) << "audio block " << j;
                EXPECT_EQ(handed() - before, c.heard ? j : 0u) << "audio block " << j << " due at its stamp";
                if (j >= 2) {
                    EXPECT_GT(kxGetPlayedTime(0), waiting) << "audio block " << j << " moves the played time";
                }
            }
            const std::vector<Decode> d = RunUntil(1165);
            ASSERT_FALSE(d.empty());
            EXPECT_EQ(d.front().marker, 6u);
            EXPECT_EQ(d.front().atMs, 1165u) << "frame 6 waited for in full";
        } else {
            RunUntil(165);
            for (uint32_t s = 4; s < c.step; ++s) ASSERT_EQ(kxPlayFast(0), 1);
            for (uint32_t s = 4; s > c.step; --s) ASSERT_EQ(kxPlaySlow(0), 1);
            // The step that restarts the clock still has the flag of the last paced step.
            RunUntil(170);
            const uint64_t afterChange = handed();
            EXPECT_LE(afterChange - before, 1u);
            RunUntil(10000);
            EXPECT_TRUE(ThreadGone()) << "dropped audio does not hold the file back";
            EXPECT_EQ(handed(), afterChange) << "no audio reaches the output at this speed";
        }
        kxCloseSound(0);
        ASSERT_TRUE(Close());
    }
    unsetenv("SDL_AUDIODRIVER");
}

TEST_F(PlayLoop, PauseAndResumeSkipNothing) {
    StartAt0(Steady(60, 10));
    std::vector<uint32_t> all = atStart;
    for (const Decode& d : RunUntil(165)) all.push_back(d.marker);
    ASSERT_EQ(kxPause(0), 1);
    EXPECT_TRUE(RunUntil(165 + 10000).empty()) << "nothing plays while paused";
    ASSERT_EQ(kxPlay(0, platform::ToHandle(&window)), 1);
    const uint32_t resumed = now + 5;
    const std::vector<Decode> after = RunUntil(resumed + 200);
    ASSERT_GE(after.size(), 2u);
    EXPECT_EQ(after[0].atMs, resumed) << "the next frame at once";
    EXPECT_EQ(after[1].atMs, resumed + 40);
    for (const Decode& d : after) all.push_back(d.marker);
    for (uint32_t i = 0; i < all.size(); ++i) EXPECT_EQ(all[i], i);
}

TEST_F(PlayLoop, EndOfFilePostsTheMessageAndStops) {
    StartAt0(Steady(30, 10));
    const std::vector<Decode> d = RunUntil(5000);
    EXPECT_TRUE(ThreadGone());
    const auto m = window.TakeMessage(1000);
    ASSERT_TRUE(m.has_value());
    EXPECT_EQ(*m, (platform::WindowMessage{1225, 0, 0}));
    EXPECT_EQ(Port(0).playMode.load(), PlaybackMode::Stopped);
    EXPECT_EQ(Port(0).playedTime.load(), kxGetFileTime(0) + 40) << "the duration and one frame";
    ASSERT_FALSE(d.empty());
    EXPECT_LE(d.back().marker, 29u);
    EXPECT_GE(d.back().marker, 27u) << "at most two queued frames are left unplayed";
}

TEST_F(PlayLoop, APacketWithoutAPictureEndsPlayback) {
    auto frames = Steady(30, 10);
    frames[4].marker = kNoPicture;
    StartAt0(frames);
    RunUntil(1000);
    EXPECT_TRUE(ThreadGone());
    EXPECT_TRUE(window.TakeMessage(1000).has_value());

    // kxNext meeting such a packet stops there instead of trying it again for ever.
    ASSERT_EQ(kxPlay(0, platform::ToHandle(&window)), 1);
    Parked();
    ASSERT_EQ(kxPause(0), 1);
    MarkedDecoder::Take();
    for (int i = 0; i < 8 && Port(0).playMode.load() == PlaybackMode::Paused; ++i) EXPECT_EQ(kxNext(0), 1);
    EXPECT_EQ(Port(0).playMode.load(), PlaybackMode::Stopped);
    EXPECT_TRUE(window.TakeMessage(1000).has_value());
}

// kxNext at the end of the file: the call whose read meets the end shows nothing and adds 40 ms,
// the frames still queued follow one per call, and the call after them stops the port.
TEST_F(PlayLoop, SingleStepsThroughTheEndOfTheFile) {
    StartAt0(Steady(20, 10));
    ASSERT_EQ(kxPause(0), 1);
    ASSERT_EQ(kxSetPlayedFrames(0, 15), 1);
    MarkedDecoder::Take();
    std::vector<uint32_t> shown;
    int emptyCalls = 0, calls = 0;
    while (Port(0).playMode.load() == PlaybackMode::Paused && calls < 20) {
        const uint32_t blits = Blits(), time = Port(0).playedTime.load(), frames = Port(0).playedFrames.load();
        ASSERT_EQ(kxNext(0), 1);
        ++calls;
        const std::vector<uint32_t> d = MarkedDecoder::Take();
        if (Port(0).playMode.load() != PlaybackMode::Paused) {
            EXPECT_TRUE(d.empty()) << "the call after the last frame shows nothing";
            break;
        }
        if (d.empty()) {
            ++emptyCalls;
            EXPECT_EQ(Port(0).playedTime.load(), kxGetFileTime(0) + 40) << "the end of the file: its duration and one frame";
            static_cast<void>(time);
            EXPECT_EQ(Blits(), blits);
            EXPECT_EQ(Port(0).playedFrames.load(), frames);
            continue;
        }
        ASSERT_EQ(d.size(), 1u) << "exactly one picture per call";
        EXPECT_EQ(Blits(), blits + 1);
        EXPECT_EQ(Port(0).playedTime.load(), 40 * d[0]) << "played time is the frame's own";
        shown.push_back(d[0]);
    }
    EXPECT_EQ(shown, (std::vector<uint32_t>{15, 16, 17, 18, 19}));
    EXPECT_EQ(emptyCalls, 1);
    EXPECT_EQ(Port(0).playMode.load(), PlaybackMode::Stopped);
    const auto m = window.TakeMessage(1000);
    ASSERT_TRUE(m.has_value());
    EXPECT_EQ(m->message, 1225u);
}

// Scaling the clock: signed 32-bit, division toward zero for the slow steps.
TEST(PlayStepScale, ElapsedTimeBySpeedStep) {
    struct Case {
        int32_t elapsed;
        uint32_t step;
        int32_t scaled;
    } cases[] = {{100, 1, 12}, {100, 2, 25}, {100, 3, 50}, {100, 4, 100}, {100, 5, 200},
                 {100, 6, 400}, {100, 7, 800}, {100, 8, 800}, {-100, 1, -12}, {-7, 3, -3}};
    for (const Case& c : cases) EXPECT_EQ(engine::ScaleElapsed(c.elapsed, c.step), c.scaled) << c.elapsed << " at " << c.step;
}

}  // namespace
}  // namespace kestrel::testing

namespace kestrel::testing {
namespace {

// After a packet that gave no picture, its payload heads the video queue. Finding the next packet
// in it must not take a header whose packet is not queued whole, nor look past the queued bytes.
TEST_F(PlayLoop, RealignmentTakesOnlyWholeQueuedPackets) {
    const std::string path = scratch.File("realign.h64");
    {
        RecordingWriter w(path);
        for (uint32_t i = 0; i < 10; ++i) {
            std::vector<uint8_t> data = Marker(i == 5 ? kNoPicture : i, 64);
            if (i == 5) {
                // A header inside the payload that claims far more bytes than are queued.
                const std::vector<uint8_t> fake = PacketHeaderBytes(1, 0, 0, 1, 0xFFFFF, 999, 123);
                std::copy(fake.begin(), fake.end(), data.begin() + 24);
            }
            VideoFrame v;
            v.key = i == 0;
            v.frameNumber = 40 + i;
            v.stamp = 1000 + 40 * i;
            v.data = data;
            w.Video(v);
            w.AudioBytes(1000 + 40 * i, 168);
        }
        ASSERT_TRUE(w.Close());
    }
    ASSERT_EQ(engine::InitEngine(), 1);
    engine::RegisterVideoDecoder(engine::kCodecMpeg4, &MarkedDecoder::Make);
    ASSERT_EQ(kxOpenFile(0, path.c_str()), 1);
    ASSERT_TRUE(engine::WaitForIndex(0, 10000));
    Play();
    ASSERT_EQ(kxPause(0), 1);
    MarkedDecoder::Take();
    ASSERT_EQ(kxSetPlayedFrames(0, 8), 1);
    EXPECT_EQ(MarkedDecoder::Take(), (std::vector<uint32_t>{0, 1, 2, 3, 4})) << "stopped at the packet without a picture";
    ASSERT_EQ(kxNext(0), 1);
    EXPECT_EQ(MarkedDecoder::Take(), std::vector<uint32_t>{6}) << "the next whole packet, not the header inside";
    EXPECT_LE(Port(0).video.readPos + Port(0).video.bytes, Port(0).video.capacity);
    ASSERT_EQ(kxNext(0), 1);
    EXPECT_EQ(MarkedDecoder::Take(), std::vector<uint32_t>{7});
}

}  // namespace
}  // namespace kestrel::testing

// The two seeks: by the key-frame index, by a fraction of the bytes, and by estimate and scan
// while the index is still being built.
#include <atomic>
#include <mutex>

#include "tests/engine/play_fixture.h"

namespace kestrel::testing {
namespace {

using engine::Port;

class Seek : public PlayTest {
protected:
    // Opened, played and paused: the seeks need a port that is not stopped.
    void OpenPaused(const std::vector<Frame>& frames) {
        OpenFrames(frames);
        Play();
        ASSERT_EQ(kxPause(0), 1);
        MarkedDecoder::Take();
    }
    static std::vector<uint32_t> Run(uint32_t from, uint32_t to) {
        std::vector<uint32_t> v;
        for (uint32_t m = from; m < to; ++m) v.push_back(m);
        return v;
    }
};

TEST_F(Seek, ByFrameThroughTheIndex) {
    OpenPaused(Steady(50, 10));
    struct Case {
        uint32_t frame;
        std::vector<uint32_t> decoded;  // from the key frame before the frame, up to frame - 1
    } cases[] = {
        {0, {}},                 // the first key frame, nothing decoded
        {10, Run(0, 10)},        // a key frame's own index: decoded from the key frame before it
        {15, Run(10, 15)},
        {1, {0}},
        {41, {40}},
        {33, Run(30, 33)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.frame);
        ASSERT_EQ(kxSetPlayedFrames(0, c.frame), 1);
        EXPECT_EQ(MarkedDecoder::Take(), c.decoded);
        EXPECT_EQ(kxGetPlayedFrames(0), c.frame);
        if (!c.decoded.empty()) {
            EXPECT_EQ(Port(0).picture[0], c.decoded.back()) << "the picture is the frame before";
            EXPECT_EQ(kxGetPlayedTime(0), 40 * c.frame) << "played time to the end of that frame";
        }
    }
    // The whole count: decodes to the end of the file, where the read that meets the end counts
    // as one packet.
    ASSERT_EQ(kxSetPlayedFrames(0, 50), 1);
    const std::vector<uint32_t> last = MarkedDecoder::Take();
    ASSERT_FALSE(last.empty());
    EXPECT_EQ(last.front(), 40u);
    EXPECT_GE(last.back(), 48u);
    EXPECT_EQ(kxGetPlayedFrames(0), 40 + last.size());
}

// Stepping back one frame as the player does: seek to the played count - 1 and redraw.
TEST_F(Seek, PreviousFrameWhilePausedAndRefresh) {
    OpenPaused(Steady(50, 10));
    ASSERT_EQ(kxSetPlayedFrames(0, 21), 1);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(kxNext(0), 1);
    EXPECT_EQ(kxGetPlayedFrames(0), 24u);
    EXPECT_EQ(Port(0).picture[0], 23);
    MarkedDecoder::Take();
    ASSERT_EQ(kxSetPlayedFrames(0, kxGetPlayedFrames(0) - 1), 1);
    EXPECT_EQ(MarkedDecoder::Take(), Run(20, 23));
    const uint32_t blits = Blits();
    ASSERT_EQ(kxRefresh(0), 1);
    EXPECT_EQ(Blits(), blits + 1);
    EXPECT_EQ(Port(0).picture[0], 22) << "the previous frame is shown";
    ASSERT_EQ(kxNext(0), 1);
    EXPECT_EQ(MarkedDecoder::Take(), std::vector<uint32_t>{23}) << "and the next one follows it";
}

TEST_F(Seek, ByPositionLandsOnTheKeyFrameAtOrBeforeTheOffset) {
    OpenPaused(Steady(50, 10));
    const auto index = engine::GetPortInfo(0).keyFrames;
    ASSERT_EQ(index.size(), 5u);
    const uint64_t total = engine::GetPortInfo(0).totalBytes;
    struct Case {
        float position;
        std::vector<uint32_t> decoded;
        uint32_t playedFrames;
    } cases[] = {
        {0.0f, {}, 0},        // the first key frame, nothing decoded
        {1.0f, {40}, 41},     // the last key frame, decoded
        {0.5f, {20}, 21},     // half the bytes lie in frame 25's packet: key frame 20
        {static_cast<float>(static_cast<double>(index[3].fileOffset + 100) / total), {30}, 31},
        {static_cast<float>(static_cast<double>(index[3].fileOffset - 100) / total), {20}, 21},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.position);
        ASSERT_EQ(kxSetPlayPosition(0, c.position), 1);
        EXPECT_EQ(MarkedDecoder::Take(), c.decoded);
        EXPECT_EQ(kxGetPlayedFrames(0), c.playedFrames);
    }
    // Playing on after a seek continues with the next packet.
    ASSERT_EQ(kxPlay(0, platform::ToHandle(&window)), 1);
    Tick();
    EXPECT_EQ(MarkedDecoder::Take(), std::vector<uint32_t>{21});
}

// Frame seeks while the index is still being built: an estimate of the offset and a scan that
// reads through a descriptor of its own.
class ScanSeek : public Seek {
protected:
    void SetUp() override {
        Seek::SetUp();
        hooks.beforeIndexRead = [this](uint64_t) {
            while (holdIndex.load()) platform::SleepMs(1);
        };
        hooks.beforeScanRead = [this](uint64_t offset) {
            std::lock_guard<std::mutex> hold(readsLock);
            reads.push_back(offset);
        };
        ApplyPlatform();
    }
    void TearDown() override {
        holdIndex = false;
        Seek::TearDown();
    }
    void OpenPausedUnindexed(const std::string& path) {
        ASSERT_EQ(engine::InitEngine(), 1);
        engine::RegisterVideoDecoder(engine::kCodecMpeg4, &MarkedDecoder::Make);
        ASSERT_EQ(kxOpenFile(0, path.c_str()), 1);
        Play();
        ASSERT_EQ(kxPause(0), 1);
        ASSERT_FALSE(Port(0).indexComplete.load());
        MarkedDecoder::Take();
        reads.clear();
    }
    static void Put(RecordingWriter& w, uint32_t number, uint32_t marker, bool key, uint32_t holeBytes = 0) {
        const std::vector<uint8_t> data = Marker(marker);
        VideoFrame v;
        v.key = key;
        v.frameNumber = number;
        v.stamp = 5000 + 40 * marker;
        v.data = data;
        v.holeBytes = holeBytes;
        w.Video(v);
    }

    std::atomic<bool> holdIndex{true};
    std::mutex readsLock;
    std::vector<uint64_t> reads;
};

// Frame 5000 of 10000 in 20 MB: reading starts at 10 MB - 16384, and jumps ahead by
// (5000 - f) x 1638.4 bytes while more than 100 frames short.
TEST_F(ScanSeek, EstimateJumpAndFind) {
    constexpr uint32_t kFirst = 700000;  // the recorder's running frame numbers
    constexpr uint64_t kTotal = 20u << 20;
    constexpr uint64_t kEstimate = (10u << 20) - 16384;
    constexpr uint64_t kLanding = kEstimate + 16 + 4915200;  // (5000 - 2000) x 1638.4
    const std::string path = scratch.File("20mb.h64");
    {
        RecordingWriter w(path);
        for (uint32_t i = 0; i < 4; ++i) Put(w, kFirst + i, i, i == 0);
        w.SkipTo(kEstimate);
        Put(w, kFirst + 2000, 2000, false);
        w.SkipTo(kLanding);
        for (uint32_t i = 4990; i <= 5010; ++i) Put(w, kFirst + i, i, i == 4990);
        w.SkipTo(kTotal - 32);
        Put(w, kFirst + 10000, 10000, false);
        ASSERT_TRUE(w.Close());
    }
    OpenPausedUnindexed(path);
    ASSERT_EQ(kxGetFileFrames(0), 10000u);
    ASSERT_EQ(kxSetPlayedFrames(0, 5000), 1);
    ASSERT_GE(reads.size(), 3u);
    EXPECT_EQ(reads[0], kEstimate);
    EXPECT_EQ(reads[1], kLanding);
    EXPECT_EQ(MarkedDecoder::Take(), Run(4990, 5000)) << "decoded from the key frame before frame 5000";
    EXPECT_EQ(kxGetPlayedFrames(0), 5000u);
    EXPECT_EQ(kxGetPlayedTime(0), 5000u * 40) << "counted from the first key frame, not the stamp";
    ASSERT_EQ(kxNext(0), 1);
    EXPECT_EQ(MarkedDecoder::Take(), std::vector<uint32_t>{5000});
}

// Estimates that go wrong: each seek ends, and lands where it says.
TEST_F(ScanSeek, BackOffsEndAndLandOnAKeyFrameTheyRead) {
    constexpr uint32_t kFirst = 300000;
    struct Case {
        const char* name;
        uint32_t frames, gop, holeBytes, target;
        bool expectFound;
        uint32_t firstDecoded;
    } cases[] = {
        // The estimate falls past the target's key frame; backing off goes below 0, read from 0.
        {"back-off below the start of the file", 200, 50, 0, 3, true, 0},
        // One key frame for 300 large packets: the scan backs off again and again, past 100
        // frames a pass, without jumping forward again, down to the only key frame.
        {"long back-off to a distant key frame", 300, 1000, 16000, 250, true, 0},
        // Frame 0 of a file whose totals say 0 frames: no estimate to divide by.
        {"no frames in the totals", 10, 5, 0, 0, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = scratch.File("scan.h64");
        {
            RecordingWriter w(path);
            for (uint32_t i = 0; i < c.frames; ++i) {
                Put(w, kFirst + i, i, i % c.gop == 0, c.holeBytes);
                w.AudioBytes(5000 + 40 * i, 168, 0x17);
            }
            ASSERT_TRUE(w.Close());
        }
        OpenPausedUnindexed(path);
        if (c.target == 0) Port(0).totalFrames = 0;
        const uint32_t playedBefore = kxGetPlayedFrames(0);
        EXPECT_EQ(kxSetPlayedFrames(0, c.target), c.expectFound ? 1 : 0);
        const std::vector<uint32_t> decoded = MarkedDecoder::Take();
        if (c.expectFound) {
            EXPECT_EQ(decoded, Run(c.firstDecoded, c.target));
            EXPECT_EQ(kxGetPlayedFrames(0), c.target);
        } else {
            EXPECT_TRUE(decoded.empty());
            EXPECT_EQ(kxGetPlayedFrames(0), playedBefore) << "a failed seek leaves the port as it was";
        }
        holdIndex = false;
        ASSERT_TRUE(Close());
        holdIndex = true;
    }
}

// A key frame seen before a forward jump is forgotten with the jump: the seek never lands on a
// key frame whose offset it does not hold.
TEST_F(ScanSeek, AKeyFrameFromBeforeAJumpIsNotUsed) {
    constexpr uint32_t kFirst = 10;
    constexpr uint64_t kTotal = 20u << 20;
    constexpr uint64_t kEstimate = (10u << 20) - 16384;
    constexpr uint64_t kLanding = kEstimate + 16 + 4915200;  // from behind the key frame's header
    const std::string path = scratch.File("stale.h64");
    {
        RecordingWriter w(path);
        for (uint32_t i = 0; i < 4; ++i) Put(w, kFirst + i, i, i == 0);
        w.SkipTo(kEstimate);
        Put(w, kFirst + 2000, 2000, true);  // remembered, then the scan jumps
        w.SkipTo(kLanding);
        for (uint32_t i = 5005; i < 5010; ++i) Put(w, kFirst + i, i, false);
        w.SkipTo(kTotal - 32);
        Put(w, kFirst + 10000, 10000, false);
        ASSERT_TRUE(w.Close());
    }
    OpenPausedUnindexed(path);
    ASSERT_EQ(kxSetPlayedFrames(0, 5000), 1);
    ASSERT_GE(reads.size(), 3u);
    EXPECT_EQ(reads[1], kLanding);
    EXPECT_LT(reads[2], kEstimate) << "backed off instead of using the key frame it jumped away from";
    const std::vector<uint32_t> decoded = MarkedDecoder::Take();
    ASSERT_FALSE(decoded.empty());
    EXPECT_EQ(decoded.front(), 2000u) << "decoding starts at the key frame the port was moved to";
    EXPECT_EQ(kxGetPlayedFrames(0), 2000 + decoded.size());
}

}  // namespace
}  // namespace kestrel::testing

#include <chrono>
#include <filesystem>
#include <thread>

#include "engine/engine.h"
#include "tests/engine/engine_fixture.h"

namespace kestrel::testing {
namespace {

using engine::kCodecMpeg4;
using engine::PackDateTime;
using Clock = std::chrono::steady_clock;

const std::vector<uint8_t> kPayload(60, 0x11);

VideoFrame Key(uint32_t frame, uint32_t stamp, uint32_t dateTime = PackDateTime({2012, 3, 1, 13, 45, 30})) {
    VideoFrame f;
    f.key = true;
    f.frameNumber = frame;
    f.stamp = stamp;
    f.dateTime = dateTime;
    f.data = kPayload;
    return f;
}

VideoFrame Delta(uint32_t frame, uint32_t stamp) {
    VideoFrame f;
    f.frameNumber = frame;
    f.stamp = stamp;
    f.data = kPayload;
    return f;
}

class OpenIndex : public EngineTest {};

// Garbage before the first packet: 1 to 12 bytes leave the magic inside the first 16-byte chunk;
// with 13 to 15 it straddles the chunk's end and the readers align on the next packet.
TEST_F(OpenIndex, GarbageBeforeTheFirstPacket) {
    for (uint32_t garbage = 0; garbage <= 15; ++garbage) {
        SCOPED_TRACE(garbage);
        const std::string path = scratch.File("garbage" + std::to_string(garbage));
        RecordingWriter w(path);
        w.Garbage(garbage);
        // 76 bytes: for 13 to 15 bytes of garbage the second packet lies wholly inside a chunk.
        VideoFrame shorter = Key(100, 1000);
        shorter.data = std::span(kPayload).first(56);
        const uint64_t first = w.Video(shorter);
        const uint64_t second = w.Video(Key(101, 1040));
        for (uint32_t i = 2; i < 10; ++i) w.Video(Delta(100 + i, 1000 + 40 * i));
        ASSERT_TRUE(w.Close());
        const engine::PortInfo info = OpenIndexed(0, path);
        const uint64_t expected = garbage <= 12 ? first : second;
        EXPECT_EQ(info.firstVideoOffset, expected);
        ASSERT_FALSE(info.keyFrames.empty());
        EXPECT_EQ(info.keyFrames[0].fileOffset, expected);
        EXPECT_EQ(info.frames, garbage <= 12 ? 10u : 9u);
        EXPECT_EQ(engine::Port(0).file.Tell(), static_cast<int64_t>(expected)) << "positioned at the first key frame";
        EXPECT_EQ(kxCloseFile(0), 1);
    }
}

// Packets without payload, the largest payload, and packets of types 0 and 3 are all walked by
// their lengths; the index counts video packets and sums every packet's bytes.
TEST_F(OpenIndex, PacketLengthsFromZeroToTheLargest) {
    const std::string path = scratch.File("lengths");
    RecordingWriter w(path);
    w.AudioBytes(900, 168);
    w.Video(Key(100, 1000));
    VideoFrame empty = Delta(101, 1040);
    empty.data = {};
    w.Video(empty);
    empty.frameNumber = 102;
    empty.stamp = 1080;
    w.Video(empty);
    w.AudioBytes(1080, 0);
    VideoFrame largest = Delta(103, 1120);
    largest.data = {};
    largest.holeBytes = engine::kMaxPayloadBytes;
    w.Video(largest);
    w.Other(0, 30);
    w.Other(3, 0);
    w.Video(Key(104, 1160));
    w.AudioBytes(1160, 648);
    w.Video(Delta(105, 1200));
    const uint64_t fileSize = w.Offset();
    ASSERT_TRUE(w.Close());

    const engine::PortInfo info = OpenIndexed(0, path);
    ASSERT_TRUE(info.indexComplete);
    EXPECT_EQ(info.frames, 6u);
    EXPECT_EQ(info.durationMs, 200u);
    EXPECT_EQ(info.totalBytes, fileSize - (16 + 168)) << "bytes from the first video packet on";
    ASSERT_EQ(info.keyFrames.size(), 2u);
    EXPECT_EQ(info.keyFrames[1].frameIndex, 4u);
    EXPECT_EQ(info.keyFrames[1].timeOffset, 160u);
    EXPECT_EQ(info.audioPayloadLength, 648u);
    EXPECT_EQ(kxGetFileFrames(0), 6u);
    EXPECT_EQ(kxGetFileTime(0), 200u);
}

// The estimates from the two ends of the file, before the index exists.
TEST_F(OpenIndex, TailScanEstimates) {
    struct Case {
        const char* name;
        bool lastIsKey;
        uint32_t frameStep;  // frame numbers advance by this per packet
        uint32_t estimatedFrames, estimatedMs, exactFrames, exactMs;
    };
    // 251 video packets, stamps 1000 .. 11000; a key frame every 25.
    const Case cases[] = {
        {"last is a delta frame", false, 1, 250, 10000, 251, 10000},
        // The last key frame's date-time is 125 s after the first: whole seconds from the calendar.
        {"last is a key frame", true, 1, 250, 125000, 251, 10000},
        {"frame numbers skip", false, 2, 500, 10000, 251, 10000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = scratch.File(c.name);
        RecordingWriter w(path);
        w.Video(Delta(90, 900));  // before the first key frame: not counted, not estimated from
        for (uint32_t i = 0; i <= 250; ++i) {
            const uint32_t frame = 100 + i * c.frameStep, stamp = 1000 + 40 * i;
            const bool key = (i % 25 == 0 && i != 250) || (c.lastIsKey && i == 250);
            const uint32_t seconds = i == 250 ? 125 : i / 25;
            w.Video(key ? Key(frame, stamp, DateTimeAfter({2012, 3, 1, 13, 45, 30}, seconds)) : Delta(frame, stamp));
            w.AudioBytes(stamp, 168);
        }
        ASSERT_TRUE(w.Close());
        const engine::PortInfo info = OpenIndexed(0, path);
        EXPECT_EQ(info.tail.estimatedFrames, c.estimatedFrames);
        EXPECT_EQ(info.tail.estimatedDurationMs, c.estimatedMs);
        EXPECT_EQ(info.frames, c.exactFrames);
        EXPECT_EQ(info.durationMs, c.exactMs);
        EXPECT_EQ(info.tail.firstFrameNumber, 100u);
        EXPECT_EQ(kxCloseFile(0), 1);
    }
}

// The last packet is a key frame whose date-time would lie beyond the end of the file: it does not
// count, and the estimate comes from the delta frame before it.
TEST_F(OpenIndex, TailScanIgnoresAKeyFrameWithoutItsDateTime) {
    const std::string path = scratch.File("cut-key");
    RecordingWriter w(path);
    w.Video(Key(100, 1000));
    w.Video(Delta(101, 1040));
    w.Video(Delta(102, 1080));
    w.RawHeader(PacketHeaderBytes(engine::kPacketVideo, kCodecMpeg4, 0, 1, 0, 103, 1120), {});
    ASSERT_TRUE(w.Close());
    const engine::PortInfo info = OpenIndexed(0, path);
    EXPECT_EQ(info.tail.estimatedFrames, 2u);
    EXPECT_EQ(info.tail.estimatedDurationMs, 80u);
}

TEST_F(OpenIndex, TimeOffsetsFollowTheLargestStampSeen) {
    const std::string path = scratch.File("stamps");
    RecordingWriter w(path);
    const uint32_t stamps[] = {5000, 5040, 9000, 5100, 5140, 9040};
    for (uint32_t i = 0; i < 6; ++i) w.Video(i % 3 == 0 ? Key(i, stamps[i]) : Delta(i, stamps[i]));
    ASSERT_TRUE(w.Close());
    const engine::PortInfo info = OpenIndexed(0, path);
    ASSERT_EQ(info.keyFrames.size(), 2u);
    EXPECT_EQ(info.keyFrames[0].timeOffset, 0u);
    EXPECT_EQ(info.keyFrames[1].timeOffset, 4000u) << "the stamp that went back does not lower it";
    EXPECT_EQ(info.durationMs, 4040u);
}

TEST_F(OpenIndex, OpensThatFailWithoutAnErrorNumber) {
    struct Case {
        const char* name;
        void (*write)(RecordingWriter&);
    };
    const Case cases[] = {
        {"no video", [](RecordingWriter& w) { for (int i = 0; i < 5; ++i) w.AudioBytes(40 * i, 168); }},
        {"empty file", [](RecordingWriter&) {}},
        {"codec type 3", [](RecordingWriter& w) {
             VideoFrame f = Key(1, 1000);
             f.codec = engine::kCodecUnsupported;
             w.Video(f);
             w.Video(Delta(2, 1040));
         }},
        // Its payload runs past the end: no packet ends inside the tail block.
        {"no qualifying packet", [](RecordingWriter& w) {
             w.RawHeader(PacketHeaderBytes(engine::kPacketVideo, kCodecMpeg4, 0, 1, 5000, 1, 1000), kPayload);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = scratch.File(c.name);
        RecordingWriter w(path);
        c.write(w);
        ASSERT_TRUE(w.Close());
        EXPECT_EQ(kxOpenFile(0, path.c_str()), 0);
        EXPECT_EQ(kxGetLastError(0), ERR_NONE);
        EXPECT_FALSE(engine::Port(0).open.load());
        EXPECT_EQ(engine::TheEngine().openPortCount.load(), 0u);
    }
}

TEST_F(OpenIndex, PathsThatCannotBeOpenedOrHeld) {
    EXPECT_EQ(kxOpenFile(0, (scratch.path() + "/missing.h64").c_str()), 0);
    EXPECT_EQ(kxGetLastError(0), ERR_OPEN);
    EXPECT_EQ(kxOpenFile(1, nullptr), 0);
    EXPECT_EQ(kxGetLastError(1), ERR_OPEN);

    // A real file whose path is one character longer than the port holds is refused whole; at
    // the longest length it holds, it opens.
    std::string dir = scratch.path();
    while (dir.size() < 200) {
        dir += "/dddddddddddddddddddd";
        std::filesystem::create_directory(dir);
    }
    for (size_t length : {size_t{KX_MAX_PATH}, size_t{KX_MAX_PATH + 1}}) {
        const std::string path = dir + "/" + std::string(length - dir.size() - 1, 'f');
        ASSERT_EQ(path.size(), length);
        ASSERT_TRUE(WriteSimpleRecording(path, {}));
        const int32_t ok = kxOpenFile(2, path.c_str());
        EXPECT_EQ(ok, length <= KX_MAX_PATH ? 1 : 0) << length;
        if (ok) {
            EXPECT_STREQ(engine::Port(2).path, path.c_str());
            kxCloseFile(2);
        } else {
            EXPECT_EQ(kxGetLastError(2), ERR_OPEN);
        }
    }
}

TEST_F(OpenIndex, AllocationFailuresWhileOpening) {
    struct Case {
        engine::Allocation what;
        int32_t error;
    };
    const std::string path = Write("a.h64");
    for (const Case& c : {Case{engine::Allocation::PacketBuffer, ERR_NO_MEMORY},
                          Case{engine::Allocation::PictureBuffer, ERR_NO_MEMORY},
                          Case{engine::Allocation::AudioBuffers, ERR_NO_MEMORY},
                          Case{engine::Allocation::AudioCodec, ERR_AUDIO_CODEC},
                          Case{engine::Allocation::ScanBlock, ERR_NONE}}) {
        kxReleaseDirectDraw();
        hooks.failAllocation = [&](engine::Allocation what, size_t) { return what == c.what; };
        ApplyPlatform();
        engine::TheEngine().audioCodecCreated = false;
        EXPECT_EQ(kxOpenFile(0, path.c_str()), 0);
        EXPECT_EQ(kxGetLastError(0), c.error) << int(c.what);
        EXPECT_FALSE(engine::Port(0).open.load());
    }
}

// After an open that failed in its buffers, the builder it started still completes: the total
// frames are readable though the port is not open, the duration is not.
TEST_F(OpenIndex, IndexOfAFailedOpenStillCompletes) {
    const std::string path = Write("a.h64", {.frames = 40});
    kxReleaseDirectDraw();
    hooks.failAllocation = [](engine::Allocation what, size_t) { return what == engine::Allocation::PictureBuffer; };
    ApplyPlatform();
    EXPECT_EQ(kxOpenFile(0, path.c_str()), 0);
    EXPECT_EQ(kxGetLastError(0), ERR_NO_MEMORY);
    ASSERT_TRUE(engine::WaitForIndex(0, 10000));
    EXPECT_EQ(kxGetFileFrames(0), 40u);
    EXPECT_EQ(kxGetFileTime(0), 0u);
    EXPECT_EQ(kxGetLastError(0), ERR_NOT_OPEN);
}

class SlowIndex : public OpenIndex {
protected:
    void SetUp() override {
        OpenIndex::SetUp();
        kxReleaseDirectDraw();
        hooks.beforeIndexRead = [](uint64_t) { std::this_thread::sleep_for(std::chrono::milliseconds(1)); };
        ApplyPlatform();
    }
    static void WaitForKeyFrames(int32_t port, size_t n) {
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (engine::GetPortInfo(port).keyFrames.size() < n && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
};

TEST_F(SlowIndex, CloseWhileIndexingStopsTheBuilderWithinOneRead) {
    const std::string path = Write("long.h64", {.frames = 2000, .gop = 10, .audio = false});
    ASSERT_EQ(kxOpenFile(0, path.c_str()), 1);
    WaitForKeyFrames(0, 3);
    const auto t0 = Clock::now();
    EXPECT_EQ(kxCloseFile(0), 1);
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(500));
    const engine::PortInfo info = engine::GetPortInfo(0);
    EXPECT_FALSE(info.indexBuilderRunning);
    EXPECT_TRUE(info.keyFrames.empty());
    EXPECT_EQ(kxGetFileFrames(0), 0u);
    EXPECT_EQ(kxGetLastError(0), ERR_NOT_OPEN);
    EXPECT_EQ(info.state, engine::PortState::PortFile) << "closing does not return the port to idle";
}

TEST_F(SlowIndex, SecondOpenIsRefusedAndStopsTheBuilderWithPartialTotals) {
    const std::string path = Write("long.h64", {.frames = 2000, .gop = 10, .audio = false});
    ASSERT_EQ(kxOpenFile(0, path.c_str()), 1);
    WaitForKeyFrames(0, 3);
    EXPECT_EQ(kxOpenFile(0, path.c_str()), 0);
    EXPECT_EQ(kxGetLastError(0), ERR_OPEN);
    const engine::PortInfo info = engine::GetPortInfo(0);
    EXPECT_FALSE(info.indexBuilderRunning);
    EXPECT_TRUE(info.indexComplete);
    EXPECT_GT(info.frames, 0u);
    EXPECT_LT(info.frames, 2000u);
    EXPECT_EQ(kxGetFileFrames(0), info.frames);
    EXPECT_TRUE(info.open) << "the refused open leaves the first one in place";
}

// An open that failed in its buffers leaves its builder running; the next open on the port must
// let it end before the list is freed, so that the new file gets an index of its own.
TEST_F(SlowIndex, OpenAfterAFailedOpenGetsItsOwnIndex) {
    const std::string first = Write("first.h64", {.frames = 2000, .gop = 10, .audio = false});
    const std::string second = Write("second.h64", {.frames = 30, .gop = 5, .audio = false});
    kxReleaseDirectDraw();
    bool failPicture = true;
    hooks.failAllocation = [&](engine::Allocation what, size_t) {
        return failPicture && what == engine::Allocation::PictureBuffer;
    };
    ApplyPlatform();
    ASSERT_EQ(kxOpenFile(0, first.c_str()), 0);
    WaitForKeyFrames(0, 3);
    failPicture = false;
    ASSERT_EQ(kxOpenFile(0, second.c_str()), 1);
    ASSERT_TRUE(engine::WaitForIndex(0, 20000));
    const engine::PortInfo info = engine::GetPortInfo(0);
    EXPECT_EQ(info.frames, 30u);
    EXPECT_EQ(info.keyFrames.size(), 6u);
}

// Releasing the engine with files still open ends their builders too (joined, not left running
// on a port whose locks and events the next start reuses); the totals are the partial ones.
TEST_F(SlowIndex, ReleaseEndsTheBuildersOfOpenPorts) {
    const std::string a = Write("a.h64", {.frames = 2000, .gop = 10, .audio = false});
    const std::string b = Write("b.h64", {.frames = 2000, .gop = 10, .audio = false});
    ASSERT_EQ(kxOpenFile(0, a.c_str()), 1);
    WaitForKeyFrames(0, 3);
    ASSERT_EQ(kxOpenFile(1, b.c_str()), 1);  // waits for port 0's builder
    const auto t0 = Clock::now();
    EXPECT_EQ(kxReleaseDirectDraw(), 1);
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(500));
    for (int32_t port : {0, 1}) {
        SCOPED_TRACE(port);
        EXPECT_FALSE(engine::Port(port).indexThread.Held()) << "the builder was joined";
        EXPECT_LT(engine::GetPortInfo(port).frames, 2000u);
    }
}

// Builders run one after another; closing a port whose builder still waits for its turn does not
// wait for the other port's indexing.
TEST_F(SlowIndex, ClosingAPortWhoseBuilderWaitsForItsTurnIsImmediate) {
    const std::string a = Write("a.h64", {.frames = 2000, .gop = 10, .audio = false});
    const std::string b = Write("b.h64", {.frames = 20, .gop = 10, .audio = false});
    ASSERT_EQ(kxOpenFile(0, a.c_str()), 1);
    WaitForKeyFrames(0, 2);
    ASSERT_EQ(kxOpenFile(1, b.c_str()), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(engine::GetPortInfo(1).keyFrames.empty()) << "port 1 waits for port 0's builder";
    const auto t0 = Clock::now();
    EXPECT_EQ(kxCloseFile(1), 1);
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(500));
    EXPECT_TRUE(engine::GetPortInfo(0).indexBuilderRunning);
}

TEST_F(OpenIndex, IndexLookupsByOffsetAndByFrame) {
    const std::string path = Write("a.h64", {.frames = 100, .gop = 25});
    const engine::PortInfo info = OpenIndexed(0, path);
    ASSERT_EQ(info.keyFrames.size(), 4u);
    const engine::KeyFrameIndex& index = engine::Port(0).keyFrameIndex;
    const auto& k = info.keyFrames;
    struct ByFrame { uint32_t frame; size_t entry; };
    for (const ByFrame& c : {ByFrame{0, 0}, ByFrame{1, 0}, ByFrame{25, 0}, ByFrame{26, 1}, ByFrame{75, 2}, ByFrame{99, 3},
                             ByFrame{5000, 3}})
        EXPECT_EQ(index.FindByFrame(c.frame)->frameIndex, k[c.entry].frameIndex) << "frame " << c.frame;
    struct ByOffset { uint64_t offset; size_t entry; };
    for (const ByOffset& c : {ByOffset{0, 0}, ByOffset{k[1].fileOffset - 1, 0}, ByOffset{k[1].fileOffset, 1},
                              ByOffset{k[3].fileOffset + 100000, 3}})
        EXPECT_EQ(index.FindByOffset(c.offset)->fileOffset, k[c.entry].fileOffset) << "offset " << c.offset;
    engine::KeyFrameIndex empty;
    EXPECT_FALSE(empty.FindByFrame(3).has_value());
    EXPECT_FALSE(empty.FindByOffset(3).has_value());
}

// Headers written at offsets beyond 3 GiB with their payloads left as holes: the file opens,
// indexes and totals as any other, and key frames past 4 GiB keep their offsets.
TEST_F(OpenIndex, SparseRecordingLargerThanThreeGiB) {
    const std::string path = scratch.File("sparse.h64");
    RecordingWriter w(path);
    const uint32_t bigPackets = 4500;  // about 4.2 GiB of hole payloads
    std::vector<uint64_t> keyOffsets;
    uint32_t frame = 0;
    for (; frame < bigPackets; ++frame) {
        VideoFrame f = frame % 100 == 0 ? Key(frame, 40 * frame, DateTimeAfter({2020, 1, 1, 0, 0, 0}, frame / 25))
                                        : Delta(frame, 40 * frame);
        f.data = {};
        f.holeBytes = 1000000;
        const uint64_t at = w.Video(f);
        if (f.key) keyOffsets.push_back(at);
    }
    for (; frame < bigPackets + 10; ++frame) w.Video(Delta(frame, 40 * frame));
    const uint64_t size = w.Offset();
    ASSERT_TRUE(w.Close());
    ASSERT_GT(size, uint64_t{3} << 30);

    const engine::PortInfo info = OpenIndexed(0, path);
    EXPECT_EQ(info.tail.estimatedFrames, bigPackets + 9);
    EXPECT_EQ(info.tail.estimatedDurationMs, 40 * (bigPackets + 9));
    ASSERT_TRUE(info.indexComplete);
    EXPECT_EQ(info.frames, bigPackets + 10);
    EXPECT_EQ(info.durationMs, 40 * (bigPackets + 9));
    EXPECT_EQ(info.totalBytes, size);
    ASSERT_EQ(info.keyFrames.size(), keyOffsets.size());
    for (size_t i = 0; i < keyOffsets.size(); ++i) EXPECT_EQ(info.keyFrames[i].fileOffset, keyOffsets[i]);
    EXPECT_GT(info.keyFrames.back().fileOffset, uint64_t{1} << 32);
    EXPECT_EQ(kxGetFileFrames(0), bigPackets + 10);
    EXPECT_EQ(kxGetFileTime(0), 40 * (bigPackets + 9));
}

TEST_F(OpenIndex, CloseAndReopen) {
    const std::string a = Write("a.h64", {.frames = 20});
    const std::string b = Write("b.h64", {.frames = 35, .resolution = 3});
    OpenIndexed(0, a);
    EXPECT_EQ(engine::TheEngine().openPortCount.load(), 1u);
    EXPECT_EQ(kxCloseFile(0), 1);
    EXPECT_EQ(kxCloseFile(0), 0);
    EXPECT_EQ(kxGetLastError(0), ERR_NOT_OPEN);
    EXPECT_EQ(engine::TheEngine().openPortCount.load(), 0u);
    const engine::PortInfo info = OpenIndexed(0, b);
    EXPECT_EQ(info.frames, 35u);
    EXPECT_EQ(info.width, 704u);
    EXPECT_EQ(info.height, 576u);
    const engine::PlayerPort& p = engine::Port(0);
    EXPECT_EQ(p.pictureCapacity, size_t{2} * 704 * 576);
    EXPECT_EQ(p.video.capacity, size_t{4} * 704 * 576);
    EXPECT_EQ(p.picture[0], 0x80);
    EXPECT_EQ(p.picture[p.pictureCapacity - 1], 0x80) << "a grey picture until the first decode";
}

TEST_F(OpenIndex, HalfHeightRecordingsAreMarked) {
    for (uint32_t row : {0u, 2u, 5u, 10u, 13u, 14u}) {
        const engine::PortInfo info = OpenIndexed(0, Write("r" + std::to_string(row), {.frames = 5, .resolution = row}));
        EXPECT_EQ(info.doubleHeight, engine::IsHalfHeight(row)) << row;
        EXPECT_EQ(info.width, engine::kResolutionTable[row].width);
        kxCloseFile(0);
    }
}

}  // namespace
}  // namespace kestrel::testing

// The read-ahead queues and the picture size switch, on recordings made for each case.
#include <cstring>

#include "engine/decoder_dispatch.h"
#include "engine/engine.h"
#include "tests/engine/engine_fixture.h"

namespace kestrel::testing {
namespace {

using engine::Port;

struct Queued {
    uint32_t type, frameNumber, length;
    friend bool operator==(const Queued&, const Queued&) = default;
};

// Pops every packet of a queue, checking that each lies whole inside the buffer.
std::vector<Queued> Drain(engine::PacketQueue& q) {
    std::vector<Queued> out;
    while (q.packets > 0) {
        EXPECT_LE(q.readPos + q.bytes, q.capacity);
        const engine::PacketHeader h = engine::PacketHeader::From(q.Head());
        EXPECT_TRUE(h.HasMagic());
        const size_t bytes = engine::kHeaderBytes + h.PayloadLength();
        EXPECT_LE(bytes, q.bytes);
        out.push_back({h.Type(), h.FrameNumber(), h.PayloadLength()});
        q.readPos += bytes;
        q.bytes -= bytes;
        q.packets -= 1;
    }
    return out;
}

class DecoderDispatch : public EngineTest {
protected:
    // Opens at 176 x 144 (a packet buffer of 101376 bytes) with reading started at the first key frame.
    void OpenSmall(const std::string& path) {
        ASSERT_EQ(kxOpenFile(0, path.c_str()), 1);
        ASSERT_TRUE(engine::WaitForIndex(0, 10000));
        Port(0).readAhead = true;
        ASSERT_EQ(Port(0).video.capacity, 101376u);
        ASSERT_EQ(Port(0).audio.capacity, 2u * 32416);
    }
    VideoFrame Frame(uint32_t n, uint32_t bytes, bool key = false) {
        VideoFrame f;
        f.resolution = 1;
        f.key = key;
        f.frameNumber = n;
        f.stamp = 40 * n;
        f.holeBytes = bytes;
        return f;
    }
};

// A payload larger than its whole queue is a damaged packet: passed over, reading goes on with
// the next one. A packet that only lacks room at the moment waits for the next refill.
TEST_F(DecoderDispatch, OversizedPayloadsAreSkippedAndLargeOnesWait) {
    const std::string path = scratch.File("oversized.h64");
    RecordingWriter w(path);
    w.Video(Frame(1, 60000, true));
    w.Video(Frame(2, 150000));            // larger than the packet buffer
    w.AudioBytes(40, 70000);              // larger than the audio buffer (2 x 32416)
    w.Video(Frame(3, 60000));             // fits the buffer, but not behind frame 1
    w.Video(Frame(4, 60000));
    w.Video(Frame(5, engine::kMaxPayloadBytes));
    w.AudioBytes(80, 168);
    w.Video(Frame(6, 10));
    ASSERT_TRUE(w.Close());
    OpenSmall(path);
    engine::PlayerPort& p = Port(0);

    const std::vector<std::vector<Queued>> refills = {
        {{1, 1, 60004}}, {{1, 3, 60000}}, {{1, 4, 60000}, {1, 6, 10}}};
    for (const auto& expected : refills) {
        ASSERT_TRUE(engine::RefillQueues(0));
        EXPECT_EQ(Drain(p.video), expected);
    }
    EXPECT_EQ(Drain(p.audio), (std::vector<Queued>{{2, 0, 168}}));
    EXPECT_EQ(p.audioPayloadLength.load(), 168u);
    EXPECT_FALSE(engine::RefillQueues(0)) << "the end of the file";
    EXPECT_FALSE(p.readAhead);
    EXPECT_EQ(p.playedTime.load(), p.durationMs.load());
    EXPECT_TRUE(engine::RefillQueues(0)) << "only draining from now on";
}

// Reading stops as soon as either queue holds two packets; other packet types are not stored.
TEST_F(DecoderDispatch, RefillStopsAtTwoOfEitherKind) {
    const std::string path = scratch.File("interleaved.h64");
    RecordingWriter w(path);
    w.Video(Frame(1, 100, true));
    w.Other(0, 20);
    w.AudioBytes(0, 168);
    w.Other(3, 0);
    w.AudioBytes(40, 168);
    w.Video(Frame(2, 100));
    w.Video(Frame(3, 100));
    ASSERT_TRUE(w.Close());
    OpenSmall(path);
    ASSERT_TRUE(engine::RefillQueues(0));
    EXPECT_EQ(Port(0).video.packets, 1u);
    EXPECT_EQ(Port(0).audio.packets, 2u);
    ASSERT_TRUE(engine::RefillQueues(0)) << "both queues hold a packet: nothing is read";
    EXPECT_EQ(Port(0).video.packets, 1u);
    Drain(Port(0).audio);
    ASSERT_TRUE(engine::RefillQueues(0));
    EXPECT_EQ(Drain(Port(0).video), (std::vector<Queued>{{1, 1, 104}, {1, 2, 100}}));
}

// A short payload at the end of the file is not counted and never decoded.
TEST_F(DecoderDispatch, TruncatedPayloadEndsTheReadAhead) {
    const std::string path = scratch.File("truncated.h64");
    RecordingWriter w(path);
    w.Video(Frame(1, 100, true));
    w.RawHeader(PacketHeaderBytes(1, 0, 1, 0, 5000, 2, 40), std::vector<uint8_t>(10, 0x11));
    ASSERT_TRUE(w.Close());
    // The tail scan needs a packet that ends in the file; this one's estimates come from frame 1.
    OpenSmall(path);
    EXPECT_FALSE(engine::RefillQueues(0));
    EXPECT_FALSE(Port(0).readAhead);
    EXPECT_EQ(Drain(Port(0).video), (std::vector<Queued>{{1, 1, 104}}));
}

// A picture size increase takes both new buffers before it changes anything: when either cannot
// be had, the port keeps its size, buffers and queued bytes.
TEST_F(DecoderDispatch, SwitchPictureSizeChangesNothingWhenMemoryIsShort) {
    const std::string path = scratch.File("grow.h64");
    RecordingWriter w(path);
    w.Video(Frame(1, 100, true));
    VideoFrame big = Frame(2, 100, true);
    big.resolution = 3;
    w.Video(big);
    ASSERT_TRUE(w.Close());
    for (engine::Allocation refused : {engine::Allocation::PacketBuffer, engine::Allocation::PictureBuffer}) {
        kxCloseFile(0);
        kxReleaseDirectDraw();
        bool refuse = false;
        hooks.failAllocation = [&](engine::Allocation what, size_t) { return refuse && what == refused; };
        ApplyPlatform();
        OpenSmall(path);
        engine::PlayerPort& p = Port(0);
        ASSERT_TRUE(engine::RefillQueues(0));
        const uint8_t* packets = p.video.buffer.get();
        const uint8_t* picture = p.picture.get();
        const size_t queued = p.video.bytes;
        refuse = true;
        const engine::PacketHeader bigHeader = engine::PacketHeader::From(p.video.Head() + engine::kHeaderBytes + 104);
        EXPECT_FALSE(engine::CheckPictureSize(0, bigHeader));
        EXPECT_EQ(p.width, 176u);
        EXPECT_EQ(p.height, 144u);
        EXPECT_EQ(p.video.buffer.get(), packets);
        EXPECT_EQ(p.picture.get(), picture);
        EXPECT_EQ(p.video.bytes, queued);
        EXPECT_NE(p.decoders[0], nullptr) << "the decoder stays";
        refuse = false;
        EXPECT_TRUE(engine::CheckPictureSize(0, bigHeader));
        EXPECT_EQ(p.width, 704u);
        EXPECT_EQ(p.video.bytes, queued) << "queued bytes move to the new buffer";
        EXPECT_EQ(Drain(p.video), (std::vector<Queued>{{1, 1, 104}, {1, 2, 104}}));
    }
}

TEST_F(DecoderDispatch, DecodeNeedsBuffersAndADecoder) {
    const std::string path = Write("a.h64", {.frames = 5, .resolution = 1});
    OpenSmall(path);
    const uint8_t payload[8] = {};
    Port(0).decoders[0].reset();
    EXPECT_EQ(engine::DecodeVideoPacket(0, payload, 8), 0u);
    kxCloseFile(0);
    EXPECT_EQ(engine::DecodeVideoPacket(0, payload, 8), 0u) << "after close: no buffers";
}

}  // namespace
}  // namespace kestrel::testing

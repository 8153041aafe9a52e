#include <gtest/gtest.h>

#include <vector>

#include "engine/h64_format.h"
#include "engine/time_diff.h"

namespace kestrel::engine {
namespace {

PacketHeader Header(std::vector<uint8_t> bytes) {
    bytes.resize(kHeaderBytes, 0);
    return PacketHeader::From(bytes.data());
}

TEST(PacketHeader, FieldsOfTheRecorderHeader) {
    struct Case {
        uint8_t b6, b7;
        uint32_t type, codec, resolution, kind, length;
        bool key;
    };
    const Case cases[] = {
        {0x15, 0x01, kPacketVideo, kCodecH264, 1, 1, 100, true},
        {0x15, 0x11, kPacketVideo, kCodecH264, 1, 1, 100 + 65536, true},
        {0x15, 0x02, kPacketVideo, kCodecH264, 1, 2, 100, false},  // frame kind 2 is not a key frame
        {0x02, 0xF1, kPacketAudio, 0, 0, 1, 100 + 0xF0000, false},  // audio is never a key frame
        {0xFF, 0x00, kPacketOther3, 3, 15, 0, 100, false},
        {0x38, 0x00, kPacketOther, 2, 3, 0, 100, false},
    };
    for (const Case& c : cases) {
        const PacketHeader h = Header({0x00, 0x00, 0x01, 0x89, 0x64, 0x00, c.b6, c.b7, 1, 2, 3, 4, 0x10, 0x20, 0x30, 0x40});
        SCOPED_TRACE(::testing::Message() << std::hex << int(c.b6) << " " << int(c.b7));
        EXPECT_TRUE(h.HasMagic());
        EXPECT_EQ(h.Type(), c.type);
        EXPECT_EQ(h.Codec(), c.codec);
        EXPECT_EQ(h.ResolutionIndex(), c.resolution);
        EXPECT_EQ(h.FrameKind(), c.kind);
        EXPECT_EQ(h.PayloadLength(), c.length);
        EXPECT_EQ(h.IsKeyFrame(), c.key);
        EXPECT_EQ(h.FrameNumber(), 0x04030201u);
        EXPECT_EQ(h.TimeStamp(), 0x40302010u);
    }
    EXPECT_EQ(Header({0, 0, 1, 0x89, 0xFF, 0xFF, 1, 0xF1}).PayloadLength(), kMaxPayloadBytes);
    EXPECT_EQ(Header({0, 0, 1, 0x89, 0, 0, 1, 0x01}).PayloadLength(), 0u);
    EXPECT_FALSE(Header({0x89, 0x01, 0x00, 0x00}).HasMagic()) << "the magic is the byte sequence, not a word";
}

TEST(PacketHeader, ResolutionTableAndHalfHeightRows) {
    EXPECT_EQ(kResolutionTable[1].width, 176u);
    EXPECT_EQ(kResolutionTable[1].height, 144u);
    EXPECT_EQ(kResolutionTable[11].width, 704u);
    EXPECT_EQ(kResolutionTable[11].height, 480u);
    std::vector<uint32_t> half;
    for (uint32_t i = 0; i < 16; ++i)
        if (IsHalfHeight(i)) half.push_back(i);
    EXPECT_EQ(half, (std::vector<uint32_t>{2, 5, 10, 13}));
}

TEST(FindMagic, SearchesOnlyWhereAllFourBytesLieInsideTheChunk) {
    for (size_t at = 1; at <= 16; ++at) {
        std::vector<uint8_t> chunk(20, 0x77);
        std::copy(std::begin(kPacketMagic), std::end(kPacketMagic), chunk.begin() + static_cast<long>(at));
        EXPECT_EQ(FindMagic(chunk), at);
        EXPECT_EQ(FindMagic(std::span(chunk).first(16)), at <= 12 ? at : 0u) << "16-byte chunk, magic at " << at;
    }
    std::vector<uint8_t> straddle(16, 0x77);
    straddle[14] = 0x00;
    straddle[15] = 0x00;
    EXPECT_EQ(FindMagic(straddle), 0u);
}

TEST(PackedDateTime, RecorderExampleAndNormalisingConversion) {
    const uint32_t packed = LoadLe32(std::vector<uint8_t>{0xCC, 0x84, 0xD6, 0x7A}.data());
    const DateTime t = UnpackDateTime(packed);
    EXPECT_EQ(t.year, 2012u);
    EXPECT_EQ(t.month, 3u);
    EXPECT_EQ(t.day, 1u);
    EXPECT_EQ(t.hour, 13u);
    EXPECT_EQ(t.minute, 45u);
    EXPECT_EQ(t.second, 30u);
    EXPECT_EQ(PackDateTime(t), packed);

    // Only differences are used: one day and 75 seconds later reads 86475 s later.
    const uint32_t later = PackDateTime({2012, 3, 2, 13, 46, 45});
    EXPECT_EQ(DateTimeToSeconds(later) - DateTimeToSeconds(packed), 86475);

    // Month 0, day 0 of 2000: the last day of November 1999, not a failure.
    const DateTime zero = NormaliseDateTime(0);
    EXPECT_EQ(zero.year, 1999u);
    EXPECT_EQ(zero.month, 11u);
    EXPECT_EQ(zero.day, 30u);
    EXPECT_NE(DateTimeToSeconds(0), -1);
    EXPECT_EQ(DateTimeToSeconds(PackDateTime({2000, 1, 1, 0, 0, 0})) - DateTimeToSeconds(0), 32 * 86400);
}

TEST(TimeDiff, ForwardAndBackwardStamps) {
    struct Case { uint32_t later, earlier, diff; };
    for (const Case& c : {Case{11000, 1000, 10000}, Case{5, 5, 0}, Case{1000, 1001, 0x80000000u},
                          Case{0, 0xFFFFFFFFu, 0x7FFFFFFFu + 0xFFFFFFFFu}, Case{0xFFFFFFFFu, 0, 0xFFFFFFFFu}})
        EXPECT_EQ(TimeDiff(c.later, c.earlier), c.diff) << c.later << " " << c.earlier;
}

}  // namespace
}  // namespace kestrel::engine

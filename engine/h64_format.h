// The ".H64" recording: a plain run of packets, each a 16-byte header (magic 00 00 01 89) and a
// payload of up to 2^20 - 1 bytes. All multi-byte fields are little-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace kestrel::engine {

inline constexpr uint8_t kPacketMagic[4] = {0x00, 0x00, 0x01, 0x89};
inline constexpr uint32_t kHeaderBytes = 16;
inline constexpr uint32_t kIndexReadBytes = 20;  // header and a key frame's date-time
inline constexpr uint32_t kMaxPayloadBytes = 0xFFFFF;
inline constexpr uint32_t kDateTimeBytes = 4;

enum PacketType : uint32_t { kPacketOther = 0, kPacketVideo = 1, kPacketAudio = 2, kPacketOther3 = 3 };
enum CodecType : uint32_t { kCodecMpeg4 = 0, kCodecH264 = 1, kCodecVdec3 = 2, kCodecUnsupported = 3 };

inline uint32_t LoadLe32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

inline bool StartsWithMagic(const uint8_t* p) { return std::memcmp(p, kPacketMagic, 4) == 0; }

// First position 1 .. size-4 of the magic inside a chunk that does not start with it; 0 if none.
// A magic that straddles the chunk's end is not found.
size_t FindMagic(std::span<const uint8_t> chunk);

// A view of the 16 header bytes.
struct PacketHeader {
    std::array<uint8_t, kHeaderBytes> bytes{};

    static PacketHeader From(const uint8_t* p) {
        PacketHeader h;
        std::memcpy(h.bytes.data(), p, kHeaderBytes);
        return h;
    }
    bool HasMagic() const { return StartsWithMagic(bytes.data()); }
    uint32_t PayloadLength() const {
        return uint32_t{bytes[4]} | uint32_t{bytes[5]} << 8 | uint32_t(bytes[7] >> 4) << 16;
    }
    uint32_t Type() const { return bytes[6] & 3u; }
    uint32_t Codec() const { return bytes[6] >> 2 & 3u; }
    uint32_t ResolutionIndex() const { return bytes[6] >> 4; }
    uint32_t FrameKind() const { return bytes[7] & 15u; }
    bool IsVideo() const { return Type() == kPacketVideo; }
    bool IsAudio() const { return Type() == kPacketAudio; }
    bool IsKeyFrame() const { return IsVideo() && FrameKind() == 1; }
    uint32_t FrameNumber() const { return LoadLe32(&bytes[8]); }
    uint32_t TimeStamp() const { return LoadLe32(&bytes[12]); }
};

struct Resolution {
    uint32_t width, height, sizeClass;
};

// Picture size by resolution index: rows 0-7 the 625-line sizes, 8-15 the 525-line sizes.
inline constexpr std::array<Resolution, 16> kResolutionTable = {{
    {352, 288, 0}, {176, 144, 1}, {704, 288, 2}, {704, 576, 3},
    {320, 240, 4}, {640, 288, 5}, {640, 576, 6}, {320, 288, 7},
    {352, 240, 0}, {176, 120, 1}, {704, 240, 2}, {704, 480, 3},
    {320, 200, 4}, {640, 240, 5}, {640, 480, 6}, {320, 240, 7},
}};

// Size classes 2 and 5 carry half-height fields; snapshots double them.
constexpr bool IsHalfHeight(uint32_t resolutionIndex) {
    const uint32_t c = kResolutionTable[resolutionIndex & 15].sizeClass;
    return c == 2 || c == 5;
}

// The wall-clock date and time a key frame carries in its first four payload bytes.
struct DateTime {
    uint32_t year, month, day, hour, minute, second;  // as stored: year 2000 + 0..63, others unchecked
};

constexpr DateTime UnpackDateTime(uint32_t packed) {
    return DateTime{2000 + (packed & 63), packed >> 6 & 15, packed >> 10 & 31,
                    packed >> 15 & 31,    packed >> 20 & 63, packed >> 26 & 63};
}

constexpr uint32_t PackDateTime(const DateTime& t) {
    return ((t.year - 2000) & 63) | (t.month & 15) << 6 | (t.day & 31) << 10 | (t.hour & 31) << 15 |
           (t.minute & 63) << 20 | (t.second & 63) << 26;
}

// Seconds since the epoch, reading the fields as local calendar time with the daylight-saving
// flag set, so that out-of-range fields normalise (month 0 day 0 of 2000 is 30 November 1999)
// and the difference of two values is their wall-clock distance.
int64_t DateTimeToSeconds(uint32_t packed);

// The same fields normalised to a valid calendar date and time.
DateTime NormaliseDateTime(uint32_t packed);

}  // namespace kestrel::engine

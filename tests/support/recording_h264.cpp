#include "tests/support/recording_h264.h"

#include <cmath>

#include "audio/adpcm_codec.h"

namespace kestrel::testing {

std::vector<H264AccessUnit> SplitH264AccessUnits(std::span<const uint8_t> stream) {
    std::vector<H264AccessUnit> units;
    size_t begin = 0;
    bool unitHasSlice = false, idr = false;
    auto close = [&](size_t end) {
        if (end > begin) units.push_back({stream.subspan(begin, end - begin), idr});
        begin = end;
        unitHasSlice = idr = false;
    };
    for (size_t i = 0; i + 3 < stream.size(); ++i) {
        if (stream[i] != 0 || stream[i + 1] != 0 || stream[i + 2] != 1) continue;
        const uint8_t type = stream[i + 3] & 0x1F;
        const bool slice = type == 1 || type == 5;
        // first_mb_in_slice 0 is the ue(v) code "1": the top bit of the byte after the header
        const bool firstSlice = slice && i + 4 < stream.size() && (stream[i + 4] & 0x80);
        if (unitHasSlice && (firstSlice || type == 7 || type == 8 || type == 9)) {
            // a zero_byte before the start code belongs to the unit that follows
            close(i > begin && stream[i - 1] == 0 ? i - 1 : i);
        }
        unitHasSlice = unitHasSlice || slice;
        idr = idr || type == 5;
        i += 3;
    }
    close(stream.size());
    return units;
}

uint32_t H264PacketDateTime(uint32_t stamp) { return DateTimeAfter({2023, 11, 20, 8, 15, 0}, stamp / 1000); }

size_t AppendH264AccessUnits(RecordingWriter& w, std::span<const uint8_t> stream, const H264Packets& how,
                             uint32_t& frameNumber, uint32_t& stamp) {
    AdpcmCodec* codec = nullptr;
    if (how.audio && adpcm_create(3, &codec) != 0) return 0;
    constexpr size_t kSamples = 320;  // 40 ms at 8000 Hz
    int16_t pcm[kSamples];
    uint8_t block[8 + kSamples / 2];
    size_t written = 0;
    for (const H264AccessUnit& unit : SplitH264AccessUnits(stream)) {
        VideoFrame f;
        f.codec = engine::kCodecH264;
        f.resolution = how.resolution;
        f.key = unit.idr;
        f.frameNumber = frameNumber++;
        f.stamp = stamp;
        f.dateTime = H264PacketDateTime(stamp);
        f.data = unit.bytes;
        w.Video(f);
        ++written;
        if (codec) {
            for (size_t s = 0; s < kSamples; ++s)
                pcm[s] = static_cast<int16_t>(std::lround(4000.0 * std::sin(2 * M_PI * 440.0 * double(stamp * 8 + s) / 8000.0)));
            const int32_t n = adpcm_encode(codec, pcm, kSamples, block, sizeof block);
            w.Audio(stamp, std::span<const uint8_t>(block, static_cast<size_t>(n)));
        }
        stamp += 40;
    }
    if (codec) adpcm_release(codec);
    return written;
}

}  // namespace kestrel::testing

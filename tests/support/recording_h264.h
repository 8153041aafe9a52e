// H.264 byte streams cut into access units and written as recordings, the way the recorders
// store them: one access unit per video packet, key frames (those holding an IDR slice) with
// their date-time in front, an ADPCM audio block after every picture.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "tests/support/recording_writer.h"

namespace kestrel::testing {

struct H264AccessUnit {
    std::span<const uint8_t> bytes;  // from its first start code up to the next unit's
    bool idr = false;
};

// A unit begins at a parameter set or delimiter that follows a slice, or at a slice with
// first_mb_in_slice 0 that follows a slice; whatever precedes the first slice joins the first unit.
std::vector<H264AccessUnit> SplitH264AccessUnits(std::span<const uint8_t> stream);

// The date-time written before a key frame packet stamped `stamp` (ms): 2023-11-20 08:15:00 plus
// the stamp's whole seconds.
uint32_t H264PacketDateTime(uint32_t stamp);

struct H264Packets {
    uint32_t resolution = 3;  // row of the resolution table
    bool audio = true;        // an ADPCM block of 40 ms of a tone after each picture
};
// Returns the number of video packets written; frame numbers and 40 ms stamps continue from the
// counters.
size_t AppendH264AccessUnits(RecordingWriter& w, std::span<const uint8_t> stream, const H264Packets& how,
                             uint32_t& frameNumber, uint32_t& stamp);

}  // namespace kestrel::testing

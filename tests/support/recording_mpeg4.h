// MPEG-4 Part 2 elementary streams cut into pictures and written as recordings.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tests/support/recording_writer.h"

namespace kestrel::testing {

struct Mpeg4Picture {
    std::span<const uint8_t> bytes;  // the headers before the VOP (VOS, VOL, GOV, user data) and the VOP
    bool intra = false;
};

// One entry per VOP (start code 00 00 01 B6); whatever precedes a VOP joins it.
std::vector<Mpeg4Picture> SplitMpeg4Pictures(std::span<const uint8_t> stream);

std::vector<uint8_t> ReadFileBytes(const std::string& path);

// Appends the stream's pictures as video packets: an I-VOP becomes a key frame with its
// date-time in front; frame numbers and 40 ms stamps continue from the counters; an audio block
// follows each picture when audio is set.
struct Mpeg4Packets {
    uint32_t resolution = 0;
    uint32_t codecBits = 0;   // written into every packet but the first of the file
    bool audio = true;
};
void AppendMpeg4Pictures(RecordingWriter& w, std::span<const uint8_t> stream, const Mpeg4Packets& how,
                         uint32_t& frameNumber, uint32_t& stamp);

}  // namespace kestrel::testing

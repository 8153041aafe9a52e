// Picture size of a byte stream, from its sequence parameter sets, for callers that must create
// an instance without knowing the stream (tools, tests).
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrel::h264 {

struct StreamSize {
    uint32_t width_mbs = 0;   // largest over the stream's SPSs
    uint32_t height_mbs = 0;  // frame height in macroblocks
};

// False when no SPS of the decodable kind is found.
bool ProbeStreamSize(const uint8_t* data, size_t size, StreamSize* out);

}  // namespace kestrel::h264

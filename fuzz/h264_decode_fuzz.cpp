// The H.264 decoder on arbitrary bytes. The first byte chooses the set-up (see DecodeAll), the
// second the instance's size; the rest is the byte stream. Seed it with the conformance streams.
#include "fuzz/h264_fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t control = data[0], shape = data[1];
    // Up to 720x576: larger instances only make the fuzzer slower.
    const H264DecAttributes attr{0, 0, 2 + shape % 44u, 6 + (shape >> 2) % 31u, 1 + (shape & 15u),
                                 (control & 1u) | ((control & 2u) << 3)};
    kestrel::fuzz::DecodeAll(data + 2, size - 2, attr, control);
    return 0;
}

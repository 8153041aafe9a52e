// The H.264 slice layer on arbitrary bytes: valid parameter sets of a small picture come first
// (frames or field pictures, plain or weighted prediction, constrained intra, each picture-order
// type), so that every input reaches the slice headers and the macroblock layer. The first byte
// chooses the parameter sets and the set-up; the rest follows them as the byte stream.
#include "fuzz/h264_fuzz_common.h"
#include "tests/support/h264writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kestrel::test;
    if (size < 1) return 0;
    const uint8_t control = data[0];
    SpsParams sps;
    sps.width_mbs = 5;
    sps.height_map_units = (control & 1) ? 2 : 4;
    sps.frame_mbs_only = !(control & 1);
    sps.poc_type = (control >> 1) % 3;
    sps.num_ref_frames = 3;
    sps.offset_for_ref_frame = {2};
    PpsParams pps;
    pps.weighted_pred = control & 8;
    pps.constrained_intra_pred = control & 16;
    pps.num_ref_idx_l0_default = 2;
    std::vector<uint8_t> stream = SpsNal(sps);
    Append(stream, PpsNal(pps));
    stream.insert(stream.end(), data + 1, data + size);
    const H264DecAttributes attr{0, 0, 5, 4, 4, (control >> 5) & 1u};
    kestrel::fuzz::DecodeAll(stream.data(), stream.size(), attr, static_cast<uint8_t>(control & 0xC0));
    return 0;
}

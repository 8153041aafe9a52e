// Test helpers: I_PCM picture streams with flat content (each picture's luma is its "tag", so a
// returned picture tells which coded picture it is), and a decode loop that collects what the
// decoder returns together with the status of every NAL unit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "h264/h264dec.h"
#include "h264/h264dec_debug.h"
#include "tests/support/h264writer.h"

namespace kestrel::test {

struct Returned {
    uint8_t top = 0;     // luma of row 0 (the top field's tag)
    uint8_t bottom = 0;  // luma of row 1 (the bottom field's tag for a field pair)
    uint8_t cb = 0;
    uint32_t width = 0, height = 0;
    uint32_t crop[4] = {};
    int32_t poc = 0;
    uint32_t damaged = 0, idr = 0, parity_marker = 0, buffer_index = 0;
    uint64_t timestamp = 0;
    // The private data block as it stood when the picture was returned (the pointer itself is
    // only valid while the instance lives).
    bool has_private_data = false;
    uint32_t private_marker = 0;
    std::vector<uint8_t> private_bytes;
    std::string md5;
};

struct Decoded {
    std::vector<Returned> pictures;
    std::vector<uint32_t> statuses;  // of every NAL unit, in order
    bool Has(uint32_t status) const;
};

inline H264DecAttributes Attributes(uint32_t w_mbs, uint32_t h_mbs, uint32_t n = 16, uint32_t mode = 0) {
    return H264DecAttributes{0, 0, w_mbs, h_mbs, n, mode};
}

// Feeds the stream in pieces of `piece` bytes (continuing after each returned picture), then
// flushes.
Decoded DecodeAll(const std::vector<uint8_t>& stream, const H264DecAttributes& attr, size_t piece = 1 << 30);

// Describes one returned picture from the frame record.
Returned Describe(const H264DecFrame& f);

// An I_PCM stream under construction.
struct PcmStream {
    SpsParams sps;
    PpsParams pps;
    std::vector<uint8_t> bytes;

    void Headers();
    // One picture (frame or field) in `slices` slices, every macroblock flat: luma tag, Cb tag+1.
    void Picture(SliceParams s, uint8_t tag, uint32_t slices = 1);
    uint32_t mbs(const SliceParams& s) const;
    // I frame helpers: reference IDR / non-IDR frames with POC lsb 2 * frame index.
    void Idr(uint8_t tag, uint32_t idr_pic_id = 0);
    void Frame(uint8_t tag, uint32_t frame_num, uint32_t poc_lsb, bool reference = true);
};

}  // namespace kestrel::test

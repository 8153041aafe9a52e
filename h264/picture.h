// Picture memory: the buffers of the pool, their frame and field views, and the frame stores
// of the decoded picture buffer.
#pragma once

#include <cstdint>

#include "h264/h264dec.h"
#include "h264/slice_header.h"

namespace kestrel::h264 {

struct PictureBuffer;

// A view of a buffer as the frame or one of its fields: what prediction and list building use.
struct Picture {
    PictureBuffer* buffer = nullptr;
    PictureStructure structure = kFrame;
    uint8_t* plane[3] = {};  // Y, Cb, Cr; a bottom field starts one row down
    uint32_t stride[2] = {};  // luma, chroma; doubled for fields
    int32_t poc = 0;
    int32_t pic_num = 0;            // set while building a reference list
    int32_t long_term_pic_num = 0;
    uint16_t id = 0;  // distinct for every view of every buffer (deblocking compares pictures)
};

enum OutputState : uint8_t {
    kOutputPending = 0,  // being decoded, or decoded and not yet output
    kOutputDone = 1,     // free to reuse once not referenced: returned, or never to be output
    kOutputQueued = 2,   // waiting in the output queue
};

// One buffer of the pool, with the values the caller is told when it is returned.
struct PictureBuffer {
    uint32_t index = 0;
    uint8_t* base = nullptr;  // Y, then Cb, then Cr, for the largest picture of the instance
    uint8_t* planes[3] = {};
    Picture frame, top, bottom;

    bool held = false;  // by a frame store, or as the picture being decoded
    OutputState output_state = kOutputDone;
    bool non_existing = false;

    // reported in H264DecFrame
    uint64_t timestamp = 0;
    uint32_t width = 0;
    uint32_t height = 0;  // of the whole frame, also when it was coded as fields
    uint32_t crop[4] = {};  // left, right, top, bottom
    uint32_t parity_marker = 0;
    bool damaged = false;
    bool idr = false;
    int32_t poc = 0;
    const H264PrivateData* private_data = nullptr;
    uint8_t interlace_kind = 0;  // 0 progressive stream, 1 frame of an interlaced stream, 2 fields

    Picture& view(PictureStructure s) { return s == kFrame ? frame : s == kTopField ? top : bottom; }
};

// A frame, a field pair or a lone field in the decoded picture buffer.
struct FrameStore {
    PictureBuffer* buffer = nullptr;
    uint8_t is_used = 0;       // 1 top, 2 bottom, 3 both (a frame)
    uint8_t is_reference = 0;  // fields used for reference, same coding
    uint8_t is_long_term = 0;  // fields used for long-term reference
    uint8_t orig_reference = 0;  // fields that were reference pictures when decoded
    bool coded_as_frame = false;
    bool non_existing = false;
    uint32_t frame_num = 0;
    int32_t frame_num_wrap = 0;
    int32_t long_term_frame_idx = 0;
    int32_t poc = 0;  // of the frame, or of the lone field

    bool output_pending() const { return buffer->output_state == kOutputPending; }
    uint8_t short_term_bits() const { return static_cast<uint8_t>(is_reference & ~is_long_term); }
};

inline constexpr int kDpbFrameStores = 16;

}  // namespace kestrel::h264

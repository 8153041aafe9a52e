// H.264 decoder: byte stream in, YUV 4:2:0 pictures out.
//
// Subset: CAVLC, I and P slices, several slices per picture, frames and field pictures,
// explicit weighted prediction, up to 16 reference frames, long-term references and memory
// management operations. NAL units outside that subset are dropped one by one.
//
// An instance takes all its memory in h264dec_create, starts no threads and takes no locks;
// calls on one instance must not overlap, different instances are independent.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Creation record. Out-of-range sizes and buffer counts are replaced by defaults.
typedef struct H264DecAttributes {
    uint32_t picture_format;     // not interpreted; pass 0
    uint32_t stream_input_type;  // not interpreted; pass 0
    uint32_t max_width_mbs;      // 2..128, otherwise 45 (720 pixels)
    uint32_t max_height_mbs;     // 6..128, otherwise 36 (576 pixels)
    uint32_t buffer_count;       // N: 0 becomes 4, above 16 becomes 16; bounds num_ref_frames
    uint32_t work_mode;          // H264DEC_MODE_* bits
} H264DecAttributes;

enum {
    H264DEC_MODE_OUTPUT_ORDER = 0x01,  // hold pictures and return them in picture order count order
    H264DEC_MODE_DEINTERLACE = 0x10,   // rebuild interlaced pictures as progressive frames
};

// The last private SEI message of type 240 (a block inside the instance; never cleared).
typedef struct H264PrivateData {
    uint32_t marker;  // 240 once a message has been stored, 0 before
    uint32_t length;  // 1..255
    const uint8_t* data;
    uint32_t reserved;
    uint8_t bytes[255];
} H264PrivateData;

// Filled by h264dec_decode when it returns a picture. The plane pointers stay valid until the
// next h264dec_decode or h264dec_destroy on the same instance.
typedef struct H264DecFrame {
    uint8_t* y;  // null unless a picture is returned
    uint8_t* u;  // Cb
    uint8_t* v;  // Cr
    uint32_t width;      // luma width in pixels
    uint32_t height;     // luma height of the whole frame (a field pair counts both fields)
    uint32_t y_stride;
    uint32_t uv_stride;
    uint32_t crop_left;  // in luma pixels
    uint32_t crop_right;
    uint32_t crop_top;
    uint32_t crop_bottom;
    uint32_t buffer_index;   // which picture buffer of the pool holds the picture
    uint32_t parity_marker;  // 0, or 1 + (frame_num mod 2) while the stream's marker flag is set
    uint32_t damaged;        // 1 when the slices did not cover every macroblock
    uint32_t idr;
    uint32_t reserved0;
    uint32_t timestamp_lo;   // time stamp passed with the call in which the picture started
    uint32_t timestamp_hi;
    int32_t poc;             // PicOrderCnt of the frame
    uint32_t reserved1;
    const H264PrivateData* private_data;  // null until a private SEI message arrived
} H264DecFrame;

typedef struct H264Dec H264Dec;

enum {
    H264DEC_PICTURE = 0,         // a picture is returned in the frame record
    H264DEC_NEED_INPUT = -1,     // all input consumed, no picture ready
    H264DEC_END_OF_STREAM = -2,  // flush complete, no picture left
    H264DEC_BAD_ARGUMENT = -3,   // null instance or frame record; nothing done
};

enum {
    H264DEC_FLAG_FLUSH = 0x01,
    // The new input ends an access unit (a container that stores one picture, or one field, per
    // packet): once it is used up, its last NAL unit is complete and its picture is finished,
    // so the picture comes out with its own input instead of with the next one; bytes before
    // the next start code are then ignored. Calls with this flag and no new input also return
    // pictures still queued before asking for more. Without it, a picture is finished when the
    // next one begins.
    H264DEC_FLAG_END_OF_UNIT = 0x02,
};

// Null when attributes is null or memory runs out.
H264Dec* h264dec_create(const H264DecAttributes* attributes);

// Feeds the next piece of the byte stream (any cut is allowed). Null data or length 0 brings
// no new input: the call then continues with bytes left pending after a returned picture.
// New input replaces pending input. With no new input and H264DEC_FLAG_FLUSH, the last NAL
// unit is completed and every remaining picture is returned, one per call, then -2.
int32_t h264dec_decode(H264Dec* decoder, const uint8_t* data, uint32_t length,
                       uint32_t timestamp_lo, uint32_t timestamp_hi, H264DecFrame* frame,
                       uint32_t flags);

void h264dec_destroy(H264Dec* decoder);

#ifdef __cplusplus
}
#endif

// Diagnostics of the H.264 decoder: the internal status of every NAL unit, for tests and for a
// debug log. Nothing here changes what the decoder does.
#pragma once

#include <stdint.h>

#include "h264/h264dec.h"

#ifdef __cplusplus
extern "C" {
#endif

// Results of processing one NAL unit. Positive values below 16 are successes; failures are
// layered: 0x1... dispatch, 0x2... parameter sets, 0x3... slice header, 0x4... slice data.
enum {
    H264_STATUS_END_OF_STREAM_UNIT = 1,
    H264_STATUS_NEW_PICTURE = 2,  // also: SEI unit
    H264_STATUS_SAME_PICTURE = 3,
    H264_STATUS_SPS_STORED = 7,
    H264_STATUS_PPS_STORED = 8,
    H264_STATUS_IGNORED = 9,

    H264_STATUS_UNSUPPORTED_NAL = 0x10000001,
    H264_STATUS_SLICE_NOT_DECODABLE = 0x10000004,  // no parameter sets yet, or waiting for intra

    H264_STATUS_SPS_BAD_ID = 0x20000001,
    H264_STATUS_SPS_BAD_FRAME_NUM_BITS = 0x20000002,
    H264_STATUS_SPS_TOO_MANY_REF_FRAMES = 0x20000003,
    H264_STATUS_SPS_BAD_POC_TYPE = 0x20000004,
    H264_STATUS_SPS_BAD_POC_CYCLE = 0x20000005,
    H264_STATUS_SPS_BAD_CROP = 0x20000006,
    H264_STATUS_SPS_BAD_POC_LSB_BITS = 0x20000007,
    H264_STATUS_SPS_SYNTAX = 0x20000008,           // malformed Exp-Golomb code
    H264_STATUS_SPS_UNSUPPORTED_FORMAT = 0x20000009,  // not 8-bit 4:2:0, or scaling matrices
    H264_STATUS_SPS_REF_FRAMES_ABOVE_N = 0x2000000a,
    H264_STATUS_SPS_MBAFF = 0x2000000b,
    H264_STATUS_SPS_BAD_SIZE = 0x2000000c,
    H264_STATUS_PPS_BAD_ID = 0x20000011,
    H264_STATUS_BAD_SPS_REFERENCE = 0x20000012,
    H264_STATUS_PPS_BAD_QP = 0x20000013,
    H264_STATUS_PPS_BAD_QS = 0x20000014,
    H264_STATUS_PPS_BAD_CHROMA_QP_OFFSET = 0x20000015,
    H264_STATUS_PPS_BAD_L0_SIZE = 0x20000016,
    H264_STATUS_PPS_BAD_L1_SIZE = 0x20000017,
    H264_STATUS_PPS_SYNTAX = 0x20000018,
    H264_STATUS_PPS_SLICE_GROUPS = 0x2000001a,
    H264_STATUS_PPS_CABAC = 0x2000001b,
    H264_STATUS_PPS_WEIGHTED_BIPRED = 0x2000001c,  // no longer raised: the field only concerns B slices
    H264_STATUS_PPS_UNSUPPORTED_TOOLS = 0x2000001d,  // 8x8 transform or scaling matrices

    H264_STATUS_SLICE_BAD_TYPE = 0x30000001,
    H264_STATUS_SLICE_BAD_PPS = 0x30000002,
    H264_STATUS_SLICE_IDR_FRAME_NUM = 0x30000003,
    H264_STATUS_SLICE_NO_REF_LIST = 0x30000005,
    H264_STATUS_SLICE_NO_PICTURE = 0x30000006,
    H264_STATUS_SLICE_BAD_L0_SIZE = 0x30000007,
    H264_STATUS_SLICE_BAD_L1_SIZE = 0x30000008,
    H264_STATUS_SLICE_BAD_WEIGHTS = 0x30000009,  // denominator above 7, weight or offset out of range
    H264_STATUS_SLICE_SYNTAX = 0x3000000a,       // malformed code or a command out of range
    H264_STATUS_SLICE_B = 0x3000001a,
    H264_STATUS_SLICE_REDUNDANT = 0x3000001b,
    H264_STATUS_SLICE_SP_SI = 0x3000001c,

    H264_STATUS_SLICE_DATA = 0x40000000,  // + the slice data error
};

// One entry of the debug log: which NAL unit, and what became of it.
typedef struct H264DecNalEvent {
    uint64_t index;          // running number of the NAL unit within the instance
    uint32_t nal_unit_type;
    uint32_t nal_ref_idc;
    uint32_t size;           // bytes after emulation-prevention removal
    uint32_t status;
    uint32_t decoder_state;  // DecoderState after the unit
} H264DecNalEvent;

typedef void (*H264DecLogFn)(void* context, const H264DecNalEvent* event);

// Installs (or, with a null function, removes) a per-NAL-unit log hook.
void h264dec_set_log(H264Dec* decoder, H264DecLogFn fn, void* context);

// Status of the last NAL unit processed (0 before the first).
uint32_t h264dec_last_status(const H264Dec* decoder);

// Writes one line per event to stderr; a ready-made hook for tools.
void h264dec_log_to_stderr(void* context, const H264DecNalEvent* event);

#ifdef __cplusplus
}
#endif

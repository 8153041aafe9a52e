// The decoder instance: everything one H264Dec owns, taken at creation.
#pragma once

#include <cstdint>

#include "h264/bit_reader.h"
#include "h264/dsp/kernel_table.h"
#include "h264/h264dec.h"
#include "h264/h264dec_debug.h"
#include "h264/macroblock.h"
#include "h264/output_queue.h"
#include "h264/parameter_sets.h"
#include "h264/picture.h"
#include "h264/picture_order_count.h"
#include "h264/picture_store.h"
#include "h264/slice_header.h"
#include "h264/start_code_scanner.h"

namespace kestrel::h264 {

enum DecoderState : uint32_t {
    kNoParameterSets = 0,
    kHaveSps = 1,
    kHavePps = 2,  // also: waiting for an IDR or I slice after a failure
    kDecoding = 3,
};

// Values of the previous slice for new-picture detection (7.4.1.2.4).
struct PreviousSlice {
    uint32_t pps_id = kMaxPps;  // matches nothing before the first slice
    uint32_t frame_num = 0;
    bool field_pic = false;
    bool bottom_field = false;
    uint32_t nal_ref_idc = 0;
    uint32_t nal_unit_type = 0;
    uint32_t idr_pic_id = 0;
    uint32_t poc_lsb = 0;
    int32_t delta_poc_bottom = 0;
    int32_t delta_poc[2] = {0, 0};
};

// A block of memory aligned for vector loads, zero-filled; released with the instance.
struct AlignedBlock {
    void* raw = nullptr;
    uint8_t* data = nullptr;
    size_t size = 0;
    bool Allocate(size_t bytes);
    void Release();
};

struct Decoder {
    // configuration, after the corrections of h264dec_create
    uint32_t max_width_mbs = 0;
    uint32_t max_height_mbs = 0;
    uint32_t buffer_count = 0;  // N
    uint32_t work_mode = 0;

    // input
    const uint8_t* input = nullptr;
    uint32_t input_size = 0;
    uint32_t input_pos = 0;
    bool end_of_stream = false;
    bool end_of_unit_pending = false;  // the pending input ends an access unit
    uint64_t timestamp = 0;
    StartCodeScanner scanner;
    AlignedBlock nal_block;

    // parameter sets and stream state
    Sps sps[kMaxSps];
    Pps pps[kMaxPps];
    Sps active_sps;
    Pps active_pps;
    uint32_t state = kNoParameterSets;
    SliceHeader slice;
    PreviousSlice prev;
    PocState poc;
    uint32_t prev_ref_frame_num = 0;
    bool parity_marker_flag = false;
    H264PrivateData private_data{};
    bool have_private_data = false;

    // the picture being decoded
    RefPicMarking cur_marking;
    uint32_t cur_decoded_mbs = 0;
    uint32_t cur_expected_mbs = 0;
    Picture* ref_list[kMaxRefListEntries] = {};
    uint32_t ref_list_size = 0;

    // pictures
    AlignedBlock pool_block;
    PictureBuffer* buffers = nullptr;  // 2N + 4
    uint32_t buffer_total = 0;
    PictureStore store;
    OutputQueue queue;

    dsp::KernelTable kernels{};

    // macroblock layer: context rows, saved edges and the work area
    AlignedBlock mb_block;
    MbLayer mb;

    // deinterlaced output
    AlignedBlock deint_out_block;   // one picture buffer
    AlignedBlock deint_hist_block;  // previous luma, then motion history

    // diagnostics
    H264DecLogFn log_fn = nullptr;
    void* log_context = nullptr;
    uint64_t nal_index = 0;
    uint32_t last_status = 0;

    // one picture buffer in bytes
    size_t picture_bytes() const { return size_t{max_width_mbs} * max_height_mbs * 384; }

    // NAL unit layer
    uint32_t ProcessNalUnit(const uint8_t* nal, uint32_t size);
    uint32_t ProcessSps(BitReader& br);
    uint32_t ProcessPps(BitReader& br);
    uint32_t ProcessSei(const uint8_t* nal, uint32_t size);
    uint32_t ProcessSlice(BitReader& br, uint32_t nal_unit_type, uint32_t nal_ref_idc);

    // pictures
    bool IsNewPicture(const SliceHeader& h) const;
    uint32_t StartPicture(const SliceHeader& h);
    void FinishPicture(bool check_damaged);
    void FillFrameNumGap(const SliceHeader& h);
    uint32_t DecodeSliceData(BitReader& br);

    // output
    bool TakeOutput(H264DecFrame* frame);
    void Deinterlace(PictureBuffer* src, H264DecFrame* frame);
};

}  // namespace kestrel::h264

struct H264Dec final : kestrel::h264::Decoder {};

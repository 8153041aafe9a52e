// h264dec_create, h264dec_decode, h264dec_destroy.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "h264/decoder.h"
#include "h264/dsp/cpu.h"

namespace kestrel::h264 {

bool AlignedBlock::Allocate(size_t bytes) {
    constexpr size_t kAlign = 64;
    // calloc hands out large blocks as fresh zero pages without touching them.
    raw = std::calloc(1, bytes + kAlign);
    if (!raw) return false;
    uintptr_t p = (reinterpret_cast<uintptr_t>(raw) + kAlign - 1) & ~uintptr_t{kAlign - 1};
    data = reinterpret_cast<uint8_t*>(p);
    size = bytes;
    return true;
}

void AlignedBlock::Release() {
    std::free(raw);
    raw = nullptr;
    data = nullptr;
    size = 0;
}

namespace {

void ReleaseAll(H264Dec* d) {
    d->nal_block.Release();
    d->mb_block.Release();
    d->pool_block.Release();
    d->deint_out_block.Release();
    d->deint_hist_block.Release();
    delete[] d->buffers;
    d->~H264Dec();
    std::free(d);
}

H264Dec* Create(const H264DecAttributes& a) {
    void* mem = std::aligned_alloc(64, (sizeof(H264Dec) + 63) & ~size_t{63});
    if (!mem) return nullptr;
    H264Dec* d = new (mem) H264Dec();
    d->max_width_mbs = (a.max_width_mbs < 2 || a.max_width_mbs > 128) ? 45 : a.max_width_mbs;
    d->max_height_mbs = (a.max_height_mbs < 6 || a.max_height_mbs > 128) ? 36 : a.max_height_mbs;
    d->buffer_count = a.buffer_count == 0 ? 4 : a.buffer_count > 16 ? 16 : a.buffer_count;
    d->work_mode = a.work_mode;

    const size_t picture = d->picture_bytes();
    const size_t nal_capacity = picture + 4096;
    d->buffer_total = 2 * d->buffer_count + 4;
    // Macroblock layer: two context rows with a spare entry at each end, the unfiltered bottom
    // rows of two macroblock rows (each line with 16 spare bytes on either side), the work area.
    const size_t row_entries = d->max_width_mbs + 2;
    const size_t line_y = 16 * size_t{d->max_width_mbs} + 32, line_c = 8 * size_t{d->max_width_mbs} + 32;
    const size_t rows_bytes = (2 * row_entries * sizeof(MbInfo) + 63) & ~size_t{63};
    const size_t lines_bytes = (2 * (line_y + 2 * line_c) + 63) & ~size_t{63};
    bool ok = d->nal_block.Allocate(nal_capacity + kBitReaderPadding) &&
              d->pool_block.Allocate(picture * d->buffer_total) &&
              d->mb_block.Allocate(rows_bytes + lines_bytes + sizeof(WorkArea));
    if (ok && (d->work_mode & H264DEC_MODE_DEINTERLACE))
        ok = d->deint_out_block.Allocate(picture) && d->deint_hist_block.Allocate(picture);
    if (ok) {
        d->buffers = new (std::nothrow) PictureBuffer[d->buffer_total];
        ok = d->buffers != nullptr;
    }
    if (!ok) {
        ReleaseAll(d);
        return nullptr;
    }
    dsp::SelectKernels(d->kernels);

    MbLayer& m = d->mb;
    uint8_t* p = d->mb_block.data;
    MbInfo* rows = reinterpret_cast<MbInfo*>(p);
    m.rows[0] = rows + 1;
    m.rows[1] = rows + row_entries + 1;
    p += rows_bytes;
    for (int r = 0; r < 2; ++r) {
        m.top_line[r][0] = p + 16;
        p += line_y;
        m.top_line[r][1] = p + 16;
        p += line_c;
        m.top_line[r][2] = p + 16;
        p += line_c;
    }
    p = d->mb_block.data + rows_bytes + lines_bytes;
    m.wa = new (p) WorkArea();
    m.k = &d->kernels;
    d->scanner.Init(d->nal_block.data, static_cast<uint32_t>(nal_capacity));

    const size_t luma = size_t{256} * d->max_width_mbs * d->max_height_mbs;
    const size_t chroma = luma / 4;
    for (uint32_t i = 0; i < d->buffer_total; ++i) {
        PictureBuffer& b = d->buffers[i];
        b.index = i;
        b.base = d->pool_block.data + picture * i;
        b.planes[0] = b.base;
        b.planes[1] = b.base + luma;
        b.planes[2] = b.base + luma + chroma;
        b.frame.buffer = b.top.buffer = b.bottom.buffer = &b;
        b.frame.structure = kFrame;
        b.top.structure = kTopField;
        b.bottom.structure = kBottomField;
        b.frame.id = static_cast<uint16_t>(3 * i);
        b.top.id = static_cast<uint16_t>(3 * i + 1);
        b.bottom.id = static_cast<uint16_t>(3 * i + 2);
        // black until something is decoded into it
        std::memset(b.planes[1], 128, 2 * chroma);
    }
    if (d->deint_out_block.data) std::memset(d->deint_out_block.data + luma, 128, 2 * chroma);
    d->store.Init(d->buffers, d->buffer_total, d->buffer_count, (d->work_mode & H264DEC_MODE_OUTPUT_ORDER) != 0,
                  &d->queue);
    d->private_data.data = d->private_data.bytes;
    return d;
}

}  // namespace

bool Decoder::TakeOutput(H264DecFrame* f) {
    uint32_t index;
    if (!queue.Pop(buffer_total, &index)) return false;
    PictureBuffer* b = &buffers[index];
    b->output_state = kOutputDone;
    f->y = b->planes[0];
    f->u = b->planes[1];
    f->v = b->planes[2];
    f->width = b->width;
    f->height = b->height;
    f->y_stride = b->width;
    f->uv_stride = b->width / 2;
    f->crop_left = b->crop[0];
    f->crop_right = b->crop[1];
    f->crop_top = b->crop[2];
    f->crop_bottom = b->crop[3];
    f->buffer_index = b->index;
    f->parity_marker = b->parity_marker;
    f->damaged = b->damaged;
    f->idr = b->idr;
    f->timestamp_lo = static_cast<uint32_t>(b->timestamp);
    f->timestamp_hi = static_cast<uint32_t>(b->timestamp >> 32);
    f->poc = b->poc;
    f->private_data = b->private_data;
    if (work_mode & H264DEC_MODE_DEINTERLACE) Deinterlace(b, f);
    return true;
}

}  // namespace kestrel::h264



extern "C" {

H264Dec* h264dec_create(const H264DecAttributes* attributes) {
    if (!attributes) return nullptr;
    return kestrel::h264::Create(*attributes);
}

void h264dec_destroy(H264Dec* d) {
    if (d) kestrel::h264::ReleaseAll(d);
}

int32_t h264dec_decode(H264Dec* d, const uint8_t* data, uint32_t length, uint32_t timestamp_lo,
                       uint32_t timestamp_hi, H264DecFrame* frame, uint32_t flags) {
    if (!d || !frame) return H264DEC_BAD_ARGUMENT;
    frame->y = frame->u = frame->v = nullptr;

    const bool new_input = data != nullptr && length != 0;
    if (new_input) {
        // New input replaces whatever is still pending.
        d->input = data;
        d->input_size = length;
        d->input_pos = 0;
        d->end_of_stream = false;
        d->end_of_unit_pending = (flags & H264DEC_FLAG_END_OF_UNIT) != 0;
    }
    const bool flush = !new_input && (flags & H264DEC_FLAG_FLUSH);
    d->timestamp = (uint64_t{timestamp_hi} << 32) | timestamp_lo;

    static constexpr uint8_t kTerminator[4] = {0, 0, 0, 1};
    // Pending bytes are consumed before a flush completes the last NAL unit with the terminator.
    const bool pending = d->input && d->input_pos < d->input_size;
    if (flush && !pending && !d->end_of_stream) {
        d->input = kTerminator;
        d->input_size = 4;
        d->input_pos = 0;
    }
    while (d->input && d->input_pos < d->input_size) {
        bool complete = false;
        const uint8_t* begin = d->input + d->input_pos;
        const uint8_t* next = d->scanner.Scan(begin, d->input + d->input_size, &complete);
        d->input_pos += static_cast<uint32_t>(next - begin);
        if (complete) {
            if (d->scanner.unit_size() >= 3) d->ProcessNalUnit(d->scanner.unit(), d->scanner.unit_size());
            if (d->TakeOutput(frame)) return H264DEC_PICTURE;
        }
        if (flush && d->input_pos == d->input_size && d->input != kTerminator && !d->end_of_stream) {
            d->input = kTerminator;
            d->input_size = 4;
            d->input_pos = 0;
        }
    }
    d->input = nullptr;
    d->input_size = d->input_pos = 0;
    if (d->end_of_unit_pending) {
        // Complete the unit's last NAL unit as the next start code would, finish its picture,
        // and look for a start code again (a container's own bytes may come before it).
        d->end_of_unit_pending = false;
        bool complete = false;
        d->scanner.Scan(kTerminator, kTerminator + 4, &complete);
        if (complete && d->scanner.unit_size() >= 3) d->ProcessNalUnit(d->scanner.unit(), d->scanner.unit_size());
        d->FinishPicture(true);
        d->scanner.Restart();
    }
    if ((flags & H264DEC_FLAG_END_OF_UNIT) && d->TakeOutput(frame)) return H264DEC_PICTURE;
    if (!flush) return H264DEC_NEED_INPUT;

    if (!d->end_of_stream) {
        d->FinishPicture(false);
        d->store.Flush();
        // The next stream starts at an intra picture, not at P slices with no references.
        if (d->state > kestrel::h264::kHavePps) d->state = kestrel::h264::kHavePps;
        d->end_of_stream = true;
        d->scanner.Restart();
    }
    return d->TakeOutput(frame) ? H264DEC_PICTURE : H264DEC_END_OF_STREAM;
}

void h264dec_set_log(H264Dec* d, H264DecLogFn fn, void* context) {
    if (!d) return;
    d->log_fn = fn;
    d->log_context = context;
}

uint32_t h264dec_last_status(const H264Dec* d) { return d ? d->last_status : 0; }

void h264dec_log_to_stderr(void*, const H264DecNalEvent* e) {
    std::fprintf(stderr, "h264: nal %llu type %u ref %u size %u status 0x%08x state %u\n",
                 static_cast<unsigned long long>(e->index), e->nal_unit_type, e->nal_ref_idc, e->size,
                 e->status, e->decoder_state);
}

}  // extern "C"

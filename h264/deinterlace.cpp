// Deinterlaced output (work-mode bit 4): interlaced pictures are rebuilt as progressive frames
// in the instance's output buffer before they are returned.
#include <cstring>

#include "h264/decoder.h"

namespace kestrel::h264 {

void Decoder::Deinterlace(PictureBuffer* src, H264DecFrame* f) {
    if (src->interlace_kind == 0) return;
    const uint32_t w = src->width, h = src->height, cw = w / 2, ch = h / 2;
    const size_t luma = size_t{256} * max_width_mbs * max_height_mbs;
    uint8_t* out[3] = {deint_out_block.data, deint_out_block.data + luma,
                       deint_out_block.data + luma + luma / 4};
    uint8_t* prev = deint_hist_block.data;
    uint8_t* motion = deint_hist_block.data + size_t{w} * h;  // one row of counters per row pair
    const uint8_t* y = src->planes[0];

    if (src->interlace_kind == 2) {
        // Field pair: the top field is kept, the bottom field's rows are interpolated.
        for (int c = 1; c < 3; ++c)
            for (uint32_t r = 0; r < ch; r += 2) {
                std::memcpy(out[c] + size_t{r} * cw, src->planes[c] + size_t{r} * cw, cw);
                std::memcpy(out[c] + size_t{r + 1} * cw, src->planes[c] + size_t{r} * cw, cw);
            }
        std::memcpy(out[0], y, w);
        std::memcpy(out[0] + w, y, w);
        for (uint32_t k = 1; k + 1 < h / 2; ++k) {
            const uint8_t* row = y + size_t{2 * k} * w;
            std::memcpy(out[0] + size_t{2 * k} * w, row, w);
            kernels.deinterlace_row(out[0] + size_t{2 * k + 1} * w, row, w, prev + size_t{2 * k} * w, w,
                                    motion + size_t{k} * w, static_cast<int>(w));
        }
        std::memcpy(out[0] + size_t{h - 2} * w, y + size_t{h - 2} * w, w);
        std::memcpy(out[0] + size_t{h - 1} * w, y + size_t{h - 2} * w, w);
    } else {
        // Frame of an interlaced stream: shown as it is; its row pairs count as static.
        for (uint32_t k = 1; k + 1 < h / 2; ++k) {
            uint8_t* m = motion + size_t{k} * w;
            for (uint32_t x = 0; x < w; ++x) m[x] = static_cast<uint8_t>(m[x] < 3 ? m[x] + 1 : m[x]);
        }
        std::memcpy(out[0], y, size_t{w} * h);
        std::memcpy(out[1], src->planes[1], size_t{cw} * ch);
        std::memcpy(out[2], src->planes[2], size_t{cw} * ch);
    }
    std::memcpy(prev, y, size_t{w} * h);
    f->y = out[0];
    f->u = out[1];
    f->v = out[2];
}

}  // namespace kestrel::h264

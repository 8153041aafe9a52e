// Shared by the H.264 fuzz targets: decode an input through one instance, with the set-up the
// input's first byte chooses, and trap on any returned picture record that is not sound.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "h264/h264dec.h"

namespace kestrel::fuzz {

inline void CheckPicture(const H264DecFrame& f, const H264DecAttributes& a) {
    const uint32_t n = a.buffer_count == 0 ? 4 : std::min<uint32_t>(a.buffer_count, 16);
    if (!f.y || !f.u || !f.v || f.width == 0 || f.height == 0 || f.width > 16 * a.max_width_mbs ||
        f.height > 16 * a.max_height_mbs || f.y_stride != f.width || f.uv_stride != f.width / 2 ||
        f.crop_left + f.crop_right >= f.width || f.crop_top + f.crop_bottom >= f.height ||
        f.buffer_index >= 2 * n + 4 || f.damaged > 1)
        __builtin_trap();
    // Read every sample the record claims, so that a plane pointing outside the pool is caught.
    uint32_t sum = 0;
    for (uint32_t y = 0; y < f.height; ++y)
        for (uint32_t x = 0; x < f.width; ++x) sum += f.y[size_t{y} * f.y_stride + x];
    for (const uint8_t* p : {f.u, f.v})
        for (uint32_t y = 0; y < f.height / 2; ++y)
            for (uint32_t x = 0; x < f.width / 2; ++x) sum += p[size_t{y} * f.uv_stride + x];
    asm volatile("" : : "r"(sum));
}

// control bit 0: output order; bit 1: deinterlaced output; bits 2-7: 0 feeds the input whole,
// else in pieces of that many bytes.
inline void DecodeAll(const uint8_t* data, size_t size, const H264DecAttributes& attr, uint8_t control) {
    H264Dec* d = h264dec_create(&attr);
    if (!d) __builtin_trap();
    const size_t piece = (control >> 2) ? (control >> 2) : size + 1;
    H264DecFrame f;
    size_t pictures = 0;
    for (size_t pos = 0; pos < size; pos += piece) {
        const uint32_t n = static_cast<uint32_t>(std::min(piece, size - pos));
        for (int32_t r = h264dec_decode(d, data + pos, n, 0, 0, &f, 0); r == H264DEC_PICTURE;
             r = h264dec_decode(d, nullptr, 0, 0, 0, &f, 0)) {
            CheckPicture(f, attr);
            if (++pictures > size + 64) __builtin_trap();  // output that never ends
        }
    }
    for (int k = 0; h264dec_decode(d, nullptr, 0, 0, 0, &f, H264DEC_FLAG_FLUSH) == H264DEC_PICTURE; ++k) {
        CheckPicture(f, attr);
        if (k > 64) __builtin_trap();  // a flush returns at most the picture store
    }
    h264dec_destroy(d);
}

}  // namespace kestrel::fuzz

// MD5 (RFC 1321) of returned pictures, as the reference hashes of the conformance streams are
// taken: the cropped picture as planar Y, then Cb, then Cr, rows without padding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "h264/h264dec.h"

namespace kestrel::h264 {

class Md5 {
public:
    Md5();
    void Update(const uint8_t* data, size_t size);
    void Final(uint8_t digest[16]);
    std::string FinalHex();

private:
    void Block(const uint8_t* p);
    uint32_t state_[4];
    uint64_t length_ = 0;
    uint8_t buffer_[64];
    size_t buffered_ = 0;
};

// Calls fn(row, bytes) for every row of the cropped picture: luma, then Cb, then Cr.
template <typename Fn>
void ForEachCroppedRow(const H264DecFrame& f, Fn&& fn) {
    const uint32_t w = f.width - f.crop_left - f.crop_right;
    const uint32_t h = f.height - f.crop_top - f.crop_bottom;
    for (uint32_t y = 0; y < h; ++y) fn(f.y + size_t{f.crop_top + y} * f.y_stride + f.crop_left, w);
    const uint8_t* planes[2] = {f.u, f.v};
    for (const uint8_t* p : planes)
        for (uint32_t y = 0; y < h / 2; ++y)
            fn(p + size_t{f.crop_top / 2 + y} * f.uv_stride + f.crop_left / 2, w / 2);
}

std::string PictureMd5(const H264DecFrame& f);

}  // namespace kestrel::h264

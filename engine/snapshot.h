// Saving a port's picture as an uncompressed 24-bit bottom-up BMP file, with a full-range YUV to
// RGB conversion of its own (luma unscaled, binary-fraction coefficients), and the vertical
// stretch that brings half-height field pictures to full height first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/picture_copy.h"

namespace kestrel::engine {

// The picture format WriteBmp converts from: YUV 4:2:0 in the YV12 plane order.
inline constexpr uint32_t kBmpFromYuv420 = 3;

inline constexpr uint32_t kBmpHeaderBytes = 54;

// Bytes of one stored row: three per pixel, padded with zeros to a multiple of four.
inline constexpr uint32_t BmpRowBytes(uint32_t width) { return (3 * width + 3) & ~3u; }

// The pixel the snapshot stores for one luma and chroma triple, as 0x00RRGGBB.
uint32_t SnapshotRgb(uint8_t y, uint8_t u, uint8_t v);

// Writes the picture (luma, V plane, U plane; rows of width and width / 2 bytes) as a BMP file.
// 1 when the whole file was written; 0 for another format, a buffer smaller than the picture, a
// size a BMP cannot hold, or a file that cannot be created or written completely.
int32_t WriteBmp(const uint8_t* picture, size_t pictureBytes, uint32_t width, uint32_t height, uint32_t format,
                 const char* path);

// Stretches the planes of a YUV 4:2:0 picture to another height (widths unchanged) by linear
// interpolation between rows in 8-bit fixed point; the first and the last luma rows are kept
// as they are. Row positions are computed once at creation.
class ScaleYuv420 {
public:
    ScaleYuv420(uint32_t width, uint32_t sourceHeight, uint32_t destinationHeight);
    // Strides in bytes: luma, chroma. The destination planes hold destinationHeight (luma) and
    // destinationHeight / 2 (chroma) rows.
    void Apply(const uint8_t* const source[3], const size_t sourceStride[2], uint8_t* const destination[3],
               const size_t destinationStride[2]) const;

private:
    struct RowWeight {
        uint32_t above, below;  // source rows
        uint32_t weight;        // of the row below, in 1/256
    };
    void ScalePlane(const uint8_t* src, size_t srcStride, uint8_t* dst, size_t dstStride, uint32_t width,
                    const std::vector<RowWeight>& rows) const;

    uint32_t width_;
    std::vector<RowWeight> luma_, chroma_;
};

// The picture a snapshot saves, a copy taken while the port's picture buffer is held still; half-
// height fields are stretched to twice their height.
class SnapshotPicture {
public:
    // For a port picture of width x height; false when the memory cannot be had.
    bool Allocate(uint32_t width, uint32_t height, bool doubleHeight);
    // Copies or stretches the port's picture; false when the buffer does not hold a picture of the
    // allocated size.
    bool Take(const Yv12View& picture);
    int32_t Write(const char* path) const;

    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }
    const uint8_t* data() const { return data_.get(); }

private:
    std::unique_ptr<uint8_t[]> data_;
    size_t bytes_ = 0;
    uint32_t width_ = 0, height_ = 0;
    bool doubleHeight_ = false;
};

}  // namespace kestrel::engine

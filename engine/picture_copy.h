// Writing a decoded picture into a port's picture surface: packed to YUY2 for the display to
// convert and scale, or converted to the surface's RGB format in software (ITU-R BT.601 video
// range, 13-bit fixed point).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/display.h"

namespace kestrel::engine {

// A YV12 picture as a port's picture buffer holds it: luma, then V (Cr), then U (Cb), rows of
// width and width / 2 bytes without padding.
struct Yv12View {
    const uint8_t* data = nullptr;
    size_t bytes = 0;  // readable at data
    uint32_t width = 0, height = 0;

    const uint8_t* Y() const { return data; }
    const uint8_t* V() const { return data + size_t{width} * height; }
    const uint8_t* U() const { return data + size_t{width} * height * 5 / 4; }
    size_t PictureBytes() const { return size_t{width} * height * 3 / 2; }
    // Even, non-zero sizes whose three planes lie inside the buffer.
    bool Valid() const;
};

// The routine a port copies its pictures with; it follows the format of the port's surface.
enum class PictureCopy : uint32_t { Yuy2, Rgb };

enum class CopyResult : uint8_t {
    Ok,
    NoSurface,
    SurfaceLost,       // the lock reported a lost surface
    LockFailed,        // any other lock failure
    UnsupportedDepth,  // a surface format the routine cannot write; nothing was written
    SurfaceTooSmall,   // the surface is smaller than the picture; nothing was written
    BadPicture,        // the picture buffer does not hold a picture of its size
};

// Lock the surface (retrying while it is still drawing), write the picture from the top of the
// surface at its pitch, unlock. Nothing is written outside the surface or read outside the
// picture buffer.
CopyResult CopyToYuy2(platform::Surface* surface, const Yv12View& picture);
CopyResult CopyToRgb(platform::Surface* surface, const Yv12View& picture);
CopyResult CopyPicture(PictureCopy routine, platform::Surface* surface, const Yv12View& picture);

// The conversions themselves, into memory of the given pitch (bytes per row). width and height
// must be even; each writes height rows.
//
// YUY2: bytes Y(2k), U, Y(2k + 1), V for each pixel pair; a chroma row serves two rows.
void PackYuy2(uint8_t* dst, ptrdiff_t pitch, const Yv12View& picture);
// RGB565 little-endian (red in bits 15-11), with each component carrying the low three bits of
// the same component of the pixel before it in the row.
void ConvertToRgb565(uint8_t* dst, ptrdiff_t pitch, const Yv12View& picture);
// Bytes B, G, R.
void ConvertToRgb24(uint8_t* dst, ptrdiff_t pitch, const Yv12View& picture);
// Bytes B, G, R, 0.
void ConvertToRgb32(uint8_t* dst, ptrdiff_t pitch, const Yv12View& picture);

}  // namespace kestrel::engine

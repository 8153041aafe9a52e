// The portable row kernels: the reference every other set is checked against.
#include <algorithm>

#include "engine/picture_copy_kernels.h"

namespace kestrel::engine {
namespace {

inline uint8_t Clamp255(int32_t v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }

void Yuy2Row(uint8_t* dst, const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t width) {
    for (uint32_t k = 0; k < width / 2; ++k) {
        dst[4 * k + 0] = y[2 * k];
        dst[4 * k + 1] = u[k];
        dst[4 * k + 2] = y[2 * k + 1];
        dst[4 * k + 3] = v[k];
    }
}

// The unclamped components of one pixel.
struct Rgb {
    int32_t r, g, b;
};

inline Rgb Convert(int32_t y, int32_t u, int32_t v) {
    const int32_t luma = kLumaFactor * (y - 16), cb = u - 128, cr = v - 128;
    return {(luma + kRedFromV * cr) >> kRgbShift, (luma - kGreenFromU * cb - kGreenFromV * cr) >> kRgbShift,
            (luma + kBlueFromU * cb) >> kRgbShift};
}

void Rgb565Row(uint8_t* dst, const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t width) {
    // The bits that packing drops are carried into the next pixel of the row.
    Rgb carry{0, 0, 0};
    for (uint32_t x = 0; x < width; ++x) {
        const Rgb c = Convert(y[x], u[x / 2], v[x / 2]);
        carry = {c.r + (carry.r & 7), c.g + (carry.g & 7), c.b + (carry.b & 7)};
        const uint32_t r = Clamp255(carry.r), g = Clamp255(carry.g), b = Clamp255(carry.b);
        const uint32_t packed = (r & 0xF8) << 8 | (g & 0xFC) << 3 | b >> 3;
        dst[2 * x] = static_cast<uint8_t>(packed);
        dst[2 * x + 1] = static_cast<uint8_t>(packed >> 8);
    }
}

void Rgb24Row(uint8_t* dst, const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t width) {
    for (uint32_t x = 0; x < width; ++x) {
        const Rgb c = Convert(y[x], u[x / 2], v[x / 2]);
        dst[3 * x] = Clamp255(c.b);
        dst[3 * x + 1] = Clamp255(c.g);
        dst[3 * x + 2] = Clamp255(c.r);
    }
}

void Rgb32Row(uint8_t* dst, const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t width) {
    for (uint32_t x = 0; x < width; ++x) {
        const Rgb c = Convert(y[x], u[x / 2], v[x / 2]);
        dst[4 * x] = Clamp255(c.b);
        dst[4 * x + 1] = Clamp255(c.g);
        dst[4 * x + 2] = Clamp255(c.r);
        dst[4 * x + 3] = 0;
    }
}

}  // namespace

const PictureKernels& PortablePictureKernels() {
    static constexpr PictureKernels kPortable{"portable", Yuy2Row, Rgb565Row, Rgb24Row, Rgb32Row};
    return kPortable;
}

const PictureKernels& BestPictureKernels() {
    static const PictureKernels& best = []() -> const PictureKernels& {
        const PictureKernels* sse2 = Sse2PictureKernels();
        return sse2 ? *sse2 : PortablePictureKernels();
    }();
    return best;
}

}  // namespace kestrel::engine

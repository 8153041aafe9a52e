#include "engine/picture_copy.h"

#include <cstdlib>
#include <thread>

#include "engine/picture_copy_kernels.h"

namespace kestrel::engine {
namespace {

using platform::DisplayResult;
using platform::LockedPixels;
using platform::PixelFormat;

// A lock waits while the display is still drawing from the surface; this bounds the wait.
constexpr int kLockAttempts = 1000;

DisplayResult LockForWriting(platform::Surface& surface, LockedPixels& pixels) {
    DisplayResult r = DisplayResult::Failed;
    for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
        r = surface.Lock(pixels);
        if (r != DisplayResult::StillDrawing) break;
        std::this_thread::yield();
    }
    return r;
}

bool Holds(const LockedPixels& px, const Yv12View& picture, uint32_t bytesPerPixel) {
    const int64_t rowBytes = int64_t{picture.width} * bytesPerPixel;
    return px.data != nullptr && px.width >= picture.width && px.height >= picture.height &&
           std::llabs(int64_t{px.pitch}) >= rowBytes;
}

void ConvertRows(PictureRowFn row, uint8_t* dst, ptrdiff_t pitch, const Yv12View& p) {
    const uint8_t *y = p.Y(), *u = p.U(), *v = p.V();
    const size_t chromaWidth = p.width / 2;
    for (uint32_t r = 0; r < p.height; ++r) {
        const size_t c = size_t{r / 2} * chromaWidth;
        row(dst + ptrdiff_t(r) * pitch, y + size_t{r} * p.width, u + c, v + c, p.width);
    }
}

using Converter = void (*)(uint8_t*, ptrdiff_t, const Yv12View&);

CopyResult Copy(platform::Surface* surface, const Yv12View& picture, bool yuy2, bool anyLockFailureIsLoss) {
    if (surface == nullptr) return CopyResult::NoSurface;
    if (!picture.Valid()) return CopyResult::BadPicture;
    LockedPixels px;
    const DisplayResult locked = LockForWriting(*surface, px);
    if (locked == DisplayResult::SurfaceLost) return CopyResult::SurfaceLost;
    if (locked != DisplayResult::Ok) return anyLockFailureIsLoss ? CopyResult::SurfaceLost : CopyResult::LockFailed;

    Converter convert = nullptr;
    uint32_t bytesPerPixel = 0;
    if (yuy2) {
        if (px.format == PixelFormat::YUY2) convert = PackYuy2, bytesPerPixel = 2;
    } else {
        switch (px.format) {
            case PixelFormat::RGB565: convert = ConvertToRgb565, bytesPerPixel = 2; break;
            case PixelFormat::RGB24: convert = ConvertToRgb24, bytesPerPixel = 3; break;
            case PixelFormat::RGB32: convert = ConvertToRgb32, bytesPerPixel = 4; break;
            default: break;
        }
    }
    CopyResult result = CopyResult::Ok;
    if (convert == nullptr)
        result = CopyResult::UnsupportedDepth;
    else if (!Holds(px, picture, bytesPerPixel))
        result = CopyResult::SurfaceTooSmall;
    else
        convert(px.data, px.pitch, picture);
    surface->Unlock();
    return result;
}

}  // namespace

bool Yv12View::Valid() const {
    return data != nullptr && width > 0 && height > 0 && width % 2 == 0 && height % 2 == 0 &&
           bytes >= PictureBytes();
}

void PackYuy2(uint8_t* dst, ptrdiff_t pitch, const Yv12View& picture) {
    ConvertRows(BestPictureKernels().yuy2, dst, pitch, picture);
}

void ConvertToRgb565(uint8_t* dst, ptrdiff_t pitch, const Yv12View& picture) {
    ConvertRows(BestPictureKernels().rgb565, dst, pitch, picture);
}

void ConvertToRgb24(uint8_t* dst, ptrdiff_t pitch, const Yv12View& picture) {
    ConvertRows(BestPictureKernels().rgb24, dst, pitch, picture);
}

void ConvertToRgb32(uint8_t* dst, ptrdiff_t pitch, const Yv12View& picture) {
    ConvertRows(BestPictureKernels().rgb32, dst, pitch, picture);
}

CopyResult CopyToYuy2(platform::Surface* surface, const Yv12View& picture) {
    return Copy(surface, picture, true, false);
}

// Any lock failure of an RGB surface counts as a lost display: the next picture restores first.
CopyResult CopyToRgb(platform::Surface* surface, const Yv12View& picture) {
    return Copy(surface, picture, false, true);
}

CopyResult CopyPicture(PictureCopy routine, platform::Surface* surface, const Yv12View& picture) {
    return routine == PictureCopy::Yuy2 ? CopyToYuy2(surface, picture) : CopyToRgb(surface, picture);
}

}  // namespace kestrel::engine

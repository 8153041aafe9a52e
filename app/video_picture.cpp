#include "app/video_picture.h"

#include <algorithm>
#include <cstring>

namespace kestrel::app {

namespace {

uint32_t Clamp255(int v) { return static_cast<uint32_t>(std::clamp(v, 0, 255)); }

}  // namespace

uint32_t Bt601ToRgb(int y, int u, int v) {
    // 13-bit fixed point: 1.164, 1.596, 0.391, 0.813 and 2.018 times 8192.
    const int yy = 9535 * (y - 16), uu = u - 128, vv = v - 128;
    const int r = (yy + 13074 * vv) >> 13;
    const int g = (yy - 3203 * uu - 6660 * vv) >> 13;
    const int b = (yy + 16531 * uu) >> 13;
    return Clamp255(r) << 16 | Clamp255(g) << 8 | Clamp255(b);
}

namespace {

QImage::Format ImageFormat(platform::PixelFormat format) {
    switch (format) {
        case platform::PixelFormat::RGB24: return QImage::Format_BGR888;
        case platform::PixelFormat::RGB565: return QImage::Format_RGB16;
        case platform::PixelFormat::RGB32:
        case platform::PixelFormat::YUY2: return QImage::Format_RGB32;
        default: return QImage::Format_Invalid;
    }
}

}  // namespace

bool PictureToImage(const VideoPicture& p, QImage& image) {
    using platform::PixelFormat;
    const int w = static_cast<int>(p.width), h = static_cast<int>(p.height);
    const size_t rowBytes = p.RowBytes();
    const QImage::Format format = ImageFormat(p.format);
    if (p.fill || w <= 0 || h <= 0 || p.bytes.size() < rowBytes * p.height || format == QImage::Format_Invalid) {
        image = QImage();
        return false;
    }
    if (image.width() != w || image.height() != h || image.format() != format) image = QImage(w, h, format);
    switch (p.format) {
        case PixelFormat::RGB32:
            for (int y = 0; y < h; ++y) {
                const uint8_t* src = p.bytes.data() + size_t(y) * rowBytes;
                auto* dst = reinterpret_cast<uint32_t*>(image.scanLine(y));
                for (int x = 0; x < w; ++x) {
                    const uint8_t* px = src + 4 * x;  // B, G, R, 0
                    dst[x] = 0xFF000000u | uint32_t{px[2]} << 16 | uint32_t{px[1]} << 8 | px[0];
                }
            }
            break;
        case PixelFormat::RGB24:
            for (int y = 0; y < h; ++y)
                std::memcpy(image.scanLine(y), p.bytes.data() + size_t(y) * rowBytes, rowBytes);
            break;
        case PixelFormat::RGB565:
            for (int y = 0; y < h; ++y)
                std::memcpy(image.scanLine(y), p.bytes.data() + size_t(y) * rowBytes, rowBytes);
            break;
        case PixelFormat::YUY2:
            for (int y = 0; y < h; ++y) {
                const uint8_t* src = p.bytes.data() + size_t(y) * rowBytes;
                auto* dst = reinterpret_cast<uint32_t*>(image.scanLine(y));
                for (int x = 0; x < w; ++x) {
                    const uint8_t* pair = src + size_t(x & ~1) * 2;  // Y0 U Y1 V
                    dst[x] = 0xFF000000u | Bt601ToRgb(pair[(x & 1) ? 2 : 0], pair[1], pair[3]);
                }
            }
            break;
        default:
            break;
    }
    return true;
}

}  // namespace kestrel::app

#include "app/video_window.h"

#include <QMetaObject>
#include <algorithm>
#include <cstring>

namespace kestrel::app {

void VideoWindow::Present(const platform::LockedPixels& source, const platform::Rect& srcRect,
                          const platform::Rect& dstRect) {
    const int32_t left = std::clamp(srcRect.left, 0, int32_t(source.width));
    const int32_t right = std::clamp(srcRect.right, left, int32_t(source.width));
    const int32_t top = std::clamp(srcRect.top, 0, int32_t(source.height));
    const int32_t bottom = std::clamp(srcRect.bottom, top, int32_t(source.height));
    uint32_t width = static_cast<uint32_t>(right - left);
    const uint32_t height = static_cast<uint32_t>(bottom - top);
    const uint32_t bytesPerPixel = platform::BitsPerPixel(source.format) / 8;
    int32_t firstByte = left * int32_t(bytesPerPixel);
    if (source.format == platform::PixelFormat::YUY2) {
        // Chroma is shared by pixel pairs: keep whole pairs.
        firstByte &= ~3;
        width &= ~1u;
    }
    if (width == 0 || height == 0 || bytesPerPixel == 0 || source.data == nullptr) return;

    const platform::Rect window = ScreenRect();
    QRect target;  // null: the whole widget, whatever size it has by the time it paints
    if (!(dstRect == window))
        target = QRect(dstRect.left - window.left, dstRect.top - window.top, dstRect.Width(), dstRect.Height());
    {
        std::lock_guard<std::mutex> hold(pictureLock_);
        VideoPicture& p = pending_;
        p.format = source.format;
        p.width = width;
        p.height = height;
        const size_t rowBytes = size_t(width) * bytesPerPixel;
        p.bytes.resize(rowBytes * height);  // same size every frame: no reallocation
        for (uint32_t y = 0; y < height; ++y)
            std::memcpy(p.bytes.data() + y * rowBytes,
                        source.data + size_t(top + int32_t(y)) * size_t(source.pitch) + size_t(firstByte), rowBytes);
        p.target = target;
        p.fill = false;
        fresh_ = true;
    }
    presented_.fetch_add(1);
    RequestUpdate();
}

void VideoWindow::Fill(uint32_t rgb) {
    {
        std::lock_guard<std::mutex> hold(pictureLock_);
        pending_.fill = true;
        pending_.fillRgb = rgb & 0xFFFFFF;
        fresh_ = true;
    }
    RequestUpdate();
}

bool VideoWindow::TakeLatest(VideoPicture& shown) {
    std::lock_guard<std::mutex> hold(pictureLock_);
    updateQueued_ = false;
    if (!fresh_) return false;
    std::swap(pending_, shown);
    fresh_ = false;
    return true;
}

void VideoWindow::RequestUpdate() {
    if (updateQueued_.exchange(true)) return;  // one request in the queue is enough
    if (QWidget* w = widget())
        QMetaObject::invokeMethod(w, [w] { w->update(); }, Qt::QueuedConnection);
}

}  // namespace kestrel::app

#include "platform/window.h"

#include <chrono>

namespace kestrel::platform {

MemoryWindow::MemoryWindow(Rect screenRect) { Move(screenRect); }

void MemoryWindow::Post(const WindowMessage& message) {
    {
        std::lock_guard<std::mutex> hold(messageLock_);
        messages_.push_back(message);
    }
    messageArrived_.notify_all();
}

Rect MemoryWindow::ScreenRect() const {
    std::lock_guard<std::mutex> hold(imageLock_);
    return rect_;
}

Rect MemoryWindow::ClientRect() const {
    std::lock_guard<std::mutex> hold(imageLock_);
    return Rect{0, 0, rect_.Width(), rect_.Height()};
}

void MemoryWindow::Move(Rect screenRect) {
    std::lock_guard<std::mutex> hold(imageLock_);
    rect_ = screenRect;
    imageWidth_ = screenRect.Width() > 0 ? static_cast<uint32_t>(screenRect.Width()) : 0;
    imageHeight_ = screenRect.Height() > 0 ? static_cast<uint32_t>(screenRect.Height()) : 0;
    image_.assign(size_t{imageWidth_} * imageHeight_, 0);
}

std::optional<WindowMessage> MemoryWindow::TakeMessage(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> hold(messageLock_);
    if (!messageArrived_.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                                  [&] { return !messages_.empty(); }))
        return std::nullopt;
    WindowMessage m = messages_.front();
    messages_.pop_front();
    return m;
}

size_t MemoryWindow::PendingMessages() const {
    std::lock_guard<std::mutex> hold(messageLock_);
    return messages_.size();
}

uint32_t MemoryWindow::Pixel(int32_t x, int32_t y) const {
    std::lock_guard<std::mutex> hold(imageLock_);
    if (x < 0 || y < 0 || static_cast<uint32_t>(x) >= imageWidth_ || static_cast<uint32_t>(y) >= imageHeight_)
        return 0;
    return image_[size_t(y) * imageWidth_ + size_t(x)];
}

}  // namespace kestrel::platform

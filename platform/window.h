// The window object behind a KxWindow handle: where pictures are drawn and messages posted.
// The application implements it over its toolkit; MemoryWindow serves headless use and tests.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

#include "kestrel/kx_window.h"

namespace kestrel::platform {

struct Rect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
    bool Empty() const { return right <= left || bottom <= top; }
    friend bool operator==(const Rect&, const Rect&) = default;
};

struct WindowMessage {
    uint32_t message = 0;
    uintptr_t wparam = 0;
    intptr_t lparam = 0;
    friend bool operator==(const WindowMessage&, const WindowMessage&) = default;
};

class Window {
public:
    virtual ~Window() = default;
    // Queues a message for the window's own thread and returns at once; never waits for it.
    virtual void Post(const WindowMessage& message) = 0;
    // The window's rectangle in screen coordinates, and its client area (origin 0, 0).
    virtual Rect ScreenRect() const = 0;
    virtual Rect ClientRect() const = 0;
};

inline KxWindow ToHandle(Window* window) { return reinterpret_cast<KxWindow>(window); }
inline Window* FromHandle(KxWindow handle) { return reinterpret_cast<Window*>(handle); }

// A window without a screen: posted messages wait in a queue, and the client area is an image of
// 0x00RRGGBB pixels that a display backend draws into, so that tests see what a viewer would see.
class MemoryWindow final : public Window {
public:
    MemoryWindow(Rect screenRect = {0, 0, 352, 288});

    void Post(const WindowMessage& message) override;
    Rect ScreenRect() const override;
    Rect ClientRect() const override;

    void Move(Rect screenRect);  // also resizes the client image (cleared to black)
    // The oldest posted message not yet taken, waiting up to timeoutMs for one.
    std::optional<WindowMessage> TakeMessage(uint32_t timeoutMs = 0);
    size_t PendingMessages() const;

    // Client image access for a backend that draws (under the window's own lock).
    template <typename Fn>
    void WithImage(Fn&& fn) {
        std::lock_guard<std::mutex> hold(imageLock_);
        fn(image_, static_cast<int32_t>(imageWidth_), static_cast<int32_t>(imageHeight_));
    }
    uint32_t Pixel(int32_t x, int32_t y) const;

private:
    mutable std::mutex messageLock_;  // guards messages_
    std::condition_variable messageArrived_;
    std::deque<WindowMessage> messages_;

    mutable std::mutex imageLock_;  // guards rect_ and the client image
    Rect rect_;
    std::vector<uint32_t> image_;
    uint32_t imageWidth_ = 0, imageHeight_ = 0;
};

}  // namespace kestrel::platform

// The video area as the engine's window: the display backend hands it each finished picture from
// the play thread; the widget paints the latest one on the GUI thread.
//
// The hand-over is a copy under a mutex and an update request posted to the widget. Nothing here
// waits for the GUI thread, which may itself be waiting for the play thread (closing a file
// joins it).
#pragma once

#include <atomic>
#include <functional>
#include <mutex>

#include "app/video_picture.h"
#include "app/widget_window.h"

namespace kestrel::app {

class VideoWindow final : public WidgetWindow {
public:
    explicit VideoWindow(QWidget* widget) : WidgetWindow(widget) {}

    // Play thread (or any thread): srcRect of a locked surface, shown at dstRect (screen coordinates).
    void Present(const platform::LockedPixels& source, const platform::Rect& srcRect, const platform::Rect& dstRect);
    // Any thread: show a plain colour (0xRRGGBB) instead of a picture.
    void Fill(uint32_t rgb);
    // GUI thread: back to black, as after stopping or closing.
    void Clear() { Fill(0); }

    // GUI thread: if a newer picture has arrived, swaps it into `shown` and returns true.
    bool TakeLatest(VideoPicture& shown);
    // How many pictures have been handed over so far.
    uint64_t PicturesPresented() const { return presented_.load(); }

private:
    void RequestUpdate();

    std::mutex pictureLock_;  // guards pending_ and fresh_
    VideoPicture pending_;
    bool fresh_ = false;
    std::atomic<bool> updateQueued_{false};
    std::atomic<uint64_t> presented_{0};
};

}  // namespace kestrel::app

// The engine's display on Qt: picture surfaces in memory, and "blits" that hand a surface's
// picture to the video area's widget, which scales it to its size when it paints.
//
// Two kinds, chosen once per program by what the platform can do:
// - OpenGL: YUY2 surfaces are offered (the engine packs, the widget's shader converts and
//   scales), as a driver with stretching YUY2 blits would.
// - Plain: no YUY2; the engine converts to RGB in the desktop's 32-bit format and the widget
//   draws a scaled QImage.
// Losing the GL context loses the surfaces; they can be restored once the widget has a new one.
#pragma once

#include <atomic>
#include <memory>

#include "platform/display.h"

namespace kestrel::app {

enum class VideoKind { OpenGL, Plain };

// What the display and the video widgets share: the loss of the GL context.
class DisplayLink {
public:
    // The widget's context is going away: every surface made so far is lost.
    void LoseSurfaces() {
        available_ = false;
        lossEpoch_.fetch_add(1);
    }
    // A new context is ready: lost surfaces may be restored.
    void SetAvailable() { available_ = true; }
    bool Available() const { return available_.load(); }
    uint32_t LossEpoch() const { return lossEpoch_.load(); }

private:
    std::atomic<bool> available_{true};
    std::atomic<uint32_t> lossEpoch_{0};
};

platform::DisplayFactory QtDisplayFactory(VideoKind kind, std::shared_ptr<DisplayLink> link);

}  // namespace kestrel::app

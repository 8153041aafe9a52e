// Showing ports' pictures on the display: the choice of each port's picture surface from the
// display's capabilities (with fallbacks), the copy of the picture into it, the stretch into the
// port's window by a blit or an overlay behind a colour key, and recovery from lost surfaces.
//
// These functions take the engine's display objects and one port's fields as arguments and
// leave locking to the caller: drawing runs under the engine's drawLock (and the port's
// bufferLock); surface creation under the port's bufferLock.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "engine/picture_copy.h"
#include "platform/display.h"
#include "platform/window.h"

namespace kestrel::engine {

// RGB(0, 6, 0) as a GDI colour value: painted into the window and keyed by the overlay.
inline constexpr uint32_t kOverlayColourKey = 0x000600;

// The engine's display objects, borrowed for one call; any of them may be missing.
struct DisplayObjects {
    platform::Display* display = nullptr;
    platform::Surface* primary = nullptr;
    platform::Clipper* clipper = nullptr;
};

// Engine-wide presentation state besides the display objects.
struct PresentationState {
    // Set when a copy or a draw meets a lost surface; the next picture restores first.
    std::atomic<bool> displayLost{false};
    // The colour key in the primary's pixel format, matched at the latest overlay creation.
    std::atomic<uint32_t> overlayColourKey{0};
    // Where the colour key was last painted (drawLock); empty when it must be painted again.
    platform::Rect lastOverlayRect;

    // With the display objects released.
    void Reset() {
        displayLost = false;
        overlayColourKey = 0;
        lastOverlayRect = platform::Rect{};
    }
};

// One port's presentation fields, borrowed for one call.
struct PortSurface {
    std::unique_ptr<platform::Surface>& surface;
    PictureCopy& copy;
    uint32_t formatIndicator = 1;  // 1: a YUY2 surface is allowed
};

// Releases the port's surface and makes one of width x height: YUY2 (a blit source, else an
// overlay) when the display converts and stretches YUY2, else RGB565, falling back to the
// desktop's format and then to the other kind of memory. The copy routine follows the format
// of the surface made. False when no surface could be made (the port then has none).
bool CreatePictureSurface(const DisplayObjects& objects, PresentationState& state, PortSurface port,
                             uint32_t width, uint32_t height);

// A surface the picture fits into.
bool SurfaceHolds(const platform::Surface* surface, uint32_t width, uint32_t height);

// What a port is to be told about a picture that was not shown as asked.
enum class PresentFault : uint8_t {
    None,
    SurfaceNotCreated,  // a picture surface had to be made and could not be
    UnsupportedDepth,   // the surface's format is one the copy cannot write
    SurfaceMissing,     // the port's surface, the primary or the clipper is missing
};

struct DrawOutcome {
    bool drawn = false;
    PresentFault fault = PresentFault::None;  // the last one met
};

// Copies the picture into the port's surface (replacing a surface the picture does not fit) and
// stretches it into the window: as an overlay behind the colour key while the port's surface is
// an overlay and exactly one port is open, else by a blit. Without a window only the copy runs.
DrawOutcome DrawPicture(const DisplayObjects& objects, PresentationState& state, PortSurface port,
                        platform::Window* window, const Yv12View& picture, uint32_t openPortCount);

// Restores the primary and the port's surface when the display was lost; false when that fails
// (or the port has no surface), and the display stays marked lost.
bool RestoreSurfaces(const DisplayObjects& objects, PresentationState& state, platform::Surface* portSurface);

// DrawPicture after restoring a lost display; a picture is skipped while restoring fails.
DrawOutcome ShowPicture(const DisplayObjects& objects, PresentationState& state, PortSurface port,
                        platform::Window* window, const Yv12View& picture, uint32_t openPortCount);

// Fills the window's client area with the colour key.
void PaintColourKey(platform::Display& display, platform::Window& window);

}  // namespace kestrel::engine

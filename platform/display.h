// The display the engine presents pictures on: one display object, a primary surface (the
// desktop) with a clipper that confines drawing to one window, and per-port picture surfaces
// that are stretched into a window's rectangle by a blit or shown as an overlay behind a
// destination colour key. Surfaces can be lost (mode change, screen lock) and restored.
//
// Backends: MemoryDisplay (headless, below) and the application's toolkit backend. A backend may
// draw on a thread of its own: Blit and UpdateOverlay take what they need from the source surface
// before they return, so the caller may overwrite the surface at once.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/window.h"

namespace kestrel::platform {

enum class DisplayResult : uint8_t {
    Ok,
    Failed,
    SurfaceLost,   // the surface's memory was taken away; Restore it before use
    StillDrawing,  // a lock that may be retried
    Unsupported,   // the backend cannot do this at all
};

// What the driver offers, in the terms the engine's choice of picture surface asks about.
struct DisplayCaps {
    bool bltFourcc = false;       // blits from YUY2 surfaces (the hardware converts)
    bool bltStretch = false;      // blits that scale
    bool overlayFourcc = false;   // YUY2 overlays
    bool overlayStretch = false;  // overlays that scale
    bool nonLocalVidMemCaps = false;  // the driver describes its non-local video memory
    bool noPageLockRequired = false;  // and blits from it need no page locking
    bool localVidMem = false;     // surfaces may live in local video memory
    bool nonLocalVidMem = false;  // surfaces may live in non-local (bus) video memory
};

enum class PixelFormat : uint8_t {
    Unspecified,  // in a request: take the desktop's format
    YUY2,         // packed 4:2:2, bytes Y0 U Y1 V
    RGB565,
    RGB24,        // bytes B, G, R
    RGB32,        // bytes B, G, R, 0
    Palette8,     // a desktop depth the engine cannot convert to
};
uint32_t BitsPerPixel(PixelFormat format);
PixelFormat DesktopFormat(uint32_t bitsPerPixel);

enum class SurfaceKind : uint8_t { Primary, OffscreenPlain, Overlay };
enum class MemoryKind : uint8_t { Video, LocalVideo, NonLocalVideo, System };

struct SurfaceDesc {
    SurfaceKind kind = SurfaceKind::OffscreenPlain;
    MemoryKind memory = MemoryKind::Video;
    PixelFormat format = PixelFormat::Unspecified;
    uint32_t width = 0, height = 0;
    friend bool operator==(const SurfaceDesc&, const SurfaceDesc&) = default;
};

struct LockedPixels {
    uint8_t* data = nullptr;
    int32_t pitch = 0;  // bytes from one row to the next
    uint32_t width = 0, height = 0;
    PixelFormat format = PixelFormat::Unspecified;
    uint32_t bitsPerPixel = 0;
};

class Clipper {
public:
    virtual ~Clipper() = default;
    virtual void SetWindow(Window* window) = 0;
    virtual Window* ClipWindow() const = 0;
};

class Surface {
public:
    virtual ~Surface() = default;
    // As created, with the format resolved to the real one.
    virtual const SurfaceDesc& Desc() const = 0;
    // Write access to the whole surface until Unlock.
    virtual DisplayResult Lock(LockedPixels& out) = 0;
    virtual void Unlock() = 0;
    virtual bool IsLost() const = 0;
    // Brings a lost surface back; its contents are undefined afterwards.
    virtual DisplayResult Restore() = 0;
    // Primary only: drawing onto it is clipped to the clipper's window.
    virtual void SetClipper(Clipper* clipper) = 0;
};

class Display {
public:
    virtual ~Display() = default;
    virtual DisplayResult GetCaps(DisplayCaps& out) = 0;
    virtual DisplayResult CreatePrimary(std::unique_ptr<Surface>& out) = 0;
    virtual DisplayResult CreateClipper(std::unique_ptr<Clipper>& out) = 0;
    virtual DisplayResult CreateSurface(const SurfaceDesc& desc, std::unique_ptr<Surface>& out) = 0;
    // Stretches srcRect of a picture surface onto dstRect (screen coordinates) of the primary,
    // clipped to the window of the primary's clipper.
    virtual DisplayResult Blit(Surface& primary, const Rect& dstRect, Surface& source, const Rect& srcRect) = 0;
    // Shows an overlay surface scaled into dstRect wherever the primary holds colourKey (a value
    // in the primary's pixel format).
    virtual DisplayResult UpdateOverlay(Surface& overlay, const Rect& srcRect, Surface& primary,
                                        const Rect& dstRect, uint32_t colourKey) = 0;
    // Fills the window's client area with an RGB colour (0x00BBGGRR, as a GDI colour value).
    virtual void PaintWindow(Window& window, uint32_t colorref) = 0;
    // The value an RGB colour (0x00BBGGRR) takes in the primary's pixel format.
    virtual uint32_t MatchColour(Surface& primary, uint32_t colorref) = 0;
};

// Makes the engine's display object; returns none when there is no display to be had.
using DisplayFactory = std::function<std::unique_ptr<Display>()>;

}  // namespace kestrel::platform

#include "engine/presentation.h"

namespace kestrel::engine {
namespace {

using platform::DisplayCaps;
using platform::DisplayResult;
using platform::MemoryKind;
using platform::PixelFormat;
using platform::Rect;
using platform::SurfaceDesc;
using platform::SurfaceKind;

// The first choice of surface for a display with these capabilities.
SurfaceDesc FirstChoice(const DisplayCaps& caps, uint32_t formatIndicator, uint32_t width, uint32_t height) {
    SurfaceDesc desc{SurfaceKind::OffscreenPlain, MemoryKind::Video, PixelFormat::Unspecified, width, height};
    const bool yuy2 = formatIndicator != 0 && ((caps.bltFourcc && caps.bltStretch) ||
                                               (caps.overlayFourcc && caps.overlayStretch));
    if (yuy2) {
        desc.format = PixelFormat::YUY2;
        // Without YUY2 blits the hardware can only show it as an overlay.
        if (!caps.bltFourcc) desc.kind = SurfaceKind::Overlay;
        desc.memory = MemoryKind::LocalVideo;
    } else {
        desc.format = PixelFormat::RGB565;
        if (caps.nonLocalVidMemCaps && caps.noPageLockRequired) {
            desc.memory = caps.localVidMem      ? MemoryKind::LocalVideo
                          : caps.nonLocalVidMem ? MemoryKind::NonLocalVideo
                                                : MemoryKind::System;
        }
    }
    return desc;
}

MemoryKind OtherMemory(MemoryKind m) {
    switch (m) {
        case MemoryKind::LocalVideo: return MemoryKind::NonLocalVideo;
        case MemoryKind::NonLocalVideo: return MemoryKind::LocalVideo;
        case MemoryKind::System: return MemoryKind::Video;
        case MemoryKind::Video: break;
    }
    return MemoryKind::System;
}

}  // namespace

bool CreatePictureSurface(const DisplayObjects& objects, PresentationState& state, PortSurface port,
                          uint32_t width, uint32_t height) {
    port.surface.reset();
    if (objects.display == nullptr) return false;
    platform::Display& display = *objects.display;

    DisplayCaps caps;
    SurfaceDesc desc{SurfaceKind::OffscreenPlain, MemoryKind::Video, PixelFormat::Unspecified, width, height};
    if (display.GetCaps(caps) == DisplayResult::Ok) desc = FirstChoice(caps, port.formatIndicator, width, height);

    std::unique_ptr<platform::Surface> made;
    auto attempt = [&] {
        if (display.CreateSurface(desc, made) == DisplayResult::Ok && made) return true;
        made.reset();
        return false;
    };
    bool ok = false;
    if (desc.kind == SurfaceKind::Overlay) {
        ok = attempt();
        if (!ok) desc.kind = SurfaceKind::OffscreenPlain;
    }
    if (!ok) ok = attempt();
    if (!ok && desc.format != PixelFormat::Unspecified) {
        desc.format = PixelFormat::Unspecified;  // the desktop's own format
        ok = attempt();
    }
    if (!ok) {
        desc.memory = OtherMemory(desc.memory);
        ok = attempt();
    }
    if (!ok) return false;

    // The routine follows the surface actually made, also when the capabilities were unknown
    // and the display chose the format.
    port.copy = made->Desc().format == PixelFormat::YUY2 ? PictureCopy::Yuy2 : PictureCopy::Rgb;
    if (made->Desc().kind == SurfaceKind::Overlay && objects.primary != nullptr)
        state.overlayColourKey = display.MatchColour(*objects.primary, kOverlayColourKey);
    port.surface = std::move(made);
    return true;
}

bool SurfaceHolds(const platform::Surface* surface, uint32_t width, uint32_t height) {
    return surface != nullptr && surface->Desc().width >= width && surface->Desc().height >= height;
}

DrawOutcome DrawPicture(const DisplayObjects& objects, PresentationState& state, PortSurface port,
                        platform::Window* window, const Yv12View& picture, uint32_t openPortCount) {
    DrawOutcome out;
    const uint32_t w = picture.width, h = picture.height;
    // A surface left from a smaller picture (an earlier file, a failed open) is replaced before
    // anything is copied into it.
    if (port.surface != nullptr && !SurfaceHolds(port.surface.get(), w, h) &&
        !CreatePictureSurface(objects, state, port, w, h))
        out.fault = PresentFault::SurfaceNotCreated;

    switch (CopyPicture(port.copy, port.surface.get(), picture)) {
        case CopyResult::NoSurface: out.fault = PresentFault::SurfaceMissing; break;
        case CopyResult::UnsupportedDepth: out.fault = PresentFault::UnsupportedDepth; break;
        case CopyResult::SurfaceLost: state.displayLost = true; break;
        default: break;  // a failed copy leaves the surface's previous contents to be shown
    }

    if (window == nullptr) {
        out.drawn = true;
        return out;
    }
    if (objects.primary == nullptr || port.surface == nullptr || objects.clipper == nullptr) {
        out.fault = PresentFault::SurfaceMissing;
        return out;
    }
    platform::Display& display = *objects.display;
    objects.clipper->SetWindow(window);
    objects.primary->SetClipper(objects.clipper);
    const Rect source{0, 0, static_cast<int32_t>(w), static_cast<int32_t>(h)};
    const Rect target = window->ScreenRect();

    DisplayResult shown;
    if (port.surface->Desc().kind == SurfaceKind::Overlay && openPortCount == 1) {
        if (!(target == state.lastOverlayRect)) {
            state.lastOverlayRect = target;
            PaintColourKey(display, *window);
        }
        shown = display.UpdateOverlay(*port.surface, source, *objects.primary, target, state.overlayColourKey.load());
    } else {
        // The blit covers the painted key: an overlay shown later must paint it again.
        state.lastOverlayRect = Rect{};
        shown = display.Blit(*objects.primary, target, *port.surface, source);
    }
    if (shown == DisplayResult::SurfaceLost) {
        state.displayLost = true;
        return out;
    }
    out.drawn = true;
    return out;
}

bool RestoreSurfaces(const DisplayObjects& objects, PresentationState& state, platform::Surface* portSurface) {
    if (objects.primary != nullptr && objects.primary->IsLost() && objects.primary->Restore() != DisplayResult::Ok)
        return false;
    if (portSurface == nullptr) return false;
    if (portSurface->IsLost() && portSurface->Restore() != DisplayResult::Ok) return false;
    state.displayLost = false;
    // The restored primary has lost the painted key too.
    state.lastOverlayRect = Rect{};
    return true;
}

DrawOutcome ShowPicture(const DisplayObjects& objects, PresentationState& state, PortSurface port,
                        platform::Window* window, const Yv12View& picture, uint32_t openPortCount) {
    if (state.displayLost.load() && !RestoreSurfaces(objects, state, port.surface.get())) return DrawOutcome{};
    return DrawPicture(objects, state, port, window, picture, openPortCount);
}

void PaintColourKey(platform::Display& display, platform::Window& window) {
    display.PaintWindow(window, kOverlayColourKey);
}

}  // namespace kestrel::engine

#include "engine/presentation_port.h"

#include <mutex>

#include "engine/api_work.h"
#include "engine/engine.h"
#include "engine/presentation.h"

namespace kestrel::engine {
namespace {

DisplayObjects Objects(Engine& e) { return {e.display.get(), e.primary.get(), e.clipper.get()}; }

PortSurface Fields(PlayerPort& p) { return {p.pictureSurface, p.pictureCopy, p.surfaceFormatIndicator}; }

Yv12View PictureOf(const PlayerPort& p) { return {p.picture.get(), p.pictureCapacity, p.width, p.height}; }

platform::Window* WindowOf(const PlayerPort& p) { return platform::FromHandle(p.videoWindow.load()); }

void Report(PlayerPort& p, PresentFault fault) {
    switch (fault) {
        case PresentFault::None: break;
        case PresentFault::SurfaceNotCreated: p.Fail(ERR_DISPLAY); break;
        case PresentFault::UnsupportedDepth: p.Fail(ERR_STATE); break;
        case PresentFault::SurfaceMissing: p.Fail(ERR_SURFACE); break;
    }
}

// Caller holds the port's bufferLock (and drawLock when drawing).
void MakeSurface(Engine& e, PlayerPort& p, uint32_t width, uint32_t height) {
    if (!CreatePictureSurface(Objects(e), e.presentation, Fields(p), width, height)) p.Fail(ERR_DISPLAY);
}

}  // namespace

void EnsurePictureSurface(int32_t port) {
    Engine& e = TheEngine();
    PlayerPort& p = Port(port);
    std::lock_guard<std::mutex> hold(p.bufferLock);
    if (p.width == 0 || p.height == 0 || SurfaceHolds(p.pictureSurface.get(), p.width, p.height)) return;
    MakeSurface(e, p, p.width, p.height);
}

void PaintOverlayKey(int32_t port) {
    Engine& e = TheEngine();
    PlayerPort& p = Port(port);
    std::lock_guard<std::mutex> buffers(p.bufferLock);
    platform::Window* window = WindowOf(p);
    if (window == nullptr || e.display == nullptr || p.pictureSurface == nullptr ||
        p.pictureSurface->Desc().kind != platform::SurfaceKind::Overlay)
        return;
    std::lock_guard<std::mutex> drawing(e.drawLock);
    PaintColourKey(*e.display, *window);
    e.presentation.lastOverlayRect = window->ScreenRect();
}

void ShowPicture(int32_t port) {
    Engine& e = TheEngine();
    if (!e.engineReady.load()) return;
    PlayerPort& p = Port(port);
    std::lock_guard<std::mutex> hold(e.drawLock);
    const DrawOutcome shown =
        ShowPicture(Objects(e), e.presentation, Fields(p), WindowOf(p), PictureOf(p), e.openPortCount.load());
    Report(p, shown.fault);
}

// kxRefresh. The port's bufferLock keeps a seek or a play step from changing the picture and
// the surface while they are drawn.
int32_t RedrawPicture(int32_t port) {
    std::lock_guard<std::mutex> hold(Port(port).bufferLock);
    ShowPicture(port);
    return 1;
}

// A picture size increase, under the port's bufferLock.
void ReplacePictureSurface(int32_t port, uint32_t width, uint32_t height) {
    Engine& e = TheEngine();
    PlayerPort& p = Port(port);
    p.pictureSurface.reset();
    if (e.display) MakeSurface(e, p, width, height);
}

}  // namespace kestrel::engine

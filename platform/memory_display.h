// A display without a screen. It keeps a desktop image and the surfaces in memory, draws blits
// (nearest-neighbour stretch, clipped to the clipper's window) and colour-key paints onto the
// desktop, shows an overlay wherever the desktop holds the overlay's key, and composes what a
// viewer would see into the client image of MemoryWindow objects. It can be told to lack
// capabilities, refuse surfaces, fail at any step and lose its surfaces, so that every path of
// the engine's presentation can be exercised headless.
//
// With drawOnThread it draws on a thread of its own, as a toolkit backend does: Blit and
// UpdateOverlay copy the source pixels and return; MemoryDisplayControl::WaitDrawn waits for
// the drawing (windows drawn into must outlive it).
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/display.h"

namespace kestrel::platform {

struct MemoryDisplayConfig {
    bool failCreate = false;   // the factory returns no display
    bool failPrimary = false;
    bool failClipper = false;
    bool failCaps = false;
    DisplayCaps caps;
    uint32_t desktopBits = 32;
    uint32_t desktopWidth = 1280, desktopHeight = 1024;
    std::vector<PixelFormat> refusedFormats;  // CreateSurface fails for these requested formats
    bool refuseOverlays = false;
    std::vector<MemoryKind> refusedMemory;    // CreateSurface fails for these memory kinds
    bool failLocks = false;    // Lock reports Failed
    bool failRestore = false;  // Restore reports Failed and the surface stays lost
    bool failDraws = false;    // Blit and UpdateOverlay report Failed
    bool drawOnThread = false;
};

// State shared by a test and the displays its factory makes.
class MemoryDisplayControl {
public:
    explicit MemoryDisplayControl(MemoryDisplayConfig config = {}) : config_(std::move(config)) {}

    MemoryDisplayConfig Config() const;
    void SetConfig(MemoryDisplayConfig config);
    // Marks every surface made so far (the primaries too) as lost.
    void LoseSurfaces() { lossEpoch_.fetch_add(1); }
    uint32_t LossEpoch() const { return lossEpoch_.load(); }
    // The next n locks report StillDrawing before locks succeed again.
    void StillDrawingFor(uint32_t n) { stillDrawing_.store(n); }
    bool TakeStillDrawing();

    // Every surface description CreateSurface was asked for, in order, with success flags.
    struct Request { SurfaceDesc desc; bool created; };
    std::vector<Request> Requests() const;
    void Record(const Request& r);
    uint32_t displaysCreated() const { return displaysCreated_.load(); }
    void CountDisplay() { displaysCreated_.fetch_add(1); }

    // What the displays were asked to do (successful calls only).
    struct Counts {
        uint32_t blits = 0, overlayUpdates = 0, paints = 0, locks = 0;
        uint32_t openLocks = 0;  // surfaces locked now
    };
    Counts Activity() const;
    void CountBlit() { blits_.fetch_add(1); }
    void CountOverlayUpdate() { overlayUpdates_.fetch_add(1); }
    void CountPaint() { paints_.fetch_add(1); }
    void CountLock(bool locked);

    // Waits until every display has finished the drawing handed to it.
    void WaitDrawn();
    void DrawingQueued();
    void DrawingDone();

private:
    mutable std::mutex lock_;  // guards config_ and requests_
    MemoryDisplayConfig config_;
    std::vector<Request> requests_;
    std::atomic<uint32_t> lossEpoch_{0};
    std::atomic<uint32_t> stillDrawing_{0};
    std::atomic<uint32_t> displaysCreated_{0};
    std::atomic<uint32_t> blits_{0}, overlayUpdates_{0}, paints_{0}, locks_{0}, openLocks_{0};

    std::mutex drawingLock_;  // guards queuedDrawing_
    std::condition_variable drawingDone_;
    uint32_t queuedDrawing_ = 0;
};

DisplayFactory MemoryDisplayFactory(std::shared_ptr<MemoryDisplayControl> control);

// 0x00RRGGBB of one pixel of a locked surface (YUY2 through the BT.601 video-range matrix).
uint32_t PixelToRgb(const LockedPixels& pixels, uint32_t x, uint32_t y);

}  // namespace kestrel::platform

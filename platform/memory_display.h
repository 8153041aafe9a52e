// A display without a screen. It keeps surfaces in memory, draws blits and overlays into the
// client image of MemoryWindow objects, and can be told to lack capabilities, refuse surfaces,
// fail at any creation step and lose its surfaces, so that every path of the engine's
// presentation can be exercised headless.
#pragma once

#include <atomic>
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
    std::vector<PixelFormat> refusedFormats;  // CreateSurface fails for these requested formats
    bool refuseOverlays = false;
    std::vector<MemoryKind> refusedMemory;    // CreateSurface fails for these memory kinds
};

// State shared by a test and the displays its factory makes.
class MemoryDisplayControl {
public:
    explicit MemoryDisplayControl(MemoryDisplayConfig config = {}) : config_(std::move(config)) {}

    MemoryDisplayConfig Config() const;
    void SetConfig(MemoryDisplayConfig config);
    // Marks every surface made so far as lost.
    void LoseSurfaces() { lossEpoch_.fetch_add(1); }
    uint32_t LossEpoch() const { return lossEpoch_.load(); }
    // Every surface description CreateSurface was asked for, in order, with success flags.
    struct Request { SurfaceDesc desc; bool created; };
    std::vector<Request> Requests() const;
    void Record(const Request& r);
    uint32_t displaysCreated() const { return displaysCreated_.load(); }
    void CountDisplay() { displaysCreated_.fetch_add(1); }

private:
    mutable std::mutex lock_;  // guards config_ and requests_
    MemoryDisplayConfig config_;
    std::vector<Request> requests_;
    std::atomic<uint32_t> lossEpoch_{0};
    std::atomic<uint32_t> displaysCreated_{0};
};

DisplayFactory MemoryDisplayFactory(std::shared_ptr<MemoryDisplayControl> control);

// 0x00RRGGBB of one pixel of a locked surface (YUY2 through the BT.601 video-range matrix).
uint32_t PixelToRgb(const LockedPixels& pixels, uint32_t x, uint32_t y);

}  // namespace kestrel::platform

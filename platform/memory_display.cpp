#include "platform/memory_display.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <thread>

#include "platform/window.h"

namespace kestrel::platform {

uint32_t BitsPerPixel(PixelFormat format) {
    switch (format) {
        case PixelFormat::YUY2: return 16;
        case PixelFormat::RGB565: return 16;
        case PixelFormat::RGB24: return 24;
        case PixelFormat::RGB32: return 32;
        case PixelFormat::Palette8: return 8;
        case PixelFormat::Unspecified: break;
    }
    return 0;
}

PixelFormat DesktopFormat(uint32_t bitsPerPixel) {
    switch (bitsPerPixel) {
        case 16: return PixelFormat::RGB565;
        case 24: return PixelFormat::RGB24;
        case 32: return PixelFormat::RGB32;
        default: return PixelFormat::Palette8;
    }
}

MemoryDisplayConfig MemoryDisplayControl::Config() const {
    std::lock_guard<std::mutex> hold(lock_);
    return config_;
}

void MemoryDisplayControl::SetConfig(MemoryDisplayConfig config) {
    std::lock_guard<std::mutex> hold(lock_);
    config_ = std::move(config);
}

bool MemoryDisplayControl::TakeStillDrawing() {
    uint32_t n = stillDrawing_.load();
    while (n > 0 && !stillDrawing_.compare_exchange_weak(n, n - 1)) {
    }
    return n > 0;
}

std::vector<MemoryDisplayControl::Request> MemoryDisplayControl::Requests() const {
    std::lock_guard<std::mutex> hold(lock_);
    return requests_;
}

void MemoryDisplayControl::Record(const Request& r) {
    std::lock_guard<std::mutex> hold(lock_);
    requests_.push_back(r);
}

MemoryDisplayControl::Counts MemoryDisplayControl::Activity() const {
    return Counts{blits_.load(), overlayUpdates_.load(), paints_.load(), locks_.load(), openLocks_.load()};
}

void MemoryDisplayControl::CountLock(bool locked) {
    if (locked) {
        locks_.fetch_add(1);
        openLocks_.fetch_add(1);
    } else {
        openLocks_.fetch_sub(1);
    }
}

void MemoryDisplayControl::WaitDrawn() {
    std::unique_lock<std::mutex> hold(drawingLock_);
    drawingDone_.wait(hold, [&] { return queuedDrawing_ == 0; });
}

void MemoryDisplayControl::DrawingQueued() {
    std::lock_guard<std::mutex> hold(drawingLock_);
    ++queuedDrawing_;
}

void MemoryDisplayControl::DrawingDone() {
    {
        std::lock_guard<std::mutex> hold(drawingLock_);
        --queuedDrawing_;
    }
    drawingDone_.notify_all();
}

namespace {

uint8_t Clamp255(int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }

uint32_t YuvToRgb(int y, int u, int v) {
    const int yy = 9535 * (y - 16), uu = u - 128, vv = v - 128;
    const int r = (yy + 13074 * vv) >> 13;
    const int g = (yy - 3203 * uu - 6660 * vv) >> 13;
    const int b = (yy + 16531 * uu) >> 13;
    return uint32_t{Clamp255(r)} << 16 | uint32_t{Clamp255(g)} << 8 | Clamp255(b);
}

// 0x00BBGGRR (a GDI colour) to 0x00RRGGBB.
uint32_t ColorrefToRgb(uint32_t c) { return (c & 0xFF) << 16 | (c & 0xFF00) | (c >> 16 & 0xFF); }

uint32_t RgbToFormat(uint32_t rgb, PixelFormat format) {
    const uint32_t r = rgb >> 16 & 0xFF, g = rgb >> 8 & 0xFF, b = rgb & 0xFF;
    switch (format) {
        case PixelFormat::RGB565: return (r & 0xF8) << 8 | (g & 0xFC) << 3 | b >> 3;
        case PixelFormat::RGB24:
        case PixelFormat::RGB32: return rgb;
        case PixelFormat::Palette8: return (r + g + b) / 3;
        default: return rgb;
    }
}

uint32_t Expand565(uint32_t v) {
    const uint32_t r = v >> 11 & 31, g = v >> 5 & 63, b = v & 31;
    return (r << 3 | r >> 2) << 16 | (g << 2 | g >> 4) << 8 | (b << 3 | b >> 2);
}

uint32_t Grey(uint32_t v) { return v << 16 | v << 8 | v; }

// The colour a desktop of this format really holds for an RGB value.
uint32_t Quantise(uint32_t rgb, PixelFormat format) {
    switch (format) {
        case PixelFormat::RGB565: return Expand565(RgbToFormat(rgb, format));
        case PixelFormat::Palette8: return Grey(RgbToFormat(rgb, format));
        default: return rgb;
    }
}

class MemoryClipper final : public Clipper {
public:
    void SetWindow(Window* window) override { window_ = window; }
    Window* ClipWindow() const override { return window_; }

private:
    Window* window_ = nullptr;
};

class MemorySurface final : public Surface {
public:
    MemorySurface(const SurfaceDesc& desc, std::shared_ptr<MemoryDisplayControl> control)
        : desc_(desc), control_(std::move(control)), epoch_(control_->LossEpoch()) {
        if (desc.kind == SurfaceKind::Primary) return;  // the desktop is the display's own
        const uint32_t bytes = (BitsPerPixel(desc.format) + 7) / 8;
        pitch_ = static_cast<int32_t>((desc.width * bytes + 15) & ~15u);
        pixels_.assign(size_t(pitch_) * desc.height, 0);
    }
    ~MemorySurface() override {
        if (locked_) control_->CountLock(false);
    }
    const SurfaceDesc& Desc() const override { return desc_; }
    DisplayResult Lock(LockedPixels& out) override {
        if (IsLost()) return DisplayResult::SurfaceLost;
        if (pixels_.empty()) return DisplayResult::Unsupported;
        if (locked_ || control_->Config().failLocks) return DisplayResult::Failed;
        if (control_->TakeStillDrawing()) return DisplayResult::StillDrawing;
        locked_ = true;
        control_->CountLock(true);
        out = View();
        return DisplayResult::Ok;
    }
    void Unlock() override {
        if (!locked_) return;
        locked_ = false;
        control_->CountLock(false);
    }
    bool IsLost() const override { return epoch_ != control_->LossEpoch(); }
    DisplayResult Restore() override {
        if (control_->Config().failRestore) return DisplayResult::Failed;
        epoch_ = control_->LossEpoch();
        return DisplayResult::Ok;
    }
    void SetClipper(Clipper* clipper) override { clipper_ = clipper; }

    LockedPixels View() {
        return LockedPixels{pixels_.data(), pitch_, desc_.width, desc_.height, desc_.format,
                            BitsPerPixel(desc_.format)};
    }
    bool Locked() const { return locked_; }
    Window* ClipWindow() const { return clipper_ ? clipper_->ClipWindow() : nullptr; }
    const std::vector<uint8_t>& Pixels() const { return pixels_; }

private:
    SurfaceDesc desc_;
    std::shared_ptr<MemoryDisplayControl> control_;
    uint32_t epoch_;
    int32_t pitch_ = 0;
    std::vector<uint8_t> pixels_;
    Clipper* clipper_ = nullptr;
    bool locked_ = false;
};

// A copy of a surface's pixels, taken when a draw is asked for, so the caller may overwrite the
// surface at once.
struct Picture {
    std::vector<uint8_t> pixels;
    LockedPixels view;

    explicit Picture(MemorySurface& s) : pixels(s.Pixels()), view(s.View()) { view.data = pixels.data(); }
    Picture() = default;
    uint32_t Rgb(int64_t x, int64_t y) const { return PixelToRgb(view, uint32_t(x), uint32_t(y)); }
};

Rect Intersect(const Rect& a, const Rect& b) {
    return Rect{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                std::min(a.bottom, b.bottom)};
}

// Nearest-neighbour position in the source for a position in the destination.
int64_t SourceAt(int32_t d, int32_t dstStart, int32_t dstSize, int32_t srcStart, int32_t srcSize) {
    return srcStart + int64_t(d - dstStart) * srcSize / dstSize;
}

class MemoryDisplay final : public Display {
public:
    explicit MemoryDisplay(std::shared_ptr<MemoryDisplayControl> control) : control_(std::move(control)) {
        const MemoryDisplayConfig c = control_->Config();
        desktopFormat_ = DesktopFormat(c.desktopBits);
        desktopRect_ = Rect{0, 0, int32_t(c.desktopWidth), int32_t(c.desktopHeight)};
        desktop_.assign(size_t{c.desktopWidth} * c.desktopHeight, 0);
        if (c.drawOnThread) worker_ = std::thread([this] { Work(); });
    }
    ~MemoryDisplay() override {
        if (!worker_.joinable()) return;
        {
            std::lock_guard<std::mutex> hold(queueLock_);
            stopping_ = true;
        }
        queued_.notify_all();
        worker_.join();
    }

    DisplayResult GetCaps(DisplayCaps& out) override {
        const MemoryDisplayConfig c = control_->Config();
        if (c.failCaps) return DisplayResult::Failed;
        out = c.caps;
        return DisplayResult::Ok;
    }
    DisplayResult CreatePrimary(std::unique_ptr<Surface>& out) override {
        if (control_->Config().failPrimary) return DisplayResult::Failed;
        const SurfaceDesc d{SurfaceKind::Primary, MemoryKind::Video, desktopFormat_, uint32_t(desktopRect_.right),
                            uint32_t(desktopRect_.bottom)};
        out = std::make_unique<MemorySurface>(d, control_);
        return DisplayResult::Ok;
    }
    DisplayResult CreateClipper(std::unique_ptr<Clipper>& out) override {
        if (control_->Config().failClipper) return DisplayResult::Failed;
        out = std::make_unique<MemoryClipper>();
        return DisplayResult::Ok;
    }
    DisplayResult CreateSurface(const SurfaceDesc& desc, std::unique_ptr<Surface>& out) override {
        const MemoryDisplayConfig c = control_->Config();
        bool ok = desc.width > 0 && desc.height > 0 && desc.kind != SurfaceKind::Primary;
        if (std::find(c.refusedFormats.begin(), c.refusedFormats.end(), desc.format) != c.refusedFormats.end())
            ok = false;
        if (std::find(c.refusedMemory.begin(), c.refusedMemory.end(), desc.memory) != c.refusedMemory.end())
            ok = false;
        if (desc.kind == SurfaceKind::Overlay && (c.refuseOverlays || !c.caps.overlayFourcc)) ok = false;
        if (desc.format == PixelFormat::YUY2 && !(c.caps.bltFourcc || c.caps.overlayFourcc)) ok = false;
        control_->Record({desc, ok});
        if (!ok) return DisplayResult::Failed;
        SurfaceDesc real = desc;
        if (real.format == PixelFormat::Unspecified) real.format = desktopFormat_;
        out = std::make_unique<MemorySurface>(real, control_);
        return DisplayResult::Ok;
    }
    DisplayResult Blit(Surface& primary, const Rect& dstRect, Surface& source, const Rect& srcRect) override {
        auto& src = static_cast<MemorySurface&>(source);
        if (const DisplayResult r = Usable(primary, src); r != DisplayResult::Ok) return r;
        Window* window = static_cast<MemorySurface&>(primary).ClipWindow();
        const Rect clip = window ? Intersect(window->ScreenRect(), desktopRect_) : desktopRect_;
        control_->CountBlit();
        Run([this, window, clip, dstRect, srcRect, picture = Picture(src)] {
            StretchOntoDesktop(picture, srcRect, dstRect, clip);
            Compose(window);
        });
        return DisplayResult::Ok;
    }
    DisplayResult UpdateOverlay(Surface& overlay, const Rect& srcRect, Surface& primary, const Rect& dstRect,
                                uint32_t colourKey) override {
        auto& src = static_cast<MemorySurface&>(overlay);
        if (const DisplayResult r = Usable(primary, src); r != DisplayResult::Ok) return r;
        if (overlay.Desc().kind != SurfaceKind::Overlay) return DisplayResult::Failed;
        Window* window = static_cast<MemorySurface&>(primary).ClipWindow();
        control_->CountOverlayUpdate();
        Run([this, window, srcRect, dstRect, colourKey, picture = Picture(src)]() mutable {
            overlay_ = Overlay{true, std::move(picture), srcRect, dstRect, colourKey};
            Compose(window);
        });
        return DisplayResult::Ok;
    }
    void PaintWindow(Window& window, uint32_t colorref) override {
        const Rect area = Intersect(window.ScreenRect(), desktopRect_);
        control_->CountPaint();
        Run([this, target = &window, area, colour = Quantise(ColorrefToRgb(colorref), desktopFormat_)] {
            for (int32_t y = area.top; y < area.bottom; ++y)
                std::fill_n(desktop_.begin() + DesktopIndex(area.left, y), std::max(0, area.Width()), colour);
            Compose(target);
        });
    }
    uint32_t MatchColour(Surface& primary, uint32_t colorref) override {
        return RgbToFormat(ColorrefToRgb(colorref), primary.Desc().format);
    }

private:
    struct Overlay {
        bool shown = false;
        Picture picture;
        Rect src, dst;
        uint32_t key = 0;
    };

    DisplayResult Usable(Surface& primary, MemorySurface& source) {
        if (primary.IsLost() || source.IsLost()) return DisplayResult::SurfaceLost;
        if (source.Locked() || control_->Config().failDraws) return DisplayResult::Failed;
        return DisplayResult::Ok;
    }

    size_t DesktopIndex(int32_t x, int32_t y) const { return size_t(y) * size_t(desktopRect_.right) + size_t(x); }

    // Runs a drawing now, or hands it to the drawing thread.
    void Run(std::function<void()> drawing) {
        if (!worker_.joinable()) {
            std::lock_guard<std::mutex> hold(desktopLock_);
            drawing();
            return;
        }
        control_->DrawingQueued();
        {
            std::lock_guard<std::mutex> hold(queueLock_);
            queue_.push_back(std::move(drawing));
        }
        queued_.notify_one();
    }

    void Work() {
        for (;;) {
            std::function<void()> drawing;
            {
                std::unique_lock<std::mutex> hold(queueLock_);
                queued_.wait(hold, [&] { return stopping_ || !queue_.empty(); });
                if (queue_.empty()) return;
                drawing = std::move(queue_.front());
                queue_.pop_front();
            }
            {
                std::lock_guard<std::mutex> hold(desktopLock_);
                drawing();
            }
            control_->DrawingDone();
        }
    }

    void StretchOntoDesktop(const Picture& picture, const Rect& srcRect, const Rect& dstRect, const Rect& clip) {
        if (dstRect.Empty() || srcRect.Empty()) return;
        const Rect area = Intersect(dstRect, clip);
        for (int32_t y = area.top; y < area.bottom; ++y) {
            const int64_t sy = SourceAt(y, dstRect.top, dstRect.Height(), srcRect.top, srcRect.Height());
            if (sy < 0 || sy >= picture.view.height) continue;
            for (int32_t x = area.left; x < area.right; ++x) {
                const int64_t sx = SourceAt(x, dstRect.left, dstRect.Width(), srcRect.left, srcRect.Width());
                if (sx < 0 || sx >= picture.view.width) continue;
                desktop_[DesktopIndex(x, y)] = Quantise(picture.Rgb(sx, sy), desktopFormat_);
            }
        }
    }

    // What a viewer sees in the window: the desktop, and the overlay where the desktop holds
    // its colour key.
    void Compose(Window* window) {
        auto* target = dynamic_cast<MemoryWindow*>(window);
        if (target == nullptr) return;
        const Rect rect = target->ScreenRect();
        const Overlay& o = overlay_;
        const bool overlayShown = o.shown && !o.dst.Empty() && !o.src.Empty();
        target->WithImage([&](std::vector<uint32_t>& image, int32_t iw, int32_t ih) {
            if (iw != rect.Width() || ih != rect.Height()) return;  // moved meanwhile
            for (int32_t wy = 0; wy < ih; ++wy) {
                const int32_t y = rect.top + wy;
                for (int32_t wx = 0; wx < iw; ++wx) {
                    const int32_t x = rect.left + wx;
                    const bool onDesktop = x >= 0 && y >= 0 && x < desktopRect_.right && y < desktopRect_.bottom;
                    uint32_t shown = onDesktop ? desktop_[DesktopIndex(x, y)] : 0;
                    if (overlayShown && onDesktop && x >= o.dst.left && x < o.dst.right && y >= o.dst.top &&
                        y < o.dst.bottom && RgbToFormat(shown, desktopFormat_) == o.key) {
                        const int64_t sx = SourceAt(x, o.dst.left, o.dst.Width(), o.src.left, o.src.Width());
                        const int64_t sy = SourceAt(y, o.dst.top, o.dst.Height(), o.src.top, o.src.Height());
                        if (sx >= 0 && sy >= 0 && sx < o.picture.view.width && sy < o.picture.view.height)
                            shown = Quantise(o.picture.Rgb(sx, sy), desktopFormat_);
                    }
                    image[size_t(wy) * size_t(iw) + size_t(wx)] = shown;
                }
            }
        });
    }

    std::shared_ptr<MemoryDisplayControl> control_;
    PixelFormat desktopFormat_;
    Rect desktopRect_;

    std::mutex desktopLock_;  // guards desktop_ and overlay_
    std::vector<uint32_t> desktop_;
    Overlay overlay_;

    std::mutex queueLock_;  // guards queue_ and stopping_
    std::condition_variable queued_;
    std::deque<std::function<void()>> queue_;
    bool stopping_ = false;
    std::thread worker_;
};

}  // namespace

uint32_t PixelToRgb(const LockedPixels& px, uint32_t x, uint32_t y) {
    const uint8_t* row = px.data + size_t(y) * size_t(px.pitch);
    switch (px.format) {
        case PixelFormat::YUY2: {
            const uint8_t* pair = row + (x & ~1u) * 2;
            return YuvToRgb(pair[(x & 1) ? 2 : 0], pair[1], pair[3]);
        }
        case PixelFormat::RGB565: return Expand565(row[x * 2] | uint32_t{row[x * 2 + 1]} << 8);
        case PixelFormat::RGB24: {
            const uint8_t* p = row + x * 3;
            return uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
        }
        case PixelFormat::RGB32: {
            const uint8_t* p = row + x * 4;
            return uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
        }
        case PixelFormat::Palette8: return Grey(row[x]);
        case PixelFormat::Unspecified: break;
    }
    return 0;
}

DisplayFactory MemoryDisplayFactory(std::shared_ptr<MemoryDisplayControl> control) {
    return [control]() -> std::unique_ptr<Display> {
        if (control->Config().failCreate) return nullptr;
        control->CountDisplay();
        return std::make_unique<MemoryDisplay>(control);
    };
}

}  // namespace kestrel::platform

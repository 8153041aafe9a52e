#include "platform/memory_display.h"

#include <algorithm>
#include <type_traits>

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

std::vector<MemoryDisplayControl::Request> MemoryDisplayControl::Requests() const {
    std::lock_guard<std::mutex> hold(lock_);
    return requests_;
}

void MemoryDisplayControl::Record(const Request& r) {
    std::lock_guard<std::mutex> hold(lock_);
    requests_.push_back(r);
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
        const uint32_t bytes = (BitsPerPixel(desc.format) + 7) / 8;
        pitch_ = static_cast<int32_t>((desc.width * bytes + 15) & ~15u);
        pixels_.assign(size_t(pitch_) * desc.height, 0);
    }
    const SurfaceDesc& Desc() const override { return desc_; }
    DisplayResult Lock(LockedPixels& out) override {
        if (IsLost()) return DisplayResult::SurfaceLost;
        out = View();
        return DisplayResult::Ok;
    }
    void Unlock() override {}
    bool IsLost() const override { return epoch_ != control_->LossEpoch(); }
    DisplayResult Restore() override {
        epoch_ = control_->LossEpoch();
        return DisplayResult::Ok;
    }
    void SetClipper(Clipper* clipper) override { clipper_ = clipper; }

    LockedPixels View() {
        return LockedPixels{pixels_.data(), pitch_, desc_.width, desc_.height, desc_.format,
                            BitsPerPixel(desc_.format)};
    }
    Clipper* clipper() const { return clipper_; }

private:
    SurfaceDesc desc_;
    std::shared_ptr<MemoryDisplayControl> control_;
    uint32_t epoch_;
    int32_t pitch_ = 0;
    std::vector<uint8_t> pixels_;
    Clipper* clipper_ = nullptr;
};

class MemoryDisplay final : public Display {
public:
    explicit MemoryDisplay(std::shared_ptr<MemoryDisplayControl> control) : control_(std::move(control)) {}

    DisplayResult GetCaps(DisplayCaps& out) override {
        const MemoryDisplayConfig c = control_->Config();
        if (c.failCaps) return DisplayResult::Failed;
        out = c.caps;
        return DisplayResult::Ok;
    }
    DisplayResult CreatePrimary(std::unique_ptr<Surface>& out) override {
        const MemoryDisplayConfig c = control_->Config();
        if (c.failPrimary) return DisplayResult::Failed;
        SurfaceDesc d{SurfaceKind::Primary, MemoryKind::Video, DesktopFormat(c.desktopBits), 1, 1};
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
        if (real.format == PixelFormat::Unspecified) real.format = DesktopFormat(c.desktopBits);
        out = std::make_unique<MemorySurface>(real, control_);
        return DisplayResult::Ok;
    }
    DisplayResult Blit(Surface& primary, const Rect& dstRect, Surface& source, const Rect& srcRect) override {
        if (primary.IsLost() || source.IsLost()) return DisplayResult::SurfaceLost;
        auto& p = static_cast<MemorySurface&>(primary);
        Window* w = p.clipper() ? p.clipper()->ClipWindow() : nullptr;
        auto* target = dynamic_cast<MemoryWindow*>(w);
        if (target == nullptr) return DisplayResult::Ok;  // nothing visible to draw into
        Draw(*target, dstRect, static_cast<MemorySurface&>(source), srcRect, nullptr);
        return DisplayResult::Ok;
    }
    DisplayResult UpdateOverlay(Surface& overlay, const Rect& srcRect, Surface& primary, const Rect& dstRect,
                                uint32_t colourKey) override {
        if (primary.IsLost() || overlay.IsLost()) return DisplayResult::SurfaceLost;
        if (overlay.Desc().kind != SurfaceKind::Overlay) return DisplayResult::Failed;
        auto& p = static_cast<MemorySurface&>(primary);
        Window* w = p.clipper() ? p.clipper()->ClipWindow() : nullptr;
        auto* target = dynamic_cast<MemoryWindow*>(w);
        if (target == nullptr) return DisplayResult::Ok;
        const PixelFormat desktop = primary.Desc().format;
        Draw(*target, dstRect, static_cast<MemorySurface&>(overlay), srcRect,
             [&](uint32_t shown) { return RgbToFormat(shown, desktop) == colourKey; });
        return DisplayResult::Ok;
    }
    void PaintWindow(Window& window, uint32_t colorref) override {
        if (auto* target = dynamic_cast<MemoryWindow*>(&window)) {
            const uint32_t rgb = ColorrefToRgb(colorref);
            target->WithImage([&](std::vector<uint32_t>& image, int32_t, int32_t) {
                std::fill(image.begin(), image.end(), rgb);
            });
        }
    }
    uint32_t MatchColour(Surface& primary, uint32_t colorref) override {
        return RgbToFormat(ColorrefToRgb(colorref), primary.Desc().format);
    }

private:
    // Nearest-neighbour stretch of srcRect into dstRect, clipped to the window's screen rectangle;
    // keep(x) decides per destination pixel whether it may be drawn (the overlay's colour key).
    template <typename Keep>
    void Draw(MemoryWindow& window, const Rect& dstRect, MemorySurface& source, const Rect& srcRect, Keep keep) {
        const LockedPixels src = source.View();
        const Rect win = window.ScreenRect();
        if (dstRect.Empty() || srcRect.Empty()) return;
        const int32_t x0 = std::max(dstRect.left, win.left), x1 = std::min(dstRect.right, win.right);
        const int32_t y0 = std::max(dstRect.top, win.top), y1 = std::min(dstRect.bottom, win.bottom);
        window.WithImage([&](std::vector<uint32_t>& image, int32_t iw, int32_t ih) {
            for (int32_t y = y0; y < y1; ++y) {
                const int32_t wy = y - win.top;
                if (wy < 0 || wy >= ih) continue;
                const int64_t sy = srcRect.top + int64_t(y - dstRect.top) * srcRect.Height() / dstRect.Height();
                for (int32_t x = x0; x < x1; ++x) {
                    const int32_t wx = x - win.left;
                    if (wx < 0 || wx >= iw) continue;
                    const int64_t sx = srcRect.left + int64_t(x - dstRect.left) * srcRect.Width() / dstRect.Width();
                    if (sx < 0 || sy < 0 || sx >= src.width || sy >= src.height) continue;
                    uint32_t& out = image[size_t(wy) * size_t(iw) + size_t(wx)];
                    if constexpr (!std::is_same_v<Keep, std::nullptr_t>) {
                        if (!keep(out)) continue;
                    }
                    out = PixelToRgb(src, uint32_t(sx), uint32_t(sy));
                }
            }
        });
    }

    std::shared_ptr<MemoryDisplayControl> control_;
};

}  // namespace

uint32_t PixelToRgb(const LockedPixels& px, uint32_t x, uint32_t y) {
    const uint8_t* row = px.data + size_t(y) * size_t(px.pitch);
    switch (px.format) {
        case PixelFormat::YUY2: {
            const uint8_t* pair = row + (x & ~1u) * 2;
            return YuvToRgb(pair[(x & 1) ? 2 : 0], pair[1], pair[3]);
        }
        case PixelFormat::RGB565: {
            const uint32_t v = row[x * 2] | uint32_t{row[x * 2 + 1]} << 8;
            const uint32_t r = v >> 11 & 31, g = v >> 5 & 63, b = v & 31;
            return (r << 3 | r >> 2) << 16 | (g << 2 | g >> 4) << 8 | (b << 3 | b >> 2);
        }
        case PixelFormat::RGB24: {
            const uint8_t* p = row + x * 3;
            return uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
        }
        case PixelFormat::RGB32: {
            const uint8_t* p = row + x * 4;
            return uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
        }
        case PixelFormat::Palette8: {
            const uint32_t v = row[x];
            return v << 16 | v << 8 | v;
        }
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

#include "app/qt_display.h"

#include <vector>

#include "app/video_window.h"

namespace kestrel::app {
namespace {

using platform::DisplayResult;
using platform::PixelFormat;

// Large enough for any picture a recording can hold, small enough to refuse nonsense.
constexpr uint32_t kMaxSurfaceSide = 4096;

class QtClipper final : public platform::Clipper {
public:
    void SetWindow(platform::Window* window) override { window_ = window; }
    platform::Window* ClipWindow() const override { return window_; }

private:
    platform::Window* window_ = nullptr;
};

class QtSurface final : public platform::Surface {
public:
    QtSurface(const platform::SurfaceDesc& desc, std::shared_ptr<DisplayLink> link)
        : desc_(desc), link_(std::move(link)), epoch_(link_->LossEpoch()) {
        const uint32_t bytes = platform::BitsPerPixel(desc.format) / 8;
        pitch_ = static_cast<int32_t>((desc.width * bytes + 15) & ~15u);
        pixels_.assign(size_t(pitch_) * desc.height, 0);
    }
    const platform::SurfaceDesc& Desc() const override { return desc_; }
    DisplayResult Lock(platform::LockedPixels& out) override {
        if (IsLost()) return DisplayResult::SurfaceLost;
        out = View();
        return DisplayResult::Ok;
    }
    void Unlock() override {}
    bool IsLost() const override { return epoch_ != link_->LossEpoch(); }
    DisplayResult Restore() override {
        if (!link_->Available()) return DisplayResult::Failed;
        epoch_ = link_->LossEpoch();
        return DisplayResult::Ok;
    }
    void SetClipper(platform::Clipper* clipper) override { clipper_ = clipper; }

    platform::LockedPixels View() {
        return platform::LockedPixels{pixels_.data(), pitch_, desc_.width, desc_.height, desc_.format,
                                      platform::BitsPerPixel(desc_.format)};
    }
    platform::Clipper* clipper() const { return clipper_; }

private:
    platform::SurfaceDesc desc_;
    std::shared_ptr<DisplayLink> link_;
    uint32_t epoch_;
    int32_t pitch_ = 0;
    std::vector<uint8_t> pixels_;
    platform::Clipper* clipper_ = nullptr;
};

VideoWindow* TargetOf(platform::Surface& primary) {
    platform::Clipper* clipper = static_cast<QtSurface&>(primary).clipper();
    return clipper ? dynamic_cast<VideoWindow*>(clipper->ClipWindow()) : nullptr;
}

// 0x00BBGGRR (a GDI colour value) to 0xRRGGBB.
uint32_t ColorrefToRgb(uint32_t c) { return (c & 0xFF) << 16 | (c & 0xFF00) | (c >> 16 & 0xFF); }

class QtDisplay final : public platform::Display {
public:
    QtDisplay(VideoKind kind, std::shared_ptr<DisplayLink> link) : kind_(kind), link_(std::move(link)) {}

    DisplayResult GetCaps(platform::DisplayCaps& out) override {
        out = {};
        out.bltStretch = true;
        out.bltFourcc = kind_ == VideoKind::OpenGL;
        out.localVidMem = true;
        return DisplayResult::Ok;
    }
    DisplayResult CreatePrimary(std::unique_ptr<platform::Surface>& out) override {
        const platform::SurfaceDesc d{platform::SurfaceKind::Primary, platform::MemoryKind::Video, PixelFormat::RGB32, 1, 1};
        out = std::make_unique<QtSurface>(d, link_);
        return DisplayResult::Ok;
    }
    DisplayResult CreateClipper(std::unique_ptr<platform::Clipper>& out) override {
        out = std::make_unique<QtClipper>();
        return DisplayResult::Ok;
    }
    DisplayResult CreateSurface(const platform::SurfaceDesc& desc, std::unique_ptr<platform::Surface>& out) override {
        if (desc.kind != platform::SurfaceKind::OffscreenPlain) return DisplayResult::Failed;  // no overlays
        if (desc.width == 0 || desc.height == 0 || desc.width > kMaxSurfaceSide || desc.height > kMaxSurfaceSide)
            return DisplayResult::Failed;
        platform::SurfaceDesc real = desc;
        switch (desc.format) {
            case PixelFormat::Unspecified: real.format = PixelFormat::RGB32; break;  // the desktop's format
            case PixelFormat::YUY2:
                if (kind_ != VideoKind::OpenGL) return DisplayResult::Failed;
                break;
            case PixelFormat::RGB565:
                // Without a shader the picture is drawn as it is: 16 bits would show banding, so
                // ask for the desktop's 32 bits instead.
                if (kind_ != VideoKind::OpenGL) return DisplayResult::Failed;
                break;
            case PixelFormat::RGB24:
            case PixelFormat::RGB32: break;
            case PixelFormat::Palette8: return DisplayResult::Failed;
        }
        out = std::make_unique<QtSurface>(real, link_);
        return DisplayResult::Ok;
    }
    DisplayResult Blit(platform::Surface& primary, const platform::Rect& dstRect, platform::Surface& source,
                       const platform::Rect& srcRect) override {
        if (primary.IsLost() || source.IsLost()) return DisplayResult::SurfaceLost;
        if (source.Desc().kind == platform::SurfaceKind::Primary) return DisplayResult::Failed;
        VideoWindow* target = TargetOf(primary);
        if (target == nullptr || dstRect.Empty() || srcRect.Empty()) return DisplayResult::Ok;  // nothing visible
        target->Present(static_cast<QtSurface&>(source).View(), srcRect, dstRect);
        return DisplayResult::Ok;
    }
    DisplayResult UpdateOverlay(platform::Surface&, const platform::Rect&, platform::Surface&, const platform::Rect&,
                                uint32_t) override {
        return DisplayResult::Unsupported;
    }
    void PaintWindow(platform::Window& window, uint32_t colorref) override {
        if (auto* video = dynamic_cast<VideoWindow*>(&window)) video->Fill(ColorrefToRgb(colorref));
    }
    uint32_t MatchColour(platform::Surface&, uint32_t colorref) override { return ColorrefToRgb(colorref); }

private:
    VideoKind kind_;
    std::shared_ptr<DisplayLink> link_;
};

}  // namespace

platform::DisplayFactory QtDisplayFactory(VideoKind kind, std::shared_ptr<DisplayLink> link) {
    return [kind, link]() -> std::unique_ptr<platform::Display> { return std::make_unique<QtDisplay>(kind, link); };
}

}  // namespace kestrel::app

#include <gtest/gtest.h>

#include "platform/memory_display.h"

namespace kestrel::platform {
namespace {

struct Rig {
    std::shared_ptr<MemoryDisplayControl> control;
    std::unique_ptr<Display> display;
    std::unique_ptr<Surface> primary;
    std::unique_ptr<Clipper> clipper;
    explicit Rig(MemoryDisplayConfig config) : control(std::make_shared<MemoryDisplayControl>(config)) {
        display = MemoryDisplayFactory(control)();
        if (!display) return;
        EXPECT_EQ(display->CreatePrimary(primary), DisplayResult::Ok);
        EXPECT_EQ(display->CreateClipper(clipper), DisplayResult::Ok);
        primary->SetClipper(clipper.get());
    }
};

TEST(MemoryDisplay, EachCreationStepFailsOnDemand) {
    MemoryDisplayConfig c;
    c.failCreate = true;
    auto control = std::make_shared<MemoryDisplayControl>(c);
    EXPECT_EQ(MemoryDisplayFactory(control)(), nullptr);

    c = {};
    c.failPrimary = true;
    c.failClipper = true;
    c.failCaps = true;
    control->SetConfig(c);
    auto display = MemoryDisplayFactory(control)();
    ASSERT_NE(display, nullptr);
    std::unique_ptr<Surface> primary;
    std::unique_ptr<Clipper> clipper;
    DisplayCaps caps;
    EXPECT_EQ(display->CreatePrimary(primary), DisplayResult::Failed);
    EXPECT_EQ(display->CreateClipper(clipper), DisplayResult::Failed);
    EXPECT_EQ(display->GetCaps(caps), DisplayResult::Failed);
    EXPECT_EQ(primary, nullptr);
}

TEST(MemoryDisplay, SurfacesAreRefusedAsConfiguredAndTakeTheDesktopFormatWhenUnspecified) {
    MemoryDisplayConfig c;
    c.desktopBits = 24;
    c.refusedFormats = {PixelFormat::RGB565};
    Rig rig(c);
    std::unique_ptr<Surface> s;
    EXPECT_EQ(rig.display->CreateSurface({SurfaceKind::OffscreenPlain, MemoryKind::Video, PixelFormat::RGB565, 8, 8}, s),
              DisplayResult::Failed);
    EXPECT_EQ(rig.display->CreateSurface({SurfaceKind::OffscreenPlain, MemoryKind::Video, PixelFormat::YUY2, 8, 8}, s),
              DisplayResult::Failed) << "no YUY2 without the capability";
    EXPECT_EQ(rig.display->CreateSurface({SurfaceKind::Overlay, MemoryKind::Video, PixelFormat::Unspecified, 8, 8}, s),
              DisplayResult::Failed) << "no overlay without the capability";
    ASSERT_EQ(rig.display->CreateSurface({SurfaceKind::OffscreenPlain, MemoryKind::Video, PixelFormat::Unspecified, 8, 8}, s),
              DisplayResult::Ok);
    EXPECT_EQ(s->Desc().format, PixelFormat::RGB24);
    EXPECT_EQ(rig.control->Requests().size(), 4u);
    EXPECT_FALSE(rig.control->Requests()[0].created);
    EXPECT_TRUE(rig.control->Requests()[3].created);
}

TEST(MemoryDisplay, LostSurfacesRefuseLocksAndBlitsUntilRestored) {
    Rig rig({});
    std::unique_ptr<Surface> s;
    ASSERT_EQ(rig.display->CreateSurface({SurfaceKind::OffscreenPlain, MemoryKind::Video, PixelFormat::RGB32, 4, 4}, s),
              DisplayResult::Ok);
    rig.control->LoseSurfaces();
    LockedPixels px;
    EXPECT_TRUE(s->IsLost());
    EXPECT_EQ(s->Lock(px), DisplayResult::SurfaceLost);
    EXPECT_EQ(rig.display->Blit(*rig.primary, {0, 0, 4, 4}, *s, {0, 0, 4, 4}), DisplayResult::SurfaceLost);
    EXPECT_EQ(s->Restore(), DisplayResult::Ok);
    EXPECT_EQ(rig.primary->Restore(), DisplayResult::Ok);
    EXPECT_EQ(s->Lock(px), DisplayResult::Ok);
    s->Unlock();
    EXPECT_EQ(rig.display->Blit(*rig.primary, {0, 0, 4, 4}, *s, {0, 0, 4, 4}), DisplayResult::Ok);
}

// A 2 x 2 RGB32 picture stretched into a 4 x 4 window at screen (10, 20): each source pixel
// covers a 2 x 2 block of the window; the part of the destination outside the window is clipped.
TEST(MemoryDisplay, BlitStretchesIntoTheClipWindow) {
    Rig rig({});
    MemoryWindow window({10, 20, 14, 24});
    rig.clipper->SetWindow(&window);
    std::unique_ptr<Surface> s;
    ASSERT_EQ(rig.display->CreateSurface({SurfaceKind::OffscreenPlain, MemoryKind::Video, PixelFormat::RGB32, 2, 2}, s),
              DisplayResult::Ok);
    LockedPixels px;
    ASSERT_EQ(s->Lock(px), DisplayResult::Ok);
    const uint32_t colours[4] = {0x112233, 0x445566, 0x778899, 0xAABBCC};
    for (int i = 0; i < 4; ++i) {
        uint8_t* p = px.data + (i / 2) * px.pitch + (i % 2) * 4;
        p[0] = colours[i] & 0xFF;
        p[1] = colours[i] >> 8 & 0xFF;
        p[2] = colours[i] >> 16 & 0xFF;
        p[3] = 0;
    }
    s->Unlock();
    ASSERT_EQ(rig.display->Blit(*rig.primary, {10, 20, 14, 24}, *s, {0, 0, 2, 2}), DisplayResult::Ok);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(window.Pixel(x, y), colours[(y / 2) * 2 + x / 2]) << x << "," << y;

    MemoryWindow other({0, 0, 4, 4});
    rig.clipper->SetWindow(&other);
    ASSERT_EQ(rig.display->Blit(*rig.primary, {2, 2, 6, 6}, *s, {0, 0, 2, 2}), DisplayResult::Ok);
    EXPECT_EQ(other.Pixel(1, 1), 0u) << "outside the destination";
    EXPECT_EQ(other.Pixel(2, 2), colours[0]);
    EXPECT_EQ(other.Pixel(3, 3), colours[0]);
}

// Writes one colour into every pixel of an RGB32 surface.
void FillRgb32(Surface& s, uint32_t rgb) {
    LockedPixels px;
    ASSERT_EQ(s.Lock(px), DisplayResult::Ok);
    for (uint32_t y = 0; y < px.height; ++y)
        for (uint32_t x = 0; x < px.width; ++x) {
            uint8_t* p = px.data + y * px.pitch + x * 4;
            p[0] = rgb & 0xFF;
            p[1] = rgb >> 8 & 0xFF;
            p[2] = rgb >> 16 & 0xFF;
            p[3] = 0;
        }
    s.Unlock();
}

std::unique_ptr<Surface> Rgb32Surface(Rig& rig, uint32_t w, uint32_t h, uint32_t rgb) {
    std::unique_ptr<Surface> s;
    EXPECT_EQ(rig.display->CreateSurface({SurfaceKind::OffscreenPlain, MemoryKind::Video, PixelFormat::RGB32, w, h}, s),
              DisplayResult::Ok);
    FillRgb32(*s, rgb);
    return s;
}

TEST(MemoryDisplay, OverlayShowsOnlyWhereTheColourKeyIsPainted) {
    MemoryDisplayConfig c;
    c.caps.overlayFourcc = c.caps.overlayStretch = true;
    c.desktopBits = 16;
    Rig rig(c);
    MemoryWindow window({0, 0, 4, 2});
    rig.clipper->SetWindow(&window);
    std::unique_ptr<Surface> s;
    ASSERT_EQ(rig.display->CreateSurface({SurfaceKind::Overlay, MemoryKind::LocalVideo, PixelFormat::YUY2, 4, 2}, s),
              DisplayResult::Ok);
    LockedPixels px;
    ASSERT_EQ(s->Lock(px), DisplayResult::Ok);
    for (uint32_t y = 0; y < 2; ++y)
        for (uint32_t x = 0; x < 8; ++x) px.data[y * px.pitch + x] = (x % 2 == 0) ? 235 : 128;  // white
    s->Unlock();
    const uint32_t key = rig.display->MatchColour(*rig.primary, 0x000600);
    EXPECT_EQ(key, 0x0020u) << "RGB(0, 6, 0) in RGB565";
    rig.display->PaintWindow(window, 0x000600);
    auto red = Rgb32Surface(rig, 1, 1, 0xFF0000);
    ASSERT_EQ(rig.display->Blit(*rig.primary, {0, 0, 1, 1}, *red, {0, 0, 1, 1}), DisplayResult::Ok);
    ASSERT_EQ(rig.display->UpdateOverlay(*s, {0, 0, 4, 2}, *rig.primary, {0, 0, 4, 2}, key), DisplayResult::Ok);
    EXPECT_EQ(window.Pixel(0, 0), 0xFF0000u) << "not keyed: the overlay stays hidden";
    EXPECT_EQ(window.Pixel(1, 0), 0xFFFFFFu) << "Y 235 through the 13-bit BT.601 matrix is FEFEFE, 565 on this desktop";
    EXPECT_EQ(window.Pixel(3, 1), 0xFFFFFFu);
}

// The overlay stays shown after its update: whatever later covers the key hides it there, and
// painting the key again brings it back without another update.
TEST(MemoryDisplay, OverlayIsComposedWhereverTheKeyIsLater) {
    MemoryDisplayConfig c;
    c.caps.overlayFourcc = c.caps.overlayStretch = true;
    Rig rig(c);
    MemoryWindow window({20, 10, 24, 12});
    rig.clipper->SetWindow(&window);
    std::unique_ptr<Surface> overlay;
    ASSERT_EQ(rig.display->CreateSurface({SurfaceKind::Overlay, MemoryKind::LocalVideo, PixelFormat::YUY2, 2, 1}, overlay),
              DisplayResult::Ok);
    LockedPixels px;
    ASSERT_EQ(overlay->Lock(px), DisplayResult::Ok);
    const uint8_t pair[4] = {16, 128, 235, 128};  // black, white
    std::copy(pair, pair + 4, px.data);
    overlay->Unlock();
    const uint32_t key = rig.display->MatchColour(*rig.primary, 0x000600);
    rig.display->PaintWindow(window, 0x000600);
    ASSERT_EQ(rig.display->UpdateOverlay(*overlay, {0, 0, 2, 1}, *rig.primary, {20, 10, 24, 12}, key), DisplayResult::Ok);
    EXPECT_EQ(window.Pixel(0, 0), 0x000000u);
    EXPECT_EQ(window.Pixel(3, 1), 0xFEFEFEu);
    auto blue = Rgb32Surface(rig, 1, 1, 0x0000FF);
    ASSERT_EQ(rig.display->Blit(*rig.primary, {20, 10, 24, 12}, *blue, {0, 0, 1, 1}), DisplayResult::Ok);
    EXPECT_EQ(window.Pixel(3, 1), 0x0000FFu) << "the blit covered the key";
    rig.display->PaintWindow(window, 0x000600);
    EXPECT_EQ(window.Pixel(3, 1), 0xFEFEFEu);
    const auto counts = rig.control->Activity();
    EXPECT_EQ(counts.paints, 2u);
    EXPECT_EQ(counts.overlayUpdates, 1u);
    EXPECT_EQ(counts.blits, 1u);
}

TEST(MemoryDisplay, DesktopHoldsColoursInItsOwnDepth) {
    MemoryDisplayConfig c;
    c.desktopBits = 16;
    Rig rig(c);
    MemoryWindow window({0, 0, 2, 2});
    rig.clipper->SetWindow(&window);
    auto s = Rgb32Surface(rig, 2, 2, 0x123456);
    ASSERT_EQ(rig.display->Blit(*rig.primary, {0, 0, 2, 2}, *s, {0, 0, 2, 2}), DisplayResult::Ok);
    EXPECT_EQ(window.Pixel(1, 1), 0x103452u) << "5, 6 and 5 bits, widened again";
    EXPECT_EQ(rig.primary->Desc().format, PixelFormat::RGB565);
}

TEST(MemoryDisplay, LocksRestoresAndDrawsFailOnDemand) {
    Rig rig({});
    auto s = Rgb32Surface(rig, 4, 4, 0x808080);
    LockedPixels px;

    rig.control->StillDrawingFor(2);
    EXPECT_EQ(s->Lock(px), DisplayResult::StillDrawing);
    EXPECT_EQ(s->Lock(px), DisplayResult::StillDrawing);
    ASSERT_EQ(s->Lock(px), DisplayResult::Ok);
    EXPECT_EQ(s->Lock(px), DisplayResult::Failed) << "already locked";
    EXPECT_EQ(rig.display->Blit(*rig.primary, {0, 0, 4, 4}, *s, {0, 0, 4, 4}), DisplayResult::Failed)
        << "a locked surface cannot be drawn from";
    EXPECT_EQ(rig.control->Activity().openLocks, 1u);
    s->Unlock();
    s->Unlock();
    EXPECT_EQ(rig.control->Activity().openLocks, 0u) << "a second unlock changes nothing";

    MemoryDisplayConfig c = rig.control->Config();
    c.failLocks = true;
    c.failDraws = true;
    c.failRestore = true;
    rig.control->SetConfig(c);
    EXPECT_EQ(s->Lock(px), DisplayResult::Failed);
    EXPECT_EQ(rig.display->Blit(*rig.primary, {0, 0, 4, 4}, *s, {0, 0, 4, 4}), DisplayResult::Failed);
    rig.control->LoseSurfaces();
    EXPECT_EQ(s->Restore(), DisplayResult::Failed);
    EXPECT_TRUE(s->IsLost());
    EXPECT_TRUE(rig.primary->IsLost());
    EXPECT_EQ(rig.control->Activity().blits, 0u);
}

// Drawn on the display's own thread: the blit takes the pixels when it is asked for, so the
// surface can be overwritten at once, and drawings keep their order.
TEST(MemoryDisplay, ThreadedDrawingTakesTheSourceWhenAsked) {
    MemoryDisplayConfig c;
    c.drawOnThread = true;
    Rig rig(c);
    MemoryWindow window({0, 0, 2, 2});
    rig.clipper->SetWindow(&window);
    auto s = Rgb32Surface(rig, 2, 2, 0x00FF00);
    rig.display->PaintWindow(window, 0x0000FF);  // red, as a GDI colour
    ASSERT_EQ(rig.display->Blit(*rig.primary, {0, 0, 1, 2}, *s, {0, 0, 2, 2}), DisplayResult::Ok);
    FillRgb32(*s, 0xFFFFFF);
    rig.control->WaitDrawn();
    EXPECT_EQ(window.Pixel(0, 0), 0x00FF00u);
    EXPECT_EQ(window.Pixel(1, 1), 0xFF0000u) << "painted before the blit, outside it";
}

}  // namespace
}  // namespace kestrel::platform

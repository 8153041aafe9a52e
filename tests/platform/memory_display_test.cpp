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
    window.WithImage([](std::vector<uint32_t>& image, int32_t, int32_t) { image[0] = 0x123456; });
    ASSERT_EQ(rig.display->UpdateOverlay(*s, {0, 0, 4, 2}, *rig.primary, {0, 0, 4, 2}, key), DisplayResult::Ok);
    EXPECT_EQ(window.Pixel(0, 0), 0x123456u) << "not keyed: the overlay stays hidden";
    EXPECT_EQ(window.Pixel(1, 0), 0xFEFEFEu) << "Y 235 through the 13-bit BT.601 matrix";
    EXPECT_EQ(window.Pixel(3, 1), 0xFEFEFEu);
}

}  // namespace
}  // namespace kestrel::platform

// The Qt display as the engine uses it, with the plain video widget (offscreen platform): which
// surfaces it makes, how each pixel format reaches the screen, the hand-over from another thread,
// and lost surfaces.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>
#include <QWidget>
#include <algorithm>
#include <thread>

#include "app/qt_display.h"
#include "app/video_widgets.h"
#include "tests/app/qt_test_app.h"

namespace kestrel::app {
namespace {

using platform::DisplayResult;
using platform::PixelFormat;
using platform::SurfaceDesc;
using platform::SurfaceKind;

class VideoDisplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        parent.resize(80, 40);
        area = CreateVideoArea(VideoKind::Plain, link, &parent);
        area.widget->setGeometry(0, 0, 80, 40);
        parent.show();
        area.window->RefreshGeometry();
        display = QtDisplayFactory(VideoKind::Plain, link)();
        ASSERT_EQ(display->CreatePrimary(primary), DisplayResult::Ok);
        ASSERT_EQ(display->CreateClipper(clipper), DisplayResult::Ok);
        clipper->SetWindow(area.window);
        primary->SetClipper(clipper.get());
    }
    std::unique_ptr<platform::Surface> Surface(PixelFormat format, uint32_t w, uint32_t h,
                                               std::unique_ptr<platform::Display>* on = nullptr) {
        std::unique_ptr<platform::Surface> s;
        const DisplayResult r = (on ? **on : *display).CreateSurface({SurfaceKind::OffscreenPlain, platform::MemoryKind::LocalVideo, format, w, h}, s);
        return r == DisplayResult::Ok ? std::move(s) : nullptr;
    }
    QImage Shown() {
        QCoreApplication::processEvents();
        return area.widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }

    // First member: the application must exist before any widget is constructed.
    QApplication& app = testing::QtApp();
    std::shared_ptr<DisplayLink> link = std::make_shared<DisplayLink>();
    QWidget parent;
    VideoArea area;
    std::unique_ptr<platform::Display> display;
    std::unique_ptr<platform::Surface> primary;
    std::unique_ptr<platform::Clipper> clipper;
};

int Distance(QRgb a, QRgb b) {
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
}

TEST_F(VideoDisplayTest, SurfacesOfferedFollowWhatEachKindCanShow) {
    auto gl = QtDisplayFactory(VideoKind::OpenGL, link)();
    platform::DisplayCaps caps;
    ASSERT_EQ(gl->GetCaps(caps), DisplayResult::Ok);
    EXPECT_TRUE(caps.bltFourcc && caps.bltStretch);  // the engine then packs YUY2 for the shader
    ASSERT_EQ(display->GetCaps(caps), DisplayResult::Ok);
    EXPECT_FALSE(caps.bltFourcc || caps.overlayFourcc);  // the engine converts to RGB itself
    EXPECT_TRUE(caps.bltStretch);

    struct Row {
        PixelFormat asked;
        PixelFormat plain, openGl;  // Unspecified: refused
    };
    const Row rows[] = {
        {PixelFormat::YUY2, PixelFormat::Unspecified, PixelFormat::YUY2},
        {PixelFormat::RGB565, PixelFormat::Unspecified, PixelFormat::RGB565},
        {PixelFormat::Unspecified, PixelFormat::RGB32, PixelFormat::RGB32},  // the desktop's format
        {PixelFormat::RGB24, PixelFormat::RGB24, PixelFormat::RGB24},
        {PixelFormat::RGB32, PixelFormat::RGB32, PixelFormat::RGB32},
        {PixelFormat::Palette8, PixelFormat::Unspecified, PixelFormat::Unspecified},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(int(r.asked));
        auto plain = Surface(r.asked, 704, 576);
        auto onGl = Surface(r.asked, 704, 576, &gl);
        EXPECT_EQ(plain ? plain->Desc().format : PixelFormat::Unspecified, r.plain);
        EXPECT_EQ(onGl ? onGl->Desc().format : PixelFormat::Unspecified, r.openGl);
    }
    std::unique_ptr<platform::Surface> s;
    EXPECT_NE(gl->CreateSurface({SurfaceKind::Overlay, platform::MemoryKind::LocalVideo, PixelFormat::YUY2, 704, 576}, s),
              DisplayResult::Ok);
    EXPECT_NE(display->CreateSurface({SurfaceKind::OffscreenPlain, platform::MemoryKind::Video, PixelFormat::RGB32, 0, 576}, s),
              DisplayResult::Ok);
}

// A picture of two halves, written in each format the painter takes, stretched to the widget.
TEST_F(VideoDisplayTest, EachPixelFormatShowsItsTrueColours) {
    struct Row {
        PixelFormat format;
        uint8_t left[4], right[4];  // the bytes of one pixel (YUY2: one pair, Y0 U Y1 V)
        QRgb leftRgb, rightRgb;
        int tolerance;
    };
    const Row rows[] = {
        // B, G, R and a fourth byte of 0, as the engine writes it: the painter must not read it as alpha.
        {PixelFormat::RGB32, {10, 40, 200, 0}, {250, 160, 0, 0}, qRgb(200, 40, 10), qRgb(0, 160, 250), 0},
        {PixelFormat::RGB24, {10, 40, 200}, {250, 160, 0}, qRgb(200, 40, 10), qRgb(0, 160, 250), 0},
        // Red in bits 15-11, green 10-5, blue 4-0, little-endian.
        {PixelFormat::RGB565, {0x00, 0xF8}, {0x1F, 0x07}, qRgb(255, 0, 0), qRgb(0, 227, 255), 8},
        // BT.601 video range: the sample values of pure red and pure blue.
        {PixelFormat::YUY2, {81, 90, 81, 240}, {41, 240, 41, 110}, qRgb(254, 0, 0), qRgb(0, 0, 254), 2},
    };
    auto surface = std::make_unique<uint8_t[]>(4 * 8 * 4);
    for (const Row& r : rows) {
        SCOPED_TRACE(int(r.format));
        const uint32_t bpp = platform::BitsPerPixel(r.format) / 8;
        const int32_t pitch = 8 * 4;
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 8; x += (r.format == PixelFormat::YUY2 ? 2 : 1))
                std::copy_n(x < 4 ? r.left : r.right, r.format == PixelFormat::YUY2 ? 4 : bpp,
                            surface.get() + y * pitch + x * int(bpp));
        const platform::LockedPixels px{surface.get(), pitch, 8, 4, r.format, bpp * 8};
        area.window->Present(px, {0, 0, 8, 4}, area.window->ScreenRect());
        const QImage shown = Shown();
        EXPECT_LE(Distance(shown.pixel(15, 20), r.leftRgb), r.tolerance);
        EXPECT_LE(Distance(shown.pixel(65, 20), r.rightRgb), r.tolerance);
    }
}

TEST_F(VideoDisplayTest, BlitHandsOverWithoutWaitingForTheGuiThread) {
    auto s = Surface(PixelFormat::RGB32, 16, 8);
    ASSERT_NE(s, nullptr);
    const platform::Rect window = area.window->ScreenRect();
    const uint64_t before = area.window->PicturesPresented();
    // The GUI thread is busy in join() all the while, as it is when closing a file; a blit that
    // needed it would never return.
    std::thread player([&] {
        for (uint32_t i = 0; i < 100; ++i) {
            platform::LockedPixels px;
            ASSERT_EQ(s->Lock(px), DisplayResult::Ok);
            for (uint32_t y = 0; y < px.height; ++y)
                std::fill_n(reinterpret_cast<uint32_t*>(px.data + y * uint32_t(px.pitch)), px.width, i == 99 ? 0x0000C000u : 0x00400000u);
            s->Unlock();
            ASSERT_EQ(display->Blit(*primary, window, *s, {0, 0, 16, 8}), DisplayResult::Ok);
        }
    });
    player.join();
    EXPECT_EQ(area.window->PicturesPresented() - before, 100u);
    EXPECT_EQ(Shown().pixel(40, 20), qRgb(0, 0xC0, 0));  // the last picture
}

TEST_F(VideoDisplayTest, LostContextLosesSurfacesUntilANewOneIsReady) {
    auto s = Surface(PixelFormat::RGB32, 16, 8);
    const platform::Rect window = area.window->ScreenRect();
    platform::LockedPixels px;
    link->LoseSurfaces();
    EXPECT_TRUE(s->IsLost());
    EXPECT_EQ(s->Lock(px), DisplayResult::SurfaceLost);
    EXPECT_EQ(display->Blit(*primary, window, *s, {0, 0, 16, 8}), DisplayResult::SurfaceLost);
    EXPECT_EQ(s->Restore(), DisplayResult::Failed);  // no context yet: pictures are skipped
    link->SetAvailable();
    EXPECT_EQ(primary->Restore(), DisplayResult::Ok);
    EXPECT_EQ(s->Restore(), DisplayResult::Ok);
    EXPECT_FALSE(s->IsLost());
    EXPECT_EQ(s->Lock(px), DisplayResult::Ok);
    s->Unlock();
    EXPECT_EQ(display->Blit(*primary, window, *s, {0, 0, 16, 8}), DisplayResult::Ok);
}

TEST_F(VideoDisplayTest, TargetRectangleColourFillAndOtherWindows) {
    auto s = Surface(PixelFormat::RGB32, 16, 8);
    platform::LockedPixels px;
    ASSERT_EQ(s->Lock(px), DisplayResult::Ok);
    for (uint32_t y = 0; y < px.height; ++y)
        std::fill_n(reinterpret_cast<uint32_t*>(px.data + y * uint32_t(px.pitch)), px.width, 0x00FFFFFFu);
    s->Unlock();
    // Into the right half of the window only.
    platform::Rect right = area.window->ScreenRect();
    right.left += right.Width() / 2;
    ASSERT_EQ(display->Blit(*primary, right, *s, {0, 0, 16, 8}), DisplayResult::Ok);
    QImage shown = Shown();
    EXPECT_EQ(shown.pixel(10, 20), qRgb(0, 0, 0));
    EXPECT_EQ(shown.pixel(70, 20), qRgb(255, 255, 255));

    // Colours come as GDI values, 0x00BBGGRR.
    display->PaintWindow(*area.window, 0x000600);
    EXPECT_EQ(Shown().pixel(40, 20), qRgb(0, 6, 0));
    EXPECT_EQ(display->MatchColour(*primary, 0x0000FF), 0xFF0000u);

    // A window that is not a video area has nothing to show.
    platform::MemoryWindow other;
    clipper->SetWindow(&other);
    const uint64_t before = area.window->PicturesPresented();
    EXPECT_EQ(display->Blit(*primary, other.ScreenRect(), *s, {0, 0, 16, 8}), DisplayResult::Ok);
    EXPECT_EQ(area.window->PicturesPresented(), before);
}

}  // namespace
}  // namespace kestrel::app

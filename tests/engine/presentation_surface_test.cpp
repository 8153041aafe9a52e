// Choosing, drawing and recovering picture surfaces on the headless display, checked by what a
// viewer would see in the window.
#include <gtest/gtest.h>

#include "engine/presentation.h"
#include "platform/memory_display.h"
#include "platform/window.h"
#include "tests/engine/presentation_support.h"

namespace kestrel::testing {
namespace {

using engine::DrawOutcome;
using engine::PictureCopy;
using engine::PresentFault;
using platform::DisplayCaps;
using platform::MemoryDisplayConfig;
using platform::MemoryDisplayControl;
using platform::MemoryKind;
using platform::MemoryWindow;
using platform::PixelFormat;
using platform::Rect;
using platform::SurfaceDesc;
using platform::SurfaceKind;

// The engine's display objects and one port, as the engine holds them.
struct Presenter {
    std::shared_ptr<MemoryDisplayControl> control;
    std::unique_ptr<platform::Display> display;
    std::unique_ptr<platform::Surface> primary;
    std::unique_ptr<platform::Clipper> clipper;
    engine::PresentationState state;
    std::unique_ptr<platform::Surface> surface;
    PictureCopy copy = PictureCopy::Yuy2;  // as after start-up

    explicit Presenter(const MemoryDisplayConfig& c) : control(std::make_shared<MemoryDisplayControl>(c)) {
        display = platform::MemoryDisplayFactory(control)();
        EXPECT_EQ(display->CreatePrimary(primary), platform::DisplayResult::Ok);
        EXPECT_EQ(display->CreateClipper(clipper), platform::DisplayResult::Ok);
    }
    engine::DisplayObjects Objects() const { return {display.get(), primary.get(), clipper.get()}; }
    engine::PortSurface Port() { return {surface, copy, 1}; }
    bool Create(uint32_t w, uint32_t h) { return engine::CreatePictureSurface(Objects(), state, Port(), w, h); }
    DrawOutcome Show(MemoryWindow& window, const TestPicture& p, uint32_t openPorts = 1) {
        return engine::ShowPicture(Objects(), state, Port(), &window, p.View(), openPorts);
    }
};

uint32_t Quantise565(uint32_t rgb) {
    const uint32_t r = rgb >> 16 & 0xFF, g = rgb >> 8 & 0xFF, b = rgb & 0xFF;
    return Expand565(static_cast<uint16_t>((r & 0xF8) << 8 | (g & 0xFC) << 3 | b >> 3));
}

// What the window must show of picture p drawn 1:1 from a surface of this format.
uint32_t Seen(const TestPicture& p, PixelFormat surface, uint32_t desktopBits, uint32_t x, uint32_t y) {
    const uint32_t rgb = surface == PixelFormat::RGB565 ? Expand565(Rgb565Row(p, y)[x]) : DisplayRgbAt(p, x, y);
    return desktopBits == 16 ? Quantise565(rgb) : rgb;
}

// The first window pixel that differs from the picture, as "x,y", or "" when all agree.
std::string FirstMismatch(const MemoryWindow& window, const TestPicture& p, PixelFormat surface,
                          uint32_t desktopBits) {
    for (uint32_t y = 0; y < p.height; ++y)
        for (uint32_t x = 0; x < p.width; ++x)
            if (window.Pixel(int32_t(x), int32_t(y)) != Seen(p, surface, desktopBits, x, y))
                return std::to_string(x) + "," + std::to_string(y);
    return "";
}

constexpr Rect kWindowAt{100, 50, 100 + 176, 50 + 144};

struct CapsCase {
    const char* name;
    MemoryDisplayConfig config;
    uint32_t openPorts;
    SurfaceDesc surface;                // as made (the format resolved)
    PictureCopy copy;
    std::vector<SurfaceDesc> attempts;  // what was asked for, in order
    bool overlay;                       // drawn as an overlay rather than by blits
};

void PrintTo(const CapsCase& c, std::ostream* os) { *os << c.name; }

MemoryDisplayConfig Config(DisplayCaps caps, uint32_t desktopBits = 32, std::vector<PixelFormat> refused = {},
                           std::vector<MemoryKind> refusedMemory = {}) {
    MemoryDisplayConfig c;
    c.caps = caps;
    c.desktopBits = desktopBits;
    c.refusedFormats = std::move(refused);
    c.refusedMemory = std::move(refusedMemory);
    return c;
}

SurfaceDesc Desc(SurfaceKind kind, MemoryKind memory, PixelFormat format) { return {kind, memory, format, 176, 144}; }

constexpr DisplayCaps kYuy2Blit{.bltFourcc = true, .bltStretch = true, .localVidMem = true};
constexpr DisplayCaps kYuy2Overlay{.overlayFourcc = true, .overlayStretch = true};
constexpr DisplayCaps kNoYuy2{};
constexpr DisplayCaps kBusMemory{.nonLocalVidMemCaps = true, .noPageLockRequired = true};

std::vector<CapsCase> CapsCases() {
    using K = SurfaceKind;
    using M = MemoryKind;
    using F = PixelFormat;
    MemoryDisplayConfig noOverlay = Config(kYuy2Overlay);
    noOverlay.refuseOverlays = true;
    MemoryDisplayConfig noCaps;
    noCaps.failCaps = true;
    DisplayCaps busLocal = kBusMemory, busNonLocal = kBusMemory;
    busLocal.localVidMem = true;
    busNonLocal.nonLocalVidMem = true;
    return {
        {"Yuy2Blit", Config(kYuy2Blit), 1, Desc(K::OffscreenPlain, M::LocalVideo, F::YUY2), PictureCopy::Yuy2,
         {Desc(K::OffscreenPlain, M::LocalVideo, F::YUY2)}, false},
        {"Yuy2OverlayOneFileOpen", Config(kYuy2Overlay), 1, Desc(K::Overlay, M::LocalVideo, F::YUY2),
         PictureCopy::Yuy2, {Desc(K::Overlay, M::LocalVideo, F::YUY2)}, true},
        {"Yuy2OverlayTwoFilesOpen", Config(kYuy2Overlay), 2, Desc(K::Overlay, M::LocalVideo, F::YUY2),
         PictureCopy::Yuy2, {Desc(K::Overlay, M::LocalVideo, F::YUY2)}, false},
        {"OverlayRefusedFallsBackToAnOffscreenYuy2", noOverlay, 1, Desc(K::OffscreenPlain, M::LocalVideo, F::YUY2),
         PictureCopy::Yuy2,
         {Desc(K::Overlay, M::LocalVideo, F::YUY2), Desc(K::OffscreenPlain, M::LocalVideo, F::YUY2)}, false},
        {"NoYuy2Desktop16", Config(kNoYuy2, 16), 1, Desc(K::OffscreenPlain, M::Video, F::RGB565), PictureCopy::Rgb,
         {Desc(K::OffscreenPlain, M::Video, F::RGB565)}, false},
        {"NoYuy2Desktop24Rgb565Refused", Config(kNoYuy2, 24, {F::RGB565}), 1,
         Desc(K::OffscreenPlain, M::Video, F::RGB24), PictureCopy::Rgb,
         {Desc(K::OffscreenPlain, M::Video, F::RGB565), Desc(K::OffscreenPlain, M::Video, F::Unspecified)}, false},
        {"NoYuy2Desktop32Rgb565Refused", Config(kNoYuy2, 32, {F::RGB565}), 1,
         Desc(K::OffscreenPlain, M::Video, F::RGB32), PictureCopy::Rgb,
         {Desc(K::OffscreenPlain, M::Video, F::RGB565), Desc(K::OffscreenPlain, M::Video, F::Unspecified)}, false},
        {"NoYuy2Desktop32Rgb565Taken", Config(kNoYuy2, 32), 1, Desc(K::OffscreenPlain, M::Video, F::RGB565),
         PictureCopy::Rgb, {Desc(K::OffscreenPlain, M::Video, F::RGB565)}, false},
        {"BusMemoryCapsWithLocalVideo", Config(busLocal, 16), 1, Desc(K::OffscreenPlain, M::LocalVideo, F::RGB565),
         PictureCopy::Rgb, {Desc(K::OffscreenPlain, M::LocalVideo, F::RGB565)}, false},
        {"BusMemoryCapsWithNonLocalVideo", Config(busNonLocal, 16), 1,
         Desc(K::OffscreenPlain, M::NonLocalVideo, F::RGB565), PictureCopy::Rgb,
         {Desc(K::OffscreenPlain, M::NonLocalVideo, F::RGB565)}, false},
        {"BusMemoryCapsWithoutVideoMemoryKinds", Config(kBusMemory, 16), 1,
         Desc(K::OffscreenPlain, M::System, F::RGB565), PictureCopy::Rgb,
         {Desc(K::OffscreenPlain, M::System, F::RGB565)}, false},
        {"Yuy2RefusedTakesTheDesktopFormat", Config(kYuy2Blit, 32, {F::YUY2}), 1,
         Desc(K::OffscreenPlain, M::LocalVideo, F::RGB32), PictureCopy::Rgb,
         {Desc(K::OffscreenPlain, M::LocalVideo, F::YUY2), Desc(K::OffscreenPlain, M::LocalVideo, F::Unspecified)},
         false},
        {"LocalVideoRefusedSwapsToNonLocal", Config(kYuy2Blit, 32, {}, {M::LocalVideo}), 1,
         Desc(K::OffscreenPlain, M::NonLocalVideo, F::RGB32), PictureCopy::Rgb,
         {Desc(K::OffscreenPlain, M::LocalVideo, F::YUY2), Desc(K::OffscreenPlain, M::LocalVideo, F::Unspecified),
          Desc(K::OffscreenPlain, M::NonLocalVideo, F::Unspecified)},
         false},
        {"SystemMemoryRefusedSwapsToVideo", Config(kBusMemory, 32, {}, {M::System}), 1,
         Desc(K::OffscreenPlain, M::Video, F::RGB32), PictureCopy::Rgb,
         {Desc(K::OffscreenPlain, M::System, F::RGB565), Desc(K::OffscreenPlain, M::System, F::Unspecified),
          Desc(K::OffscreenPlain, M::Video, F::Unspecified)},
         false},
        // Unknown capabilities: the display picks its own format, and the copy follows it.
        {"CapsUnreadable", noCaps, 1, Desc(K::OffscreenPlain, M::Video, F::RGB32), PictureCopy::Rgb,
         {Desc(K::OffscreenPlain, M::Video, F::Unspecified)}, false},
    };
}

class EachDisplay : public ::testing::TestWithParam<CapsCase> {};

TEST_P(EachDisplay, GivesTheSurfaceCopyRoutineAndPicture) {
    const CapsCase& c = GetParam();
    Presenter rig(c.config);
    ASSERT_TRUE(rig.Create(176, 144));
    EXPECT_EQ(rig.surface->Desc(), c.surface);
    EXPECT_EQ(rig.copy, c.copy);
    std::vector<SurfaceDesc> asked;
    for (const auto& r : rig.control->Requests()) asked.push_back(r.desc);
    EXPECT_EQ(asked, c.attempts);

    MemoryWindow window(kWindowAt);
    const TestPicture first = RandomPicture(176, 144, 7), picture = TestsrcPicture();
    for (const TestPicture* p : {&first, &picture}) {
        const DrawOutcome shown = rig.Show(window, *p, c.openPorts);
        EXPECT_TRUE(shown.drawn);
        EXPECT_EQ(shown.fault, PresentFault::None);
    }
    EXPECT_EQ(FirstMismatch(window, picture, c.surface.format, c.config.desktopBits), "");
    const auto activity = rig.control->Activity();
    EXPECT_EQ(activity.overlayUpdates, c.overlay ? 2u : 0u);
    EXPECT_EQ(activity.blits, c.overlay ? 0u : 2u);
    EXPECT_EQ(activity.paints, c.overlay ? 1u : 0u) << "the key is painted once while the window stays put";
    EXPECT_EQ(activity.openLocks, 0u);
    EXPECT_FALSE(rig.state.displayLost.load());
}

INSTANTIATE_TEST_SUITE_P(Caps, EachDisplay, ::testing::ValuesIn(CapsCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PictureSurface, NoSurfaceAfterEveryFallbackFailsAndDrawingReportsTheMissingSurface) {
    Presenter rig(Config(kYuy2Blit, 32, {}, {MemoryKind::LocalVideo, MemoryKind::NonLocalVideo}));
    EXPECT_FALSE(rig.Create(176, 144));
    EXPECT_EQ(rig.surface, nullptr);
    EXPECT_EQ(rig.control->Requests().size(), 3u);
    MemoryWindow window(kWindowAt);
    const DrawOutcome shown = rig.Show(window, TestsrcPicture());
    EXPECT_FALSE(shown.drawn);
    EXPECT_EQ(shown.fault, PresentFault::SurfaceMissing);
    EXPECT_EQ(rig.control->Activity().blits, 0u);
}

// A desktop depth the conversion cannot write: each picture reports it and nothing is written
// into the surface, but playback is not refused.
TEST(PictureSurface, PaletteDesktopIsReportedAtEachPicture) {
    Presenter rig(Config(kNoYuy2, 8, {PixelFormat::RGB565}));
    ASSERT_TRUE(rig.Create(176, 144));
    EXPECT_EQ(rig.surface->Desc().format, PixelFormat::Palette8);
    MemoryWindow window(kWindowAt);
    for (int i = 0; i < 2; ++i) {
        const DrawOutcome shown = rig.Show(window, TestsrcPicture());
        EXPECT_TRUE(shown.drawn);
        EXPECT_EQ(shown.fault, PresentFault::UnsupportedDepth);
    }
    EXPECT_EQ(window.Pixel(10, 10), 0u) << "the surface keeps its empty contents";
}

TEST(PictureSurface, MissingPrimaryOrClipperFailsTheDrawButNotTheCopy) {
    for (int missing = 0; missing < 2; ++missing) {
        Presenter rig(Config(kYuy2Blit));
        ASSERT_TRUE(rig.Create(176, 144));
        (missing == 0 ? rig.primary.reset() : rig.clipper.reset());
        MemoryWindow window(kWindowAt);
        const DrawOutcome shown = rig.Show(window, TestsrcPicture());
        EXPECT_FALSE(shown.drawn);
        EXPECT_EQ(shown.fault, PresentFault::SurfaceMissing);
        EXPECT_EQ(rig.control->Activity().locks, 1u) << "the picture was copied";
    }
}

TEST(PictureSurface, WithoutAWindowOnlyTheCopyRuns) {
    Presenter rig(Config(kYuy2Blit));
    ASSERT_TRUE(rig.Create(176, 144));
    const DrawOutcome shown = engine::ShowPicture(rig.Objects(), rig.state, rig.Port(), nullptr,
                                                  TestsrcPicture().View(), 1);
    EXPECT_TRUE(shown.drawn);
    EXPECT_EQ(rig.control->Activity().locks, 1u);
    EXPECT_EQ(rig.control->Activity().blits, 0u);
}

// A surface left from a smaller picture is replaced before the copy: the whole new picture shows.
TEST(PictureSurface, SurfaceSmallerThanThePictureIsRecreatedFirst) {
    for (const DisplayCaps& caps : {kYuy2Blit, kNoYuy2}) {
        Presenter rig(Config(caps));
        ASSERT_TRUE(rig.Create(88, 72));
        MemoryWindow window(kWindowAt);
        const TestPicture picture = TestsrcPicture();
        const DrawOutcome shown = rig.Show(window, picture);
        EXPECT_TRUE(shown.drawn);
        EXPECT_EQ(shown.fault, PresentFault::None);
        EXPECT_EQ(rig.surface->Desc().width, 176u);
        EXPECT_EQ(rig.surface->Desc().height, 144u);
        EXPECT_EQ(FirstMismatch(window, picture, rig.surface->Desc().format, 32), "");
    }
    // A larger surface is kept and the picture uses its top-left corner.
    Presenter rig(Config(kYuy2Blit));
    ASSERT_TRUE(rig.Create(352, 288));
    MemoryWindow window(kWindowAt);
    EXPECT_TRUE(rig.Show(window, TestsrcPicture()).drawn);
    EXPECT_EQ(rig.surface->Desc().width, 352u);
    EXPECT_EQ(rig.control->Requests().size(), 1u);
    EXPECT_EQ(FirstMismatch(window, TestsrcPicture(), PixelFormat::YUY2, 32), "");
}

// A half-height field picture in a 4:3 window: every picture row covers two window rows, and
// columns are stretched too.
TEST(PictureSurface, BlitStretchesTheStoredPictureToTheWindow) {
    Presenter rig(Config(kYuy2Blit));
    ASSERT_TRUE(rig.Create(704, 288));
    MemoryWindow window({0, 0, 768, 576});
    const TestPicture picture = RandomPicture(704, 288, 3);
    ASSERT_TRUE(rig.Show(window, picture).drawn);
    for (int32_t wy : {0, 1, 2, 3, 300, 301, 574, 575})
        for (int32_t wx : {0, 1, 11, 12, 500, 767}) {
            const uint32_t x = uint32_t(wx) * 704 / 768, y = uint32_t(wy) / 2;
            EXPECT_EQ(window.Pixel(wx, wy), DisplayRgbAt(picture, x, y)) << wx << "," << wy;
        }
}

TEST(Overlay, ColourKeyIsRepaintedWhereTheWindowMovesAndTheOverlayFollows) {
    Presenter rig(Config(kYuy2Overlay));
    ASSERT_TRUE(rig.Create(176, 144));
    MemoryWindow window(kWindowAt);
    const TestPicture picture = TestsrcPicture();
    EXPECT_TRUE(rig.Show(window, picture).drawn);
    EXPECT_TRUE(rig.Show(window, picture).drawn);
    EXPECT_EQ(rig.control->Activity().paints, 1u);
    window.Move({400, 300, 400 + 176, 300 + 144});
    EXPECT_TRUE(rig.Show(window, picture).drawn);
    EXPECT_EQ(rig.control->Activity().paints, 2u);
    EXPECT_EQ(FirstMismatch(window, picture, PixelFormat::YUY2, 32), "");
}

// On a 16-bit desktop the key is RGB(0, 6, 0) in RGB565, and the overlay still finds it.
TEST(Overlay, KeyMatchesTheDesktopFormat) {
    Presenter rig(Config(kYuy2Overlay, 16));
    ASSERT_TRUE(rig.Create(176, 144));
    EXPECT_EQ(rig.state.overlayColourKey.load(), 0x0020u);
    MemoryWindow window(kWindowAt);
    EXPECT_TRUE(rig.Show(window, TestsrcPicture()).drawn);
    EXPECT_EQ(FirstMismatch(window, TestsrcPicture(), PixelFormat::YUY2, 16), "");
}

// Blits cover the painted key while a second file is open; when the overlay is used again the
// key is painted again, or the window would keep showing the last blitted picture.
TEST(Overlay, KeyIsRepaintedAfterBlitsCoveredIt) {
    Presenter rig(Config(kYuy2Overlay));
    ASSERT_TRUE(rig.Create(176, 144));
    MemoryWindow window(kWindowAt);
    EXPECT_TRUE(rig.Show(window, RandomPicture(176, 144, 1), 1).drawn);
    EXPECT_TRUE(rig.Show(window, RandomPicture(176, 144, 2), 2).drawn);
    const TestPicture picture = TestsrcPicture();
    EXPECT_TRUE(rig.Show(window, picture, 1).drawn);
    EXPECT_EQ(rig.control->Activity().paints, 2u);
    EXPECT_EQ(FirstMismatch(window, picture, PixelFormat::YUY2, 32), "");
}

// A lost display: the picture that meets the loss is not shown, the next one restores the
// surfaces and is shown; while restoring fails, pictures are skipped.
TEST(LostSurfaces, AreRestoredBeforeTheNextPicture) {
    for (bool rgb : {false, true}) {
        Presenter rig(Config(rgb ? kNoYuy2 : kYuy2Blit));
        ASSERT_TRUE(rig.Create(176, 144));
        MemoryWindow window(kWindowAt);
        const TestPicture before = RandomPicture(176, 144, 5), picture = TestsrcPicture();
        ASSERT_TRUE(rig.Show(window, before).drawn);

        rig.control->LoseSurfaces();
        EXPECT_FALSE(rig.Show(window, picture).drawn);
        EXPECT_TRUE(rig.state.displayLost.load());
        EXPECT_EQ(FirstMismatch(window, before, rig.surface->Desc().format, 32), "") << "nothing new was drawn";

        MemoryDisplayConfig failing = rig.control->Config();
        failing.failRestore = true;
        rig.control->SetConfig(failing);
        EXPECT_FALSE(rig.Show(window, picture).drawn);
        EXPECT_TRUE(rig.state.displayLost.load());
        EXPECT_EQ(rig.control->Activity().blits, 1u) << "skipped while restoring fails";

        failing.failRestore = false;
        rig.control->SetConfig(failing);
        EXPECT_TRUE(rig.Show(window, picture).drawn);
        EXPECT_FALSE(rig.state.displayLost.load());
        EXPECT_FALSE(rig.primary->IsLost());
        EXPECT_FALSE(rig.surface->IsLost());
        EXPECT_EQ(FirstMismatch(window, picture, rig.surface->Desc().format, 32), "") << "rgb " << rgb;
        EXPECT_EQ(rig.control->Activity().openLocks, 0u);
    }
}

TEST(LostSurfaces, RestoringNeedsThePortsSurface) {
    Presenter rig(Config(kYuy2Blit));
    rig.state.displayLost = true;
    EXPECT_FALSE(engine::RestoreSurfaces(rig.Objects(), rig.state, nullptr));
    EXPECT_TRUE(rig.state.displayLost.load());
    ASSERT_TRUE(rig.Create(176, 144));
    EXPECT_TRUE(engine::RestoreSurfaces(rig.Objects(), rig.state, rig.surface.get()));
    EXPECT_FALSE(rig.state.displayLost.load());
}

// A backend that draws on its own thread takes the picture when asked: overwriting the surface
// right after the blit does not change what the window shows.
TEST(ThreadedBackend, PresentHandsOverTheFinishedPicture) {
    MemoryDisplayConfig c = Config(kYuy2Blit);
    c.drawOnThread = true;
    Presenter rig(c);
    ASSERT_TRUE(rig.Create(176, 144));
    MemoryWindow window(kWindowAt);
    const TestPicture picture = TestsrcPicture();
    ASSERT_TRUE(rig.Show(window, picture).drawn);
    ASSERT_EQ(engine::CopyPicture(rig.copy, rig.surface.get(), RandomPicture(176, 144, 9).View()),
              engine::CopyResult::Ok);
    rig.control->WaitDrawn();
    EXPECT_EQ(FirstMismatch(window, picture, PixelFormat::YUY2, 32), "");
}

}  // namespace
}  // namespace kestrel::testing

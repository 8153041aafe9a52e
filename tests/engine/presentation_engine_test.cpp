// Presentation and snapshots through the player API: the port's surface made by kxPlay, its
// picture drawn by kxRefresh, the overlay's colour key, and kxSnapPicture.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "engine/engine.h"
#include "engine/presentation_port.h"
#include "engine/snapshot.h"
#include "platform/window.h"
#include "tests/engine/engine_fixture.h"
#include "tests/engine/presentation_support.h"

namespace kestrel::testing {
namespace {

using engine::PlaybackMode;
using engine::Port;
using platform::MemoryWindow;
using platform::PixelFormat;
using platform::SurfaceKind;

class PresentationApi : public EngineTest {
protected:
    // Opens a recording of the given resolution row on port 0 and pauses it. (Pausing is set
    // directly: these tests need a paused port, not the play loop.)
    void OpenPaused(uint32_t resolution, const char* name = "a.h64") {
        ASSERT_EQ(kxOpenFile(0, Write(name, {.frames = 30, .resolution = resolution}).c_str()), 1);
        Port(0).playMode = PlaybackMode::Paused;
    }
    // Puts a picture into the port's picture buffer, as a decode would.
    static TestPicture Decoded(uint32_t seed) {
        engine::PlayerPort& p = Port(0);
        TestPicture picture = RandomPicture(p.width, p.height, seed);
        std::copy(picture.bytes.begin(), picture.bytes.end(), p.picture.get());
        return picture;
    }
    static std::string Mismatch(const MemoryWindow& window, const TestPicture& picture) {
        for (uint32_t y = 0; y < picture.height; ++y)
            for (uint32_t x = 0; x < picture.width; ++x)
                if (window.Pixel(int32_t(x), int32_t(y)) != DisplayRgbAt(picture, x, y))
                    return std::to_string(x) + "," + std::to_string(y);
        return "";
    }
    void Configure(const platform::MemoryDisplayConfig& c) {
        kxReleaseDirectDraw();
        display->SetConfig(c);
    }
};

TEST_F(PresentationApi, PlayMakesTheSurfaceTheDisplayOffersAndCloseReleasesIt) {
    struct Case {
        const char* what;
        platform::DisplayCaps caps;
        std::vector<PixelFormat> refused;
        PixelFormat format;
        engine::PictureCopy copy;
    } const cases[] = {
        {"yuy2 blit", {.bltFourcc = true, .bltStretch = true}, {}, PixelFormat::YUY2, engine::PictureCopy::Yuy2},
        {"no yuy2, 565 refused", {}, {PixelFormat::RGB565}, PixelFormat::RGB32, engine::PictureCopy::Rgb},
    };
    for (const Case& c : cases) {
        platform::MemoryDisplayConfig config;
        config.caps = c.caps;
        config.refusedFormats = c.refused;
        Configure(config);
        MemoryWindow window({0, 0, 352, 288});
        ASSERT_EQ(kxOpenFile(0, Write("a.h64").c_str()), 1);
        kxPlay(0, platform::ToHandle(&window));
        engine::PlayerPort& p = Port(0);
        ASSERT_NE(p.pictureSurface, nullptr) << c.what;
        EXPECT_EQ(p.pictureSurface->Desc().format, c.format) << c.what;
        EXPECT_EQ(p.pictureSurface->Desc().width, 352u);
        EXPECT_EQ(p.pictureSurface->Desc().height, 288u);
        EXPECT_EQ(p.pictureCopy, c.copy) << c.what;
        kxStop(0);
        ASSERT_EQ(kxCloseFile(0), 1);
        EXPECT_EQ(p.pictureSurface, nullptr) << c.what;
    }
}

TEST_F(PresentationApi, RefreshDrawsTheCurrentPictureIntoTheWindow) {
    OpenPaused(0);
    MemoryWindow window({30, 40, 30 + 352, 40 + 288});
    kxPlay(0, platform::ToHandle(&window));
    Port(0).playMode = PlaybackMode::Paused;
    const TestPicture picture = Decoded(4);
    EXPECT_EQ(kxRefresh(0), 1);
    EXPECT_EQ(Mismatch(window, picture), "");
    EXPECT_EQ(kxGetLastError(0), ERR_NONE);

    // A lost display is restored first, and the picture is drawn again.
    display->LoseSurfaces();
    engine::TheEngine().presentation.displayLost = true;
    const TestPicture next = Decoded(5);
    EXPECT_EQ(kxRefresh(0), 1);
    EXPECT_FALSE(engine::TheEngine().presentation.displayLost.load());
    EXPECT_EQ(Mismatch(window, next), "");
    EXPECT_EQ(display->Activity().openLocks, 0u);
}

// Drawing into a window with the primary missing fails with ERR_SURFACE; a desktop depth the
// conversion cannot write gives ERR_STATE at each picture.
TEST_F(PresentationApi, FailuresAreLeftInThePort) {
    struct Case {
        const char* what;
        platform::MemoryDisplayConfig config;
        int32_t error;
    };
    platform::MemoryDisplayConfig noPrimary = DefaultDisplayConfig();
    noPrimary.failPrimary = true;
    platform::MemoryDisplayConfig palette;
    palette.desktopBits = 8;
    palette.refusedFormats = {PixelFormat::RGB565};
    for (const Case& c : {Case{"no primary", noPrimary, ERR_SURFACE}, Case{"palette desktop", palette, ERR_STATE}}) {
        Configure(c.config);
        MemoryWindow window({0, 0, 352, 288});
        OpenPaused(0);
        kxPlay(0, platform::ToHandle(&window));
        Port(0).playMode = PlaybackMode::Paused;
        EXPECT_EQ(kxRefresh(0), 1) << c.what;
        EXPECT_EQ(kxGetLastError(0), c.error) << c.what;
        kxCloseFile(0);
    }
}

// A failed open leaves the port's picture size behind, and kxPlay on the never-opened port makes
// a surface of that size. The next file is larger: its pictures must not go into that surface.
TEST_F(PresentationApi, SurfaceLeftByAFailedOpenIsReplacedForALargerPicture) {
    bool failAudio = true;
    hooks.failAllocation = [&](engine::Allocation what, size_t) {
        return failAudio && what == engine::Allocation::AudioBuffers;
    };
    kxReleaseDirectDraw();
    ApplyPlatform();
    MemoryWindow window({0, 0, 704, 576});
    EXPECT_EQ(kxOpenFile(0, Write("small.h64", {.resolution = 1}).c_str()), 0);
    kxPlay(0, platform::ToHandle(&window));
    ASSERT_NE(Port(0).pictureSurface, nullptr);
    EXPECT_EQ(Port(0).pictureSurface->Desc().width, 176u);

    failAudio = false;
    OpenPaused(3, "large.h64");
    const TestPicture picture = Decoded(6);
    EXPECT_EQ(kxRefresh(0), 1);
    EXPECT_EQ(Port(0).pictureSurface->Desc().width, 704u);
    EXPECT_EQ(Port(0).pictureSurface->Desc().height, 576u);
    EXPECT_EQ(Mismatch(window, picture), "");

    // kxPlay makes the right size at once as well.
    kxCloseFile(0);
    failAudio = true;
    EXPECT_EQ(kxOpenFile(0, Write("small2.h64", {.resolution = 1}).c_str()), 0);
    kxPlay(0, platform::ToHandle(&window));
    failAudio = false;
    OpenPaused(3, "large2.h64");
    kxPlay(0, platform::ToHandle(&window));
    EXPECT_EQ(Port(0).pictureSurface->Desc().width, 704u);
}

// An overlay-only display with one file open: resuming play paints the colour key, and the
// overlay shows the picture through it without painting again.
TEST_F(PresentationApi, ResumingAnOverlayPaintsTheColourKey) {
    platform::MemoryDisplayConfig c;
    c.caps.overlayFourcc = c.caps.overlayStretch = true;
    Configure(c);
    OpenPaused(0);
    MemoryWindow window({10, 10, 10 + 352, 10 + 288});
    kxPlay(0, platform::ToHandle(&window));  // Paused -> Playing
    ASSERT_NE(Port(0).pictureSurface, nullptr);
    EXPECT_EQ(Port(0).pictureSurface->Desc().kind, SurfaceKind::Overlay);
    EXPECT_EQ(window.Pixel(5, 5), 0x000600u) << "RGB(0, 6, 0)";
    EXPECT_EQ(display->Activity().paints, 1u);

    kxPause(0);
    const TestPicture picture = Decoded(8);
    EXPECT_EQ(kxRefresh(0), 1);
    EXPECT_EQ(Mismatch(window, picture), "");
    EXPECT_EQ(display->Activity().paints, 1u);
    EXPECT_EQ(display->Activity().overlayUpdates, 1u);
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

TEST_F(PresentationApi, SnapshotSavesThePortsPicture) {
    OpenPaused(0);
    // Right after open nothing is decoded: the picture is a uniform grey.
    const std::string grey = scratch.File("grey.bmp");
    ASSERT_EQ(kxSnapPicture(0, grey.c_str()), 1);
    std::vector<uint8_t> f = ReadBytes(grey);
    ASSERT_EQ(f.size(), 54u + 3 * 352 * 288);
    EXPECT_TRUE(std::all_of(f.begin() + 54, f.end(), [](uint8_t b) { return b == 0x80; }));

    const TestPicture picture = Decoded(9);
    const std::string shot = scratch.File("shot.bmp");
    ASSERT_EQ(kxSnapPicture(0, shot.c_str()), 1);
    f = ReadBytes(shot);
    const uint8_t* topLeft = &f[54 + 287 * 3 * 352];
    const uint32_t want = engine::SnapshotRgb(picture.Y(0, 0), picture.U(0, 0), picture.V(0, 0));
    EXPECT_EQ(uint32_t(topLeft[2]) << 16 | uint32_t(topLeft[1]) << 8 | topLeft[0], want);
    EXPECT_EQ(Port(0).playMode.load(), PlaybackMode::Paused) << "the snapshot changes nothing";

    EXPECT_EQ(kxSnapPicture(0, scratch.File("no/such/folder.bmp").c_str()), 0);
}

TEST_F(PresentationApi, SnapshotOfAHalfHeightFieldIsTwiceItsHeight) {
    OpenPaused(2);  // 704 x 288
    ASSERT_TRUE(Port(0).doubleHeight);
    const TestPicture field = Decoded(10);
    const std::string path = scratch.File("field.bmp");
    ASSERT_EQ(kxSnapPicture(0, path.c_str()), 1);
    const std::vector<uint8_t> f = ReadBytes(path);
    ASSERT_EQ(f.size(), 54u + 3 * 704 * 576);
    const uint8_t* bottomRight = &f[54 + 3 * 703];
    const uint32_t want = engine::SnapshotRgb(field.Y(703, 287), field.U(703, 287), field.V(703, 287));
    EXPECT_EQ(uint32_t(bottomRight[2]) << 16 | uint32_t(bottomRight[1]) << 8 | bottomRight[0], want)
        << "the last row is the field's last row";
}

}  // namespace
}  // namespace kestrel::testing

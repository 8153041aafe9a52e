// The picture copy: YUY2 packing and the three RGB conversions against their definitions, in
// every kernel set, and the copy routines' handling of surfaces.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/picture_copy.h"
#include "engine/picture_copy_kernels.h"
#include "platform/memory_display.h"
#include "tests/engine/presentation_support.h"

namespace kestrel::testing {
namespace {

using engine::PictureKernels;

std::vector<const PictureKernels*> KernelSets() {
    std::vector<const PictureKernels*> sets{&engine::PortablePictureKernels()};
    if (const PictureKernels* sse2 = engine::Sse2PictureKernels()) sets.push_back(sse2);
    return sets;
}

// Runs one row kernel over a picture into rows of exactly width pixels.
std::vector<uint8_t> RunRows(engine::PictureRowFn row, const TestPicture& p, uint32_t bytesPerPixel) {
    std::vector<uint8_t> out(size_t{p.width} * p.height * bytesPerPixel);
    const engine::Yv12View v = p.View();
    for (uint32_t r = 0; r < p.height; ++r) {
        const size_t c = size_t{r / 2} * (p.width / 2);
        row(out.data() + size_t{r} * p.width * bytesPerPixel, v.Y() + size_t{r} * p.width, v.U() + c, v.V() + c,
            p.width);
    }
    return out;
}

class EachKernelSet : public ::testing::TestWithParam<const PictureKernels*> {};

// Widths with and without the tails the vector kernels leave to scalar code.
std::vector<TestPicture> Pictures() {
    std::vector<TestPicture> pictures{TestsrcPicture()};
    uint32_t seed = 1;
    for (uint32_t w : {2u, 6u, 8u, 14u, 16u, 18u, 30u, 38u, 704u}) pictures.push_back(RandomPicture(w, 6, seed++));
    return pictures;
}

TEST_P(EachKernelSet, Yuy2IsLumaAndTheChromaOfEachPixelPairInOrderYUYV) {
    for (const TestPicture& p : Pictures()) {
        const std::vector<uint8_t> out = RunRows(GetParam()->yuy2, p, 2);
        for (uint32_t y = 0; y < p.height; ++y)
            for (uint32_t x = 0; x < p.width; x += 2) {
                const uint8_t* q = &out[(size_t{y} * p.width + x) * 2];
                ASSERT_EQ(q[0], p.Y(x, y)) << p.width << " " << x << "," << y;
                ASSERT_EQ(q[1], p.U(x, y)) << p.width << " " << x << "," << y;
                ASSERT_EQ(q[2], p.Y(x + 1, y)) << p.width << " " << x << "," << y;
                ASSERT_EQ(q[3], p.V(x, y)) << p.width << " " << x << "," << y;
            }
    }
}

TEST_P(EachKernelSet, Rgb32And24AreTheVideoRangeMatrixClamped) {
    for (const TestPicture& p : Pictures()) {
        const std::vector<uint8_t> out32 = RunRows(GetParam()->rgb32, p, 4);
        const std::vector<uint8_t> out24 = RunRows(GetParam()->rgb24, p, 3);
        for (uint32_t y = 0; y < p.height; ++y)
            for (uint32_t x = 0; x < p.width; ++x) {
                const uint32_t want = DisplayRgbAt(p, x, y);
                const size_t i = size_t{y} * p.width + x;
                const uint8_t* q = &out32[i * 4];
                ASSERT_EQ(uint32_t(q[2]) << 16 | uint32_t(q[1]) << 8 | q[0], want) << p.width << " " << x << "," << y;
                ASSERT_EQ(q[3], 0) << "the fourth byte is written as 0";
                const uint8_t* t = &out24[i * 3];
                ASSERT_EQ(uint32_t(t[2]) << 16 | uint32_t(t[1]) << 8 | t[0], want) << p.width << " " << x << "," << y;
            }
    }
}

TEST_P(EachKernelSet, Rgb565CarriesTheLowBitsAlongTheRow) {
    for (const TestPicture& p : Pictures()) {
        const std::vector<uint8_t> out = RunRows(GetParam()->rgb565, p, 2);
        for (uint32_t y = 0; y < p.height; ++y) {
            const std::vector<uint16_t> want = Rgb565Row(p, y);
            for (uint32_t x = 0; x < p.width; ++x) {
                const size_t i = (size_t{y} * p.width + x) * 2;
                ASSERT_EQ(uint16_t(out[i] | out[i + 1] << 8), want[x]) << p.width << " " << x << "," << y;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sets, EachKernelSet, ::testing::ValuesIn(KernelSets()),
                         [](const auto& info) { return std::string(info.param->name); });

// Values worked out by hand from the coefficients.
TEST(PictureCopy, KnownColoursThroughTheVideoRangeMatrix) {
    struct Case {
        uint8_t y, u, v;
        uint32_t rgb;
    } const cases[] = {
        {16, 128, 128, 0x000000},   // black
        {235, 128, 128, 0xFEFEFE},  // white: 9535 * 219 / 8192 = 254.9
        {81, 90, 240, 0xFE0000},    // BT.601 red; green and blue fall below 0 and clamp
        {255, 128, 255, 0xFFAEFF},  // red 480 and blue 278 clamp; green 1433045 / 8192 = 174.9
        {0, 0, 0, 0x008700},        // below the range: red -222.9 rounds down to -223 and clamps
    };
    for (const Case& c : cases) {
        TestPicture p = UniformPicture(8, 2, c.y, c.u, c.v);
        std::vector<uint8_t> out(8 * 2 * 4);
        engine::ConvertToRgb32(out.data(), 32, p.View());
        EXPECT_EQ(uint32_t(out[2]) << 16 | uint32_t(out[1]) << 8 | out[0], c.rgb)
            << int(c.y) << " " << int(c.u) << " " << int(c.v);
    }
}

// Grey at 100 in every component: 100 = 0b1100100 keeps 4 in its low bits, so the carry makes
// the quantised levels alternate 12, 13 (red, blue) and 25, 26 (green) and every row starts over.
TEST(PictureCopy, Rgb565CarryDithersAFlatGrey) {
    TestPicture p = UniformPicture(6, 2, 102, 128, 128);  // 9535 * 86 >> 13 = 100
    std::vector<uint8_t> out(6 * 2 * 2 + 8, 0xEE);
    engine::ConvertToRgb565(out.data(), 12 + 4, p.View());
    const uint16_t even = 12 << 11 | 25 << 5 | 12, odd = 13 << 11 | 26 << 5 | 13;
    for (int row = 0; row < 2; ++row) {
        for (int x = 0; x < 6; ++x) {
            const uint8_t* q = &out[row * 16 + x * 2];
            EXPECT_EQ(uint16_t(q[0] | q[1] << 8), x % 2 ? odd : even) << row << "," << x;
        }
        if (row == 0) {
            EXPECT_EQ(out[12], 0xEE) << "the pitch's slack is not written";
        }
    }
}

// Rows go from the top of the memory at its pitch; the bytes between rows are left alone.
TEST(PictureCopy, WholePicturesHonourThePitch) {
    const TestPicture p = TestsrcPicture();
    struct Case {
        void (*convert)(uint8_t*, ptrdiff_t, const engine::Yv12View&);
        uint32_t bytesPerPixel;
    } const cases[] = {{engine::PackYuy2, 2}, {engine::ConvertToRgb565, 2}, {engine::ConvertToRgb24, 3},
                       {engine::ConvertToRgb32, 4}};
    for (const Case& c : cases) {
        const size_t rowBytes = size_t{p.width} * c.bytesPerPixel, pitch = rowBytes + 24;
        std::vector<uint8_t> out(pitch * p.height, 0xA5);
        c.convert(out.data(), ptrdiff_t(pitch), p.View());
        for (uint32_t y = 0; y < p.height; ++y)
            for (size_t i = rowBytes; i < pitch; ++i) ASSERT_EQ(out[y * pitch + i], 0xA5) << y;
        // The last row is the picture's last row.
        if (c.bytesPerPixel == 4) {
            const uint8_t* q = &out[(p.height - 1) * pitch + 4 * 5];
            EXPECT_EQ(uint32_t(q[2]) << 16 | uint32_t(q[1]) << 8 | q[0], DisplayRgbAt(p, 5, p.height - 1));
        }
    }
}

// ---------------------------------------------------------------------------------------------
// The copy routines on surfaces of the memory display.

using platform::DisplayResult;
using platform::MemoryDisplayConfig;
using platform::MemoryDisplayControl;
using platform::MemoryKind;
using platform::PixelFormat;
using platform::SurfaceKind;

struct SurfaceRig {
    std::shared_ptr<MemoryDisplayControl> control;
    std::unique_ptr<platform::Display> display;
    explicit SurfaceRig(MemoryDisplayConfig c = Yuy2Display()) : control(std::make_shared<MemoryDisplayControl>(c)) {
        display = platform::MemoryDisplayFactory(control)();
    }
    static MemoryDisplayConfig Yuy2Display() {
        MemoryDisplayConfig c;
        c.caps.bltFourcc = c.caps.bltStretch = true;
        c.desktopBits = 8;  // lets a Palette8 surface be made
        return c;
    }
    std::unique_ptr<platform::Surface> Make(PixelFormat format, uint32_t w, uint32_t h) {
        std::unique_ptr<platform::Surface> s;
        EXPECT_EQ(display->CreateSurface({SurfaceKind::OffscreenPlain, MemoryKind::Video, format, w, h}, s),
                  DisplayResult::Ok);
        Fill(*s, 0x5C);
        return s;
    }
    static void Fill(platform::Surface& s, uint8_t value) {
        platform::LockedPixels px;
        ASSERT_EQ(s.Lock(px), DisplayResult::Ok);
        std::memset(px.data, value, size_t(px.pitch) * px.height);
        s.Unlock();
    }
    static bool Untouched(platform::Surface& s, uint8_t value) {
        platform::LockedPixels px;
        if (s.Lock(px) != DisplayResult::Ok) return false;
        bool same = true;
        for (size_t i = 0; i < size_t(px.pitch) * px.height; ++i) same = same && px.data[i] == value;
        s.Unlock();
        return same;
    }
};

TEST(CopyRoutines, WriteTheSurfaceFormatsTheyCanAndNothingIntoOthers) {
    const TestPicture p = TestsrcPicture();
    using engine::CopyResult;
    using engine::PictureCopy;
    struct Case {
        PictureCopy routine;
        PixelFormat format;
        CopyResult result;
    } const cases[] = {
        {PictureCopy::Yuy2, PixelFormat::YUY2, CopyResult::Ok},
        {PictureCopy::Rgb, PixelFormat::RGB565, CopyResult::Ok},
        {PictureCopy::Rgb, PixelFormat::RGB24, CopyResult::Ok},
        {PictureCopy::Rgb, PixelFormat::RGB32, CopyResult::Ok},
        {PictureCopy::Rgb, PixelFormat::Palette8, CopyResult::UnsupportedDepth},
        {PictureCopy::Rgb, PixelFormat::YUY2, CopyResult::UnsupportedDepth},
        {PictureCopy::Yuy2, PixelFormat::RGB32, CopyResult::UnsupportedDepth},
    };
    for (const Case& c : cases) {
        SurfaceRig rig;
        auto s = rig.Make(c.format, p.width, p.height);
        EXPECT_EQ(engine::CopyPicture(c.routine, s.get(), p.View()), c.result) << int(c.format);
        if (c.result != CopyResult::Ok) {
            EXPECT_TRUE(SurfaceRig::Untouched(*s, 0x5C)) << int(c.format);
        } else {
            platform::LockedPixels px;
            ASSERT_EQ(s->Lock(px), DisplayResult::Ok);
            // What the surface shows at a few places of the bars and the gradient.
            for (auto [x, y] : {std::pair{3u, 3u}, {60u, 70u}, {100u, 101u}, {175u, 143u}}) {
                const uint32_t want =
                    c.format == PixelFormat::RGB565 ? Expand565(Rgb565Row(p, y)[x]) : DisplayRgbAt(p, x, y);
                EXPECT_EQ(platform::PixelToRgb(px, x, y), want) << int(c.format) << " " << x << "," << y;
            }
            s->Unlock();
        }
        EXPECT_EQ(rig.control->Activity().openLocks, 0u) << "every lock is undone";
    }
}

// A YUY2 surface reports only a lost surface as a loss; for an RGB surface any lock failure is
// one (the next picture restores first). A lock that meets a surface still being drawn from waits.
TEST(CopyRoutines, LockFailures) {
    const TestPicture p = TestsrcPicture();
    using engine::CopyResult;
    using engine::PictureCopy;
    struct Case {
        const char* what;
        PictureCopy routine;
        void (*arrange)(MemoryDisplayControl&);
        CopyResult result;
    } const cases[] = {
        {"lost yuy2", PictureCopy::Yuy2, [](MemoryDisplayControl& c) { c.LoseSurfaces(); }, CopyResult::SurfaceLost},
        {"lost rgb", PictureCopy::Rgb, [](MemoryDisplayControl& c) { c.LoseSurfaces(); }, CopyResult::SurfaceLost},
        {"refused yuy2", PictureCopy::Yuy2,
         [](MemoryDisplayControl& c) {
             auto cfg = c.Config();
             cfg.failLocks = true;
             c.SetConfig(cfg);
         },
         CopyResult::LockFailed},
        {"refused rgb", PictureCopy::Rgb,
         [](MemoryDisplayControl& c) {
             auto cfg = c.Config();
             cfg.failLocks = true;
             c.SetConfig(cfg);
         },
         CopyResult::SurfaceLost},
        {"busy a while", PictureCopy::Yuy2, [](MemoryDisplayControl& c) { c.StillDrawingFor(5); }, CopyResult::Ok},
    };
    for (const Case& c : cases) {
        SurfaceRig rig;
        auto s = rig.Make(c.routine == PictureCopy::Yuy2 ? PixelFormat::YUY2 : PixelFormat::RGB32, p.width, p.height);
        c.arrange(*rig.control);
        EXPECT_EQ(engine::CopyPicture(c.routine, s.get(), p.View()), c.result) << c.what;
        EXPECT_EQ(rig.control->Activity().openLocks, 0u) << c.what;
    }
}

// The copy never writes past its surface nor reads past the picture buffer.
TEST(CopyRoutines, RefuseSurfacesTooSmallAndBuffersShortOfThePicture) {
    using engine::CopyResult;
    SurfaceRig rig;
    const TestPicture p = TestsrcPicture();
    for (auto [w, h] : {std::pair{174u, 144u}, {176u, 142u}, {88u, 72u}}) {
        auto s = rig.Make(PixelFormat::RGB32, w, h);
        EXPECT_EQ(engine::CopyToRgb(s.get(), p.View()), CopyResult::SurfaceTooSmall) << w << "x" << h;
        EXPECT_TRUE(SurfaceRig::Untouched(*s, 0x5C));
        auto y = rig.Make(PixelFormat::YUY2, w, h);
        EXPECT_EQ(engine::CopyToYuy2(y.get(), p.View()), CopyResult::SurfaceTooSmall) << w << "x" << h;
        EXPECT_TRUE(SurfaceRig::Untouched(*y, 0x5C));
    }
    auto bigger = rig.Make(PixelFormat::YUY2, 352, 288);
    EXPECT_EQ(engine::CopyToYuy2(bigger.get(), p.View()), CopyResult::Ok) << "a larger surface takes the picture";

    engine::Yv12View shortBuffer = p.View();
    shortBuffer.bytes -= 1;
    EXPECT_EQ(engine::CopyToYuy2(bigger.get(), shortBuffer), CopyResult::BadPicture);
    engine::Yv12View odd = p.View();
    odd.width = 175;
    EXPECT_EQ(engine::CopyToYuy2(bigger.get(), odd), CopyResult::BadPicture);
    EXPECT_EQ(engine::CopyToYuy2(nullptr, p.View()), CopyResult::NoSurface);
    EXPECT_EQ(engine::CopyToRgb(nullptr, p.View()), CopyResult::NoSurface);
    EXPECT_EQ(rig.control->Activity().openLocks, 0u);
}

}  // namespace
}  // namespace kestrel::testing

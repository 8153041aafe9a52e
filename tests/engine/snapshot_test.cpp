// Snapshots: the BMP layout byte by byte, the full-range conversion, row padding, the stretch of
// half-height fields, and files that cannot be written.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <fstream>

#include "engine/snapshot.h"
#include "tests/engine/presentation_support.h"
#include "tests/support/recording_writer.h"

namespace kestrel::testing {
namespace {

using engine::kBmpFromYuv420;
using engine::WriteBmp;

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
uint32_t Le16(const std::vector<uint8_t>& b, size_t at) { return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8; }

// The snapshot's colours from their definition, in floating point, truncated toward zero.
uint32_t FullRangeRgb(int y, int u, int v) {
    auto to8 = [](double c) { return uint32_t(Clamp(int(std::trunc(c)))); };
    return to8(y + 1.375 * (v - 128)) << 16 | to8(y - 0.34375 * (u - 128) - 0.703125 * (v - 128)) << 8 |
           to8(y + 1.734375 * (u - 128));
}

// Reads pixel (x, y) of a 24-bit bottom-up BMP the way any reader does: rows of the width's
// bytes rounded up to four, from the offset in the header.
uint32_t BmpPixel(const std::vector<uint8_t>& file, uint32_t x, uint32_t y) {
    const uint32_t w = Le32(file, 18), h = Le32(file, 22);
    const size_t stride = (size_t{w} * 24 + 31) / 32 * 4;
    const uint8_t* p = &file[Le32(file, 10) + (h - 1 - y) * stride + 3 * x];
    return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

class Snapshot : public ::testing::Test {
protected:
    std::string Save(const TestPicture& p, const char* name = "snap.bmp") {
        const std::string path = dir.File(name);
        EXPECT_EQ(WriteBmp(p.bytes.data(), p.bytes.size(), p.width, p.height, kBmpFromYuv420, path.c_str()), 1);
        return path;
    }
    ScratchDir dir;
};

TEST_F(Snapshot, Cif352x288HasTheExactLayout) {
    const TestPicture p = RandomPicture(352, 288, 11);
    const std::vector<uint8_t> f = ReadFile(Save(p));
    const uint32_t image = 3 * 352 * 288;
    ASSERT_EQ(f.size(), 54u + image) << "no row padding at this width";
    EXPECT_EQ(f[0], 'B');
    EXPECT_EQ(f[1], 'M');
    struct Field {
        size_t offset, size;
        uint32_t value;
    } const fields[] = {
        {2, 4, 54 + image}, {6, 2, 0},   {8, 2, 0},  {10, 4, 54}, {14, 4, 40}, {18, 4, 352}, {22, 4, 288},
        {26, 2, 1},         {28, 2, 24}, {30, 4, 0}, {34, 4, image}, {38, 4, 0}, {42, 4, 0},  {46, 4, 0},
        {50, 4, 0},
    };
    for (const Field& field : fields)
        EXPECT_EQ(field.size == 4 ? Le32(f, field.offset) : Le16(f, field.offset), field.value) << field.offset;
    // Bottom-up: the first stored row is the picture's last; pixels are blue, green, red.
    for (auto [x, y] : {std::pair{0u, 287u}, {351u, 287u}, {0u, 0u}, {351u, 0u}, {177u, 100u}, {178u, 101u}}) {
        const uint8_t* q = &f[54 + size_t{287 - y} * 3 * 352 + 3 * x];
        EXPECT_EQ(uint32_t(q[2]) << 16 | uint32_t(q[1]) << 8 | q[0], FullRangeRgb(p.Y(x, y), p.U(x, y), p.V(x, y)))
            << x << "," << y;
    }
}

TEST_F(Snapshot, EveryPixelIsTheFullRangeConversion) {
    const TestPicture p = TestsrcPicture();
    const std::vector<uint8_t> f = ReadFile(Save(p));
    for (uint32_t y = 0; y < p.height; ++y)
        for (uint32_t x = 0; x < p.width; ++x)
            ASSERT_EQ(BmpPixel(f, x, y), FullRangeRgb(p.Y(x, y), p.U(x, y), p.V(x, y))) << x << "," << y;
}

// Video-range levels are kept as they are, results truncate toward zero and clamp.
TEST_F(Snapshot, LevelsAndRounding) {
    struct Case {
        uint8_t y, u, v;
        uint32_t rgb;
    } const cases[] = {
        {16, 128, 128, 0x101010},   // black stays 16
        {235, 128, 128, 0xEBEBEB},  // white stays 235
        {255, 128, 255, 0xFFA5FF},  // red 255 + 174.6 clamps; green 255 - 89.3 = 165.7 -> 165
        {20, 128, 125, 0x0F1614},   // red 15.875 -> 15, green 22.1 -> 22, blue 20
        {10, 128, 120, 0x000F0A},   // red 10 - 11 = -1 -> 0; green 15.6 -> 15
        {50, 129, 128, 0x323133},   // blue 51.73 -> 51, green 49.66 -> 49
    };
    for (const Case& c : cases) {
        EXPECT_EQ(engine::SnapshotRgb(c.y, c.u, c.v), c.rgb) << int(c.y) << " " << int(c.u) << " " << int(c.v);
        EXPECT_EQ(FullRangeRgb(c.y, c.u, c.v), c.rgb) << "the table itself";
        const std::vector<uint8_t> f = ReadFile(Save(UniformPicture(4, 2, c.y, c.u, c.v)));
        EXPECT_EQ(BmpPixel(f, 3, 1), c.rgb);
    }
}

// Rows are padded with zeros to a multiple of four bytes, so that a reader finds every row where
// the width says it is.
TEST_F(Snapshot, RowsOfWidthsNotAMultipleOfFourArePadded) {
    for (uint32_t w : {2u, 5u, 6u, 7u, 10u, 13u}) {
        const TestPicture p = RandomPicture(w, 6, w);
        const std::vector<uint8_t> f = ReadFile(Save(p));
        const uint32_t row = engine::BmpRowBytes(w);
        ASSERT_EQ(row % 4, 0u);
        ASSERT_EQ(f.size(), 54u + row * 6) << w;
        EXPECT_EQ(Le32(f, 2), 54u + row * 6);
        EXPECT_EQ(Le32(f, 34), row * 6);
        for (uint32_t y = 0; y < 6; ++y) {
            for (uint32_t i = 3 * w; i < row; ++i) EXPECT_EQ(f[54 + y * row + i], 0) << w << " row " << y;
            for (uint32_t x = 0; x < w; ++x) {
                // An odd last column uses the last chroma column.
                const uint32_t cx = std::min(x, w / 2 * 2 - 1);
                ASSERT_EQ(BmpPixel(f, x, y), FullRangeRgb(p.Y(x, y), p.U(cx, y), p.V(cx, y))) << w << " " << x;
            }
        }
    }
}

TEST(SnapshotScale, HandWorkedRowsOfAFourToEightStretch) {
    // Luma rows 0, 100, 200, 250; chroma rows 40, 200 (both planes).
    TestPicture p{2, 4, {0, 0, 100, 100, 200, 200, 250, 250, 40, 200, 40, 200}};
    engine::SnapshotPicture snap;
    ASSERT_TRUE(snap.Allocate(2, 4, true));
    ASSERT_TRUE(snap.Take(p.View()));
    ASSERT_EQ(snap.height(), 8u);
    // q = j * 3 * 256 / 7: 0, 109, 219, 329, 438, 548, 658, and the last row is row 3.
    const uint8_t luma[8] = {0, 43, 86, 129, 171, 207, 229, 250};
    for (int j = 0; j < 8; ++j) EXPECT_EQ(snap.data()[2 * j], luma[j]) << j;
    // q = (j + 0.25) * 3 * 256 / 7 - 64: -36 (before the first row), 73, 182, and the last row.
    const uint8_t chroma[4] = {40, 86, 154, 200};
    for (int j = 0; j < 4; ++j) {
        EXPECT_EQ(snap.data()[16 + j], chroma[j]) << "V " << j;
        EXPECT_EQ(snap.data()[20 + j], chroma[j]) << "U " << j;
    }
}

TEST_F(Snapshot, HalfHeightFieldIsSavedAtTwiceItsHeight) {
    const TestPicture field = RandomPicture(704, 288, 21);
    engine::SnapshotPicture snap;
    ASSERT_TRUE(snap.Allocate(704, 288, true));
    ASSERT_TRUE(snap.Take(field.View()));
    ASSERT_EQ(snap.width(), 704u);
    ASSERT_EQ(snap.height(), 576u);
    EXPECT_TRUE(std::equal(field.bytes.begin(), field.bytes.begin() + 704, snap.data())) << "first luma row";
    EXPECT_TRUE(std::equal(field.bytes.begin() + 704 * 287, field.bytes.begin() + 704 * 288, snap.data() + 704 * 575))
        << "last luma row";

    const std::string path = dir.File("field.bmp");
    ASSERT_EQ(snap.Write(path.c_str()), 1);
    const std::vector<uint8_t> f = ReadFile(path);
    ASSERT_EQ(f.size(), 54u + 3 * 704 * 576);
    EXPECT_EQ(Le32(f, 18), 704u);
    EXPECT_EQ(Le32(f, 22), 576u);
    // The top row of the file shows the field's top row with its first chroma row.
    for (uint32_t x : {0u, 1u, 703u})
        EXPECT_EQ(BmpPixel(f, x, 0), FullRangeRgb(field.Y(x, 0), field.U(x, 0), field.V(x, 0))) << x;
}

TEST_F(Snapshot, FullHeightPicturesAreCopiedAsTheyAre) {
    const TestPicture p = TestsrcPicture();
    engine::SnapshotPicture snap;
    ASSERT_TRUE(snap.Allocate(176, 144, false));
    ASSERT_TRUE(snap.Take(p.View()));
    EXPECT_TRUE(std::equal(p.bytes.begin(), p.bytes.end(), snap.data()));
    TestPicture other = RandomPicture(352, 288, 1);
    EXPECT_FALSE(snap.Take(other.View())) << "a picture of another size";
}

TEST_F(Snapshot, FilesThatCannotBeWrittenCompletelyFail) {
    const TestPicture p = RandomPicture(352, 288, 2);
    const auto write = [&](const std::string& path) {
        return WriteBmp(p.bytes.data(), p.bytes.size(), 352, 288, kBmpFromYuv420, path.c_str());
    };
    struct stat st;
    if (stat("/dev/full", &st) == 0) {
        EXPECT_EQ(write("/dev/full"), 0) << "every write of the device fails with no space left";
    }
    EXPECT_EQ(write(dir.File("missing/folder/snap.bmp")), 0);
    EXPECT_EQ(write(dir.path()), 0) << "a folder";
    EXPECT_EQ(WriteBmp(p.bytes.data(), p.bytes.size(), 352, 288, kBmpFromYuv420, nullptr), 0);
}

TEST_F(Snapshot, BuffersShortOfThePictureAndOtherFormatsAreRefusedBeforeTheFileIsMade) {
    const TestPicture p = RandomPicture(352, 288, 3);
    const std::string path = dir.File("refused.bmp");
    EXPECT_EQ(WriteBmp(p.bytes.data(), p.bytes.size() - 1, 352, 288, kBmpFromYuv420, path.c_str()), 0);
    EXPECT_EQ(WriteBmp(p.bytes.data(), p.bytes.size(), 352, 288, 1, path.c_str()), 0);
    EXPECT_EQ(WriteBmp(p.bytes.data(), p.bytes.size(), 0, 288, kBmpFromYuv420, path.c_str()), 0);
    EXPECT_EQ(WriteBmp(p.bytes.data(), p.bytes.size(), 1, 1, kBmpFromYuv420, path.c_str()), 0);
    struct stat st;
    EXPECT_NE(stat(path.c_str(), &st), 0) << "no file was created";
}

}  // namespace
}  // namespace kestrel::testing

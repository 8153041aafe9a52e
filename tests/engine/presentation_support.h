// Pictures and reference conversions shared by the presentation and snapshot tests.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "engine/picture_copy.h"

namespace kestrel::testing {

// A picture buffer in the port's layout (Y, V, U), sized exactly so that a read past it trips
// the address sanitizer.
struct TestPicture {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> bytes;

    engine::Yv12View View() const { return {bytes.data(), bytes.size(), width, height}; }
    uint8_t Y(uint32_t x, uint32_t y) const { return bytes[size_t{y} * width + x]; }
    uint8_t V(uint32_t x, uint32_t y) const { return bytes[size_t{width} * height + size_t{y / 2} * (width / 2) + x / 2]; }
    uint8_t U(uint32_t x, uint32_t y) const {
        return bytes[size_t{width} * height * 5 / 4 + size_t{y / 2} * (width / 2) + x / 2];
    }
};

inline TestPicture UniformPicture(uint32_t w, uint32_t h, uint8_t y, uint8_t u, uint8_t v) {
    TestPicture p{w, h, std::vector<uint8_t>(size_t{w} * h * 3 / 2)};
    std::fill_n(p.bytes.begin(), size_t{w} * h, y);
    std::fill_n(p.bytes.begin() + size_t{w} * h, size_t{w} * h / 4, v);
    std::fill_n(p.bytes.begin() + size_t{w} * h * 5 / 4, size_t{w} * h / 4, u);
    return p;
}

inline TestPicture RandomPicture(uint32_t w, uint32_t h, uint32_t seed) {
    std::mt19937 rng(seed);
    TestPicture p{w, h, std::vector<uint8_t>(size_t{w} * h * 3 / 2)};
    for (uint8_t& b : p.bytes) b = static_cast<uint8_t>(rng());
    return p;
}

// One frame of ffmpeg's testsrc2 (colour bars, gradients, text), 176 x 144.
inline TestPicture TestsrcPicture() {
    const std::string path = std::string(KESTREL_SOURCE_DIR) + "/tests/data/present/testsrc2_176x144.yv12";
    std::ifstream in(path, std::ios::binary);
    TestPicture p{176, 144, std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {})};
    EXPECT_EQ(p.bytes.size(), 176u * 144 * 3 / 2) << path;
    return p;
}

// The display conversion, written from its definition: each factor times its term, the sum
// divided by 8192 rounding down (an arithmetic shift by 13), clamped afterwards.
struct Rgb {
    int r, g, b;
};
inline int FloorDiv8192(int64_t n) { return static_cast<int>(std::floor(static_cast<double>(n) / 8192.0)); }
inline Rgb DisplayRgbUnclamped(int y, int u, int v) {
    const int64_t yy = y - 16, uu = u - 128, vv = v - 128;
    return {FloorDiv8192(9535 * yy + 13074 * vv), FloorDiv8192(9535 * yy - 3203 * uu - 6660 * vv),
            FloorDiv8192(9535 * yy + 16531 * uu)};
}
inline int Clamp(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }
inline uint32_t DisplayRgb(int y, int u, int v) {
    const Rgb c = DisplayRgbUnclamped(y, u, v);
    return uint32_t(Clamp(c.r)) << 16 | uint32_t(Clamp(c.g)) << 8 | uint32_t(Clamp(c.b));
}
inline uint32_t DisplayRgbAt(const TestPicture& p, uint32_t x, uint32_t y) {
    return DisplayRgb(p.Y(x, y), p.U(x, y), p.V(x, y));
}

// One RGB565 row from the definition: each component adds the low three bits of the same
// component of the previous pixel before clamping; the row starts without a carry.
inline std::vector<uint16_t> Rgb565Row(const TestPicture& p, uint32_t row) {
    std::vector<uint16_t> out;
    Rgb prev{0, 0, 0};
    for (uint32_t x = 0; x < p.width; ++x) {
        const Rgb c = DisplayRgbUnclamped(p.Y(x, row), p.U(x, row), p.V(x, row));
        prev = {c.r + prev.r % 8 + (prev.r % 8 < 0 ? 8 : 0), c.g + prev.g % 8 + (prev.g % 8 < 0 ? 8 : 0),
                c.b + prev.b % 8 + (prev.b % 8 < 0 ? 8 : 0)};
        out.push_back(static_cast<uint16_t>((Clamp(prev.r) & 0xF8) << 8 | (Clamp(prev.g) & 0xFC) << 3 |
                                            Clamp(prev.b) >> 3));
    }
    return out;
}

inline uint32_t Expand565(uint16_t v) {
    const uint32_t r = v >> 11 & 31, g = v >> 5 & 63, b = v & 31;
    return (r << 3 | r >> 2) << 16 | (g << 2 | g >> 4) << 8 | (b << 3 | b >> 2);
}

}  // namespace kestrel::testing

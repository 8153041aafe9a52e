// CAVLC residual decoding (ITU-T H.264 clause 9.2) and the fixed tables of the macroblock layer.
#pragma once

#include <array>
#include <cstdint>

#include "h264/bit_reader.h"

namespace kestrel::h264 {

// One 4x4 (or 2x2 chroma DC) block of coefficient levels.
struct ResidualBlock {
    int nc;               // -1 chroma DC, else 0..16
    int start;            // first scan index (1 for AC blocks of Intra16x16 and chroma)
    int max_coeff;        // 4, 15 or 16
    const uint8_t* scan;  // raster position of each scan index
    const int32_t* scale;  // dequantisation factor per raster position, or null for DC blocks
};

// Reads one residual_block_cavlc() and adds its (dequantised) levels into coef at their raster
// positions; coef must be zero where no level lands. Returns TotalCoeff (0..16), or -1 when the
// block is invalid (a code no table defines, too many coefficients, runs beyond the block, a
// level_prefix above 15); then some levels may already be in coef.
int ReadResidualBlock(BitReader& br, const ResidualBlock& b, int16_t* coef);

// Scans of a 4x4 block by scan index (clause 8.5.6): raster position 4 * row + column.
extern const uint8_t kZigZag4x4[16];
extern const uint8_t kFieldScan4x4[16];
extern const uint8_t kRasterScan2x2[4];

// Table 9-4: coded_block_pattern by codeNum for Intra_4x4 and for Inter macroblocks. 64 entries
// so that a damaged codeNum masked to 6 bits stays inside the table (48..63 read as 0).
extern const uint8_t kCbpIntra[64];
extern const uint8_t kCbpInter[64];

// Table 8-15: QPc by qPi (0..51).
extern const uint8_t kChromaQp[52];

// Dequantisation of 4x4 blocks with flat scaling: kDequant4x4[qp][raster position] =
// LevelScale4x4(qp % 6, i, j) / 16 << (qp / 6) (clause 8.5.12.1, exact for every qp). LevelScale v
// of clause 8.5.9 is one row: for m = qp % 6 the factor of a position whose coordinates are
// both even is row[m], mixed row[m + 2], both odd row[m + 4].
inline constexpr auto kDequant4x4 = [] {
    constexpr uint8_t kScaleRow[10] = {10, 11, 13, 14, 16, 18, 20, 23, 25, 29};
    constexpr uint8_t kPositionClass[16] = {0, 1, 0, 1, 1, 2, 1, 2, 0, 1, 0, 1, 1, 2, 1, 2};
    std::array<std::array<int32_t, 16>, 52> t{};
    for (int qp = 0; qp < 52; ++qp)
        for (int p = 0; p < 16; ++p) t[qp][p] = kScaleRow[qp % 6 + 2 * kPositionClass[p]] << (qp / 6);
    return t;
}();

}  // namespace kestrel::h264

// The macroblock layer of one decoder instance: what a slice's macroblocks are parsed into, the
// context rows that later macroblocks and the deblocking filter read, and the work area in which
// a macroblock is predicted, reconstructed and filtered before it is stored in the picture.
#pragma once

#include <cstddef>
#include <cstdint>

#include "h264/bit_reader.h"
#include "h264/dsp/kernel_table.h"
#include "h264/picture.h"
#include "h264/slice_header.h"

namespace kestrel::h264 {

// Internal macroblock types: mb_type + 23 in I slices, mb_type + 18 in P slices.
enum MbType : int16_t {
    kMbPSkip = -1,
    kMbP16x16 = 18,
    kMbP16x8 = 19,
    kMbP8x16 = 20,
    kMbP8x8 = 21,
    kMbP8x8Ref0 = 22,
    kMbINxN = 23,
    kMbI16x16 = 24,  // 24..47 with prediction mode and coded block pattern
    kMbIPcm = 48,
};

// Error flags of a macroblock's parse; the slice stops after the macroblock that raised one.
enum MbError : uint32_t {
    kMbErrorRange = 1,     // mb_skip_run or first_mb_in_slice beyond the picture
    kMbErrorType = 2,      // mb_type or sub_mb_type out of range
    kMbErrorValue = 4,     // intra_chroma_pred_mode, coded_block_pattern or mb_qp_delta out of range
    kMbErrorResidual = 8,  // an invalid CAVLC block
    kMbErrorOverrun = 16,  // the macroblock ran past the end of the slice data
};

// A finished macroblock as its neighbours and the deblocking filter see it. 4x4 arrays are in
// raster order (4 * row + column), 8x8 arrays in raster order of the quadrants.
struct MbInfo {
    uint32_t addr;
    uint32_t slice;  // serial number of the slice that decoded it
    int16_t type;
    uint8_t intra;
    uint8_t qp;   // QP_Y as the filter sees it (0 for I_PCM)
    uint8_t qpc;  // QP_C likewise
    uint8_t nnz[16];
    uint8_t nnz_c[2][4];
    int8_t i4[16];  // Intra4x4PredMode; 2 (DC) for every other type
    int8_t ref_idx[4];   // -1 intra
    int16_t ref_pic[4];  // Picture::id of the reference, -1 intra
    int16_t mv[16][2];
};

// Neighbourhood caches of the macroblock being decoded: 4x4 blocks in a grid of 6 columns (-1..4)
// and 5 rows (-1..3), so that left, upper, upper-left and upper-right blocks are reached by fixed
// offsets from any block of the macroblock.
inline constexpr int kCacheWidth = 6;
constexpr int CacheIndex(int x, int y) { return (y + 1) * kCacheWidth + x + 1; }
inline constexpr int kCacheSize = 5 * kCacheWidth;
inline constexpr uint8_t kNnzUnavailable = 0x80;
inline constexpr int8_t kRefUnavailable = -2;  // not available; -1 is intra (available, no reference)

struct alignas(64) WorkArea {
    static constexpr ptrdiff_t kYStride = 48;
    static constexpr ptrdiff_t kCStride = 32;
    // Samples with a border of four rows above and sixteen columns on each side: intra
    // prediction reads row -1 (columns -1..19) and column -1; the filter reads up to four rows
    // and columns of the neighbours.
    uint8_t y_area[20 * kYStride];
    uint8_t cb_area[12 * kCStride];
    uint8_t cr_area[12 * kCStride];
    alignas(16) int16_t coef[16 * 16];       // luma 4x4 blocks in decoding order
    alignas(16) int16_t coef_c[2][4 * 16];  // Cb, Cr blocks
    alignas(16) int16_t dc[16];              // Intra16x16 DC levels, raster order of the 4x4 matrix
    alignas(16) int16_t dc_c[2][4];
    alignas(16) uint8_t emu[24 * 24];  // reference block with out-of-picture samples filled in
    uint8_t left_col[3][16];  // unfiltered right column of the previous macroblock: Y, Cb, Cr

    uint8_t* Y() { return y_area + 4 * kYStride + 16; }
    uint8_t* Cb() { return cb_area + 4 * kCStride + 16; }
    uint8_t* Cr() { return cr_area + 4 * kCStride + 16; }
};

struct MbLayer {
    // ---- memory taken at creation (sized for the instance's widest picture)
    MbInfo* rows[2] = {};       // context rows by macroblock row parity
    uint8_t* top_line[2][3] = {};  // unfiltered bottom rows by parity: Y, Cb, Cr (index -16.. valid)
    WorkArea* wa = nullptr;
    const dsp::KernelTable* k = nullptr;

    // ---- picture
    Picture* pic = nullptr;
    uint32_t width_mbs = 0;
    int pic_w = 0, pic_h = 0;  // luma samples of the picture being decoded (a field's own rows)
    bool field = false;
    bool bottom = false;
    uint32_t slice_serial = 0;
    uint32_t picture_first_serial = 1;

    // ---- slice
    bool p_slice = false;
    uint32_t first_mb = 0;
    bool constrained_intra = false;
    int chroma_qp_offset = 0;
    uint32_t num_ref_idx_active = 0;
    Picture* const* ref_list = nullptr;
    bool weighted = false;
    bool weight_default[32] = {};
    dsp::Weight weight[32][3] = {};
    uint32_t deblock_idc = 0;
    int filter_a = 0, filter_b = 0;
    const uint8_t* scan = nullptr;
    int qp = 26;  // running QP_Y
    int qpc = 26;

    // ---- macroblock being decoded
    uint32_t addr = 0, mb_x = 0, mb_y = 0;
    MbInfo* cur = nullptr;
    const MbInfo* left = nullptr;  // neighbours in the picture (whatever their slice)
    const MbInfo* top = nullptr;
    const MbInfo* top_left = nullptr;
    const MbInfo* top_right = nullptr;
    bool avail_a = false, avail_b = false, avail_c = false, avail_d = false;  // same slice
    uint8_t cbp = 0;
    uint8_t chroma_mode = 0;
    uint8_t i16_mode = 0;
    uint8_t sub_type[4] = {};
    int8_t part_ref[4] = {};
    int16_t mvd[16][2] = {};

    alignas(16) uint8_t nnz_cache[kCacheSize] = {};
    uint8_t nnz_c_cache[2][9] = {};  // 3x3 grid, rows and columns -1..1
    int8_t i4_cache[kCacheSize] = {};
    int8_t ref_cache[kCacheSize] = {};
    alignas(16) int16_t mv_cache[kCacheSize][2] = {};
};

// Parses one macroblock of an I or P slice (not P_Skip) into m.cur and the work area;
// returns 0 or MbError flags.
uint32_t ParseMacroblock(MbLayer& m, BitReader& br);

// Motion vectors of the current inter macroblock (P_Skip when skip), into m.cur.
void PredictMotion(MbLayer& m, bool skip);
// Prediction and residual of the current macroblock into the work area.
void ReconstructInter(MbLayer& m, bool skip);
void ReconstructIntra(MbLayer& m);
// Saves the unfiltered edges, filters the macroblock (unless the slice disables it) and stores
// it in the picture.
void FinishMacroblock(MbLayer& m);

// Adds the residual of a luma 4x4 block with nnz levels (at least one) to its prediction: a
// block whose single level is the DC adds a constant.
inline void AddLumaBlock(const dsp::KernelTable& k, uint8_t* dst, int16_t* coef, int nnz) {
    if (nnz == 1 && coef[0] != 0) k.idct4x4_dc_add(dst, WorkArea::kYStride, coef);
    else k.idct4x4_add(dst, WorkArea::kYStride, coef);
}

// Adds the residual of one chroma plane (0 Cb, 1 Cr) to its prediction in the work area: the
// transform where AC levels were coded, a constant where only the DC was.
inline void AddChromaResidual(MbLayer& m, int plane) {
    WorkArea& wa = *m.wa;
    uint8_t* base = plane == 0 ? wa.Cb() : wa.Cr();
    for (int b = 0; b < 4; ++b) {
        int16_t* c = wa.coef_c[plane] + 16 * b;
        uint8_t* dst = base + (b >> 1) * 4 * WorkArea::kCStride + (b & 1) * 4;
        if (m.cur->nnz_c[plane][b]) m.k->idct4x4_add(dst, WorkArea::kCStride, c);
        else if (c[0]) m.k->idct4x4_dc_add(dst, WorkArea::kCStride, c);
    }
}

// The 4x4 blocks in decoding order (clause 6.4.3): column and row in blocks.
inline constexpr uint8_t kBlockX[16] = {0, 1, 0, 1, 2, 3, 2, 3, 0, 1, 0, 1, 2, 3, 2, 3};
inline constexpr uint8_t kBlockY[16] = {0, 0, 1, 1, 0, 0, 1, 1, 2, 2, 3, 3, 2, 2, 3, 3};
// Raster index (4 * row + column) of each block in decoding order.
inline constexpr uint8_t kBlockRaster[16] = {0, 1, 4, 5, 2, 3, 6, 7, 8, 9, 12, 13, 10, 11, 14, 15};

}  // namespace kestrel::h264

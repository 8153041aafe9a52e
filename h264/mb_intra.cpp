// Intra macroblocks (ITU-T H.264 8.3): prediction from the unfiltered samples of the
// neighbours, saved when they were finished, and the residual.
#include <cstring>

#include "h264/macroblock.h"

namespace kestrel::h264 {
namespace {

using dsp::KernelTable;

// Where the four samples above and to the right of a 4x4 block come from, by decoding order:
// 0 inside the macroblock (already decoded), 1 the upper macroblock, 2 the upper-right one,
// 3 not yet decoded.
constexpr uint8_t kTopRightSource[16] = {1, 1, 0, 3, 1, 2, 0, 3, 0, 0, 0, 3, 0, 3, 0, 3};

// Border of the work area: row -1 (corner, upper row and the four samples to its right) from
// the saved bottom rows of the row above, column -1 from the previous macroblock's right column.
void FillBorder(MbLayer& m) {
    WorkArea& wa = *m.wa;
    const int prev = (m.mb_y + 1) & 1;
    const int x = static_cast<int>(m.mb_x);
    std::memcpy(wa.Y() - WorkArea::kYStride - 1, m.top_line[prev][0] + 16 * x - 1, 21);
    std::memcpy(wa.Cb() - WorkArea::kCStride - 1, m.top_line[prev][1] + 8 * x - 1, 9);
    std::memcpy(wa.Cr() - WorkArea::kCStride - 1, m.top_line[prev][2] + 8 * x - 1, 9);
    uint8_t* y = wa.Y() - 1;
    for (int r = 0; r < 16; ++r) y[r * WorkArea::kYStride] = wa.left_col[0][r];
    uint8_t* cb = wa.Cb() - 1;
    uint8_t* cr = wa.Cr() - 1;
    for (int r = 0; r < 8; ++r) {
        cb[r * WorkArea::kCStride] = wa.left_col[1][r];
        cr[r * WorkArea::kCStride] = wa.left_col[2][r];
    }
}

}  // namespace

void ReconstructIntra(MbLayer& m) {
    MbInfo& cur = *m.cur;
    const KernelTable& k = *m.k;
    WorkArea& wa = *m.wa;
    if (cur.type == kMbIPcm) return;  // samples are in the work area already
    FillBorder(m);

    // Neighbours usable for intra prediction: in the slice, and intra under constrained intra.
    const bool ci = m.constrained_intra;
    const bool a = m.avail_a && (!ci || m.left->intra);
    const bool b = m.avail_b && (!ci || m.top->intra);
    const bool c = m.avail_c && (!ci || m.top_right->intra);

    uint8_t* y = wa.Y();
    if (cur.type == kMbINxN) {
        for (int blk = 0; blk < 16; ++blk) {
            const int bx = kBlockX[blk], by = kBlockY[blk], r = 4 * by + bx;
            uint8_t* dst = y + by * 4 * WorkArea::kYStride + bx * 4;
            int mode = cur.i4[r];
            if (mode == dsp::kI4Dc) {
                const bool left = bx > 0 || a, up = by > 0 || b;
                mode = left && up ? dsp::kI4Dc : left ? dsp::kI4DcLeft : up ? dsp::kI4DcTop : dsp::kI4Dc128;
            }
            const uint8_t* tr = nullptr;
            switch (kTopRightSource[blk]) {
                case 0: tr = dst - WorkArea::kYStride + 4; break;
                case 1: tr = b ? dst - WorkArea::kYStride + 4 : nullptr; break;
                case 2: tr = c ? dst - WorkArea::kYStride + 4 : nullptr; break;
                default: break;
            }
            k.intra4x4[mode](dst, WorkArea::kYStride, tr);
            if (cur.nnz[r]) AddLumaBlock(k, dst, wa.coef + 16 * blk, cur.nnz[r]);
        }
    } else {
        int mode = m.i16_mode;
        if (mode == dsp::kI16Dc) mode = a && b ? dsp::kI16Dc : a ? dsp::kI16DcLeft : b ? dsp::kI16DcTop : dsp::kI16Dc128;
        k.intra16x16[mode](y, WorkArea::kYStride);
        for (int blk = 0; blk < 16; ++blk) {
            const int r = kBlockRaster[blk];
            int16_t* coef = wa.coef + 16 * blk;
            if (cur.nnz[r] == 0 && coef[0] == 0) continue;
            uint8_t* dst = y + kBlockY[blk] * 4 * WorkArea::kYStride + kBlockX[blk] * 4;
            if (cur.nnz[r]) k.idct4x4_add(dst, WorkArea::kYStride, coef);
            else k.idct4x4_dc_add(dst, WorkArea::kYStride, coef);
        }
    }

    int cmode = m.chroma_mode;
    if (cmode == dsp::kIcDc) cmode = a && b ? dsp::kIcDc : a ? dsp::kIcDcLeft : b ? dsp::kIcDcTop : dsp::kIcDc128;
    for (int p = 0; p < 2; ++p) {
        uint8_t* base = p == 0 ? wa.Cb() : wa.Cr();
        k.intra_chroma[cmode](base, WorkArea::kCStride);
        if (m.cbp >> 4) AddChromaResidual(m, p);
    }
}

}  // namespace kestrel::h264

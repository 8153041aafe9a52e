// The end of a macroblock: its unfiltered edges are saved for intra prediction, then the
// deblocking filter (ITU-T H.264 8.7) runs on it while it is still in the work area, reaching
// into the left and upper neighbours in the picture, and the result is stored.
#include <cstdlib>
#include <cstring>

#include "h264/dsp/deblock_tables.h"
#include "h264/macroblock.h"

namespace kestrel::h264 {
namespace {

using dsp::KernelTable;
constexpr ptrdiff_t kYs = WorkArea::kYStride;
constexpr ptrdiff_t kCs = WorkArea::kCStride;

void SaveEdges(MbLayer& m) {
    WorkArea& wa = *m.wa;
    const int row = m.mb_y & 1, x = static_cast<int>(m.mb_x);
    std::memcpy(m.top_line[row][0] + 16 * x, wa.Y() + 15 * kYs, 16);
    std::memcpy(m.top_line[row][1] + 8 * x, wa.Cb() + 7 * kCs, 8);
    std::memcpy(m.top_line[row][2] + 8 * x, wa.Cr() + 7 * kCs, 8);
    const uint8_t* y = wa.Y() + 15;
    for (int r = 0; r < 16; ++r) wa.left_col[0][r] = y[r * kYs];
    const uint8_t* cb = wa.Cb() + 7;
    const uint8_t* cr = wa.Cr() + 7;
    for (int r = 0; r < 8; ++r) {
        wa.left_col[1][r] = cb[r * kCs];
        wa.left_col[2][r] = cr[r * kCs];
    }
}

// Was the neighbour decoded in this picture (and, with idc 2, in this slice)?
inline bool Filterable(const MbLayer& m, const MbInfo* n, uint32_t addr) {
    if (n->addr != addr || n->slice < m.picture_first_serial) return false;
    return m.deblock_idc != 2 || addr >= m.first_mb;
}

// Strengths of a macroblock edge (clause 8.7.2.1); p the neighbour, blocks by raster index.
void EdgeStrength(const MbInfo& q, const MbInfo& p, bool vertical, int intra_bs, int mvy_limit, uint8_t bs[4]) {
    if (q.intra || p.intra) {
        std::memset(bs, intra_bs, 4);
        return;
    }
    const int step = vertical ? 4 : 1, q0 = 0, p0 = vertical ? 3 : 12;
    // Most edges between inter macroblocks have neither coefficients nor a change of motion.
    uint32_t nnz = 0, same = 1;
    for (int s = 0; s < 4; ++s) {
        const int bq = q0 + s * step, bp = p0 + s * step;
        uint32_t a, b;
        std::memcpy(&a, q.mv[bq], 4);
        std::memcpy(&b, p.mv[bp], 4);
        nnz |= q.nnz[bq] | p.nnz[bp];
        same &= a == b;
    }
    const bool same_refs = vertical ? q.ref_pic[0] == p.ref_pic[1] && q.ref_pic[2] == p.ref_pic[3]
                                    : q.ref_pic[0] == p.ref_pic[2] && q.ref_pic[1] == p.ref_pic[3];
    if (nnz == 0 && same && same_refs) {
        std::memset(bs, 0, 4);
        return;
    }
    for (int s = 0; s < 4; ++s) {
        const int bq = q0 + s * step, bp = p0 + s * step;
        const int qq8 = (bq >> 3) * 2 + ((bq & 3) >> 1), pq8 = (bp >> 3) * 2 + ((bp & 3) >> 1);
        const int dx = p.mv[bp][0] - q.mv[bq][0], dy = p.mv[bp][1] - q.mv[bq][1];
        const bool motion = (p.ref_pic[pq8] != q.ref_pic[qq8]) | (dx >= 4) | (dx <= -4) | (dy >= mvy_limit) |
                            (dy <= -mvy_limit);
        bs[s] = (q.nnz[bq] | p.nnz[bp]) ? 2 : static_cast<uint8_t>(motion);
    }
}

struct EdgeParams {
    int alpha, beta;
    int index_a;
};

inline EdgeParams Params(const MbLayer& m, int qp) {
    int a = qp + m.filter_a, b = qp + m.filter_b;
    a = a < 0 ? 0 : a > 51 ? 51 : a;
    b = b < 0 ? 0 : b > 51 ? 51 : b;
    return {dsp::kAlphaTable[a], dsp::kBetaTable[b], a};
}

inline bool AnyNonZero(const uint8_t bs[4]) {
    uint32_t v;
    std::memcpy(&v, bs, 4);
    return v != 0;
}

inline void Tc0(const EdgeParams& e, const uint8_t bs[4], int8_t tc0[4]) {
    for (int s = 0; s < 4; ++s) tc0[s] = bs[s] ? dsp::kTc0Table[e.index_a][bs[s] - 1] : -1;
}

void LumaEdge(const KernelTable& k, int dir, uint8_t* pix, const uint8_t bs[4], const EdgeParams& e) {
    if (e.alpha == 0 || e.beta == 0) return;
    if (bs[0] == 4) {
        k.luma_edge_strong[dir](pix, kYs, e.alpha, e.beta);
        return;
    }
    int8_t tc0[4];
    Tc0(e, bs, tc0);
    k.luma_edge[dir](pix, kYs, e.alpha, e.beta, tc0);
}

void ChromaEdge(const KernelTable& k, int dir, uint8_t* cb, uint8_t* cr, const uint8_t bs[4], const EdgeParams& e) {
    if (e.alpha == 0 || e.beta == 0) return;
    if (bs[0] == 4) {
        k.chroma_edge_strong[dir](cb, cr, kCs, e.alpha, e.beta);
        return;
    }
    int8_t tc0[4];
    Tc0(e, bs, tc0);
    k.chroma_edge[dir](cb, cr, kCs, e.alpha, e.beta, tc0);
}

void Deblock(MbLayer& m, uint8_t* py, uint8_t* pcb, uint8_t* pcr, ptrdiff_t ys, ptrdiff_t cs) {
    const KernelTable& k = *m.k;
    WorkArea& wa = *m.wa;
    const MbInfo& cur = *m.cur;
    const int mvy_limit = m.field ? 2 : 4;

    alignas(16) uint8_t bs[32];  // [16 * dir + 4 * edge + segment]
    if (cur.intra) {
        std::memset(bs, 3, 32);
    } else {
        const bool coded = (m.cbp & 15) != 0 && cur.type != kMbPSkip;
        if (coded) k.bs_coef(bs, cur.nnz);
        else k.bs_clear(bs);
        if (cur.type != kMbPSkip && cur.type != kMbP16x16)
            k.bs_motion(bs, cur.ref_pic, &cur.mv[0][0], mvy_limit);
    }
    const bool left = m.mb_x > 0 && Filterable(m, m.left, m.addr - 1);
    const bool top = m.mb_y > 0 && Filterable(m, m.top, m.addr - m.width_mbs);
    if (left) EdgeStrength(cur, *m.left, true, 4, mvy_limit, bs);
    else std::memset(bs, 0, 4);
    if (top) EdgeStrength(cur, *m.top, false, m.field ? 3 : 4, mvy_limit, bs + 16);
    else std::memset(bs + 16, 0, 4);

    uint8_t* y = wa.Y();
    uint8_t* cb = wa.Cb();
    uint8_t* cr = wa.Cr();
    const EdgeParams inner = Params(m, cur.qp);
    const EdgeParams inner_c = Params(m, cur.qpc);

    // Luma, vertical edges. The left neighbour's last four columns come into the border.
    const bool left_on = left && AnyNonZero(bs);
    if (left_on) {
        for (int r = 0; r < 16; ++r) std::memcpy(y + r * kYs - 4, py + r * ys - 4, 4);
        LumaEdge(k, 0, y, bs, Params(m, (cur.qp + m.left->qp + 1) >> 1));
    }
    for (int e = 1; e < 4; ++e)
        if (AnyNonZero(bs + 4 * e)) LumaEdge(k, 0, y + 4 * e, bs + 4 * e, inner);
    // Horizontal edges, with the upper neighbour's last four rows above.
    const bool top_on = top && AnyNonZero(bs + 16);
    if (top_on) {
        for (int r = -4; r < 0; ++r) std::memcpy(y + r * kYs, py + r * ys, 16);
        LumaEdge(k, 1, y, bs + 16, Params(m, (cur.qp + m.top->qp + 1) >> 1));
    }
    for (int e = 1; e < 4; ++e)
        if (AnyNonZero(bs + 16 + 4 * e)) LumaEdge(k, 1, y + 4 * e * kYs, bs + 16 + 4 * e, inner);

    // Chroma edges 0 and 4 take the strengths of luma edges 0 and 2.
    if (left_on) {
        for (int r = 0; r < 8; ++r) {
            std::memcpy(cb + r * kCs - 4, pcb + r * cs - 4, 4);
            std::memcpy(cr + r * kCs - 4, pcr + r * cs - 4, 4);
        }
        ChromaEdge(k, 0, cb, cr, bs, Params(m, (cur.qpc + m.left->qpc + 1) >> 1));
    }
    if (AnyNonZero(bs + 8)) ChromaEdge(k, 0, cb + 4, cr + 4, bs + 8, inner_c);
    if (top_on) {
        for (int r = -4; r < 0; ++r) {
            std::memcpy(cb + r * kCs, pcb + r * cs, 8);
            std::memcpy(cr + r * kCs, pcr + r * cs, 8);
        }
        ChromaEdge(k, 1, cb, cr, bs + 16, Params(m, (cur.qpc + m.top->qpc + 1) >> 1));
    }
    if (AnyNonZero(bs + 24)) ChromaEdge(k, 1, cb + 4 * kCs, cr + 4 * kCs, bs + 24, inner_c);

    // The neighbours' samples the filter may have changed go back into the picture.
    if (left_on) {
        for (int r = 0; r < 16; ++r) std::memcpy(py + r * ys - 3, y + r * kYs - 3, 3);
        for (int r = 0; r < 8; ++r) {
            pcb[r * cs - 1] = cb[r * kCs - 1];
            pcr[r * cs - 1] = cr[r * kCs - 1];
        }
    }
    if (top_on) {
        for (int r = -3; r < 0; ++r) std::memcpy(py + r * ys, y + r * kYs, 16);
        std::memcpy(pcb - cs, cb - kCs, 8);
        std::memcpy(pcr - cs, cr - kCs, 8);
    }
}

}  // namespace

void FinishMacroblock(MbLayer& m) {
    SaveEdges(m);
    Picture& pic = *m.pic;
    const ptrdiff_t ys = pic.stride[0], cs = pic.stride[1];
    uint8_t* py = pic.plane[0] + static_cast<ptrdiff_t>(m.mb_y) * 16 * ys + m.mb_x * 16;
    uint8_t* pcb = pic.plane[1] + static_cast<ptrdiff_t>(m.mb_y) * 8 * cs + m.mb_x * 8;
    uint8_t* pcr = pic.plane[2] + static_cast<ptrdiff_t>(m.mb_y) * 8 * cs + m.mb_x * 8;
    if (m.deblock_idc != 1) Deblock(m, py, pcb, pcr, ys, cs);
    WorkArea& wa = *m.wa;
    const KernelTable& k = *m.k;
    k.store_luma(py, ys, wa.Y(), kYs);
    k.store_chroma(pcb, cs, wa.Cb(), kCs);
    k.store_chroma(pcr, cs, wa.Cr(), kCs);
}

}  // namespace kestrel::h264

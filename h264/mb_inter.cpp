// Inter macroblocks: motion vector prediction (ITU-T H.264 8.4.1), reference block fetch with
// out-of-picture samples, interpolation, explicit weighting and the residual.
#include <cstring>

#include "h264/macroblock.h"

namespace kestrel::h264 {
namespace {

using dsp::KernelTable;

inline int Median(int a, int b, int c) {
    const int lo = a < b ? a : b, hi = a < b ? b : a;
    return c < lo ? lo : c > hi ? hi : c;
}

// Reference index and vector of the neighbours in the cache: column -1 from the left
// macroblock, row -1 from the upper ones; blocks of the current macroblock start as not
// available and become available as their partitions are decoded.
void FillMotionCache(MbLayer& m) {
    // Vectors of blocks not yet decoded are never read: such a block is only ever the upper-
    // right neighbour, which its unavailable reference index replaces by the upper-left one.
    int8_t* ref = m.ref_cache;
    int16_t(*mv)[2] = m.mv_cache;
    std::memset(ref, kRefUnavailable, kCacheSize);
    if (m.avail_a) {
        for (int r = 0; r < 4; ++r) {
            ref[CacheIndex(-1, r)] = m.left->ref_idx[(r >> 1) * 2 + 1];
            std::memcpy(mv[CacheIndex(-1, r)], m.left->mv[4 * r + 3], 4);
        }
    } else {
        for (int r = 0; r < 4; ++r) std::memset(mv[CacheIndex(-1, r)], 0, 4);
    }
    if (m.avail_b) {
        for (int x = 0; x < 4; ++x) ref[CacheIndex(x, -1)] = m.top->ref_idx[2 + (x >> 1)];
        std::memcpy(mv[CacheIndex(0, -1)], m.top->mv[12], 16);
    } else {
        std::memset(mv[CacheIndex(0, -1)], 0, 16);
    }
    if (m.avail_c) {
        ref[CacheIndex(4, -1)] = m.top_right->ref_idx[2];
        std::memcpy(mv[CacheIndex(4, -1)], m.top_right->mv[12], 4);
    } else {
        std::memset(mv[CacheIndex(4, -1)], 0, 4);
    }
    if (m.avail_d) {
        ref[CacheIndex(-1, -1)] = m.top_left->ref_idx[3];
        std::memcpy(mv[CacheIndex(-1, -1)], m.top_left->mv[15], 4);
    } else {
        std::memset(mv[CacheIndex(-1, -1)], 0, 4);
    }
}

enum class Shape { kOther, k16x8Upper, k16x8Lower, k8x16Left, k8x16Right };

// Predicted vector of the partition whose top-left block is (x, y) and which is w blocks wide
// (clauses 8.4.1.3 and 8.4.1.3.1).
void PredictVector(const MbLayer& m, int x, int y, int w, int ref, Shape shape, int out[2]) {
    const int ia = CacheIndex(x - 1, y), ib = CacheIndex(x, y - 1);
    int ic = CacheIndex(x + w, y - 1);
    if (m.ref_cache[ic] == kRefUnavailable) ic = CacheIndex(x - 1, y - 1);
    const int ra = m.ref_cache[ia], rb = m.ref_cache[ib], rc = m.ref_cache[ic];
    const int16_t* a = m.mv_cache[ia];
    const int16_t* b = m.mv_cache[ib];
    const int16_t* c = m.mv_cache[ic];
    const int16_t* pick = nullptr;
    switch (shape) {
        case Shape::k16x8Upper: if (rb == ref) pick = b; break;
        case Shape::k16x8Lower: if (ra == ref) pick = a; break;
        case Shape::k8x16Left: if (ra == ref) pick = a; break;
        case Shape::k8x16Right: if (rc == ref) pick = c; break;
        case Shape::kOther: break;
    }
    if (!pick) {
        if (rb == kRefUnavailable && rc == kRefUnavailable && ra != kRefUnavailable) {
            pick = a;
        } else {
            const int matches = (ra == ref) + (rb == ref) + (rc == ref);
            if (matches == 1) {
                pick = ra == ref ? a : rb == ref ? b : c;
            } else {
                out[0] = Median(a[0], b[0], c[0]);
                out[1] = Median(a[1], b[1], c[1]);
                return;
            }
        }
    }
    out[0] = pick[0];
    out[1] = pick[1];
}

// Stores a partition's reference and vector in the cache (for the partitions after it) and in
// the macroblock's record.
void SetPartition(MbLayer& m, int x, int y, int w, int h, int ref, const int mv[2]) {
    const int16_t v0 = static_cast<int16_t>(mv[0]), v1 = static_cast<int16_t>(mv[1]);
    for (int r = y; r < y + h; ++r) {
        for (int c = x; c < x + w; ++c) {
            const int i = CacheIndex(c, r);
            m.ref_cache[i] = static_cast<int8_t>(ref);
            m.mv_cache[i][0] = v0;
            m.mv_cache[i][1] = v1;
            m.cur->mv[4 * r + c][0] = v0;
            m.cur->mv[4 * r + c][1] = v1;
        }
    }
}

inline void SetRefs(MbLayer& m, const int8_t ref[4]) {
    MbInfo& cur = *m.cur;
    for (int i = 0; i < 4; ++i) {
        cur.ref_idx[i] = ref[i];
        cur.ref_pic[i] = static_cast<int16_t>(m.ref_list[ref[i]]->id);
    }
}

// ---- reference fetch ---------------------------------------------------------------------------

// Copies the w x h rectangle at (x0, y0) of a plane of size pw x ph into dst (stride 24),
// replacing every coordinate outside the plane by the nearest one inside (clause 8.4.2.2).
void FetchClamped(uint8_t* dst, const uint8_t* plane, ptrdiff_t stride, int x0, int y0, int w, int h,
                  int pw, int ph) {
    // columns [lo, hi) lie inside the plane
    int lo = x0 < 0 ? -x0 : 0;
    int hi = x0 + w > pw ? pw - x0 : w;
    if (lo > w) lo = w;
    if (hi < 0) hi = 0;
    for (int r = 0; r < h; ++r, dst += 24) {
        int sy = y0 + r;
        sy = sy < 0 ? 0 : sy >= ph ? ph - 1 : sy;
        const uint8_t* row = plane + sy * stride;
        if (hi > lo) {
            std::memcpy(dst + lo, row + x0 + lo, static_cast<size_t>(hi - lo));
            if (lo > 0) std::memset(dst, row[0], static_cast<size_t>(lo));
            if (hi < w) std::memset(dst + hi, row[pw - 1], static_cast<size_t>(w - hi));
        } else {
            std::memset(dst, x0 >= pw ? row[pw - 1] : row[0], static_cast<size_t>(w));
        }
    }
}

inline int LumaWidthIndex(int w) { return w == 16 ? dsp::kW16 : w == 8 ? dsp::kW8 : dsp::kW4; }
inline int ChromaWidthIndex(int w) { return w == 8 ? dsp::kCw8 : w == 4 ? dsp::kCw4 : dsp::kCw2; }

// Predicts the w x h luma partition at (px, py) of the macroblock and its chroma from ref.
void PredictPartition(MbLayer& m, const Picture& ref, int px, int py, int w, int h, const int16_t mv[2]) {
    WorkArea& wa = *m.wa;
    const KernelTable& k = *m.k;
    {
        const int x = static_cast<int>(m.mb_x) * 16 + px + (mv[0] >> 2);
        const int y = static_cast<int>(m.mb_y) * 16 + py + (mv[1] >> 2);
        const ptrdiff_t stride = ref.stride[0];
        const uint8_t* src;
        ptrdiff_t ss;
        // The 6-tap filter reaches two samples before and three after the block in each
        // direction that has a fractional phase; an integer phase reads the block alone.
        const int mx = (mv[0] & 3) ? 2 : 0, my = (mv[1] & 3) ? 2 : 0;
        if (x < mx || y < my || x + w + (mx >> 1) * 3 > m.pic_w || y + h + (my >> 1) * 3 > m.pic_h) {
            FetchClamped(wa.emu, ref.plane[0], stride, x - 2, y - 2, w + 5, h + 5, m.pic_w, m.pic_h);
            src = wa.emu + 2 * 24 + 2;
            ss = 24;
        } else {
            src = ref.plane[0] + y * stride + x;
            ss = stride;
        }
        k.luma_mc[LumaWidthIndex(w)][(mv[0] & 3) * 4 + (mv[1] & 3)](
            wa.Y() + py * WorkArea::kYStride + px, WorkArea::kYStride, src, ss, h);
    }
    // Chroma: the same vector in eighth samples; a field referring to a field of the other
    // parity shifts it vertically (Table 8-10).
    int mvy = mv[1];
    if (m.field) mvy += 2 * (static_cast<int>(m.bottom) - static_cast<int>(ref.structure == kBottomField));
    const int cw = w >> 1, ch = h >> 1, cpx = px >> 1, cpy = py >> 1;
    const int x = static_cast<int>(m.mb_x) * 8 + cpx + (mv[0] >> 3);
    const int y = static_cast<int>(m.mb_y) * 8 + cpy + (mvy >> 3);
    const int fx = mv[0] & 7, fy = mvy & 7;
    const int pw = m.pic_w >> 1, ph = m.pic_h >> 1;
    const ptrdiff_t stride = ref.stride[1];
    const dsp::ChromaMcFn mc = k.chroma_mc[ChromaWidthIndex(cw)][dsp::ChromaMcKind(fx, fy)];
    // The bilinear filter reads one column (row) more only where that phase is fractional.
    const bool outside = x < 0 || y < 0 || x + cw + (fx != 0) > pw || y + ch + (fy != 0) > ph;
    for (int p = 0; p < 2; ++p) {
        const uint8_t* plane = ref.plane[1 + p];
        const uint8_t* src;
        ptrdiff_t ss;
        if (outside) {
            FetchClamped(wa.emu, plane, stride, x, y, cw + 1, ch + 1, pw, ph);
            src = wa.emu;
            ss = 24;
        } else {
            src = plane + y * stride + x;
            ss = stride;
        }
        uint8_t* dst = (p == 0 ? wa.Cb() : wa.Cr()) + cpy * WorkArea::kCStride + cpx;
        mc(dst, WorkArea::kCStride, src, ss, ch, fx, fy);
    }
}

// Explicit weighting of a partition's prediction in place (clause 8.4.2.3).
void WeightPartition(MbLayer& m, int ref, int px, int py, int w, int h) {
    if (m.weight_default[ref]) return;
    WorkArea& wa = *m.wa;
    const KernelTable& k = *m.k;
    uint8_t* y = wa.Y() + py * WorkArea::kYStride + px;
    k.combine[dsp::kCombineWeighted][LumaWidthIndex(w)](y, WorkArea::kYStride, y, WorkArea::kYStride, nullptr, 0, h,
                                                        m.weight[ref][0]);
    const int cw = w >> 1, ch = h >> 1;
    for (int p = 0; p < 2; ++p) {
        uint8_t* c = (p == 0 ? wa.Cb() : wa.Cr()) + (py >> 1) * WorkArea::kCStride + (px >> 1);
        k.combine[dsp::kCombineWeighted][LumaWidthIndex(cw)](c, WorkArea::kCStride, c, WorkArea::kCStride, nullptr, 0, ch,
                                                             m.weight[ref][1 + p]);
    }
}

}  // namespace

void PredictMotion(MbLayer& m, bool skip) {
    FillMotionCache(m);
    MbInfo& cur = *m.cur;
    int mv[2];
    if (skip) {
        // P_Skip (clause 8.4.1.1)
        const int ia = CacheIndex(-1, 0), ib = CacheIndex(0, -1);
        const bool zero = !m.avail_a || !m.avail_b ||
                          (m.ref_cache[ia] == 0 && m.mv_cache[ia][0] == 0 && m.mv_cache[ia][1] == 0) ||
                          (m.ref_cache[ib] == 0 && m.mv_cache[ib][0] == 0 && m.mv_cache[ib][1] == 0);
        if (zero) mv[0] = mv[1] = 0;
        else PredictVector(m, 0, 0, 4, 0, Shape::kOther, mv);
        const uint32_t v = static_cast<uint16_t>(mv[0]) | static_cast<uint32_t>(static_cast<uint16_t>(mv[1])) << 16;
        for (int i = 0; i < 16; ++i) std::memcpy(cur.mv[i], &v, 4);
        const int8_t refs[4] = {0, 0, 0, 0};
        SetRefs(m, refs);
        return;
    }
    const int16_t(*mvd)[2] = m.mvd;
    switch (cur.type) {
        case kMbP16x16: {
            const int r = m.part_ref[0];
            PredictVector(m, 0, 0, 4, r, Shape::kOther, mv);
            mv[0] += mvd[0][0], mv[1] += mvd[0][1];
            SetPartition(m, 0, 0, 4, 4, r, mv);
            const int8_t refs[4] = {m.part_ref[0], m.part_ref[0], m.part_ref[0], m.part_ref[0]};
            SetRefs(m, refs);
            break;
        }
        case kMbP16x8: {
            for (int p = 0; p < 2; ++p) {
                const int r = m.part_ref[p];
                PredictVector(m, 0, 2 * p, 4, r, p == 0 ? Shape::k16x8Upper : Shape::k16x8Lower, mv);
                mv[0] += mvd[p][0], mv[1] += mvd[p][1];
                SetPartition(m, 0, 2 * p, 4, 2, r, mv);
            }
            const int8_t refs[4] = {m.part_ref[0], m.part_ref[0], m.part_ref[1], m.part_ref[1]};
            SetRefs(m, refs);
            break;
        }
        case kMbP8x16: {
            for (int p = 0; p < 2; ++p) {
                const int r = m.part_ref[p];
                PredictVector(m, 2 * p, 0, 2, r, p == 0 ? Shape::k8x16Left : Shape::k8x16Right, mv);
                mv[0] += mvd[p][0], mv[1] += mvd[p][1];
                SetPartition(m, 2 * p, 0, 2, 4, r, mv);
            }
            const int8_t refs[4] = {m.part_ref[0], m.part_ref[1], m.part_ref[0], m.part_ref[1]};
            SetRefs(m, refs);
            break;
        }
        default: {  // P_8x8, P_8x8ref0
            int n = 0;
            for (int i = 0; i < 4; ++i) {
                const int x8 = (i & 1) * 2, y8 = (i >> 1) * 2, r = m.part_ref[i];
                switch (m.sub_type[i]) {
                    case 0:
                        PredictVector(m, x8, y8, 2, r, Shape::kOther, mv);
                        mv[0] += mvd[n][0], mv[1] += mvd[n][1], ++n;
                        SetPartition(m, x8, y8, 2, 2, r, mv);
                        break;
                    case 1:  // 8x4
                        for (int j = 0; j < 2; ++j) {
                            PredictVector(m, x8, y8 + j, 2, r, Shape::kOther, mv);
                            mv[0] += mvd[n][0], mv[1] += mvd[n][1], ++n;
                            SetPartition(m, x8, y8 + j, 2, 1, r, mv);
                        }
                        break;
                    case 2:  // 4x8
                        for (int j = 0; j < 2; ++j) {
                            PredictVector(m, x8 + j, y8, 1, r, Shape::kOther, mv);
                            mv[0] += mvd[n][0], mv[1] += mvd[n][1], ++n;
                            SetPartition(m, x8 + j, y8, 1, 2, r, mv);
                        }
                        break;
                    default:  // 4x4
                        for (int j = 0; j < 4; ++j) {
                            PredictVector(m, x8 + (j & 1), y8 + (j >> 1), 1, r, Shape::kOther, mv);
                            mv[0] += mvd[n][0], mv[1] += mvd[n][1], ++n;
                            SetPartition(m, x8 + (j & 1), y8 + (j >> 1), 1, 1, r, mv);
                        }
                        break;
                }
            }
            SetRefs(m, m.part_ref);
            break;
        }
    }
}

void ReconstructInter(MbLayer& m, bool skip) {
    MbInfo& cur = *m.cur;
    const int type = skip ? static_cast<int>(kMbP16x16) : cur.type;
    auto ref_of = [&](int q) -> const Picture& { return *m.ref_list[cur.ref_idx[q]]; };
    switch (type) {
        case kMbP16x16:
            PredictPartition(m, ref_of(0), 0, 0, 16, 16, cur.mv[0]);
            if (m.weighted) WeightPartition(m, cur.ref_idx[0], 0, 0, 16, 16);
            break;
        case kMbP16x8:
            for (int p = 0; p < 2; ++p) {
                PredictPartition(m, ref_of(2 * p), 0, 8 * p, 16, 8, cur.mv[8 * p]);
                if (m.weighted) WeightPartition(m, cur.ref_idx[2 * p], 0, 8 * p, 16, 8);
            }
            break;
        case kMbP8x16:
            for (int p = 0; p < 2; ++p) {
                PredictPartition(m, ref_of(p), 8 * p, 0, 8, 16, cur.mv[2 * p]);
                if (m.weighted) WeightPartition(m, cur.ref_idx[p], 8 * p, 0, 8, 16);
            }
            break;
        default:
            for (int i = 0; i < 4; ++i) {
                const int x8 = (i & 1) * 8, y8 = (i >> 1) * 8;
                const Picture& ref = ref_of(i);
                const int b = (y8 / 4) * 4 + x8 / 4;  // raster index of the quadrant's first block
                switch (m.sub_type[i]) {
                    case 0: PredictPartition(m, ref, x8, y8, 8, 8, cur.mv[b]); break;
                    case 1:
                        PredictPartition(m, ref, x8, y8, 8, 4, cur.mv[b]);
                        PredictPartition(m, ref, x8, y8 + 4, 8, 4, cur.mv[b + 4]);
                        break;
                    case 2:
                        PredictPartition(m, ref, x8, y8, 4, 8, cur.mv[b]);
                        PredictPartition(m, ref, x8 + 4, y8, 4, 8, cur.mv[b + 1]);
                        break;
                    default:
                        PredictPartition(m, ref, x8, y8, 4, 4, cur.mv[b]);
                        PredictPartition(m, ref, x8 + 4, y8, 4, 4, cur.mv[b + 1]);
                        PredictPartition(m, ref, x8, y8 + 4, 4, 4, cur.mv[b + 4]);
                        PredictPartition(m, ref, x8 + 4, y8 + 4, 4, 4, cur.mv[b + 5]);
                        break;
                }
                if (m.weighted) WeightPartition(m, cur.ref_idx[i], x8, y8, 8, 8);
            }
            break;
    }
    if (skip || m.cbp == 0) return;

    WorkArea& wa = *m.wa;
    const dsp::KernelTable& k = *m.k;
    if (m.cbp & 15) {
        uint8_t* y = wa.Y();
        for (int blk = 0; blk < 16; ++blk) {
            const int r = kBlockRaster[blk];
            const int n = cur.nnz[r];
            if (n == 0) continue;
            AddLumaBlock(k, y + kBlockY[blk] * 4 * WorkArea::kYStride + kBlockX[blk] * 4, wa.coef + 16 * blk, n);
        }
    }
    if (m.cbp >> 4) {
        AddChromaResidual(m, 0);
        AddChromaResidual(m, 1);
    }
}

}  // namespace kestrel::h264

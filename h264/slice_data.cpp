// Slice data (ITU-T H.264 7.3.4): the macroblock loops of I and P slices.
#include <cstring>

#include "h264/cavlc.h"
#include "h264/decoder.h"

namespace kestrel::h264 {
namespace {

// The slice's values that every macroblock uses.
void SetUpSlice(MbLayer& m, const SliceHeader& h, const Pps& pps, Picture* pic, Picture* const* ref_list) {
    m.pic = pic;
    m.width_mbs = h.width_mbs;
    m.pic_w = static_cast<int>(h.width_mbs) * 16;
    m.pic_h = static_cast<int>(h.height_mbs) * 16;
    m.field = h.structure != kFrame;
    m.bottom = h.structure == kBottomField;
    m.p_slice = h.type == SliceType::kP;
    m.first_mb = h.first_mb;
    m.constrained_intra = pps.constrained_intra_pred;
    m.chroma_qp_offset = pps.chroma_qp_index_offset;
    m.num_ref_idx_active = h.num_ref_idx_active;
    m.ref_list = ref_list;
    m.weighted = m.p_slice && h.weighted;
    if (m.weighted) {
        bool any = false;
        const int denom[3] = {static_cast<int>(h.luma_log2_denom), static_cast<int>(h.chroma_log2_denom),
                              static_cast<int>(h.chroma_log2_denom)};
        for (uint32_t i = 0; i < 32; ++i) {
            const WeightEntry& w = h.weights[i < h.num_ref_idx_active ? i : 0];
            bool plain = true;
            for (int c = 0; c < 3; ++c) {
                m.weight[i][c] = {w.weight[c], w.offset[c], denom[c]};
                plain &= w.weight[c] == (1 << denom[c]) && w.offset[c] == 0;
            }
            m.weight_default[i] = plain;
            any |= !plain;
        }
        m.weighted = any;
    }
    m.deblock_idc = h.disable_deblocking_filter_idc;
    m.filter_a = 2 * h.alpha_offset_div2;
    m.filter_b = 2 * h.beta_offset_div2;
    m.scan = m.field ? kFieldScan4x4 : kZigZag4x4;
    int qp = pps.pic_init_qp + h.slice_qp_delta;
    qp = ((qp % 52) + 52) % 52;
    m.qp = qp;
    int q = qp + m.chroma_qp_offset;
    q = q < 0 ? 0 : q > 51 ? 51 : q;
    m.qpc = kChromaQp[q];
    ++m.slice_serial;
}

// Points the macroblock's record and neighbours at the context rows.
inline void EnterMacroblock(MbLayer& m, uint32_t addr) {
    m.addr = addr;
    m.mb_x = addr % m.width_mbs;
    m.mb_y = addr / m.width_mbs;
    MbInfo* row = m.rows[m.mb_y & 1];
    MbInfo* above = m.rows[(m.mb_y + 1) & 1];
    const uint32_t x = m.mb_x, w = m.width_mbs;
    m.cur = row + x;
    m.left = row + x - 1;  // the rows carry one spare entry on each side
    m.top = above + x;
    m.top_left = above + x - 1;
    m.top_right = above + x + 1;
    m.avail_a = x > 0 && addr - 1 >= m.first_mb;
    m.avail_b = m.mb_y > 0 && addr - w >= m.first_mb;
    m.avail_c = m.mb_y > 0 && x + 1 < w && addr - w + 1 >= m.first_mb;
    m.avail_d = m.mb_y > 0 && x > 0 && addr - w - 1 >= m.first_mb;
    m.cur->addr = addr;
    m.cur->slice = m.slice_serial;
}

void DecodeSkip(MbLayer& m) {
    MbInfo& cur = *m.cur;
    cur.type = kMbPSkip;
    cur.intra = 0;
    cur.qp = static_cast<uint8_t>(m.qp);
    cur.qpc = static_cast<uint8_t>(m.qpc);
    std::memset(cur.nnz, 0, sizeof(cur.nnz));
    std::memset(cur.nnz_c, 0, sizeof(cur.nnz_c));
    std::memset(cur.i4, 2, sizeof(cur.i4));
    m.cbp = 0;
    PredictMotion(m, true);
    ReconstructInter(m, true);
    FinishMacroblock(m);
}

void MarkIntra(MbInfo& cur) {
    std::memset(cur.ref_idx, -1, sizeof(cur.ref_idx));
    for (int16_t& r : cur.ref_pic) r = -1;
    std::memset(cur.mv, 0, sizeof(cur.mv));
}

}  // namespace

uint32_t Decoder::DecodeSliceData(BitReader& br) {
    const SliceHeader& h = slice;
    if (h.first_mb >= h.size_mbs) return kMbErrorRange;
    MbLayer& m = mb;
    SetUpSlice(m, h, active_pps, store.current(), ref_list);
    WorkArea& wa = *m.wa;

    uint32_t addr = h.first_mb;
    while (true) {
        if (m.p_slice) {
            const uint32_t run = br.Ue();
            if (br.error() || run > h.size_mbs - addr) return kMbErrorRange;
            for (uint32_t i = 0; i < run; ++i, ++addr) {
                EnterMacroblock(m, addr);
                DecodeSkip(m);
                ++cur_decoded_mbs;
            }
            if (run > 0 && !br.MoreRbspData()) return 0;
            if (addr >= h.size_mbs) return 0;  // bits after the last macroblock are not ours
        }
        EnterMacroblock(m, addr);
        if (const uint32_t err = ParseMacroblock(m, br)) {
            // Coefficients of a block that was not finished must not leak into the next one.
            std::memset(wa.coef, 0, sizeof(wa.coef));
            std::memset(wa.coef_c, 0, sizeof(wa.coef_c));
            m.cur->addr = ~0u;
            return err;
        }
        MbInfo& cur = *m.cur;
        if (cur.intra) {
            MarkIntra(cur);
            ReconstructIntra(m);
        } else {
            PredictMotion(m, false);
            ReconstructInter(m, false);
        }
        FinishMacroblock(m);
        ++cur_decoded_mbs;
        ++addr;
        if (!br.MoreRbspData() || addr >= h.size_mbs) return 0;
    }
}

}  // namespace kestrel::h264

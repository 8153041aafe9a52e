// Macroblock layer syntax of I and P slices with CAVLC (ITU-T H.264 7.3.5 to 7.3.5.3).
#include <cstring>

#include "h264/cavlc.h"
#include "h264/macroblock.h"

namespace kestrel::h264 {
namespace {

inline int Nc(const uint8_t* cache, int i) {
    const int a = cache[i - 1], b = cache[i - kCacheWidth];
    if (a != kNnzUnavailable && b != kNnzUnavailable) return (a + b + 1) >> 1;
    if (a != kNnzUnavailable) return a;
    if (b != kNnzUnavailable) return b;
    return 0;
}

// Neighbouring non-zero counts: column -1 from the left macroblock, row -1 from the upper one.
void FillNnzCache(MbLayer& m) {
    uint8_t* c = m.nnz_cache;
    if (m.avail_a) {
        for (int r = 0; r < 4; ++r) c[CacheIndex(-1, r)] = m.left->nnz[4 * r + 3];
        for (int p = 0; p < 2; ++p) {
            m.nnz_c_cache[p][3] = m.left->nnz_c[p][1];
            m.nnz_c_cache[p][6] = m.left->nnz_c[p][3];
        }
    } else {
        for (int r = 0; r < 4; ++r) c[CacheIndex(-1, r)] = kNnzUnavailable;
        for (int p = 0; p < 2; ++p) m.nnz_c_cache[p][3] = m.nnz_c_cache[p][6] = kNnzUnavailable;
    }
    if (m.avail_b) {
        std::memcpy(c + CacheIndex(0, -1), m.top->nnz + 12, 4);
        for (int p = 0; p < 2; ++p) {
            m.nnz_c_cache[p][1] = m.top->nnz_c[p][2];
            m.nnz_c_cache[p][2] = m.top->nnz_c[p][3];
        }
    } else {
        std::memset(c + CacheIndex(0, -1), kNnzUnavailable, 4);
        for (int p = 0; p < 2; ++p) m.nnz_c_cache[p][1] = m.nnz_c_cache[p][2] = kNnzUnavailable;
    }
}

// Intra4x4PredMode of the neighbours (clause 8.3.1.1): -1 where the predicted mode is forced to
// DC (not available, or inter under constrained intra prediction), 2 for macroblocks that are not
// I_NxN.
void FillIntraModeCache(MbLayer& m) {
    int8_t* c = m.i4_cache;
    const bool a = m.avail_a && (m.left->intra || !m.constrained_intra);
    const bool b = m.avail_b && (m.top->intra || !m.constrained_intra);
    for (int r = 0; r < 4; ++r) c[CacheIndex(-1, r)] = a ? m.left->i4[4 * r + 3] : -1;
    for (int x = 0; x < 4; ++x) c[CacheIndex(x, -1)] = b ? m.top->i4[12 + x] : -1;
}

void ParseIntraModes(MbLayer& m, BitReader& br) {
    FillIntraModeCache(m);
    int8_t* c = m.i4_cache;
    for (int blk = 0; blk < 16; ++blk) {
        const int x = kBlockX[blk], y = kBlockY[blk], i = CacheIndex(x, y);
        const int a = c[i - 1], b = c[i - kCacheWidth];
        const int pred = (a < 0 || b < 0) ? 2 : (a < b ? a : b);
        int mode;
        const uint32_t w = br.Peek32();
        if (w >> 31) {
            br.Skip(1);
            mode = pred;
        } else {
            const int rem = static_cast<int>((w >> 28) & 7);
            br.Skip(4);
            mode = rem < pred ? rem : rem + 1;
        }
        c[i] = static_cast<int8_t>(mode);
        m.cur->i4[4 * y + x] = static_cast<int8_t>(mode);
    }
}

// ref_idx_l0 as te(v); indices wrap into the 32 entries a list can hold.
inline int ReadRefIdx(MbLayer& m, BitReader& br) {
    if (m.num_ref_idx_active <= 1) return 0;
    if (m.num_ref_idx_active == 2) return br.U1() ^ 1;
    return static_cast<int>(br.Ue() & 31);
}

inline void ReadMvd(BitReader& br, int16_t* mvd) {
    mvd[0] = static_cast<int16_t>(br.Se());
    mvd[1] = static_cast<int16_t>(br.Se());
}

inline constexpr uint8_t kSubParts[4] = {1, 2, 2, 4};

uint32_t ParseInterPrediction(MbLayer& m, BitReader& br, int type) {
    uint32_t err = 0;
    switch (type) {
        case kMbP16x16:
            m.part_ref[0] = static_cast<int8_t>(ReadRefIdx(m, br));
            ReadMvd(br, m.mvd[0]);
            break;
        case kMbP16x8:
        case kMbP8x16:
            m.part_ref[0] = static_cast<int8_t>(ReadRefIdx(m, br));
            m.part_ref[1] = static_cast<int8_t>(ReadRefIdx(m, br));
            ReadMvd(br, m.mvd[0]);
            ReadMvd(br, m.mvd[1]);
            break;
        default: {  // P_8x8, P_8x8ref0
            for (int i = 0; i < 4; ++i) {
                const uint32_t s = br.Ue();
                if (s > 3) err |= kMbErrorType;
                m.sub_type[i] = static_cast<uint8_t>(s & 3);
            }
            for (int i = 0; i < 4; ++i)
                m.part_ref[i] = static_cast<int8_t>(type == kMbP8x8Ref0 ? 0 : ReadRefIdx(m, br));
            int n = 0;
            for (int i = 0; i < 4; ++i)
                for (int j = 0; j < kSubParts[m.sub_type[i]]; ++j) ReadMvd(br, m.mvd[n++]);
            break;
        }
    }
    return err;
}

// Reads the residual of the macroblock (clause 7.3.5.3) into the work area; the non-zero
// counts go to m.cur and the caches.
uint32_t ParseResidual(MbLayer& m, BitReader& br, bool intra16) {
    WorkArea& wa = *m.wa;
    MbInfo& cur = *m.cur;
    uint8_t* nc = m.nnz_cache;
    const int32_t* scale = kDequant4x4[m.qp].data();
    const uint8_t luma_cbp = m.cbp & 15;

    if (intra16) {
        std::memset(wa.dc, 0, sizeof(wa.dc));
        const int n = ReadResidualBlock(br, {Nc(nc, CacheIndex(0, 0)), 0, 16, m.scan, nullptr}, wa.dc);
        if (n < 0) return kMbErrorResidual;
        if (n > 0) m.k->luma_dc_dequant(wa.coef, wa.dc, m.qp);
    }
    if (luma_cbp == 0) {
        std::memset(cur.nnz, 0, 16);
    } else {
        const ResidualBlock ac = {0, intra16 ? 1 : 0, intra16 ? 15 : 16, m.scan, scale};
        for (int blk = 0; blk < 16; ++blk) {
            const int x = kBlockX[blk], y = kBlockY[blk], i = CacheIndex(x, y);
            int n = 0;
            if (luma_cbp & (1 << (blk >> 2))) {
                ResidualBlock b = ac;
                b.nc = Nc(nc, i);
                n = ReadResidualBlock(br, b, wa.coef + 16 * blk);
                if (n < 0) return kMbErrorResidual;
            }
            nc[i] = static_cast<uint8_t>(n);
            cur.nnz[4 * y + x] = static_cast<uint8_t>(n);
        }
    }

    const int chroma = m.cbp >> 4;
    if (chroma == 0) {
        std::memset(cur.nnz_c, 0, sizeof(cur.nnz_c));
        return 0;
    }
    for (int p = 0; p < 2; ++p) {
        int16_t* dc = wa.dc_c[p];
        std::memset(dc, 0, 4 * sizeof(int16_t));
        const int n = ReadResidualBlock(br, {-1, 0, 4, kRasterScan2x2, nullptr}, dc);
        if (n < 0) return kMbErrorResidual;
        if (n > 0) m.k->chroma_dc_dequant(wa.coef_c[p], dc, m.qpc);
    }
    if (chroma < 2) {
        std::memset(cur.nnz_c, 0, sizeof(cur.nnz_c));
        return 0;
    }
    const ResidualBlock ac = {0, 1, 15, m.scan, kDequant4x4[m.qpc].data()};
    for (int p = 0; p < 2; ++p) {
        uint8_t* cc = m.nnz_c_cache[p];
        for (int b = 0; b < 4; ++b) {
            const int i = (b >> 1) * 3 + (b & 1) + 4;  // 3x3 grid, rows and columns -1..1
            ResidualBlock r = ac;
            const int a = cc[i - 1], t = cc[i - 3];
            r.nc = (a != kNnzUnavailable && t != kNnzUnavailable) ? (a + t + 1) >> 1
                   : a != kNnzUnavailable                       ? a
                   : t != kNnzUnavailable                       ? t
                                                                : 0;
            const int n = ReadResidualBlock(br, r, wa.coef_c[p] + 16 * b);
            if (n < 0) return kMbErrorResidual;
            cc[i] = static_cast<uint8_t>(n);
            cur.nnz_c[p][b] = static_cast<uint8_t>(n);
        }
    }
    return 0;
}

uint32_t ParsePcm(MbLayer& m, BitReader& br) {
    br.AlignToByte();
    if (br.BytesLeft() < 384) return kMbErrorOverrun;
    const uint8_t* s = br.BytePointer();
    WorkArea& wa = *m.wa;
    uint8_t* y = wa.Y();
    for (int r = 0; r < 16; ++r) std::memcpy(y + r * WorkArea::kYStride, s + 16 * r, 16);
    s += 256;
    for (int p = 0; p < 2; ++p) {
        uint8_t* c = p == 0 ? wa.Cb() : wa.Cr();
        for (int r = 0; r < 8; ++r) std::memcpy(c + r * WorkArea::kCStride, s + 8 * r, 8);
        s += 64;
    }
    br.Skip(384 * 8);
    MbInfo& cur = *m.cur;
    std::memset(cur.nnz, 16, 16);
    std::memset(cur.nnz_c, 16, sizeof(cur.nnz_c));
    std::memset(cur.i4, 2, 16);
    cur.qp = 0;
    int q = m.chroma_qp_offset;
    q = q < 0 ? 0 : q > 51 ? 51 : q;
    cur.qpc = kChromaQp[q];
    return 0;
}

inline void SetQp(MbLayer& m, int qp) {
    m.qp = qp;
    int q = qp + m.chroma_qp_offset;
    q = q < 0 ? 0 : q > 51 ? 51 : q;
    m.qpc = kChromaQp[q];
}

}  // namespace

uint32_t ParseMacroblock(MbLayer& m, BitReader& br) {
    const uint32_t code = br.Ue();
    const uint32_t limit = m.p_slice ? 30 : 25;
    if (code > limit) return kMbErrorType;  // stop before parsing a type that does not exist
    const int type = static_cast<int>(code) + (m.p_slice ? 18 : 23);
    MbInfo& cur = *m.cur;
    cur.type = static_cast<int16_t>(type);
    cur.intra = type >= kMbINxN;

    if (type == kMbIPcm) return ParsePcm(m, br);

    uint32_t err = 0;
    FillNnzCache(m);
    const bool intra16 = type >= kMbI16x16 && type < kMbIPcm;
    if (cur.intra) {
        if (type == kMbINxN) {
            ParseIntraModes(m, br);
        } else {
            std::memset(cur.i4, 2, 16);
            const int a = type - kMbI16x16;  // I mb_type - 1: 0..23
            m.i16_mode = static_cast<uint8_t>(a & 3);
            m.cbp = static_cast<uint8_t>(((a >> 2) % 3) << 4 | (a >= 12 ? 15 : 0));
        }
        const uint32_t mode = br.Ue();
        if (mode > 3) err |= kMbErrorValue;
        m.chroma_mode = static_cast<uint8_t>(mode & 3);
    } else {
        std::memset(cur.i4, 2, 16);
        err |= ParseInterPrediction(m, br, type);
    }

    if (!intra16) {
        const uint32_t code_cbp = br.Ue();
        if (code_cbp > 47) err |= kMbErrorValue;
        m.cbp = (cur.intra ? kCbpIntra : kCbpInter)[code_cbp & 63];
    }
    if (m.cbp != 0 || intra16) {
        const int32_t delta = br.Se();
        if (delta < -26 || delta > 25) err |= kMbErrorValue;
        SetQp(m, static_cast<int>(((m.qp + int64_t{delta}) % 52 + 52) % 52));
    }
    cur.qp = static_cast<uint8_t>(m.qp);
    cur.qpc = static_cast<uint8_t>(m.qpc);
    if (m.cbp != 0 || intra16) {
        err |= ParseResidual(m, br, intra16);
    } else {
        std::memset(cur.nnz, 0, 16);
        std::memset(cur.nnz_c, 0, sizeof(cur.nnz_c));
    }
    if (br.past_end()) err |= kMbErrorOverrun;
    return err;
}

}  // namespace kestrel::h264

// CAVLC residual blocks (ITU-T H.264 clause 9.2) with table lookups on a 32-bit window.
//
// Every variable-length table of clause 9.2 is a prefix code whose codewords are a run of zeros,
// a one, and a short suffix (or only zeros). Each is decoded in one lookup: the count of leading
// zeros of the window (clamped to 16) selects a row, the S bits after the first one select the
// entry. An entry holds the code length in its high byte and the decoded value in its low byte;
// 0 marks a bit pattern that no codeword starts with.
#include "h264/cavlc.h"

#include <array>
#include <bit>
#include <cstddef>

namespace kestrel::h264 {
namespace {

constexpr int kRows = 17;  // leading-zero counts 0..16

template <int S>
struct VlcTable {
    std::array<uint16_t, kRows << S> e{};
};

struct Code {
    uint8_t len;
    uint16_t bits;
    uint8_t value;
};

template <int S, size_t N>
constexpr VlcTable<S> BuildVlc(const std::array<Code, N>& codes) {
    VlcTable<S> t{};
    for (const Code& c : codes) {
        if (c.len == 0) continue;
        const uint16_t entry = static_cast<uint16_t>(c.len << 8 | c.value);
        if (c.bits == 0) {
            // only zeros: every window with at least len leading zeros
            for (int lz = c.len; lz < kRows; ++lz)
                for (int s = 0; s < (1 << S); ++s) t.e[(lz << S) | s] = entry;
            continue;
        }
        const int width = std::bit_width(c.bits);  // bits after the leading zeros
        const int lz = c.len - width;
        const int suffix_len = width - 1;
        if (suffix_len > S) throw "suffix longer than the table's row";
        const int suffix = c.bits & ((1 << suffix_len) - 1);
        const int base = (lz << S) | (suffix << (S - suffix_len));
        for (int k = 0; k < (1 << (S - suffix_len)); ++k) {
            if (t.e[base + k] != 0) throw "codes overlap";
            t.e[base + k] = entry;
        }
    }
    return t;
}

// A 64-bit window over the reader: refilled when fewer than 32 bits are left, so that every
// syntax element of a residual block (at most 28 bits) is read from registers.
class Window {
public:
    explicit Window(BitReader& br) : br_(br), w_(br.Peek64()) {}
    ~Window() { br_.Skip(consumed_); }
    void Need32() {
        if (avail_ >= 32) return;
        br_.Skip(consumed_);
        consumed_ = 0;
        w_ = br_.Peek64();
        avail_ = 57;
    }
    uint32_t Top32() const { return static_cast<uint32_t>(w_ >> 32); }
    void Eat(uint32_t n) {
        w_ <<= n;
        avail_ -= n;
        consumed_ += n;
    }

private:
    BitReader& br_;
    uint64_t w_;
    uint32_t avail_ = 57;
    uint32_t consumed_ = 0;
};

template <int S>
inline uint32_t LookUp(uint32_t w, const VlcTable<S>& t) {
    uint32_t lz = static_cast<uint32_t>(__builtin_clz(w | 1));
    lz = lz < kRows - 1 ? lz : kRows - 1;
    const uint32_t suffix = ((w << lz) << 1) >> (32 - S);
    return t.e[(lz << S) | suffix];
}

template <int S>
inline uint32_t ReadVlc(Window& win, const VlcTable<S>& t) {
    const uint32_t e = LookUp(win.Top32(), t);
    win.Eat(e >> 8);
    return e;
}

// ---- coeff_token, Table 9-5 -------------------------------------------------------------------
// Lengths and codewords by [TotalCoeff][TrailingOnes]; value = 4 * TotalCoeff + TrailingOnes.
using TokenGrid = std::array<std::array<uint8_t, 4>, 17>;

constexpr TokenGrid kTokenLen[3] = {
    {{{1, 0, 0, 0}, {6, 2, 0, 0}, {8, 6, 3, 0}, {9, 8, 7, 5}, {10, 9, 8, 6}, {11, 10, 9, 7},
      {13, 11, 10, 8}, {13, 13, 11, 9}, {13, 13, 13, 10}, {14, 14, 13, 11}, {14, 14, 14, 13},
      {15, 15, 14, 14}, {15, 15, 15, 14}, {16, 15, 15, 15}, {16, 16, 16, 15}, {16, 16, 16, 16},
      {16, 16, 16, 16}}},  // 0 <= nC < 2
    {{{2, 0, 0, 0}, {6, 2, 0, 0}, {6, 5, 3, 0}, {7, 6, 6, 4}, {8, 6, 6, 4}, {8, 7, 7, 5},
      {9, 8, 8, 6}, {11, 9, 9, 6}, {11, 11, 11, 7}, {12, 11, 11, 9}, {12, 12, 12, 11},
      {12, 12, 12, 11}, {13, 13, 13, 12}, {13, 13, 13, 13}, {13, 14, 13, 13}, {14, 14, 14, 13},
      {14, 14, 14, 14}}},  // 2 <= nC < 4
    {{{4, 0, 0, 0}, {6, 4, 0, 0}, {6, 5, 4, 0}, {6, 5, 5, 4}, {7, 5, 5, 4}, {7, 5, 5, 4},
      {7, 6, 6, 4}, {7, 6, 6, 4}, {8, 7, 7, 5}, {8, 8, 7, 6}, {9, 8, 8, 7}, {9, 9, 8, 8},
      {9, 9, 9, 8}, {10, 9, 9, 9}, {10, 10, 10, 10}, {10, 10, 10, 10}, {10, 10, 10, 10}}},  // 4 <= nC < 8
};
constexpr TokenGrid kTokenBits[3] = {
    {{{1, 0, 0, 0}, {5, 1, 0, 0}, {7, 4, 1, 0}, {7, 6, 5, 3}, {7, 6, 5, 3}, {7, 6, 5, 4},
      {15, 6, 5, 4}, {11, 14, 5, 4}, {8, 10, 13, 4}, {15, 14, 9, 4}, {11, 10, 13, 12},
      {15, 14, 9, 12}, {11, 10, 13, 8}, {15, 1, 9, 12}, {11, 14, 13, 8}, {7, 10, 9, 12},
      {4, 6, 5, 8}}},
    {{{3, 0, 0, 0}, {11, 2, 0, 0}, {7, 7, 3, 0}, {7, 10, 9, 5}, {7, 6, 5, 4}, {4, 6, 5, 6},
      {7, 6, 5, 8}, {15, 6, 5, 4}, {11, 14, 13, 4}, {15, 10, 9, 4}, {11, 14, 13, 12},
      {8, 10, 9, 8}, {15, 14, 13, 12}, {11, 10, 9, 12}, {7, 11, 6, 8}, {9, 8, 10, 1},
      {7, 6, 5, 4}}},
    {{{15, 0, 0, 0}, {15, 14, 0, 0}, {11, 15, 13, 0}, {8, 12, 14, 12}, {15, 10, 11, 11},
      {11, 8, 9, 10}, {9, 14, 13, 9}, {8, 10, 9, 8}, {15, 14, 13, 13}, {11, 14, 10, 12},
      {15, 10, 13, 12}, {11, 14, 9, 12}, {8, 10, 13, 8}, {13, 7, 9, 12}, {9, 12, 11, 10},
      {5, 8, 7, 6}, {1, 4, 3, 2}}},
};
// nC == -1 (chroma DC of 4:2:0), TotalCoeff 0..4.
constexpr std::array<std::array<uint8_t, 4>, 5> kChromaDcTokenLen = {
    {{2, 0, 0, 0}, {6, 1, 0, 0}, {6, 6, 3, 0}, {6, 7, 7, 6}, {6, 8, 8, 7}}};
constexpr std::array<std::array<uint8_t, 4>, 5> kChromaDcTokenBits = {
    {{1, 0, 0, 0}, {7, 1, 0, 0}, {4, 6, 1, 0}, {3, 3, 2, 5}, {2, 3, 2, 0}}};

template <size_t Rows>
constexpr std::array<Code, Rows * 4> TokenCodes(const std::array<std::array<uint8_t, 4>, Rows>& len,
                                                const std::array<std::array<uint8_t, 4>, Rows>& bits) {
    std::array<Code, Rows * 4> codes{};
    for (size_t tc = 0; tc < Rows; ++tc)
        for (size_t t1 = 0; t1 < 4; ++t1)
            codes[4 * tc + t1] = Code{len[tc][t1], bits[tc][t1], static_cast<uint8_t>(4 * tc + t1)};
    return codes;
}

constexpr auto kToken0 = BuildVlc<3>(TokenCodes(kTokenLen[0], kTokenBits[0]));
constexpr auto kToken1 = BuildVlc<4>(TokenCodes(kTokenLen[1], kTokenBits[1]));
constexpr auto kToken2 = BuildVlc<4>(TokenCodes(kTokenLen[2], kTokenBits[2]));
constexpr auto kTokenChromaDc = BuildVlc<2>(TokenCodes(kChromaDcTokenLen, kChromaDcTokenBits));

// ---- total_zeros, Tables 9-7 and 9-8 (4x4 blocks) and 9-9a (chroma DC) -------------------------
// Row tzVlcIndex - 1 = TotalCoeff - 1, column total_zeros.
constexpr uint8_t kTotalZerosLen[15][16] = {
    {1, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 9}, {3, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 6, 6, 6, 6},
    {4, 3, 3, 3, 4, 4, 3, 3, 4, 5, 5, 6, 5, 6},       {5, 3, 4, 4, 3, 3, 3, 4, 3, 4, 5, 5, 5},
    {4, 4, 4, 3, 3, 3, 3, 3, 4, 5, 4, 5},             {6, 5, 3, 3, 3, 3, 3, 3, 4, 3, 6},
    {6, 5, 3, 3, 3, 2, 3, 4, 3, 6},                   {6, 4, 5, 3, 2, 2, 3, 3, 6},
    {6, 6, 4, 2, 2, 3, 2, 5},                         {5, 5, 3, 2, 2, 2, 4},
    {4, 4, 3, 3, 1, 3},                               {4, 4, 2, 1, 3},
    {3, 3, 1, 2},                                     {2, 2, 1},
    {1, 1},
};
constexpr uint8_t kTotalZerosBits[15][16] = {
    {1, 3, 2, 3, 2, 3, 2, 3, 2, 3, 2, 3, 2, 3, 2, 1}, {7, 6, 5, 4, 3, 5, 4, 3, 2, 3, 2, 3, 2, 1, 0},
    {5, 7, 6, 5, 4, 3, 4, 3, 2, 3, 2, 1, 1, 0},       {3, 7, 5, 4, 6, 5, 4, 3, 3, 2, 2, 1, 0},
    {5, 4, 3, 7, 6, 5, 4, 3, 2, 1, 1, 0},             {1, 1, 7, 6, 5, 4, 3, 2, 1, 1, 0},
    {1, 1, 5, 4, 3, 3, 2, 1, 1, 0},                   {1, 1, 1, 3, 3, 2, 2, 1, 0},
    {1, 0, 1, 3, 2, 1, 1, 1},                         {1, 0, 1, 3, 2, 1, 1},
    {0, 1, 1, 2, 1, 3},                               {0, 1, 1, 1, 1},
    {0, 1, 1, 1},                                     {0, 1, 1},
    {0, 1},
};
constexpr uint8_t kChromaDcTotalZerosLen[3][4] = {{1, 2, 3, 3}, {1, 2, 2}, {1, 1}};
constexpr uint8_t kChromaDcTotalZerosBits[3][4] = {{1, 1, 1, 0}, {1, 1, 0}, {1, 0}};

// ---- run_before, Table 9-10 ------------------------------------------------------------------
// Row min(zerosLeft, 7) - 1, column run_before.
constexpr uint8_t kRunLen[7][15] = {
    {1, 1},          {1, 2, 2},       {2, 2, 2, 2},
    {2, 2, 2, 3, 3}, {2, 2, 3, 3, 3, 3}, {2, 3, 3, 3, 3, 3, 3},
    {3, 3, 3, 3, 3, 3, 3, 4, 5, 6, 7, 8, 9, 10, 11},
};
constexpr uint8_t kRunBits[7][15] = {
    {1, 0},          {1, 1, 0},       {3, 2, 1, 0},
    {3, 2, 1, 1, 0}, {3, 2, 3, 2, 1, 0}, {3, 0, 1, 3, 2, 5, 4},
    {7, 6, 5, 4, 3, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1},
};

template <size_t N>
constexpr std::array<Code, N> RowCodes(const uint8_t (&len)[N], const uint8_t (&bits)[N]) {
    std::array<Code, N> codes{};
    for (size_t i = 0; i < N; ++i) codes[i] = Code{len[i], bits[i], static_cast<uint8_t>(i)};
    return codes;
}

template <int S, size_t R, size_t N>
constexpr std::array<VlcTable<S>, R> BuildRows(const uint8_t (&len)[R][N], const uint8_t (&bits)[R][N]) {
    std::array<VlcTable<S>, R> t{};
    for (size_t r = 0; r < R; ++r) t[r] = BuildVlc<S>(RowCodes(len[r], bits[r]));
    return t;
}

constexpr auto kTotalZeros = BuildRows<3>(kTotalZerosLen, kTotalZerosBits);
constexpr auto kChromaDcTotalZeros = BuildRows<1>(kChromaDcTotalZerosLen, kChromaDcTotalZerosBits);
constexpr auto kRunBefore = BuildRows<2>(kRunLen, kRunBits);

inline uint32_t ReadCoeffToken(Window& win, int nc) {
    if (nc < 0) return ReadVlc(win, kTokenChromaDc);
    if (nc < 2) return ReadVlc(win, kToken0);
    if (nc < 4) return ReadVlc(win, kToken1);
    if (nc < 8) return ReadVlc(win, kToken2);
    // 6-bit fixed-length code: TotalCoeff - 1 in the high four bits, TrailingOnes in the low
    // two; 000011 is TotalCoeff 0. The other codes with TotalCoeff 0 or TrailingOnes above
    // TotalCoeff do not exist.
    const uint32_t v = win.Top32() >> 26;
    win.Eat(6);
    if (v == 3) return 6u << 8;
    const uint32_t tc = (v >> 2) + 1, t1 = v & 3;
    if (t1 > tc) return 0;
    return 6u << 8 | (4 * tc + t1);
}

}  // namespace

const uint8_t kZigZag4x4[16] = {0, 1, 4, 8, 5, 2, 3, 6, 9, 12, 13, 10, 7, 11, 14, 15};
const uint8_t kFieldScan4x4[16] = {0, 4, 1, 8, 12, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15};
const uint8_t kRasterScan2x2[4] = {0, 1, 2, 3};

const uint8_t kCbpIntra[64] = {47, 31, 15, 0,  23, 27, 29, 30, 7,  11, 13, 14, 39, 43, 45, 46,
                               16, 3,  5,  10, 12, 19, 21, 26, 28, 35, 37, 42, 44, 1,  2,  4,
                               8,  17, 18, 20, 24, 6,  9,  22, 25, 32, 33, 34, 36, 40, 38, 41};
const uint8_t kCbpInter[64] = {0,  16, 1,  2,  4,  8,  32, 3,  5,  10, 12, 15, 47, 7,  11, 13,
                               14, 6,  9,  31, 35, 37, 42, 44, 33, 34, 36, 40, 39, 43, 45, 46,
                               17, 18, 20, 24, 19, 21, 26, 28, 23, 27, 29, 30, 22, 25, 38, 41};

const uint8_t kChromaQp[52] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17,
                               18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 29, 30, 31, 32, 32, 33,
                               34, 34, 35, 35, 36, 36, 37, 37, 37, 38, 38, 38, 39, 39, 39, 39};

int ReadResidualBlock(BitReader& br, const ResidualBlock& b, int16_t* coef) {
    Window win(br);
    const uint32_t token = ReadCoeffToken(win, b.nc);
    if (token == 0) return -1;
    const int total = (token & 0xFF) >> 2, trailing = token & 3;
    if (total == 0) return 0;
    if (total > b.max_coeff) return -1;

    int level[16];
    if (trailing > 0) {
        // one sign bit each, first coefficient first
        const uint32_t signs = win.Top32() >> (32 - trailing);
        win.Eat(trailing);
        for (int i = 0; i < trailing; ++i) level[i] = 1 - 2 * static_cast<int>((signs >> (trailing - 1 - i)) & 1);
    }
    int suffix_length = total > 10 && trailing < 3 ? 1 : 0;
    // The first level after fewer than three trailing ones is at least 2 in magnitude.
    int bump = trailing < 3 ? 2 : 0;
    for (int i = trailing; i < total; ++i) {
        win.Need32();
        const uint32_t w = win.Top32();
        if (w < 0x10000u) return -1;  // level_prefix above 15
        const int prefix = __builtin_clz(w);
        int level_code, used;
        if (prefix < 14) {
            // suffix_length bits after the prefix (none when it is 0)
            level_code = (prefix << suffix_length) +
                         static_cast<int>((uint64_t{w << (prefix + 1)} << suffix_length) >> 32);
            used = prefix + 1 + suffix_length;
        } else if (prefix == 14) {
            const int size = suffix_length ? suffix_length : 4;
            level_code = (14 << suffix_length) + static_cast<int>((w << 15) >> (32 - size));
            used = 15 + size;
        } else {
            level_code = (15 << suffix_length) + static_cast<int>((w << 16) >> 20);
            if (suffix_length == 0) level_code += 15;
            used = 28;
        }
        win.Eat(static_cast<uint32_t>(used));
        level_code += bump;
        bump = 0;
        // even codes are positive, odd ones negative
        const int magnitude = (level_code + 2) >> 1, negative = -(level_code & 1);
        level[i] = (magnitude ^ negative) - negative;
        suffix_length += suffix_length == 0;
        suffix_length += (magnitude > (3 << (suffix_length - 1))) & (suffix_length < 6);
    }

    int zeros_left = 0;
    if (total < b.max_coeff) {
        win.Need32();
        const uint32_t e = b.nc < 0 ? ReadVlc(win, kChromaDcTotalZeros[total - 1]) : ReadVlc(win, kTotalZeros[total - 1]);
        if (e == 0) return -1;
        zeros_left = e & 0xFF;
        if (zeros_left > b.max_coeff - total) return -1;
    }

    // The first level is the highest-frequency coefficient; run_before counts the zeros below
    // each one.
    int index = total - 1 + zeros_left;
    const uint8_t* scan = b.scan + b.start;
    const int32_t* scale = b.scale;
    for (int i = 0;; ++i) {
        const int pos = scan[index];
        coef[pos] = static_cast<int16_t>(scale ? level[i] * scale[pos] : level[i]);
        if (i == total - 1) break;
        if (zeros_left > 0) {
            win.Need32();
            const uint32_t e = ReadVlc(win, kRunBefore[(zeros_left < 7 ? zeros_left : 7) - 1]);
            if (e == 0) return -1;
            const int run = e & 0xFF;
            if (run > zeros_left) return -1;
            zeros_left -= run;
            index -= run;
        }
        --index;
    }
    return total;
}

}  // namespace kestrel::h264

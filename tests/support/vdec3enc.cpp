#include "tests/support/vdec3enc.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "tests/support/vdec3enc_codes.h"

namespace vdec3enc {
namespace {

constexpr double kPi = 3.14159265358979323846;

// The inverse transform as a matrix: y[k] = sum over i of m[k][i] * x[i], the integers being
// 2048 * sqrt(2) * C(i) * cos((2k + 1) i pi / 16) rounded (2841, 2676, 2408, 2048, 1609, 1108, 565).
struct TransformMatrix {
  int m[8][8];
  TransformMatrix() {
    for (int k = 0; k < 8; ++k)
      for (int i = 0; i < 8; ++i) {
        const double ci = i == 0 ? std::sqrt(0.5) : 1.0;
        m[k][i] = static_cast<int>(std::lround(2048.0 * std::sqrt(2.0) * ci * std::cos((2 * k + 1) * i * kPi / 16)));
      }
  }
};
const TransformMatrix& Matrix() {
  static const TransformMatrix t;
  return t;
}

// Rows first ((y + 256) >> 9 kept to 16 bits), then columns ((y + 32768) >> 16).
void InverseTransform(const int in[64], int out[64]) {
  const auto& m = Matrix().m;
  int mid[64];
  for (int r = 0; r < 8; ++r)
    for (int k = 0; k < 8; ++k) {
      int32_t acc = 0;
      for (int i = 0; i < 8; ++i) acc += m[k][i] * in[r * 8 + i];
      mid[r * 8 + k] = static_cast<int16_t>((acc + 256) >> 9);
    }
  for (int c = 0; c < 8; ++c)
    for (int k = 0; k < 8; ++k) {
      int32_t acc = 0;
      for (int i = 0; i < 8; ++i) acc += m[k][i] * mid[i * 8 + c];
      out[k * 8 + c] = (acc + 32768) >> 16;
    }
}

// Orthonormal 2-D DCT scaled so that F(0, 0) = 8 * mean; index row (vertical) * 8 + column.
void ForwardTransform(const int in[64], double out[64]) {
  // basis[u][y] = C(u) / 2 * cos((2y + 1) u pi / 16); separable: columns, then rows.
  static const auto basis = [] {
    std::array<std::array<double, 8>, 8> b{};
    for (int u = 0; u < 8; ++u)
      for (int y = 0; y < 8; ++y) b[u][y] = (u ? 0.5 : 0.5 * std::sqrt(0.5)) * std::cos((2 * y + 1) * u * kPi / 16);
    return b;
  }();
  double tmp[64];
  for (int y = 0; y < 8; ++y)
    for (int v = 0; v < 8; ++v) {
      double sum = 0;
      for (int x = 0; x < 8; ++x) sum += in[y * 8 + x] * basis[v][x];
      tmp[y * 8 + v] = sum;
    }
  for (int u = 0; u < 8; ++u)
    for (int v = 0; v < 8; ++v) {
      double sum = 0;
      for (int y = 0; y < 8; ++y) sum += tmp[y * 8 + v] * basis[u][y];
      out[u * 8 + v] = sum;
    }
}

// Scan position -> (row, column), generated from the scan patterns' definitions.
struct Scans {
  int zigzag[64], horizontal[64], vertical[64];
  Scans() {
    // Zigzag: anti-diagonals, alternating direction, starting to the right.
    int n = 0;
    for (int s = 0; s < 15; ++s) {
      for (int i = 0; i <= s; ++i) {
        const int r = (s % 2) ? i : s - i;
        const int c = s - r;
        if (r < 8 && c < 8) zigzag[n++] = r * 8 + c;
      }
    }
    // The alternate scans of ISO/IEC 14496-2 figure 7-2 (row * 8 + column).
    static const int kHorizontal[64] = {
        0,  1,  2,  3,  8,  9,  16, 17, 10, 11, 4,  5,  6,  7,  15, 14,
        13, 12, 19, 18, 24, 25, 32, 33, 26, 27, 20, 21, 22, 23, 28, 29,
        30, 31, 34, 35, 40, 41, 48, 49, 42, 43, 36, 37, 38, 39, 44, 45,
        46, 47, 50, 51, 56, 57, 58, 59, 52, 53, 54, 55, 60, 61, 62, 63};
    for (int i = 0; i < 64; ++i) {
      horizontal[i] = kHorizontal[i];
      // The alternate-vertical scan is the alternate-horizontal one mirrored about the diagonal.
      vertical[i] = (kHorizontal[i] % 8) * 8 + kHorizontal[i] / 8;
    }
  }
};
const Scans& ScanTables() {
  static const Scans s;
  return s;
}

int Sign(int v) { return (v > 0) - (v < 0); }

int LumaScaler(int q) { return q < 5 ? 8 : q < 9 ? 2 * q : q < 25 ? q + 8 : 2 * q - 16; }
int ChromaScaler(int q) { return q < 5 ? 8 : q < 25 ? (q + 13) / 2 : q - 6; }

// A plane with 16 repeated pixels on every side, for motion compensation.
struct PaddedPlane {
  int width = 0, height = 0, pad = 16, stride = 0;
  std::vector<uint8_t> data;
  PaddedPlane() = default;
  PaddedPlane(const uint8_t* src, int w, int h) : width(w), height(h), stride(w + 32) {
    data.resize(static_cast<size_t>(stride) * (h + 32));
    for (int y = -pad; y < h + pad; ++y)
      for (int x = -pad; x < w + pad; ++x)
        data[static_cast<size_t>(y + pad) * stride + x + pad] =
            src[static_cast<size_t>(std::clamp(y, 0, h - 1)) * w + std::clamp(x, 0, w - 1)];
  }
  int at(int x, int y) const { return data[static_cast<size_t>(y + pad) * stride + x + pad]; }
  // Half-pel sample at (2x + hx, 2y + hy) / 2 with the codec's rounding.
  int Half(int x, int y, bool hx, bool hy) const {
    auto avg = [](int a, int b) { return (a + b + 1) / 2; };
    if (!hx && !hy) return at(x, y);
    if (hx && !hy) return avg(at(x, y), at(x + 1, y));
    if (!hx) return avg(at(x, y), at(x, y + 1));
    return avg(avg(at(x, y), at(x + 1, y)), avg(at(x, y + 1), at(x + 1, y + 1)));
  }
};

// Floor division by a power of two for negative numbers too.
int FloorDiv(int a, int b) { return (a >= 0) ? a / b : -((-a + b - 1) / b); }

struct Store {
  int dc = 1024;        // dequantised
  int qdc = 0;
  int row[7] = {};      // levels of (0, 1..7)
  int column[7] = {};   // levels of (1..7, 0)
};

struct Event {
  bool last;
  int run;
  int level;
};

// One block ready to be written.
struct BlockCode {
  bool coded = false;
  // intra only
  int dc_difference = 0;
  bool ac_prediction = false;
  std::vector<Event> events;
};

}  // namespace

struct Encoder::Impl {
  Encoder& e;
  const FrameOptions& o;
  const Picture& src;  // coded size
  Picture& rec;
  const Picture ref;  // previous reconstruction
  PaddedPlane ref_planes[3];
  BitWriter bw;
  int mbw, mbh;
  int q, two_q, odd_q;
  // Current-frame state by macroblock and by block.
  std::vector<char> mb_intra;
  std::vector<int> mb_h, mb_v;
  std::vector<Store> luma_stores, chroma_stores[2];

  Impl(Encoder& enc, const FrameOptions& opt, const Picture& source)
      : e(enc), o(opt), src(source), rec(enc.reconstruction_), ref(enc.reconstruction_) {
    mbw = src.width / 16;
    mbh = src.height / 16;
    q = o.q;
    two_q = 2 * q;
    odd_q = (q % 2) ? q : q - 1;
    mb_intra.assign(static_cast<size_t>(mbw) * mbh, 0);
    mb_h.assign(mb_intra.size(), 0);
    mb_v.assign(mb_intra.size(), 0);
    luma_stores.resize(static_cast<size_t>(4) * mbw * mbh);
    chroma_stores[0].resize(mb_intra.size());
    chroma_stores[1].resize(mb_intra.size());
    if (o.inter) {
      ref_planes[0] = PaddedPlane(ref.y.data(), ref.width, ref.height);
      ref_planes[1] = PaddedPlane(ref.cb.data(), ref.width / 2, ref.height / 2);
      ref_planes[2] = PaddedPlane(ref.cr.data(), ref.width / 2, ref.height / 2);
    }
  }

  int Dequantise(int level) const { return level * two_q + Sign(level) * odd_q; }

  // ---- intra ----

  Store DefaultStore(bool luma) const {
    Store s;
    s.dc = 1024;
    s.qdc = static_cast<int>(std::lround(1024.0 / (luma ? LumaScaler(q) : ChromaScaler(q))));
    return s;
  }

  // The store of block (bx, by) of a plane (0 luma, 1 Cb, 2 Cr) if its macroblock is intra in
  // this frame, else the default.
  Store Neighbour(int plane, int bx, int by) const {
    const int per_mb = plane == 0 ? 2 : 1;
    if (bx < 0 || by < 0) return DefaultStore(plane == 0);
    const int mx = bx / per_mb, my = by / per_mb;
    if (!mb_intra[static_cast<size_t>(my) * mbw + mx]) return DefaultStore(plane == 0);
    return StoreAt(plane, bx, by);
  }
  Store& StoreAt(int plane, int bx, int by) {
    return plane == 0 ? luma_stores[static_cast<size_t>(by) * 2 * mbw + bx]
                      : chroma_stores[plane - 1][static_cast<size_t>(by) * mbw + bx];
  }
  const Store& StoreAt(int plane, int bx, int by) const {
    return const_cast<Impl*>(this)->StoreAt(plane, bx, by);
  }

  int Sample(const Picture& p, int plane, int x, int y) const {
    return plane == 0 ? p.Y(x, y) : p.Chroma(plane - 1, x, y);
  }
  void Put(Picture& p, int plane, int x, int y, int v) {
    const uint8_t c = static_cast<uint8_t>(std::clamp(v, 0, 255));
    if (plane == 0) p.Y(x, y) = c; else p.Chroma(plane - 1, x, y) = c;
  }

  BlockCode IntraBlock(int plane, int bx, int by) {
    int pixels[64];
    for (int i = 0; i < 64; ++i) pixels[i] = Sample(src, plane, bx * 8 + i % 8, by * 8 + i / 8);
    double f[64];
    ForwardTransform(pixels, f);

    const int scaler = plane == 0 ? LumaScaler(q) : ChromaScaler(q);
    const Store a = Neighbour(plane, bx - 1, by), b = Neighbour(plane, bx - 1, by - 1),
                c = Neighbour(plane, bx, by - 1);
    const bool from_top = std::abs(b.dc - a.dc) < std::abs(b.dc - c.dc);
    const Store& pred = from_top ? c : a;

    int levels[64] = {};
    levels[0] = std::clamp(static_cast<int>(std::lround(f[0] / scaler)), 0, 255);
    for (int i = 1; i < 64; ++i)
      levels[i] = std::clamp(static_cast<int>(std::trunc(f[i] / two_q)), -2047, 2047);

    // What AC prediction would leave to send at the predicted positions.
    int sent[64];
    std::copy(levels, levels + 64, sent);
    int plain_cost = 0, predicted_cost = 0;
    for (int i = 1; i < 8; ++i) {
      const int at = from_top ? i : 8 * i;
      const int stored = from_top ? pred.row[i - 1] : pred.column[i - 1];
      plain_cost += std::abs(levels[at]);
      predicted_cost += std::abs(levels[at] - stored);
    }
    bool use_prediction = o.ac_prediction == AcPrediction::kAlways ||
                          (o.ac_prediction == AcPrediction::kAuto && predicted_cost < plain_cost);
    if (use_prediction) {
      for (int i = 1; i < 8; ++i) {
        const int at = from_top ? i : 8 * i;
        sent[at] = levels[at] - (from_top ? pred.row[i - 1] : pred.column[i - 1]);
        if (std::abs(sent[at]) > 2047) use_prediction = false;
      }
      if (!use_prediction) std::copy(levels, levels + 64, sent);
    }

    BlockCode code;
    code.dc_difference = levels[0] - pred.qdc;
    code.ac_prediction = use_prediction;
    if (use_prediction) ++(from_top ? e.stats_.ac_predicted_from_top : e.stats_.ac_predicted_from_left);
    const int* scan = !use_prediction ? ScanTables().zigzag
                      : from_top      ? ScanTables().horizontal
                                      : ScanTables().vertical;
    code.events = Events(sent, scan, 1);
    code.coded = !code.events.empty();

    Store& s = StoreAt(plane, bx, by);
    s.qdc = levels[0];
    s.dc = static_cast<int16_t>(levels[0] * scaler);
    for (int i = 1; i < 8; ++i) {
      s.row[i - 1] = levels[i];
      s.column[i - 1] = levels[8 * i];
    }

    int coefficients[64], out[64];
    coefficients[0] = static_cast<int16_t>(levels[0] * scaler);
    for (int i = 1; i < 64; ++i) coefficients[i] = Dequantise(levels[i]);
    InverseTransform(coefficients, out);
    for (int i = 0; i < 64; ++i) Put(rec, plane, bx * 8 + i % 8, by * 8 + i / 8, out[i]);
    return code;
  }

  // ---- inter ----

  // Prediction of an n x n block at (x, y) of a plane with a vector in that plane's half-pels
  // (luma) or quarter-pels (chroma, from the luma vector).
  void Predict(int plane, int x, int y, int h, int v, int out[256]) const {
    const int n = plane == 0 ? 16 : 8;
    int ix, iy;
    bool hx, hy;
    if (plane == 0) {
      ix = FloorDiv(h, 2);
      iy = FloorDiv(v, 2);
      hx = h % 2 != 0;
      hy = v % 2 != 0;
    } else {
      ix = FloorDiv(h, 4);
      iy = FloorDiv(v, 4);
      hx = h % 4 != 0;
      hy = v % 4 != 0;
    }
    for (int r = 0; r < n; ++r)
      for (int c = 0; c < n; ++c) out[r * n + c] = ref_planes[plane].Half(x + c + ix, y + r + iy, hx, hy);
  }

  int LumaSad(int mx, int my, int h, int v) const {
    int pred[256];
    Predict(0, mx * 16, my * 16, h, v, pred);
    int sad = 0;
    for (int i = 0; i < 256; ++i) sad += std::abs(pred[i] - src.Y(mx * 16 + i % 16, my * 16 + i / 16));
    return sad;
  }

  void Search(int mx, int my, int* best_h, int* best_v, int* best_sad) const {
    const int range = std::clamp(o.search_range, 0, 15);
    int bh = 0, bv = 0, bs = LumaSad(mx, my, 0, 0);
    for (int dy = -range; dy <= range; ++dy)
      for (int dx = -range; dx <= range; ++dx) {
        const int s = LumaSad(mx, my, 2 * dx, 2 * dy);
        if (s < bs) { bs = s; bh = 2 * dx; bv = 2 * dy; }
      }
    const int ch = bh, cv = bv;
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx) {
        const int h = ch + dx, v = cv + dy;
        if ((!dx && !dy) || std::abs(h) > 31 || std::abs(v) > 31) continue;
        const int s = LumaSad(mx, my, h, v);
        if (s < bs) { bs = s; bh = h; bv = v; }
      }
    *best_h = bh;
    *best_v = bv;
    *best_sad = bs;
  }

  // Residual blocks of an inter macroblock with vector (h, v); writes the reconstruction.
  void InterBlocks(int mx, int my, int h, int v, BlockCode codes[6]) {
    int pred_luma[256], pred_chroma[2][256];
    Predict(0, mx * 16, my * 16, h, v, pred_luma);
    Predict(1, mx * 8, my * 8, h, v, pred_chroma[0]);
    Predict(2, mx * 8, my * 8, h, v, pred_chroma[1]);
    for (int k = 0; k < 6; ++k) {
      const int plane = k < 4 ? 0 : k - 3;
      const int x0 = k < 4 ? mx * 16 + (k % 2) * 8 : mx * 8;
      const int y0 = k < 4 ? my * 16 + (k / 2) * 8 : my * 8;
      int pred[64], residual[64];
      for (int i = 0; i < 64; ++i) {
        const int r = i / 8, c = i % 8;
        pred[i] = k < 4 ? pred_luma[((k / 2) * 8 + r) * 16 + (k % 2) * 8 + c] : pred_chroma[k - 4][r * 8 + c];
        residual[i] = Sample(src, plane, x0 + c, y0 + r) - pred[i];
      }
      double f[64];
      ForwardTransform(residual, f);
      int levels[64];
      for (int i = 0; i < 64; ++i) {
        const double m = std::abs(f[i]) - q / 2.0;
        const int l = m > 0 ? static_cast<int>(m / two_q) : 0;
        levels[i] = std::clamp(f[i] < 0 ? -l : l, -2047, 2047);
      }
      codes[k].events = Events(levels, ScanTables().zigzag, 0);
      codes[k].coded = !codes[k].events.empty();
      int coefficients[64], out[64];
      for (int i = 0; i < 64; ++i) coefficients[i] = codes[k].coded ? Dequantise(levels[i]) : 0;
      InverseTransform(coefficients, out);
      for (int i = 0; i < 64; ++i) Put(rec, plane, x0 + i % 8, y0 + i / 8, pred[i] + out[i]);
    }
  }

  void CopyCoLocated(int mx, int my) {
    for (int r = 0; r < 16; ++r)
      for (int c = 0; c < 16; ++c) rec.Y(mx * 16 + c, my * 16 + r) = ref.Y(mx * 16 + c, my * 16 + r);
    for (int p = 0; p < 2; ++p)
      for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c)
          rec.Chroma(p, mx * 8 + c, my * 8 + r) = ref.Chroma(p, mx * 8 + c, my * 8 + r);
  }

  // Median prediction: left, top, top-right; in the first row the left alone; outside the
  // picture, intra and skipped macroblocks count as (0, 0).
  void PredictVector(int mx, int my, int* ph, int* pv) const {
    auto vec = [&](int x, int y, int* h, int* v) {
      *h = *v = 0;
      if (x < 0 || x >= mbw || y < 0) return;
      *h = mb_h[static_cast<size_t>(y) * mbw + x];
      *v = mb_v[static_cast<size_t>(y) * mbw + x];
    };
    int lh, lv, th, tv, rh, rv;
    vec(mx - 1, my, &lh, &lv);
    if (my == 0) {
      *ph = lh;
      *pv = lv;
      return;
    }
    vec(mx, my - 1, &th, &tv);
    vec(mx + 1, my - 1, &rh, &rv);
    auto median = [](int a, int b, int c) {
      int s[3] = {a, b, c};
      std::sort(s, s + 3);
      return s[1];
    };
    *ph = median(lh, th, rh);
    *pv = median(lv, tv, rv);
  }

  // ---- writing ----

  std::vector<Event> Events(const int* values, const int* scan, int start) const {
    std::vector<Event> events;
    int run = 0;
    for (int i = start; i < 64; ++i) {
      const int v = values[scan[i]];
      if (v == 0) {
        ++run;
        continue;
      }
      events.push_back({false, run, v});
      run = 0;
    }
    if (!events.empty()) events.back().last = true;
    return events;
  }

  void WriteEvents(const std::vector<Event>& events, bool intra) {
    for (const Event& ev : events) {
      const int magnitude = std::abs(ev.level);
      const bool negative = ev.level < 0;
      std::string code = CoefficientCode(intra, ev.last, ev.run, magnitude);
      if (!code.empty()) {
        bw.PutCode(code);
        bw.PutBit(negative);
        ++e.stats_.table_codes;
        continue;
      }
      const int lmax = MaxLevel(intra, ev.last, ev.run);
      if (lmax > 0 && !(code = CoefficientCode(intra, ev.last, ev.run, magnitude - lmax)).empty()) {
        bw.PutCode(kEscape);
        bw.PutCode("0");
        bw.PutCode(code);
        bw.PutBit(negative);
        ++e.stats_.escapes[0];
        continue;
      }
      const int shorter = ev.run - MaxRun(intra, ev.last, magnitude) - 1;
      if (MaxLevel(intra, ev.last, 0) >= magnitude && shorter >= 0 &&
          !(code = CoefficientCode(intra, ev.last, shorter, magnitude)).empty()) {
        bw.PutCode(kEscape);
        bw.PutCode("10");
        bw.PutCode(code);
        bw.PutBit(negative);
        ++e.stats_.escapes[1];
        continue;
      }
      bw.PutCode(kEscape);
      bw.PutCode("11");
      bw.PutBit(ev.last);
      bw.Put(static_cast<uint32_t>(ev.run), 6);
      bw.PutBit(true);
      bw.Put(static_cast<uint32_t>(ev.level) & 0xFFF, 12);
      bw.PutBit(true);
      ++e.stats_.escapes[2];
    }
  }

  void WriteDcDifference(int d) {
    int size = 0;
    while ((1 << size) <= std::abs(d)) ++size;
    bw.PutCode(DcSizeCode(size));
    return WriteDcBits(d, size);
  }
  void WriteDcBits(int d, int size) {
    if (size == 0) return;
    const int value = d > 0 ? d : d + (1 << size) - 1;
    bw.Put(static_cast<uint32_t>(value), size);
  }

  void WriteMotionComponent(int d) {
    if (d == 0) {
      bw.PutCode(MotionCode(0));
      return;
    }
    const int m = std::abs(d) - 1;
    bw.PutCode(MotionCode(m / 2 + 1));
    bw.PutBit(d < 0);
    bw.PutBit(m % 2);
  }

  void WriteIntraMacroblock(const BlockCode codes[6]) {
    for (int k = 0; k < 6; ++k) {
      const BlockCode& b = codes[k];
      int size = 0;
      while ((1 << size) <= std::abs(b.dc_difference)) ++size;
      bw.PutCode(DcSizeCode(size));
      bw.PutBit(b.ac_prediction);
      WriteDcBits(b.dc_difference, size);
      if (b.coded) WriteEvents(b.events, true);
    }
  }

  int LumaBits(const BlockCode codes[6]) const {
    return (codes[0].coded << 3) | (codes[1].coded << 2) | (codes[2].coded << 1) | codes[3].coded;
  }
  int ChromaBits(const BlockCode codes[6]) const { return (codes[4].coded << 1) | codes[5].coded; }

  void EncodeIntraMacroblock(int mx, int my) {
    mb_intra[static_cast<size_t>(my) * mbw + mx] = 1;
    BlockCode codes[6];
    for (int k = 0; k < 4; ++k) codes[k] = IntraBlock(0, mx * 2 + k % 2, my * 2 + k / 2);
    codes[4] = IntraBlock(1, mx, my);
    codes[5] = IntraBlock(2, mx, my);
    if (o.inter) {
      bw.PutBit(false);
      bw.PutCode(PredictedFrameTypeCode(true, ChromaBits(codes)));
    } else {
      bw.PutCode(IntraFrameTypeCode(ChromaBits(codes)));
    }
    bw.PutCode(CbpyCode(LumaBits(codes)));
    WriteIntraMacroblock(codes);
    ++e.stats_.intra;
  }

  void EncodePredictedMacroblock(int mx, int my) {
    const MacroblockPlan plan = o.plan ? o.plan(mx, my) : MacroblockPlan{};
    if (plan.mode == MacroblockMode::kIntra) return EncodeIntraMacroblock(mx, my);
    const size_t at = static_cast<size_t>(my) * mbw + mx;
    if (plan.mode == MacroblockMode::kSkip) {
      bw.PutBit(true);
      CopyCoLocated(mx, my);
      ++e.stats_.skipped;
      return;
    }
    int ph, pv;
    PredictVector(mx, my, &ph, &pv);
    int h, v, dh, dv;
    if (plan.raw_difference) {
      dh = plan.dh;
      dv = plan.dv;
      h = ph + dh;
      v = pv + dv;
      if (h < -31 || h > 31) h = 0;  // the decoder's range rule
      if (v < -31 || v > 31) v = 0;
    } else {
      if (plan.fixed_vector) {
        h = plan.h;
        v = plan.v;
      } else {
        int sad;
        Search(mx, my, &h, &v, &sad);
        if (plan.mode == MacroblockMode::kAuto) {
          int mean = 0;
          for (int i = 0; i < 256; ++i) mean += src.Y(mx * 16 + i % 16, my * 16 + i / 16);
          mean = (mean + 128) / 256;
          int activity = 0;
          for (int i = 0; i < 256; ++i) activity += std::abs(src.Y(mx * 16 + i % 16, my * 16 + i / 16) - mean);
          if (activity + 512 < sad) return EncodeIntraMacroblock(mx, my);
        }
      }
      dh = h - ph;
      dv = v - pv;
    }
    BlockCode codes[6];
    InterBlocks(mx, my, h, v, codes);
    const bool nothing = !LumaBits(codes) && !ChromaBits(codes);
    if (plan.mode == MacroblockMode::kAuto && !plan.raw_difference && h == 0 && v == 0 && nothing) {
      bw.PutBit(true);  // the same picture as a skip
      ++e.stats_.skipped;
      return;
    }
    mb_h[at] = h;
    mb_v[at] = v;
    bw.PutBit(false);
    bw.PutCode(PredictedFrameTypeCode(false, ChromaBits(codes)));
    bw.PutCode(CbpyCode(15 - LumaBits(codes)));
    WriteMotionComponent(dh);
    WriteMotionComponent(dv);
    for (int k = 0; k < 6; ++k)
      if (codes[k].coded) WriteEvents(codes[k].events, false);
    ++e.stats_.inter;
    e.stats_.largest_vector = std::max({e.stats_.largest_vector, std::abs(h), std::abs(v)});
    if ((h | v) & 1) ++e.stats_.half_pel_vectors;
  }

  std::vector<uint8_t> Run() {
    bw.Put(static_cast<uint32_t>(q), 5);
    for (int my = 0; my < mbh; ++my)
      for (int mx = 0; mx < mbw; ++mx) {
        if (o.inter) {
          EncodePredictedMacroblock(mx, my);
        } else {
          EncodeIntraMacroblock(mx, my);
        }
      }
    const std::vector<uint8_t>& payload = bw.bytes();
    std::vector<uint8_t> frame((4 + payload.size() + 3) / 4 * 4, 0);
    if (!payload.empty()) std::memcpy(frame.data() + 4, payload.data(), payload.size());
    if (frame.size() > 0x3FFFC) throw std::length_error("frame longer than its length field holds");
    const uint32_t word = static_cast<uint32_t>(frame.size()) | 1u | (o.inter ? 2u : 0u);
    for (int b = 0; b < 4; ++b) frame[b] = static_cast<uint8_t>(word >> (24 - 8 * b));
    return o.little_endian ? SwapWordOrder(frame) : frame;
  }
};

Encoder::Encoder(int width, int height)
    : width_(width), height_(height), coded_width_((width + 15) / 16 * 16),
      coded_height_((height + 15) / 16 * 16) {
  // A decoder starts from a mid-grey picture.
  reconstruction_ = Picture::Filled(coded_width_, coded_height_, 0x80, 0x80);
}

std::vector<uint8_t> Encoder::Encode(const Picture& source, const FrameOptions& options) {
  assert(options.q >= 1 && options.q <= 31);
  stats_ = EncoderStats{};
  const Picture coded = PadTo16(Crop(source, width_ & ~1, height_ & ~1));
  Impl impl(*this, options, coded);
  return impl.Run();
}

std::vector<uint8_t> Encoder::FlatFrame(uint8_t level, bool little_endian) {
  std::vector<uint8_t> frame = {0, 0, 0, 9, 0, level, 0, 0};  // length 8, bit 0; q = 0
  return little_endian ? SwapWordOrder(frame) : frame;
}

}  // namespace vdec3enc

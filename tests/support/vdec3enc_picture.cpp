// Pictures for the test encoder: loading raw frames, cropping, padding, and the post-filter the
// decoder applies, written independently of the decoder.
#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>

#include "tests/support/vdec3enc.h"

namespace vdec3enc {

Picture Picture::Filled(int width, int height, uint8_t luma, uint8_t chroma) {
  Picture p;
  p.width = width;
  p.height = height;
  p.y.assign(static_cast<size_t>(width) * height, luma);
  p.cb.assign(static_cast<size_t>(width / 2) * (height / 2), chroma);
  p.cr = p.cb;
  return p;
}

Picture LoadYuv420(const std::string& path, int width, int height, int index) {
  const size_t luma = static_cast<size_t>(width) * height, chroma = luma / 4;
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>((luma + 2 * chroma) * index));
  Picture p = Picture::Filled(width, height, 0, 0);
  in.read(reinterpret_cast<char*>(p.y.data()), static_cast<std::streamsize>(luma));
  in.read(reinterpret_cast<char*>(p.cb.data()), static_cast<std::streamsize>(chroma));
  in.read(reinterpret_cast<char*>(p.cr.data()), static_cast<std::streamsize>(chroma));
  if (!in) return Picture{};
  return p;
}

namespace {

Picture Resample(const Picture& p, int width, int height, int dx, int dy) {
  Picture out = Picture::Filled(width, height, 0, 0);
  for (int row = 0; row < height; ++row)
    for (int x = 0; x < width; ++x)
      out.Y(x, row) = p.Y(std::clamp(x - dx, 0, p.width - 1), std::clamp(row - dy, 0, p.height - 1));
  for (int plane = 0; plane < 2; ++plane)
    for (int row = 0; row < height / 2; ++row)
      for (int x = 0; x < width / 2; ++x)
        out.Chroma(plane, x, row) = p.Chroma(plane, std::clamp(x - dx / 2, 0, p.width / 2 - 1),
                                             std::clamp(row - dy / 2, 0, p.height / 2 - 1));
  return out;
}

}  // namespace

Picture Crop(const Picture& p, int width, int height) { return Resample(p, width, height, 0, 0); }

Picture PadTo16(const Picture& p) {
  return Resample(p, (p.width + 15) / 16 * 16, (p.height + 15) / 16 * 16, 0, 0);
}

Picture Shifted(const Picture& p, int dx, int dy) { return Resample(p, p.width, p.height, dx, dy); }

namespace {

// Ten pixels across an edge: v[0..9], the edge between v[4] and v[5].
using Span = std::array<int, 10>;

int CountFlat(const Span& v) {
  int n = 0;
  for (int i = 1; i <= 7; ++i)
    if (std::abs(v[i] - v[i + 1]) <= 1) ++n;
  return n;
}

Span Smoothed(const Span& v, int p0, int p9) {
  // The line extended by four copies of its end values on either side.
  int ext[18];
  for (int i = 0; i < 18; ++i) {
    const int at = i - 4;  // position in p0, v1..v8, p9
    ext[i] = at <= 0 ? p0 : at >= 9 ? p9 : v[at];
  }
  static const int kTaps[9] = {1, 1, 2, 2, 4, 2, 2, 1, 1};
  Span out = v;
  for (int k = 1; k <= 8; ++k) {
    int sum = 0;
    for (int t = 0; t < 9; ++t) sum += kTaps[t] * ext[k + t];
    out[k] = (sum + 8) / 16;
  }
  return out;
}

Span DefaultFiltered(const Span& v, int qp) {
  Span out = v;
  const int step = v[4] - v[5];
  const int half = step / 2;
  if (half == 0) return out;
  const int a0 = 2 * v[3] - 5 * v[4] + 5 * v[5] - 2 * v[6];
  if (!((a0 > 0) != (half > 0) && a0 != 0)) return out;
  if (std::abs(a0) >= 8 * qp) return out;
  const int a1 = 2 * v[1] - 5 * v[2] + 5 * v[3] - 2 * v[4];
  const int a2 = 2 * v[5] - 5 * v[6] + 5 * v[7] - 2 * v[8];
  const int d = std::abs(a0) - std::min(std::abs(a1), std::abs(a2));
  if (d <= 6) return out;
  const int c = std::min((5 * d + 32) / 64, std::abs(half));
  const int toward = step > 0 ? -1 : 1;
  out[4] = v[4] + toward * c;
  out[5] = v[5] - toward * c;
  return out;
}

struct Plane {
  uint8_t* data;
  int width, height;
  uint8_t& at(int x, int y) { return data[static_cast<size_t>(y) * width + x]; }
};

// Edges between columns (vertical edges) when across_columns, else between rows.
Span Gather(Plane& p, bool across_columns, int edge, int line) {
  Span v;
  for (int i = 0; i < 10; ++i)
    v[i] = across_columns ? p.at(edge - 5 + i, line) : p.at(line, edge - 5 + i);
  return v;
}

void Scatter(Plane& p, bool across_columns, int edge, int line, const Span& v) {
  for (int i = 1; i <= 8; ++i) {
    uint8_t& px = across_columns ? p.at(edge - 5 + i, line) : p.at(line, edge - 5 + i);
    px = static_cast<uint8_t>(v[i]);
  }
}

void FilterPlane(Plane p, int qp, bool horizontal_edges) {
  // Vertical edges: groups of 4 rows; smoothing from 16 flat pairs of 28, checked on the first row.
  for (int row = 0; row < p.height; row += 4) {
    for (int edge = 8; edge < p.width; edge += 8) {
      Span lines[4];
      int flat = 0;
      for (int i = 0; i < 4; ++i) {
        lines[i] = Gather(p, true, edge, row + i);
        flat += CountFlat(lines[i]);
      }
      for (int i = 0; i < 4; ++i) {
        const Span& v = lines[i];
        Span out = v;
        if (flat >= 16) {
          if (std::abs(lines[0][1] - lines[0][8]) < 2 * qp) {
            out = Smoothed(v, std::abs(v[0] - v[1]) < qp ? v[0] : v[1],
                           std::abs(v[9] - v[8]) < qp ? v[9] : v[8]);
          }
        } else {
          out = DefaultFiltered(v, qp);
        }
        Scatter(p, true, edge, row + i, out);
      }
    }
  }
  if (!horizontal_edges) return;
  // Horizontal edges: groups of 8 columns; smoothing from more than 32 flat pairs of 56, checked
  // on every column.
  for (int edge = 8; edge < p.height; edge += 8) {
    for (int col = 0; col < p.width; col += 8) {
      Span lines[8];
      int flat = 0;
      bool small_span = true;
      for (int i = 0; i < 8; ++i) {
        lines[i] = Gather(p, false, edge, col + i);
        flat += CountFlat(lines[i]);
        small_span = small_span && std::abs(lines[i][1] - lines[i][8]) <= 2 * qp;
      }
      for (int i = 0; i < 8; ++i) {
        const Span& v = lines[i];
        Span out = v;
        if (flat > 32) {
          if (small_span) {
            out = Smoothed(v, std::abs(v[0] - v[1]) <= qp ? v[0] : v[1],
                           std::abs(v[9] - v[8]) <= qp ? v[9] : v[8]);
          }
        } else {
          out = DefaultFiltered(v, qp);
        }
        Scatter(p, false, edge, col + i, out);
      }
    }
  }
}

}  // namespace

Picture PostFiltered(const Picture& decoded, int q) {
  Picture out = decoded;
  FilterPlane(Plane{out.y.data(), out.width, out.height}, q, true);
  const bool chroma_rows = out.height >= 32;
  FilterPlane(Plane{out.cb.data(), out.width / 2, out.height / 2}, q, chroma_rows);
  FilterPlane(Plane{out.cr.data(), out.width / 2, out.height / 2}, q, chroma_rows);
  return out;
}

std::vector<uint8_t> SwapWordOrder(const std::vector<uint8_t>& frame) {
  std::vector<uint8_t> out(frame.size());
  for (size_t i = 0; i + 3 < frame.size(); i += 4)
    for (int b = 0; b < 4; ++b) out[i + b] = frame[i + 3 - b];
  return out;
}

}  // namespace vdec3enc

#include "vdec3/output.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace vdec3 {
namespace {

// Row y of a plane of `rows` rows at `pitch` whose block starts at base; a negative pitch stores
// the rows bottom-up.
inline uint8_t* RowOf(uint8_t* base, int rows, ptrdiff_t pitch, int y) {
  return base + (pitch < 0 ? -pitch * (rows - 1) : 0) + y * pitch;
}

struct PlanarTarget {
  uint8_t* luma;
  uint8_t* cb;
  uint8_t* cr;
  ptrdiff_t pitch, chroma_pitch;
};

PlanarTarget PlanarPlanes(uint8_t* output, ptrdiff_t pitch, int h16) {
  const ptrdiff_t chroma_pitch = pitch / 2;
  PlanarTarget t{};
  t.luma = output;
  t.cb = output + (pitch < 0 ? -pitch : pitch) * h16;
  t.cr = t.cb + (chroma_pitch < 0 ? -chroma_pitch : chroma_pitch) * (h16 / 2);
  t.pitch = pitch;
  t.chroma_pitch = chroma_pitch;
  return t;
}

// Full-range BT.601 in 16-bit fixed point, per chroma value.
struct RgbTables {
  std::array<int, 256> r_cr, b_cb, g_cb, g_cr;
};
constexpr RgbTables MakeRgbTables() {
  RgbTables t{};
  for (int v = 0; v < 256; ++v) {
    const int c = v - 128;
    t.r_cr[v] = (91881 * c + 32768) >> 16;
    t.b_cb[v] = (116130 * c + 32768) >> 16;
    t.g_cb[v] = -22554 * c;
    t.g_cr[v] = -46802 * c;
  }
  return t;
}
constexpr RgbTables kRgb = MakeRgbTables();

inline uint8_t Clip(int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }

template <Vdec3Format F>
inline void PutRgb(uint8_t* dst, int y, int cb, int cr) {
  const int r = Clip(y + kRgb.r_cr[cr]);
  const int g = Clip(y + ((kRgb.g_cb[cb] + kRgb.g_cr[cr] + 32768) >> 16));
  const int b = Clip(y + kRgb.b_cb[cb]);
  if constexpr (F == kVdec3FormatRgb32) {
    dst[0] = static_cast<uint8_t>(b);
    dst[1] = static_cast<uint8_t>(g);
    dst[2] = static_cast<uint8_t>(r);
    dst[3] = 0;
  } else if constexpr (F == kVdec3FormatRgb24) {
    dst[0] = static_cast<uint8_t>(b);
    dst[1] = static_cast<uint8_t>(g);
    dst[2] = static_cast<uint8_t>(r);
  } else if constexpr (F == kVdec3FormatRgb565) {
    const unsigned w = ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
    dst[0] = static_cast<uint8_t>(w);
    dst[1] = static_cast<uint8_t>(w >> 8);
  } else {
    const unsigned w = ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
    dst[0] = static_cast<uint8_t>(w);
    dst[1] = static_cast<uint8_t>(w >> 8);
  }
}

template <Vdec3Format F, int Bytes>
void WriteRgb(const Vdec3Instance& d, const PictureBuffers& pic, uint8_t* output) {
  const int w = d.layout.w16, h = d.layout.h16;
  const ptrdiff_t p = d.layout.pitch;
  for (int y = 0; y < h; ++y) {
    uint8_t* dst = RowOf(output, h, d.output_pitch, y);
    const uint8_t* ly = pic.luma + y * p;
    const uint8_t* cb = pic.cb + (y / 2) * p;
    const uint8_t* cr = pic.cr + (y / 2) * p;
    for (int x = 0; x < w; ++x) PutRgb<F>(dst + Bytes * x, ly[x], cb[x / 2], cr[x / 2]);
  }
}

template <int Bytes>
void FillRows(uint8_t* output, int rows, ptrdiff_t pitch, int width, const uint8_t (&pixel)[Bytes]) {
  for (int y = 0; y < rows; ++y) {
    uint8_t* dst = RowOf(output, rows, pitch, y);
    for (int x = 0; x < width; ++x) std::memcpy(dst + Bytes * x, pixel, Bytes);
  }
}

void FillPlanar(uint8_t* output, ptrdiff_t pitch, int w16, int h16, uint8_t level) {
  const PlanarTarget t = PlanarPlanes(output, pitch, h16);
  for (int y = 0; y < h16; ++y) std::memset(RowOf(t.luma, h16, t.pitch, y), level, w16);
  for (int y = 0; y < h16 / 2; ++y) {
    std::memset(RowOf(t.cb, h16 / 2, t.chroma_pitch, y), 128, w16 / 2);
    std::memset(RowOf(t.cr, h16 / 2, t.chroma_pitch, y), 128, w16 / 2);
  }
}

}  // namespace

void WritePicture(const Vdec3Instance& d, const PictureBuffers& pic, uint8_t* output,
                  Yuy2RowFn yuy2_row) {
  const int w = d.layout.w16, h = d.layout.h16;
  const ptrdiff_t p = d.layout.pitch;
  switch (d.format) {
    case kVdec3FormatPlanar: {
      const PlanarTarget t = PlanarPlanes(output, d.output_pitch, h);
      for (int y = 0; y < h; ++y) std::memcpy(RowOf(t.luma, h, t.pitch, y), pic.luma + y * p, w);
      for (int y = 0; y < h / 2; ++y) {
        std::memcpy(RowOf(t.cb, h / 2, t.chroma_pitch, y), pic.cb + y * p, w / 2);
        std::memcpy(RowOf(t.cr, h / 2, t.chroma_pitch, y), pic.cr + y * p, w / 2);
      }
      break;
    }
    case kVdec3FormatYuy2:
      for (int y = 0; y < h; ++y)
        yuy2_row(pic.luma + y * p, pic.cb + (y / 2) * p, pic.cr + (y / 2) * p,
                 RowOf(output, h, d.output_pitch, y), w);
      break;
    case kVdec3FormatRgb32: WriteRgb<kVdec3FormatRgb32, 4>(d, pic, output); break;
    case kVdec3FormatRgb24: WriteRgb<kVdec3FormatRgb24, 3>(d, pic, output); break;
    case kVdec3FormatRgb565: WriteRgb<kVdec3FormatRgb565, 2>(d, pic, output); break;
    case kVdec3FormatRgb555: WriteRgb<kVdec3FormatRgb555, 2>(d, pic, output); break;
    default: break;  // no converter: nothing is written
  }
}

void WriteInternalLayout(const Vdec3Instance& d, const PictureBuffers& pic, uint8_t* output) {
  const size_t p = static_cast<size_t>(d.layout.pitch);
  for (int y = 0; y < d.layout.h16; ++y, output += p) std::memcpy(output, pic.luma - 16 + y * p, p);
  for (int y = 0; y < d.layout.h16 / 2; ++y, output += p) std::memcpy(output, pic.cb - 8 + y * p, p);
}

void WriteFlatPicture(const Vdec3Instance& d, uint8_t level, uint8_t* output) {
  const int w = d.layout.w16, h = d.layout.h16;
  const ptrdiff_t pitch = d.output_pitch;
  const uint8_t g = level >> 3;
  switch (d.format) {
    case kVdec3FormatPlanar: FillPlanar(output, pitch, w, h, level); break;
    case kVdec3FormatYuy2: {
      const uint8_t px[2] = {level, 128};
      FillRows<2>(output, h, pitch, w, px);
      break;
    }
    case kVdec3FormatRgb32: {
      const uint8_t px[4] = {level, level, level, 0};
      FillRows<4>(output, h, pitch, w, px);
      break;
    }
    case kVdec3FormatRgb24: {
      const uint8_t px[3] = {level, level, level};
      FillRows<3>(output, h, pitch, w, px);
      break;
    }
    case kVdec3FormatRgb565: {
      const unsigned word = (g << 11) | (g << 6) | g;
      const uint8_t px[2] = {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8)};
      FillRows<2>(output, h, pitch, w, px);
      break;
    }
    case kVdec3FormatRgb555: {
      const unsigned word = (g << 10) | (g << 5) | g;
      const uint8_t px[2] = {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8)};
      FillRows<2>(output, h, pitch, w, px);
      break;
    }
    default: break;
  }
}

void WriteFlatInternal(const Vdec3Instance& d, uint8_t level, uint8_t* output) {
  FillPlanar(output, d.layout.pitch, d.layout.w16, d.layout.h16, level);
}

}  // namespace vdec3

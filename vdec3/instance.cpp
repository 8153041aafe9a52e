#include "vdec3/instance.h"

#include <cstring>
#include <new>

namespace vdec3 {
namespace {

constexpr size_t kAlign = 64;
constexpr size_t kBitstreamPadding = 64;  // zeros after a frame: reads past its end see 0 bits

constexpr size_t AlignUp(size_t n) { return (n + kAlign - 1) & ~(kAlign - 1); }

// Offsets of the buffers after the instance record.
struct Offsets {
  size_t luma[2], chroma[2], info, stores, coefficients, bitstream, end;
};

Offsets ComputeOffsets(const Layout& l) {
  Offsets o{};
  size_t at = l.instance_offset + AlignUp(sizeof(Vdec3Instance));
  for (int i = 0; i < 2; ++i) { o.luma[i] = at; at = AlignUp(at + l.luma_bytes); }
  for (int i = 0; i < 2; ++i) { o.chroma[i] = at; at = AlignUp(at + l.chroma_bytes); }
  o.info = at;
  at = AlignUp(at + l.info_entries * sizeof(uint16_t));
  o.stores = at;
  at = AlignUp(at + 2 * l.stores_per_row * sizeof(PredictionStore));
  o.coefficients = at;
  at = AlignUp(at + 6 * 64 * sizeof(int16_t));
  o.bitstream = at;
  at = AlignUp(at + kVdec3MaxFrameBytes + kBitstreamPadding);
  o.end = at;
  return o;
}

int LumaDcScaler(int q) {
  if (q <= 4) return 8;
  if (q <= 8) return 2 * q;
  if (q <= 24) return q + 8;
  return 2 * q - 16;
}

int ChromaDcScaler(int q) {
  if (q <= 4) return 8;
  if (q <= 24) return (q + 13) / 2;
  return q - 6;
}

void ResetStore(PredictionStore* s, int scaler) {
  *s = PredictionStore{};
  s->dc = 1024;
  s->quantised_dc = static_cast<int16_t>((1024 + scaler / 2) / scaler);
}

}  // namespace

bool ComputeLayout(int width, int height, Layout* layout) {
  if (width < 1 || height < 1 || width > kVdec3MaxDimension || height > kVdec3MaxDimension)
    return false;
  Layout& l = *layout;
  l.w16 = (width + 15) & ~15;
  l.h16 = (height + 15) & ~15;
  l.pitch = l.w16 + 32;
  l.luma_bytes = static_cast<size_t>(l.pitch) * (l.h16 + 32);
  l.chroma_bytes = static_cast<size_t>(l.pitch) * (l.h16 / 2 + 16);
  const size_t stride = static_cast<size_t>(l.w16 / 16) + 2;
  // A guard entry, the sentinel row, then the macroblock rows.
  l.info_entries = 1 + stride * (static_cast<size_t>(l.h16 / 16) + 1);
  l.stores_per_row = 6 * (static_cast<size_t>(l.w16 / 16) + 1);
  l.instance_offset = kAlign;  // the operation pointers sit just before it
  l.total = ComputeOffsets(l).end;
  return true;
}

Vdec3Instance* BuildInstance(void* aligned, const Layout& layout, int width, int height,
                             const Vdec3Ops& ops, Vdec3Implementation implementation) {
  static_assert(sizeof(Vdec3Ops) <= kAlign);
  auto* base = static_cast<uint8_t*>(aligned);
  std::memset(base, 0, layout.total);
  new (base + layout.instance_offset - sizeof(Vdec3Ops)) Vdec3Ops(ops);
  auto* d = new (base + layout.instance_offset) Vdec3Instance{};
  const Offsets o = ComputeOffsets(layout);

  d->implementation = implementation;
  d->width = width;
  d->height = height;
  d->layout = layout;
  d->mb_columns = layout.w16 / 16;
  d->mb_rows = layout.h16 / 16;
  const size_t pitch = static_cast<size_t>(layout.pitch);
  const size_t chroma_half = static_cast<size_t>(layout.w16 / 2 + 16);
  for (int i = 0; i < 2; ++i) {
    PictureBuffers& p = d->pictures[i];
    p.luma_block = base + o.luma[i];
    p.chroma_block = base + o.chroma[i];
    p.luma = p.luma_block + 16 * pitch + 16;
    p.cb = p.chroma_block + 8 * pitch + 8;
    p.cr = p.cb + chroma_half;
    // Until a first frame arrives, a predicted frame sees a mid-grey reference.
    std::memset(p.luma_block, 0x80, layout.luma_bytes);
    std::memset(p.chroma_block, 0x80, layout.chroma_bytes);
  }
  d->current = 0;

  auto* info = reinterpret_cast<uint16_t*>(base + o.info);
  d->info_stride = d->mb_columns + 2;
  const size_t sentinel_entries = 1 + static_cast<size_t>(d->info_stride);
  for (size_t i = 0; i < layout.info_entries; ++i) {
    const uint16_t half = (i & 1) ? static_cast<uint16_t>(kSentinelPattern >> 16)
                                  : static_cast<uint16_t>(kSentinelPattern & 0xFFFF);
    info[i] = i < sentinel_entries ? half : kInfoSkipped;
  }
  d->info = info + sentinel_entries;
  d->info[-1] = kInfoSkipped;

  auto* stores = reinterpret_cast<PredictionStore*>(base + o.stores);
  d->store_rows[0] = stores + 6;  // index -1 stays addressable
  d->store_rows[1] = stores + layout.stores_per_row + 6;
  d->coefficients = reinterpret_cast<int16_t*>(base + o.coefficients);
  d->bitstream = base + o.bitstream;

  SetQuantiser(d, 1);
  d->format = kVdec3FormatNone;
  d->bytes_per_pixel = 1;
  d->output_pitch = layout.w16;
  return d;
}

void SetQuantiser(Vdec3Instance* d, int q) {
  d->q = q;
  d->two_q = 2 * q;
  d->odd_q = (q & 1) ? q : q - 1;
  d->luma_dc_scaler = LumaDcScaler(q);
  d->chroma_dc_scaler = ChromaDcScaler(q);
  ResetStore(&d->default_luma, d->luma_dc_scaler);
  ResetStore(&d->default_chroma, d->chroma_dc_scaler);
}

}  // namespace vdec3

// Codec type 2 through the third decoder's entry table.
//
// The decoder writes planar 4:2:0 of the size rounded up to multiples of 16, luma then Cb then Cr.
// The adapter lets it write into a picture of that size and copies the port's width x height out
// of it into the picture buffer in the engine's order (Y, V = Cr, U = Cb), so that heights such
// as 120 or 200 land at the engine's plane offsets and nothing is written past the picture.
//
// Key frames carry the recording's four date-time bytes in front of the codec data: the frame
// of a key packet starts at offset 4, that of any other packet at 0. (The date cannot tell: its
// bytes may well read as a frame word.) A payload without a usable frame word there (bit 0
// clear, bit 24 set, a length below 8 or beyond the payload) is skipped: the previous picture
// stays and playback goes on.
#include "engine/vdec3_decoder_adapter.h"

#include <cstring>
#include <vector>

#include "vdec3/vdec3.h"

namespace kestrel::engine {
namespace {

// The length a frame word at `data` announces, 0 when it is no frame word or does not fit in
// `available` bytes.
uint32_t FrameLength(const uint8_t* data, size_t available) {
  if (available < 8) return 0;
  const bool little = data[0] & 1;
  const uint32_t word = little ? (uint32_t{data[0]} | uint32_t{data[1]} << 8 | uint32_t{data[2]} << 16 |
                                  uint32_t{data[3]} << 24)
                               : (uint32_t{data[0]} << 24 | uint32_t{data[1]} << 16 |
                                  uint32_t{data[2]} << 8 | uint32_t{data[3]});
  const uint32_t length = word & 0x3FFFC;
  if (!(word & 1) || (word & (1u << 24)) || length < 8 || length > available) return 0;
  return length;
}

class Vdec3Decoder final : public VideoDecoder {
public:
  Vdec3Decoder(Vdec3Instance* instance, uint32_t width, uint32_t height)
      : table_(vdec3_entry_table()), instance_(instance), width_(width), height_(height),
        w16_((width + 15) / 16 * 16), h16_((height + 15) / 16 * 16),
        picture_(static_cast<size_t>(w16_) * h16_ * 3 / 2) {}
  ~Vdec3Decoder() override { table_.destroy(instance_); }

  uint32_t Decode(const DecodeRequest& r) override {
    const size_t skip = r.keyFrame ? 4 : 0;
    const uint32_t picture_bytes = width_ * height_ * 3 / 2;
    if (r.payload.size() <= skip) return picture_bytes;  // damaged: keep the previous picture
    const uint8_t* frame = r.payload.data() + skip;
    if (FrameLength(frame, r.payload.size() - skip) == 0) return picture_bytes;
    const uint32_t used = table_.decode(instance_, frame, picture_.data(), r.fast ? kVdec3NoPostFilter : 0);
    if (used == 0) return picture_bytes;
    if (r.picture.size() >= picture_bytes) CopyOut(r.picture.data());
    return used;
  }

private:
  void CopyOut(uint8_t* out) const {
    const uint8_t* y = picture_.data();
    const uint8_t* cb = y + static_cast<size_t>(w16_) * h16_;
    const uint8_t* cr = cb + static_cast<size_t>(w16_ / 2) * (h16_ / 2);
    uint8_t* out_v = out + static_cast<size_t>(width_) * height_;
    uint8_t* out_u = out_v + static_cast<size_t>(width_ / 2) * (height_ / 2);
    for (uint32_t row = 0; row < height_; ++row) std::memcpy(out + row * width_, y + row * w16_, width_);
    for (uint32_t row = 0; row < height_ / 2; ++row) {
      std::memcpy(out_v + row * (width_ / 2), cr + row * (w16_ / 2), width_ / 2);
      std::memcpy(out_u + row * (width_ / 2), cb + row * (w16_ / 2), width_ / 2);
    }
  }

  const Vdec3EntryTable& table_;
  Vdec3Instance* instance_;
  uint32_t width_, height_, w16_, h16_;
  std::vector<uint8_t> picture_;
};

}  // namespace

std::unique_ptr<VideoDecoder> CreateVdec3VideoDecoder(const VideoDecoderConfig& config) {
  const Vdec3EntryTable& table = vdec3_entry_table();
  if (config.width == 0 || config.height == 0 || config.width > kVdec3MaxDimension ||
      config.height > kVdec3MaxDimension)
    return nullptr;
  Vdec3Instance* instance = table.create(static_cast<int>(config.width), static_cast<int>(config.height), nullptr);
  if (instance == nullptr) return nullptr;
  // Planar output at the coded width into the adapter's own picture (the engine's 0x601).
  table.set_output(instance, static_cast<int32_t>((config.width + 15) / 16 * 16), config.outputFormat);
  return std::make_unique<Vdec3Decoder>(instance, config.width, config.height);
}

}  // namespace kestrel::engine

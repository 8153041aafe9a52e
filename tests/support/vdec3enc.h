// A test encoder for the recorders' own codec, written from the bitstream description alone: it
// shares no table or code with the decoder, so a misreading on either side shows as a mismatch
// between the decoder's pictures and the encoder's own reconstruction.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vdec3enc {

// A 4:2:0 picture: luma width x height, Cb and Cr (width / 2) x (height / 2); width, height even.
struct Picture {
  int width = 0, height = 0;
  std::vector<uint8_t> y, cb, cr;

  static Picture Filled(int width, int height, uint8_t luma, uint8_t chroma);
  uint8_t& Y(int x, int row) { return y[static_cast<size_t>(row) * width + x]; }
  uint8_t Y(int x, int row) const { return y[static_cast<size_t>(row) * width + x]; }
  uint8_t& Chroma(int plane, int x, int row) {
    return (plane ? cr : cb)[static_cast<size_t>(row) * (width / 2) + x];
  }
  uint8_t Chroma(int plane, int x, int row) const {
    return (plane ? cr : cb)[static_cast<size_t>(row) * (width / 2) + x];
  }
  bool operator==(const Picture&) const = default;
};

// Frame `index` of a raw yuv420p file; an empty picture when the file is short.
Picture LoadYuv420(const std::string& path, int width, int height, int index);
// The top-left width x height part of a picture (both even).
Picture Crop(const Picture& p, int width, int height);
// A picture enlarged to multiples of 16 by repeating its last column and row.
Picture PadTo16(const Picture& p);
// The picture moved by (dx, dy) pixels, edges repeated (for long motion vectors).
Picture Shifted(const Picture& p, int dx, int dy);
// The decoder's post-filter (the MPEG-4 informative deblocking filter, QP = q) applied to a
// decoded picture, computed independently.
Picture PostFiltered(const Picture& decoded, int q);

enum class MacroblockMode { kAuto, kSkip, kIntra, kInter };

struct MacroblockPlan {
  MacroblockMode mode = MacroblockMode::kAuto;
  // kInter: use this vector (half-pels, -31..31) instead of searching.
  bool fixed_vector = false;
  int h = 0, v = 0;
  // kInter: send this vector difference as it stands (the decoder's range rule then applies).
  bool raw_difference = false;
  int dh = 0, dv = 0;
};

enum class AcPrediction { kAuto, kNever, kAlways };

struct FrameOptions {
  int q = 8;                  // 1..31
  bool inter = false;         // a predicted frame
  bool little_endian = false; // store the 32-bit words little-endian
  AcPrediction ac_prediction = AcPrediction::kAuto;
  int search_range = 7;       // whole pixels of motion search around (0, 0)
  std::function<MacroblockPlan(int mx, int my)> plan;  // per-macroblock overrides
};

// What the last frame used, so tests can tell what they covered.
struct EncoderStats {
  int skipped = 0, intra = 0, inter = 0;
  int escapes[3] = {0, 0, 0};  // modes 1, 2, 3
  int table_codes = 0;
  int ac_predicted_from_left = 0, ac_predicted_from_top = 0;
  int largest_vector = 0;       // largest |component| in half-pels
  int half_pel_vectors = 0;     // inter macroblocks with an odd component
};

class Encoder {
 public:
  Encoder(int width, int height);

  // One frame: the source (width x height) is padded to the coded size first.
  std::vector<uint8_t> Encode(const Picture& source, const FrameOptions& options);
  // The encoder's own reconstruction of the last frame, coded size, before any post-filter; the
  // reference of the next predicted frame.
  const Picture& reconstruction() const { return reconstruction_; }
  const EncoderStats& stats() const { return stats_; }

  // A flat frame (quantiser 0) of luma `level`.
  static std::vector<uint8_t> FlatFrame(uint8_t level, bool little_endian = false);

 private:
  struct Impl;
  int width_, height_, coded_width_, coded_height_;
  Picture reconstruction_;
  EncoderStats stats_;
};

// Reverses the bytes of every 32-bit word (big- <-> little-endian storage).
std::vector<uint8_t> SwapWordOrder(const std::vector<uint8_t>& frame);

}  // namespace vdec3enc
